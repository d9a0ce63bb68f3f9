// ranges.cpp: changes of whole ranges of bytes (fill, paste over, paste in,
// cut), the clipboard, and the undo steps that take them back.
//
// Paged mode never holds a range's bytes one by one: a piece says "these
// offsets show `data` repeated", so a fill over a gigabyte of a disk image is
// one entry and undoing it is as quick. A range written over the byte table
// takes the table's entries in its span with it (they are older), and a byte
// edited later goes into the table on top of the piece. Whole-file mode
// changes the buffer itself and keeps the pieces only as marks for the
// display.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "morvane.h"

std::map<uint64_t, RangePiece> range_pieces;
std::shared_ptr<const ByteBuffer> clipboard;

namespace {

using Bytes = std::shared_ptr<const ByteBuffer>;

// What one command changed: enough to take it back and to apply it again.
struct RangeStep {
    bool splice = false; // whole-file mode: the file's length may change
    uint64_t first = 0;
    uint64_t old_len = 0; // bytes from `first` before the step
    uint64_t new_len = 0; // and after it (an overwrite: the same)
    RangeBytes now;       // the bytes the step wrote, new_len of them
    // What lay over the span before (paged mode's overlay; whole-file
    // mode's marks), to be put back.
    std::vector<std::pair<uint64_t, RangePiece>> old_pieces;
    std::vector<std::pair<uint64_t, unsigned char>> old_entries;
    // The old bytes themselves: always in whole-file mode; in paged mode
    // once a save wrote the step into the file, which then no longer has them.
    Bytes old_bytes;
    // A Replace: spans of old_len bytes at `starts` (each where it was
    // replaced, ascending) became `now`'s new_len bytes; old_bytes holds
    // the replaced spans one after another.
    std::shared_ptr<std::vector<uint64_t>> starts;
};

std::vector<RangeStep> done_steps; // in the undo stack's order
bool keep_old(RangeStep& s);
std::vector<RangeStep> undone_steps; // newest last: what redo applies

// Paged mode keeps what a saved step replaced, up to this much in all; a
// save beyond it ends the undo history instead of holding gigabytes.
constexpr uint64_t kept_for_undo_limit = uint64_t{64} << 20;
uint64_t kept_for_undo = 0;

// Bytes copied per block, and the work's progress step.
constexpr size_t copy_block = size_t{1} << 20;

uint64_t span(uint64_t first, uint64_t last) {
    return last - first + 1;
}

// A short pattern repeated to a block, so that laying it down copies
// blocks rather than bytes. The block is a whole number of patterns, so a
// phase within the pattern is the same within the block.
class Expanded {
  public:
    explicit Expanded(const RangeBytes& b) : b_(b) {
        const size_t size = b.data->size();
        if (size >= 4096) return;
        // Doubled, not appended copy by copy: a one-byte fill laid over
        // every block of a search would otherwise cost 64 Ki inserts a block.
        const size_t total = 65536 / size * size;
        block_.resize(total);
        std::memcpy(block_.data(), b.data->data(), size);
        for (size_t filled = size; filled < total;) {
            const size_t take = std::min(filled, total - filled);
            std::memcpy(block_.data() + filled, block_.data(), take);
            filled += take;
        }
    }
    // Bytes k..k+n-1 of the piece into `out`.
    void copy(uint64_t k, unsigned char* out, uint64_t n) const {
        const uint64_t size = b_.data->size();
        const unsigned char* src = block_.empty() ? b_.data->data() : block_.data();
        const uint64_t src_len = block_.empty() ? size : block_.size();
        uint64_t index = (b_.phase + k) % size;
        while (n > 0) {
            const uint64_t take = std::min(n, src_len - index);
            std::memcpy(out, src + index, static_cast<size_t>(take));
            out += take;
            n -= take;
            index = 0;
        }
    }

