// pattern.cpp: the patterns of Find and Replace, read from the text of a
// field, and the searches for them over the file.
//
// Byte i of a match is any byte b with (b & mask[i]) == value[i]. A search
// finds candidates by one or two "guard" bytes of the pattern (its most
// specific and rarest bytes) and checks each candidate whole with the masks.
// Like find_pattern.cpp it reads the bytes as shown (get_bytes) in aligned
// blocks and carries a straddling match's bytes into the next block.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "morvane.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// ------------------------------------------------------------ reading

// One rule for every form: the field shows at most this many bytes.
constexpr size_t pattern_max_bytes = 64;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_ascii_letter(uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<BytePattern> refuse(std::string& why, std::string reason) {
    why = std::move(reason);
    return std::nullopt;
}

// Pairs of hex digits, blanks between pairs optional, ?? for any byte.
std::optional<BytePattern> read_hex_form(std::string_view s, bool wildcards, std::string& why) {
    BytePattern p;
    int high = -1; // the first digit of a pair whose second is awaited
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (is_blank(c)) {
            if (high >= 0) return refuse(why, "Hex digits come in pairs");
            continue;
        }
        if (c == '?') {
            if (high >= 0) return refuse(why, "Hex digits come in pairs");
            if (i + 1 >= s.size() || s[i + 1] != '?') return refuse(why, "Use ?? for any byte");
            if (!wildcards) return refuse(why, "?? not allowed here");
            ++i;
            p.value.push_back(0);
            p.mask.push_back(0);
        } else {
            const int d = hex_digit_value(c);
            if (d < 0) {
                if (c > ' ' && c < 0x7F) return refuse(why, std::string("Not a hex digit: ") + c);
                return refuse(why, "Not a hex digit");
            }
            if (high < 0) {
                high = d;
                continue;
            }
            p.value.push_back(static_cast<unsigned char>(high * 16 + d));
            p.mask.push_back(0xFF);
            high = -1;
        }
        if (p.size() > pattern_max_bytes) return refuse(why, "At most 64 bytes");
    }
    if (high >= 0) return refuse(why, "Hex digits come in pairs");
    return p;
}

