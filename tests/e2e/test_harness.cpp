// The pseudo-terminal harness itself, driven with small shell programs.
#include <gtest/gtest-spi.h>
#include <signal.h>

#include <cerrno>

#include "terminal.h"

TEST(Harness, ReadsTextAttributesColoursAndCursor) {
    Terminal t(6, 30);
    t.start_program({"/bin/sh", "-c",
                     "printf '\\033[1;31;44mred\\033[0m \\033[7mrev\\033[0m\\033[3;5Hx'; sleep 5"});
    ASSERT_TRUE(t.expect_row(0, "red rev", Pos{2, 5}));
    Cell red = t.cell(0, 0);
    EXPECT_EQ(red.text, "r");
    EXPECT_TRUE(red.bold);
    EXPECT_FALSE(red.reverse);
    EXPECT_EQ(red.fg, 1);
    EXPECT_EQ(red.bg, 4);
    Cell blank = t.cell(0, 3);
    EXPECT_EQ(blank.text, " ");
    EXPECT_FALSE(blank.bold);
    EXPECT_EQ(blank.fg, -1);
    EXPECT_EQ(blank.bg, -1);
    EXPECT_TRUE(t.cell(0, 4).reverse);
    EXPECT_EQ(t.text(2, 4, 1), "x");
    EXPECT_EQ(t.row(0).size(), 30u) << "row() returns every cell";
}

TEST(Harness, RepeatedCharactersReachTheRightMargin) {
    Terminal t(4, 20);
    // REP (CSI n b) as ncurses sends it for runs, also split across writes.
    t.start_program({"/bin/sh", "-c",
                     "printf '\\033[1;17HA\\033[2bB\\033[2;1Hxy\\033['; sleep 0.2; "
                     "printf '3bz\\033[4b\\033[3;1H\\342\\224\\200\\033[b.'; sleep 5"});
    EXPECT_TRUE(t.expect_rows(0, {"                AAAB", "xyyyyzzzzz", "──.", ""}));
}

TEST(Harness, WaitExitReportsStatusAndKeepsAllOutput) {
    Terminal t(5, 20);
    t.start_program({"/bin/sh", "-c", "printf 'one\\ntwo'; exit 3"});
    EXPECT_EQ(t.wait_exit(), 3);
    EXPECT_EQ(t.output(), "one\r\ntwo");
    EXPECT_EQ(t.row(1), "two" + std::string(17, ' '));
}

TEST(Harness, SettleReturnsOnlyAfterTheChildHasReadEveryByte) {
    Terminal t(5, 40);
    // Reads one byte at a time, slowly, and echoes each in brackets.
    t.start_program({"/bin/sh", "-c",
                     "stty -icanon -echo min 1; printf ready; "
                     "while :; do c=$(dd bs=1 count=1 2>/dev/null); sleep 0.05; "
                     "printf '<%s>' \"$c\"; done"});
    ASSERT_TRUE(t.expect_row(0, "ready"));
    t.send("abcd");
    ASSERT_TRUE(t.settle());
    EXPECT_EQ(t.text(0, 0, 17), "ready<a><b><c><d>");
}

TEST(Harness, OutputInFlightSurvivesAnInterruptKey) {
    Terminal t(24, 40);
    t.start_program({"/bin/sh", "-c",
                     "trap 'printf \"[int]\"' INT; i=0; while [ $i -lt 400 ]; do "
                     "printf 'line %03d\\n' $i; i=$((i+1)); done; printf END; "
                     "while :; do sleep 1 & wait $!; done"});
    ASSERT_TRUE(t.expect([&] { return t.output().find("line 000") != std::string::npos; },
                         "the first line"));
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_text(23, 0, "END^C[int]")); // the tty echoes ^C
    std::string out = t.output();
    for (int i = 0; i < 400; i += 57) {
        char line[16];
        snprintf(line, sizeof line, "line %03d", i);
        EXPECT_NE(out.find(line), std::string::npos) << line << " was lost";
    }
}

TEST(Harness, ResizeReachesTheChild) {
    Terminal t(10, 40);
    t.start_program({"/bin/sh", "-c",
                     "trap 'printf \"[%s]\" \"$(stty size)\"' WINCH; printf go; "
                     "while :; do sleep 1 & wait $!; done"});
    ASSERT_TRUE(t.expect_row(0, "go"));
    t.resize(12, 50);
    EXPECT_TRUE(t.expect_row(0, "go[12 50]"));
    EXPECT_EQ(t.lines(), 12);
    EXPECT_EQ(t.row(0).size(), 50u);
}

