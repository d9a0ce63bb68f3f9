// The dialogs seen from outside: Goto Offset, the relative jump, Search and
// Find Next, the help menu, and the interrupt while a dialog is open.
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

// 1024 bytes counting up: the row at offset o reads o, o+1, ... (mod 256).
std::string counting_bytes() {
    std::string s(1024, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>(i);
    return s;
}

std::string label(unsigned offset) {
    char s[16];
    snprintf(s, sizeof s, "%08X  ", offset);
    return s;
}

std::string offset_text(unsigned cursor, unsigned last) {
    char s[64];
    snprintf(s, sizeof s, "Offset: 0x%08X / 0x%08X", cursor, last);
    return s;
}

void start_with(Terminal& t, const std::string& bytes,
                const std::vector<std::string>& options = {}) {
    t.write_file("data.bin", bytes);
    std::vector<std::string> args = options;
    args.push_back("data.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    ASSERT_TRUE(t.settle());
}

// The help lines as the menu shows them, with or without -b.
std::vector<std::string> help_lines(bool buffered) {
    const std::string off = "Disabled.  Use -b, --buffer option to enable";
    return {
        "Maneuver            Arror Keys (or h,j,k,l), Home, End",
        "Page Up             Control-y, Control-b, Alt-v, Page Up (^Y) (^B) u y",
        "Page Down           Control-v, Control-f, Page Down (^V) (^F) v space",
        "Bytes <=> text      Tab, Control-i (^I)",
        "Insert/Add Byte     " + (buffered ? std::string("Control-a, Insert (^A)") : off),
        "Delete Byte         " + (buffered ? std::string("Control-d, Delete (^D)") : off),
        "goTo Offset         Control-t (^T), t",
        "Offset + Jump       +, -, n (jump again)",
        "Help                Control-g (^G), F1",
        "Redraw Screen       Control-l (^L)",
        "Save                Control-o (^O), F2",
        "Save and Quit       Control-x (^X), F3",
        "Quit/New File       Control-c (^C)",
        "viEw as text        Control-e (^E)",
        "Search              Control-w (^W), w",
        "find Next           Control-n (^N)",
        "Undo                Control-U (^U)",
        "ASCII <=> EBCDIC    Control-R (^R)",
        "Switch spacings     Control-P (^P)",
        "Binary Calculator   Control-/, Control-_ (^/) (^_)",
        "Toggle Color        F5 (requires color capable terminal)",
    };
}

// The lines from `first` on rows 2..21, each at column 3 inside the border.
::testing::AssertionResult expect_help_page(Terminal& t, bool buffered, int first) {
    std::vector<std::string> lines = help_lines(buffered);
    for (int i = 0; i < 20; ++i) {
        ::testing::AssertionResult r = t.expect_text(2 + i, 3, lines[first + i]);
        if (!r) return r;
    }
    return ::testing::AssertionSuccess();
}

bool more_at(Terminal& t, int row) {
    return t.text(row, 73, 6) == "(more)";
}

} // namespace

// ---------------------------------------------------------------- goto

TEST(GotoOffset, HexadecimalOffsetPutsItsRowOnTopWithTheCursorOnIt) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send(ctrl('t'));
    ASSERT_TRUE(t.expect_text(9, 35, "Goto Offset"));
    EXPECT_TRUE(t.expect_text(11, 31, "Offset:  0x"));
    EXPECT_TRUE(t.expect_text(13, 17, "  Hint: Decimal 255 = Hex 0xFF = Octal 0377"));
    EXPECT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel   ^U Clear input", Pos{11, 42}))
        << "on the position after the prefix";
    t.send("1F");
    EXPECT_TRUE(t.expect_text(11, 40, "0x1F"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x1F, 0x3FF)));
    EXPECT_TRUE(t.expect_text(1, 0, label(0x10) + "10 11 12 13"));
    EXPECT_TRUE(t.expect_row(23, writable_bar, Pos{1, 59}));
}

TEST(GotoOffset, EscapeLeavesTheCursorWhereItWas) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send("jjl"); // offset 0x20, low digit of byte 0
    ASSERT_TRUE(t.expect_cursor({3, 11}));
    t.send(ctrl('t'));
    ASSERT_TRUE(t.expect_text(9, 35, "Goto Offset"));
    t.send("77");
    ASSERT_TRUE(t.settle());
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x20, 0x3FF)));
    EXPECT_TRUE(t.expect_text(1, 0, label(0), Pos{3, 11}));
    EXPECT_TRUE(t.expect_text(9, 0, label(0x80) + "80 81 82 83")) << "the popup is gone";
}

