// The value inspector: the text built from the bytes at the cursor, and its
// popup drawn on a null screen.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::array<unsigned char, 8>;

std::vector<std::string> lines_of(const Bytes& b, size_t available = 8, uint64_t offset = 0) {
    return inspect_lines(b.data(), available, offset);
}

// The values on the row labelled `label` (the little-endian one first).
std::vector<std::string> values(const std::vector<std::string>& lines, const std::string& label) {
    for (const std::string& line : lines) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first != label) continue;
        std::vector<std::string> found;
        for (std::string w; words >> w;)
            found.push_back(w);
        return found;
    }
    ADD_FAILURE() << "no row labelled " << label;
    return {};
}

using Pair = std::vector<std::string>;

} // namespace

TEST(InspectLines, LayoutIsTitleOffsetTheByteAndATableOfBothOrders) {
    const std::vector<std::string> expected = {
        "Value inspector",
        "",
        "offset   1234  0x000004D2",
        "uint8    1",
        "int8     1",
        "binary   00000001",
        "octal    001",
        "",
        "         little-endian             big-endian",
        "uint16   513                       258",
        "int16    513                       258",
        "uint32   67305985                  16909060",
        "int32    67305985                  16909060",
        "uint64   578437695752307201        72623859790382856",
        "int64    578437695752307201        72623859790382856",
        "float32  1.5399896e-36             2.3879393e-38",
        "float64  5.447603722011605e-270    8.20788039913184e-304",
    };
    EXPECT_EQ(lines_of({1, 2, 3, 4, 5, 6, 7, 8}, 8, 1234), expected);
}

