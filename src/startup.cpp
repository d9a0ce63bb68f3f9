// Placeholder until this module is written.
#include "morvane.h"
void start_editor(int, char**) {}
void print_usage(const char*) {}
void apply_env_letters(const char*) {}
void read_env_variable(char**) {}
void open_file(FILE**) {}
