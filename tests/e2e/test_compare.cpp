// The compare view seen from outside: both halves with their status lines,
// the highlight of the bytes that differ, next and previous difference and
// their message at the ends, the Alt-C dialog and leaving with Escape, an
// edit in the top half, the alignment typed and found, a resize, and Escape
// during a long search. 24 x 80: the edited file's rows are screen rows
// 1..10, the other file's status line row 11 and its rows 12..22.
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

#include "e2e_helpers.h"
#include "terminal.h"

using keys::alt;

namespace {

constexpr int other_status = 11;
constexpr int other_first = 12;
constexpr int wide_cols[16] = {10, 13, 16, 19, 23, 26, 29, 32, 37, 40, 43, 46, 50, 53, 56, 59};
constexpr int red = 1; // the background of a difference
const std::string compare_bar =
    "M-N/F8 Next Difference   M-B Previous Difference   M-= Align   M-C/Esc Close";

// Bytes without a repeating pattern, the same for the same seed.
std::string noise(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return s;
}

// A row's hex digits in the wide layout, from column 10; the bytes from
// the row's byte `from` on (blank before it).
std::string hex_digits(std::string_view bytes, size_t from = 0) {
    std::string row(50, ' ');
    for (size_t c = from; c - from < bytes.size() && c < 16; ++c) {
        const auto b = static_cast<unsigned char>(bytes[c - from]);
        row[static_cast<size_t>(wide_cols[c] - 10)] = "0123456789ABCDEF"[b >> 4];
        row[static_cast<size_t>(wide_cols[c] - 9)] = "0123456789ABCDEF"[b & 15];
    }
    row.erase(row.find_last_not_of(' ') + 1);
    return row;
}

// Byte `c` of screen row `r` is highlighted as a difference: its digits and its text cell.
bool marked(Terminal& t, int r, int c) {
    return t.cell(r, wide_cols[c]).bg == red && t.cell(r, wide_cols[c] + 1).bg == red &&
           t.cell(r, t.cols() - 16 + c).bg == red;
}

::testing::AssertionResult expect_bell(Terminal& t, int before) {
    return t.expect([&] { return t.bells() > before; }, "a bell");
}

void start_compare(Terminal& t, const std::vector<std::string>& args) {
    t.start(args);
    ASSERT_TRUE(t.expect_text(other_status, 0, "File: "));
    ASSERT_TRUE(t.expect_row(23, compare_bar));
    ASSERT_TRUE(t.settle());
}

// a.bin of n bytes and b.bin, the same with byte `at` changed; returns both.
std::pair<std::string, std::string> write_pair(Terminal& t, size_t n, unsigned seed, size_t at) {
    const std::string a = noise(n, seed);
    std::string b = a;
    b[at] = static_cast<char>(b[at] ^ 0x90);
    t.write_file("a.bin", a);
    t.write_file("b.bin", b);
    return {a, b};
}

// a.bin of 40 bytes in the view against b.bin: its first 37, byte 5 changed.
void start_on_short_pair(Terminal& t, std::string& a, std::string& b) {
    a = noise(40, 1);
    b = a.substr(0, 37);
    b[5] = static_cast<char>(b[5] ^ 0xFF);
    t.write_file("a.bin", a);
    t.write_file("b.bin", b);
    start_compare(t, {"--compare", "b.bin", "a.bin"});
}

} // namespace

