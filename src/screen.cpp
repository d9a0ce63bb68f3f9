// screen.cpp: the screen's geometry, the character tables, the hex view
// (draw_rows), the text view, the status line, the command bar and the full
// repaint (redraw_all).
//
// Redraw contract: no window is ever flushed to the terminal on its own here.
// Drawing routines stage their windows with wnoutrefresh; whoever finishes a
// frame places the cursor (place_cursor or the text view's position) and that
// ends in the single doupdate() of the frame. draw_status and
// draw_command_bar, which other modules call on their own, flush themselves.
#include <algorithm>
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

namespace {

// Writes one cell, or nothing when the column lies outside the window: on
// terminals narrower than the layout the panes are cut, never wrapped.
inline void put_cell(WINDOW* w, int y, int x, int width, chtype ch) {
    if (x >= 0 && x < width) mvwaddch(w, y, x, ch);
}

inline void put_blanks(WINDOW* w, int y, int from, int to, int width) {
    if (from < 0) from = 0;
    if (to > width - 1) to = width - 1;
    for (int x = from; x <= to; ++x)
        mvwaddch(w, y, x, ' ');
}

void draw_offset_label(WINDOW* w, int y, uint64_t offset, int width) {
    char label[16];
    snprintf(label, sizeof label, "%08X  ", static_cast<unsigned>(offset & 0xFFFFFFFFu));
    for (int x = 0; x < 10; ++x)
        put_cell(w, y, x, width, static_cast<unsigned char>(label[x]));
}

// Blanks printed after byte c of a row, which separate the groups of four.
int separator_blanks(int c, bool wide) {
    if (wide) return 1 + ((c == 3 || c == 11) ? 1 : c == 7 ? 2 : 0);
    return (c == 3 || c == 7 || c == 11) ? 1 : 0;
}

bool is_modified(uint64_t offset) {
    return mod_table_entries != 0 && mod_table_get(offset, nullptr) == 0;
}

} // namespace

