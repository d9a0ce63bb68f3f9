// Loading a file whole (-b) that takes long: its progress shows, and
// Control-C opens the quit dialog while it runs.
#include <unistd.h>

#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

TEST(Loading, ControlCDuringALongWholeFileLoadOpensTheQuitDialog) {
    Terminal t(24, 80);
    // Sparse: no disk space, yet its holes are read as slowly as zeros can be.
    t.write_file("big.bin", "");
    ASSERT_EQ(truncate(t.path("big.bin").c_str(), off_t{768} << 20), 0);
    t.start({"-b", "big.bin"});
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).rfind("Loading... ", 0) == 0; },
                         "\"Loading... N%\" in the command bar"));
    t.send(ctrl('c'));
    EXPECT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    EXPECT_TRUE(t.holds_for([&] { return t.row(1).substr(0, 8) != "00000000"; },
                            "the load unfinished while the dialog is open"));
    // No: the load goes on to the first screen.
    t.send("n");
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  00 00 00 00"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(Loading, QuittingDuringALongWholeFileLoadEndsTheEditorCleanly) {
    Terminal t(24, 80);
    t.write_file("big.bin", "");
    ASSERT_EQ(truncate(t.path("big.bin").c_str(), off_t{768} << 20), 0);
    t.start({"-b", "big.bin"});
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).rfind("Loading... ", 0) == 0; },
                         "\"Loading... N%\" in the command bar"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    // Yes: the threads still reading the file are stopped before its memory goes.
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
}
