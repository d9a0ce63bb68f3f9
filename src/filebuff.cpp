// filebuff.cpp: every read of the edited file's bytes, the paged window and
// the table of modified bytes.
//
// Paged mode keeps a page of Globals.buf_size bytes of the file in `buffer`
// and moves it when a byte outside is asked for; overwritten bytes live in
// the modification table, which is laid over every page read. Whole-file
// mode keeps the file in `buffer` and the window never moves; the table then
// only marks overwritten offsets for the display.
//
// Whole-file mode holds one gap: bytes 0..buf_end at their own index, then
// buf_spare free bytes (all zero), then bytes buf_end+1..filesize, then one
// zero byte. An insertion or deletion moves the gap to the edit, so a key
// held at one place moves nothing, and a file of gigabytes is not moved
// whole for every key. get_byte's hit path serves the bytes before the gap;
// get_byte_miss serves those after it. When the bytes after the gap are few
// it is closed again, so small files keep the plain layout.
//
// The file is read with pread on the descriptor of Globals.fp, never through
// the stream's own buffer: saving writes through another descriptor of the
// same file, and a stale stdio buffer would show bytes that are no longer on
// disk.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "morvane.h"

// ------------------------------------------------------------ memory

namespace {

// Below this, the heap; from here on a mapping of its own. A whole-file
// buffer of a small file stays on the heap, where it is freed cheaply.
constexpr size_t bulk_threshold = size_t{32} << 20;
constexpr size_t bulk_small = size_t{64} << 10; // below: plain heap memory
// Huge page size of x86-64 and arm64: mappings are aligned and sized to it
// so that every part of them can be a huge page.
constexpr size_t bulk_align = size_t{2} << 20;

size_t bulk_length(size_t bytes) {
    return (bytes + bulk_align - 1) / bulk_align * bulk_align;
}

} // namespace