// ---------------------------------------------------------------- jump

TEST(RelativeJump, PlusTenThenNMovesSixteenBytesEachTime) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send("+");
    ASSERT_TRUE(t.expect_row(23, "Offset: 0x00000000 + 0x"));
    t.send("1");
    EXPECT_TRUE(t.expect_row(23, "Offset: 0x00000000 + 0x1"));
    t.send("0");
    EXPECT_TRUE(t.expect_row(23, "Offset: 0x00000000 + 0x10"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x10, 0x3FF)));
    EXPECT_TRUE(t.expect_text(1, 0, label(0x10)));
    EXPECT_TRUE(t.expect_row(23, writable_bar, Pos{1, 10}));
    t.send("n");
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x20, 0x3FF)));
    EXPECT_TRUE(t.expect_text(1, 0, label(0x20)));
}

TEST(RelativeJump, BackspaceRemovesTheLastDigitAndMinusGoesBack) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send("+123");
    ASSERT_TRUE(t.expect_row(23, "Offset: 0x00000000 + 0x123"));
    t.send("\x7f");
    EXPECT_TRUE(t.expect_row(23, "Offset: 0x00000000 + 0x12"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x12, 0x3FF), Pos{1, 16}));
    t.send("-");
    EXPECT_TRUE(t.expect_row(23, "Offset: 0x00000012 - 0x"));
    t.send("5" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x0D, 0x3FF)));
}

// ---------------------------------------------------------------- search

namespace {

// The 60x10 search popup stands at screen row 7, column 10.
constexpr int popup_row = 7;
constexpr int popup_col = 10;

bool reversed(Terminal& t, int r, int c) {
    return t.cell(popup_row + r, popup_col + c).reverse;
}

// Which of the three menu items is drawn in reverse video, or -1.
int highlighted(Terminal& t) {
    const int rows[] = {3, 5, 7};
    const int cols[] = {26, 19, 20};
    int found = -1;
    for (int i = 0; i < 3; ++i)
        if (reversed(t, rows[i], cols[i])) found = found == -1 ? i : -2;
    return found;
}

::testing::AssertionResult expect_highlighted(Terminal& t, int item) {
    return t.expect([&] { return highlighted(t) == item; },
                    "menu item " + std::to_string(item) + " highlighted");
}

} // namespace

TEST(Search, TextSearchFindNextAndNotFound) {
    Terminal t;
    start_with(t, "aaaa");
    t.send(ctrl('w'));
    ASSERT_TRUE(t.expect_text(popup_row + 1, popup_col + 27, "Search"));
    EXPECT_TRUE(
        t.expect_row(23, "^G/^X/Escape Cancel   F/N Find Next   A Text Search   H Hex Search"));
    t.send(keys::enter);
    ASSERT_TRUE(t.expect_text(popup_row + 1, popup_col + 25, "Text String"));
    t.send("aa" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(1, 3), Pos{1, 13}));
    t.send(ctrl('n'));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(2, 3)));
    t.send(ctrl('n'));
    EXPECT_TRUE(t.expect_text(popup_row + 6, popup_col + 19, "** String not found **"));
    t.send("x");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(2, 3), Pos{1, 16}));
}

TEST(Search, ByteSearchFindsTheTextItsBytesSpell) {
    Terminal t;
    start_with(t, "..AB..AB");
    t.send(ctrl('w') + "h");
    ASSERT_TRUE(t.expect_text(popup_row + 1, popup_col + 25, "Byte Search"));
    t.send("41");
    EXPECT_TRUE(t.expect_text(popup_row + 6, popup_col + 7, "41"));
    EXPECT_TRUE(t.expect_text(popup_row + 3, popup_col + 7, "text:  A"));
    t.send("42" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(2, 7)));
    t.send(ctrl('n'));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(6, 7)));
    // Not found: the message, and the cursor stays.
    t.send(ctrl('w') + "h4143" + keys::enter);
    EXPECT_TRUE(t.expect_text(popup_row + 6, popup_col + 19, "** String not found **"));
    t.send(" ");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(6, 7)));
}

