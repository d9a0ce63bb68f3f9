// Placeholder until this module is written.
#include "morvane.h"

calc_base_line* calc_lines[4] = {};
int calc_line = 3;
void calculator() {}
void draw_calc_status() {}
void draw_calc_lines(calc_base_line*, calc_base_line*, calc_base_line*, calc_base_line*, int) {}
void calc_key(calc_base_line*, calc_base_line*, calc_base_line*, calc_base_line*, int, int) {}
void calc_move_line(int, int*) {}
void draw_calc_screen() {}
