// Patterns of Find and Replace: the reader of the field's three forms, and
// the masked searches, counts and screenful matches against a plain scan.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

// Failures show a pattern as value/mask pairs.
void PrintTo(const BytePattern& p, std::ostream* os) {
    for (size_t i = 0; i < p.size(); ++i) {
        char pair[8];
        snprintf(pair, sizeof pair, "%02X/%02X ", p.value[i], p.mask[i]);
        *os << pair;
    }
}

namespace {

using Bytes = std::vector<unsigned char>;

BytePattern exact(const Bytes& v) {
    return {v, Bytes(v.size(), 0xFF)};
}

// The pattern read from `text` with wildcards, empty refused; the reason
// printed when it is refused.
BytePattern read_ok(std::string_view text, bool wildcards = true, bool empty_ok = false) {
    std::string why;
    std::optional<BytePattern> p = read_pattern(text, wildcards, empty_ok, why);
    EXPECT_TRUE(p.has_value()) << "'" << text << "': " << why;
    EXPECT_EQ(p.has_value(), why.empty()) << "'" << text << "'";
    return p.value_or(BytePattern{});
}

// The reason `text` is refused for ("" when it is not).
std::string why_not(std::string_view text, bool wildcards = true, bool empty_ok = false) {
    std::string why;
    std::optional<BytePattern> p = read_pattern(text, wildcards, empty_ok, why);
    EXPECT_FALSE(p.has_value()) << "'" << text << "' was read";
    return why;
}

} // namespace

TEST(PatternReader, HexBytesPairUpWithBlanksOptionalAndQuestionMarksForAnyByte) {
    EXPECT_EQ(read_ok("4D5A"), exact({0x4D, 0x5A}));
    EXPECT_EQ(read_ok(" 4d  5A\t"), exact({0x4D, 0x5A}));
    EXPECT_EQ(read_ok("4D ?? 5A"), (BytePattern{{0x4D, 0, 0x5A}, {0xFF, 0, 0xFF}}));
    EXPECT_EQ(read_ok("4D??5a"), read_ok("4D ?? 5A"));
    EXPECT_EQ(read_ok("??"), (BytePattern{{0}, {0}}));
    EXPECT_EQ(read_ok(std::string(128, 'f')).size(), 64u);
    EXPECT_EQ(read_ok("", true, true), BytePattern{}) << "a deletion";
    EXPECT_EQ(read_ok("  ", false, true), BytePattern{});
    EXPECT_EQ(read_ok("00 ff", false), exact({0, 0xFF})) << "exact bytes where ?? is refused";

    EXPECT_EQ(why_not("4D5"), "Hex digits come in pairs");
    EXPECT_EQ(why_not("4 D"), "Hex digits come in pairs");
    EXPECT_EQ(why_not("4??"), "Hex digits come in pairs");
    EXPECT_EQ(why_not("?"), "Use ?? for any byte");
    EXPECT_EQ(why_not("4D ?5"), "Use ?? for any byte");
    EXPECT_EQ(why_not("4D ??", false), "?? not allowed here");
    EXPECT_EQ(why_not("4G"), "Not a hex digit: G");
    EXPECT_EQ(why_not("MZ"), "Not a hex digit: M");
    EXPECT_EQ(why_not("4D,5A"), "Not a hex digit: ,");
    EXPECT_EQ(why_not("\xC3\xA9"), "Not a hex digit");
    EXPECT_EQ(why_not(std::string(130, '0')), "At most 64 bytes");
    EXPECT_EQ(why_not(""), "No bytes given");
    EXPECT_EQ(why_not(" \t "), "No bytes given");
}