  private:
    const RangeBytes& b_;
    std::vector<unsigned char> block_;
};

RangeBytes shifted(const RangeBytes& b, uint64_t by) {
    if (!b.data) return b;
    return {b.data, (b.phase + by) % b.data->size()};
}

// A Replace's piece: the index of the first span that ends at or after o.
size_t span_at_or_after(const RangePiece& p, uint64_t o) {
    const auto& st = *p.starts;
    size_t k = static_cast<size_t>(std::upper_bound(st.begin() + static_cast<long>(p.lo),
                                                    st.begin() + static_cast<long>(p.hi), o) -
                                   st.begin());
    if (k > p.lo && st[k - 1] + p.span - 1 >= o) --k;
    return k;
}

// A Replace's piece over spans [lo, hi) of the same starts (none: nothing).
void put_spans(const RangePiece& p, size_t lo, size_t hi) {
    if (lo >= hi) return;
    const auto& st = *p.starts;
    range_pieces.emplace(st[lo],
                         RangePiece{st[hi - 1] + p.span - 1, p.bytes, p.starts, lo, hi, p.span});
}

// Makes `at` the first offset of a piece where a piece runs across it.
void split_at(uint64_t at) {
    auto it = range_pieces.upper_bound(at);
    if (it == range_pieces.begin()) return;
    --it;
    const uint64_t start = it->first;
    if (start == at || it->second.last < at) return;
    const RangePiece p = it->second;
    range_pieces.erase(it);
    if (!p.span) {
        range_pieces.emplace(start, RangePiece{at - 1, p.bytes});
        range_pieces.emplace(at, RangePiece{p.last, shifted(p.bytes, at - start)});
        return;
    }
    // A span that runs across `at` becomes two plain pieces.
    const size_t k = span_at_or_after(p, at);
    const uint64_t sk = (*p.starts)[k];
    if (sk < at) {
        put_spans(p, p.lo, k);
        const RangeBytes whole{p.bytes.data ? p.bytes.data : nullptr, 0};
        range_pieces.emplace(sk, RangePiece{at - 1, whole});
        range_pieces.emplace(at, RangePiece{sk + p.span - 1, shifted(whole, at - sk)});
        put_spans(p, k + 1, p.hi);
    } else {
        put_spans(p, p.lo, k);
        put_spans(p, k, p.hi);
    }
}

// Takes every piece's part within [first, last] out of the map; the parts
// taken go to `taken` when given.
void cut_pieces(uint64_t first, uint64_t last,
                std::vector<std::pair<uint64_t, RangePiece>>* taken) {
    if (range_pieces.empty()) return;
    split_at(first);
    if (last < UINT64_MAX) split_at(last + 1);
    auto it = range_pieces.lower_bound(first);
    while (it != range_pieces.end() && it->first <= last) {
        if (taken) taken->emplace_back(it->first, it->second);
        it = range_pieces.erase(it);
    }
}

// Lays the piece starting at `key` over `len` bytes that show offsets from
// `offset` (bytes it does not change are left alone).
void lay_piece(uint64_t key, const RangePiece& p, uint64_t offset, unsigned char* bytes,
               uint64_t len) {
    if (!p.bytes.data || len == 0) return;
    const uint64_t end_last = offset + (len - 1);
    const uint64_t from = std::max(key, offset), to = std::min(p.last, end_last);
    if (from > to) return;
    if (!p.span) {
        Expanded(p.bytes).copy(from - key, bytes + (from - offset), span(from, to));
        return;
    }
    for (size_t k = span_at_or_after(p, from); k < p.hi; ++k) {
        const uint64_t s0 = (*p.starts)[k];
        if (s0 > to) break;
        const uint64_t a = std::max(s0, from), b = std::min(s0 + p.span - 1, to);
        std::memcpy(bytes + (a - offset), p.bytes.data->data() + (a - s0),
                    static_cast<size_t>(b - a + 1));
    }
}

// The table's entries within [first, last], taken out of it.
std::vector<std::pair<uint64_t, unsigned char>> take_entries(uint64_t first, uint64_t last) {
    std::vector<std::pair<uint64_t, unsigned char>> out;
    if (mod_table_entries == 0 || !mod_table) return out;
    const uint64_t n = span(first, last);
    if (n != 0 && n <= std::max<uint64_t>(mod_table_entries, 64)) {
        for (uint64_t o = first;; ++o) {
            unsigned char v;
            if (mod_table_get(o, &v) == 0) out.emplace_back(o, v);
            if (o == last) break;
        }
    } else {
        for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
            for (const mod_entry* e = mod_table[b]; e; e = e->next)
                if (e->offset >= first && e->offset <= last) out.emplace_back(e->offset, e->value);
    }
    for (const auto& [o, v] : out)
        mod_table_remove(o);
    return out;
}

void put_back(const RangeStep& s) {
    for (const auto& [start, piece] : s.old_pieces)
        range_pieces.emplace(start, piece);
    for (const auto& [o, v] : s.old_entries)
        mod_table_set(o, v);
}

// Paged mode: the window shows the overlay as it is now.
void refresh_window(uint64_t first, uint64_t last) {
    if (Globals.buffered) return;
    if (last < Globals.buf_front || first > Globals.buf_end) return;
    Globals.buf_front = 1; // an empty window: the next byte asked for reads a page
    Globals.buf_end = 0;
}

// Whole-file mode: `n` bytes from `first` of the buffer, across the gap.
template <class Each> void buffer_segments(uint64_t first, uint64_t n, Each each) {
    uint64_t done = 0;
    while (done < n) {
        const uint64_t at = first + done;
        unsigned char* p = buffer_byte(at);
        if (!p) return;
        const uint64_t end = at <= Globals.buf_end ? Globals.buf_end : Globals.filesize;
        const uint64_t take = std::min(n - done, end - at + 1);
        each(p, done, take);
        done += take;
    }
}

void write_buffer(uint64_t first, const RangeBytes& bytes, uint64_t n) {
    const Expanded src(bytes);
    buffer_segments(first, n,
                    [&](unsigned char* p, uint64_t k, uint64_t take) { src.copy(k, p, take); });
}

Bytes read_buffer(uint64_t first, uint64_t n) {
    auto out = std::make_shared<ByteBuffer>();
    out->resize(static_cast<size_t>(n));
    buffer_segments(first, n, [&](const unsigned char* p, uint64_t k, uint64_t take) {
        std::memcpy(out->data() + k, p, static_cast<size_t>(take));
    });
    return out;
}

void show_changed() {
    Globals.file_state = FILE_CHANGED;
    text_view_forget();
    redraw_later(REDRAW_ROWS | REDRAW_STATUS);
}

// Records the step for undo. Without memory for the record the change still
// stands; it just cannot be undone, as with a byte's change.
void record(RangeStep&& s) {
    const int32_t before = UndoStack.size;
    const uint64_t first = s.first;
    try {
        done_steps.push_back(std::move(s));
    } catch (const std::bad_alloc&) {
        return;
    }
    pushUndo(UNDO_RANGE, first, 0, 0);
    if (UndoStack.size == before) done_steps.pop_back();
}

// Overwrites [first, first + n) with `bytes`. Whole-file mode keeps the old
// bytes for undo first (NoMemory when they do not fit).
RangeResult overwrite(uint64_t first, uint64_t n, const RangeBytes& bytes) {
    const uint64_t last = first + n - 1;
    RangeStep s;
    s.first = first;
    s.old_len = s.new_len = n;
    s.now = bytes;
    try {
        if (Globals.buffered) s.old_bytes = read_buffer(first, n);
        cut_pieces(first, last, &s.old_pieces);
        s.old_entries = take_entries(first, last);
        range_pieces.emplace(first, RangePiece{last, Globals.buffered ? RangeBytes{} : bytes});
    } catch (const std::bad_alloc&) {
        put_back(s);
        return RangeResult::NoMemory;
    }
    if (Globals.buffered) write_buffer(first, bytes, n);
    refresh_window(first, last);
    record(std::move(s));
    show_changed();
    return RangeResult::Done;
}

// Whole-file mode: [first, first + s.old_len) becomes s.now's new_len bytes.
bool apply_splice(const RangeStep& s, uint64_t remove, const RangeBytes& put, uint64_t n) {
    Bytes made;
    const unsigned char* p = nullptr;
    if (n > 0) {
        if (put.phase == 0 && put.data->size() >= n) {
            p = put.data->data();
        } else {
            auto m = std::make_shared<ByteBuffer>();
            m->resize(static_cast<size_t>(n));
            Expanded(put).copy(0, m->data(), n);
            p = m->data();
            made = m;
        }
    }
    if (!buffer_splice(s.first, remove, p, n)) return false;
    Globals.buf_size += static_cast<int64_t>(n) - static_cast<int64_t>(remove);
    clear_mod_table(); // offsets after the change have moved
    return true;
}

RangeResult splice(RangeStep&& s) {
    try {
        if (!apply_splice(s, s.old_len, s.now, s.new_len)) return RangeResult::NoMemory;
        if (s.new_len > 0) range_pieces.emplace(s.first, RangePiece{s.first + s.new_len - 1, {}});
    } catch (const std::bad_alloc&) {
        return RangeResult::NoMemory;
    }
    record(std::move(s));
    show_changed();
    return RangeResult::Done;
}

bool writable() {
    return Globals.file_state != FILE_READ_ONLY;
}

// Reads [first, last] as shown into `out`, in aligned blocks with progress.
RangeResult read_shown(uint64_t first, uint64_t last, unsigned char* out) {
    const uint64_t n = span(first, last);
    LongWork work("Copying", n);
    if (Globals.buffered) {
        // All in memory: copied in blocks only to let Escape in.
        for (uint64_t done = 0; done < n;) {
            if (!work.keep_going(done)) return RangeResult::Stopped;
            const uint64_t take = std::min<uint64_t>(n - done, uint64_t{64} << 20);
            get_bytes(first + done, out + done, static_cast<size_t>(take));
            done += take;
        }
        return RangeResult::Done;
    }
    AlignedBytes block = aligned_bytes(copy_block);
    if (!block) return RangeResult::NoMemory;
    for (uint64_t at = align_down(first, copy_block); at <= last; at += copy_block) {
        const uint64_t from = std::max(at, first);
        if (!work.keep_going(from - first)) return RangeResult::Stopped;
        if (filebuff_fetch(at, block.get(), copy_block, nullptr) < 0) return RangeResult::Failed;
        const uint64_t to = std::min(last, at + copy_block - 1);
        std::memcpy(out + (from - first), block.get() + (from - at),
                    static_cast<size_t>(to - from + 1));
        if (at > UINT64_MAX - copy_block) break;
    }
    return RangeResult::Done;
}

// A new buffer of n bytes, or null.
std::shared_ptr<ByteBuffer> new_bytes(uint64_t n) {
    try {
        auto b = std::make_shared<ByteBuffer>();
        b->resize(static_cast<size_t>(n));
        return b;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

// The bytes of the file itself, the overlay left out.
int read_file_only(uint64_t offset, unsigned char* out, uint64_t n) {
    if (!Globals.fp) return -1;
    const int fd = fileno(Globals.fp);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, size_t{1} << 30));
        ssize_t got = pread(fd, out + done, want, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        done += static_cast<uint64_t>(got);
    }
    return 0;
}

} // namespace

