// Placeholder until this module is written.
#include "morvane.h"
void hex_mode_key(int) {}
void text_mode_key(int) {}
void toggle_view() {}
void quit_if_asked(int) {}