void draw_rows(uint64_t start) {
    WINDOW* w = Globals.main_win;
    if (!w) return;
    const int rows = getmaxy(w);
    const int width = getmaxx(w);
    const bool wide = Globals.spacing != 0;
    const attr_t normal = attr_normal();
    const attr_t modified = attr_modified();
    const int* cols = layout_cols(wide);
    const int row_fill_from = wide ? 61 : 45;
    const uint64_t first = start & ~uint64_t{15};
    const uint64_t last = Globals.filesize;

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
            const uint64_t off = row + static_cast<uint64_t>(c);
            wattrset(w, normal);
            if (c == 0) draw_offset_label(w, r, row, width);
            if (is_modified(off)) wattrset(w, modified);
            const int b = get_byte(off);
            const int x = cols[c];
            put_cell(w, r, x, width, static_cast<unsigned char>(hex_digit_char((b >> 4) & 0xF)));
            put_cell(w, r, x + 1, width, static_cast<unsigned char>(hex_digit_char(b & 0xF)));
            const int blanks = separator_blanks(c, wide);
            for (int k = 0; k < blanks; ++k)
                put_cell(w, r, x + 2 + k, width, ' ');
            const int tx = width - 16 + c;
            if (tx >= 0 && tx < width) {
                wmove(w, r, tx);
                put_text_cell(w, b);
            }
            if (c == 15) put_blanks(w, r, row_fill_from, width - 17, width);
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

// ----------------------------------------------------------------- text view

namespace {

void set_row_start(size_t n, uint64_t value) {
    if (n < text_row_starts.size()) text_row_starts[n] = value;
}

void clear_row_starts() {
    for (auto& e : text_row_starts)
        e = 0;
}

// Makes room for one entry per main_win row (start-up and resize size it; a
// stale size must not let the page write past it).
void size_row_starts(int rows) {
    size_t need = rows > 0 ? static_cast<size_t>(rows) : 1;
    if (text_row_starts.size() >= need) return;
    try {
        text_row_starts.resize(need);
    } catch (const std::bad_alloc&) {
        fatal_error("Not enough memory", nullptr);
    }
}

// The text view reads the file forwards and backwards over long distances;
// it reads in blocks (the same bytes get_byte gives) so that the paged window
// is neither moved nor asked once per byte.
constexpr size_t text_block_size = 1 << 16;
std::array<unsigned char, text_block_size> text_block;

class ForwardBytes {
  public:
    int at(uint64_t pos) {
        if (len_ == 0 || pos < base_ || pos - base_ >= len_) fill(pos);
        return text_block[pos - base_];
    }

  private:
    void fill(uint64_t pos) {
        const uint64_t left = Globals.filesize - pos; // callers stay within the file
        len_ = left >= text_block_size - 1 ? text_block_size : static_cast<size_t>(left) + 1;
        base_ = pos;
        get_bytes(pos, text_block.data(), len_);
    }
    uint64_t base_ = 0;
    size_t len_ = 0;
};

// Draws one page of the text view from `pos`, starting in cell (y, x) of
// main_win, and fills text_row_starts. Returns the first offset not drawn.
// text_view_page must find the same rows: a change here belongs there too.
uint64_t text_page(uint64_t pos, int y, int x) {
    WINDOW* w = Globals.main_win;
    const uint64_t last = Globals.filesize;
    if (pos > last || !w) {
        set_row_start(0, pos + 1);
        return pos;
    }
    const int rows = getmaxy(w);
    const int width = getmaxx(w);
    // Rows hold at most COLS-1 characters; the last column stays empty.
    const int last_col = width >= 2 ? width - 2 : 0;
    const attr_t normal = attr_normal();
    const attr_t modified = attr_modified();
    const bool ebcdic = Globals.ebcdic != 0;
    ForwardBytes bytes;
    size_t n = 0;
    for (;;) {
        if (y >= rows - 1) break; // the last row of main_win is never written
        if (x == 0) set_row_start(n++, pos);
        const bool mod = is_modified(pos);
        if (mod) wattrset(w, modified);
        const int b = bytes.at(pos);
        const int bx = x;
        bool ended_row = false;
        if (ebcdic && b == 0x2E) {
            put_cell(w, y, x, width, '.');
            ended_row = true;
        } else if (ebcdic) {
            put_cell(w, y, x, width, ebcdic_display[b & 0xFF]);
            ++x;
        } else if (b == 0x0A) {
            put_blanks(w, y, x, last_col - 1, width);
            put_cell(w, y, last_col, width, '.');
            ended_row = true;
        } else {
            if (x < width) {
                wmove(w, y, x);
                put_text_cell(w, b);
            }
            ++x;
        }
        if (mod) wattrset(w, normal);
        ++pos;
        if (ended_row || bx == last_col) {
            ++y;
            x = 0;
        }
        if (pos > last || pos == 0) break;
    }
    set_row_start(n, pos + 1);
    if (y < rows) wmove(w, y, x < width ? x : 0);
    return pos;
}

// The scans that find the page holding the cursor read the file in large
// blocks; the first block is small so that a short line costs little.
constexpr size_t text_scan_max = size_t{1} << 20;
constexpr size_t text_scan_first = size_t{1} << 16;
std::array<unsigned char, text_scan_max> text_scan_buffer;

// Bumped by every full repaint: a scan that finds it changed after letting
// a key or a signal act (the quit dialog, a resize) knows that the screen
// has been drawn anew meanwhile, and gives its own drawing up.
uint64_t repaints = 0;

class TextScan {
  public:
    TextScan(uint64_t total) : work_("Text view", total), repaints_(repaints) {}
    // Bytes [offset, offset + n) as shown, or null when the scan must end.
    const unsigned char* read(uint64_t offset, size_t n, uint64_t done) {
        if (!work_.keep_going(done) || repaints != repaints_) return nullptr;
        get_bytes(offset, text_scan_buffer.data(), n);
        return text_scan_buffer.data();
    }
    size_t block() {
        size_t limit = std::clamp<size_t>(text_scan_block, 1, text_scan_max);
        size_t n = blocks_++ == 0 ? std::min(limit, text_scan_first) : limit;
        return n;
    }
    bool overtaken() const { return repaints != repaints_; }

  private:
    LongWork work_;
    uint64_t repaints_;
    int blocks_ = 0;
};

// Where the line around `top` begins: just after the nearest line feed at or
// before top (offset 0 is never examined). The scan never starts at the
// cursor's own byte, so a line feed under the cursor cannot push the page
// past it. `clear_to` receives the last offset scanned: no line feed lies
// between the result (or 1) and it. False when the scan was stopped.
bool text_line_start(uint64_t top, TextScan& scan, uint64_t& start, uint64_t& clear_to) {
    start = 0;
    clear_to = 0;
    if (top == 0) return true;
    uint64_t hi = top;
    if (hi >= cursor_loc) {
        if (cursor_loc == 0) return true;
        hi = cursor_loc - 1;
    }
    if (hi > Globals.filesize) hi = Globals.filesize;
    clear_to = hi;
    const uint64_t first = hi;
    while (hi >= 1) {
        const uint64_t block = scan.block();
        const uint64_t lo = hi >= block ? hi - (block - 1) : 1;
        const size_t n = static_cast<size_t>(hi - lo) + 1;
        const unsigned char* bytes = scan.read(lo, n, first - hi);
        if (!bytes) return false;
        if (const void* lf = memrchr(bytes, 0x0A, n)) {
            start = lo + static_cast<uint64_t>(static_cast<const unsigned char*>(lf) - bytes) + 1;
            return true;
        }
        hi = lo - 1;
    }
    return true;
}

// How the rows of the text view fall from a page's start on: a row takes
// COLS-1 bytes, or fewer when a line end (line feed; 0x2E in EBCDIC) closes
// it earlier, and a page is main_win's rows but the last. Fed the line ends
// in order, it keeps the start of the current page by arithmetic, so that a
// stretch without line ends costs nothing however long it is.
struct TextRows {
    uint64_t row_bytes; // bytes of a full row
    uint64_t page_rows; // rows of a page (at least 1)
    uint64_t page;      // start of the current page
    uint64_t line;      // start of the current line (a row start)
    uint64_t rows = 0;  // rows of the current page before `line`

    // The row start `k` rows into the line, `k` counted from the page.
    uint64_t page_at(uint64_t k) const {
        return line + (k / page_rows * page_rows - rows) * row_bytes;
    }

    void line_end(uint64_t at) {
        const uint64_t n = (at - line) / row_bytes + 1; // rows of the line
        const uint64_t total = rows + n;
        if (total >= page_rows) page = total % page_rows == 0 ? at + 1 : page_at(total);
        rows = total % page_rows;
        line = at + 1;
    }
    // The start of the page that holds `offset`, which lies in the current line.
    uint64_t page_of(uint64_t offset) const {
        const uint64_t total = rows + (offset - line) / row_bytes;
        return total >= page_rows ? page_at(total) : page;
    }
};

} // namespace

size_t text_scan_block = text_scan_max;

std::optional<uint64_t> text_view_page(uint64_t top, bool* overtaken) {
    const bool ebcdic = Globals.ebcdic != 0;
    TextScan scan(ebcdic ? 2 * cursor_loc : cursor_loc);
    if (overtaken) *overtaken = false;
    auto given_up = [&]() -> std::optional<uint64_t> {
        if (overtaken) *overtaken = scan.overtaken();
        return std::nullopt;
    };
    uint64_t start;
    uint64_t clear_to;
    if (!text_line_start(top, scan, start, clear_to)) return given_up();
    WINDOW* w = Globals.main_win;
    const int rows = w ? getmaxy(w) : 0;
    const int width = w ? getmaxx(w) : 0;
    if (rows < 2 || cursor_loc <= start) return start; // no row to draw in, or no byte to pass
    TextRows walk{width >= 2 ? static_cast<uint64_t>(width - 1) : 1,
                  static_cast<uint64_t>(rows - 1), start, start};
    const int line_end = ebcdic ? 0x2E : 0x0A;
    // In ASCII the backward scan has seen that no line end lies in
    // [max(start, 1), clear_to]; only the bytes around it are looked at.
    const uint64_t clear_from = start > 0 ? start : 1;
    const bool skip = !ebcdic && clear_to >= clear_from;
    const uint64_t done_before = cursor_loc - start;
    uint64_t at = start;
    while (at < cursor_loc) {
        if (skip && at >= clear_from && at <= clear_to) {
            at = clear_to + 1;
            continue;
        }
        uint64_t end = cursor_loc; // line ends before the cursor's own byte count
        if (skip && at < clear_from) end = std::min(end, clear_from);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - at, scan.block()));
        const unsigned char* bytes = scan.read(at, n, done_before + (at - start));
        if (!bytes) return given_up();
        for (const unsigned char* p = bytes;;) {
            const size_t left = n - static_cast<size_t>(p - bytes);
            const void* hit = left ? memchr(p, line_end, left) : nullptr;
            if (!hit) break;
            const unsigned char* e = static_cast<const unsigned char*>(hit);
            walk.line_end(at + static_cast<uint64_t>(e - bytes));
            p = e + 1;
        }
        at += n;
    }
    return walk.page_of(cursor_loc);
}

