// filebuff.cpp: every read of the edited file's bytes, the paged window and
// the table of modified bytes.
//
// Paged mode keeps a page of Globals.buf_size bytes of the file in `buffer`
// and moves it when a byte outside is asked for; overwritten bytes live in
// the modification table, which is laid over every page read. Whole-file
// mode keeps the file in `buffer` and the window never moves; the table then
// only marks overwritten offsets for the display.
//
// The file is read with pread on the descriptor of Globals.fp, never through
// the stream's own buffer: saving writes through another descriptor of the
// same file, and a stale stdio buffer would show bytes that are no longer on
// disk.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "morvane.h"

mod_entry** mod_table = nullptr;
size_t mod_table_entries = 0;
bool fp_reads_other_file = false;

namespace {

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
    return Globals.file_state != 2 && !Globals.buffered;
}

void free_chain(mod_entry*& head) {
    while (head) {
        mod_entry* next = head->next;
        delete head;
        head = next;
    }
}

// Paged mode: the page capacity, with `buffer` made large enough for it.
uint64_t page_capacity() {
    if (Globals.buf_size <= 0) return 0;
    uint64_t cap = static_cast<uint64_t>(Globals.buf_size);
    if (buffer.size() < cap + 1) buffer.resize(cap + 1);
    return cap;
}

} // namespace

int get_byte_miss(uint64_t offset) {
    // Whole-file mode holds every valid offset; nothing lies outside.
    if (Globals.buffered) return 0;
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
            std::memset(out + done, 0, take); // what get_byte gives outside the data
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
    if (mod_table) {
        clear_mod_table();
        delete[] mod_table;
        mod_table = nullptr;
    }
    mod_table = new (std::nothrow) mod_entry*[MOD_TABLE_BUCKETS]();
    if (!mod_table) fatal_error("Not enough memory to create hash table\n", nullptr);
    mod_table_entries = 0;
}

void clear_mod_table() {
    if (!mod_table) return;
    for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
        free_chain(mod_table[b]);
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
    mod_entry* e = new (std::nothrow) mod_entry{offset, static_cast<unsigned char>(value), head};
    if (!e) fatal_error("Not enough memory", nullptr);
    head = e;
    ++mod_table_entries;
}

void mod_table_remove(uint64_t offset) {
    if (!mod_table) return;
    for (mod_entry** link = &mod_table[bucket_of(offset)]; *link; link = &(*link)->next) {
        if ((*link)->offset == offset) {
            mod_entry* gone = *link;
            *link = gone->next;
            delete gone;
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
    if (mod_table) {
        for (int b = 0; b < MOD_TABLE_BUCKETS; ++b) {
            for (mod_entry* e = mod_table[b]; e; e = e->next) {
                if (e->offset > static_cast<uint64_t>(INT64_MAX)) {
                    errno = EOVERFLOW;
                    return -1;
                }
                ssize_t put;
                do
                    put = pwrite(fd, &e->value, 1, static_cast<off_t>(e->offset));
                while (put < 0 && errno == EINTR);
                if (put < 0) return -1;
                if (put == 0) {
                    errno = EIO;
                    return -1;
                }
            }
        }
    }
    // The entries are the only copy of the edits: keep them until the
    // bytes are known to be on the disk.
    if (save_sync(fd) < 0) return -1;
    clear_mod_table();
    return 0;
}