// The code points of UTF-8 text; false at anything that is not UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
bool utf8_code_points(std::string_view s, std::vector<uint32_t>& out) {
    for (size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        int more = 0;
        uint32_t c = b0;
        uint32_t least = 0;
        if (b0 >= 0xF0 && b0 <= 0xF4) {
            more = 3, c = b0 & 0x07u, least = 0x10000;
        } else if ((b0 & 0xF0) == 0xE0) {
            more = 2, c = b0 & 0x0Fu, least = 0x800;
        } else if ((b0 & 0xE0) == 0xC0) {
            more = 1, c = b0 & 0x1Fu, least = 0x80;
        } else if (b0 >= 0x80) {
            return false;
        }
        if (s.size() - i <= static_cast<size_t>(more)) return false;
        for (int k = 1; k <= more; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            c = c << 6 | (b & 0x3Fu);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out.push_back(c);
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

// Text between double quotes (\" and \\ inside, no other escape), then i
// (ignore the case of ASCII letters) and w or wb (UTF-16LE, UTF-16BE) in any
// order.
std::optional<BytePattern> read_text_form(std::string_view s, bool wildcards, bool empty_ok,
                                          std::string& why) {
    std::string text;
    size_t i = 1; // past the opening quote
    for (;; ++i) {
        if (i >= s.size()) return refuse(why, "Text must end with a quote");
        char c = s[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i >= s.size()) return refuse(why, "Text must end with a quote");
            c = s[i];
            if (c != '"' && c != '\\') return refuse(why, R"(After \ only " or \)");
        }
        text += c;
    }
    bool ignore_case = false;
    int wide = 0; // 0: the bytes typed; 1: UTF-16LE; 2: UTF-16BE
    for (++i; i < s.size(); ++i) {
        const char c = lower(s[i]);
        if (is_blank(c)) continue;
        if (c == '"') return refuse(why, "One pattern per field");
        if (c == 'i') {
            if (ignore_case) return refuse(why, "i given twice");
            ignore_case = true;
        } else if (c == 'w') {
            if (wide) return refuse(why, "w given twice");
            wide = 1;
            if (i + 1 < s.size() && lower(s[i + 1]) == 'b') wide = 2, ++i;
        } else {
            return refuse(why, "After the text only i, w or wb");
        }
    }
    if (ignore_case && !wildcards) return refuse(why, "i not allowed here");

    BytePattern p;
    auto put = [&](uint32_t byte, bool letter) {
        const auto b = static_cast<unsigned char>(byte);
        const unsigned char mask = ignore_case && letter ? 0xDF : 0xFF;
        p.value.push_back(b & mask);
        p.mask.push_back(mask);
    };
    if (!wide) {
        // Taken as typed: a text pattern is the field's own bytes.
        for (const char c : text)
            put(static_cast<unsigned char>(c), is_ascii_letter(static_cast<unsigned char>(c)));
    } else {
        std::vector<uint32_t> code_points;
        if (!utf8_code_points(text, code_points)) return refuse(why, "Text is not valid UTF-8");
        for (const uint32_t c : code_points) {
            uint32_t units[2] = {c, 0};
            int n = 1;
            if (c > 0xFFFF) {
                units[0] = 0xD800 + ((c - 0x10000) >> 10);
                units[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
                n = 2;
            }
            for (int k = 0; k < n; ++k) {
                const bool letter = is_ascii_letter(c);
                if (wide == 1) {
                    put(units[k] & 0xFF, letter);
                    put(units[k] >> 8, false);
                } else {
                    put(units[k] >> 8, false);
                    put(units[k] & 0xFF, letter);
                }
            }
        }
    }
    if (p.size() == 0 && !empty_ok) return refuse(why, "Text is empty");
    if (p.size() > pattern_max_bytes) return refuse(why, "At most 64 bytes");
    return p;
}

struct NumberType {
    const char* name;
    unsigned bytes;
    char kind; // 'u' unsigned, 'i' signed, 'f' floating point
};
constexpr NumberType number_types[] = {
    {"u8", 1, 'u'},  {"u16", 2, 'u'}, {"u32", 4, 'u'}, {"u64", 8, 'u'}, {"i8", 1, 'i'},
    {"i16", 2, 'i'}, {"i32", 4, 'i'}, {"i64", 8, 'i'}, {"f32", 4, 'f'}, {"f64", 8, 'f'},
};

// An integer in decimal or 0x hex, '-' only before a signed type's value:
// its bits in two's complement. Null, or a reason; "" when it does not fit.
const char* read_integer(std::string_view v, const NumberType& t, uint64_t& bits) {
    const bool negative = !v.empty() && v.front() == '-';
    if (negative) v.remove_prefix(1);
    unsigned base = 10;
    if (v.size() >= 2 && v[0] == '0' && lower(v[1]) == 'x') {
        base = 16;
        v.remove_prefix(2);
    }
    if (v.empty()) return "Not a number";
    uint64_t magnitude = 0;
    bool too_big = false;
    for (const char c : v) {
        const int d = base == 16 ? hex_digit_value(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) return "Not a number";
        const auto digit = static_cast<uint64_t>(d);
        if (magnitude > (UINT64_MAX - digit) / base)
            too_big = true;
        else
            magnitude = magnitude * base + digit;
    }
    const unsigned width = 8 * t.bytes;
    bool fits = false;
    if (t.kind == 'u') {
        fits = !negative && (width == 64 || magnitude < (uint64_t{1} << width));
    } else {
        const uint64_t limit = uint64_t{1} << (width - 1); // the magnitude of the least value
        fits = negative ? magnitude <= limit : magnitude < limit;
    }
    if (too_big || !fits) return "";
    bits = negative ? 0 - magnitude : magnitude;
    return nullptr;
}

// Decimal with an optional fraction and exponent: what strtod may read.
// Its hex floats, inf and nan are refused before it sees them.
bool is_plain_decimal(std::string_view v) {
    size_t i = 0;
    if (i < v.size() && v[i] == '-') ++i;
    size_t digits = 0;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9')
        ++i, ++digits;
    if (i < v.size() && v[i] == '.') {
        ++i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < v.size() && lower(v[i]) == 'e') {
        ++i;
        if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
        size_t exponent = 0;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9')
            ++i, ++exponent;
        if (exponent == 0) return false;
    }
    return i == v.size();
}

// A float's bits; null, or a reason ("" when it does not fit). A value too
// large for the type, or one that is not zero but becomes zero, does not
// fit; one that becomes subnormal does.
const char* read_float(std::string_view v, const NumberType& t, uint64_t& bits) {
    if (!is_plain_decimal(v)) return "Not a number";
    const std::string text(v); // the C library reads up to a terminating zero
    char* end = nullptr;
    errno = 0;
    if (t.bytes == 4) {
        const float f = strtof(text.c_str(), &end);
        if (errno == ERANGE && (std::isinf(f) || f == 0)) return "";
        bits = std::bit_cast<uint32_t>(f);
    } else {
        const double d = strtod(text.c_str(), &end);
        if (errno == ERANGE && (std::isinf(d) || d == 0)) return "";
        bits = std::bit_cast<uint64_t>(d);
    }
    if (end != text.c_str() + text.size()) return "Not a number";
    return nullptr;
}

// type[le|be]:value, little-endian unless told.
std::optional<BytePattern> read_number_form(std::string_view s, std::string& why) {
    const size_t colon = s.find(':');
    std::string type;
    for (const char c : trim_blanks(s.substr(0, colon)))
        type += lower(c);
    const std::string_view value = trim_blanks(s.substr(colon + 1));
    bool big_endian = false;
    if (type.size() > 2 && (type.ends_with("le") || type.ends_with("be"))) {
        big_endian = type.ends_with("be");
        type.resize(type.size() - 2);
    }
    const NumberType* t = nullptr;
    for (const NumberType& known : number_types)
        if (type == known.name) t = &known;
    if (!t) return refuse(why, "Unknown type");
    if (value.empty()) return refuse(why, "No value after the colon");
    uint64_t bits = 0;
    const char* problem =
        t->kind == 'f' ? read_float(value, *t, bits) : read_integer(value, *t, bits);
    if (problem)
        return refuse(why, *problem ? problem : std::string("Value does not fit ") + t->name);
    BytePattern p;
    for (unsigned k = 0; k < t->bytes; ++k) {
        const unsigned shift = 8 * (big_endian ? t->bytes - 1 - k : k);
        p.value.push_back(static_cast<unsigned char>(bits >> shift));
        p.mask.push_back(0xFF);
    }
    return p;
}

} // namespace

std::optional<BytePattern> read_pattern(std::string_view text, bool wildcards, bool empty_ok,
                                        std::string& why) {
    why.clear();
    const std::string_view s = trim_blanks(text);
    std::optional<BytePattern> p;
    if (!s.empty() && s.front() == '"')
        p = read_text_form(s, wildcards, empty_ok, why);
    else if (s.find(':') != std::string_view::npos)
        p = read_number_form(s, why);
    else
        p = read_hex_form(s, wildcards, why);
    if (p && p->size() == 0 && !empty_ok) return refuse(why, "No bytes given");
    return p;
}

namespace {

// ------------------------------------------------------------ the matcher

// The two guard bytes: window start q is a candidate when
// (block[q + off1] & m1) == v1 and (block[q + off2] & m2) == v2.
struct Guards {
    uint64_t off1 = 0, off2 = 0;
    unsigned char v1 = 0, m1 = 0, v2 = 0, m2 = 0;
};

// How likely a pattern byte is to match a byte of ordinary data: lower is
// rarer. An exact byte beats a letter in either case, which beats any other
// mask; ?? is never a guard.
unsigned guard_rank(unsigned char value, unsigned char mask) {
    if (mask == 0xFF) return search_byte_rank(value);
    if (mask == 0xDF)
        return 256 + std::max(search_byte_rank(value), search_byte_rank(value | 0x20));
    if (mask == 0) return UINT_MAX;
    return 512 + 16 * static_cast<unsigned>(8 - std::popcount(mask));
}

struct MaskedNeedle {
    uint64_t m = 0;
    std::vector<unsigned char> value, mask;
    // Whole checks compare 8-byte words: at these offsets (the last one may
    // overlap the one before), words of ?? bytes left out.
    std::vector<uint64_t> word_at, word_value, word_mask;
    Guards g;
    bool exact_guard = false; // the first guard is an exact byte: memchr finds it
    bool any_byte = false;    // every byte is ??: a match at every window start
    bool never = false;       // a value has bits outside its mask: no match anywhere

    explicit MaskedNeedle(const BytePattern& p) : m(p.size()), value(p.value), mask(p.mask) {
        assert(p.value.size() == p.mask.size() && "pattern: value and mask differ in length");
        any_byte = true;
        for (uint64_t i = 0; i < m; ++i) {
            if (value[i] & ~mask[i]) never = true;
            if (mask[i]) any_byte = false;
        }
        if (m >= 8) {
            for (uint64_t at = 0; at < m; at += 8)
                add_word(std::min(at, m - 8));
        }
        choose_guards();
    }

    void add_word(uint64_t at) {
        uint64_t v = 0;
        uint64_t k = 0;
        memcpy(&v, value.data() + at, 8);
        memcpy(&k, mask.data() + at, 8);
        if (k == 0) return;
        word_at.push_back(at);
        word_value.push_back(v);
        word_mask.push_back(k);
    }

    void choose_guards() {
        if (any_byte || m == 0) return;
        uint64_t first = 0;
        for (uint64_t i = 1; i < m; ++i)
            if (guard_rank(value[i], mask[i]) <= guard_rank(value[first], mask[first])) first = i;
        // The second: the rarest at another index, preferring another byte
        // (two equal bytes say less about a window than two different ones).
        auto rank = [&](uint64_t i) -> uint64_t {
            if (mask[i] == 0) return UINT64_MAX;
            const bool same = value[i] == value[first] && mask[i] == mask[first];
            return guard_rank(value[i], mask[i]) + (same ? 1024 : 0);
        };
        uint64_t second = first;
        for (uint64_t i = 0; i < m; ++i)
            if (i != first && rank(i) != UINT64_MAX && (second == first || rank(i) < rank(second)))
                second = i;
        g = {first, second, value[first], mask[first], value[second], mask[second]};
        exact_guard = mask[first] == 0xFF;
    }

    bool matches(const unsigned char* w) const {
        if (m < 8) {
            for (uint64_t i = 0; i < m; ++i)
                if ((w[i] & mask[i]) != value[i]) return false;
            return true;
        }
        for (size_t k = 0; k < word_at.size(); ++k) {
            uint64_t x = 0;
            memcpy(&x, w + word_at[k], 8);
            if ((x & word_mask[k]) != word_value[k]) return false;
        }
        return true;
    }
};

// The pair scan: 64 window starts at a time, both guards compared in vector
// registers into a bit mask of candidates with no early exit, so that the
// compiler's loop stays branch-free until a run holds a candidate.
// pair_hits_forward: the first run of 64 starts from q on (while 64 remain up
// to q_end) with a candidate; its first start, its bits in `hits`; else
// where fewer than 64 remain, `hits` 0. pair_hits_backward: runs ending at q,
// q - 64, ...; the lowest start of the first with a candidate, else what is
// left below them (fewer than 64 starts: at most 62, -1 when none).

#if defined(__x86_64__)

inline uint64_t lanes16(const unsigned char* a, const unsigned char* b, __m128i v1, __m128i m1,
                        __m128i v2, __m128i m2) {
    uint64_t h = 0;
    for (size_t k = 0; k < 4; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
        const __m128i e = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(x, m1), v1),
                                        _mm_cmpeq_epi8(_mm_and_si128(y, m2), v2));
        h |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(e))) << (16 * k);
    }
    return h;
}