TEST(Search, DownSkipsFindNextUntilTheFirstSearchThenVisitsAllThree) {
    Terminal t;
    start_with(t, "abcabc");
    t.send(ctrl('w'));
    ASSERT_TRUE(expect_highlighted(t, 1));
    t.send(keys::down);
    EXPECT_TRUE(expect_highlighted(t, 2));
    t.send(keys::down);
    EXPECT_TRUE(expect_highlighted(t, 1));
    t.send(keys::up);
    EXPECT_TRUE(expect_highlighted(t, 2));
    t.send("a");
    ASSERT_TRUE(t.expect_text(popup_row + 1, popup_col + 25, "Text String"));
    t.send("bc" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(1, 5)));

    t.send(ctrl('w'));
    ASSERT_TRUE(expect_highlighted(t, 0));
    t.send(keys::down);
    EXPECT_TRUE(expect_highlighted(t, 1));
    t.send(keys::down);
    EXPECT_TRUE(expect_highlighted(t, 2));
    t.send(keys::down);
    EXPECT_TRUE(expect_highlighted(t, 0));
    t.send(keys::enter); // Find Next: the bc at offset 4
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(4, 5)));
}

// ---------------------------------------------------------------- help

TEST(HelpMenu, TwentyFourLinesScrollByOneWithMoreMarks) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send(ctrl('g'));
    ASSERT_TRUE(t.expect_text(1, 34, "Help Menu"));
    EXPECT_TRUE(expect_help_page(t, false, 0));
    EXPECT_TRUE(t.expect_text(22, 73, "(more)"));
    t.settle();
    EXPECT_FALSE(more_at(t, 1));
    EXPECT_TRUE(t.expect_row(23, std::string(34, ' ') + "Morvane 0.9.7"));
    t.send("j");
    EXPECT_TRUE(t.expect_text(1, 73, "(more)"));
    EXPECT_TRUE(expect_help_page(t, false, 1));
    // The frame is drawn after the lines: wait for the bottom mark to go.
    EXPECT_TRUE(t.expect([&] { return !more_at(t, 22); }, "no (more) at the bottom"));
    t.send("j"); // nothing more below
    ASSERT_TRUE(t.settle());
    EXPECT_TRUE(expect_help_page(t, false, 1));
    t.send("k");
    EXPECT_TRUE(expect_help_page(t, false, 0));
    EXPECT_TRUE(t.expect_text(22, 73, "(more)"));
    t.send("q");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(1, 0, label(0) + "00 01 02 03", Pos{1, 10}));
}

TEST(HelpMenu, WholeFileModeListsTheInsertAndDeleteKeys) {
    Terminal t;
    start_with(t, counting_bytes(), {"-b"});
    t.send(keys::f1);
    ASSERT_TRUE(t.expect_text(1, 34, "Help Menu"));
    EXPECT_TRUE(expect_help_page(t, true, 0));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_row(23, writable_bar));
}

TEST(HelpMenu, TwentyFiveLinesShowEveryLineAndNoMarks) {
    Terminal t(25, 80);
    t.write_file("data.bin", counting_bytes());
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect_row(24, writable_bar));
    t.send(ctrl('g'));
    ASSERT_TRUE(t.expect_text(1, 34, "Help Menu"));
    std::vector<std::string> lines = help_lines(false);
    for (int i = 0; i < 21; ++i)
        EXPECT_TRUE(t.expect_text(2 + i, 3, lines[i]));
    t.settle();
    EXPECT_FALSE(more_at(t, 1));
    EXPECT_FALSE(more_at(t, 23));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_row(24, writable_bar));
}

TEST(HelpMenu, ControlCIsIgnoredWhileOpenAndWorksAgainAfterwards) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send(ctrl('g'));
    ASSERT_TRUE(t.expect_text(1, 34, "Help Menu"));
    t.send("\x03");
    EXPECT_TRUE(t.expect_unchanged());
    EXPECT_TRUE(expect_help_page(t, false, 0));
    t.send("q");
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    t.send("\x03");
    EXPECT_TRUE(t.expect_text(11, 30, "Quit without Saving?"));
    t.send("n");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
}

// ---------------------------------------------------------------- resizing

TEST(DialogResize, TheHelpMenuSurvivesATinyTerminalAndLeavesACorrectScreen) {
    Terminal t;
    start_with(t, counting_bytes());
    t.send(ctrl('g'));
    ASSERT_TRUE(t.expect_text(1, 34, "Help Menu"));
    for (auto [lines, cols] : {std::pair{10, 30}, {3, 5}, {1, 1}, {24, 80}}) {
        t.resize(lines, cols);
        ASSERT_TRUE(t.settle());
        ASSERT_TRUE(t.running()) << lines << "x" << cols;
    }
    t.send("jjq");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(1, 0, label(0) + "00 01 02 03"));
}
