// Find (Alt-S) and Replace (Alt-R) as a user meets them: the three forms of
// pattern, a refusal with its reason, the count in the command bar, every
// match on the screen marked, Control-N and F4 after a Find, and Replace's
// questions, its length rule without -b, a deletion with -b and its one
// undo step.
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

using keys::alt;

namespace {

void start_with(Terminal& t, const std::string& bytes, std::vector<std::string> options = {}) {
    t.write_file("a.bin", bytes);
    options.push_back("-n"); // no colour: a match is underlined
    options.push_back("a.bin");
    t.start(options);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    ASSERT_TRUE(t.settle());
}

// Types a pattern into the open popup's field and presses Enter.
void enter_pattern(Terminal& t, const std::string& text) {
    t.send(text);
    ASSERT_TRUE(expect_anywhere(t, text));
    t.send(keys::enter);
}

void find(Terminal& t, const std::string& text) {
    t.send(alt('s'));
    ASSERT_TRUE(expect_anywhere(t, "hex bytes; ?? is any byte"));
    enter_pattern(t, text);
}

// Byte i (0..15) of screen row `row` is underlined in both panes.
bool underlined(Terminal& t, int row, int i) {
    static constexpr int cols[16] = {10, 13, 16, 19, 23, 26, 29, 32,
                                     37, 40, 43, 46, 50, 53, 56, 59};
    return t.cell(row, cols[i]).underline && t.cell(row, cols[i] + 1).underline &&
           t.cell(row, 64 + i).underline;
}

::testing::AssertionResult expect_bar(Terminal& t, const std::string& text) {
    return t.expect_text(t.lines() - 1, 0, text);
}

} // namespace

TEST(Find, WildcardsFindTheNextMatchCountItAndMarkEveryMatchShown) {
    Terminal t(24, 80);
    // "A?C" at 0x02, 0x21 and 0x40 (rows 0, 2 and 4).
    std::string bytes(0x60, '.');
    for (size_t at : {0x02, 0x21, 0x40}) {
        bytes[at] = 'A';
        bytes[at + 1] = static_cast<char>(at);
        bytes[at + 2] = 'C';
    }
    start_with(t, bytes);
    find(t, "41 ?? 43");
    // The first match after the cursor, its row on top; the one at the
    // cursor's own byte is not "after" it.
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  2E 2E 41", Pos{1, 16}));
    EXPECT_TRUE(expect_bar(t, "Match 1 of 3"));
    EXPECT_TRUE(t.expect([&] { return underlined(t, 1, 2) && underlined(t, 1, 4); },
                         "the match underlined"));
    EXPECT_TRUE(underlined(t, 3, 1) && underlined(t, 5, 0) && !underlined(t, 1, 5))
        << "every match shown, and nothing else";
    t.send(ctrl('n'));
    EXPECT_TRUE(t.expect_text(1, 0, "00000020  2E 41 21 43", Pos{1, 13}));
    EXPECT_TRUE(expect_bar(t, "Match 2 of 3"));
    t.send(keys::f4);
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  2E 2E 41", Pos{1, 16}));
    EXPECT_TRUE(expect_bar(t, "Match 1 of 3"));
    t.send("j"); // the count lasts until the next key
    EXPECT_TRUE(expect_bar(t, "^G Help"));
    t.resize(10, 80); // the marks follow a resize
    EXPECT_TRUE(t.expect([&] { return underlined(t, 1, 2) && underlined(t, 3, 1); },
                         "the matches marked after a resize"));
}

TEST(Find, TextIgnoringCaseNumbersAndARefusalWithItsReason) {
    Terminal t(24, 80);
    std::string bytes(64, '.');
    bytes.replace(20, 5, "SeTuP");
    bytes.replace(40, 4, std::string("\xD2\x04\x00\x00", 4)); // u32 1234, little-endian
    start_with(t, bytes);
    find(t, "\"setup\"i");
    EXPECT_TRUE(t.expect_text(1, 0, "00000010  2E 2E 2E 2E  53", Pos{1, 23}));
    find(t, "u32:1234");
    EXPECT_TRUE(t.expect_text(1, 0, "00000020  2E", Pos{1, 37}));
    // Unreadable: the bell, the reason, the text kept; Escape changes nothing.
    t.send(alt('s'));
    ASSERT_TRUE(expect_anywhere(t, "hex bytes; ?? is any byte"));
    const int bells = t.bells();
    enter_pattern(t, "4D 5");
    EXPECT_TRUE(expect_anywhere(t, "Hex digits come in pairs"));
    EXPECT_GT(t.bells(), bells);
    EXPECT_TRUE(expect_anywhere(t, "Pattern: 4D 5"));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(1, 0, "00000020  2E", Pos{1, 37}));
    find(t, "\"nowhere\"");
    EXPECT_TRUE(expect_anywhere(t, "** String not found **"));
}