bool range_is_modified(uint64_t offset) {
    if (range_pieces.empty()) return false;
    auto it = range_pieces.upper_bound(offset);
    if (it == range_pieces.begin()) return false;
    const RangePiece& p = std::prev(it)->second;
    if (p.last < offset) return false;
    if (!p.span) return true;
    const size_t k = span_at_or_after(p, offset);
    return k < p.hi && (*p.starts)[k] <= offset;
}

void range_overlay(uint64_t offset, unsigned char* bytes, uint64_t len) {
    if (range_pieces.empty() || len == 0) return;
    const uint64_t end_last = offset + (len - 1);
    auto it = range_pieces.upper_bound(offset);
    if (it != range_pieces.begin() && std::prev(it)->second.last >= offset) --it;
    for (; it != range_pieces.end() && it->first <= end_last; ++it)
        lay_piece(it->first, it->second, offset, bytes, len);
}

void range_clear() {
    range_pieces.clear();
}

bool range_drop_past(uint64_t last) {
    if (last < UINT64_MAX) cut_pieces(last + 1, UINT64_MAX, nullptr);
    return std::any_of(done_steps.begin(), done_steps.end(), [&](const RangeStep& s) {
        const uint64_t from = s.starts ? s.starts->back() : s.first;
        return from + std::max(s.old_len, s.new_len) - 1 > last;
    });
}