void* bulk_alloc(size_t bytes) {
    if (bytes < bulk_small) return ::operator new(bytes);
    // Page-aligned, so that a load reads into it page by page.
    if (bytes < bulk_threshold) return ::operator new(bytes, std::align_val_t(io_page_size()));
    const size_t len = bulk_length(bytes);
    if (len < bytes || len > SIZE_MAX - bulk_align) throw std::bad_alloc();
    // Mapped with room to spare, then cut to an aligned start.
    void* got =
        mmap(nullptr, len + bulk_align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
    if (got == MAP_FAILED) throw std::bad_alloc();
    auto* raw = static_cast<unsigned char*>(got);
    const auto addr = reinterpret_cast<uintptr_t>(raw);
    const size_t lead = (bulk_align - addr % bulk_align) % bulk_align;
    if (lead) munmap(raw, lead);
    if (bulk_align - lead) munmap(raw + lead + len, bulk_align - lead);
    unsigned char* p = raw + lead;
#ifdef MADV_HUGEPAGE
    // Where transparent huge pages are offered on request; the system falls
    // back to small pages by itself when it has no huge ones free.
    (void)madvise(p, len, MADV_HUGEPAGE);
#endif
    return p;
}

void bulk_free(void* p, size_t bytes) noexcept {
    if (!p) return;
    if (bytes < bulk_small) {
        ::operator delete(p);
        return;
    }
    if (bytes < bulk_threshold) {
        ::operator delete(p, std::align_val_t(io_page_size()));
        return;
    }
    munmap(p, bulk_length(bytes));
}

void bulk_prefault(void* p, size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
    // One call faults in the block, instead of a trap per page while the read
    // copies into it; systems before Linux 5.14 refuse it (EINVAL) and fault
    // as usual.
    const size_t lead = reinterpret_cast<uintptr_t>(p) % io_page_size();
    (void)madvise(static_cast<unsigned char*>(p) - lead, bytes + lead, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}

size_t io_page_size() {
    static const size_t page = [] {
        long n = sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<size_t>(n) : size_t{4096};
    }();
    return page;
}

void AlignedFree::operator()(unsigned char* p) const noexcept {
    free(p);
}

AlignedBytes aligned_bytes(size_t n) {
    void* p = nullptr;
    if (n == 0) n = 1;
    if (posix_memalign(&p, io_page_size(), n) != 0) return nullptr;
    return AlignedBytes(static_cast<unsigned char*>(p));
}

// ------------------------------------------------------------ the window

std::unique_ptr<mod_entry*[]> mod_table;
size_t mod_table_entries = 0;
bool fp_reads_other_file = false;

namespace {

// Owns every entry of the table; the buckets only chain them.
NodePool<mod_entry, &mod_entry::next> mod_entries;

inline size_t bucket_of(uint64_t offset) {
    return static_cast<size_t>(offset % MOD_TABLE_BUCKETS);
}

// How many of `len` bytes from `offset` lie within the file as it was opened.
uint64_t bytes_within_file(uint64_t offset, uint64_t len) {
    if (len == 0 || offset > Globals.filesize) return 0;
    uint64_t last_index = Globals.filesize - offset; // filesize + 1 may wrap
    return last_index >= len - 1 ? len : last_index + 1;
}

// Reads up to `len` bytes of the file from `offset`, no further than its
// length at opening (a file that has grown meanwhile shows as it was).
// Returns the bytes read, or -1 with errno on a read error. A stream that
// is missing or an offset beyond what the system can address read as the
// end of the file.
int64_t read_file_range(uint64_t offset, unsigned char* out, uint64_t len) {
    len = bytes_within_file(offset, len);
    if (!Globals.fp || len == 0) return 0;
    int fd = fileno(Globals.fp);
    if (fd < 0) return 0;
    uint64_t total = 0;
    while (total < len) {
        uint64_t at = offset + total;
        if (at > static_cast<uint64_t>(INT64_MAX)) break;
        size_t want = static_cast<size_t>(std::min<uint64_t>(len - total, 1u << 30));
        ssize_t got = pread(fd, out + total, want, static_cast<off_t>(at));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(total);
}

// Lays the table over `len` bytes that hold the file from `offset`. Either
// walks the table or looks every offset up, whichever is less work, so an
// overlay never costs more than min(entries, len) lookups.
void overlay_table(uint64_t offset, unsigned char* bytes, uint64_t len) {
    range_overlay(offset, bytes, len); // older than any entry left over it
    if (mod_table_entries == 0 || !mod_table || len == 0) return;
    if (mod_table_entries < len) {
        for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
            for (mod_entry* e = mod_table[b]; e; e = e->next)
                if (e->offset >= offset && e->offset - offset < len)
                    bytes[e->offset - offset] = e->value;
        return;
    }
    for (uint64_t i = 0; i < len; ++i) {
        unsigned char v;
        if (mod_table_get(offset + i, &v) == 0) bytes[i] = v;
    }
}

bool overlay_applies() {
    return Globals.file_state != FILE_READ_ONLY && !Globals.buffered;
}

// Paged mode: the page capacity, with `buffer` made large enough for it.
uint64_t page_capacity() {
    if (Globals.buf_size <= 0) return 0;
    uint64_t cap = static_cast<uint64_t>(Globals.buf_size);
    if (buffer.size() < cap + 1) buffer.resize(cap + 1, 0);
    return cap;
}

// ------------------------------------------------------------ the gap

uint64_t gap_length() {
    return buf_spare > 0 ? static_cast<uint64_t>(buf_spare) : 0;
}

uint64_t data_length() {
    return Globals.filesize + 1;
}

// Offset of the first byte after the gap (the data length: no gap open).
uint64_t gap_start() {
    return Globals.buf_end + 1;
}

// Moves the gap to begin before offset g (1 <= g <= length), moving the
// bytes between the old and the new place across it; the gap stays zero.
void move_gap(uint64_t g) {
    uint64_t from = gap_start(), len = gap_length();
    if (g == from) return;
    unsigned char* d = buffer.data();
    if (len > 0 && g < from) {
        std::memmove(d + g + len, d + g, static_cast<size_t>(from - g));
        std::memset(d + g, 0, static_cast<size_t>(std::min(from, g + len) - g));
    } else if (len > 0) {
        std::memmove(d + from, d + from + len, static_cast<size_t>(g - from));
        uint64_t clear_from = std::max(g, from + len);
        std::memset(d + clear_from, 0, static_cast<size_t>(g + len - clear_from));
    }
    Globals.buf_end = g - 1;
}

// Closes the gap (moves it behind the data) when what lies after it is short.
void close_short_gap() {
    if (data_length() - gap_start() <= buffer_gap_close_limit) move_gap(data_length());
}

constexpr const char* out_of_memory_message = "\nNot enough Memory! file not saved";

// Room for `need` more bytes in the gap; false when there is no memory for
// it (nothing changed). A closed gap grows by at least 1024 bytes; an open
// one by at least an eighth of what lies after it (at most 64 MiB), as that
// much must move for the growth, so the moves stay a few bytes per key.
bool widen_gap(uint64_t need) {
    const uint64_t length = data_length();
    if (gap_length() >= need && buffer.size() >= length + gap_length() + 1) return true;
    if (need > uint64_t{INT32_MAX} / 2) return false; // beyond what buf_spare can count
    const uint64_t tail = length - gap_start();
    const uint64_t grow = std::max(need - std::min(need, gap_length()),
                                   std::clamp<uint64_t>(tail / 8, 1024, uint64_t{64} << 20));
    const uint64_t used = length + gap_length() + 1; // the data, the gap, the extra byte
    try {
        size_t want = static_cast<size_t>(used + grow);
        if (buffer.capacity() < want) {
            // Some room ahead spares a copy of the whole file at every
            // growth, without the doubling a vector would choose (a file
            // of gigabytes must not need twice its size to grow).
            size_t ahead = std::min(want / 8, size_t{64} << 20);
            try {
                buffer.reserve(want + ahead);
            } catch (const std::bad_alloc&) {
                buffer.reserve(want);
            }
        }
        buffer.resize(want);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    unsigned char* d = buffer.data();
    const uint64_t g = gap_start(), old_gap = gap_length();
    std::memmove(d + g + old_gap + grow, d + g + old_gap, static_cast<size_t>(tail));
    std::memset(d + g + old_gap, 0, static_cast<size_t>(grow));
    d[length + old_gap + grow] = 0;
    buf_spare = static_cast<int32_t>(old_gap + grow);
    return true;
}

// Room for one more byte in the gap.
void ensure_gap_byte() {
    if (!widen_gap(1)) fatal_error(out_of_memory_message, nullptr);
}

// From offset g >= 1: `remove` bytes give way to the parts' bytes, through
// the gap (moved to g). Room was made beforehand.
void splice_at(uint64_t g, uint64_t remove,
               std::initializer_list<std::pair<const unsigned char*, uint64_t>> parts) {
    move_gap(g);
    unsigned char* d = buffer.data();
    uint64_t gap = gap_length();
    std::memset(d + g + gap, 0, static_cast<size_t>(remove)); // the removed join the gap
    gap += remove;
    uint64_t at = g;
    for (const auto& [p, n] : parts) {
        if (n) std::memcpy(d + at, p, static_cast<size_t>(n));
        at += n;
    }
    gap -= at - g;
    Globals.filesize = Globals.filesize + (at - g) - remove;
    Globals.buf_end = at - 1;
    if (gap > uint64_t{INT32_MAX}) {
        // Only a huge removal gets here: the bytes after it move down now.
        std::memmove(d + at, d + at + gap, static_cast<size_t>(Globals.filesize + 1 - at));
        buffer.resize(static_cast<size_t>(Globals.filesize + 2));
        buffer[static_cast<size_t>(Globals.filesize + 1)] = 0;
        gap = 0;
        Globals.buf_end = Globals.filesize;
    }
    buf_spare = static_cast<int32_t>(gap);
    close_short_gap();
}

} // namespace

uint64_t buffer_gap_close_limit = 64 << 10;

unsigned char* buffer_byte(uint64_t offset) {
    if (offset > Globals.filesize) return nullptr;
    uint64_t index = offset <= Globals.buf_end ? offset : offset + gap_length();
    return index < buffer.size() ? buffer.data() + index : nullptr;
}

unsigned char buffer_insert(uint64_t offset, unsigned char value) {
    ensure_gap_byte();
    const uint64_t length = data_length();
    unsigned char old = 0;
    unsigned char* d = buffer.data();
    if (offset >= length) {
        move_gap(length);
        d[length] = value;
    } else {
        // The byte at `offset` stays before the gap and moves to its far
        // end, making room for the new one in its place.
        move_gap(offset + 1);
        old = d[offset];
        d[offset + gap_length()] = old;
        d[offset] = value;
    }
    --buf_spare;
    ++Globals.filesize;
    if (offset >= length) Globals.buf_end = Globals.filesize;
    close_short_gap();
    return old;
}

unsigned char buffer_erase(uint64_t offset) {
    move_gap(offset + 1);
    unsigned char* d = buffer.data();
    unsigned char gone = d[offset];
    if (offset < Globals.filesize) {
        // The byte after the gap comes before it, in the erased one's place.
        uint64_t next = offset + 1 + gap_length();
        d[offset] = d[next];
        d[next] = 0;
    } else {
        d[offset] = 0;
        Globals.buf_end = offset - 1;
    }
    ++buf_spare;
    --Globals.filesize;
    close_short_gap();
    return gone;
}

bool buffer_splice(uint64_t offset, uint64_t remove, const unsigned char* bytes, uint64_t n) {
    const uint64_t length = data_length();
    if (offset > length || remove > length - offset || length - remove + n == 0) return false;
    if (n + 1 > remove && !widen_gap(n + 1 - remove)) return false;
    if (offset > 0) {
        splice_at(offset, remove, {{bytes, n}});
        return true;
    }
    // The gap never begins before byte 0: byte 0 is written in place and the
    // rest goes through the gap after it.
    unsigned char* d = buffer.data();
    if (n > 0 && remove > 0) {
        splice_at(1, remove - 1, {{bytes + 1, n - 1}});
        d[0] = bytes[0];
    } else if (n > 0) {
        const unsigned char old0 = d[0];
        splice_at(1, 0, {{bytes + 1, n - 1}, {&old0, 1}});
        d[0] = bytes[0];
    } else {
        const unsigned char next = *buffer_byte(remove);
        splice_at(1, remove, {});
        d[0] = next;
    }
    return true;
}

const unsigned char* buffer_contiguous() {
    if (Globals.buffered && Globals.buf_end < Globals.filesize) move_gap(data_length());
    return buffer.data();
}

int get_byte_miss(uint64_t offset) {
    // Whole-file mode holds every valid offset: those after the gap miss.
    if (Globals.buffered) {
        if (offset <= Globals.buf_end) return 0;
        const unsigned char* b = buffer_byte(offset);
        return b ? *b : 0;
    }
    uint64_t cap = page_capacity();
    if (cap == 0) return 0;
    uint64_t half = cap / 2;
    uint64_t front = offset >= half ? offset - half : 0;
    // A window near the top of the offset range must not wrap around.
    if (front > UINT64_MAX - (cap - 1)) front = UINT64_MAX - (cap - 1);
    Globals.buf_front = front;
    Globals.buf_end = front + cap - 1;
    std::memset(buffer.data(), 0, cap);
    load_page();
    return buffer[offset - Globals.buf_front];
}

uint64_t load_page() {
    uint64_t cap = page_capacity();
    int64_t got = read_file_range(Globals.buf_front, buffer.data(), cap);
    if (got < 0) fatal_error(nullptr, Globals.filename.c_str());
    uint64_t total = static_cast<uint64_t>(got);
    if (overlay_applies()) overlay_table(Globals.buf_front, buffer.data(), total);
    return total;
}

int filebuff_fetch(uint64_t offset, unsigned char* out, size_t n, size_t* held) {
    size_t have = 0;
    // Offsets past the largest one read as zeros, as past the file's end.
    uint64_t room = UINT64_MAX - offset;
    if (n > 0 && room < n - 1) {
        size_t reachable = static_cast<size_t>(room) + 1;
        std::memset(out + reachable, 0, n - reachable);
        n = reachable;
    }
    // Paged mode: a range the window does not hold whole is one read from
    // the file at `offset` (the window holds nothing the file and the table
    // do not), so that a block reader's aligned offsets reach the system as
    // they are, not cut at the window's edges.
    if (!Globals.buffered && n > 0 &&
        !(offset >= Globals.buf_front && offset + (n - 1) <= Globals.buf_end &&
          offset + (n - 1) - Globals.buf_front < buffer.size())) {
        int64_t got = read_file_range(offset, out, n);
        if (got < 0) return -1;
        std::memset(out + got, 0, n - static_cast<size_t>(got));
        if (overlay_applies()) overlay_table(offset, out, static_cast<uint64_t>(got));
        if (held) *held = static_cast<size_t>(got);
        return 0;
    }
    size_t done = 0;
    while (done < n) {
        uint64_t at = offset + done;
        size_t left = n - done;
        bool in_window = at >= Globals.buf_front && at <= Globals.buf_end &&
                         at - Globals.buf_front < buffer.size();
        if (in_window) {
            uint64_t index = at - Globals.buf_front;
            uint64_t span = std::min<uint64_t>(Globals.buf_end - at, buffer.size() - 1 - index) + 1;
            size_t take = static_cast<size_t>(std::min<uint64_t>(span, left));
            std::memcpy(out + done, buffer.data() + index, take);
            have += static_cast<size_t>(bytes_within_file(at, take));
            done += take;
            continue;
        }
        // Up to the window's start, if it lies ahead; else to the end.
        size_t take = left;
        if (at < Globals.buf_front)
            take = static_cast<size_t>(std::min<uint64_t>(Globals.buf_front - at, left));
        if (Globals.buffered) {
            const unsigned char* after_gap = at > Globals.buf_end ? buffer_byte(at) : nullptr;
            if (after_gap) {
                take = static_cast<size_t>(std::min<uint64_t>(Globals.filesize - at + 1, left));
                std::memcpy(out + done, after_gap, take);
                have += take;
            } else {
                std::memset(out + done, 0, take); // what get_byte gives outside the data
            }
        } else {
            int64_t got = read_file_range(at, out + done, take);
            if (got < 0) return -1;
            std::memset(out + done + got, 0, take - static_cast<size_t>(got));
            if (overlay_applies()) overlay_table(at, out + done, static_cast<uint64_t>(got));
            have += static_cast<size_t>(got);
        }
        done += take;
    }
    if (held) *held = have;
    return 0;
}

void get_bytes(uint64_t offset, unsigned char* out, size_t n) {
    if (filebuff_fetch(offset, out, n, nullptr) < 0) fatal_error(nullptr, Globals.filename.c_str());
}

void set_file_window(FILE* stream, uint64_t front, uint64_t end) {
    Globals.fp = stream;
    fp_reads_other_file = false;
    // The hit path of get_byte indexes `buffer` without a check, so the
    // window may never claim more than the buffer holds (a first read that
    // returned nothing would otherwise pass end = front - 1, all offsets).
    uint64_t room = buffer.size();
    if (!Globals.buffered && Globals.buf_size > 0)
        room = std::min<uint64_t>(room, static_cast<uint64_t>(Globals.buf_size));
    if (room == 0) {
        Globals.buf_front = 1; // an empty window: every offset misses
        Globals.buf_end = 0;
        return;
    }
    if (front > UINT64_MAX - (room - 1)) front = UINT64_MAX - (room - 1);
    if (end < front || end - front > room - 1) end = front + room - 1;
    Globals.buf_front = front;
    Globals.buf_end = end;
}

void init_mod_table() {
    clear_mod_table();
    mod_table.reset();
    mod_table = checked_alloc([] { return std::make_unique<mod_entry*[]>(MOD_TABLE_BUCKETS); },
                              "Not enough memory to create hash table\n");
}

void clear_mod_table() {
    range_clear();
    if (!mod_table) return;
    std::fill_n(mod_table.get(), MOD_TABLE_BUCKETS, nullptr);
    mod_entries.clear();
    mod_table_entries = 0;
}

void mod_table_set(uint64_t offset, int value) {
    if (!mod_table) init_mod_table();
    mod_entry*& head = mod_table[bucket_of(offset)];
    for (mod_entry* e = head; e; e = e->next) {
        if (e->offset == offset) {
            e->value = static_cast<unsigned char>(value);
            return;
        }
    }
    head = checked_alloc(
        [&] { return mod_entries.take(offset, static_cast<unsigned char>(value), head); });
    ++mod_table_entries;
}

void mod_table_remove(uint64_t offset) {
    if (!mod_table) return;
    for (mod_entry** link = &mod_table[bucket_of(offset)]; *link; link = &(*link)->next) {
        if ((*link)->offset == offset) {
            mod_entry* gone = *link;
            *link = gone->next;
            mod_entries.give_back(gone);
            --mod_table_entries;
            return;
        }
    }
}

int mod_table_get(uint64_t offset, unsigned char* out) {
    if (!mod_table || mod_table_entries == 0) return -1;
    for (mod_entry* e = mod_table[bucket_of(offset)]; e; e = e->next) {
        if (e->offset == offset) {
            if (out) *out = e->value;
            return 0;
        }
    }
    return -1;
}

int write_mod_table(FILE* stream) {
    if (!stream) {
        errno = EBADF;
        return -1;
    }
    int fd = fileno(stream);
    std::vector<ChangedRun> runs;
    try {
        runs = changed_runs(UINT64_MAX);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t total = 0;
    for (const ChangedRun& r : runs)
        total += r.last - r.first + 1;
    // Every byte of a run is changed, so its bytes come from the changes
    // alone: nothing is read from the file. One write per run, cut into
    // blocks that a gigabyte's fill does not need a gigabyte for.
    constexpr uint64_t block = uint64_t{1} << 20;
    AlignedBytes bytes = aligned_bytes(static_cast<size_t>(std::min(block, total)));
    if (!bytes) {
        errno = ENOMEM;
        return -1;
    }
    LongWork work("Saving", total, false); // in place: a write given up halfway would mix
    uint64_t done = 0;
    for (const ChangedRun& r : runs) {
        for (uint64_t at = r.first;;) {
            if (at > static_cast<uint64_t>(INT64_MAX)) {
                errno = EOVERFLOW;
                return -1;
            }
            const uint64_t n = std::min(block, r.last - at + 1);
            (void)work.keep_going(done);
            std::memset(bytes.get(), 0, static_cast<size_t>(n));
            overlay_table(at, bytes.get(), n);
            for (uint64_t put_done = 0; put_done < n;) {
                ssize_t put = pwrite(fd, bytes.get() + put_done, static_cast<size_t>(n - put_done),
                                     static_cast<off_t>(at + put_done));
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) {
                    if (put == 0) errno = EIO;
                    return -1;
                }
                put_done += static_cast<uint64_t>(put);
            }
            done += n;
            if (r.last - at < block) break;
            at += n;
        }
    }
    // The entries are the only copy of the edits: keep them until the
    // bytes are known to be on the disk.
    if (save_sync(fd) < 0) return -1;
    clear_mod_table();
    return 0;
}