void draw_text_page(uint64_t& pos) {
    WINDOW* w = Globals.main_win;
    pos = text_page(pos, w ? getcury(w) : 0, w ? getcurx(w) : 0);
}

bool draw_text_view(uint64_t top, int& cur_row, int& cur_col) {
    cur_row = 1;
    cur_col = 0;
    WINDOW* w = Globals.main_win;
    if (!w) return true;
    const int rows = getmaxy(w);
    size_row_starts(rows);
    wattrset(w, attr_normal());

    bool overtaken = false;
    std::optional<uint64_t> found = text_view_page(top, &overtaken);
    if (!found) {
        if (!overtaken) Globals.mode = 1; // stopped: back to the hex view
        return false;
    }
    uint64_t page = *found;
    werase(w);
    wmove(w, 0, 0);
    clear_row_starts();
    draw_text_page(page);

    const size_t limit = std::min(text_row_starts.size(), static_cast<size_t>(rows > 0 ? rows : 0));
    for (size_t i = 0; i < limit; ++i) {
        if (cursor_loc >= text_row_starts[i]) continue;
        if (i >= 1) {
            uint64_t col = cursor_loc - text_row_starts[i - 1];
            cur_row = static_cast<int>(i);
            cur_col = col < static_cast<uint64_t>(getmaxx(w)) ? static_cast<int>(col) : 0;
        }
        break;
    }
    return true;
}

