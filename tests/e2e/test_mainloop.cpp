// The main loop seen from outside: leaving, the quit dialog, escape
// sequences, panes and layouts, colour, resizing and cursor keys.
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string sample20 = std::string("Hello, hex world!") + '\0' + "\x7f\xff";

std::vector<std::string> sample20_screen(char marker = ' ') {
    std::vector<std::string> rows(24, "");
    rows[0] = "File: sample.bin                  ASCII Offset: 0x00000000 / 0x00000013 (%00)";
    rows[0] += std::string(79 - rows[0].size(), ' ') + marker;
    rows[1] = "00000000  48 65 6C 6C  6F 2C 20 68   65 78 20 77  6F 72 6C 64   Hello, hex world";
    rows[2] = "00000010  21 00 7F FF                                           !...";
    rows[23] = writable_bar;
    return rows;
}

// A 1024-byte file of 'A': every row reads the same but for its offset.
const std::string all_a(1024, 'A');

std::string a_row(unsigned offset, int cols = 80) {
    char label[16];
    snprintf(label, sizeof label, "%08X  ", offset);
    std::string hex = "41 41 41 41  41 41 41 41   41 41 41 41  41 41 41 41";
    std::string r = label + hex;
    return r + std::string(static_cast<size_t>(cols - 16) - r.size(), ' ') + std::string(16, 'A');
}

std::string offset_text(unsigned cursor, unsigned last) {
    char s[64];
    snprintf(s, sizeof s, "Offset: 0x%08X / 0x%08X", cursor, last);
    return s;
}

// Everything below the status line, which shows the cursor's offset.
::testing::AssertionResult expect_body(Terminal& t) {
    std::vector<std::string> rows = sample20_screen();
    return t.expect_rows(1, std::vector<std::string>(rows.begin() + 1, rows.end()));
}

void start_sample(Terminal& t, const std::vector<std::string>& options = {}) {
    t.write_file("sample.bin", sample20);
    std::vector<std::string> args = options;
    args.push_back("sample.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_row(1, sample20_screen()[1]));
}

void start_all_a(Terminal& t) {
    t.write_file("a.bin", all_a);
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_row(1, a_row(0, t.cols())));
}

} // namespace

// ---------------------------------------------------------------- leaving

TEST(Leaving, ControlXWithoutChangesExitsAndRestoresTheTerminal) {
    Terminal t;
    start_sample(t);
    ASSERT_TRUE(t.altscreen());
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_FALSE(t.altscreen());
    EXPECT_TRUE(t.cursor_visible());
    EXPECT_TRUE(t.canonical_echo_mode());
    EXPECT_TRUE(t.expect_screen(std::vector<std::string>(24, "")))
        << "the screen before the program is back";
}

TEST(Leaving, ControlXLeavesTheLastLineBlank) {
    Terminal t;
    t.emulate_altscreen(false); // keep what the program left on the one screen
    start_sample(t);
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_TRUE(t.expect_row(23, ""));
    EXPECT_TRUE(t.expect_row(1, sample20_screen()[1])) << "only the last line is cleared";
    EXPECT_TRUE(t.canonical_echo_mode());
}

