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
    uint64_t guard;  // index of the pattern's rarest byte
    uint64_t guard2; // the rarest at another index (the same when the length is 1)
};

// The pair scan: two bytes of the pattern (its guards) compared against W
// window starts at once in vector registers (W = 16: SSE2, NEON; W = 32:
// AVX2, where the processor has it). Random data holds both guards at one
// position in 65536.
struct PairStep {
    uint64_t q; // where the scan stopped, or the match
    int state;  // 0: go on from q; 1: a match at q; 2: none down to position 0
};

// W bytes in one vector (concrete types: GCC drops a vector_size that
// depends on a template argument).
template <size_t W> struct LaneVector;
template <> struct LaneVector<16> { using type = unsigned char __attribute__((vector_size(16))); };
template <> struct LaneVector<32> { using type = unsigned char __attribute__((vector_size(32))); };

// Whether any of the W window starts from `at` holds both guard bytes;
// `hits` receives which (non-zero per lane).
template <size_t W>
inline bool pair_lanes(const unsigned char* at, const SearchNeedle& n, unsigned char (&hits)[W]) {
    using Lanes = typename LaneVector<W>::type;
    Lanes a;
    Lanes b;
    memcpy(&a, at + n.guard, sizeof a);
    memcpy(&b, at + n.guard2, sizeof b);
    const auto eq = (a == n.bytes[n.guard]) & (b == n.bytes[n.guard2]);
    uint64_t words[W / 8];
    memcpy(words, &eq, sizeof words);
    uint64_t any = 0;
    for (uint64_t w : words)
        any |= w;
    if (any == 0) return false;
    memcpy(hits, &eq, sizeof hits);
    return true;
}

// Whether any of the 4 W window starts from `at` may hold both guards: four
// compares OR-ed before one test, for the test (the vector taken apart into
// words) costs more than the compares; on random data it took the scan of a
// block in cache from about the copy's time to a sixth of it.
template <size_t W> inline bool pair_any4(const unsigned char* at, const SearchNeedle& n) {
    using Lanes = typename LaneVector<W>::type;
    // One variable per load: an array of vectors is copied through the stack.
    Lanes a0, a1, a2, a3, b0, b1, b2, b3;
    const unsigned char* a = at + n.guard;
    const unsigned char* b = at + n.guard2;
    memcpy(&a0, a, W);
    memcpy(&a1, a + W, W);
    memcpy(&a2, a + 2 * W, W);
    memcpy(&a3, a + 3 * W, W);
    memcpy(&b0, b, W);
    memcpy(&b1, b + W, W);
    memcpy(&b2, b + 2 * W, W);
    memcpy(&b3, b + 3 * W, W);
    const unsigned char g1 = n.bytes[n.guard];
    const unsigned char g2 = n.bytes[n.guard2];
    const auto eq = ((a0 == g1) & (b0 == g2)) | ((a1 == g1) & (b1 == g2)) |
                    ((a2 == g1) & (b2 == g2)) | ((a3 == g1) & (b3 == g2));
    uint64_t words[W / 8];
    memcpy(words, &eq, sizeof words);
    uint64_t any = 0;
    for (uint64_t w : words)
        any |= w;
    return any != 0;
}

// Many candidates per position scanned: the pair scan no longer pays, and
// Horspool takes over (the pattern's bytes are common in the data).
inline bool pair_scan_pays(uint64_t candidates, uint64_t scanned) {
    return candidates <= 64 || candidates * 8 <= scanned;
}

// Window starts from q up to q_end, while W of them remain.
template <size_t W>
inline PairStep pair_scan_forward(const unsigned char* block, uint64_t q, uint64_t q_end,
                                  const SearchNeedle& n) {
    const uint64_t from = q;
    uint64_t candidates = 0;
    while (q <= q_end && q_end - q >= W - 1 && pair_scan_pays(candidates, q - from)) {
        // Four vectors at a time while they fit, each looked into only
        // when the four together hold a candidate.
        const uint64_t vectors = q_end - q >= 4 * W - 1 ? 4 : 1;
        if (vectors == 4 && !pair_any4<W>(block + q, n)) {
            q += 4 * W;
            continue;
        }
        for (uint64_t k = 0; k < vectors; ++k, q += W) {
            unsigned char hits[W];
            if (!pair_lanes<W>(block + q, n, hits)) continue;
            for (uint64_t i = 0; i < W; ++i) {
                if (!hits[i]) continue;
                ++candidates;
                if (memcmp(block + q + i, n.bytes, n.len) == 0) return {q + i, 1};
            }
        }
    }
    return {q, 0};
}

