// Dialogs and the calculator on terminals narrower than their layout: text is
// cut at the popup's frame instead of wrapping over it, and the calculator
// keeps its numbers in view.
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string side = "│";

// A popup row of a 40-column popup at column 0: the frame, `inside` from
// column 1, blanks up to the right frame at column 39.
std::string framed(const std::string& inside) {
    return side + inside + std::string(38 - inside.size(), ' ') + side;
}

void start_narrow(Terminal& t) {
    t.write_file("data.bin", "Hello, narrow terminal");
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  48 65"));
    ASSERT_TRUE(t.settle());
}

} // namespace

TEST(NarrowDialogs, SearchTextIsCutAtTheFrameInsteadOfWrapping) {
    Terminal t(14, 40);
    start_narrow(t);
    // The 60x10 popup shrinks to 40x10 at row 2, column 0.
    t.send(ctrl('w'));
    ASSERT_TRUE(t.expect_text(3, 27, "Search"));
    EXPECT_TRUE(t.expect_row(7, framed(std::string(18, ' ') + "search for text stri")));
    EXPECT_TRUE(t.expect_row(8, framed("")));
    EXPECT_TRUE(t.expect_row(9, framed(std::string(19, ' ') + "search for Hex byte")));

    // Twelve bytes: the eleventh ends at the frame, the twelfth has no room.
    t.send("h4142434445464748494A4B4C");
    EXPECT_TRUE(t.expect_row(8, framed("      41 42 43 44 45 46 47 48 49 4A 4B")));
    EXPECT_TRUE(t.expect_row(5, framed("      text:  ABCDEFGHIJKL")));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_row(8, framed(std::string(18, ' ') + "** String not found ")));
    EXPECT_TRUE(t.expect_row(9, framed("")));
    t.send("x");
    EXPECT_TRUE(t.expect_text(13, 0, "^G Help"));
}

TEST(NarrowDialogs, GotoHintIsCutAtTheFrameAndTheOffsetStillWorks) {
    Terminal t(14, 40);
    start_narrow(t);
    // The 50x8 popup shrinks to 40x8 at row 3, column 0.
    t.send(ctrl('t'));
    ASSERT_TRUE(t.expect_text(4, 20, "Goto Offset"));
    const std::string hint = "  Hint: Decimal 255 = Hex 0xFF = Octal 0377";
    EXPECT_TRUE(t.expect_row(8, framed(" " + hint.substr(0, 37))));
    EXPECT_TRUE(t.expect_row(9, framed("")));
    t.send("10" + keys::enter);
    EXPECT_TRUE(t.expect_text(1, 0, "00000010  72 6D"));
}

TEST(NarrowCalculator, SixtyColumnsShowEveryNumberBesideTheMarker) {
    Terminal t(24, 60);
    start_narrow(t);
    t.send("\x1f"); // Control-_
    ASSERT_TRUE(t.expect_text(23, 0, "^X/^G  Return"));
    t.send("255");
    // 46 of the field's 64 columns fit: its empty left end is what goes.
    EXPECT_TRUE(
        t.expect_row(4, " Base  2  " + std::string(14, ' ') + "00000000000000000000000011111111"));
    EXPECT_TRUE(t.expect_row(6, " Base  8  " + std::string(43, ' ') + "377"));
    EXPECT_TRUE(t.expect_row(8, " Base 10  " + std::string(43, ' ') + "255 <=="));
    EXPECT_TRUE(t.expect_row(10, " Base 16  " + std::string(44, ' ') + "FF"));
    EXPECT_TRUE(t.expect([&] { return t.cell(8, 10).reverse; }, "the field's left end reversed"));
    EXPECT_TRUE(t.expect([&] { return t.cell(8, 55).reverse; }, "the field's right end reversed"));
    t.settle();
    EXPECT_TRUE(t.holds_for([&] { return !t.cell(8, 56).reverse; }, "the field ends at column 55"));
    EXPECT_TRUE(t.expect([&] { return t.cell(8, 58).bold; }, "the marker in bold"));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  48 65"));
}

// The jump prompt lives in the command bar, which a resize or the quit
// dialog's No rebuilds: it must come back with what was typed so far.
TEST(JumpPrompt, SurvivesAResizeAndTheQuitDialogWithItsDigits) {
    Terminal t(24, 80);
    t.write_file("data.bin", std::string(4096, 'x'));
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  78 78"));
    t.send("+1");
    ASSERT_TRUE(t.expect_text(23, 0, "Offset: 0x00000000 + 0x1"));
    t.resize(20, 80);
    EXPECT_TRUE(t.expect_text(19, 0, "Offset: 0x00000000 + 0x1"));
    t.send(ctrl('c'));
    ASSERT_TRUE(t.expect_text(19, 0, "^G/^X/Escape Cancel   Y Yes"));
    t.send("n");
    EXPECT_TRUE(t.expect_text(19, 0, "Offset: 0x00000000 + 0x1"));
    t.send("0" + keys::enter);
    EXPECT_TRUE(t.expect_text(1, 0, "00000010  78 78"));
}

// A resize while a dialog is open centres its popup on the new screen and
// shows the dialog's own command bar again, not the editor's.
TEST(DialogResize, GotoPopupIsCentredAgainWithItsOwnBar) {
    Terminal t(24, 80);
    t.write_file("data.bin", std::string(256, 'x'));
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  78 78"));
    t.send(ctrl('t'));
    // 50x8 popup centred on 80x24: row 8, column 15.
    ASSERT_TRUE(t.expect_text(9, 35, "Goto Offset"));
    t.resize(30, 100);
    // Centred on 100x30: row 11, column 25.
    EXPECT_TRUE(t.expect_text(12, 45, "Goto Offset"));
    EXPECT_TRUE(t.expect_row(29, "^G/^X/Escape Cancel   ^U Clear input"));
    t.send("10" + keys::enter);
    EXPECT_TRUE(t.expect_text(1, 0, "00000010  78 78"));
}