TEST(Leaving, ControlXOnReadOnlyFileExitsAtOnce) {
    Terminal t;
    start_sample(t, {"-r"});
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// ---------------------------------------------------------------- quit dialog

namespace {

// The dialog on 80x24: a 60x6 popup at row 9, column 10.
constexpr int dialog_top = 9, dialog_left = 10;
constexpr int choice_row = dialog_top + 4, choice_col = dialog_left + 16;
const std::string choice_line = " Yes       No       New File ";
const std::string dialog_bar = "^G/^X/Escape Cancel   Y Yes   N No   F New File";

// Which part of the choice line is in reverse video: 1 Yes, 2 No, 3 New File.
::testing::AssertionResult selected(Terminal& t, int choice) {
    const int first[] = {0, 0, 10, 19}, width[] = {0, 5, 4, 10};
    return t.expect(
        [&] {
            if (t.text(choice_row, choice_col, 29) != choice_line) return false;
            for (int i = 0; i < 29; ++i) {
                bool in = i >= first[choice] && i < first[choice] + width[choice];
                if (t.cell(choice_row, choice_col + i).reverse != in) return false;
            }
            return true;
        },
        "choice " + std::to_string(choice) + " selected");
}

void open_quit_dialog(Terminal& t) {
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_text(dialog_top + 2, dialog_left + 20, "Quit without Saving?"));
    EXPECT_TRUE(selected(t, 1));
    EXPECT_TRUE(t.expect_text(23, 0, dialog_bar + std::string(80 - dialog_bar.size(), ' ')));
    std::string edge;
    for (int i = 0; i < 58; ++i)
        edge += "─";
    EXPECT_TRUE(t.expect_text(dialog_top, dialog_left, "┌" + edge + "┐"));
    EXPECT_TRUE(t.expect_text(dialog_top + 5, dialog_left, "└" + edge + "┘"));
}

} // namespace

TEST(QuitDialog, ControlCAsksAndYesExits) {
    Terminal t;
    start_sample(t);
    open_quit_dialog(t);
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_FALSE(t.altscreen());
    EXPECT_TRUE(t.canonical_echo_mode());
}

TEST(QuitDialog, YesWithUnsavedChangesWritesNothing) {
    Terminal t;
    start_sample(t);
    t.send("5"); // 'H' (48) becomes 'X' (58)
    ASSERT_TRUE(t.expect_text(1, 10, "58 65"));
    ASSERT_TRUE(t.expect_text(0, 79, "M"));
    open_quit_dialog(t);
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("sample.bin"), sample20);
}

TEST(QuitDialog, ReadOnlyFileAsksReallyQuit) {
    Terminal t;
    start_sample(t, {"-r"});
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_text(dialog_top + 2, dialog_left + 19, "   Really Quit?        "));
    EXPECT_TRUE(selected(t, 1));
    t.send("Y");
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(QuitDialog, RightTabAndLeftCycleTheChoices) {
    Terminal t;
    start_sample(t);
    open_quit_dialog(t);
    t.send(keys::right);
    EXPECT_TRUE(selected(t, 2));
    t.send(keys::tab);
    EXPECT_TRUE(selected(t, 3));
    t.send(keys::right);
    EXPECT_TRUE(selected(t, 1));
    t.send(keys::left);
    EXPECT_TRUE(selected(t, 3));
    t.send(keys::left);
    EXPECT_TRUE(selected(t, 2));
    t.send(keys::left);
    EXPECT_TRUE(selected(t, 1));
    t.send(keys::tab);
    EXPECT_TRUE(selected(t, 2));
    t.send("z"); // no meaning: the line is shown again unchanged
    EXPECT_TRUE(t.expect_unchanged());
    t.send(keys::enter); // takes No
    EXPECT_TRUE(t.expect_screen(sample20_screen()));
    EXPECT_TRUE(t.running());
}

TEST(QuitDialog, EscapeAndNReturnToTheRedrawnEditor) {
    Terminal t;
    start_sample(t);
    t.send(keys::right); // the cursor's place must survive the dialog
    ASSERT_TRUE(t.expect_cursor({1, 11}));
    for (const std::string& key : {keys::esc, std::string("n"), std::string("N")}) {
        SCOPED_TRACE(key);
        open_quit_dialog(t);
        t.send(key);
        EXPECT_TRUE(t.expect_screen(sample20_screen(), Pos{1, 11}));
        EXPECT_TRUE(t.running());
    }
    // And the editor still takes keys.
    t.send(keys::right);
    EXPECT_TRUE(t.expect_cursor({1, 13}));
}

TEST(QuitDialog, SecondControlCWhileOpenChangesNothing) {
    Terminal t;
    start_sample(t);
    open_quit_dialog(t);
    t.send(keys::right);
    ASSERT_TRUE(selected(t, 2));
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_unchanged());
    EXPECT_TRUE(selected(t, 2));
    t.send("n");
    EXPECT_TRUE(t.expect_screen(sample20_screen()));
}