// Window starts from q down to 0, while W of them remain.
template <size_t W>
inline PairStep pair_scan_backward(const unsigned char* block, uint64_t q, const SearchNeedle& n) {
    const uint64_t from = q;
    uint64_t candidates = 0;
    while (q >= W - 1 && pair_scan_pays(candidates, from - q)) {
        const uint64_t vectors = q >= 4 * W - 1 ? 4 : 1;
        if (vectors == 4 && !pair_any4<W>(block + q - (4 * W - 1), n)) {
            if (q == 4 * W - 1) return {0, 2};
            q -= 4 * W;
            continue;
        }
        for (uint64_t k = 0; k < vectors; ++k) {
            const uint64_t low = q - (W - 1);
            unsigned char hits[W];
            if (pair_lanes<W>(block + low, n, hits)) {
                for (uint64_t i = W; i-- > 0;) {
                    if (!hits[i]) continue;
                    ++candidates;
                    if (memcmp(block + low + i, n.bytes, n.len) == 0) return {low + i, 1};
                }
            }
            if (low == 0) return {0, 2};
            q = low - 1;
        }
    }
    return {q, 0};
}

// x86-64 without AVX2 in its baseline: the 32-lane scans are built for AVX2
// apart and chosen at run time (as 16 lanes they run at half the speed).
#if defined(__x86_64__) && !defined(__AVX2__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx2"))) PairStep pair_forward_avx2(const unsigned char* block, uint64_t q,
                                                           uint64_t q_end, const SearchNeedle& n) {
    return pair_scan_forward<32>(block, q, q_end, n);
}
__attribute__((target("avx2"))) PairStep pair_backward_avx2(const unsigned char* block, uint64_t q,
                                                            const SearchNeedle& n) {
    return pair_scan_backward<32>(block, q, n);
}
bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
PairStep pair_forward(const unsigned char* block, uint64_t q, uint64_t q_end,
                      const SearchNeedle& n) {
    return has_avx2() ? pair_forward_avx2(block, q, q_end, n)
                      : pair_scan_forward<16>(block, q, q_end, n);
}
PairStep pair_backward(const unsigned char* block, uint64_t q, const SearchNeedle& n) {
    return has_avx2() ? pair_backward_avx2(block, q, n) : pair_scan_backward<16>(block, q, n);
}
#else
#if defined(__AVX2__)
constexpr size_t pair_width = 32;
#else
constexpr size_t pair_width = 16;
#endif
PairStep pair_forward(const unsigned char* block, uint64_t q, uint64_t q_end,
                      const SearchNeedle& n) {
    return pair_scan_forward<pair_width>(block, q, q_end, n);
}
PairStep pair_backward(const unsigned char* block, uint64_t q, const SearchNeedle& n) {
    return pair_scan_backward<pair_width>(block, q, n);
}
#endif

// Positions to look at in `block`: 0 .. block_len - needle.len. Returns the
// first position holding a match, or, when there is none, the first position
// past the block where the search goes on (the Horspool shift may carry
// beyond the block's last position). `found` tells which.
//
// Three exact scans share the work: memchr for the rarest pattern byte (very
// fast while that byte is rare in the data); once memchr stops too often to
// pay, the pair scan, which compares two pattern bytes against 32 positions
// at once (random data: one candidate in 65536 positions); and Horspool's
// shifts where even that finds too many candidates, and for the last few
// positions. None skips a position that could hold a match, so the first
// match is the one a plain Horspool search finds.
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
        if (false_hits > 16 && false_hits * 1024 > q) break;
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
    const PairStep step = pair_forward(block, q, q_end, n);
    if (step.state == 1) {
        found = true;
        return step.q;
    }
    q = step.q;
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
        if (false_hits > 16 && false_hits * 1024 > q_end - q) break;
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
    const PairStep step = pair_backward(block, q, n);
    if (step.state == 2) return 0;
    if (step.state == 1) {
        found = true;
        return step.q;
    }
    q = step.q;
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
    SearchNeedle needle{pattern, m, search_shift_table(pattern, m), 0, 0};
    for (uint64_t j = 1; j < m; ++j)
        if (search_byte_commonness[pattern[j]] <= search_byte_commonness[pattern[needle.guard]])
            needle.guard = j;
    // The second guard: the rarest other byte, a different value if there is
    // one (two equal bytes say less about a window than two different ones).
    auto rank = [&](uint64_t j) {
        return search_byte_commonness[pattern[j]] + (pattern[j] == pattern[needle.guard] ? 256 : 0);
    };
    needle.guard2 = needle.guard == 0 && m > 1 ? 1 : 0;
    for (uint64_t j = 0; j < m; ++j)
        if (j != needle.guard && rank(j) < rank(needle.guard2)) needle.guard2 = j;
    return needle;
}

} // namespace

SearchBlocks search_blocks(uint64_t m) {
    SearchBlocks b;
    const uint64_t page = io_page_size();
    b.room = (m - 1 + page - 1) / page * page;
    if (b.room > SIZE_MAX - search_block_bytes - b.room) return b;
    b.memory = aligned_bytes(static_cast<size_t>(b.room + search_block_bytes + b.room));
    return b;
}

unsigned search_byte_rank(unsigned char b) {
    return search_byte_commonness[b];
}

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
