// Long work seen from outside: a search, a save and the text view over files
// of many gigabytes show how far they have got, and stop at Escape (or give
// way to the quit dialog at Control-C) long before they would end. The files
// are sparse: their size costs no disk space and no time to make.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

constexpr off_t gib = off_t{1} << 30;

void make_sparse(Terminal& t, const std::string& name, off_t size) {
    t.write_file(name, "");
    ASSERT_EQ(truncate(t.path(name).c_str(), size), 0);
}

void start_on_sparse(Terminal& t, off_t size) {
    make_sparse(t, "big.bin", size);
    t.start({"big.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  00 00 00 00"));
    ASSERT_TRUE(t.settle());
}

// Where Goto Offset puts the cursor on the last byte of a 64 GiB file: the
// top row, the high digit of the row's last byte.
constexpr Pos last_byte_cursor = {1, 59};

// Goto Offset with the offset of the last byte of a 64 GiB file.
void go_to_last_byte(Terminal& t) {
    t.send(ctrl('t'));
    ASSERT_TRUE(t.expect_text(11, 31, "Offset:  0x"));
    t.send("FFFFFFFFF" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0xFFFFFFFFF", last_byte_cursor));
    ASSERT_TRUE(t.settle());
}

std::string bar(Terminal& t) {
    return t.row(t.lines() - 1);
}

// The command bar shows the progress of `what`.
::testing::AssertionResult expect_progress(Terminal& t, const std::string& what) {
    return t.expect([&] { return bar(t).rfind(what + "... ", 0) == 0; },
                    "\"" + what + "... N%\" in the command bar");
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            names.insert(e->d_name);
        closedir(d);
    }
    names.erase(".");
    names.erase("..");
    return names;
}

} // namespace

// 64 GiB of zeros take many seconds to search; Escape ends the search as a
// search that found nothing, and Find Next still knows the pattern.
TEST(LongWork, EscapeEndsALongSearchAsNotFoundAndKeepsThePattern) {
    Terminal t(24, 80);
    start_on_sparse(t, 64 * gib);
    t.send(keys::right + keys::right);
    const Pos cursor = {1, 13}; // the high digit of byte 1
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000001", cursor));
    ASSERT_TRUE(t.settle());
    const std::string status = t.row(0);

    t.send(ctrl('w'));
    ASSERT_TRUE(expect_anywhere(t, "search for text string"));
    t.send("a");
    ASSERT_TRUE(expect_anywhere(t, "Text String"));
    t.send("needle" + keys::enter);
    ASSERT_TRUE(expect_progress(t, "Searching"));
    t.send(keys::esc);
    ASSERT_TRUE(expect_anywhere(t, "** String not found **"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_row(0, status, cursor));

    // Find Next searches for "needle" again: a long search, stopped the same way.
    t.send(ctrl('n'));
    ASSERT_TRUE(expect_progress(t, "Searching"));
    t.send(keys::esc);
    ASSERT_TRUE(expect_anywhere(t, "** String not found **"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_row(0, status, cursor));

    // F4 from the last byte back towards the start: the same progress and stop.
    t.send(ctrl('t'));
    ASSERT_TRUE(expect_anywhere(t, "Goto Offset"));
    t.send("FFFFFFFFF" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0xFFFFFFFFF", last_byte_cursor));
    ASSERT_TRUE(t.settle());
    const std::string at_end = t.row(0);
    t.send(keys::f4);
    ASSERT_TRUE(expect_progress(t, "Searching"));
    t.send(keys::esc);
    ASSERT_TRUE(expect_anywhere(t, "** String not found **"));
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_row(0, at_end, last_byte_cursor));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// A copy of 8 GiB under a new name is stopped with Escape: an existing
// target keeps its bytes, a new one is never made, no temporary file stays,
// and the edit is still there to be saved.
TEST(LongWork, EscapeStopsALongSaveUnderANewNameAndLeavesTheTargetAsItWas) {
    for (bool target_exists : {true, false}) {
        SCOPED_TRACE(target_exists ? "existing target" : "new target");
        Terminal t(24, 80);
        const std::string old_content = "the copy made yesterday\n";
        if (target_exists) t.write_file("copy.bin", old_content);
        start_on_sparse(t, 8 * gib);
        t.send("A");
        ASSERT_TRUE(t.expect_text(1, 0, "00000000  A0 00"));
        const std::set<std::string> before = names_in(t.dir());

        t.send(ctrl('o'));
        ASSERT_TRUE(t.expect([&] { return bar(t).rfind("^G/^X/Escape Cancel", 0) == 0; },
                             "the save dialog's command bar"));
        t.send(ctrl('u') + "copy.bin" + keys::enter);
        if (target_exists) {
            ASSERT_TRUE(answer_question(t, replace_question, "y"));
        }
        ASSERT_TRUE(expect_progress(t, "Saving"));
        t.send(keys::esc);
        ASSERT_TRUE(expect_anywhere(t, "bCannot Save File"));
        EXPECT_TRUE(expect_anywhere(t, "Reason: " + std::string(strerror(ECANCELED))));

        EXPECT_EQ(names_in(t.dir()), before);
        if (target_exists) {
            EXPECT_EQ(t.read_file("copy.bin"), old_content);
        }

        t.send(keys::enter);
        EXPECT_TRUE(t.expect_text(0, 0, "File: big.bin "));
        EXPECT_TRUE(t.expect_text(0, t.cols() - 1, "M"));
        EXPECT_TRUE(t.expect_text(1, 0, "00000000  A0 00"));
        EXPECT_TRUE(t.expect_text(t.lines() - 1, 0, "^G Help"));
        t.send(ctrl('c'));
        ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
        t.send("y");
        EXPECT_EQ(t.wait_exit(), 0);
    }
}

// The text view of the last byte of a 64 GiB line: Escape gives the search
// for its page up and shows the hex view with the cursor where it was.
TEST(LongWork, EscapeDuringALongTextViewGoesBackToTheHexView) {
    Terminal t(24, 80);
    start_on_sparse(t, 64 * gib);
    go_to_last_byte(t);
    const std::vector<std::string> hex_view = t.screen();

    t.send(ctrl('e'));
    ASSERT_TRUE(expect_progress(t, "Text view"));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_screen(hex_view, last_byte_cursor));
    // Still hex editing: Control-E starts the text view again.
    t.send(ctrl('e'));
    ASSERT_TRUE(expect_progress(t, "Text view"));
    t.send(keys::esc);
    EXPECT_TRUE(t.expect_screen(hex_view, last_byte_cursor));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// Control-C while the text view looks for its page opens the quit dialog at
// once, not when the scan would have ended.
TEST(LongWork, ControlCDuringALongTextViewOpensTheQuitDialog) {
    Terminal t(24, 80);
    start_on_sparse(t, 64 * gib);
    go_to_last_byte(t);
    t.send(ctrl('e'));
    ASSERT_TRUE(expect_progress(t, "Text view"));
    t.send(ctrl('c'));
    EXPECT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
}
