// Placeholder until this module is written.
#include "morvane.h"

int save_file() { return 0; }
std::string& trim_at_whitespace(std::string& t) { return t; }
