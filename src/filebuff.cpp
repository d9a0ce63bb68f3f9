// Placeholder until this module is written.
#include "morvane.h"

mod_entry** mod_table = nullptr;
size_t mod_table_entries = 0;
int get_byte_miss(uint64_t) { return 0; }
void get_bytes(uint64_t o, unsigned char* out, size_t n) { for (size_t i = 0; i < n; ++i) out[i] = (unsigned char)get_byte(o + i); }
uint64_t load_page() { return 0; }
void set_file_window(FILE* s, uint64_t f, uint64_t e) { Globals.fp = s; Globals.buf_front = f; Globals.buf_end = e; }
void init_mod_table() {}
void clear_mod_table() {}
void mod_table_set(uint64_t, int) {}
void mod_table_remove(uint64_t) {}
int mod_table_get(uint64_t, unsigned char*) { return -1; }
void write_mod_table(FILE*) {}