TEST(Compare, TheOptionShowsBothFilesWithEveryDifferenceMarkedInBothHalves) {
    Terminal t;
    std::string a, b;
    start_on_short_pair(t, a, b);

    EXPECT_TRUE(t.expect_text(0, 0, "File: a.bin"));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000000 / 0x00000027 (%00)", Pos{1, 10}));
    EXPECT_TRUE(t.expect_text(other_status, 0, "File: b.bin"));
    EXPECT_TRUE(t.expect_text(other_status, 40, "Offset: 0x00000000 / 0x00000024 (%00)"));
    EXPECT_EQ(t.cell(other_status, 79).text, "R") << "the other file is read-only";
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  " + hex_digits(a.substr(0, 16))));
    EXPECT_TRUE(t.expect_text(other_first, 0, "00000000  " + hex_digits(b.substr(0, 16))));
    EXPECT_TRUE(t.expect_text(other_first + 2, 0, "00000020  " + hex_digits(b.substr(32))));

    EXPECT_TRUE(marked(t, 1, 5) && marked(t, other_first, 5)) << t.dump({1, other_first});
    EXPECT_FALSE(marked(t, 1, 4) || marked(t, other_first, 4) || marked(t, 2, 5));
    // Past the other file's end its cells are blank, and marked, as the edited file's bytes.
    for (int c = 5; c <= 7; ++c) {
        EXPECT_TRUE(marked(t, 3, c)) << "byte 0x2" << c;
        EXPECT_TRUE(marked(t, other_first + 2, c)) << "byte 0x2" << c;
        EXPECT_EQ(t.text(other_first + 2, wide_cols[c], 2), "  ");
    }
    EXPECT_FALSE(marked(t, other_first + 2, 4));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(Compare, NextAndPreviousDifferenceStepThroughThemAndRingAtTheEnds) {
    Terminal t;
    std::string a, b;
    start_on_short_pair(t, a, b);

    struct Step {
        std::string key, offset;
        Pos cursor;
    };
    const Step steps[] = {
        {keys::f8, "0x00000005", {1, 26}}, {alt('n'), "0x00000025", {3, 26}},
        {keys::f8, "0x00000026", {3, 29}}, {alt('n'), "0x00000027", {3, 32}},
        {alt('b'), "0x00000026", {3, 29}}, {alt('b'), "0x00000025", {3, 26}},
        {alt('b'), "0x00000005", {1, 26}},
    };
    for (const Step& s : steps) {
        t.send(s.key);
        EXPECT_TRUE(t.expect_text(0, 40, "Offset: " + s.offset, s.cursor));
    }
    int bells = t.bells();
    t.send(alt('b'));
    EXPECT_TRUE(expect_bell(t, bells));
    EXPECT_TRUE(t.expect_row(23, "No more differences", Pos{1, 26}));
    // The next key brings the compare keys back.
    t.send(ctrl('t'));
    ASSERT_TRUE(expect_anywhere(t, "Goto Offset"));
    t.send("27" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000027", Pos{1, 32}));
    EXPECT_TRUE(t.expect_row(23, compare_bar));
    bells = t.bells();
    t.send(keys::f8);
    EXPECT_TRUE(expect_bell(t, bells));
    EXPECT_TRUE(t.expect_row(23, "No more differences", Pos{1, 32}));
}

TEST(Compare, AltCNamesTheOtherFileRefusesAMissingOneAndEscapeGoesBack) {
    Terminal t;
    const auto [a, b] = write_pair(t, 512, 3, 0x12);
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    t.send(keys::down + keys::right + keys::right + keys::right + keys::right);
    const Pos cursor = {2, 16}; // offset 0x12
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000012", cursor));

    t.send(alt('c'));
    ASSERT_TRUE(t.expect_text(10, 32, "Compare with File"));
    EXPECT_TRUE(t.expect_text(12, 7, "Filename: "));
    EXPECT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel"));
    t.send("missing.bin" + keys::enter);
    EXPECT_TRUE(expect_anywhere(t, "Cannot Read File"));
    EXPECT_TRUE(expect_anywhere(t, "Reason: No such file or directory"));
    t.send("x");
    EXPECT_TRUE(t.expect_row(23, writable_bar, cursor));
    EXPECT_TRUE(t.expect_text(11, 0, "000000A0  ")) << "the ordinary view";

    t.send(alt('c'));
    ASSERT_TRUE(expect_anywhere(t, "Compare with File"));
    t.send("b.bin" + keys::enter);
    EXPECT_TRUE(t.expect_text(other_status, 0, "File: b.bin"));
    EXPECT_TRUE(t.expect_text(other_status, 40, "Offset: 0x00000012", cursor));
    EXPECT_TRUE(t.expect_row(23, compare_bar));
    EXPECT_TRUE(marked(t, 2, 2) && marked(t, other_first + 1, 2));

    t.send(keys::esc);
    EXPECT_TRUE(t.expect_row(23, writable_bar, cursor));
    EXPECT_TRUE(t.expect_text(11, 0, "000000A0  " + hex_digits(a.substr(0xA0, 16))));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000012"));
    EXPECT_FALSE(marked(t, 2, 2));
}

TEST(Compare, AnEditInTheTopHalfIsMarkedAtOnceAndSavedIntoTheEditedFileOnly) {
    const std::string same = "A" + noise(63, 4);
    {
        Terminal t;
        t.write_file("a.bin", same);
        t.write_file("b.bin", same);
        start_compare(t, {"--compare", "b.bin", "a.bin"});
        EXPECT_FALSE(marked(t, 1, 0));
        t.send("7a");
        EXPECT_TRUE(t.expect([&] { return marked(t, 1, 0) && marked(t, other_first, 0); },
                             "the changed byte marked in both halves"));
        EXPECT_TRUE(t.expect_text(other_first, 10, "41"));
        t.send(ctrl('u') + ctrl('u')); // a step a digit
        EXPECT_TRUE(t.expect([&] { return !marked(t, 1, 0); }, "undone: no difference"));
        t.send(ctrl('t'));
        ASSERT_TRUE(expect_anywhere(t, "Goto Offset"));
        t.send("0" + keys::enter + "7a");
        ASSERT_TRUE(expect_marker(t, "M"));
        save_as(t, "");
        EXPECT_TRUE(expect_marker(t, " "));
        EXPECT_TRUE(marked(t, 1, 0));
        EXPECT_EQ(t.read_file("a.bin"), "z" + same.substr(1));
        EXPECT_EQ(t.read_file("b.bin"), same);
    }
    // With -b an inserted byte moves every byte after it off its counterpart.
    Terminal t;
    t.write_file("a.bin", same);
    t.write_file("b.bin", same);
    start_compare(t, {"-b", "--compare", "b.bin", "a.bin"});
    t.send(ctrl('a'));
    EXPECT_TRUE(t.expect_text(1, 10, "00 41"));
    EXPECT_TRUE(t.expect([&] { return marked(t, 1, 0) && marked(t, 1, 1) && marked(t, 4, 15); },
                         "every byte from the insertion on marked"));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000000 / 0x00000040"));
}

TEST(Compare, AShiftTypedOrFoundReadsTheOtherFileAheadOrBehind) {
    Terminal t;
    const std::string a = noise(512, 5);
    std::string head = noise(0x1A, 6);
    head[0] = static_cast<char>(a[0] ^ 0xFF);
    t.write_file("a.bin", a);
    t.write_file("b.bin", head + a);
    start_compare(t, {"--compare", "b.bin", "a.bin"});
    EXPECT_TRUE(marked(t, 1, 0));

    t.send(alt('='));
    ASSERT_TRUE(expect_anywhere(t, "Align"));
    EXPECT_TRUE(expect_anywhere(t, "Shift: "));
    t.send(keys::enter); // empty: the shift is found
    EXPECT_TRUE(t.expect_row(23, "Shift +1A: the next bytes agree"));
    EXPECT_TRUE(t.expect_text(other_first, 0, "0000001A  " + hex_digits(a.substr(0, 16))));
    EXPECT_TRUE(t.expect_text(other_status, 40, "Offset: 0x0000001A"));
    EXPECT_FALSE(marked(t, 1, 0) || marked(t, 10, 15));

    t.send(alt('='));
    ASSERT_TRUE(expect_anywhere(t, "Shift: "));
    t.send("-3" + keys::enter);
    EXPECT_TRUE(t.expect_row(23, "Shift -3"));
    // Offsets 0..2 have no counterpart: no label, blank cells, marked.
    EXPECT_TRUE(
        t.expect_text(other_first, 0, std::string(10, ' ') + hex_digits(head.substr(0, 13), 3)));
    EXPECT_TRUE(t.expect_text(other_first + 1, 0, "0000000D  "));
    EXPECT_TRUE(marked(t, other_first, 0) && marked(t, 1, 2));
}

TEST(Compare, AResizeLaysBothHalvesOutForTheNewSize) {
    Terminal t;
    const auto [a, b] = write_pair(t, 1024, 7, 0x35);
    start_compare(t, {"--compare", "b.bin", "a.bin"});
    t.send(keys::f8);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000035", Pos{4, 26}));

    t.resize(12, 60);
    EXPECT_TRUE(t.expect_text(5, 0, "File: b.bin", Pos{4, 26}));
    EXPECT_TRUE(t.expect_text(6, 0, "00000000  "));
    EXPECT_TRUE(t.expect_text(9, 0, "00000030  "));
    // At 60 columns the text column overlaps the hex one: the digits tell.
    EXPECT_TRUE(t.cell(4, wide_cols[5]).bg == red && t.cell(9, wide_cols[5]).bg == red);
    EXPECT_TRUE(t.expect_row(11, "M-N/F8 Next Difference   M-B Previous Difference"));

    t.resize(4, 40); // one row each: the edited file's, then the other's status line
    EXPECT_TRUE(t.expect_text(1, 0, "00000030  ", Pos{1, 26}));
    EXPECT_TRUE(t.expect_text(2, 0, "File: ")); // no room for the name at 40 columns
    EXPECT_EQ(t.cell(2, 39).text, "R");

    t.resize(24, 80);
    EXPECT_TRUE(
        t.expect_text(other_first, 0, "00000030  " + hex_digits(b.substr(0x30, 16)), Pos{1, 26}));
    EXPECT_TRUE(t.expect_text(other_status, 0, "File: b.bin"));
    EXPECT_TRUE(t.expect_row(23, compare_bar));
    EXPECT_TRUE(marked(t, 1, 5) && marked(t, other_first, 5));
}

// 64 GiB the system cannot skip as holes (a fill lies over the edited one):
// Escape stops the search and the cursor stays.
TEST(Compare, EscapeStopsALongSearchForADifferenceAndTheCursorStays) {
    Terminal t;
    constexpr off_t size = off_t{64} << 30;
    for (const char* name : {"a.bin", "b.bin"}) {
        t.write_file(name, "");
        ASSERT_EQ(truncate(t.path(name).c_str(), size), 0);
    }
    start_compare(t, {"--compare", "b.bin", "a.bin"});
    t.send(alt('a') + ctrl('t'));
    ASSERT_TRUE(expect_anywhere(t, "Goto Offset"));
    t.send("FFFFFFFFF" + keys::enter);
    ASSERT_TRUE(expect_anywhere(t, "Selected 68719476736 bytes"));
    t.send(alt('f'));
    ASSERT_TRUE(expect_anywhere(t, "Fill Selection"));
    t.send("00" + keys::enter);
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(alt('a') + ctrl('t'));
    ASSERT_TRUE(expect_anywhere(t, "Goto Offset"));
    t.send("100" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000100", Pos{1, 10}));
    ASSERT_TRUE(t.expect_row(23, compare_bar));

    t.send(keys::f8);
    ASSERT_TRUE(t.expect([&] { return t.row(23).rfind("Comparing... ", 0) == 0; },
                         "\"Comparing... N%\" in the command bar"));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_row(23, compare_bar, Pos{1, 10}));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000100"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Y Yes"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
}