// ---------------------------------------------------------------- escape sequences

namespace {

// The file of 'A' paged down twice, then into the text pane, where a stray
// '~' or 'x' would be typed into the file.
void start_in_text_pane_two_pages_down(Terminal& t) {
    start_all_a(t);
    t.send(keys::page_down + keys::page_down);
    ASSERT_TRUE(t.expect_row(1, a_row(0x2A0)));
    t.send(keys::tab);
    ASSERT_TRUE(t.expect_cursor({1, 64}));
    ASSERT_TRUE(t.settle());
}

// The view from offset `top`, the cursor in the text pane on the first row.
void expect_view_at(Terminal& t, unsigned top, unsigned cursor) {
    EXPECT_TRUE(t.expect_row(1, a_row(top)));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(cursor, 0x3FF), Pos{1, 64}));
    t.settle();
    EXPECT_TRUE(
        t.holds_for([&] { return t.text(0, 79, 1) == " "; }, "nothing typed into the file"));
}

} // namespace

TEST(EscapeSequences, EscBracket5TildePagesUpOnceWhenSentKeyByKey) {
    Terminal t;
    start_in_text_pane_two_pages_down(t);
    t.send(keys::esc);
    ASSERT_TRUE(t.settle()); // the lone Escape has been taken as a key
    t.send("[5~");
    expect_view_at(t, 0x150, 0x150);
    EXPECT_TRUE(t.expect_unchanged());
    expect_view_at(t, 0x150, 0x150);
}

TEST(EscapeSequences, PageUpSequenceSentAtOncePagesUpOnce) {
    Terminal t;
    start_in_text_pane_two_pages_down(t);
    t.send(keys::page_up);
    expect_view_at(t, 0x150, 0x150);
    EXPECT_TRUE(t.expect_unchanged());
    expect_view_at(t, 0x150, 0x150);
}

TEST(EscapeSequences, EscBracket9TildeDoesNothingAndUsesUpTheTilde) {
    for (bool key_by_key : {true, false}) {
        SCOPED_TRACE(key_by_key ? "key by key" : "at once");
        Terminal t;
        start_in_text_pane_two_pages_down(t);
        if (key_by_key) {
            t.send(keys::esc);
            ASSERT_TRUE(t.settle());
            t.send("[9~");
        } else {
            t.send("\x1b[9~");
        }
        EXPECT_TRUE(t.expect_unchanged());
        expect_view_at(t, 0x2A0, 0x2A0);
        // The next key acts normally.
        t.send(keys::esc + "[6~");
        EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x3F0, 0x3FF)));
    }
}

TEST(EscapeSequences, EscXDoesNothing) {
    Terminal t;
    start_in_text_pane_two_pages_down(t);
    t.send("\x1bx");
    EXPECT_TRUE(t.expect_unchanged());
    expect_view_at(t, 0x2A0, 0x2A0);
    // Typing without the Escape does change the byte: the check above means something.
    t.send("x");
    EXPECT_TRUE(t.expect_text(0, 79, "M"));
    EXPECT_TRUE(t.expect_text(1, 64, "xAAAAAAAAAAAAAAA"));
}

// ---------------------------------------------------------------- panes and layouts

TEST(Panes, TabTwiceReturnsToTheSameDigit) {
    Terminal t;
    start_sample(t);
    t.send(keys::right + keys::right + keys::right); // low digit of byte 1
    ASSERT_TRUE(t.expect_cursor({1, 14}));
    t.send(keys::tab);
    EXPECT_TRUE(t.expect_cursor({1, 65}));
    t.send(keys::tab);
    EXPECT_TRUE(t.expect_cursor({1, 14}));
    EXPECT_TRUE(expect_body(t));
}

