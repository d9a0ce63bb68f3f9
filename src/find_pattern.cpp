// find_pattern.cpp: the searches over the file, forwards and backwards, and
// what a text field searches for.
//
// A search runs over a count of bytes from a start offset, compares bytes
// exactly and sees modified bytes as they are shown (get_bytes lays the
// modification table over what it reads).
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

// File bytes are read in blocks of this size plus the pattern length - 1, so
// that a match straddling two blocks is seen whole in the second.
constexpr uint64_t search_block_bytes = uint64_t{1} << 20;

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

// Room for one block and the m - 1 bytes a straddling match needs; empty
// when there is no memory for it.
std::vector<unsigned char> search_block_buffer(uint64_t m, uint64_t count) {
    uint64_t block_cap = (search_block_bytes > m ? search_block_bytes : m) + (m - 1);
    if (block_cap > count) block_cap = count;
    std::vector<unsigned char> block;
    try {
        block.resize(block_cap);
    } catch (const std::exception&) {
        block.clear();
    }
    return block;
}

} // namespace

SearchResult find_pattern(const unsigned char* pattern, uint64_t start, uint64_t pattern_len,
                          uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;

    const uint64_t m = pattern_len;
    std::vector<unsigned char> block = search_block_buffer(m, count);
    if (block.empty()) return result; // no room for the window: reported as not found
    const uint64_t block_cap = block.size();
    const SearchNeedle needle = make_needle(pattern, m);

    // p: the next position (from `start`) where a match may begin; each block
    // starts there, so consecutive blocks overlap by less than m bytes.
    const uint64_t last_pos = count - m;
    LongWork work("Searching", count);
    uint64_t p = 0;
    while (p <= last_pos) {
        // Stopped with Escape: the search ends as if nothing were found.
        if (!work.keep_going(p)) return result;
        uint64_t n = count - p < block_cap ? count - p : block_cap;
        get_bytes(start + p, block.data(), n);
        bool found = false;
        uint64_t q = search_block(block.data(), n, needle, found);
        if (found) {
            result.found = 1;
            result.offset = p + q;
            return result;
        }
        if (q > last_pos - p) break; // also keeps p + q from wrapping
        p += q;
    }
    return result;
}

SearchResult find_pattern_backward(const unsigned char* pattern, uint64_t start,
                                   uint64_t pattern_len, uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;

    const uint64_t m = pattern_len;
    std::vector<unsigned char> block = search_block_buffer(m, count);
    if (block.empty()) return result;
    const uint64_t positions = block.size() - (m - 1); // window starts one block holds
    const SearchNeedle needle = make_needle(pattern, m);
    std::array<uint64_t, 256> back_shift;
    back_shift.fill(m);
    for (uint64_t j = m - 1; j >= 1; --j)
        back_shift[pattern[j]] = j;

    // Blocks from the end down; each holds the window starts lo .. hi and
    // the m - 1 bytes after hi, so a match is seen whole in one block.
    const uint64_t last_pos = count - m;
    LongWork work("Searching", count);
    uint64_t hi = last_pos;
    for (;;) {
        if (!work.keep_going(last_pos - hi)) return result;
        uint64_t lo = hi + 1 > positions ? hi + 1 - positions : 0;
        uint64_t n = hi - lo + m;
        get_bytes(start + lo, block.data(), n);
        bool found = false;
        uint64_t q = search_block_backward(block.data(), n, needle, back_shift, found);
        if (found) {
            result.found = 1;
            result.offset = lo + q;
            return result;
        }
        if (lo == 0) return result;
        hi = lo - 1;
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
