// A way out of every dialog at every terminal size: on a terminal too small
// to show a dialog whole, its cancel keys still act (leaving changes
// nothing), and so do the quit dialog's own keys, whose question never
// changes. Other keys stay refused with the bell.
#include <string>

#include "terminal.h"

namespace {

const std::string content = "Tiny terminals, same keys";

struct Size {
    int lines;
    int cols;
};
constexpr Size sizes[] = {{1, 1}, {1, 10}, {2, 50}, {5, 20}};

void start_tiny(Terminal& t) {
    t.write_file("data.bin", content);
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect([&] { return t.altscreen(); }, "the editor's screen"));
    ASSERT_TRUE(t.settle());
}

} // namespace

TEST(TinyDialogs, ControlCThenYesEndsTheProgramAtEverySize) {
    for (Size s : sizes) {
        SCOPED_TRACE(std::to_string(s.cols) + "x" + std::to_string(s.lines));
        Terminal t(s.lines, s.cols);
        start_tiny(t);
        t.send("A"); // a change: the dialog asks before the edit is lost
        ASSERT_TRUE(t.settle());
        t.send(ctrl('c'));
        ASSERT_TRUE(t.settle());
        t.send("y");
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_FALSE(t.altscreen());
        EXPECT_TRUE(t.canonical_echo_mode());
        EXPECT_EQ(t.read_file("data.bin"), content);
    }
}

TEST(TinyDialogs, EscapeLeavesGotoSaveAndSearchWithNothingChanged) {
    for (Size s : sizes) {
        SCOPED_TRACE(std::to_string(s.cols) + "x" + std::to_string(s.lines));
        Terminal t(24, 80);
        start_tiny(t);
        ASSERT_TRUE(t.expect_text(1, 0, "00000000  54 69"));
        const std::vector<std::string> before = t.screen();
        // Each dialog opens whole, is cut by the terminal shrinking, and
        // goes at Escape: grown again, the screen is the editor's.
        for (const std::string& open : {ctrl('t'), ctrl('o'), ctrl('w')}) {
            t.send(open);
            ASSERT_TRUE(t.settle());
            t.resize(s.lines, s.cols);
            ASSERT_TRUE(t.settle());
            t.send(keys::esc);
            ASSERT_TRUE(t.settle());
            t.resize(24, 80);
            EXPECT_TRUE(t.expect_screen(before));
        }
        t.send(ctrl('x')); // unchanged: Control-X quits at once
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_EQ(t.read_file("data.bin"), content);
    }
}

// At 80x4 the quit dialog is cut: a key that is not one of its own is refused.
TEST(TinyDialogs, OtherKeysOfACutQuitDialogAreRefused) {
    Terminal t(4, 80);
    start_tiny(t);
    t.send("A");
    ASSERT_TRUE(t.settle());
    t.send(ctrl('c'));
    ASSERT_TRUE(t.settle());
    const int bells = t.bells();
    t.send("z");
    EXPECT_TRUE(t.expect([&] { return t.bells() > bells; }, "a bell for the refused key"));
    t.send("n"); // No: back to the edited file
    ASSERT_TRUE(t.settle());
    t.send(ctrl('c'));
    ASSERT_TRUE(t.settle());
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("data.bin"), content);
}
