// Signals seen from outside: keys typed ahead of Control-C or a resize, the
// signals that end the program, and terminals that cannot show the screen.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string sample(4096, 'x');

void start_sample(Terminal& t, const std::vector<std::string>& options = {},
                  const Terminal::Env& env = {}) {
    t.write_file("data.bin", sample);
    std::vector<std::string> args = options;
    args.push_back("data.bin");
    t.start(args, env);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  78 78"));
    ASSERT_TRUE(t.settle());
}

} // namespace

// Control-C and the keys after it in one write, as a paste or a fast typist
// sends them: the keys answer the quit dialog and never reach the editor.
TEST(TypeAhead, KeysSentWithControlCAnswerTheQuitDialog) {
    {
        SCOPED_TRACE("^C y");
        Terminal t;
        start_sample(t);
        t.send("\x03y");
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_EQ(t.read_file("data.bin"), sample);
    }
    {
        SCOPED_TRACE("^C n");
        Terminal t;
        start_sample(t);
        ASSERT_TRUE(t.expect_row(23, writable_bar, Pos{1, 10})); // the whole first screen
        ASSERT_TRUE(t.settle());
        const std::vector<std::string> before = t.screen();
        t.send("\x03n");
        ASSERT_TRUE(t.settle());
        EXPECT_TRUE(t.expect_screen(before, Pos{1, 10}));
        t.send(ctrl('x')); // nothing changed: ends without asking
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_EQ(t.read_file("data.bin"), sample);
    }
    {
        SCOPED_TRACE("^C f");
        Terminal t;
        start_sample(t);
        t.send("\x03"
               "f");
        EXPECT_TRUE(t.expect_text(0, 0, "File: ."));
        t.send(ctrl('c'));
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_EQ(t.read_file("data.bin"), sample);
    }
}

// A resize that arrives while keys are still queued is drawn before the
// next of them acts: the Page Down sent after it moves by the new screen's
// page (nine rows at 12 lines), not by the old one's 21.
TEST(TypeAhead, KeysQueuedWithAResizeActOnTheNewScreen) {
    Terminal t(24, 80);
    start_sample(t);
    std::string downs;
    for (int i = 0; i < 60; ++i)
        downs += keys::down;
    t.send(downs); // the editor is busy with these when the resize comes
    t.resize(12, 80);
    t.send(keys::page_down);
    // 60 rows down, then nine: offset 69 * 16.
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000450 / 0x00000FFF"));
    EXPECT_TRUE(t.expect_text(11, 0, "^G Help"));
}

// Signals that end a process by default put the terminal back first and end
// with the signal's own status; the changed file is left as it was on disk.
TEST(EndingSignals, EachRestoresTheTerminalAndLeavesTheFileAlone) {
    for (int sig : {SIGTERM, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM}) {
        SCOPED_TRACE(strsignal(sig));
        Terminal t;
        start_sample(t);
        t.send("ff"); // an unsaved change
        ASSERT_TRUE(t.expect_text(1, 0, "00000000  FF 78"));
        ASSERT_TRUE(t.settle());
        ASSERT_TRUE(t.altscreen());
        kill(t.pid(), sig);
        EXPECT_EQ(t.wait_exit(), 128 + sig);
        EXPECT_FALSE(t.altscreen());
        EXPECT_TRUE(t.canonical_echo_mode());
        EXPECT_EQ(t.read_file("data.bin"), sample);
    }
}

// On a VT220 Home and End are Find and Select; they act as Home and End do
// (to the ends of the cursor's row).
TEST(Terminals, Vt220FindAndSelectActAsHomeAndEnd) {
    Terminal t;
    start_sample(t, {}, {{"TERM", "vt220"}});
    t.send("\x1b[4~"); // Select
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x0000000F / 0x00000FFF", Pos{1, 60}));
    t.send("\x1b[1~"); // Find
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000000 / 0x00000FFF", Pos{1, 10}));
}

TEST(Terminals, Vt220FindAndSelectMoveTheBrowserToItsEnds) {
    Terminal t;
    t.write_file("a.bin", "A");
    t.write_file("b.bin", "B");
    t.start({}, {{"TERM", "vt220"}});
    ASSERT_TRUE(t.expect_text(0, 0, "File: ."));
    t.send("\x1b[4~" + keys::enter); // Select: the last entry, b.bin
    EXPECT_TRUE(t.expect_text(0, 0, "File: b.bin"));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  42"));
}

// A terminal that cannot place the cursor would get a garbled screen.
TEST(Terminals, TerminalWithoutCursorAddressingIsRefused) {
    Terminal t;
    t.write_file("data.bin", sample);
    t.start({"data.bin"}, {{"TERM", "dumb"}});
    EXPECT_EQ(t.wait_exit(), 1);
    EXPECT_NE(t.output().find("Cannot initialize screen - curses!"), std::string::npos)
        << t.output();
    EXPECT_TRUE(t.canonical_echo_mode());
}

// A signal that ends the program in the middle of a save takes the save's
// temporary file with it: nothing but the edited file is ever left behind.
TEST(EndingSignals, ASignalDuringASaveLeavesNoTemporaryFile) {
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        Terminal t;
        t.write_file("big.bin", "");
        ASSERT_EQ(truncate(t.path("big.bin").c_str(), off_t{8} << 30), 0); // sparse: no disk
        t.start({"big.bin"});
        ASSERT_TRUE(t.expect_text(1, 0, "00000000  00 00"));
        t.send("A");
        ASSERT_TRUE(t.expect_text(1, 0, "00000000  A0 00"));
        t.send(ctrl('o'));
        ASSERT_TRUE(t.expect_text(t.lines() - 1, 0, "^G/^X/Escape Cancel"));
        t.send(ctrl('u') + "copy.bin" + keys::enter);
        ASSERT_TRUE(t.expect_text(t.lines() - 1, 0, "Saving... "));
        kill(t.pid(), sig);
        EXPECT_EQ(t.wait_exit(), 128 + sig);
        EXPECT_TRUE(t.canonical_echo_mode());
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(t.dir()))
            names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"big.bin"});
    }
}