TEST(Harness, FailedExpectationShowsTheScreenWithTheDifferingRowMarked) {
    Terminal t(4, 20);
    t.start_program({"/bin/sh", "-c", "printf 'alpha\\nbeta'; sleep 5"});
    ASSERT_TRUE(t.expect_row(1, "beta"));
    auto r = t.expect_rows(0, {"alpha", "gamma"}, 200);
    ASSERT_FALSE(r);
    std::string msg = r.message();
    EXPECT_NE(msg.find("\n   0 |alpha "), std::string::npos) << msg;
    EXPECT_NE(msg.find("\n>  1 |beta "), std::string::npos) << msg;
    EXPECT_NE(msg.find("expected:\n>  1 |gamma|"), std::string::npos) << msg;
}

TEST(Harness, UnchangedAndHoldsForNoticeLateOutput) {
    Terminal t(4, 20);
    t.start_program({"/bin/sh", "-c", "printf a; sleep 0.3; printf b; sleep 5"});
    ASSERT_TRUE(t.expect_row(0, "a"));
    EXPECT_FALSE(t.holds_for([&] { return t.text(0, 1, 1) == " "; }, "without b", 3000));
    EXPECT_TRUE(t.expect_unchanged(200));
}

TEST(Harness, QueriesOfTheChildAreAnswered) {
    Terminal t(5, 40);
    // Asks for the cursor position (DSR 6) and prints the answer's digits.
    t.start_program({"/bin/sh", "-c",
                     "stty -icanon -echo min 1; printf '\\033[2;3H\\033[6n'; "
                     "r=$(dd bs=1 count=6 2>/dev/null); printf '\\033[H%s' \"${r#?}\"; sleep 5"});
    EXPECT_TRUE(t.expect_row(0, "[2;3R"));
}

TEST(Harness, WipeBlanksTheEmulatedScreenOnly) {
    Terminal t(4, 20);
    t.start_program({"/bin/sh", "-c", "printf '\\033[44mblue'; sleep 5"});
    ASSERT_TRUE(t.expect_row(0, "blue"));
    t.wipe();
    EXPECT_EQ(t.row(0), std::string(20, ' '));
    EXPECT_EQ(t.cell(0, 10).bg, -1);
    EXPECT_EQ(t.cursor(), (Pos{0, 4}));
}

TEST(Harness, ChildIsKilledWhenTheTerminalGoes) {
    pid_t pid;
    {
        Terminal t(4, 20);
        t.start_program({"/bin/sh", "-c", "sleep 100"});
        pid = t.pid();
        ASSERT_TRUE(t.running());
    }
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(Harness, EnvironmentIsCleanAndOrderedAsGiven) {
    setenv("MORVANE", "qb", 1);
    setenv("LANG", "C.UTF-8", 1);
    Terminal t(6, 80);
    t.start_program({"env"}, {{"morvane", "r"}, {"MORVANEX", "f"}, {"TERM", "vt100"}});
    EXPECT_EQ(t.wait_exit(), 0);
    unsetenv("MORVANE");
    unsetenv("LANG");
    std::vector<std::string> names;
    std::string out = t.output();
    for (size_t at = 0; at < out.size();) {
        size_t eol = out.find("\r\n", at);
        std::string line = out.substr(at, eol - at);
        names.push_back(line.substr(0, line.find('=')));
        if (line.rfind("TERM=", 0) == 0) {
            EXPECT_EQ(line, "TERM=vt100");
        }
        if (line.rfind("HOME=", 0) == 0) {
            EXPECT_EQ(line, "HOME=" + t.dir());
        }
        at = eol == std::string::npos ? out.size() : eol + 2;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"PATH", "HOME", "TERM", "ESCDELAY", "ASAN_OPTIONS",
                                               "UBSAN_OPTIONS", "morvane", "MORVANEX"}));
}

TEST(Harness, SanitizerReportOfTheChildFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            Terminal t(4, 20);
            // Writes a file where the sanitizer runtime would put its report.
            t.start_program({"/bin/sh", "-c",
                             "p=${ASAN_OPTIONS#log_path=}; p=${p%%:*}; "
                             "echo 'ERROR: AddressSanitizer: pretend' > \"$p.42\""});
            t.wait_exit();
        },
        "ERROR: AddressSanitizer: pretend");
}
