// What the user does that no single screen shows: keys that are no
// characters, resizes while a dialog is open, odd terminals and odd inputs.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string sample20 = std::string("Hello, hex world!") + '\0' + "\x7f\xff";

const std::string sample_row0 =
    "00000000  48 65 6C 6C  6F 2C 20 68   65 78 20 77  6F 72 6C 64   Hello, hex world";

void start_sample(Terminal& t, std::vector<std::string> args = {}) {
    t.write_file("sample.bin", sample20);
    args.push_back("sample.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_row(1, sample_row0));
}

// Once the program has gone quiet, row r reads `text` and keeps reading it.
::testing::AssertionResult expect_row_stays(Terminal& t, int r, const std::string& text) {
    t.settle();
    return t.holds_for(
        [&] {
            std::string row = t.row(r);
            return row.substr(0, row.find_last_not_of(' ') + 1) == text;
        },
        "row " + std::to_string(r) + " reading \"" + text + "\"");
}

::testing::AssertionResult expect_no_change_marker(Terminal& t) {
    return t.holds_for([&] { return t.cell(0, 79).text == " "; }, "no unsaved change");
}

} // namespace

// ------------------------------------------------- keys that are no characters

TEST(NonCharacterKeys, ResizesInTheTextPaneTypeNothing) {
    Terminal t;
    start_sample(t, {"-a"});
    t.send(keys::tab);
    t.resize(20, 70);
    ASSERT_TRUE(t.expect_text(0, 0, "File: sample.bin        ASCII")); // 70 columns
    t.resize(24, 80);
    ASSERT_TRUE(t.expect_row(1, sample_row0));
    EXPECT_TRUE(expect_row_stays(t, 1, sample_row0));
    EXPECT_TRUE(expect_no_change_marker(t));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("sample.bin"), sample20);
}

TEST(NonCharacterKeys, BackspaceShiftTabAndF12InTheTextPaneChangeNoByte) {
    Terminal t;
    start_sample(t, {"-8"});
    t.send(keys::tab);
    t.send("\x7f");     // Backspace: KEY_BACKSPACE
    t.send("\x1b[Z");   // Shift-Tab: KEY_BTAB
    t.send("\x1b[24~"); // F12
    EXPECT_TRUE(expect_row_stays(t, 1, sample_row0));
    EXPECT_TRUE(expect_no_change_marker(t));
    t.send(ctrl('x')); // no changes: ends at once
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("sample.bin"), sample20);
}

TEST(NonCharacterKeys, F5OnATerminalWithoutColoursKeepsTheStatusLineReversed) {
    Terminal t;
    t.write_file("sample.bin", sample20);
    t.start({"sample.bin"}, {{"TERM", "xterm-mono"}});
    ASSERT_TRUE(t.expect_row(1, sample_row0));
    ASSERT_TRUE(t.expect([&] { return t.cell(0, 0).reverse; }, "the status line reversed"));
    t.send(keys::f5);
    t.settle();
    EXPECT_TRUE(t.holds_for([&] { return t.cell(0, 0).reverse && !t.cell(0, 0).bold; },
                            "the status line reversed, not bold"));
    EXPECT_TRUE(t.holds_for([&] { return !t.cell(23, 0).bold; }, "the command bar normal"));
}

