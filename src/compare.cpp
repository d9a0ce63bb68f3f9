// compare.cpp: the compare view. The edited file keeps the upper half of the
// editing area and every command of hex editing; the other file, opened
// read-only, fills the lower half at the same offsets (plus the shift), and
// each byte that differs from its counterpart is highlighted in both halves.
// Next and previous difference run block by block like a search, skipping
// what both files hold as holes where the system can say where they are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "morvane.h"

CompareFile compare_file;
// Two blocks are read per step, one from each file; 256 KiB measured best
// here, as for the searches (the pair stays in the cache while compared).
size_t compare_block = size_t{256} << 10;

namespace {

// Offsets plus a shift, without overflow at any size.
__extension__ typedef __int128 Wide; // NOLINT(modernize-use-using): __extension__ needs typedef

// The other file's byte at view offset `x` is the one at x + shift.
Wide counterpart(uint64_t x) {
    return static_cast<Wide>(x) + compare_file.shift;
}

// View offsets [a, b) at which the other file has a byte.
Wide other_from() {
    return std::max<Wide>(0, -static_cast<Wide>(compare_file.shift));
}
Wide other_to() {
    return static_cast<Wide>(compare_file.length) - compare_file.shift;
}

// Reads n bytes of the other file from `pos` (within it): how many came, or
// -1 with errno set.
int64_t other_read(uint64_t pos, unsigned char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got =
            pread(compare_file.fd, out + done, n - done, static_cast<off_t>(pos + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

// lseek's SEEK_DATA and SEEK_HOLE, or -1 (EINVAL) where the system has none.
off_t seek_to(int fd, uint64_t p, bool data) {
#ifdef SEEK_DATA
    return lseek(fd, static_cast<off_t>(p), data ? SEEK_DATA : SEEK_HOLE);
#else
    (void)fd, (void)p, (void)data;
    errno = EINVAL;
    return -1;
#endif
}

// Where the data of a file lies, as far as the system tells, remembering the
// last stretch of data found so that a file without holes costs two calls
// in all.
class Holes {
  public:
    explicit Holes(int fd) : fd_(fd) {}
    // The first offset >= p that may hold data: p itself where it may, else
    // the end of the hole p lies in (UINT64_MAX: zeros to the end).
    uint64_t zeros_until(uint64_t p) {
        if (fd_ < 0 || p >= static_cast<uint64_t>(INT64_MAX)) return p;
        if (p >= data_from_ && p < data_to_) return p;
        const off_t d = seek_to(fd_, p, true);
        if (d < 0) {
            if (errno == ENXIO) return UINT64_MAX;
            fd_ = -1; // the system cannot tell here: everything may be data
            return p;
        }
        if (static_cast<uint64_t>(d) > p) return static_cast<uint64_t>(d);
        const off_t h = seek_to(fd_, p, false);
        if (h < 0) {
            fd_ = -1;
            return p;
        }
        data_from_ = p;
        data_to_ = static_cast<uint64_t>(h);
        return p;
    }
    // Where the hole that p lies in begins (p in a hole: zeros_until(p) > p).
    uint64_t hole_start(uint64_t p) const {
        // Back in growing steps to a point with data between it and p, then
        // forwards through that stretch's extents to the last hole's start.
        uint64_t step = 4096;
        uint64_t from = p; // [from, p] is known to hold no data
        for (;;) {
            const uint64_t probe = from > step ? from - step : 0;
            const off_t d = seek_to(fd_, probe, true);
            const bool none = d < 0 ? errno == ENXIO : static_cast<uint64_t>(d) > p;
            if (d < 0 && !none) return from;
            if (none) {
                from = probe;
                if (probe == 0) return 0;
                step = step < (uint64_t{1} << 40) ? step * 2 : step;
                continue;
            }
            for (uint64_t q = static_cast<uint64_t>(d);;) { // q: data
                const off_t h = seek_to(fd_, q, false);
                if (h < 0 || static_cast<uint64_t>(h) <= q) return from;
                const off_t next = seek_to(fd_, static_cast<uint64_t>(h), true);
                if ((next < 0 && errno == ENXIO) || (next >= 0 && static_cast<uint64_t>(next) > p))
                    return static_cast<uint64_t>(h);
                if (next < 0) return from;
                q = static_cast<uint64_t>(next);
            }
        }
    }

  private:
    int fd_;
    uint64_t data_from_ = 0, data_to_ = 0;
};

// The offsets of the edited file whose bytes the table or a range changed,
// for the hole skipping: a hole of the file is zeros only where nothing is
// laid over it.
class Changes {
  public:
    Changes() {
        if (!Globals.buffered && Globals.file_state != FILE_READ_ONLY)
            runs_ = changed_runs(UINT64_MAX);
    }
    uint64_t first_at_or_after(uint64_t x) const {
        auto it = std::lower_bound(runs_.begin(), runs_.end(), x,
                                   [](const ChangedRun& r, uint64_t v) { return r.last < v; });
        if (it == runs_.end()) return UINT64_MAX;
        return std::max(it->first, x);
    }
    // The last changed offset <= x, or none.
    std::optional<uint64_t> last_at_or_before(uint64_t x) const {
        auto it = std::upper_bound(runs_.begin(), runs_.end(), x,
                                   [](uint64_t v, const ChangedRun& r) { return v < r.first; });
        if (it == runs_.begin()) return std::nullopt;
        --it;
        return std::min(it->last, x);
    }

  private:
    std::vector<ChangedRun> runs_;
};

size_t first_mismatch(const unsigned char* a, const unsigned char* b, size_t n) {
    constexpr size_t step = 4096;
    for (size_t i = 0; i < n; i += step) {
        const size_t k = std::min(step, n - i);
        if (std::memcmp(a + i, b + i, k) == 0) continue;
        for (size_t j = i;; ++j)
            if (a[j] != b[j]) return j;
    }
    return n;
}

// SIZE_MAX when none.
size_t last_mismatch(const unsigned char* a, const unsigned char* b, size_t n) {
    constexpr size_t step = 4096;
    for (size_t end = n; end > 0;) {
        const size_t k = std::min(step, end);
        const size_t i = end - k;
        if (std::memcmp(a + i, b + i, k) != 0)
            for (size_t j = end; j-- > i;)
                if (a[j] != b[j]) return j;
        end = i;
    }
    return SIZE_MAX;
}

// The two files' bytes of one stretch of view offsets, read into aligned
// blocks: the edited file's at the offsets themselves, the other's at their
// counterparts from the page below.
class BlockPair {
  public:
    BlockPair()
        : page_(io_page_size()), mine_(aligned_bytes(compare_block)),
          theirs_(aligned_bytes(compare_block + page_)) {}
    bool ready() const { return mine_ && theirs_; }
    // Reads n (<= compare_block) bytes at view offset x, where both files
    // have bytes: the count that both hold (fewer when the other file
    // shrank meanwhile), or -1 with errno set.
    int64_t read(uint64_t x, size_t n) {
        if (filebuff_fetch(x, mine_.get(), n, nullptr) < 0) return -1;
        const uint64_t pos = static_cast<uint64_t>(counterpart(x));
        lead_ = static_cast<size_t>(pos % page_);
        const int64_t got = other_read(pos - lead_, theirs_.get(), n + lead_);
        if (got < 0) return -1;
        return std::max<int64_t>(
            0, std::min<int64_t>(got - static_cast<int64_t>(lead_), static_cast<int64_t>(n)));
    }
    const unsigned char* mine() const { return mine_.get(); }
    const unsigned char* theirs() const { return theirs_.get() + lead_; }

  private:
    size_t page_;
    AlignedBytes mine_, theirs_;
    size_t lead_ = 0;
};

// Both files hold zeros from x on (holes, nothing laid over them): how far,
// or x itself.
struct HoleSkip {
    Holes mine, theirs;
    Changes changes;
    bool usable;
    HoleSkip()
        : mine(Globals.buffered || !Globals.fp ? -1 : fileno(Globals.fp)), theirs(compare_file.fd),
          usable(!Globals.buffered && Globals.fp) {}
    uint64_t forward(uint64_t x) {
        if (!usable) return x;
        const uint64_t a = mine.zeros_until(x);
        if (a <= x) return x;
        const uint64_t pos = static_cast<uint64_t>(counterpart(x));
        const uint64_t b = theirs.zeros_until(pos);
        if (b <= pos) return x;
        const uint64_t b_view = b == UINT64_MAX ? UINT64_MAX : b - (pos - x);
        return std::min({a, b_view, changes.first_at_or_after(x)});
    }
    // The lowest offset down to which both hold zeros through x, or x + 1.
    uint64_t backward(uint64_t x) {
        if (!usable) return x + 1;
        if (mine.zeros_until(x) <= x) return x + 1;
        const uint64_t pos = static_cast<uint64_t>(counterpart(x));
        if (theirs.zeros_until(pos) <= pos) return x + 1;
        if (std::optional<uint64_t> c = changes.last_at_or_before(x); c && *c == x) return x + 1;
        uint64_t from = mine.hole_start(x);
        // The other file's hole, in view offsets (0 where it starts before them).
        const uint64_t other = theirs.hole_start(pos);
        if (pos >= x)
            from = std::max(from, other >= pos - x ? other - (pos - x) : 0);
        else
            from = std::max(from, other + (x - pos));
        if (std::optional<uint64_t> c = changes.last_at_or_before(x)) from = std::max(from, *c + 1);
        return from;
    }
};

// The first differing offset in [lo, hi], where both files have bytes.
DiffResult scan_forward(BlockPair& blocks, HoleSkip& holes, LongWork& work, uint64_t lo,
                        uint64_t hi, uint64_t& at) {
    for (uint64_t x = lo; x <= hi;) {
        if (!work.keep_going(x - lo)) return DiffResult::Stopped;
        if (const uint64_t zeros_to = holes.forward(x); zeros_to > x) {
            if (zeros_to > hi) break;
            x = zeros_to;
            continue;
        }
        const uint64_t block_end = std::min(hi, align_down(x, compare_block) + compare_block - 1);
        const size_t n = static_cast<size_t>(block_end - x + 1);
        const int64_t both = blocks.read(x, n);
        if (both < 0) return DiffResult::Failed;
        const size_t i = first_mismatch(blocks.mine(), blocks.theirs(), static_cast<size_t>(both));
        if (i < n) { // a byte that differs, or the other file ended early
            at = x + i;
            return DiffResult::Found;
        }
        if (block_end == hi) break;
        x = block_end + 1;
    }
    return DiffResult::None;
}

// The last differing offset in [lo, hi], where both files have bytes.
DiffResult scan_backward(BlockPair& blocks, HoleSkip& holes, LongWork& work, uint64_t lo,
                         uint64_t hi, uint64_t& at) {
    for (uint64_t x = hi;;) { // x: the last offset still to compare
        if (!work.keep_going(hi - x)) return DiffResult::Stopped;
        if (const uint64_t zeros_from = holes.backward(x); zeros_from <= x) {
            if (zeros_from <= lo) break;
            x = zeros_from - 1;
            continue;
        }
        const uint64_t block_start = std::max(lo, align_down(x, compare_block));
        const size_t n = static_cast<size_t>(x - block_start + 1);
        const int64_t both = blocks.read(block_start, n);
        if (both < 0) return DiffResult::Failed;
        if (static_cast<size_t>(both) < n) { // the other file ended early
            at = x;
            return DiffResult::Found;
        }
        const size_t i = last_mismatch(blocks.mine(), blocks.theirs(), n);
        if (i != SIZE_MAX) {
            at = block_start + i;
            return DiffResult::Found;
        }
        if (block_start == lo) break;
        x = block_start - 1;
    }
    return DiffResult::None;
}

// The scan of [lo, hi] in either direction, with its blocks and progress.
DiffResult scan(uint64_t lo, uint64_t hi, bool backward, uint64_t& at) {
    BlockPair blocks;
    if (!blocks.ready()) {
        errno = ENOMEM;
        return DiffResult::Failed;
    }
    HoleSkip holes;
    LongWork work("Comparing", hi - lo + 1);
    return backward ? scan_backward(blocks, holes, work, lo, hi, at)
                    : scan_forward(blocks, holes, work, lo, hi, at);
}

} // namespace

DiffResult next_difference(uint64_t from, uint64_t& at) {
    const uint64_t last = Globals.filesize;
    if (!compare_open() || from >= last) return DiffResult::None;
    const uint64_t x = from + 1;
    const Wide a = other_from(), b = other_to();
    // Where the other file has no counterpart, every byte differs.
    if (x < a || x >= b) {
        at = x;
        return DiffResult::Found;
    }
    const uint64_t hi = static_cast<uint64_t>(std::min<Wide>(last, b - 1));
    const DiffResult r = scan(x, hi, false, at);
    if (r != DiffResult::None) return r;
    if (hi < last) {
        at = hi + 1;
        return DiffResult::Found;
    }
    return DiffResult::None;
}

DiffResult previous_difference(uint64_t from, uint64_t& at) {
    if (!compare_open() || from == 0) return DiffResult::None;
    const uint64_t x = std::min(from - 1, Globals.filesize);
    const Wide a = other_from(), b = other_to();
    if (x >= b || x < a) {
        at = x;
        return DiffResult::Found;
    }
    const uint64_t lo = static_cast<uint64_t>(a);
    const DiffResult r = scan(lo, x, true, at);
    if (r != DiffResult::None) return r;
    if (lo > 0) {
        at = lo - 1;
        return DiffResult::Found;
    }
    return DiffResult::None;
}

std::optional<int64_t> find_alignment(uint64_t at) {
    if (!compare_open() || at > Globals.filesize) return std::nullopt;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(ALIGN_SPAN, Globals.filesize - at + 1));
    const uint64_t length = compare_file.length;
    if (length < n) return std::nullopt;
    // Positions of the other file where the span may begin.
    const uint64_t lo = at > static_cast<uint64_t>(ALIGN_REACH) ? at - ALIGN_REACH : 0;
    const uint64_t hi = std::min(at + ALIGN_REACH, length - n);
    if (lo > hi) return std::nullopt;
    unsigned char needle[ALIGN_SPAN];
    if (filebuff_fetch(at, needle, n, nullptr) < 0) return std::nullopt;
    std::vector<unsigned char> hay(static_cast<size_t>(hi - lo) + n);
    const int64_t got = other_read(lo, hay.data(), hay.size());
    if (got < static_cast<int64_t>(n)) return std::nullopt;
    std::optional<int64_t> best;
    const unsigned char* p = hay.data();
    const unsigned char* end = hay.data() + got;
    while (const void* hit = memmem(p, static_cast<size_t>(end - p), needle, n)) {
        const auto* h = static_cast<const unsigned char*>(hit);
        const int64_t shift = static_cast<int64_t>(lo + static_cast<uint64_t>(h - hay.data())) -
                              static_cast<int64_t>(at);
        // Ascending shifts: a positive one replaces a negative one of the
        // same size or more; once past zero the first is the best.
        if (!best || -*best >= shift) best = shift;
        if (shift >= 0) break;
        p = h + 1;
    }
    return best;
}

// ------------------------------------------------------------ the view

CompareBytes compare_bytes(uint64_t first, size_t n) {
    CompareBytes b;
    b.mine.assign(n, -1);
    b.theirs.assign(n, -1);
    for (size_t i = 0; i < n && first + i <= Globals.filesize; ++i)
        b.mine[i] = get_byte(first + i);
    // The counterparts that exist, read in one piece.
    const Wide from = std::max<Wide>(first, other_from());
    const Wide to = std::min<Wide>(static_cast<Wide>(first) + n, other_to());
    if (from < to) {
        const size_t k = static_cast<size_t>(to - from);
        std::vector<unsigned char> bytes(k);
        const int64_t got =
            other_read(static_cast<uint64_t>(from + compare_file.shift), bytes.data(), k);
        const size_t skip = static_cast<size_t>(from - first);
        for (int64_t i = 0; i < got; ++i)
            b.theirs[skip + static_cast<size_t>(i)] = bytes[static_cast<size_t>(i)];
    }
    return b;
}

uint64_t compare_last_shown() {
    const Wide b = other_to();
    if (b <= 0 || compare_file.length == 0) return Globals.filesize;
    return static_cast<uint64_t>(
        std::min<Wide>(std::max<Wide>(b - 1, Globals.filesize), UINT64_MAX));
}

int compare_top_rows() {
    const int area = std::max(LINES - 2, 1);
    // The rest, below the other file's status line, is the other half's:
    // never fewer rows than this one, so it shows every row above.
    return area < 2 ? area : std::max(1, (area - 1) / 2);
}

void compare_make_windows() {
    for (WINDOW** w : {&compare_file.status_win, &compare_file.rows_win}) {
        if (*w) delwin(*w);
        *w = nullptr;
    }
    if (!compare_open() || !stdscr) return;
    const int area = std::max(LINES - 2, 1);
    const int top = compare_top_rows();
    if (area - top < 1) return;
    compare_file.status_win = newwin(1, COLS, 1 + top, 0);
    if (compare_file.status_win) {
        scrollok(compare_file.status_win, FALSE);
        wattrset(compare_file.status_win, attr_status());
    }
    const int rows = area - top - 1;
    if (rows >= 1) {
        compare_file.rows_win = newwin(rows, COLS, 2 + top, 0);
        if (compare_file.rows_win) scrollok(compare_file.rows_win, FALSE);
    }
}

void draw_compare_half() {
    if (!compare_open()) return;
    if (WINDOW* w = compare_file.status_win) {
        const uint64_t last = compare_file.length ? compare_file.length - 1 : 0;
        const Wide at = counterpart(cursor_loc);
        // Past the other file's end the offset shows how far past it is.
        const uint64_t shown = at < 0 ? 0 : static_cast<uint64_t>(std::min<Wide>(at, UINT64_MAX));
        wattrset(w, attr_status());
        draw_status_line(w, compare_file.name, shown, last, 'R');
    }
    if (WINDOW* w = compare_file.rows_win) {
        draw_hex_rows(
            w, first_shown(), compare_last_shown(),
            [](uint64_t first, size_t n, std::vector<HexCell>& out) {
                const CompareBytes b = compare_bytes(first, n);
                out.resize(n);
                for (size_t i = 0; i < n; ++i)
                    out[i] = HexCell{.byte = b.theirs[i], .differs = b.differs(i)};
            },
            compare_file.shift);
        wnoutrefresh(w);
    }
}

std::string compare_bar_text(int cols) {
    std::string bar;
    for (const char* e : {"M-N/F8 Next Difference", "   M-B Previous Difference", "   M-= Align",
                          "   M-C/Esc Close"}) {
        // One column to spare, as on the ordinary bar.
        if (static_cast<int>(bar.size() + strlen(e)) + 1 > cols) continue;
        bar += e;
    }
    return bar;
}

// ------------------------------------------------------------ opening

bool compare_start(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Reads of a FIFO must not fail for want of a writer.
    if (const int flags = fcntl(fd, F_GETFL); flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    struct stat st {};
    uint64_t length = 0;
    int err = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (!err && S_ISREG(st.st_mode))
        length = static_cast<uint64_t>(st.st_size);
    else if (!err && !find_device_size(fd, length))
        err = errno;
    if (err) {
        close(fd);
        errno = err;
        return false;
    }
    compare_close();
    compare_file.fd = fd;
    compare_file.name = name;
    compare_file.length = length;
    compare_file.shift = 0;
    remake_main_window();
    return true;
}

void compare_refresh() {
    if (!compare_open()) return;
    struct stat st {};
    uint64_t length = 0;
    if (fstat(compare_file.fd, &st) == 0 && S_ISREG(st.st_mode))
        compare_file.length = static_cast<uint64_t>(st.st_size);
    else if (find_device_size(compare_file.fd, length))
        compare_file.length = length;
}

void compare_close() {
    if (!compare_open()) return;
    close(compare_file.fd);
    compare_file.fd = -1;
    compare_file.name.clear();
    compare_file.length = 0;
    compare_file.shift = 0;
    remake_main_window();
}

// ------------------------------------------------------------ the keys

void compare_dialog() {
    DialogScope dialog({.width = NAME_POPUP_WIDTH, .height = 6, .bar = "^G/^X/Escape Cancel"});
    WINDOW* popup = nullptr;
    const std::string name = name_dialog(dialog, "Compare with File", popup);
    if (name.empty()) return;
    if (!compare_start(name))
        show_save_failure(popup, "Cannot Read File", std::string("Reason: ") + strerror(errno));
}

void compare_next(bool back) {
    uint64_t at = 0;
    const DiffResult r =
        back ? previous_difference(cursor_loc, at) : next_difference(cursor_loc, at);
    switch (r) {
    case DiffResult::Found: {
        // A difference on the screen is reached without scrolling; one
        // elsewhere comes onto the top row, as a search's match does.
        const uint64_t first = first_shown();
        const uint64_t rows = static_cast<uint64_t>(main_rows());
        if (at >= first && (at - first) / 16 < rows)
            cursor_onto(at, static_cast<int>((at - first) / 16) + 1);
        else
            cursor_onto(at, 1);
        redraw_later(REDRAW_ALL);
        break;
    }
    case DiffResult::None:
        // The bytes past this file's end cannot take the cursor: say that
        // the other file goes on.
        bar_note = !back && compare_last_shown() > Globals.filesize
                       ? "No more differences; the other file is longer"
                       : "No more differences";
        warn_beep();
        redraw_later(REDRAW_BAR);
        break;
    case DiffResult::Stopped:
        break; // Escape: the cursor stays
    case DiffResult::Failed:
        bar_note = std::string("Cannot compare: ") + strerror(errno);
        warn_beep();
        redraw_later(REDRAW_BAR);
        break;
    }
}

namespace {

bool shift_key(int key) {
    return is_hex_digit(key) || key == '+' || key == '-';
}

// "+1A", "-200", "1a": the shift typed, or none when the text is no such
// number (or one beyond any file).
std::optional<int64_t> read_shift(std::string_view text) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 15) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (!is_hex_digit(static_cast<unsigned char>(c))) return std::nullopt;
        v = v * 16 + hex_value(static_cast<unsigned char>(c));
    }
    return negative ? -v : v;
}

std::string shift_text(int64_t shift) {
    char text[32];
    (void)snprintf(text, sizeof text, "%c%" PRIX64, shift < 0 ? '-' : '+',
                   static_cast<uint64_t>(shift < 0 ? -shift : shift));
    return text;
}

} // namespace

