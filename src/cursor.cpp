// Placeholder until this module is written.
#include "morvane.h"

void move_cursor(int) {}
void page_down() {}
void page_up() {}
void go_end() {}
void go_home() {}
