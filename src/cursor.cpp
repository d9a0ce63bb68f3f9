// cursor.cpp: cursor movement and paging in hex editing.
//
// The view is never stored: the first row shown is always the cursor's row
// start less 16 * (cursor_y - 1). Every move keeps that relation, so moving
// the cursor and scrolling are one operation. A move records what it changed
// (the status line when cursor_loc moves, the rows when the view scrolls);
// update_screen draws it and puts the cursor in place.
#include "morvane.h"

namespace {

// Rows of the editing area the cursor can be on; a terminal of fewer than
// three lines still gets one, so the arithmetic below stays sane.
int screen_rows() {
    return bottom_row();
}

// Bytes above the bottom screen row.
uint64_t above_bottom() {
    return 16 * static_cast<uint64_t>(screen_rows() - 1);
}

// Bytes one page moves: one screen less one row, and at least one row.
uint64_t page_bytes() {
    uint64_t p = above_bottom();
    return p ? p : 16;
}

uint64_t row_start(uint64_t offset) {
    return offset & ~uint64_t{15};
}
uint64_t last_row() {
    return row_start(Globals.filesize);
}
bool on_last_row() {
    return row_start(cursor_loc) == last_row();
}

int high_col(int byte) {
    return hex_col_of_byte(static_cast<unsigned>(byte));
}
int low_col(int byte) {
    return high_col(byte) + 1;
}
int cursor_byte() {
    return static_cast<int>(cursor_loc % 16);
}

// Repairs a cursor that a resize or a caller left inconsistent: a screen row
// outside the editing area or above the file's first row, or a column that is
// not a digit of the cursor's byte.
void settle_cursor() {
    const int rows = screen_rows();
    if (cursor_y < 1) cursor_y = 1;
    if (cursor_y > rows) cursor_y = rows;
    const uint64_t rows_before = row_start(cursor_loc) / 16;
    if (rows_before < static_cast<uint64_t>(cursor_y - 1))
        cursor_y = static_cast<int>(rows_before) + 1;
    const int b = cursor_byte();
    if (cursor_x != high_col(b) && cursor_x != low_col(b)) cursor_x = high_col(b);
}

// The view now starts at `first`, which draw_rows finds again as
// first_shown() by the relation above.
void scroll_to(uint64_t /*first*/) {
    redraw_later(REDRAW_ROWS);
}

void moved() {
    redraw_later(REDRAW_STATUS);
}

void cursor_down() {
    const uint64_t last = Globals.filesize;
    const bool row_below = last >= 16 && cursor_loc <= last - 16;
    if (cursor_y < screen_rows()) {
        if (row_below) {
            cursor_loc += 16;
            ++cursor_y;
            moved();
        } else if (!on_last_row()) {
            // The last row ends before the cursor's column.
            cursor_loc = last;
            cursor_x = high_col(static_cast<int>(last % 16));
            ++cursor_y;
            moved();
        }
        return;
    }
    if (row_below) {
        cursor_loc += 16;
        moved();
        scroll_to(row_start(cursor_loc) - above_bottom());
    } else if (!on_last_row()) {
        cursor_loc = last;
        moved();
        scroll_to(last_row() - above_bottom());
        cursor_x = high_col(static_cast<int>(last % 16));
    }
}

void cursor_up() {
    if (cursor_y >= 2) {
        cursor_loc -= 16;
        --cursor_y;
        moved();
    } else if (cursor_loc >= 16) {
        cursor_loc -= 16;
        moved();
        scroll_to(row_start(cursor_loc));
    }
}

// To the last byte of the previous row, scrolling when on the top row.
void to_previous_row() {
    if (cursor_y >= 2) {
        --cursor_loc;
        cursor_x = low_col(15);
        --cursor_y;
        moved();
    } else if (cursor_loc > 0) {
        --cursor_loc;
        moved();
        scroll_to(row_start(cursor_loc));
        cursor_x = low_col(15);
    } else if (Globals.text_pane) {
        cursor_x = high_col(0);
    }
}

// To the first byte of the next row, scrolling when on the bottom row.
void to_next_row() {
    ++cursor_loc;
    cursor_x = high_col(0);
    moved();
    if (cursor_y < screen_rows())
        ++cursor_y;
    else
        scroll_to(cursor_loc - above_bottom());
}

void cursor_left() {
    const int b = byte_of_hex_col(static_cast<unsigned>(cursor_x));
    if (!Globals.text_pane && cursor_x == low_col(b)) {
        cursor_x = high_col(b);
    } else if (b >= 1) {
        --cursor_loc;
        cursor_x = low_col(b - 1);
        moved();
    } else {
        to_previous_row();
    }
}

void cursor_right() {
    const int b = byte_of_hex_col(static_cast<unsigned>(cursor_x));
    const bool on_high = cursor_x == high_col(b);
    const bool last_byte = cursor_loc >= Globals.filesize;
    if (!Globals.text_pane) {
        if (on_high) {
            cursor_x = low_col(b);
        } else if (last_byte) {
            return;
        } else if (b <= 14) {
            ++cursor_loc;
            cursor_x = high_col(b + 1);
            moved();
        } else {
            to_next_row();
        }
        return;
    }
    if (last_byte) {
        if (on_high) cursor_x = low_col(b);
    } else if (b <= 14) {
        ++cursor_loc;
        cursor_x = (on_high && !Globals.spacing) ? low_col(b + 1) : high_col(b + 1);
        moved();
    } else {
        to_next_row();
    }
}

} // namespace

