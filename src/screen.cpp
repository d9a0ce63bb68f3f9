// screen.cpp: the screen's geometry, the character tables, the hex view
// (draw_rows), the terminal cursor and the full repaint (redraw_all). The
// text view lives in textview.cpp, the status line and the command bar in
// statusbar.cpp.
//
// Redraw contract (see morvane.h): commands record with redraw_later what
// they changed; update_screen, called by read_key before it waits for a key,
// draws it with the routines here (which only stage their windows with
// wnoutrefresh), lays the open dialogs over it, places the cursor and sends
// the frame with the one doupdate() of the key.
#include <algorithm>
#include <cassert>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "morvane.h"

// ------------------------------------------------------------ character tables

namespace {

constexpr std::array<unsigned char, 256> make_ebcdic_display() {
    std::array<unsigned char, 256> t{};
    for (auto& c : t)
        c = '.';
    auto run = [&t](int code, char first, int count) {
        for (int i = 0; i < count; ++i)
            t[code + i] = static_cast<unsigned char>(first + i);
    };
    run(0x81, 'a', 9);
    run(0x91, 'j', 9);
    run(0xA2, 's', 8);
    run(0xC1, 'A', 9);
    run(0xD1, 'J', 9);
    run(0xE2, 'S', 8);
    run(0xF0, '0', 10);
    struct Pair {
        int code;
        char shown;
    };
    constexpr Pair singles[] = {
        {0x40, ' '}, {0x4C, '<'}, {0x4D, '('}, {0x4E, '+'},  {0x4F, '|'}, {0x50, '&'}, {0x5A, '!'},
        {0x5B, '$'}, {0x5C, '*'}, {0x5D, ')'}, {0x5E, ';'},  {0x5F, '^'}, {0x60, '-'}, {0x61, '/'},
        {0x6A, '|'}, {0x6B, ','}, {0x6C, '%'}, {0x6D, '_'},  {0x6E, '>'}, {0x6F, '?'}, {0x79, '`'},
        {0x7A, ':'}, {0x7B, '#'}, {0x7C, '@'}, {0x7D, '\''}, {0x7E, '='}, {0x7F, '"'}, {0x8B, '{'},
        {0x9B, '}'}, {0xA1, '~'}, {0xAD, '['}, {0xBD, ']'},  {0xC0, '{'}, {0xD0, '}'}, {0xE0, '\\'},
    };
    for (const Pair& p : singles)
        t[p.code] = static_cast<unsigned char>(p.shown);
    return t;
}

} // namespace

const std::array<unsigned char, 256> ebcdic_display = make_ebcdic_display();

// The EBCDIC byte stored for a typed character: the lowest code the display
// table shows as that character, 0x2E where none is.
const std::array<unsigned char, 128> ascii_to_ebcdic = {
    0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E,
    0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E,
    // 0x20
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x00, 0x61,
    // 0x30
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    // 0x40
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    // 0x50
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xAD, 0xE0, 0xBD, 0x5F, 0x6D,
    // 0x60
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    // 0x70
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0x8B, 0x4F, 0x9B, 0xA1, 0x2E};

// ---------------------------------------------------------------- column maps

namespace {

constexpr int wide_cols[16] = {10, 13, 16, 19, 23, 26, 29, 32, 37, 40, 43, 46, 50, 53, 56, 59};
constexpr int compact_cols[16] = {10, 12, 14, 16, 19, 21, 23, 25, 28, 30, 32, 34, 37, 39, 41, 43};

const int* layout_cols(bool wide) {
    return wide ? wide_cols : compact_cols;
}

// Byte index of a digit column in a layout, or -1 for a column without a digit.
int byte_in_layout(unsigned col, bool wide) {
    const int* cols = layout_cols(wide);
    for (int i = 0; i < 16; ++i)
        if (col == static_cast<unsigned>(cols[i]) || col == static_cast<unsigned>(cols[i] + 1))
            return i;
    return -1;
}

} // namespace

int hex_col_of_byte(unsigned i) {
    return i < 16 ? layout_cols(Globals.spacing != 0)[i] : 0;
}

int byte_of_hex_col(unsigned col) {
    int i = byte_in_layout(col, Globals.spacing != 0);
    return i < 0 ? 0 : i;
}

