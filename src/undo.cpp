// undo.cpp: the undo stack. Every change of edit.cpp pushes one record;
// the undo key reverts the newest, after first bringing it into view when
// it lies off the screen. Reverted records wait on the redo stack until a
// new change empties it; redo applies them again by the same rules.
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <deque>
#include <new>
#include <unordered_map>
#include <vector>

#include "morvane.h"

UndoList UndoStack;

namespace {

// Owns every record, oldest first. Records come and go only at the top, so
// the deque is a stack whose push and pop never move the records below,
// which the list's links point to.
std::deque<undo_record> undo_records;

// Checked only by asserts, so a release build never calls it.
[[maybe_unused]] bool stack_consistent() {
    const UndoList& s = UndoStack;
    if (s.size == 0) return !s.base && !s.top;
    if (s.size == 1) return s.base && s.base == s.top && !s.top->next;
    return s.base && s.top && s.base != s.top && !s.top->next;
}

// What undo has reverted, newest last: each applied again by redo as a new
// change (which pushes its own undo record).
struct undone_change {
    int32_t kind;
    uint64_t offset;
    unsigned char new_byte; // what the change stored (an insertion: the byte inserted)
};
std::vector<undone_change> redo_records;
bool redoing = false; // the change being made is a redo: the redo stack stays

// The newest record of every offset that has one; each record links to the
// older ones of its offset (prev_same). Records are pushed and popped only at
// the top, so the entry of the top's offset is always the top itself.
std::unordered_map<uint64_t, undo_record*> newest_at;

// The newest record below the top `r` that changed offset o, of any kind.
// Offsets are compared as recorded, unshifted by later insertions or
// deletions.
undo_record* earlier_change_at(uint64_t o, undo_record* r) {
    assert(r == UndoStack.top && r->offset == o && "undo list: only the top is reverted");
    (void)o;
    return r->prev_same;
}

// Offsets of the main window's rows: [first, end).
void shown_range(uint64_t& first, uint64_t& end) {
    first = first_shown();
    uint64_t rows = static_cast<uint64_t>(main_rows());
    end = first > UINT64_MAX - rows * 16 ? UINT64_MAX : first + rows * 16;
}

// Whether the byte at o may lose its table entry: only when the next page
// read and the next save both give it the value `v`. A save under a new name
// leaves Globals.fp on the old file, so the file could not tell; and after
// an undone save the file no longer holds the byte the record started from.
bool file_holds(uint64_t o, unsigned char v) {
    if (Globals.buffered) return true; // the buffer is all there is
    if (fp_reads_other_file || !Globals.fp || o > static_cast<uint64_t>(INT64_MAX)) return false;
    unsigned char on_disk;
    ssize_t got;
    do
        got = pread(fileno(Globals.fp), &on_disk, 1, static_cast<off_t>(o));
    while (got < 0 && errno == EINTR);
    return got == 1 && on_disk == v;
}

void revert_overwrite(undo_record* r) {
    uint64_t o = r->offset;
    get_byte(o); // the window must hold the byte before it is stored
    filebuff_modify(r->old_byte);
    if (r->saved) {
        // The file holds the change: the reverted byte is a change of its
        // own, to be shown and saved.
        Globals.file_state = FILE_CHANGED;
        return;
    }
    // The entry now holds the old byte. It may go where what lies under it
    // shows that byte: a range piece (which marks the byte changed itself),
    // or the file when no older change of the byte is still in effect.
    if (range_is_modified(o)) {
        unsigned char under = r->old_byte; // whole-file mode: the buffer holds the byte
        if (!Globals.buffered) range_overlay(o, &under, 1);
        if (under == r->old_byte) mod_table_remove(o);
    } else if (undo_record* e = earlier_change_at(o, r)) {
        // Whole-file mode's entries only mark; paged mode's hold the byte
        // shown, which a range written and saved since e may have changed.
        if (Globals.buffered) mod_table_set(o, e->new_byte);
    } else if (file_holds(o, r->old_byte)) {
        mod_table_remove(o);
    }
}

// The rows, the reverted byte among them, and the status line.
void redraw_cursor_byte() {
    redraw_later(REDRAW_ROWS | REDRAW_STATUS);
}

void pop_top() {
    undo_record* r = UndoStack.top;
    if (UndoStack.size == 1) {
        UndoStack.base = UndoStack.top = nullptr;
    } else {
        undo_record* below = r->prev;
        assert(below && below->next == r && "undo list: top is not linked to the record below");
        below->next = nullptr;
        UndoStack.top = below;
    }
    auto at = newest_at.find(r->offset);
    assert(at != newest_at.end() && at->second == r &&
           "undo index: top is not its offset's newest");
    if (r->prev_same)
        at->second = r->prev_same;
    else
        newest_at.erase(at);
    assert(&undo_records.back() == r && "undo list: top is not the newest record owned");
    undo_records.pop_back();
    --UndoStack.size;
    assert(stack_consistent() && "undo list: count, base and top disagree");
}

// Undo and redo act where the change is. One off the screen is first only
// shown (false: the key did that much); one on it gets the cursor without
// the view moving (true).
bool onto_change(uint64_t o) {
    // A deleted last byte lies one past the end: show the end of the file.
    uint64_t seen = o > Globals.filesize ? Globals.filesize : o;
    uint64_t first, end;
    shown_range(first, end);
    if (seen < first || seen >= end) {
        cursor_onto(seen, 1);
        redraw_later(REDRAW_ALL);
        return false;
    }
    // The row changes by the rows between the two (both lie on the screen,
    // so the difference is small).
    uint64_t o_row = o & ~uint64_t{15}, cur_row = cursor_loc & ~uint64_t{15};
    int64_t rows = o_row >= cur_row ? static_cast<int64_t>((o_row - cur_row) / 16)
                                    : -static_cast<int64_t>((cur_row - o_row) / 16);
    int64_t y = cursor_y + rows;
    int64_t bottom = main_rows();
    cursor_y = static_cast<int32_t>(y < 1 ? 1 : (y > bottom ? bottom : y));
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
    cursor_loc = o;
    return true;
}

// Without memory for it the reverted change cannot be redone, and neither
// can any older one: redo applies them newest first only.
void keep_for_redo(const undo_record& r) {
    try {
        redo_records.push_back({r.kind, r.offset, r.new_byte});
    } catch (const std::bad_alloc&) {
        redo_records.clear();
        range_forget_undone();
    }
}

} // namespace

