// Loading a file whole (-b) that takes long: its progress shows, and
// Control-C opens the quit dialog while it runs.
#include <unistd.h>

#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

// Starts a -b load long enough to be caught: Control-C during it, and the
// quit dialog shown.
void interrupt_a_long_load(Terminal& t) {
    // Sparse: no disk space, yet its holes are read as slowly as zeros can be.
    // The load reads on two threads: at 768 MiB it could end before its
    // progress had shown; 2 GiB shows it for seconds.
    t.write_file("big.bin", "");
    ASSERT_EQ(truncate(t.path("big.bin").c_str(), off_t{2} << 30), 0);
    t.start({"-b", "big.bin"});
    // Holding 2 GiB takes a while before the reading starts under the sanitizers.
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).rfind("Loading... ", 0) == 0; },
                         "\"Loading... N%\" in the command bar", 90000));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
}

} // namespace

TEST(Loading, ControlCDuringALongWholeFileLoadOpensTheQuitDialog) {
    Terminal t(24, 80);
    ASSERT_NO_FATAL_FAILURE(interrupt_a_long_load(t));
    EXPECT_TRUE(t.holds_for([&] { return t.row(1).substr(0, 8) != "00000000"; },
                            "the load unfinished while the dialog is open"));
    // No: the load goes on to the first screen.
    t.send("n");
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  00 00 00 00"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(90000), 0); // 2 GiB let go of under the sanitizers
}

TEST(Loading, QuittingDuringALongWholeFileLoadEndsTheEditorCleanly) {
    Terminal t(24, 80);
    ASSERT_NO_FATAL_FAILURE(interrupt_a_long_load(t));
    // Yes: the threads still reading the file are stopped before its memory goes.
    t.send("y");
    EXPECT_EQ(t.wait_exit(90000), 0);
}
