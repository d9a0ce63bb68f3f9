// find_pattern.cpp: the forward search over the file, and what a text
// field searches for.
//
// The search runs forwards from a start offset over a count of bytes,
// compares bytes exactly and sees modified bytes as they are shown
// (get_bytes lays the modification table over what it reads).
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

} // namespace

SearchResult find_pattern(const unsigned char* pattern, uint64_t start, uint64_t pattern_len,
                          uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;

    const uint64_t m = pattern_len;
    uint64_t block_cap = (search_block_bytes > m ? search_block_bytes : m) + (m - 1);
    if (block_cap > count) block_cap = count;
    std::vector<unsigned char> block;
    try {
        block.resize(block_cap);
    } catch (const std::exception&) {
        return result; // no room for the window: reported as not found
    }

    SearchNeedle needle{pattern, m, search_shift_table(pattern, m), 0};
    for (uint64_t j = 1; j < m; ++j)
        if (search_byte_commonness[pattern[j]] <= search_byte_commonness[pattern[needle.guard]])
            needle.guard = j;

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
