// Placeholder until this module is written.
#include "morvane.h"

std::optional<std::vector<unsigned char>> last_pattern;
int last_pattern_len = 0;
int search_used = 0;
HexInput hex_input;
void search(int) {}
SearchResult find_pattern(const unsigned char*, uint64_t, uint64_t, uint64_t) { return {0, 0}; }
HexInput* read_hex_bytes(WINDOW*, int, int) { return nullptr; }