TEST(NonCharacterKeys, ControlBackslashDoesNotEndTheEditor) {
    Terminal t;
    start_sample(t);
    t.send("\x1c");
    EXPECT_TRUE(t.holds_for([&] { return t.running(); }, "the editor running"));
    EXPECT_TRUE(expect_row_stays(t, 1, sample_row0));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// ------------------------------------------------------ the quit dialog

TEST(QuitDialogSize, NarrowTerminalCutsTheTextAtTheBorderAndAResizeRecentresIt) {
    Terminal t(10, 40);
    t.write_file("sample.bin", sample20);
    t.start({"sample.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  48 65 6C 6C"));
    t.send(ctrl('c'));
    // 40 columns: the popup is the whole width, rows 2 to 7.
    EXPECT_TRUE(t.expect_text(4, 0, "│                   Quit without Saving│"));
    EXPECT_TRUE(t.expect_text(6, 0, "│                Yes       No       New│"));
    EXPECT_TRUE(t.expect_text(7, 0, "└"));
    EXPECT_TRUE(t.expect_text(7, 39, "┘"));
    t.send(keys::right); // No
    ASSERT_TRUE(
        t.expect([&] { return t.cell(6, 27).reverse && t.text(6, 27, 2) == "No"; }, "No selected"));

    // Larger again: the whole dialog, centred, with No still selected.
    t.resize(12, 80);
    EXPECT_TRUE(t.expect_text(5, 30, "Quit without Saving?"));
    EXPECT_TRUE(t.expect_text(7, 26, " Yes      "));
    EXPECT_TRUE(t.expect([&] { return t.cell(7, 37).reverse && t.text(7, 37, 2) == "No"; },
                         "No selected after the resize"));
    t.settle();
    EXPECT_TRUE(expect_steady(
        t, [&] { return !t.cell(7, 27).reverse; }, "Yes not selected"));
    EXPECT_TRUE(t.expect_text(3, 10, "┌"));
    EXPECT_TRUE(t.expect_text(8, 69, "┘"));
    EXPECT_TRUE(t.expect_row(11, "^G/^X/Escape Cancel   Y Yes   N No   F New File"));
    t.send(keys::enter); // takes No
    EXPECT_TRUE(t.expect_row(1, sample_row0));
    EXPECT_TRUE(t.expect_row(5, ""));
    EXPECT_TRUE(t.running());
}

TEST(QuitDialogSize, NewFileFromTheCalculatorReturnsToTheCalculator) {
    Terminal t;
    t.write_file("first.bin", "AAAA");
    t.write_file("second.bin", "BBBB");
    t.start({"first.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  41 41 41 41"));
    t.send(ctrl('_'));
    ASSERT_TRUE(t.expect_text(2, 32, "Binary Calculator"));
    t.send(ctrl('c'));
    ASSERT_TRUE(t.expect_text(11, 30, "Quit without Saving?"));
    t.send("f");
    ASSERT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send("jjj" + keys::enter); // ".", "..", "first.bin", "second.bin"
    EXPECT_TRUE(t.expect_text(2, 32, "Binary Calculator"));
    EXPECT_TRUE(t.expect_row(23, "^X/^G  Return   ^C  Exit   J  Down   K  Up"));
    t.send(ctrl('x')); // leaves the calculator for the new file
    EXPECT_TRUE(t.expect_text(0, 0, "File: second.bin "));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  42 42 42 42"));
}

// ------------------------------------------------------ error boxes and inputs

TEST(OddInput, NarrowErrorBoxKeepsMessageAndReasonInsideItsBorder) {
    Terminal t(24, 30);
    t.start({"a_name_that_is_much_too_long_for_the_box.bin"});
    // The 50-column box shrinks to the 30 columns there are.
    EXPECT_TRUE(t.expect_row(10, "│a_name_that_is_much_too_lon>│"));
    EXPECT_TRUE(t.expect_row(11, "│                            │"));
    EXPECT_TRUE(t.expect_row(12, "│Reason: No such file or dir>│"));
    t.send(" ");
    EXPECT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(OddInput, FifoArgumentIsRefusedInsteadOfWaitingForAWriter) {
    Terminal t;
    ASSERT_EQ(mkfifo(t.path("pipe").c_str(), 0600), 0);
    t.start({"pipe"});
    EXPECT_TRUE(t.expect_text(10, 17, " File is Zero Bytes, Perhaps Used -d disk mode"));
    t.send(" ");
    EXPECT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(OddInput, EmptyDeviceInDiskModeSaysThereIsNoData) {
    Terminal t;
    t.start({"-d", "/dev/null"});
    EXPECT_TRUE(t.expect_text(10, 36, "/dev/null"));
    EXPECT_TRUE(t.expect_text(12, 28, "Reason: No data available"));
    t.send(" ");
    EXPECT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(OddInput, KeyboardAtItsEndEndsTheProgramInsteadOfSpinning) {
    Terminal t;
    t.write_file("sample.bin", sample20);
    t.start_program(
        {"/bin/sh", "-c", std::string("exec '") + MORVANE_BINARY + "' sample.bin < /dev/null"});
    EXPECT_EQ(t.wait_exit(), 1);
    EXPECT_NE(t.output().find("Lost the keyboard"), std::string::npos);
}

TEST(OddInput, ErrorBoxSurvivesAResizeWhileItWaits) {
    Terminal t;
    t.start({"nosuch.bin"});
    ASSERT_TRUE(t.expect_text(12, 24, "Reason: No such file or directory"));
    t.wipe(); // what is seen next is the program's repaint
    t.resize(20, 70);
    // Centred again on the new screen: the 50x6 box at row 7, column 10.
    EXPECT_TRUE(t.expect_text(10, 19, "Reason: No such file or directory"));
    EXPECT_TRUE(t.expect_text(8, 30, "nosuch.bin"));
    t.send(" ");
    EXPECT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(OddInput, VersionThatCannotBeWrittenIsAFailure) {
    Terminal t;
    t.start_program({"/bin/sh", "-c", std::string("exec '") + MORVANE_BINARY + "' -v > /dev/full"});
    EXPECT_EQ(t.wait_exit(), 1);
}
