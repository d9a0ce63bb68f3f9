// Placeholder until this module is written.
#include "morvane.h"

UndoList UndoStack;
void pushUndo(int, uint64_t, int, int) {}
void undoLastChange() {}
void undo_clear() {}
void undo_mark_saved() {}
