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
};

std::vector<RangeStep> done_steps;   // in the undo stack's order
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
        const size_t copies = 65536 / size;
        block_.reserve(copies * size);
        for (size_t i = 0; i < copies; ++i)
            block_.insert(block_.end(), b.data->begin(), b.data->end());
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

// Takes every piece's part within [first, last] out of the map; the parts
// taken (cut to the span) go to `taken` when given.
void cut_pieces(uint64_t first, uint64_t last,
                std::vector<std::pair<uint64_t, RangePiece>>* taken) {
    auto it = range_pieces.upper_bound(first);
    if (it != range_pieces.begin() && std::prev(it)->second.last >= first) --it;
    while (it != range_pieces.end() && it->first <= last) {
        const uint64_t start = it->first;
        const RangePiece piece = it->second;
        it = range_pieces.erase(it);
        const uint64_t from = std::max(start, first), to = std::min(piece.last, last);
        if (taken) taken->push_back({from, {to, shifted(piece.bytes, from - start)}});
        if (start < from) range_pieces.emplace(start, RangePiece{from - 1, piece.bytes});
        if (piece.last > to)
            it = range_pieces
                     .emplace(to + 1, RangePiece{piece.last, shifted(piece.bytes, to + 1 - start)})
                     .first;
    }
}

// The table's entries within [first, last], taken out of it.
std::vector<std::pair<uint64_t, unsigned char>> take_entries(uint64_t first, uint64_t last) {
    std::vector<std::pair<uint64_t, unsigned char>> out;
    if (mod_table_entries == 0 || !mod_table) return out;
    const uint64_t n = span(first, last);
    if (n != 0 && n <= mod_table_entries) {
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
    return it != range_pieces.begin() && std::prev(it)->second.last >= offset;
}

void range_overlay(uint64_t offset, unsigned char* bytes, uint64_t len) {
    if (range_pieces.empty() || len == 0) return;
    const uint64_t end_last = offset + (len - 1);
    auto it = range_pieces.upper_bound(offset);
    if (it != range_pieces.begin() && std::prev(it)->second.last >= offset) --it;
    for (; it != range_pieces.end() && it->first <= end_last; ++it) {
        const RangePiece& p = it->second;
        if (!p.bytes.data) continue;
        const uint64_t from = std::max(it->first, offset), to = std::min(p.last, end_last);
        Expanded(p.bytes).copy(from - it->first, bytes + (from - offset), span(from, to));
    }
}

void range_clear() {
    range_pieces.clear();
}

bool range_drop_past(uint64_t last) {
    if (last < UINT64_MAX) cut_pieces(last + 1, UINT64_MAX, nullptr);
    return std::any_of(done_steps.begin(), done_steps.end(), [&](const RangeStep& s) {
        return s.first + std::max(s.old_len, s.new_len) - 1 > last;
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

void range_undo(bool saved) {
    assert(!done_steps.empty() && "range undo: no step behind the record");
    RangeStep& s = done_steps.back();
    if (s.splice) {
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
    RangeResult r;
    if (s.splice) {
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

bool range_before_save() {
    if (Globals.buffered) return true;
    for (RangeStep& s : done_steps) {
        if (s.old_bytes) continue;
        if (kept_for_undo + s.old_len > kept_for_undo_limit) return false;
        auto old = new_bytes(s.old_len);
        if (!old || read_file_only(s.first, old->data(), s.old_len) != 0) return false;
        for (const auto& [start, piece] : s.old_pieces)
            if (piece.bytes.data)
                Expanded(piece.bytes)
                    .copy(0, old->data() + (start - s.first), span(start, piece.last));
        for (const auto& [o, v] : s.old_entries)
            (*old)[static_cast<size_t>(o - s.first)] = v;
        kept_for_undo += s.old_len;
        s.old_bytes = std::move(old);
    }
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
        if (!runs.empty() && runs.back().last != UINT64_MAX && runs.back().last + 1 >= first) {
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
            add(piece->first, piece->second.last);
            ++piece;
        }
    }
    return runs;
}