uint64_t pair_hits_forward_sse2(const unsigned char* block, uint64_t q, uint64_t q_end,
                                const Guards& g, uint64_t& hits) {
    const __m128i v1 = _mm_set1_epi8(static_cast<char>(g.v1));
    const __m128i m1 = _mm_set1_epi8(static_cast<char>(g.m1));
    const __m128i v2 = _mm_set1_epi8(static_cast<char>(g.v2));
    const __m128i m2 = _mm_set1_epi8(static_cast<char>(g.m2));
    for (; q <= q_end && q_end - q >= 63; q += 64) {
        hits = lanes16(block + q + g.off1, block + q + g.off2, v1, m1, v2, m2);
        if (hits) return q;
    }
    hits = 0;
    return q;
}

int64_t pair_hits_backward_sse2(const unsigned char* block, int64_t q, const Guards& g,
                                uint64_t& hits) {
    const __m128i v1 = _mm_set1_epi8(static_cast<char>(g.v1));
    const __m128i m1 = _mm_set1_epi8(static_cast<char>(g.m1));
    const __m128i v2 = _mm_set1_epi8(static_cast<char>(g.v2));
    const __m128i m2 = _mm_set1_epi8(static_cast<char>(g.m2));
    for (; q >= 63; q -= 64) {
        const unsigned char* low = block + (q - 63);
        hits = lanes16(low + g.off1, low + g.off2, v1, m1, v2, m2);
        if (hits) return q - 63;
    }
    hits = 0;
    return q;
}

