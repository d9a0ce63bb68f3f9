// Placeholder until this module is written.
#include "morvane.h"

uint64_t jump_distance = 0;
int jump_key = 0;
uint64_t goto_target(const char*, uint64_t) { return 0; }
void goto_offset(uint64_t) {}
void jump_relative(int) {}
