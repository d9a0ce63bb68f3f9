// Placeholder until this module is written.
#include "morvane.h"

void edit_byte(int) {}
void filebuff_modify(int) {}
void insert_byte(int, int) {}
void delete_byte(int) {}