__attribute__((target("avx2"))) inline uint64_t lanes32(const unsigned char* a,
                                                        const unsigned char* b, __m256i v1,
                                                        __m256i m1, __m256i v2, __m256i m2) {
    const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 32));
    const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32));
    const __m256i e0 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(x0, m1), v1),
                                        _mm256_cmpeq_epi8(_mm256_and_si256(y0, m2), v2));
    const __m256i e1 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(x1, m1), v1),
                                        _mm256_cmpeq_epi8(_mm256_and_si256(y1, m2), v2));
    return static_cast<uint32_t>(_mm256_movemask_epi8(e0)) |
           static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(e1))) << 32;
}

__attribute__((target("avx2"))) uint64_t pair_hits_forward_avx2(const unsigned char* block,
                                                                uint64_t q, uint64_t q_end,
                                                                const Guards& g, uint64_t& hits) {
    const __m256i v1 = _mm256_set1_epi8(static_cast<char>(g.v1));
    const __m256i m1 = _mm256_set1_epi8(static_cast<char>(g.m1));
    const __m256i v2 = _mm256_set1_epi8(static_cast<char>(g.v2));
    const __m256i m2 = _mm256_set1_epi8(static_cast<char>(g.m2));
    for (; q <= q_end && q_end - q >= 63; q += 64) {
        hits = lanes32(block + q + g.off1, block + q + g.off2, v1, m1, v2, m2);
        if (hits) return q;
    }
    hits = 0;
    return q;
}