// ------------------------------------------------------------------- cursor

namespace {

// Puts the terminal cursor on screen cell (y, x) and flushes the frame.
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
    doupdate();
}

} // namespace

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

// -------------------------------------------------------------- status line

std::string status_text(int cols) {
    if (cols <= 1) return {};
    int name_width = cols - 55;
    if (name_width < 0) name_width = 0;
    if (name_width > 1024) name_width = 1024;
    const double percent =
        Globals.filesize == 0
            ? 0.0
            : static_cast<double>(cursor_loc) / static_cast<double>(Globals.filesize) * 100.0;
    char tail[160];
    snprintf(tail, sizeof tail, " %7s Offset: 0x%08" PRIX64 " / 0x%08" PRIX64 " (%%%02.0f) ",
             Globals.ebcdic ? "EBCDIC" : "ASCII", cursor_loc, Globals.filesize, percent);
    std::string text;
    try {
        text.reserve(6 + static_cast<size_t>(name_width) + strlen(tail));
        text = "File: ";
        text.append(Globals.filename, 0, static_cast<size_t>(name_width));
        text.append(static_cast<size_t>(name_width) -
                        std::min(Globals.filename.size(), static_cast<size_t>(name_width)),
                    ' ');
        text += tail;
    } catch (const std::bad_alloc&) {
        fatal_error("Not enough memory", nullptr);
    }
    // The marker owns the last column; long offsets are cut before it.
    if (text.size() > static_cast<size_t>(cols - 1)) text.resize(static_cast<size_t>(cols - 1));
    return text;
}

char status_marker() {
    switch (Globals.file_state) {
    case 1:
        return 'M';
    case 2:
        return 'R';
    default:
        return ' ';
    }
}

void draw_status_noflush() {
    WINDOW* w = Globals.status_win;
    if (!w) return;
    const int width = getmaxx(w);
    if (width <= 0) return;
    const std::string text = status_text(width);
    wmove(w, 0, 0);
    put_safe(w, text);
    // Blank up to the marker: a shorter text must not leave old characters.
    for (int x = static_cast<int>(text.size()); x < width - 1; ++x)
        waddch(w, ' ');
    mvwaddch(w, 0, width - 1, static_cast<unsigned char>(status_marker()));
    wnoutrefresh(w);
}