TEST(Panes, ControlPTwiceReturnsToTheSameDigit) {
    Terminal t;
    start_sample(t);
    for (int i = 0; i < 19; ++i)
        t.send(keys::right); // low digit of byte 9
    ASSERT_TRUE(t.expect_cursor({1, 41}));
    t.send(ctrl('p'));
    EXPECT_TRUE(t.expect_rows(
        1, {"00000000  48656C6C 6F2C2068 65782077 6F726C64                   Hello, hex world",
            "00000010  21007FFF                                              !..."}));
    EXPECT_TRUE(t.expect_cursor({1, 31}));
    t.send(ctrl('p'));
    EXPECT_TRUE(expect_body(t));
    EXPECT_TRUE(t.expect_cursor({1, 41}));
}

// ---------------------------------------------------------------- colour and redraw

namespace {

bool coloured(Terminal& t) {
    return t.cell(0, 0).bg == 6 && t.cell(1, 10).bg == 4 && t.cell(5, 40).bg == 4;
}
bool plain(Terminal& t) {
    return t.cell(0, 0).reverse && t.cell(0, 0).bg == -1 && t.cell(1, 10).bg == -1 &&
           t.cell(5, 40).bg == -1;
}

} // namespace

TEST(Colour, F5SwitchesColourOffAndOnAgain) {
    Terminal t;
    start_sample(t);
    ASSERT_TRUE(t.expect([&] { return coloured(t); }, "colour at start"));
    t.send(keys::f5);
    EXPECT_TRUE(t.expect([&] { return plain(t); }, "colour off"));
    EXPECT_TRUE(t.expect_screen(sample20_screen()));
    t.send(keys::f5);
    EXPECT_TRUE(t.expect([&] { return coloured(t); }, "colour on again"));
    EXPECT_TRUE(t.expect_screen(sample20_screen()));
}

TEST(Colour, F5AfterNoColorOnlyRedraws) {
    Terminal t;
    start_sample(t, {"-n"});
    ASSERT_TRUE(t.expect_screen(sample20_screen()));
    ASSERT_TRUE(t.expect([&] { return plain(t); }, "no colour at start"));
    ASSERT_TRUE(t.settle());
    t.wipe();
    t.send(keys::f5);
    EXPECT_TRUE(t.expect_screen(sample20_screen(), Pos{1, 10})) << "F5 repaints the screen";
    EXPECT_TRUE(t.holds_for([&] { return plain(t); }, "without colour"));
}

TEST(Colour, ControlLRepaintsTheWholeScreen) {
    Terminal t;
    start_sample(t);
    t.send(keys::right);
    ASSERT_TRUE(t.expect_cursor({1, 11}));
    ASSERT_TRUE(t.settle());
    t.wipe();
    t.send(ctrl('l'));
    EXPECT_TRUE(t.expect_screen(sample20_screen(), Pos{1, 11}));
    EXPECT_TRUE(t.expect([&] { return coloured(t); }, "colour after the repaint"));
}

// ---------------------------------------------------------------- resizing

TEST(Resize, ShorterTerminalKeepsTheCursorOnTheLastRowAndTheSameByte) {
    Terminal t;
    start_all_a(t);
    for (int i = 0; i < 21; ++i)
        t.send(keys::down);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(0x150, 0x3FF), Pos{22, 10}));
    t.resize(16, 80);
    std::vector<std::string> rows{
        "File: a.bin                       ASCII Offset: 0x00000150 / 0x000003FF (%33)"};
    for (unsigned r = 0; r < 14; ++r)
        rows.push_back(a_row(0x80 + 16 * r));
    rows.push_back(writable_bar);
    EXPECT_TRUE(t.expect_screen(rows, Pos{14, 10}));
    // Still at home on the smaller screen: Down scrolls by one row.
    t.send(keys::down);
    EXPECT_TRUE(t.expect_row(14, a_row(0x160), Pos{14, 10}));
}

