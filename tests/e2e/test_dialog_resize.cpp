// Every dialog survives a terminal that shrinks below its size and grows
// back: it is drawn again whole, with what was typed and its cursor, and
// while it cannot be seen its keys are refused instead of acting blind.
#include <functional>
#include <string>
#include <vector>

#include "terminal.h"

namespace {

const std::string writable_bar =
    "^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search";

void start_data(Terminal& t) {
    t.write_file("data.bin", std::string(4096, 'x'));
    t.start({"data.bin"});
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    ASSERT_TRUE(t.settle());
}

void shrink_and_grow(Terminal& t) {
    for (auto [lines, cols] : {std::pair{10, 30}, {1, 1}, {24, 80}}) {
        t.resize(lines, cols);
        ASSERT_TRUE(t.settle());
    }
}

struct DialogCase {
    const char* name;
    std::string keys;                              // open the dialog (and type into it)
    std::vector<std::pair<Pos, std::string>> seen; // texts at 80x24
};

} // namespace

TEST(DialogResize, EveryDialogIsDrawnWholeAgainAfterShrinkingAndGrowing) {
    const std::vector<DialogCase> cases = {
        {"goto", ctrl('t') + "12", {{{9, 35}, "Goto Offset"}, {{11, 40}, "0x12"}}},
        {"save", ctrl('o'), {{{10, 36}, "Save File"}, {{12, 7}, "Filename: data.bin"}}},
        {"search menu", ctrl('w'), {{{8, 37}, "Search"}, {{12, 29}, "search for text string"}}},
        {"search text", ctrl('w') + "a" + "ab", {{{8, 35}, "Text String"}, {{13, 15}, "ab"}}},
        {"search bytes",
         ctrl('w') + "h" + "41",
         {{{8, 35}, "Byte Search"}, {{10, 17}, "text:  A"}}},
        {"not found", ctrl('w') + "a" + "zz" + keys::enter, {{{13, 29}, "** String not found **"}}},
        {"help", ctrl('g'), {{{1, 34}, "Help Menu"}, {{2, 3}, "Maneuver            Arror"}}},
    };
    for (const DialogCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal t;
        start_data(t);
        t.send(c.keys);
        for (const auto& [at, text] : c.seen)
            ASSERT_TRUE(t.expect_text(at.row, at.col, text));
        Pos cursor = t.cursor();
        shrink_and_grow(t);
        for (const auto& [at, text] : c.seen)
            EXPECT_TRUE(t.expect_text(at.row, at.col, text));
        EXPECT_EQ(t.cursor(), cursor);
    }
}

// The save field cannot be seen on 30 columns: Enter there must not save.
TEST(DialogResize, KeysOfADialogThatCannotBeSeenAreRefused) {
    Terminal t;
    start_data(t);
    t.send("ff"); // a change, so that a save would write
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  FF 78"));
    t.send(ctrl('o'));
    ASSERT_TRUE(t.expect_text(10, 36, "Save File"));
    t.resize(10, 30);
    ASSERT_TRUE(t.settle());
    int bells = t.bells();
    t.send(keys::enter);
    ASSERT_TRUE(t.settle());
    EXPECT_GT(t.bells(), bells);
    EXPECT_TRUE(t.read_file("data.bin") == std::string(4096, 'x'));
    t.resize(24, 80);
    EXPECT_TRUE(t.expect_text(12, 7, "Filename: data.bin"));
    t.send(keys::esc); // seen again: its keys act
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.read_file("data.bin") == std::string(4096, 'x'));
}

// The box shown before the editor has a screen comes back whole at its
// centre and leaves nothing of the cut box it was on the small screen.
TEST(DialogResize, StartUpErrorBoxLeavesNoRemainsOfItsSmallerSelf) {
    Terminal t;
    t.start({"nosuch.bin"});
    // The 50x6 box at row 9, column 15.
    ASSERT_TRUE(t.expect_text(12, 24, "Reason: No such file or directory"));
    t.resize(10, 30); // cut to 30 columns at rows 2-7
    ASSERT_TRUE(t.settle());
    t.resize(24, 80);
    EXPECT_TRUE(t.expect_text(12, 24, "Reason: No such file or directory"));
    for (int r = 0; r < 24; ++r) {
        if (r >= 9 && r <= 14) continue;
        EXPECT_TRUE(t.expect_row(r, "", 500)) << r;
    }
}