TEST(InspectLines, SignedAndUnsignedReachTheirExtremesInBothOrders) {
    auto all_ones = lines_of({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(values(all_ones, "uint8"), Pair{"255"});
    EXPECT_EQ(values(all_ones, "int8"), Pair{"-1"});
    EXPECT_EQ(values(all_ones, "uint16"), (Pair{"65535", "65535"}));
    EXPECT_EQ(values(all_ones, "int16"), (Pair{"-1", "-1"}));
    EXPECT_EQ(values(all_ones, "uint32"), (Pair{"4294967295", "4294967295"}));
    EXPECT_EQ(values(all_ones, "int32"), (Pair{"-1", "-1"}));
    EXPECT_EQ(values(all_ones, "uint64"), (Pair{"18446744073709551615", "18446744073709551615"}));
    EXPECT_EQ(values(all_ones, "int64"), (Pair{"-1", "-1"}));

    // The sign bit is the first byte big-endian and the last little-endian.
    auto top_first = lines_of({0x80, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(values(top_first, "int8"), Pair{"-128"});
    EXPECT_EQ(values(top_first, "int16"), (Pair{"128", "-32768"}));
    EXPECT_EQ(values(top_first, "int32"), (Pair{"128", "-2147483648"}));
    EXPECT_EQ(values(top_first, "int64"), (Pair{"128", "-9223372036854775808"}));
    EXPECT_EQ(values(top_first, "uint64"), (Pair{"128", "9223372036854775808"}));

    auto below_sign = lines_of({0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_EQ(values(below_sign, "int8"), Pair{"-1"});
    EXPECT_EQ(values(below_sign, "int16"), (Pair{"-1", "-1"}));
    EXPECT_EQ(values(below_sign, "int32"), (Pair{"2147483647", "-129"}));
    EXPECT_EQ(values(below_sign, "int64"), (Pair{"9223372034707292159", "-549755814017"}));
}

TEST(InspectLines, FloatsAreShortRoundTripAndSpellNaNInfinitiesAndNegativeZero) {
    // Big-endian bytes first; the little-endian column reads them reversed.
    auto f32 = [](Bytes b) { return values(lines_of(b), "float32"); };
    auto f64 = [](Bytes b) { return values(lines_of(b), "float64"); };
    EXPECT_EQ(f32({0x7F, 0x80, 0, 0, 0, 0, 0x80, 0xFF})[1], "Inf");
    EXPECT_EQ(f32({0x00, 0x00, 0x80, 0xFF})[0], "-Inf");
    EXPECT_EQ(f32({0x7F, 0xC0, 0, 0})[1], "NaN");
    EXPECT_EQ(f32({0xFF, 0xC0, 0, 0})[1], "NaN"); // the sign of a NaN is not shown
    EXPECT_EQ(f32({0x00, 0x00, 0x00, 0x80})[0], "-0");
    EXPECT_EQ(f32({0x80, 0x00, 0x00, 0x00})[1], "-0");
    EXPECT_EQ(f32({0, 0, 0, 0}), (Pair{"0", "0"}));
    EXPECT_EQ(f32({0x3F, 0x80, 0, 0})[1], "1");
    EXPECT_EQ(f32({0x3D, 0xCC, 0xCC, 0xCD})[1], "0.1");
    EXPECT_EQ(f32({0xFF, 0x7F, 0xFF, 0xFF})[1], "-3.4028235e+38");

    EXPECT_EQ(f64({0x7F, 0xF0, 0, 0, 0, 0, 0, 0})[1], "Inf");
    EXPECT_EQ(f64({0, 0, 0, 0, 0, 0, 0xF0, 0xFF})[0], "-Inf");
    EXPECT_EQ(f64({0x7F, 0xF8, 0, 0, 0, 0, 0, 0})[1], "NaN");
    EXPECT_EQ(f64({0xFF, 0xF8, 0, 0, 0, 0, 0, 1})[1], "NaN");
    EXPECT_EQ(f64({0x80, 0, 0, 0, 0, 0, 0, 0})[1], "-0");
    EXPECT_EQ(f64({0, 0, 0, 0, 0, 0, 0, 0x80})[0], "-0");
    EXPECT_EQ(f64({0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A})[1], "0.1");
    // Plain or with an exponent, whichever is shorter.
    EXPECT_EQ(f64({0x40, 0x59, 0, 0, 0, 0, 0, 0})[1], "100");
    EXPECT_EQ(f64({0x44, 0x4B, 0x1A, 0xE4, 0xD6, 0xE2, 0xEF, 0x50})[1], "1e+21");
    // The longest text there is still fits its column.
    auto longest = lines_of({0x80, 0x10, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(values(longest, "float64")[1], "-2.2250738585072014e-308");
    EXPECT_EQ(longest.back(), "float64  2.087e-320                -2.2250738585072014e-308");
}

TEST(InspectLines, ValuesNeedingBytesPastTheEndReadNotAvailable) {
    const Bytes b = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};
    const Pair na = {"n/a", "n/a"};

    auto one = lines_of(b, 1);
    EXPECT_EQ(values(one, "uint8"), Pair{"65"});
    EXPECT_EQ(values(one, "binary"), Pair{"01000001"});
    for (const char* wide :
         {"uint16", "int16", "uint32", "int32", "float32", "uint64", "int64", "float64"})
        EXPECT_EQ(values(one, wide), na) << wide;

    auto seven = lines_of(b, 7);
    EXPECT_EQ(values(seven, "uint32"), (Pair{"1145258561", "1094861636"}));
    EXPECT_EQ(values(seven, "float32")[1], "12.141422");
    for (const char* wide : {"uint64", "int64", "float64"})
        EXPECT_EQ(values(seven, wide), na) << wide;

    // One past the last byte holds none: even the byte rows are empty.
    auto none = lines_of(b, 0, 9);
    for (const char* row : {"uint8", "int8", "binary", "octal"})
        EXPECT_EQ(values(none, row), Pair{"n/a"}) << row;
    EXPECT_EQ(values(none, "uint16"), na);

    // More than eight available: the ninth byte is never read (AddressSanitizer
    // sees a read past the array).
    EXPECT_EQ(values(lines_of(b, 100), "uint64"),
              (Pair{"5208208757389214273", "4702394921427289928"}));
}

TEST(InspectLines, ByteInBinaryAndOctalAndOffsetInDecimalAndHex) {
    auto byte = [](unsigned char v) {
        auto lines = lines_of({v});
        return values(lines, "binary")[0] + " " + values(lines, "octal")[0];
    };
    EXPECT_EQ(byte(0x00), "00000000 000");
    EXPECT_EQ(byte(0x41), "01000001 101");
    EXPECT_EQ(byte(0x80), "10000000 200");
    EXPECT_EQ(byte(0xFF), "11111111 377");

    auto offset = [](uint64_t o) { return values(lines_of({}, 1, o), "offset"); };
    EXPECT_EQ(offset(0), (Pair{"0", "0x00000000"}));
    EXPECT_EQ(offset(0x123456789AB), (Pair{"1250999896491", "0x123456789AB"}));
    EXPECT_EQ(offset(UINT64_MAX), (Pair{"18446744073709551615", "0xFFFFFFFFFFFFFFFF"}));
}

TEST(InspectDraw, FramesTheLinesWithTheTitleCentredAndCutsThemOnSmallPopups) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    const auto lines = lines_of({1, 2, 3, 4, 5, 6, 7, 8}, 8, 1234);

    WINDOW* whole = newwin(19, 63, 3, 9);
    inspect_draw(whole, lines);
    EXPECT_EQ(CursesScreen::text(whole, 1).substr(24, 15), "Value inspector");
    EXPECT_FALSE(CursesScreen::attrs(whole, 1, 24) & A_BOLD) << "plain, as other popups' titles";
    EXPECT_FALSE(CursesScreen::attrs(whole, 3, 2) & A_BOLD);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(CursesScreen::text(whole, static_cast<int>(i) + 1),
                  "? " + lines[i] + std::string(60 - lines[i].size(), ' ') + "?");
    delwin(whole);

    // Cut at the right frame; the rows the popup lacks are left out.
    WINDOW* cut = newwin(6, 20, 0, 0);
    inspect_draw(cut, lines);
    EXPECT_EQ(CursesScreen::text(cut, 1), "? Value inspector  ?");
    EXPECT_EQ(CursesScreen::text(cut, 3), "? offset   1234  0x?");
    EXPECT_EQ(CursesScreen::text(cut, 4), "? uint8    1       ?");
    EXPECT_EQ(CursesScreen::ch(cut, 5, 0), '?'); // the bottom frame stays
    delwin(cut);

    for (auto [h, w] : {std::pair{1, 1}, {2, 1}, {1, 3}, {3, 3}}) {
        WINDOW* tiny = newwin(h, w, 0, 0);
        inspect_draw(tiny, lines);
        EXPECT_EQ(CursesScreen::ch(tiny, 0, 0), w >= 2 ? '?' : ' ') << h << "x" << w;
        delwin(tiny);
    }
}
