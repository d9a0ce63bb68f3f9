// find_pattern.cpp: the searches over the file, forwards and backwards, and
// what a text field searches for.
//
// A search runs over a count of bytes from a start offset, compares bytes
// exactly and sees modified bytes as they are shown (get_bytes lays the
// modification table over what it reads).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "morvane.h"

// ------------------------------------------------------------ pattern search

std::array<uint64_t, 256> search_shift_table(const unsigned char* pattern, uint64_t pattern_len) {
    std::array<uint64_t, 256> shift;
    shift.fill(pattern_len);
    for (uint64_t j = 0; j + 1 < pattern_len; ++j)
        shift[pattern[j]] = pattern_len - 1 - j;
    return shift;
}

namespace {

// File bytes are read in aligned blocks of this size, at offsets that are
// multiples of it; a match straddling two blocks is found by carrying the
// last pattern_len - 1 bytes of one in front of the next. 256 KiB measured
// best here: the block is still in the cache when it is scanned, and the
// read calls cost nothing beside the copying.
constexpr uint64_t search_block_bytes = uint64_t{256} << 10;

// How common a byte value is in ordinary files, 0 (rare) to 255: the rarest
// byte of the pattern is the one memchr looks for first.
constexpr std::array<unsigned char, 256> search_byte_commonness = [] {
    std::array<unsigned char, 256> c{};
    for (int b = 0; b < 256; ++b)
        c[b] = b < 0x20 ? 40 : (b < 0x7F ? 90 : 30);
    for (int b = 'A'; b <= 'Z'; ++b)
        c[b] = 110;
    for (int b = '0'; b <= '9'; ++b)
        c[b] = 130;
    const char* letters = "zqjxkvbpygfwmucldrhsnioate"; // rising English frequency
    for (int i = 0; letters[i]; ++i)
        c[static_cast<unsigned char>(letters[i])] = static_cast<unsigned char>(140 + 4 * i);
    c['\n'] = 200;
    c['\t'] = 150;
    c[0xFF] = 220;
    c[' '] = 250;
    c[0x00] = 255;
    return c;
}();

struct SearchNeedle {
    const unsigned char* bytes;
    uint64_t len;
    std::array<uint64_t, 256> shift;
    uint64_t guard; // index of the pattern's rarest byte
};

// Positions to look at in `block`: 0 .. block_len - needle.len. Returns the
// first position holding a match, or, when there is none, the first position
// past the block where the search goes on (the Horspool shift may carry
// beyond the block's last position). `found` tells which.
//
// Two exact scans share the work: memchr for the rarest pattern byte (very
// fast while that byte is rare in the data), and Horspool's shifts once
// memchr stops too often for it to pay. Neither skips a position that could
// hold a match, so the first match is the one a plain Horspool search finds.
uint64_t search_block(const unsigned char* block, uint64_t block_len, const SearchNeedle& n,
                      bool& found) {
    const uint64_t m = n.len;
    const uint64_t q_end = block_len - m; // last position whose window fits
    const unsigned char guard_byte = n.bytes[n.guard];
    const unsigned char last_byte = n.bytes[m - 1];
    found = false;

    uint64_t q = 0;
    uint64_t false_hits = 0;
    while (q <= q_end) {
        // Many stops per byte scanned: memchr no longer pays, switch.
        if (false_hits > 64 && false_hits * 16 > q) break;
        const void* hit = memchr(block + q + n.guard, guard_byte, q_end - q + 1);
        if (!hit) return q_end + 1;
        q = static_cast<uint64_t>(static_cast<const unsigned char*>(hit) - block) - n.guard;
        if (memcmp(block + q, n.bytes, m) == 0) {
            found = true;
            return q;
        }
        ++q;
        ++false_hits;
    }
    while (q <= q_end) {
        unsigned char b = block[q + m - 1];
        if (b == last_byte && memcmp(block + q, n.bytes, m - 1) == 0) {
            found = true;
            return q;
        }
        q += n.shift[b];
    }
    return q;
}

// The same two scans mirrored, for the last match in `block`: positions
// 0 .. block_len - needle.len are looked at from the last one down.
// `back_shift[b]`: how far a window whose first byte is b may move down.
uint64_t search_block_backward(const unsigned char* block, uint64_t block_len,
                               const SearchNeedle& n, const std::array<uint64_t, 256>& back_shift,
                               bool& found) {
    const uint64_t m = n.len;
    const uint64_t q_end = block_len - m;
    const unsigned char guard_byte = n.bytes[n.guard];
    found = false;

    uint64_t q = q_end;
    uint64_t false_hits = 0;
    for (;;) {
        if (false_hits > 64 && false_hits * 16 > q_end - q) break;
        const void* hit = memrchr(block + n.guard, guard_byte, q + 1);
        if (!hit) return 0;
        q = static_cast<uint64_t>(static_cast<const unsigned char*>(hit) - block) - n.guard;
        if (memcmp(block + q, n.bytes, m) == 0) {
            found = true;
            return q;
        }
        if (q == 0) return 0;
        --q;
        ++false_hits;
    }
    for (;;) {
        unsigned char b = block[q];
        if (b == n.bytes[0] && memcmp(block + q + 1, n.bytes + 1, m - 1) == 0) {
            found = true;
            return q;
        }
        if (back_shift[b] > q) return 0;
        q -= back_shift[b];
    }
}

SearchNeedle make_needle(const unsigned char* pattern, uint64_t m) {
    SearchNeedle needle{pattern, m, search_shift_table(pattern, m), 0};
    for (uint64_t j = 1; j < m; ++j)
        if (search_byte_commonness[pattern[j]] <= search_byte_commonness[pattern[needle.guard]])
            needle.guard = j;
    return needle;
}

// One aligned block and room for the bytes a straddling match needs,
// carried over from the neighbouring block: `room` bytes in front of the
// block (forwards) or after it (backwards), a whole number of pages so that
// the block itself stays page-aligned.
struct SearchBlocks {
    AlignedBytes memory;
    uint64_t room = 0;
    unsigned char* block() const { return memory.get() + room; }
};

SearchBlocks search_blocks(uint64_t m) {
    SearchBlocks b;
    const uint64_t page = io_page_size();
    b.room = (m - 1 + page - 1) / page * page;
    if (b.room > SIZE_MAX - search_block_bytes - b.room) return b;
    b.memory = aligned_bytes(static_cast<size_t>(b.room + search_block_bytes + b.room));
    return b;
}

} // namespace

