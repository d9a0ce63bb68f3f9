// Placeholder until this module is written.
#include "morvane.h"

std::vector<std::string> help_text;
void prepare_help_text() { Globals.help_lines = 21; }
void help_menu() {}
void draw_help_frame(WINDOW*, int, int) {}
void draw_help_lines(WINDOW*, int, int) {}
