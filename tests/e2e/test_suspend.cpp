// Control-Z and `fg` under a shell with job control: the terminal may change
// size while the editor is stopped, and the window-size signal then goes to
// the shell. On resume the editor takes the terminal's modes and size again
// and draws everything anew; a dialog cut by the old size takes its keys.
// And a screen of its own (the browser, from the quit dialog's New File over
// the inspector) is not drawn over, nor are its keys refused, by the dialog
// it covers.
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string prompt = "shell$ ";

// An interactive shell (which has job control) runs the editor on a.bin.
void start_under_shell(Terminal& t, const std::string& bytes) {
    t.write_file("a.bin", bytes);
    t.start_program({"/bin/sh", "-i"}, {{"PS1", prompt}});
    ASSERT_TRUE(expect_anywhere(t, prompt));
    t.send(std::string(MORVANE_BINARY) + " a.bin" + keys::enter);
    ASSERT_TRUE(t.expect([&] { return t.altscreen(); }, "the editor's screen"));
}

// Stopped with Control-Z, the terminal resized while the shell has it, `fg`.
void suspend_resize_resume(Terminal& t, int lines, int cols) {
    ASSERT_TRUE(t.settle());
    t.send(ctrl('z'));
    ASSERT_TRUE(t.expect([&] { return !t.altscreen() && row_with(t, "Stopped") >= 0; },
                         "the shell's screen, the editor stopped"));
    ASSERT_TRUE(t.settle());
    t.resize(lines, cols);
    ASSERT_TRUE(t.settle());
    t.send("fg" + keys::enter);
}

// The shell's new prompt shows that the editor has ended and left the terminal
// in the shell's modes: a line typed before that could land in raw mode and
// never reach the shell as a line.
void quit_shell(Terminal& t) {
    ASSERT_TRUE(t.expect(
        [&] {
            const Pos at = t.cursor();
            return !t.altscreen() && at.col == static_cast<int>(prompt.size()) &&
                   t.text(at.row, 0, at.col) == prompt && t.canonical_echo_mode();
        },
        "the editor ended and the shell prompts again"));
    t.send("exit" + keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
}

} // namespace

TEST(Suspend, ResumeAfterAResizeWhileStoppedDrawsEverythingAtTheNewSize) {
    Terminal t(24, 80);
    start_under_shell(t, "Stop and go");
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  53 74 6F 70", Pos{1, 10}));
    suspend_resize_resume(t, 30, 100);
    EXPECT_TRUE(t.expect([&] { return t.altscreen(); }, "the editor's screen again"));
    EXPECT_TRUE(t.expect_text(0, 0, "File: a.bin "));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  53 74 6F 70", Pos{1, 10}));
    EXPECT_TRUE(t.expect_text(29, 0, "^G Help   ^C Exit (No Save)"))
        << "the bar on the new last row";
    t.send("6"); // the terminal's modes are the editor's: a key acts at once
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  63 74 6F 70", Pos{1, 11}));
    EXPECT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    quit_shell(t);
    EXPECT_EQ(t.read_file("a.bin"), "Stop and go");
}

TEST(Suspend, ADialogCutByTheOldSizeTakesItsKeysAfterResume) {
    Terminal t(24, 80);
    start_under_shell(t, "Stop and go");
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  53 74 6F 70"));
    t.send("6");
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.resize(4, 80); // the save dialog is cut: typing into it is refused
    ASSERT_TRUE(t.settle());
    suspend_resize_resume(t, 24, 80);
    EXPECT_TRUE(t.expect_text(12, 7, "Filename: a.bin", Pos{12, 22}));
    const int bells = t.bells();
    t.send(ctrl('u') + "b.bin" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 0, "File: b.bin "));
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.bells(), bells) << "no key refused";
    EXPECT_EQ(t.read_file("b.bin"), "ctop and go");
    t.send(ctrl('x'));
    quit_shell(t);
}

// F6, Control-C, New File: the browser runs over the inspector.
TEST(Suspend, TheBrowserOverTheInspectorIsNeitherDrawnOverNorDeafOnAShortTerminal) {
    Terminal t(24, 80);
    t.write_file("a.bin", "first");
    t.write_file("b.bin", "BBBB");
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  66 69"));
    t.send(keys::f6);
    ASSERT_TRUE(expect_anywhere(t, "Value inspector"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("f");
    ASSERT_TRUE(t.expect_row(23, "^C ^X  Exit   ^M  Select File   k  Up   j  Down"));
    t.resize(6, 80); // shorter than the inspector
    EXPECT_TRUE(t.expect_row(5, "^C ^X  Exit Program   ^M  Select File"));
    EXPECT_TRUE(t.holds_for([&] { return row_with(t, "Value inspector") < 0; },
                            "no inspector over the browser"));
    const int bells = t.bells();
    t.send("jjj"); // ".", "..", "a.bin", "b.bin"
    EXPECT_TRUE(t.expect_row(0, "File: b.bin"));
    EXPECT_EQ(t.bells(), bells) << "no browser key refused";
    t.resize(24, 80);
    ASSERT_TRUE(t.settle());
    t.send(keys::enter);
    // The inspector is back, over the file chosen, until its key.
    EXPECT_TRUE(expect_anywhere(t, "Value inspector"));
    t.send("x");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  42 42 42 42"));
    EXPECT_TRUE(t.expect_text(0, 0, "File: b.bin "));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