SearchResult find_pattern(const unsigned char* pattern, uint64_t start, uint64_t pattern_len,
                          uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;
    if (count - 1 > UINT64_MAX - start) count = UINT64_MAX - start + 1; // no byte past 2^64 - 1

    const uint64_t m = pattern_len;
    SearchBlocks blocks = search_blocks(m);
    if (!blocks.memory) return result; // no room for the blocks: reported as not found
    unsigned char* const block = blocks.block();
    const SearchNeedle needle = make_needle(pattern, m);

    // Blocks end at multiples of the block size; the first is read from the
    // page that holds `start`. `carried` bytes, the window starts from p on
    // that the last block could not hold whole (fewer than m), lie in front
    // of the block.
    const uint64_t last = start + (count - 1);
    const uint64_t last_pos = count - m; // p: window starts, counted from `start`
    LongWork work("Searching", count);
    uint64_t p = 0;
    uint64_t from = align_down(start, io_page_size());
    uint64_t carried = 0;
    for (;;) {
        // Stopped with Escape: the search ends as if nothing were found.
        if (!work.keep_going(p)) return result;
        const uint64_t block_end = align_down(from, search_block_bytes) + (search_block_bytes - 1);
        const uint64_t to = std::min(block_end, last);
        const auto n = static_cast<size_t>(to - from + 1);
        get_bytes(from, block, n);
        const unsigned char* region = block - carried; // file offsets from - carried .. to
        const uint64_t skip = start + p - (from - carried);
        const uint64_t len = carried + n - skip; // the bytes from p on
        if (len >= m) {
            bool found = false;
            const uint64_t q = search_block(region + skip, len, needle, found);
            if (found) {
                result.found = 1;
                result.offset = p + q;
                return result;
            }
            p += q; // at most `len`: the shift ends within the block's end
        }
        if (to == last || p > last_pos) return result;
        const uint64_t keep = to + 1 - (start + p);
        assert(keep < m && keep <= blocks.room && "search: a carry longer than a match");
        memmove(block - keep, region + (carried + n - keep), static_cast<size_t>(keep));
        carried = keep;
        from = to + 1;
    }
}