int respaced_col(unsigned col) {
    // `spacing` has just been flipped: `col` belongs to the other layout.
    bool now_wide = Globals.spacing != 0;
    int i = byte_in_layout(col, !now_wide);
    if (i < 0) return 0;
    int nibble = static_cast<int>(col) - layout_cols(!now_wide)[i];
    return layout_cols(now_wide)[i] + nibble;
}

// ------------------------------------------------------------ character tests

int is_hex_digit(int key) {
    return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'F') || (key >= 'a' && key <= 'f');
}

int hex_value(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return 0;
}

char hex_digit_char(unsigned v) {
    return v < 16 ? "0123456789ABCDEF"[v] : '\0';
}

// The classification of the POSIX locale, whatever locale start-up chose for
// output: the set of bytes shown as themselves must not depend on it.
static bool posix_isprint(int c) {
    return c >= 0x20 && c <= 0x7E;
}

int is_printable(int c) {
    if (Globals.ebcdic) return 1;
    switch (Globals.print_set) {
    case 3:
        return c > 0;
    case 2:
        return c > 127 || posix_isprint(c);
    case 1:
        return posix_isprint(c);
    default:
        return 0;
    }
}

void put_text_cell(WINDOW* w, int b) {
    if (Globals.ebcdic) {
        waddch(w, ebcdic_display[static_cast<unsigned>(b) & 0xFF]);
        return;
    }
    if (is_printable(b))
        put_byte_cell(w, b);
    else
        waddch(w, '.');
}

// ----------------------------------------------------------------- hex view

// Writes one cell, or nothing when the column lies outside the window: on
// terminals narrower than the layout the panes are cut, never wrapped.
void put_cell(WINDOW* w, int y, int x, int width, chtype ch) {
    if (x >= 0 && x < width) mvwaddch(w, y, x, ch);
}

void put_blanks(WINDOW* w, int y, int from, int to, int width) {
    if (from < 0) from = 0;
    if (to > width - 1) to = width - 1;
    for (int x = from; x <= to; ++x)
        mvwaddch(w, y, x, ' ');
}

bool is_modified(uint64_t offset) {
    return (mod_table_entries != 0 && mod_table_get(offset, nullptr) == 0) ||
           range_is_modified(offset);
}

namespace {

void draw_offset_label(WINDOW* w, int y, uint64_t offset, int width) {
    char label[16];
    (void)snprintf(label, sizeof label, "%08X  ", static_cast<unsigned>(offset & 0xFFFFFFFFu));
    for (int x = 0; x < 10; ++x)
        put_cell(w, y, x, width, static_cast<unsigned char>(label[x]));
}

// Blanks printed after byte c of a row, which separate the groups of four.
int separator_blanks(int c, bool wide) {
    if (wide) return 1 + ((c == 3 || c == 11) ? 1 : c == 7 ? 2 : 0);
    return (c == 3 || c == 7 || c == 11) ? 1 : 0;
}

} // namespace