RangeResult copy_range(uint64_t first, uint64_t last) {
    if (first > last || last > Globals.filesize) return RangeResult::Refused;
    const uint64_t n = span(first, last);
    if (n > CLIPBOARD_LIMIT) return RangeResult::TooLarge;
    auto bytes = new_bytes(n);
    if (!bytes) return RangeResult::NoMemory;
    bulk_prefault(bytes->data(), bytes->size());
    const RangeResult r = read_shown(first, last, bytes->data());
    if (r == RangeResult::Done) clipboard = std::move(bytes);
    return r;
}

RangeResult fill_range(uint64_t first, uint64_t last, const std::vector<unsigned char>& pattern) {
    if (!writable() || pattern.empty() || first > last || last > Globals.filesize)
        return RangeResult::Refused;
    Bytes p;
    try {
        p = std::make_shared<ByteBuffer>(pattern);
    } catch (const std::bad_alloc&) {
        return RangeResult::NoMemory;
    }
    return overwrite(first, span(first, last), {p, 0});
}

RangeResult paste_over(uint64_t at) {
    if (!writable() || !clipboard || clipboard->empty() || at > Globals.filesize ||
        clipboard->size() - 1 > Globals.filesize - at)
        return RangeResult::Refused;
    return overwrite(at, clipboard->size(), {clipboard, 0});
}