void pushUndo(int kind, uint64_t offset, int old_byte, int new_byte) {
    if (!redoing) { // a new change: what was undone is gone
        redo_records.clear();
        range_forget_undone();
    }
    undo_record* r;
    try {
        r = &undo_records.emplace_back(undo_record{
            kind, offset, static_cast<unsigned char>(old_byte),
            static_cast<unsigned char>(new_byte), false, nullptr, UndoStack.top, nullptr});
    } catch (const std::bad_alloc&) {
        return; // the change stands; it just cannot be undone
    }
    assert(stack_consistent() && "undo list: count, base and top disagree");
    try {
        auto [at, fresh] = newest_at.try_emplace(offset, r);
        if (!fresh) {
            r->prev_same = at->second;
            at->second = r;
        }
    } catch (const std::bad_alloc&) {
        undo_records.pop_back(); // as when the record itself cannot be had
        return;
    }
    if (UndoStack.size == 0)
        UndoStack.base = r;
    else
        UndoStack.top->next = r;
    UndoStack.top = r;
    ++UndoStack.size;
}

void undoLastChange() {
    if (UndoStack.size == 0) {
        warn_beep();
        return;
    }
    assert(stack_consistent() && "undo list: count, base and top disagree");
    undo_record* r = UndoStack.top;
    if (!onto_change(r->offset)) return;
    switch (r->kind) {
    case UNDO_INSERTION:
        delete_byte(1);
        break;
    case UNDO_DELETION:
        insert_byte(r->old_byte, 1);
        break;
    case UNDO_OVERWRITE:
        revert_overwrite(r);
        break;
    case UNDO_RANGE:
        range_undo(r->saved);
        break;
    default:
        break;
    }
    redraw_cursor_byte();
    keep_for_redo(*r);
    pop_top();
}

void redoLastUndo() {
    if (redo_records.empty()) {
        warn_beep();
        return;
    }
    const undone_change c = redo_records.back();
    if (!onto_change(c.offset)) return;
    redoing = true;
    switch (c.kind) {
    case UNDO_INSERTION:
        insert_byte(c.new_byte, 0);
        break;
    case UNDO_DELETION:
        delete_byte(0);
        break;
    case UNDO_OVERWRITE:
        pushUndo(UNDO_OVERWRITE, c.offset, get_byte(c.offset), c.new_byte);
        filebuff_modify(c.new_byte);
        Globals.file_state = FILE_CHANGED;
        break;
    case UNDO_RANGE:
        range_redo();
        break;
    default:
        break;
    }
    redoing = false;
    redo_records.pop_back();
    redraw_cursor_byte();
}

int32_t redo_count() {
    return static_cast<int32_t>(redo_records.size());
}

void undo_clear() {
    range_forget_all();
    undo_records.clear();
    redo_records.clear();
    UndoStack = UndoList{};
    newest_at.clear();
}

void undo_mark_saved() {
    for (undo_record* r = UndoStack.base; r; r = r->next)
        r->saved = true;
}
