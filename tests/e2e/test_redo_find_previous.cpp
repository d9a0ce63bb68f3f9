// F4 (the last match before the cursor) and F7 (redo) as a user presses them.
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

void start_with(Terminal& t, const std::string& bytes,
                const std::vector<std::string>& options = {}) {
    t.write_file("data.bin", bytes);
    std::vector<std::string> args = options;
    args.push_back("data.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    ASSERT_TRUE(t.settle());
}

std::string offset_text(unsigned cursor, unsigned last) {
    char s[64];
    snprintf(s, sizeof s, "Offset: 0x%08X / 0x%08X", cursor, last);
    return s;
}

// The change marker, the last column of the status line.
::testing::AssertionResult expect_bells(Terminal& t, int n) {
    return t.expect([&] { return t.bells() == n; }, std::to_string(n) + " bells");
}

} // namespace

TEST(FindPrevious, F4WalksBackThroughMatchesIncludingAChangedOneThenSaysNotFound) {
    Terminal t;
    start_with(t, "..AB..AB..AB....");
    t.send(keys::f4); // no pattern yet: nothing, as Find Next then
    EXPECT_TRUE(t.expect_unchanged());
    t.send(keys::tab + "AB" + keys::tab); // a match typed over offsets 0 and 1
    t.send(ctrl('w') + "h4142" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(6, 15)));
    t.send(keys::end);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(15, 15)));
    for (unsigned want : {10u, 6u, 2u, 0u}) {
        t.send(keys::f4);
        EXPECT_TRUE(t.expect_text(0, 40, offset_text(want, 15)));
        EXPECT_TRUE(t.expect_row(23, writable_bar));
    }
    EXPECT_TRUE(t.expect_cursor({1, 10}));
    t.send(keys::f4);
    EXPECT_TRUE(t.expect_text(7 + 6, 10 + 19, "** String not found **"));
    t.send("x"); // closes the message and does nothing else
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0, 15)));
    EXPECT_TRUE(t.expect_text(1, 10, "41 42 41 42"));
}

TEST(FindPrevious, F4FindsATextPatternInTheTextViewToo) {
    Terminal t;
    start_with(t, "one two\none two\none\n");
    t.send(ctrl('w') + "a" + "two" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(4, 19)));
    t.send(ctrl('n'));
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(12, 19)));
    t.send(ctrl('e'));
    ASSERT_TRUE(t.settle());
    t.send(keys::f4);
    t.send(ctrl('e'));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(4, 19)));
}

TEST(Redo, F7PutsBackWhatUndoTookAndRingsWhenNothingIsLeft) {
    Terminal t;
    start_with(t, std::string(4096, '0'));
    t.send("4142"); // four nibbles, four changes
    ASSERT_TRUE(t.expect_text(1, 10, "41 42"));
    t.send(ctrl('u') + ctrl('u') + ctrl('u') + ctrl('u'));
    ASSERT_TRUE(t.expect_text(1, 10, "30 30"));
    EXPECT_TRUE(t.expect([&] { return !t.cell(1, 10).bold; }, "the undone byte shown unchanged"));
    t.send(keys::f7 + keys::f7);
    EXPECT_TRUE(t.expect_text(1, 10, "41 30"));
    EXPECT_TRUE(t.expect([&] { return t.cell(1, 10).bold; }, "the redone byte shown changed"));
    EXPECT_TRUE(expect_marker(t, "M"));
    // Off the screen, the first press only brings the change into view.
    t.send(keys::page_down + keys::page_down + keys::page_down);
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(0x3F0, 0xFFF)));
    t.send(keys::f7);
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(1, 0xFFF)));
    EXPECT_TRUE(t.expect_text(1, 10, "41 30"));
    t.send(keys::f7 + keys::f7);
    EXPECT_TRUE(t.expect_text(1, 10, "41 42"));
    int bells = t.bells();
    t.send(keys::f7); // nothing left to redo
    EXPECT_TRUE(expect_bells(t, bells + 1));
    // A new change empties what could be redone.
    t.send(ctrl('u'));
    ASSERT_TRUE(t.expect_text(1, 10, "41 40"));
    t.send("7");
    ASSERT_TRUE(t.expect_text(1, 10, "41 70"));
    t.send(keys::f7);
    EXPECT_TRUE(expect_bells(t, bells + 2));
    EXPECT_TRUE(t.expect_text(1, 10, "41 70"));
    t.send(ctrl('x'));
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).find("^G/^X/Escape Cancel") == 0; },
                         "the save dialog"));
    t.send(keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("data.bin"), "Ap" + std::string(4094, '0'));
}

TEST(Redo, InsertionsAndDeletionsComeBackWithTheFileSize) {
    Terminal t;
    start_with(t, "abcdef", {"-b"});
    t.send(ctrl('a'));
    ASSERT_TRUE(t.expect_text(1, 10, "00 61 62"));
    t.send(keys::right + keys::right + ctrl('d')); // the nibble after next: byte 1
    ASSERT_TRUE(t.expect_text(1, 10, "00 62 63 64"));
    t.send(ctrl('u') + ctrl('u'));
    ASSERT_TRUE(t.expect_text(0, 40, offset_text(0, 5)));
    ASSERT_TRUE(t.expect_text(1, 10, "61 62 63 64  65 66"));
    t.send(keys::f7);
    EXPECT_TRUE(t.expect_text(1, 10, "00 61 62 63"));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(0, 6)));
    t.send(keys::f7);
    EXPECT_TRUE(t.expect_text(1, 10, "00 62 63 64  65 66"));
    EXPECT_TRUE(t.expect_text(0, 40, offset_text(1, 5)));
}

TEST(Redo, F7DoesNothingInAReadOnlyFile) {
    Terminal t;
    start_with(t, "abc", {"-r"});
    t.send(keys::f7 + ctrl('u'));
    EXPECT_TRUE(t.expect_unchanged());
    EXPECT_EQ(t.bells(), 0);
}