RangeResult paste_in(uint64_t at) {
    if (!writable() || !Globals.buffered || !clipboard || clipboard->empty() ||
        at > Globals.filesize + 1)
        return RangeResult::Refused;
    RangeStep s;
    s.splice = true;
    s.first = at;
    s.new_len = clipboard->size();
    s.now = {clipboard, 0};
    return splice(std::move(s));
}

RangeResult cut_range(uint64_t first, uint64_t last) {
    if (!writable() || !Globals.buffered || first > last || last > Globals.filesize)
        return RangeResult::Refused;
    if (RangeResult r = copy_range(first, last); r != RangeResult::Done) return r;
    RangeStep s;
    s.splice = true;
    s.first = first;
    s.old_len = span(first, last);
    s.old_bytes = clipboard; // the cut bytes are what undo puts back
    if (s.old_len == Globals.filesize + 1) {
        // The file never becomes empty: one zero byte stays.
        static const Bytes zero = std::make_shared<ByteBuffer>(std::vector<unsigned char>{0});
        s.new_len = 1;
        s.now = {zero, 0};
    }
    return splice(std::move(s));
}

RangeResult read_into_clipboard(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return RangeResult::Failed;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return RangeResult::Failed;
    }
    if (S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return RangeResult::Failed;
    }
    // Reads wait for data from here on (a FIFO or a terminal gives it late).
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool sized = S_ISREG(st.st_mode);
    const uint64_t size = sized ? static_cast<uint64_t>(st.st_size) : 0;
    if (size > CLIPBOARD_LIMIT) {
        close(fd);
        return RangeResult::TooLarge;
    }
    std::shared_ptr<ByteBuffer> bytes = new_bytes(sized ? size : copy_block);
    if (!bytes) {
        close(fd);
        return RangeResult::NoMemory;
    }
    LongWork work("Reading", sized ? size : CLIPBOARD_LIMIT);
    uint64_t done = 0;
    RangeResult r = RangeResult::Done;
    for (;;) {
        if (!work.keep_going(done)) {
            r = RangeResult::Stopped;
            break;
        }
        if (done == bytes->size()) {
            if (sized) break;
            if (done >= CLIPBOARD_LIMIT) {
                r = RangeResult::TooLarge;
                break;
            }
            try {
                bytes->resize(static_cast<size_t>(std::min(done * 2, CLIPBOARD_LIMIT + 1)));
            } catch (const std::bad_alloc&) {
                r = RangeResult::NoMemory;
                break;
            }
        }
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(bytes->size() - done, copy_block));
        const ssize_t got = read(fd, bytes->data() + done, want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            r = RangeResult::Failed;
            break;
        }
        if (got == 0) break;
        done += static_cast<uint64_t>(got);
    }
    const int e = errno;
    close(fd);
    errno = e;
    if (r != RangeResult::Done) return r;
    if (done > CLIPBOARD_LIMIT) return RangeResult::TooLarge;
    bytes->resize(static_cast<size_t>(done));
    clipboard = std::move(bytes);
    return RangeResult::Done;
}