__attribute__((target("avx2"))) int64_t
pair_hits_backward_avx2(const unsigned char* block, int64_t q, const Guards& g, uint64_t& hits) {
    const __m256i v1 = _mm256_set1_epi8(static_cast<char>(g.v1));
    const __m256i m1 = _mm256_set1_epi8(static_cast<char>(g.m1));
    const __m256i v2 = _mm256_set1_epi8(static_cast<char>(g.v2));
    const __m256i m2 = _mm256_set1_epi8(static_cast<char>(g.m2));
    for (; q >= 63; q -= 64) {
        const unsigned char* low = block + (q - 63);
        hits = lanes32(low + g.off1, low + g.off2, v1, m1, v2, m2);
        if (hits) return q - 63;
    }
    hits = 0;
    return q;
}

// SSE2 is in every x86-64; AVX2, twice as wide, where the processor has it.
bool cpu_has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

uint64_t pair_hits_forward(const unsigned char* block, uint64_t q, uint64_t q_end, const Guards& g,
                           uint64_t& hits) {
    return cpu_has_avx2() ? pair_hits_forward_avx2(block, q, q_end, g, hits)
                          : pair_hits_forward_sse2(block, q, q_end, g, hits);
}

int64_t pair_hits_backward(const unsigned char* block, int64_t q, const Guards& g, uint64_t& hits) {
    return cpu_has_avx2() ? pair_hits_backward_avx2(block, q, g, hits)
                          : pair_hits_backward_sse2(block, q, g, hits);
}

#else

// Elsewhere a plain loop with no early exit, for the compiler to vectorize.
inline uint64_t lanes_plain(const unsigned char* a, const unsigned char* b, const Guards& g) {
    uint64_t h = 0;
    for (unsigned i = 0; i < 64; ++i)
        h |= static_cast<uint64_t>(((a[i] & g.m1) == g.v1) & ((b[i] & g.m2) == g.v2)) << i;
    return h;
}

