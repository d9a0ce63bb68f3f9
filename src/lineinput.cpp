// lineinput.cpp: the one-line text field of the dialogs (read_line).
//
// The field is a fixed buffer of `len` positions seen through a view of
// `width` columns that scrolls sideways. Typing overwrites the position under
// the cursor; only Space inserts. The text is never interpreted here: the
// caller trims and converts it.
#include <algorithm>
#include <cstring>
#include <new>

#include "morvane.h"

namespace {

struct LineField {
    WINDOW* win;
    int row;
    int col;
    int len;
    int width;
    std::string buf; // positions 0..len-1, then one blank at `len`
    int pos = 0;     // position under the cursor
    int first = 0;   // position shown in the field's first column

    int last() const { return first + width - 1; }
    bool in_first_col() const { return pos == first; }
    bool in_last_col() const { return pos == last(); }
};

// Cells of the field the popup can show: none on its right border and
// beyond, where they would hide the frame or wrap onto the next row.
int line_room(const LineField& f) {
    return getmaxx(f.win) - 1 - f.col;
}

// Positions from..to-1 as text; a zero byte (left by Control-U) reads as a
// blank.
std::string line_text(const LineField& f, int from, int to) {
    std::string text = f.buf.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

// The positions in view go through put_safe, so that no typed control code
// reaches the terminal raw and a name shows as the locale spells it: a
// character of several bytes takes fewer columns than positions, and the
// columns it leaves are blanked.
void line_draw_cells(const LineField& f) {
    if (wmove(f.win, f.row, f.col) == ERR) return;
    const int room = std::min(line_room(f), f.width);
    if (room <= 0) return;
    put_safe(f.win, line_text(f, f.first, f.last() + 1), room);
    for (int x = getcurx(f.win) - f.col; x < room; ++x)
        waddch(f.win, ' ');
}

void line_place_cursor(const LineField& f) {
    wmove(f.win, f.row, f.col + text_columns(line_text(f, f.first, f.pos)));
}

// A character of several bytes is one cell: the cursor moves over it, and
// deleting or typing over it takes it whole.
int line_cell_len(const LineField& f, int at) {
    return static_cast<int>(text_cell_bytes(f.buf, static_cast<size_t>(at)));
}

int line_cell_before(const LineField& f, int at) {
    int start = 0;
    for (int i = 0; i < at; i += line_cell_len(f, i))
        start = i;
    return start;
}

void line_redraw(const LineField& f) {
    line_draw_cells(f);
    line_place_cursor(f);
}

void line_scroll_right(LineField& f) {
    if (f.last() < f.len - 1) ++f.first;
}

void line_clear(LineField& f) {
    std::fill(f.buf.begin(), f.buf.begin() + f.len, '\0');
    if (wmove(f.win, f.row, f.col) != ERR) {
        int room = line_room(f);
        for (int i = 0; i < f.width && i < room; ++i)
            waddch(f.win, ' ');
    }
    f.pos = 0;
    f.first = 0;
    line_place_cursor(f);
}

void line_delete_before(LineField& f) {
    if (f.pos == 0) {
        warn_beep();
        return;
    }
    // Zero bytes become blanks first, so that the text keeps reading as one
    // piece once characters move over them.
    for (int i = 0; i < f.len; ++i)
        if (f.buf[static_cast<size_t>(i)] == '\0') f.buf[static_cast<size_t>(i)] = ' ';
    const int from = line_cell_before(f, f.pos);
    const auto n = static_cast<size_t>(f.pos - from);
    f.buf.erase(static_cast<size_t>(from), n); // the old blank at `len` moves left
    f.buf.append(n, ' ');
    f.pos = from;
    if (f.first > f.pos) f.first = f.pos;
    line_redraw(f);
}

// Room for one more blank: the last position holds no character. A byte of
// 0x80 and above counts as a character (it can be typed with -8 or -a), so
// inserting never pushes one out.
bool line_has_room(const LineField& f) {
    return static_cast<unsigned char>(f.buf[static_cast<size_t>(f.len - 1)]) <= ' ';
}

void line_insert_blank(LineField& f) {
    if (f.pos < f.len - 1 && line_has_room(f)) {
        bool at_last_col = f.in_last_col();
        f.buf.erase(static_cast<size_t>(f.len - 1), 1);
        f.buf.insert(static_cast<size_t>(f.pos), 1, ' ');
        f.buf[static_cast<size_t>(f.len)] = ' ';
        if (at_last_col) line_scroll_right(f);
        ++f.pos;
        line_redraw(f);
        return;
    }
    if (f.in_last_col() && f.pos == f.len - 1) {
        f.buf[static_cast<size_t>(f.pos)] = ' ';
        line_draw_cells(f);
        line_place_cursor(f);
    }
    warn_beep();
}

void line_overwrite(LineField& f, int key) {
    if (const int n = line_cell_len(f, f.pos); n > 1 && f.pos + n <= f.len) {
        f.buf.erase(static_cast<size_t>(f.pos) + 1, static_cast<size_t>(n - 1));
        f.buf.append(static_cast<size_t>(n - 1), ' ');
    }
    f.buf[static_cast<size_t>(f.pos)] = static_cast<char>(key & 0xFF);
    if (!f.in_last_col()) {
        ++f.pos;
    } else if (f.pos < f.len - 1) {
        line_scroll_right(f);
        ++f.pos;
    } else {
        warn_beep();
    }
    line_redraw(f);
}

void line_left(LineField& f) {
    if (f.pos == 0) return;
    f.pos = line_cell_before(f, f.pos);
    if (f.pos < f.first) {
        f.first = f.pos;
        line_redraw(f);
        return;
    }
    line_place_cursor(f);
}

void line_right(LineField& f) {
    const int to = f.pos + line_cell_len(f, f.pos);
    if (to > f.len - 1) return;
    f.pos = to;
    if (to <= f.last()) {
        line_place_cursor(f);
        return;
    }
    f.first = to - f.width + 1;
    line_redraw(f);
}

// Keys that count as typed characters. Curses codes above 255 (arrows,
// Home, End, function keys, the resize) are no characters, although -8, -a
// and EBCDIC accept every value: their low eight bits would type an
// arbitrary byte, End an 'h', into a file name.
bool line_is_char_key(int key) {
    return key >= 0 && key <= 0xFF && is_printable(key);
}

} // namespace

int popup_room(WINDOW* popup, int row, int col) {
    if (!popup || row < 1 || row >= getmaxy(popup) - 1 || col < 1) return 0;
    return std::max(0, getmaxx(popup) - 1 - col);
}

int popup_text(WINDOW* popup, int row, int col, std::string_view text, attr_t extra) {
    if (popup_room(popup, row, col) > 0) {
        wattron(popup, extra);
        put_clipped(popup, row, col, text, 1, getmaxx(popup) - 1);
        wattroff(popup, extra);
    }
    return col + static_cast<int>(text.size());
}

std::optional<std::string> read_line(WINDOW* win, int row, int col, int len, int width,
                                     const char* text, LineKeyFilter accept) {
    wmove(win, row, col);
    wattrset(win, attr_field());

    int text_len = text ? static_cast<int>(strnlen(text, static_cast<size_t>(INT32_MAX - 2))) : 0;
    if (text_len > len) len = text_len; // a long initial name is kept whole
    if (len < 1) len = 1;
    if (width > len) width = len;
    if (width < 1) width = 1;

    LineField f{win, row, col, len, width, {}};
    try {
        f.buf.assign(static_cast<size_t>(len) + 1, ' ');
    } catch (const std::bad_alloc&) {
        error_box("Not enough memory", 0);
        return std::nullopt;
    }
    if (text_len > 0) f.buf.replace(0, static_cast<size_t>(text_len), text, text_len);

    f.pos = text_len < width ? text_len : width - 1;
    line_redraw(f);

    for (;;) {
        int key = read_key();
        if (key == KEY_CONTROL_C || is_cancel_key(key)) {
            f.buf[0] = '\0';
            return std::move(f.buf);
        }
        if (is_backspace_key(key)) {
            line_delete_before(f);
            continue;
        }
        switch (key) {
        case KEY_LINE_FEED:
            return std::move(f.buf);
        case KEY_CONTROL_U:
            line_clear(f);
            break;
        case KEY_LEFT:
            line_left(f);
            break;
        case KEY_RIGHT:
            line_right(f);
            break;
        case ' ':
            line_insert_blank(f);
            break;
        default:
            if (!line_is_char_key(key)) continue;
            if (accept && !accept(key)) {
                warn_beep();
                continue;
            }
            line_overwrite(f, key);
            break;
        }
    }
}