namespace {

RangeStep replacing;                  // the Replace under way
std::shared_ptr<ByteBuffer> replaced; // whole-file mode: its spans' old bytes so far
bool replace_open = false;

// Paged mode: the newest piece of the Replace under way, which the next span
// extends when no other piece lies between them.
std::map<uint64_t, RangePiece>::iterator newest_spans(const RangeStep& s) {
    if (s.starts->size() < 2) return range_pieces.end();
    const uint64_t prev = (*s.starts)[s.starts->size() - 2];
    auto it = range_pieces.upper_bound(prev);
    if (it == range_pieces.begin()) return range_pieces.end();
    --it;
    const RangePiece& p = it->second;
    if (!p.span || p.starts != s.starts || p.hi != s.starts->size() - 1) return range_pieces.end();
    auto next = std::next(it);
    if (next != range_pieces.end() && next->first <= s.starts->back() + s.old_len - 1)
        return range_pieces.end();
    return it;
}

// Lays span k of the Replace `s` into the overlay (paged mode).
void lay_span(RangeStep& s, size_t k) {
    const uint64_t at = (*s.starts)[k], last = at + s.old_len - 1;
    cut_pieces(at, last, &s.old_pieces);
    auto taken = take_entries(at, last);
    s.old_entries.insert(s.old_entries.end(), taken.begin(), taken.end());
    auto it = newest_spans(s);
    if (it != range_pieces.end()) {
        it->second.hi = k + 1;
        it->second.last = last;
    } else {
        range_pieces.emplace(at, RangePiece{last, {s.now.data, 0}, s.starts, k, k + 1, s.old_len});
    }
    refresh_window(at, last);
}

// Whole-file mode: span k replaced in the buffer; false without memory.
bool splice_span(RangeStep& s, size_t k, bool undo) {
    const uint64_t at = (*s.starts)[k];
    const unsigned char* put = undo ? s.old_bytes->data() + k * s.old_len : s.now.data->data();
    return buffer_splice(at, undo ? s.new_len : s.old_len, put, undo ? s.old_len : s.new_len);
}

// Whole-file mode, after the splices: the table's offsets have moved; the
// replaced spans are marked.
void mark_spans(const RangeStep& s) {
    clear_mod_table();
    if (s.new_len > 0 && !s.starts->empty())
        range_pieces.emplace(
            s.starts->front(),
            RangePiece{
                s.starts->back() + s.new_len - 1, {}, s.starts, 0, s.starts->size(), s.new_len});
}

// Whole-file mode, a saved Replace taken back: the spans it put back are
// changes of their own, at their places after every later span was undone.
void mark_spans_old(const RangeStep& s) {
    if (s.old_len == 0) return;
    auto starts = std::make_shared<std::vector<uint64_t>>(*s.starts);
    for (size_t k = 0; k < starts->size(); ++k) // each later span's size went back to old_len
        (*starts)[k] = (*s.starts)[k] - k * s.new_len + k * s.old_len;
    range_pieces.emplace(
        starts->front(),
        RangePiece{starts->back() + s.old_len - 1, {}, starts, 0, starts->size(), s.old_len});
}

} // namespace

void replace_begin() {
    replacing = RangeStep{};
    replacing.starts = std::make_shared<std::vector<uint64_t>>();
    replace_open = true;
}

RangeResult replace_one(uint64_t at, uint64_t old_len, const std::vector<unsigned char>& with) {
    RangeStep& s = replacing;
    if (!replace_open || !writable() || old_len == 0 || at > Globals.filesize ||
        old_len - 1 > Globals.filesize - at || (!Globals.buffered && with.size() != old_len) ||
        (with.empty() && old_len == Globals.filesize + 1)) // the file never becomes empty
        return RangeResult::Refused;
    if (!s.starts->empty() &&
        (old_len != s.old_len || with.size() != s.new_len || at < s.starts->back() + s.new_len))
        return RangeResult::Refused;
    try {
        if (s.starts->empty()) {
            s.first = at;
            s.old_len = old_len;
            s.new_len = with.size();
            s.now = {std::make_shared<const ByteBuffer>(with), 0};
            s.splice = Globals.buffered != 0;
            if (s.splice) replaced = std::make_shared<ByteBuffer>();
        }
        s.starts->push_back(at);
        if (s.splice) {
            ByteBuffer& old = *replaced;
            const size_t was = old.size();
            old.resize(was + old_len);
            get_bytes(at, old.data() + was, static_cast<size_t>(old_len));
            if (!splice_span(s, s.starts->size() - 1, false)) {
                old.resize(was);
                s.starts->pop_back();
                return RangeResult::NoMemory;
            }
            Globals.buf_size += static_cast<int64_t>(s.new_len) - static_cast<int64_t>(old_len);
        } else {
            lay_span(s, s.starts->size() - 1);
        }
    } catch (const std::bad_alloc&) {
        return RangeResult::NoMemory;
    }
    show_changed();
    return RangeResult::Done;
}