uint64_t pair_hits_forward(const unsigned char* block, uint64_t q, uint64_t q_end, const Guards& g,
                           uint64_t& hits) {
    for (; q <= q_end && q_end - q >= 63; q += 64) {
        hits = lanes_plain(block + q + g.off1, block + q + g.off2, g);
        if (hits) return q;
    }
    hits = 0;
    return q;
}

int64_t pair_hits_backward(const unsigned char* block, int64_t q, const Guards& g, uint64_t& hits) {
    for (; q >= 63; q -= 64) {
        const unsigned char* low = block + (q - 63);
        hits = lanes_plain(low + g.off1, low + g.off2, g);
        if (hits) return q - 63;
    }
    hits = 0;
    return q;
}

#endif

// memchr pays while the exact guard is rare in the data; past one stop in
// 1024 bytes scanned the pair scan takes over.
inline bool memchr_pays(uint64_t stops, uint64_t scanned) {
    return stops <= 16 || stops * 1024 <= scanned;
}

// Calls found(q) for the matches at window starts 0 .. len - m of `block`,
// ascending, until it returns true (then true).
template <class Found>
bool scan_forward(const unsigned char* block, uint64_t len, const MaskedNeedle& n, Found&& found) {
    if (len < n.m) return false;
    const uint64_t q_end = len - n.m;
    uint64_t q = 0;
    if (n.exact_guard) {
        for (uint64_t stops = 0; q <= q_end && memchr_pays(stops, q); ++stops) {
            const void* hit = memchr(block + q + n.g.off1, n.g.v1, q_end - q + 1);
            if (!hit) return false;
            q = static_cast<uint64_t>(static_cast<const unsigned char*>(hit) - block) - n.g.off1;
            if (n.matches(block + q) && found(q)) return true;
            ++q;
        }
    }
    while (q <= q_end) {
        uint64_t hits = 0;
        q = pair_hits_forward(block, q, q_end, n.g, hits);
        if (!hits) break;
        for (; hits; hits &= hits - 1) {
            const uint64_t at = q + static_cast<uint64_t>(std::countr_zero(hits));
            if (n.matches(block + at) && found(at)) return true;
        }
        q += 64;
    }
    for (; q <= q_end; ++q)
        if (n.matches(block + q) && found(q)) return true;
    return false;
}

// The same from window start len - m down to 0, descending.
template <class Found>
bool scan_backward(const unsigned char* block, uint64_t len, const MaskedNeedle& n, Found&& found) {
    if (len < n.m) return false;
    const auto top = static_cast<int64_t>(len - n.m);
    int64_t q = top;
    if (n.exact_guard) {
        for (uint64_t stops = 0; q >= 0 && memchr_pays(stops, static_cast<uint64_t>(top - q));
             ++stops) {
            const void* hit = memrchr(block + n.g.off1, n.g.v1, static_cast<size_t>(q) + 1);
            if (!hit) return false;
            q = static_cast<const unsigned char*>(hit) - block - static_cast<int64_t>(n.g.off1);
            if (n.matches(block + q) && found(static_cast<uint64_t>(q))) return true;
            --q;
        }
    }
    while (q >= 63) {
        uint64_t hits = 0;
        const int64_t low = pair_hits_backward(block, q, n.g, hits);
        if (!hits) {
            q = low;
            break;
        }
        while (hits) {
            const int bit = 63 - std::countl_zero(hits);
            hits &= ~(uint64_t{1} << bit);
            const auto at = static_cast<uint64_t>(low + bit);
            if (n.matches(block + at) && found(at)) return true;
        }
        q = low - 1;
    }
    for (; q >= 0; --q)
        if (n.matches(block + q) && found(static_cast<uint64_t>(q))) return true;
    return false;
}

enum class ScanEnd {
    done,    // every window start was looked at
    found,   // found() asked to stop
    stopped, // Escape, or no memory for the blocks
};