void draw_status() {
    draw_status_noflush();
    doupdate();
}

// -------------------------------------------------------------- command bar

namespace {

struct BarEntry {
    const char* key;
    const char* what;
    const char* what_read_only; // null: the same text
    int after;                  // index of an entry that must have been printed, or -1
    bool writable_only;
};

constexpr BarEntry bar_entries[] = {
    {"^G", " Help", nullptr, -1, false},           {"   ^C", " Exit (No Save)", " Exit", -1, false},
    {"   ^T", " goTo Offset", nullptr, -1, false}, {"   ^X", " Exit and Save", " Exit", 2, false},
    {"   ^W", " Search", nullptr, -1, false},      {"   ^U", " Undo", nullptr, -1, true},
    {"   ^L", " Redraw", nullptr, -1, false},      {"   ^E", " Text Mode", nullptr, 6, false},
    {"   ^R", " CharSet", nullptr, 6, false},      {"   ^P", " Spacing", nullptr, 8, false},
    {"   ^N", " Find Next", nullptr, 9, false},    {"   F5", " Color", nullptr, -1, false},
};
constexpr int bar_entry_count = sizeof bar_entries / sizeof bar_entries[0];

} // namespace

std::string command_bar_text(int cols, int file_state) {
    std::string bar;
    if (cols < 8) return bar;
    const bool read_only = file_state == 2;
    bool printed[bar_entry_count] = {};
    int room = cols;
    for (int i = 0; i < bar_entry_count; ++i) {
        const BarEntry& e = bar_entries[i];
        if (e.writable_only && read_only) continue;
        if (e.after >= 0 && !printed[e.after]) continue;
        // An entry needs one column to spare after its long form, whatever is printed.
        const int long_width = static_cast<int>(strlen(e.key) + strlen(e.what));
        if (room < long_width + 1) continue;
        const char* what = (read_only && e.what_read_only) ? e.what_read_only : e.what;
        bar += e.key;
        bar += what;
        room -= static_cast<int>(strlen(e.key) + strlen(what));
        printed[i] = true;
    }
    return bar;
}

static void draw_command_bar_noflush() {
    WINDOW* w = Globals.help_win;
    if (!w) return;
    const int width = getmaxx(w);
    const std::string bar = command_bar_text(COLS, Globals.file_state);
    wmove(w, 0, 0);
    waddnstr(w, bar.c_str(), std::min(static_cast<int>(bar.size()), width));
    wnoutrefresh(w);
}

void draw_command_bar() {
    draw_command_bar_noflush();
    doupdate();
}

// ----------------------------------------------------------------- repaint

void redraw_all() {
    WINDOW* status = Globals.status_win;
    WINDOW* main = Globals.main_win;
    WINDOW* help = Globals.help_win;
    // The file browser draws its own screen; without windows there is nothing to draw.
    if (Globals.mode == 0 || !status || !main || !help) return;

    ++repaints;
    const uint64_t top = first_shown();
    werase(status);
    werase(main);
    werase(help);
    // Flush whatever the standard screen holds (it is blank) before the
    // windows, so it can never paint over them later in this frame.
    wnoutrefresh(stdscr);

    wattrset(help, attr_help());
    wattrset(status, attr_status());
    const int width = getmaxx(status);
    for (int x = 0; x < width; ++x)
        mvwaddch(status, 0, x, ' ');

    if (Globals.mode == 3) {
        draw_calc_screen();
        doupdate();
        return;
    }

    draw_status_noflush();
    draw_command_bar_noflush();
    wmove(main, 0, 0);
    if (Globals.mode == 2) {
        int row = 1;
        int col = 0;
        if (draw_text_view(top, row, col)) {
            wnoutrefresh(main);
            put_terminal_cursor(row, col);
            return;
        }
        // Drawn anew while the page was sought (a resize, the quit dialog).
        if (Globals.mode == 2) return;
        wmove(main, 0, 0);
    }
    draw_rows(top);
    wnoutrefresh(main);
    place_cursor();
}