uint64_t replace_end() {
    replace_open = false;
    RangeStep s = std::move(replacing);
    replacing = RangeStep{};
    const uint64_t n = s.starts ? s.starts->size() : 0;
    if (n == 0) return 0;
    if (s.splice) {
        s.old_bytes = std::move(replaced);
        mark_spans(s);
    }
    record(std::move(s));
    return n;
}

void range_undo(bool saved) {
    assert(!done_steps.empty() && "range undo: no step behind the record");
    RangeStep& s = done_steps.back();
    // Saved under another name, the window still reads the file as it was: what
    // the step replaced is a change to write into the copy now.
    if (saved && !Globals.buffered) (void)keep_old(s);
    if (s.starts && s.splice) {
        for (size_t k = s.starts->size(); k-- > 0;)
            if (!splice_span(s, k, true)) fatal_error("Not enough memory", nullptr);
        Globals.buf_size += static_cast<int64_t>(s.starts->size()) *
                            (static_cast<int64_t>(s.old_len) - static_cast<int64_t>(s.new_len));
        clear_mod_table();
        if (saved) mark_spans_old(s);
    } else if (s.starts) {
        const uint64_t last = s.starts->back() + s.old_len - 1;
        for (uint64_t at : *s.starts) {
            cut_pieces(at, at + s.old_len - 1, nullptr);
            (void)take_entries(at, at + s.old_len - 1);
        }
        if (s.old_bytes) { // written into the file: the old spans are changes of their own
            for (size_t k = 0; k < s.starts->size(); ++k)
                range_pieces.emplace((*s.starts)[k], RangePiece{(*s.starts)[k] + s.old_len - 1,
                                                                {s.old_bytes, k * s.old_len}});
        } else {
            put_back(s);
        }
        refresh_window(s.first, last);
    } else if (s.splice) {
        const RangeBytes old{
            s.old_bytes ? s.old_bytes : std::make_shared<const ByteBuffer>(ByteBuffer{}), 0};
        if (!apply_splice(s, s.new_len, old, s.old_len)) fatal_error("Not enough memory", nullptr);
    } else {
        const uint64_t last = s.first + s.old_len - 1;
        cut_pieces(s.first, last, nullptr);
        (void)take_entries(s.first, last);
        if (Globals.buffered) {
            write_buffer(s.first, {s.old_bytes, 0}, s.old_len);
            if (saved) // the file holds the step: what it replaced is a change now
                range_pieces.emplace(s.first, RangePiece{last, {}});
            else
                put_back(s);
        } else if (s.old_bytes) {
            // Written into the file the window reads: the old bytes kept at
            // the save are laid over it.
            range_pieces.emplace(s.first, RangePiece{last, {s.old_bytes, 0}});
        } else {
            put_back(s);
        }
        refresh_window(s.first, last);
    }
    if (saved) Globals.file_state = FILE_CHANGED;
    text_view_forget();
    try {
        undone_steps.push_back(std::move(s));
    } catch (const std::bad_alloc&) {
        undone_steps.clear(); // redo applies the newest first only
    }
    done_steps.pop_back();
}

void range_redo() {
    assert(!undone_steps.empty() && "range redo: no step taken back");
    RangeStep s = std::move(undone_steps.back());
    undone_steps.pop_back();
    RangeResult r = RangeResult::Done;
    if (s.starts) {
        // The same replacements, made again as one Replace.
        const std::vector<unsigned char> with(s.now.data->begin(), s.now.data->end());
        replace_begin();
        for (uint64_t at : *s.starts)
            if (r == RangeResult::Done) r = replace_one(at, s.old_len, with);
        replace_end();
    } else if (s.splice) {
        s.old_pieces.clear();
        s.old_entries.clear();
        r = splice(std::move(s));
    } else {
        r = overwrite(s.first, s.new_len, s.now);
    }
    if (r != RangeResult::Done) warn_beep();
}

void range_forget_undone() {
    undone_steps.clear();
}

void range_forget_all() {
    done_steps.clear();
    undone_steps.clear();
    kept_for_undo = 0;
}