void draw_hex_rows(WINDOW* w, uint64_t start, uint64_t last, const HexCells& cells,
                   int64_t label_shift) {
    if (!w) return;
    const int rows = getmaxy(w);
    const int width = getmaxx(w);
    const bool wide = Globals.spacing != 0;
    const attr_t normal = attr_normal();
    const int* cols = layout_cols(wide);
    const int row_fill_from = last_hex_col() + 1;
    const uint64_t first = start & ~uint64_t{15};
    std::vector<HexCell> shown;
    if (first <= last) {
        const uint64_t room = 16 * static_cast<uint64_t>(rows) - 1;
        cells(first, static_cast<size_t>((last - first > room ? room : last - first) + 1), shown);
    }
    auto byte_attr = [](const HexCell& cell) {
        if (cell.differs) return attr_differs(cell.modified, cell.selected);
        return cell.matched ? attr_match(cell.modified, cell.selected)
                            : attr_byte(cell.modified, cell.selected);
    };

    wattrset(w, normal);
    werase(w);

    int r = 0;
    int partial = 0; // bytes in a last row cut short by the end of the file
    for (; r < rows; ++r) {
        const uint64_t row = first + 16 * static_cast<uint64_t>(r);
        if (row < first || row > last) break; // past the end (or the offset wrapped)
        const uint64_t left = last - row;
        const int n = left >= 15 ? 16 : static_cast<int>(left) + 1;
        for (int c = 0; c < n; ++c) {
            const size_t i = static_cast<size_t>(row - first) + static_cast<size_t>(c);
            const HexCell& cell = shown[i];
            wattrset(w, normal);
            const uint64_t label = row + static_cast<uint64_t>(label_shift);
            if (c == 0 && (label_shift >= 0 || row >= static_cast<uint64_t>(-label_shift)))
                draw_offset_label(w, r, label, width);
            wattrset(w, byte_attr(cell));
            const int b = cell.byte;
            const int x = cols[c];
            const auto digit = [b](int shift) {
                return b < 0 ? ' ' : static_cast<unsigned char>(hex_digit_char((b >> shift) & 0xF));
            };
            put_cell(w, r, x, width, static_cast<chtype>(digit(4)));
            put_cell(w, r, x + 1, width, static_cast<chtype>(digit(0)));
            // The blanks join two selected bytes of a row into one band; any
            // other blanks look as they do without a selection.
            const bool band = cell.selected && c < n - 1 && shown[i + 1].selected;
            wattrset(w, band ? attr_byte(false, true) : attr_byte(cell.modified, false));
            const int blanks = separator_blanks(c, wide);
            for (int k = 0; k < blanks; ++k)
                put_cell(w, r, x + 2 + k, width, ' ');
            wattrset(w, byte_attr(cell));
            const int tx = width - 16 + c;
            if (tx >= 0 && tx < width) {
                wmove(w, r, tx);
                if (b < 0)
                    waddch(w, ' ');
                else
                    put_text_cell(w, b);
            }
            if (c == 15) {
                wattrset(w, attr_byte(cell.modified, false));
                put_blanks(w, r, row_fill_from, width - 17, width);
            }
        }
        if (n < 16) {
            partial = n;
            break;
        }
    }
    wattrset(w, normal);
    if (!color) return; // the erase has already blanked the rest
    if (partial) {
        put_blanks(w, r, cols[partial], width - 17, width);
        put_blanks(w, r, width - 16 + partial, width - 1, width);
        ++r;
    }
    for (; r < rows; ++r)
        put_blanks(w, r, 0, width - 1, width);
}

void draw_rows(uint64_t start) {
    // Empty (first > last) without a selection.
    const uint64_t sel_first = selection_active() ? selection_first() : 1;
    const uint64_t sel_last = selection_active() ? selection_last() : 0;
    const uint64_t last = compare_open() ? compare_last_shown() : Globals.filesize;
    draw_hex_rows(
        Globals.main_win, start, last,
        [&](uint64_t first, size_t n, std::vector<HexCell>& out) {
            // The Find pattern's matches and the other file's differences
            // among the bytes shown.
            std::vector<bool> matched;
            const uint64_t own_last = std::min(first + (n - 1), Globals.filesize);
            if (find_last && first <= own_last) mark_matches(first, own_last, matched);
            std::optional<CompareBytes> other;
            if (compare_open()) other = compare_bytes(first, n);
            out.resize(n);
            for (size_t i = 0; i < n; ++i) {
                const uint64_t off = first + i;
                HexCell& cell = out[i];
                cell.differs = other && other->differs(i);
                if (off > Globals.filesize) continue; // past the end: a blank cell
                cell.byte = get_byte(off);
                cell.modified = is_modified(off);
                cell.selected = off >= sel_first && off <= sel_last;
                cell.matched = i < matched.size() && matched[i];
            }
        },
        0);
}

// ------------------------------------------------------------------- cursor

// Puts the terminal cursor on screen cell (y, x); the frame's doupdate shows it.
// main_win's own cursor goes there too, so that a later refresh of main_win
// alone leaves the terminal cursor in place.
void put_terminal_cursor(int y, int x) {
    if (y > LINES - 1) y = LINES - 1;
    if (x > COLS - 1) x = COLS - 1;
    if (y < 0) y = 0;
    if (x < 0) x = 0;
    if (WINDOW* w = Globals.main_win) {
        int wy = y - getbegy(w);
        if (wy >= 0 && wy < getmaxy(w) && x < getmaxx(w)) wmove(w, wy, x);
    }
    wmove(stdscr, y, x);
    wnoutrefresh(stdscr);
}

int cursor_screen_col() {
    if (Globals.text_pane) return COLS - 16 + byte_of_hex_col(static_cast<unsigned>(cursor_x));
    return cursor_x;
}

