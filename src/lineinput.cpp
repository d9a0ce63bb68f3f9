// Placeholder until this module is written.
#include "morvane.h"

std::optional<std::string> read_line(WINDOW*, int, int, int, int, const char*) { return std::nullopt; }
