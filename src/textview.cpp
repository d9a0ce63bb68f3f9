// textview.cpp: the read-only text view (Control-E): the file as lines of
// text, a page at a time, with the page that holds the cursor found by
// scanning back to its line's start (memrchr over large blocks) and placing
// the pages of a long line by arithmetic rather than by walking them.
//
// Finding the page is long work and runs between keys (text_view_prepare);
// drawing it only draws the page found.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "morvane.h"

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
    checked_alloc([&] { text_row_starts.resize(need); });
}

// The text view reads the file forwards and backwards over long distances;
// it reads in blocks (the same bytes get_byte gives) so that the paged window
// is neither moved nor asked once per byte.
// Blocks are read from the start of a page into page-aligned memory (pages
// of up to 64 KiB), as every block reader reads.
constexpr size_t text_align = size_t{64} << 10;
constexpr size_t text_block_size = 1 << 16;
alignas(text_align) std::array<unsigned char, text_block_size> text_block;

class ForwardBytes {
  public:
    int at(uint64_t pos) {
        if (len_ == 0 || pos < base_ || pos - base_ >= len_) fill(pos);
        return text_block[pos - base_];
    }

  private:
    void fill(uint64_t pos) {
        base_ = align_down(pos, io_page_size());
        const uint64_t left = Globals.filesize - base_; // callers stay within the file
        len_ = left >= text_block_size - 1 ? text_block_size : static_cast<size_t>(left) + 1;
        get_bytes(base_, text_block.data(), len_);
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

// The scans that find the page holding the cursor read the file in blocks
// that begin and end at multiples of their size; the first block is small so
// that a short line costs little. 256 KiB measured best: memchr finds the
// block still in the cache the read copied it through.
constexpr size_t text_scan_max = size_t{256} << 10;
constexpr size_t text_scan_first = size_t{1} << 16;
alignas(text_align) std::array<unsigned char, text_scan_max + text_align> text_scan_buffer;

class TextScan {
  public:
    explicit TextScan(uint64_t total) : work_("Text view", total) {}
    // Bytes [offset, offset + n) as shown, or null when the scan must end.
    // They are read from the start of the page that holds `offset`.
    const unsigned char* read(uint64_t offset, size_t n, uint64_t done) {
        if (!work_.keep_going(done)) return nullptr;
        const uint64_t from = align_down(offset, std::min(io_page_size(), text_align));
        const auto lead = static_cast<size_t>(offset - from);
        get_bytes(from, text_scan_buffer.data(), lead + n);
        return text_scan_buffer.data() + lead;
    }
    size_t block() {
        size_t limit = std::clamp<size_t>(text_scan_block, 1, text_scan_max);
        size_t n = blocks_++ == 0 ? std::min(limit, text_scan_first) : limit;
        return n;
    }

  private:
    LongWork work_;
    int blocks_ = 0;
};

// What the page that holds the cursor depends on.
struct TextViewKey {
    uint64_t cursor;
    uint64_t top;
    uint64_t last;
    int32_t ebcdic;
    int rows;
    int cols;
    bool operator==(const TextViewKey&) const = default;
};

TextViewKey text_view_key() {
    WINDOW* w = Globals.main_win;
    return {cursor_loc,     first_shown(),      Globals.filesize,
            Globals.ebcdic, w ? getmaxy(w) : 0, w ? getmaxx(w) : 0};
}

std::optional<TextViewKey> located; // what text_page_start was found for
uint64_t text_page_start = 0;       // the page found
bool locating = false;              // the scan runs (a dialog opened by it reads keys)

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
        const uint64_t lo = std::max<uint64_t>(align_down(hi, scan.block()), 1);
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

std::optional<uint64_t> text_view_page(uint64_t top) {
    const bool ebcdic = Globals.ebcdic != 0;
    TextScan scan(ebcdic ? 2 * cursor_loc : cursor_loc);
    auto given_up = []() -> std::optional<uint64_t> { return std::nullopt; };
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
        const uint64_t block = scan.block();
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - at, block - at % block));
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

void text_view_forget() {
    located.reset();
}

void text_view_prepare() {
    // Edits made in the hex view may move every line end: the page is found
    // anew each time the view is entered.
    if (Globals.mode != MODE_TEXT) text_view_forget();
    if (Globals.mode != MODE_TEXT || locating || !Globals.main_win) return;
    const TextViewKey key = text_view_key();
    if (located && *located == key) return;
    locating = true;
    const std::optional<uint64_t> page = text_view_page(key.top);
    locating = false;
    if (!page) {
        // Stopped: back to the hex view, the cursor where it was.
        located.reset();
        Globals.mode = MODE_HEX;
        redraw_later(REDRAW_ALL);
        return;
    }
    text_page_start = *page;
    located = key;
    redraw_later(REDRAW_ROWS);
}

void draw_text_view(int& cur_row, int& cur_col) {
    cur_row = 1;
    cur_col = 0;
    WINDOW* w = Globals.main_win;
    if (!w) return;
    // While the page is still sought (the quit dialog opened over the
    // scan) the hex view stands behind.
    if (!located) {
        draw_rows(first_shown());
        return;
    }
    const int rows = getmaxy(w);
    size_row_starts(rows);
    wattrset(w, attr_normal());

    uint64_t page = text_page_start;
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
}