// The matches whose bytes lie in [start, last], ascending: found(p) with p
// counted from start, until it returns true.
template <class Found>
ScanEnd scan_file_forward(const MaskedNeedle& n, uint64_t start, uint64_t last, LongWork& work,
                          Found&& found) {
    const uint64_t m = n.m;
    const SearchBlocks blocks = search_blocks(m);
    if (!blocks.memory) return ScanEnd::stopped;
    unsigned char* const block = blocks.block();
    // Blocks end at multiples of the block size; the first is read from the
    // page that holds `start`. `carried` bytes, from window start p on, that
    // the last block could not hold whole, lie in front of the block.
    uint64_t p = 0;
    uint64_t from = align_down(start, io_page_size());
    uint64_t carried = 0;
    for (;;) {
        if (!work.keep_going(p)) return ScanEnd::stopped;
        const uint64_t block_end = align_down(from, search_block_bytes) + (search_block_bytes - 1);
        const uint64_t to = std::min(block_end, last);
        const auto nb = static_cast<size_t>(to - from + 1);
        get_bytes(from, block, nb);
        const unsigned char* region = block - carried; // file offsets from - carried .. to
        const uint64_t skip = start + p - (from - carried);
        const uint64_t len = carried + nb - skip; // the bytes from window start p on
        if (len >= m) {
            const uint64_t base = p;
            if (scan_forward(region + skip, len, n, [&](uint64_t q) { return found(base + q); }))
                return ScanEnd::found;
            p += len - m + 1;
        }
        if (to == last) return ScanEnd::done;
        const uint64_t keep = to + 1 - (start + p);
        assert(keep < m && keep <= blocks.room && "pattern: a carry longer than a match");
        memmove(block - keep, region + (carried + nb - keep), static_cast<size_t>(keep));
        carried = keep;
        from = to + 1;
    }
}

// The matches whose bytes lie in [start, last], from the last one down.
template <class Found>
ScanEnd scan_file_backward(const MaskedNeedle& n, uint64_t start, uint64_t last, LongWork& work,
                           Found&& found) {
    const uint64_t m = n.m;
    const SearchBlocks blocks = search_blocks(m);
    if (!blocks.memory) return ScanEnd::stopped;
    unsigned char* const block = blocks.block();
    // Blocks from the end down, each starting at a multiple of the block
    // size (the lowest at the page that holds `start`). The first m - 1
    // bytes of a block are carried behind the next one down, so that a match
    // across their boundary is seen whole there; the room in front of the
    // block holds them while it is read.
    const uint64_t lowest = align_down(start, io_page_size());
    uint64_t from = std::max(align_down(last, search_block_bytes), lowest);
    uint64_t to = last;
    uint64_t carried = 0;
    for (;;) {
        if (!work.keep_going(last - to)) return ScanEnd::stopped;
        const auto nb = static_cast<size_t>(to - from + 1);
        if (carried) memcpy(blocks.memory.get(), block, static_cast<size_t>(carried));
        get_bytes(from, block, nb);
        if (carried) memcpy(block + nb, blocks.memory.get(), static_cast<size_t>(carried));
        const uint64_t lo = std::max(from, start);
        const uint64_t len = nb + carried - (lo - from); // file offsets lo .. to + carried
        const uint64_t base = lo - start;
        if (scan_backward(block + (lo - from), len, n, [&](uint64_t q) { return found(base + q); }))
            return ScanEnd::found;
        if (from <= start) return ScanEnd::done;
        carried = std::min<uint64_t>(m - 1, nb + carried);
        to = from - 1;
        from = std::max(from - search_block_bytes, lowest);
    }
}

} // namespace

SearchResult find_masked(const BytePattern& p, uint64_t start, uint64_t count) {
    SearchResult result{0, 0};
    const uint64_t m = p.size();
    if (m == 0 || count == 0) return result;
    if (count - 1 > UINT64_MAX - start) count = UINT64_MAX - start + 1; // no byte past 2^64 - 1
    if (count < m) return result;
    const MaskedNeedle n(p);
    if (n.never) return result;
    if (n.any_byte) return {1, 0};
    LongWork work("Searching", count);
    scan_file_forward(n, start, start + (count - 1), work, [&](uint64_t q) {
        result = {1, q};
        return true;
    });
    return result;
}

