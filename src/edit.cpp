// edit.cpp: changing the file's bytes at the cursor: overwriting a nibble
// or a whole byte, and (whole-file mode only) inserting and deleting bytes.
// Every change is recorded on the undo stack and marks the file changed.
#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "morvane.h"

namespace {

bool on_bottom_row() {
    return cursor_y >= bottom_row();
}

bool on_high_nibble() {
    return cursor_x == hex_col_of_byte(byte_of_hex_col(cursor_x));
}

// The cursor's byte, read so that the window holds it before it is stored.
int old_byte() {
    return get_byte(cursor_loc);
}

void store_overwrite(int value) {
    pushUndo(UNDO_OVERWRITE, cursor_loc, old_byte(), value);
    filebuff_modify(value);
}

// Onto the first byte of the next row, which scrolls the view by a row when
// the cursor stays on the bottom row.
void advance_to_next_row(bool scroll) {
    ++cursor_loc;
    cursor_x = first_hex_col();
    if (!scroll) ++cursor_y;
}

void advance_in_row() {
    ++cursor_loc;
    cursor_x = hex_col_of_byte(byte_of_hex_col(cursor_x) + 1);
}

void show_change() {
    redraw_later(REDRAW_ROWS | REDRAW_STATUS);
}

// The key replaces the whole byte; false when the key is refused.
bool text_rules(int key) {
    int b;
    if (Globals.ebcdic) {
        // The table covers ASCII only; other keys have no EBCDIC byte.
        if (key < 0 || key > 127) {
            warn_beep();
            return false;
        }
        b = ascii_to_ebcdic[static_cast<size_t>(key)];
    } else {
        b = key & 0xFF;
    }
    store_overwrite(b);
    bool last_of_row = byte_of_hex_col(cursor_x) == 15;
    if (on_bottom_row() && last_of_row) {
        if (cursor_loc < Globals.filesize)
            advance_to_next_row(true);
        else
            warn_beep();
    } else if (cursor_loc == Globals.filesize) {
        warn_beep();
    } else if (last_of_row) {
        advance_to_next_row(false);
    } else {
        advance_in_row();
    }
    return true;
}

void set_nibble(int v, bool high) {
    int old = old_byte();
    int value = high ? ((v << 4) | (old & 0x0F)) : ((old & 0xF0) | v);
    pushUndo(UNDO_OVERWRITE, cursor_loc, old, value);
    filebuff_modify(value);
}

// The key replaces one nibble; false when it is no hex digit.
bool hex_rules(int key) {
    if (!is_hex_digit(key)) return false;
    int v = hex_value(key);
    int last = last_hex_col();
    if (on_bottom_row() && cursor_x == last) {
        set_nibble(v, false);
        if (cursor_loc < Globals.filesize)
            advance_to_next_row(true);
        else
            warn_beep();
    } else if (cursor_loc == Globals.filesize) {
        if (on_high_nibble()) {
            set_nibble(v, true);
            ++cursor_x;
        } else {
            set_nibble(v, false);
            warn_beep();
        }
    } else if (cursor_x == last) {
        set_nibble(v, false);
        advance_to_next_row(false);
    } else if (on_high_nibble()) {
        set_nibble(v, true);
        ++cursor_x;
    } else {
        set_nibble(v, false);
        advance_in_row();
    }
    return true;
}

void after_size_change() {
    clear_mod_table(); // offsets after the cursor have shifted
    Globals.file_state = FILE_CHANGED;
    show_change();
}

} // namespace

void filebuff_modify(int value) {
    // The caller has read the byte through get_byte, so the window holds it;
    // read it once more should that ever not be so (a stale window would
    // make the index below point outside the page).
    if (Globals.buffered) {
        unsigned char* b = buffer_byte(cursor_loc);
        if (!b) return;
        *b = static_cast<unsigned char>(value);
        mod_table_set(cursor_loc, value);
        return;
    }
    bool held = cursor_loc >= Globals.buf_front && cursor_loc <= Globals.buf_end;
    if (!held) {
        get_byte(cursor_loc);
        held = cursor_loc >= Globals.buf_front && cursor_loc <= Globals.buf_end;
    }
    uint64_t index = cursor_loc - Globals.buf_front;
    if (!held || index >= buffer.size()) return;
    buffer[index] = static_cast<unsigned char>(value);
    mod_table_set(cursor_loc, value);
}

void edit_byte(int key) {
    if (!is_printable(key)) return;
    // A cursor past the last byte (briefly possible while undo shows a
    // deleted byte at the end) has no byte to change.
    if (cursor_loc > Globals.filesize) {
        warn_beep();
        return;
    }
    bool accepted = Globals.text_pane ? text_rules(key) : hex_rules(key);
    if (!accepted) return;
    Globals.file_state = FILE_CHANGED;
    show_change();
}

void insert_byte(int value, int no_undo) {
    if (!Globals.buffered) return;
    // One past the last byte is allowed: undoing the deletion of the last
    // byte puts it back there.
    if (cursor_loc > Globals.filesize + 1) return;
    // The byte that was under the cursor (0 when appending) is recorded.
    unsigned char old = buffer_insert(cursor_loc, static_cast<unsigned char>(value));
    if (!no_undo) pushUndo(UNDO_INSERTION, cursor_loc, old, value);
    ++Globals.buf_size;
    after_size_change();
}

void delete_byte(int no_undo) {
    if (!Globals.buffered) return;
    unsigned char* data = buffer.data();
    if (Globals.filesize == 0) {
        // The file never becomes empty: its only byte becomes 0 instead.
        if (data[0] != 0 && !no_undo) pushUndo(UNDO_OVERWRITE, 0, data[0], 0);
        data[0] = 0;
        cursor_loc = 0;
        cursor_x = first_hex_col();
        Globals.buf_front = 0;
        Globals.buf_end = 0;
        warn_beep();
        Globals.file_state = FILE_CHANGED;
        show_change();
        return;
    }
    if (cursor_loc > Globals.filesize) {
        cursor_loc = Globals.filesize;
        cursor_x = hex_col_of_byte(static_cast<unsigned>(cursor_loc % 16));
        warn_beep();
        fatal_error("Died a horrible, horrible death.  Mail maintainer", nullptr);
    }
    const uint64_t at = cursor_loc;
    if (cursor_loc == Globals.filesize) {
        // The last byte: the cursor steps back onto the new last byte.
        int index = byte_of_hex_col(cursor_x);
        if (index != 0) {
            cursor_x = hex_col_of_byte(index - 1);
        } else {
            cursor_x = hex_col_of_byte(15);
            if (cursor_y > 1) --cursor_y;
        }
        --cursor_loc;
    }
    unsigned char gone = buffer_erase(at);
    if (!no_undo) pushUndo(UNDO_DELETION, at, gone, gone);
    --Globals.buf_size;
    after_size_change();
}