void move_cursor(int key) {
    if (key != KEY_DOWN && key != KEY_UP && key != KEY_LEFT && key != KEY_RIGHT) return;
    settle_cursor();
    switch (key) {
    case KEY_DOWN:
        cursor_down();
        break;
    case KEY_UP:
        cursor_up();
        break;
    case KEY_LEFT:
        cursor_left();
        break;
    default:
        cursor_right();
        break;
    }
}

void page_down() {
    settle_cursor();
    const uint64_t last = Globals.filesize;
    const uint64_t f = last_row();
    const uint64_t page = page_bytes();
    const int b = cursor_byte();
    uint64_t first;
    if (f < above_bottom()) {
        // The whole file fits with rows to spare: go to its last row.
        const uint64_t target = f + static_cast<uint64_t>(b);
        cursor_loc = target > last ? last : target;
        cursor_y = static_cast<int>(f / 16) + 1;
        if (static_cast<int>(cursor_loc % 16) < b)
            cursor_x = high_col(static_cast<int>(cursor_loc % 16));
        first = 0;
    } else if (cursor_loc >= f || f - cursor_loc < page) {
        // A page would reach the last row: put it on the bottom row.
        const uint64_t target = f + static_cast<uint64_t>(b);
        if (target > last) {
            cursor_loc = last;
            cursor_x = high_col(static_cast<int>(last % 16));
        } else {
            cursor_loc = target;
        }
        cursor_y = screen_rows();
        first = f - above_bottom();
    } else {
        cursor_loc += page;
        first = row_start(cursor_loc) - 16 * static_cast<uint64_t>(cursor_y - 1);
    }
    moved();
    scroll_to(first);
}

void page_up() {
    settle_cursor();
    const uint64_t page = page_bytes();
    uint64_t first;
    if (row_start(cursor_loc) <= page) {
        cursor_loc = static_cast<uint64_t>(cursor_byte());
        cursor_y = 1;
        first = 0;
    } else {
        cursor_loc -= page;
        const uint64_t r = row_start(cursor_loc);
        if (r >= page) {
            first = r - 16 * static_cast<uint64_t>(cursor_y - 1);
        } else {
            // Near the top of the file the view starts at offset 0 and the
            // cursor takes the screen row of its own row there.
            cursor_y = static_cast<int>(r / 16) + 1;
            first = 0;
        }
    }
    moved();
    scroll_to(first);
}

void go_end() {
    settle_cursor();
    if (on_last_row()) {
        cursor_loc = Globals.filesize;
        cursor_x = low_col(static_cast<int>(Globals.filesize % 16));
    } else {
        cursor_loc = row_start(cursor_loc) + 15;
        cursor_x = low_col(15);
    }
    moved();
}

void go_home() {
    settle_cursor();
    if (cursor_x == high_col(0)) return;
    cursor_loc = row_start(cursor_loc);
    cursor_x = high_col(0);
    moved();
}