namespace {

// Before a save: a paged Replace keeps the bytes of its spans as the file
// has them with what lay over them then.
bool keep_replaced_spans(RangeStep& s) {
    const uint64_t n = s.starts->size(), total = n * s.old_len;
    if (kept_for_undo + total > kept_for_undo_limit) return false;
    auto old = new_bytes(total);
    if (!old) return false;
    for (size_t k = 0; k < n; ++k) {
        const uint64_t at = (*s.starts)[k];
        unsigned char* out = old->data() + k * s.old_len;
        if (read_file_only(at, out, s.old_len) != 0) return false;
        auto piece = std::upper_bound(
            s.old_pieces.begin(), s.old_pieces.end(), at,
            [](uint64_t o, const std::pair<uint64_t, RangePiece>& p) { return o < p.first; });
        if (piece != s.old_pieces.begin()) --piece;
        for (; piece != s.old_pieces.end() && piece->first <= at + s.old_len - 1; ++piece)
            lay_piece(piece->first, piece->second, at, out, s.old_len);
    }
    for (const auto& [o, v] : s.old_entries) {
        const auto k = static_cast<size_t>(std::upper_bound(s.starts->begin(), s.starts->end(), o) -
                                           s.starts->begin() - 1);
        (*old)[k * s.old_len + (o - (*s.starts)[k])] = v;
    }
    kept_for_undo += total;
    s.old_bytes = std::move(old);
    return true;
}

// What the step replaced, as the file the window reads has it with what lay
// over it then (paged mode): false when it is more than is kept in memory.
bool keep_old(RangeStep& s) {
    if (s.old_bytes) return true;
    if (s.starts) return keep_replaced_spans(s);
    if (kept_for_undo + s.old_len > kept_for_undo_limit) return false;
    auto old = new_bytes(s.old_len);
    if (!old || read_file_only(s.first, old->data(), s.old_len) != 0) return false;
    for (const auto& [start, piece] : s.old_pieces)
        lay_piece(start, piece, s.first, old->data(), s.old_len);
    for (const auto& [o, v] : s.old_entries)
        (*old)[static_cast<size_t>(o - s.first)] = v;
    kept_for_undo += s.old_len;
    s.old_bytes = std::move(old);
    return true;
}

} // namespace

bool range_before_save() {
    if (Globals.buffered) return true;
    for (RangeStep& s : done_steps)
        if (!keep_old(s)) return false;
    return true;
}

std::vector<ChangedRun> changed_runs(uint64_t below) {
    std::vector<uint64_t> offsets;
    offsets.reserve(mod_table_entries);
    if (mod_table)
        for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
            for (const mod_entry* e = mod_table[b]; e; e = e->next)
                if (e->offset < below) offsets.push_back(e->offset);
    std::sort(offsets.begin(), offsets.end());
    std::vector<ChangedRun> runs;
    auto add = [&](uint64_t first, uint64_t last) {
        if (first >= below) return;
        last = std::min(last, below - 1);
        // Neighbours in order join at once, so a million entries in a row
        // make one run; the rest are put in order below.
        if (!runs.empty() && runs.back().first <= first &&
            (runs.back().last == UINT64_MAX || runs.back().last + 1 >= first)) {
            runs.back().last = std::max(runs.back().last, last);
            return;
        }
        runs.push_back({first, last});
    };
    auto piece = range_pieces.begin();
    size_t i = 0;
    while (i < offsets.size() || piece != range_pieces.end()) {
        if (piece == range_pieces.end() || (i < offsets.size() && offsets[i] < piece->first)) {
            add(offsets[i], offsets[i]);
            ++i;
        } else {
            const RangePiece& p = piece->second;
            if (!p.span)
                add(piece->first, p.last);
            else
                for (size_t k = p.lo; k < p.hi; ++k)
                    add((*p.starts)[k], (*p.starts)[k] + p.span - 1);
            ++piece;
        }
    }
    // Entries between a Replace's spans come after them above: in order now.
    std::sort(runs.begin(), runs.end(),
              [](const ChangedRun& x, const ChangedRun& y) { return x.first < y.first; });
    std::vector<ChangedRun> merged;
    for (const ChangedRun& r : runs) {
        if (!merged.empty() &&
            (merged.back().last == UINT64_MAX || merged.back().last + 1 >= r.first))
            merged.back().last = std::max(merged.back().last, r.last);
        else
            merged.push_back(r);
    }
    return merged;
}