TEST(Resize, StormDownToOneByOneEndsWithACorrectScreen) {
    Terminal t;
    start_all_a(t);
    for (int i = 0; i < 4; ++i)
        t.send(keys::down);
    ASSERT_TRUE(t.expect_cursor({5, 10}));
    const std::vector<std::pair<int, int>> storm{{12, 60}, {1, 1},  {2, 10}, {40, 120}, {5, 5},
                                                 {1, 80},  {24, 1}, {2, 2},  {1, 1},    {60, 200}};
    for (size_t i = 0; i < storm.size(); ++i) {
        t.resize(storm[i].first, storm[i].second);
        if (i % 3 == 0) t.settle(); // some settle, some pile up
    }
    for (int i = 0; i < 20; ++i)
        t.resize(i % 2 ? 1 : 30, i % 2 ? 1 : 100);
    t.send(keys::down + ctrl('l') + keys::up); // keys at 1x1 must not crash it
    t.settle();
    ASSERT_TRUE(t.running()) << t.dump();
    // One editing row: the cursor must be on it, on the same byte.
    t.resize(3, 80);
    ASSERT_TRUE(t.expect_row(1, a_row(0x40)));
    t.resize(30, 100);
    std::vector<std::string> rows{"File: a.bin                                           ASCII "
                                  "Offset: 0x00000040 / 0x000003FF (%06)"};
    for (unsigned r = 0; r < 28; ++r)
        rows.push_back(a_row(0x40 + 16 * r, 100));
    rows.push_back("^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search"
                   "   ^U Undo   ^L Redraw");
    EXPECT_TRUE(t.expect_screen(rows, Pos{1, 10}));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// ---------------------------------------------------------------- cursor keys

TEST(CursorKeys, ArrowsHomeEndAndLettersMoveByDigitAndRow) {
    Terminal t;
    start_sample(t);
    auto at = [&](Pos p, unsigned offset) {
        EXPECT_TRUE(t.expect_text(0, 40, offset_text(offset, 0x13), p));
    };
    t.send(keys::right);
    at({1, 11}, 0);
    t.send(keys::right);
    at({1, 13}, 1);
    t.send(keys::down);
    at({2, 13}, 17);
    t.send(keys::right + keys::right + keys::right + keys::right + keys::right);
    at({2, 20}, 19); // low digit of the last byte
    t.send(keys::right + keys::down);
    EXPECT_TRUE(t.expect_unchanged());
    at({2, 20}, 19);
    t.send(keys::home);
    at({2, 10}, 16);
    t.send(keys::up);
    at({1, 10}, 0);
    t.send(keys::left + keys::up); // nothing before offset 0
    EXPECT_TRUE(t.expect_unchanged());
    at({1, 10}, 0);
    t.send(keys::end);
    at({1, 60}, 15);
    t.send(keys::left);
    at({1, 59}, 15);
    t.send(keys::left);
    at({1, 57}, 14);
    t.send(keys::down); // the last row ends before this column
    at({2, 19}, 19);
    t.send("k");
    at({1, 19}, 3);
    t.send("l");
    at({1, 20}, 3);
    t.send("h");
    at({1, 19}, 3);
    t.send("j");
    at({2, 19}, 19);
    EXPECT_TRUE(expect_body(t)) << "moving the cursor changes no byte";
}

TEST(CursorKeys, PageDownAndEndReachTheLastRow) {
    Terminal t;
    start_all_a(t);
    t.send(keys::page_down);
    EXPECT_TRUE(t.expect_row(1, a_row(0x150)));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x150, 0x3FF), Pos{1, 10}));
    t.send(ctrl('v'));
    EXPECT_TRUE(t.expect_row(1, a_row(0x2A0)));
    t.send(" ");
    EXPECT_TRUE(t.expect_row(1, a_row(0x3F0)));
    EXPECT_TRUE(t.expect_row(2, "", Pos{1, 10}));
    // A page would pass the end: the last row goes to the bottom.
    t.send(keys::page_down);
    EXPECT_TRUE(t.expect_row(1, a_row(0x2A0)));
    EXPECT_TRUE(t.expect_row(22, a_row(0x3F0), Pos{22, 10}));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x3F0, 0x3FF)));
    t.send(keys::end);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x3FF, 0x3FF), Pos{22, 60}));
    EXPECT_TRUE(t.expect_text(0, 72, "(%100)"));
    t.send(keys::page_down);
    EXPECT_TRUE(t.expect_unchanged());
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0x3FF, 0x3FF), Pos{22, 60}));
}
