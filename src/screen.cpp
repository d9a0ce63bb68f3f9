// Placeholder until this module is written.
#include "morvane.h"

const std::array<unsigned char, 256> ebcdic_display{};
const std::array<unsigned char, 128> ascii_to_ebcdic{};
int hex_col_of_byte(unsigned) { return 10; }
int byte_of_hex_col(unsigned) { return 0; }
int respaced_col(unsigned) { return 0; }
int is_hex_digit(int) { return 0; }
int hex_value(int) { return 0; }
char hex_digit_char(unsigned) { return 0; }
int is_printable(int) { return 0; }
void put_text_cell(WINDOW*, int) {}
void draw_rows(uint64_t) {}
void redraw_all() {}
void draw_text_page(uint64_t&) {}
void draw_text_view(uint64_t, int&, int&) {}
int cursor_screen_col() { return cursor_x; }
void place_cursor() {}
uint64_t first_shown() { return 0; }
std::string status_text(int) { return {}; }
char status_marker() { return ' '; }
std::string command_bar_text(int, int) { return {}; }
void draw_status() {}
void draw_command_bar() {}
