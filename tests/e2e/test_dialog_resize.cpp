// Every dialog survives a terminal that shrinks below its size and grows
// back: it is drawn again whole, with what was typed and its cursor, and
// while it cannot be seen its keys are refused instead of acting blind.
#include <functional>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

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
    std::string keys;                 // open the dialog (and type into it)
    std::vector<Terminal::Seen> seen; // texts at 80x24
    Pos cursor;                       // where the dialog keeps the cursor at 80x24
};

} // namespace

TEST(DialogResize, EveryDialogIsDrawnWholeAgainAfterShrinkingAndGrowing) {
    const std::vector<DialogCase> cases = {
        {"goto", ctrl('t') + "12", {{{9, 35}, "Goto Offset"}, {{11, 40}, "0x12"}}, {11, 44}},
        {"save", ctrl('o'), {{{10, 36}, "Save File"}, {{12, 7}, "Filename: data.bin"}}, {12, 25}},
        {"search menu",
         ctrl('w'),
         {{{8, 37}, "Search"}, {{12, 29}, "search for text string"}},
         {14, 50}},
        {"search text",
         ctrl('w') + "a" + "ab",
         {{{8, 35}, "Text String"}, {{13, 15}, "ab"}},
         {13, 17}},
        {"search bytes",
         ctrl('w') + "h" + "41",
         {{{8, 35}, "Byte Search"}, {{10, 17}, "text:  A"}},
         {13, 20}},
        {"not found",
         ctrl('w') + "a" + "zz" + keys::enter,
         {{{13, 29}, "** String not found **"}},
         {13, 51}},
        {"help",
         ctrl('g'),
         {{{1, 34}, "Help Menu"}, {{2, 3}, "Maneuver            Arror"}},
         {21, 53}},
    };
    for (const DialogCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal t;
        start_data(t);
        t.send(c.keys);
        ASSERT_TRUE(t.expect_seen(c.seen, c.cursor));
        shrink_and_grow(t);
        EXPECT_TRUE(t.expect_seen(c.seen, c.cursor));
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
    EXPECT_TRUE(t.expect([&] { return t.bells() > bells; }, "Enter refused with the bell"));
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