void compare_align() {
    std::optional<int64_t> shift;
    {
        DialogScope dialog(
            {.width = 50, .height = 8, .bar = "^G/^X/Escape Cancel   ^U Clear input"});
        WINDOW* popup = dialog.win();
        if (!popup) {
            warn_beep();
            return;
        }
        popup_text(popup, 1, 22, "Align");
        popup_text(popup, 5, 2, "  Hint: -1A, +200 (hex); Enter alone finds it");
        popup_text(popup, 3, 12, "Shift: ");
        std::string text;
        for (;;) {
            std::optional<std::string> field =
                read_line(popup, 3, 19, 16, 16, text.c_str(), shift_key);
            if (!field) return;
            text = field->substr(0, field->find('\0'));
            if (text.find_first_not_of(' ') == std::string::npos) break; // empty: found below
            shift = read_shift(text);
            if (shift) break;
            warn_beep();
        }
    }
    if (shift) {
        compare_file.shift = *shift;
        bar_note = "Shift " + shift_text(*shift);
        return;
    }
    errno = 0;
    shift = find_alignment(cursor_loc);
    if (!shift) {
        bar_note = errno ? std::string("Cannot compare: ") + strerror(errno)
                         : "No shift within 64 KiB makes the next 32 bytes agree";
        warn_beep();
        return;
    }
    compare_file.shift = *shift;
    bar_note = "Shift " + shift_text(*shift) + ": the next bytes agree";
}