SearchResult find_masked_backward(const BytePattern& p, uint64_t start, uint64_t count) {
    SearchResult result{0, 0};
    const uint64_t m = p.size();
    if (m == 0 || count == 0) return result;
    if (count - 1 > UINT64_MAX - start) count = UINT64_MAX - start + 1;
    if (count < m) return result;
    const MaskedNeedle n(p);
    if (n.never) return result;
    if (n.any_byte) return {1, count - m};
    LongWork work("Searching", count);
    scan_file_backward(n, start, start + (count - 1), work, [&](uint64_t q) {
        result = {1, q};
        return true;
    });
    return result;
}

std::optional<uint64_t> count_matches(const BytePattern& p, uint64_t start, uint64_t count,
                                      uint64_t first_at_or_after, uint64_t* before) {
    if (before) *before = 0;
    const uint64_t m = p.size();
    if (m == 0 || count == 0 || start > Globals.filesize) return 0;
    // The bytes a counted match may cover: from start to the last byte of a
    // match that begins at start + count - 1, within the file.
    const uint64_t room = Globals.filesize - start; // bytes after start in the file
    if (room < m - 1) return 0;
    uint64_t reach = std::min(count - 1, room);
    reach = room - reach >= m - 1 ? reach + (m - 1) : room;
    const uint64_t last = start + reach;
    const uint64_t starts = reach - (m - 1) + 1; // window starts that fit
    const uint64_t early_limit = first_at_or_after > start ? first_at_or_after - start : 0;

    const MaskedNeedle n(p);
    if (n.never) return 0;
    if (n.any_byte) {
        if (before) *before = std::min(starts, early_limit);
        return starts;
    }
    LongWork work("Counting", reach + 1);
    uint64_t total = 0;
    uint64_t early = 0;
    const ScanEnd end = scan_file_forward(n, start, last, work, [&](uint64_t q) {
        ++total;
        early += q < early_limit;
        return false;
    });
    if (end != ScanEnd::done) return std::nullopt;
    if (before) *before = early;
    return total;
}

std::vector<uint64_t> matches_overlapping(const BytePattern& p, uint64_t first, uint64_t last) {
    std::vector<uint64_t> out;
    const uint64_t m = p.size();
    if (m == 0 || first > last || first > Globals.filesize) return out;
    last = std::min(last, Globals.filesize);
    const uint64_t lo = first >= m - 1 ? first - (m - 1) : 0;
    const uint64_t hi = last + std::min(m - 1, Globals.filesize - last);
    const uint64_t n_bytes = hi - lo + 1;
    if (n_bytes < m) return out;
    const MaskedNeedle n(p);
    if (n.never) return out;
    if (n.any_byte) {
        for (uint64_t q = lo; q + (m - 1) <= hi; ++q)
            out.push_back(q);
        return out;
    }
    std::vector<unsigned char> bytes(static_cast<size_t>(n_bytes));
    get_bytes(lo, bytes.data(), bytes.size());
    scan_forward(bytes.data(), n_bytes, n, [&](uint64_t q) {
        out.push_back(lo + q);
        return false;
    });
    return out;
}

std::optional<std::vector<uint64_t>> collect_matches(const BytePattern& p, uint64_t start) {
    std::vector<uint64_t> out;
    const uint64_t m = p.size();
    if (m == 0 || start > Globals.filesize || Globals.filesize - start < m - 1) return out;
    const MaskedNeedle n(p);
    if (n.never) return out;
    const uint64_t last = Globals.filesize;
    if (n.any_byte) {
        for (uint64_t q = start; q + (m - 1) <= last; q += m)
            out.push_back(q);
        return out;
    }
    LongWork work("Searching", last - start + 1);
    uint64_t next = 0; // a match may begin here or later (counted from start)
    bool no_memory = false;
    const ScanEnd end = scan_file_forward(n, start, last, work, [&](uint64_t q) {
        if (q < next) return false;
        try {
            out.push_back(start + q);
        } catch (const std::bad_alloc&) {
            no_memory = true;
            return true;
        }
        next = q + m;
        return false;
    });
    if (end == ScanEnd::stopped || no_memory) return std::nullopt;
    return out;
}