SearchResult find_pattern_backward(const unsigned char* pattern, uint64_t start,
                                   uint64_t pattern_len, uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;
    if (count - 1 > UINT64_MAX - start) count = UINT64_MAX - start + 1;

    const uint64_t m = pattern_len;
    SearchBlocks blocks = search_blocks(m);
    if (!blocks.memory) return result;
    unsigned char* const block = blocks.block();
    const SearchNeedle needle = make_needle(pattern, m);
    std::array<uint64_t, 256> back_shift;
    back_shift.fill(m);
    for (uint64_t j = m - 1; j >= 1; --j)
        back_shift[pattern[j]] = j;

    // Blocks from the end down, each starting at a multiple of the block
    // size (the lowest at the page that holds `start`). The first m - 1
    // bytes of a block are carried behind the next one down, so that a match
    // across their boundary is seen whole there; the room in front of the
    // block holds them while it is read.
    const uint64_t last = start + (count - 1);
    const uint64_t lowest = align_down(start, io_page_size());
    LongWork work("Searching", count);
    uint64_t from = std::max(align_down(last, search_block_bytes), lowest);
    uint64_t to = last;
    uint64_t carried = 0;
    for (;;) {
        if (!work.keep_going(last - to)) return result;
        const auto n = static_cast<size_t>(to - from + 1);
        if (carried) memcpy(blocks.memory.get(), block, static_cast<size_t>(carried));
        get_bytes(from, block, n);
        if (carried) memcpy(block + n, blocks.memory.get(), static_cast<size_t>(carried));
        const uint64_t lo = std::max(from, start);
        const uint64_t len = n + carried - (lo - from); // file offsets lo .. to + carried
        if (len >= m) {
            bool found = false;
            const uint64_t q =
                search_block_backward(block + (lo - from), len, needle, back_shift, found);
            if (found) {
                result.found = 1;
                result.offset = lo - start + q;
                return result;
            }
        }
        if (from <= start) return result;
        carried = std::min<uint64_t>(m - 1, n + carried);
        to = from - 1;
        from = std::max(from - search_block_bytes, lowest);
    }
}

// ------------------------------------------------------------ text patterns

TextPattern text_search_pattern(const std::string& field, int ebcdic) {
    TextPattern result;
    size_t end = field.find('\0');
    if (end == std::string::npos) end = field.size();
    size_t trimmed = end;
    while (trimmed > 0 && field[trimmed - 1] == ' ')
        --trimmed;
    result.only_blanks = trimmed == 0 && end > 0;
    result.bytes.reserve(trimmed);
    for (size_t i = 0; i < trimmed; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (ebcdic) {
            // Codes of 128 and above have no EBCDIC byte; the field refuses
            // them while EBCDIC is on, so this only guards the table.
            if (c >= ascii_to_ebcdic.size()) break;
            c = ascii_to_ebcdic[c];
            if (c == 0) break; // '.' has no EBCDIC letter: the pattern ends there
        }
        result.bytes.push_back(c);
    }
    return result;
}
