// The binary calculator seen from outside: opened from the editor, typing in
// each base, a resize and the interrupt while it is open, and the way back.
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string calc_bar = "^X/^G  Return   ^C  Exit   J  Down   K  Up";
const std::string calc_status = "Integer: 32 bits     Long: 64 bits";

// The screen row of a base line: label at column 1, the 64-column field at
// column 10, the marker after it on the active line.
std::string base_row(const std::string& label, const std::string& digits, bool active) {
    return " " + label + "  " + std::string(64 - digits.size(), ' ') + digits +
           (active ? " <==" : "");
}

void expect_calculator(Terminal& t, const std::string& b2, const std::string& b8,
                       const std::string& b10, const std::string& b16, int active) {
    EXPECT_TRUE(t.expect_row(0, calc_status));
    EXPECT_TRUE(t.expect_text(2, t.cols() / 2 - 8, "Binary Calculator"));
    EXPECT_TRUE(t.expect_row(4, base_row("Base  2", b2, active == 1)));
    EXPECT_TRUE(t.expect_row(6, base_row("Base  8", b8, active == 2)));
    EXPECT_TRUE(t.expect_row(8, base_row("Base 10", b10, active == 3)));
    EXPECT_TRUE(t.expect_row(10, base_row("Base 16", b16, active == 4)));
    EXPECT_TRUE(t.expect_row(t.lines() - 1, calc_bar));
}

void open_editor(Terminal& t) {
    t.write_file("sample.bin", "Hello, calculator");
    t.start({"sample.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  48 65 6C 6C"));
    t.settle();
}

} // namespace

TEST(CalculatorScreen, OpensWithZeroOnFourLinesAndConvertsTyping) {
    Terminal t(24, 80);
    open_editor(t);
    t.send("\x1f"); // Control-_
    expect_calculator(t, std::string(32, '0'), "0", "0", "0", 3);
    EXPECT_TRUE(t.expect([&] { return t.cell(4, 10).reverse; }, "the field's left end reversed"));
    EXPECT_TRUE(t.expect([&] { return t.cell(4, 73).reverse; }, "the field's right end reversed"));
    t.settle();
    EXPECT_TRUE(t.holds_for([&] { return !t.cell(4, 74).reverse; }, "the field ends at column 73"));
    EXPECT_TRUE(t.expect([&] { return t.cell(8, 76).bold; }, "the marker in bold"));
    t.send("255");
    expect_calculator(t, "00000000000000000000000011111111", "377", "255", "FF", 3);
    t.send("A"); // no digit of base 10
    t.settle();
    expect_calculator(t, "00000000000000000000000011111111", "377", "255", "FF", 3);
}

TEST(CalculatorScreen, AllOnesInHexShowAsMinusOneAndBackspaceGivesZero) {
    Terminal t(24, 80);
    open_editor(t);
    t.send("\x1f");
    ASSERT_TRUE(t.expect_row(23, calc_bar));
    t.send("jFFFFFFFF");
    expect_calculator(t, std::string(32, '1'), "37777777777", "-1", "FFFFFFFF", 4);
    t.send("k\x7f"); // back to base 10, Backspace
    expect_calculator(t, std::string(32, '0'), "0", "0", "0", 3);
    t.send("K"); // up to base 8
    expect_calculator(t, std::string(32, '0'), "0", "0", "0", 2);
}

TEST(CalculatorScreen, SurvivesAResizeAndEscapeReturnsToTheSameEditorScreen) {
    Terminal t(24, 80);
    open_editor(t);
    // The whole editor screen, cursor included, before it is kept.
    const Pos editor_cursor = {1, 10};
    ASSERT_TRUE(t.expect_seen({{{0, 0}, "File: sample.bin"},
                               {{1, 0}, "00000000  48 65 6C 6C"},
                               {{2, 0}, "00000010  72"},
                               {{23, 0}, writable_bar}},
                              editor_cursor));
    ASSERT_TRUE(t.settle());
    const std::vector<std::string> editor = t.screen();
    t.send("\x1f");
    ASSERT_TRUE(t.expect_row(23, calc_bar));
    t.send("jFF");
    expect_calculator(t, "00000000000000000000000011111111", "377", "255", "FF", 4);

    t.resize(30, 100);
    expect_calculator(t, "00000000000000000000000011111111", "377", "255", "FF", 4);
    t.send("j1"); // keys still reach the calculator: base 2 line now
    expect_calculator(t, "00000000000000000000000111111111", "777", "511", "1FF", 1);

    t.resize(1, 1);
    t.settle();
    t.resize(24, 80);
    expect_calculator(t, "00000000000000000000000111111111", "777", "511", "1FF", 1);

    t.send(keys::esc);
    EXPECT_TRUE(t.expect_screen(editor, editor_cursor));
    t.send("\x1f"); // a new opening starts from zero
    expect_calculator(t, std::string(32, '0'), "0", "0", "0", 3);
    t.send(ctrl('g'));
    EXPECT_TRUE(t.expect_screen(editor));
}

TEST(CalculatorScreen, InterruptOpensTheQuitDialogAndNoComesBack) {
    Terminal t(24, 80);
    open_editor(t);
    t.send("\x1f");
    ASSERT_TRUE(t.expect_row(23, calc_bar));
    t.send("42");
    t.settle();
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_text(11, 30, "Quit without Saving?"));
    t.send("n");
    expect_calculator(t, "00000000000000000000000000101010", "52", "42", "2A", 3);
    t.send(ctrl('x'));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  48 65 6C 6C"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