void place_cursor() {
    put_terminal_cursor(cursor_y, cursor_screen_col());
}

uint64_t first_shown() {
    const uint64_t row = cursor_loc & ~uint64_t{15};
    const uint64_t above = cursor_y > 1 ? 16 * static_cast<uint64_t>(cursor_y - 1) : 0;
    if (above > row) return 0;
    const uint64_t top = row - above;
    return top > Globals.filesize ? 0 : top;
}

int first_hex_col() {
    return hex_col_of_byte(0);
}

int last_hex_col() {
    return hex_col_of_byte(15) + 1;
}

int bottom_row() {
    return main_rows();
}

void cursor_onto(uint64_t offset, int row) {
    cursor_loc = offset;
    cursor_y = row;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(offset % 16));
}

// ----------------------------------------------------------------- repaint

namespace {

int text_cursor_row = 1, text_cursor_col = 0; // where the text view put the cursor

void draw_main_area() {
    WINDOW* main = Globals.main_win;
    if (!main) return;
    wmove(main, 0, 0);
    if (Globals.mode == MODE_TEXT)
        draw_text_view(text_cursor_row, text_cursor_col);
    else
        draw_rows(first_shown());
    wnoutrefresh(main);
    if (Globals.mode == MODE_HEX) draw_compare_half();
}

bool has_windows() {
    return Globals.status_win && Globals.main_win && Globals.help_win;
}

// The mode's own screen, as recorded. The browser stages its changes as it
// goes and is drawn whole only when the terminal is (after a resize).
void draw_mode_screen(unsigned what) {
    switch (Globals.mode) {
    case MODE_BROWSER:
        if (what & REDRAW_CLEAR) browser_resize_redraw();
        break;
    case MODE_CALCULATOR:
        if (what) draw_calc_screen();
        break;
    default:
        if ((what & REDRAW_ALL) == REDRAW_ALL) {
            redraw_all();
            break;
        }
        if (what & REDRAW_ROWS) draw_main_area();
        if (what & REDRAW_STATUS) {
            draw_status();
            // The other file's status line shows the cursor's counterpart.
            if (!(what & REDRAW_ROWS) && Globals.mode == MODE_HEX) draw_compare_half();
        }
        if (what & REDRAW_BAR) {
            werase(Globals.help_win);
            draw_command_bar();
        }
        break;
    }
}

// Where the terminal's cursor rests when no dialog holds it.
void place_mode_cursor() {
    switch (Globals.mode) {
    case MODE_HEX:
        place_cursor();
        break;
    case MODE_TEXT:
        put_terminal_cursor(text_cursor_row, text_cursor_col);
        break;
    default:
        // The browser's highlighted name, the calculator's line: where the
        // main window's drawing left its cursor.
        if (Globals.main_win) wnoutrefresh(Globals.main_win);
        break;
    }
}

} // namespace

unsigned redraw_needed = REDRAW_ALL;

namespace {
bool drawing = false;
}

bool drawing_now() {
    return drawing;
}

void update_screen() {
    assert(!drawing && "update_screen: drawing started again from inside drawing");
    if (!stdscr || isendwin() || !has_windows()) return;
    drawing = true;
    const unsigned what = redraw_needed;
    redraw_needed = 0;
    if (what & REDRAW_CLEAR) clearok(curscr, TRUE);
    draw_mode_screen(what);
    if (!dialogs_draw((what & REDRAW_ALL) != 0)) place_mode_cursor();
    drawing = false;
    doupdate();
}

void redraw_all() {
    WINDOW* status = Globals.status_win;
    WINDOW* main = Globals.main_win;
    WINDOW* help = Globals.help_win;
    if (Globals.mode == MODE_BROWSER || Globals.mode == MODE_CALCULATOR || !has_windows()) return;

    werase(status);
    werase(main);
    werase(help);
    // Staged first, whatever the standard screen holds (it is blank), so it
    // can never paint over the windows later in this frame.
    wnoutrefresh(stdscr);

    wattrset(help, attr_help());
    wattrset(status, attr_status());
    const int width = getmaxx(status);
    for (int x = 0; x < width; ++x)
        mvwaddch(status, 0, x, ' ');

    draw_status();
    draw_command_bar();
    draw_main_area();
}