TEST(Replace, AsksAtEachMatchAndTheWholeReplaceIsOneUndoStep) {
    Terminal t(24, 80);
    start_with(t, "ab ab ab ab ab.", {"-b"});
    t.send(alt('r'));
    ASSERT_TRUE(expect_anywhere(t, "hex bytes; ?? is any byte"));
    enter_pattern(t, "\"ab\"");
    enter_pattern(t, "\"XYZ\"");
    ASSERT_TRUE(t.expect_row(23, "Replace? Y Yes  N No  A All  Escape Stop"));
    t.send("y");
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  58 59 5A 20  61 62"));
    t.send("n");
    ASSERT_TRUE(expect_anywhere(t, "Offset: 0x00000007")); // the third match, asked next
    t.send("a");
    EXPECT_TRUE(expect_bar(t, "Replaced 4 matches"));
    EXPECT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('u')); // one step takes back all four
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  61 62 20 61  62 20 61 62   20 61 62 20"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    ASSERT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.read_file("a.bin"), "ab ab ab ab ab.");
    // Escape stops at the first question: nothing is replaced.
    t.send(alt('r'));
    ASSERT_TRUE(expect_anywhere(t, "hex bytes; ?? is any byte"));
    enter_pattern(t, "\"ab\"");
    enter_pattern(t, "\"\""); // -b: an empty replacement deletes
    ASSERT_TRUE(t.expect_row(23, "Replace? Y Yes  N No  A All  Escape Stop"));
    t.send("y");
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  20 61 62 20"));
    t.send(keys::esc);
    EXPECT_TRUE(expect_bar(t, "Replaced 1 match"));
}

TEST(Replace, WithoutBufferingTheReplacementKeepsTheLengthAndReadOnlyRingsTheBell) {
    Terminal t(24, 80);
    start_with(t, "one two one");
    t.send(alt('r'));
    ASSERT_TRUE(expect_anywhere(t, "hex bytes; ?? is any byte"));
    enter_pattern(t, "\"one\"");
    const int bells = t.bells();
    enter_pattern(t, "\"1\"");
    EXPECT_TRUE(
        expect_anywhere(t, "Replace with 3 bytes: without -b a replacement keeps the length"));
    EXPECT_GT(t.bells(), bells);
    t.send(ctrl('u') + "\"ONE\"" + keys::enter);
    ASSERT_TRUE(t.expect_row(23, "Replace? Y Yes  N No  A All  Escape Stop"));
    t.send("a");
    EXPECT_TRUE(expect_bar(t, "Replaced 2 matches"));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  4F 4E 45 20  74 77 6F 20   4F 4E 45"));
    t.send(ctrl('x')); // with changes: the save dialog first
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("a.bin"), "ONE two ONE");

    Terminal r(24, 80);
    start_with(r, "one", {"-r"});
    const int before = r.bells();
    r.send(alt('r'));
    EXPECT_TRUE(r.expect([&] { return r.bells() > before; }, "a bell"));
    EXPECT_TRUE(r.holds_for([&] { return row_with(r, "Replace with:") < 0; }, "nothing asked"));
}

// As the search does: in the text view and in a read-only file.
TEST(Find, WorksInTheTextViewAndInAReadOnlyFile) {
    Terminal t(24, 80);
    std::string bytes(200, 'x');
    bytes.replace(150, 6, "needle");
    start_with(t, bytes, {"-r"});
    t.send(ctrl('e'));
    ASSERT_TRUE(t.expect_text(1, 0, "xxxxxxxxxxxxxxxx")); // the text view
    find(t, "\"NEEDLE\"i");
    EXPECT_TRUE(expect_anywhere(t, "Offset: 0x00000096"));
    t.send(ctrl('e'));
    EXPECT_TRUE(t.expect_text(1, 0, "00000090  78 78 78 78  78 78 6E 65", Pos{1, 29}));
    EXPECT_TRUE(expect_marker(t, "R"));
}