TEST(PatternReader, TextInQuotesWithCaseAndUtf16Letters) {
    EXPECT_EQ(read_ok(R"("ab")"), exact({'a', 'b'}));
    EXPECT_EQ(read_ok(R"(  "a b" )"), exact({'a', ' ', 'b'})) << "blanks inside are text";
    EXPECT_EQ(read_ok(R"("q\"\\")"), exact({'q', '"', '\\'}));
    EXPECT_EQ(read_ok("\"\xC3\xA9\""), exact({0xC3, 0xA9})) << "taken as typed";
    EXPECT_EQ(read_ok(R"("a1Z"i)"), (BytePattern{{'A', '1', 'Z'}, {0xDF, 0xFF, 0xDF}}));
    EXPECT_EQ(read_ok(R"("ab"w)"), exact({'a', 0, 'b', 0}));
    EXPECT_EQ(read_ok(R"("ab"wb)"), exact({0, 'a', 0, 'b'}));
    EXPECT_EQ(read_ok(R"("ab"W)"), read_ok(R"("ab"w)"));
    const BytePattern wide_any_case{{'A', 0, 'B', 0}, {0xDF, 0xFF, 0xDF, 0xFF}};
    EXPECT_EQ(read_ok(R"("ab"iw)"), wide_any_case);
    EXPECT_EQ(read_ok(R"("ab"wi)"), wide_any_case);
    EXPECT_EQ(read_ok(R"("ab" i w)"), wide_any_case);
    const BytePattern big_any_case{{0, 'A', 0, 'B'}, {0xFF, 0xDF, 0xFF, 0xDF}};
    EXPECT_EQ(read_ok(R"("ab"wbi)"), big_any_case);
    EXPECT_EQ(read_ok(R"("ab"iwb)"), big_any_case);
    // Code points: e-acute, the euro sign, and one past U+FFFF as a pair of
    // surrogates (D83D DE00); only ASCII letters ignore case (U+0141's low
    // byte is 'A').
    EXPECT_EQ(read_ok("\"\xC3\xA9\"w"), exact({0xE9, 0}));
    EXPECT_EQ(read_ok("\"\xE2\x82\xAC\"wb"), exact({0x20, 0xAC}));
    EXPECT_EQ(read_ok("\"\xF0\x9F\x98\x80\"w"), exact({0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(read_ok("\"\xC5\x81\"iw"), exact({0x41, 0x01}));
    EXPECT_EQ(read_ok(R"("")", false, true), BytePattern{});
    EXPECT_EQ(read_ok(std::string("\"") + std::string(32, 'x') + "\"w").size(), 64u);

    EXPECT_EQ(why_not(R"("ab)"), "Text must end with a quote");
    EXPECT_EQ(why_not(R"("ab\")"), "Text must end with a quote");
    EXPECT_EQ(why_not(R"("ab\)"), "Text must end with a quote");
    EXPECT_EQ(why_not(R"("a\nb")"), R"(After \ only " or \)");
    EXPECT_EQ(why_not(R"("ab"x)"), "After the text only i, w or wb");
    EXPECT_EQ(why_not(R"("ab"bw)"), "After the text only i, w or wb");
    EXPECT_EQ(why_not(R"("ab" "cd")"), "One pattern per field");
    EXPECT_EQ(why_not(R"("ab"ii)"), "i given twice");
    EXPECT_EQ(why_not(R"("ab"wwb)"), "w given twice");
    EXPECT_EQ(why_not(R"("ab"i)", false), "i not allowed here");
    for (const char* bad :
         {"\xC3(", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\xFF"})
        EXPECT_EQ(why_not("\"" + std::string(bad) + "\"w"), "Text is not valid UTF-8") << bad;
    EXPECT_EQ(why_not(R"("")"), "Text is empty");
    EXPECT_EQ(why_not(std::string("\"") + std::string(65, 'x') + "\""), "At most 64 bytes");
    EXPECT_EQ(why_not(std::string("\"") + std::string(33, 'x') + "\"w"), "At most 64 bytes");
}

TEST(PatternReader, NumbersOfEachTypeInEitherByteOrder) {
    EXPECT_EQ(read_ok("u8:255"), exact({0xFF}));
    EXPECT_EQ(read_ok("u16:0x1234"), exact({0x34, 0x12}));
    EXPECT_EQ(read_ok("u16le:0x1234"), exact({0x34, 0x12}));
    EXPECT_EQ(read_ok("u16be:0X1234"), exact({0x12, 0x34}));
    EXPECT_EQ(read_ok(" U32 : 1 "), exact({1, 0, 0, 0}));
    EXPECT_EQ(read_ok("u64:18446744073709551615"), exact(Bytes(8, 0xFF)));
    EXPECT_EQ(read_ok("u64be:0x0102030405060708"), exact({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(read_ok("i8:-1"), exact({0xFF}));
    EXPECT_EQ(read_ok("i8:-128"), exact({0x80}));
    EXPECT_EQ(read_ok("i8:127"), exact({0x7F}));
    EXPECT_EQ(read_ok("i16:-0x2"), exact({0xFE, 0xFF}));
    EXPECT_EQ(read_ok("i32be:-2"), exact({0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(read_ok("i64:-9223372036854775808"), exact({0, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(read_ok("f32:1.5"), exact({0, 0, 0xC0, 0x3F}));
    EXPECT_EQ(read_ok("f32be:1.5"), exact({0x3F, 0xC0, 0, 0}));
    EXPECT_EQ(read_ok("f32:-0"), exact({0, 0, 0, 0x80}));
    EXPECT_EQ(read_ok("f64:-2"), exact({0, 0, 0, 0, 0, 0, 0, 0xC0}));
    EXPECT_EQ(read_ok("f64:25e-1"), read_ok("f64:2.5"));
    EXPECT_EQ(read_ok("f64:.5E+1"), read_ok("f64:5"));
    EXPECT_EQ(read_ok("f32:1e-40"), exact({0xC2, 0x16, 0x01, 0x00})) << "subnormal, still there";
    EXPECT_EQ(read_ok("u8:7", false), exact({7})) << "exact bytes, so a replacement too";

    const std::pair<const char*, const char*> too_big[] = {{"u8:256", "u8"},
                                                           {"u8:-1", "u8"},
                                                           {"u8:-0", "u8"},
                                                           {"u16:0x10000", "u16"},
                                                           {"u32:4294967296", "u32"},
                                                           {"u64:18446744073709551616", "u64"},
                                                           {"u64:0x10000000000000000", "u64"}};
    for (auto [text, type] : too_big)
        EXPECT_EQ(why_not(text), std::string("Value does not fit ") + type) << text;
    EXPECT_EQ(why_not("i8:-129"), "Value does not fit i8");
    EXPECT_EQ(why_not("i8:128"), "Value does not fit i8");
    EXPECT_EQ(why_not("i8:0xFF"), "Value does not fit i8") << "hex is a value, not bits";
    EXPECT_EQ(why_not("i64le:9223372036854775808"), "Value does not fit i64");
    EXPECT_EQ(why_not("f32:1e39"), "Value does not fit f32");
    EXPECT_EQ(why_not("f32:1e-50"), "Value does not fit f32") << "not zero, but it would be";
    EXPECT_EQ(why_not("f64:1e400"), "Value does not fit f64");
    for (const char* type : {"x8:1", ":5", "u24:1", "le:1", "u16xe:1", "u16 be:1"})
        EXPECT_EQ(why_not(type), "Unknown type") << type;
    EXPECT_EQ(why_not("u8:"), "No value after the colon");
    EXPECT_EQ(why_not("u8 :  "), "No value after the colon");
    for (const char* junk : {"u8:12x", "u8:0x", "u8:--1", "i8:+1", "u8:1 2", "i8:-", "f32:inf",
                             "f64:nan", "f32:0x1p3", "f32:1e", "f32:.", "f64:1.5f", "f64:+1"})
        EXPECT_EQ(why_not(junk), "Not a number") << junk;
}

namespace {

// Every window start of `shown` whose bytes match `p`, ascending.
std::vector<uint64_t> plain_matches(const Bytes& shown, const BytePattern& p) {
    std::vector<uint64_t> at;
    const uint64_t m = p.size();
    for (uint64_t q = 0; m && q + m <= shown.size(); ++q) {
        bool ok = true;
        for (uint64_t i = 0; ok && i < m; ++i)
            ok = (shown[q + i] & p.mask[i]) == p.value[i];
        if (ok) at.push_back(q);
    }
    return at;
}

// Random data from a small alphabet (letters in both cases, zeros, 0xFF),
// so that partial and case-folded matches abound.
Bytes alphabet_data(std::mt19937& rng, size_t n) {
    Bytes data(n);
    const unsigned char alphabet[] = {'a', 'A', 'b', 'B', 'q', 0, 0xFF, '1'};
    for (auto& b : data)
        b = alphabet[rng() % sizeof alphabet];
    return data;
}

// Patterns cut from the shown bytes around `places` (straddling them), with
// some bytes made ?? and some letters case-ignoring; a pattern that occurs
// nowhere, one that can never match and one of ?? only.
std::vector<BytePattern> patterns_around(std::mt19937& rng, const Bytes& shown,
                                         const std::vector<uint64_t>& places) {
    std::vector<BytePattern> out;
    const uint64_t lengths[] = {1, 2, 3, 5, 8, 9, 13, 17, 64};
    for (size_t k = 0; k < places.size(); ++k) {
        const uint64_t m = lengths[rng() % std::size(lengths)];
        // Byte `place` is the pattern's last, its second or a middle one in
        // turn: a boundary there leaves one byte or all but one behind it.
        const uint64_t back[] = {m - 1, std::min<uint64_t>(1, m - 1), m / 2};
        const uint64_t place = places[k];
        const uint64_t at =
            std::min<uint64_t>(place - std::min<uint64_t>(place, back[k % 3]), shown.size() - m);
        BytePattern p = exact(Bytes(shown.begin() + static_cast<long>(at),
                                    shown.begin() + static_cast<long>(at + m)));
        for (uint64_t i = 0; i < m; ++i) {
            const unsigned roll = rng() % 6;
            const bool letter = std::isalpha(p.value[i]);
            if (roll == 0 && m > 1) p.mask[i] = p.value[i] = 0;
            if (roll == 1 && letter) p.mask[i] = 0xDF, p.value[i] &= 0xDF;
        }
        out.push_back(p);
    }
    out.push_back(exact({'Z', 'a', 'Z'}));
    out.push_back(BytePattern{{'a', 0x01}, {0xFF, 0}}); // a bit outside its mask
    out.push_back(BytePattern{{0, 0, 0}, {0, 0, 0}});
    return out;
}

// find_masked, find_masked_backward, count_matches and matches_overlapping
// against a plain scan of `shown`, the bytes the editor shows, over ranges
// that begin and end around `places`.
void check_against_plain_scan(std::mt19937& rng, const Bytes& shown,
                              const std::vector<uint64_t>& places) {
    const uint64_t size = shown.size();
    std::vector<std::pair<uint64_t, uint64_t>> ranges = {{0, size}, {1, size - 1}, {0, 1}};
    for (uint64_t place : places) {
        ranges.emplace_back(place - std::min<uint64_t>(place, rng() % 40), rng() % 90 + 1);
        const uint64_t start = rng() % place;
        ranges.emplace_back(start, place - start + rng() % 8); // ends around the place
    }
    for (auto& [start, count] : ranges)
        count = std::min(count, size - start);
    int cases = 0;
    int found = 0; // cases with a match in the range: many, or the scan proves little
    for (const BytePattern& p : patterns_around(rng, shown, places)) {
        const std::vector<uint64_t> at = plain_matches(shown, p);
        const uint64_t m = p.size();
        for (auto [start, count] : ranges) {
            const std::string where = std::to_string(start) + "+" + std::to_string(count) +
                                      " length " + std::to_string(m);
            // Matches wholly inside the range (find) and beginning in it (count).
            auto first = std::lower_bound(at.begin(), at.end(), start);
            auto wholly_end = std::upper_bound(first, at.end(), start + count - std::min(count, m));
            const bool any = count >= m && first != wholly_end;
            SearchResult r = find_masked(p, start, count);
            EXPECT_EQ(r.found, any ? 1 : 0) << where;
            if (any) {
                EXPECT_EQ(start + r.offset, *first) << where;
            }
            r = find_masked_backward(p, start, count);
            EXPECT_EQ(r.found, any ? 1 : 0) << where;
            if (any) {
                EXPECT_EQ(start + r.offset, *(wholly_end - 1)) << where;
            }

            const uint64_t mark = start + rng() % (count + 2);
            auto begins_end = std::lower_bound(first, at.end(), start + count);
            uint64_t before = 99;
            const std::optional<uint64_t> n = count_matches(p, start, count, mark, &before);
            ASSERT_TRUE(n.has_value()) << where;
            EXPECT_EQ(*n, static_cast<uint64_t>(begins_end - first)) << where;
            EXPECT_EQ(before,
                      static_cast<uint64_t>(std::lower_bound(first, begins_end, mark) - first))
                << where;

            const uint64_t last = std::min(size - 1, start + rng() % 200);
            std::vector<uint64_t> overlapping;
            for (uint64_t q : at)
                if (q <= last && q + m > start) overlapping.push_back(q);
            EXPECT_EQ(matches_overlapping(p, start, last), overlapping) << where;
            ++cases;
            found += any;
        }
    }
    EXPECT_EQ(cases, static_cast<int>((places.size() + 3) * ranges.size()));
    EXPECT_GT(found, cases / 4) << found << " of " << cases;
}

constexpr uint64_t block = uint64_t{256} << 10; // the searches' block size

} // namespace

// Paged over a file of several blocks, changed through the table in and
// out of the window, and across page, window and block boundaries.
TEST(MaskedMatcher, PagedFileWithChangesAgreesWithAPlainScan) {
    std::mt19937 rng(21);
    Bytes shown = alphabet_data(rng, 3 * block + 5000);
    EditedFile f(shown, false);
    std::vector<uint64_t> places = {4096,      16384,     16385,     block - 1,       block,
                                    block,     block,     2 * block, 2 * block,       2 * block,
                                    3 * block, 3 * block, 3 * block, shown.size() - 2};
    for (int i = 0; i < 4; ++i)
        places.push_back(rng() % shown.size());
    // Changes as editing stores them: in the table and, inside the window,
    // in the page; some on the boundaries themselves.
    auto change = [&](uint64_t o, unsigned char v) {
        mod_table_set(o, v);
        if (o >= Globals.buf_front && o <= Globals.buf_end) buffer[o - Globals.buf_front] = v;
        shown[o] = v;
    };
    for (uint64_t o : places)
        change(o, "zZaB"[rng() % 4]);
    for (int i = 0; i < 500; ++i)
        change(rng() % shown.size(), "zZaBq\x01"[rng() % 6]);
    get_byte(block + 20000); // the window elsewhere: the page holds changed bytes too
    change(block + 20001, 'Z');
    check_against_plain_scan(rng, shown, places);
}

TEST(MaskedMatcher, WholeFileAgreesWithAPlainScan) {
    std::mt19937 rng(22);
    const Bytes data = alphabet_data(rng, 2 * block + 777);
    WholeFile f(data);
    std::vector<uint64_t> places = {1,         block,     block,     block,     2 * block,
                                    2 * block, 2 * block, block - 3, block + 1, data.size() - 1};
    for (int i = 0; i < 4; ++i)
        places.push_back(rng() % data.size());
    check_against_plain_scan(rng, data, places);
}

// A match only counts whole within the file; an all-?? pattern counts every
// window start; the K of "Match K of N" counts from the range's start.
TEST(MaskedMatcher, CountsOnlyMatchesThatEndInTheFile) {
    WholeFile f(Bytes{'a', 'b', 'a', 'b', 'a'});
    const BytePattern ab = exact({'a', 'b'});
    uint64_t before = 0;
    EXPECT_EQ(count_matches(ab, 0, 5, 2, &before), 2u);
    EXPECT_EQ(before, 1u);
    EXPECT_EQ(count_matches(ab, 3, 2), 0u) << "the a at the end has no b";
    EXPECT_EQ(count_matches(ab, 2, 1), 1u) << "begins in the range, ends past it";
    EXPECT_EQ(find_masked(ab, 2, 1).found, 0) << "a search wants it whole in the range";
    const BytePattern any3{{0, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(count_matches(any3, 1, 100, 3, &before), 2u);
    EXPECT_EQ(before, 2u);
    EXPECT_EQ(count_matches(any3, 3, 100), 0u);
    EXPECT_EQ(find_masked_backward(any3, 1, 4).offset, 1u);
    EXPECT_EQ(matches_overlapping(any3, 4, 9), (std::vector<uint64_t>{2}));
    EXPECT_EQ(count_matches(BytePattern{}, 0, 5), 0u);
    EXPECT_EQ(find_masked(BytePattern{}, 0, 5).found, 0);
}

namespace {

// A paged sparse file of 1 TiB: no scan of it ends before Escape stops it.

} // namespace

TEST(MaskedMatcher, EscapeStopsSearchesAndCounts) {
    HugeSparseFile f;
    const BytePattern p{{1, 0, 2}, {0xFF, 0, 0xFF}};
    const uint64_t all = uint64_t{1} << 40;
    f.screen.feed("\x1b");
    EXPECT_EQ(find_masked(p, 0, all).found, 0);
    f.screen.feed("\x1b");
    EXPECT_EQ(find_masked_backward(p, 0, all).found, 0);
    f.screen.feed("\x1b");
    uint64_t before = 7;
    EXPECT_EQ(count_matches(p, 0, all, 5, &before), std::nullopt);
    EXPECT_EQ(before, 0u);
}
