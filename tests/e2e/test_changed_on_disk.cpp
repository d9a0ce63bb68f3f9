// A file that another program changed on disk while it was being edited is
// not written over unasked: a save into it asks first, No (and every cancel
// key) keeps the edits, Yes writes the whole content as shown, and Control-L
// shows what the disk holds now.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string question = "The file changed on disk since it was opened";

// Control-O, Enter on the name as it stands: the question comes.
void save_and_expect_question(Terminal& t) {
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    ASSERT_TRUE(expect_anywhere(t, question));
    ASSERT_TRUE(t.expect_row(t.lines() - 1, "^G/^X/Escape Cancel   Y Yes   N No"));
}

void replace_by_rename(Terminal& t, const std::string& name, const std::string& bytes) {
    t.write_file("newer.tmp", bytes);
    ASSERT_EQ(rename(t.path("newer.tmp").c_str(), t.path(name).c_str()), 0);
}

} // namespace

// The case of a 64 KiB file cut to 100 bytes with an edit at 0xF000: the
// paged save would have written that byte at its offset, leaving zeros from
// 100 on.
TEST(ChangedOnDisk, SaveIntoATruncatedFileAsksAndNoOrCancelKeepsTheEdits) {
    Terminal t;
    t.write_file("a.bin", std::string(0x10000, 'Q'));
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  51 51"));
    t.send(ctrl('t') + "F000" + keys::enter);
    ASSERT_TRUE(t.expect_text(1, 0, "0000F000  51 51", Pos{1, 10}));
    ASSERT_EQ(truncate(t.path("a.bin").c_str(), 100), 0);
    t.send("A");
    ASSERT_TRUE(t.expect_text(1, 0, "0000F000  A1 51"));
    ASSERT_TRUE(expect_marker(t, "M"));
    for (const std::string& no :
         {std::string("n"), std::string("N"), keys::esc, ctrl('g'), ctrl('x')}) {
        SCOPED_TRACE("answered with byte " + std::to_string(static_cast<int>(no[0])));
        save_and_expect_question(t);
        t.send(no);
        EXPECT_TRUE(t.expect([&] { return row_with(t, question) < 0; }, "the question closes"));
        EXPECT_TRUE(expect_marker(t, "M"));
        EXPECT_TRUE(t.expect_text(1, 0, "0000F000  A1 51"));
        ASSERT_EQ(t.read_file("a.bin").size(), 100u) << "the file as the other program left it";
    }
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_TRUE(t.read_file("a.bin") == std::string(100, 'Q'));
}

// Replaced by a rename: Yes writes the old content with the edit, as the
// screen shows it, and no longer asks afterwards.
TEST(ChangedOnDisk, YesWritesTheWholeContentAsShown) {
    Terminal t;
    const std::string original = "0123456789abcdefghijklmnopqrstuv";
    t.write_file("a.bin", original);
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  30 31"));
    t.send("4");
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  40 31"));
    replace_by_rename(t, "a.bin", "a newer version of the file");
    save_and_expect_question(t);
    t.send("y");
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.read_file("a.bin"), "@" + original.substr(1));
    t.send("5"); // the low digit of the same byte
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_TRUE(expect_marker(t, " ")) << "saved without a question: nothing changed since";
    EXPECT_EQ(t.read_file("a.bin"), "E" + original.substr(1));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// Whole-file mode: a symbolic link put in the file's place is not followed
// unasked, and No leaves the file it points to as it was.
TEST(ChangedOnDisk, ALinkPutInTheFilesPlaceIsNotFollowedUnasked) {
    Terminal t;
    t.write_file("a.bin", "edited file");
    t.write_file("victim.bin", "someone else's file");
    t.start({"-b", "a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  65 64"));
    t.send("0");
    ASSERT_TRUE(expect_marker(t, "M"));
    ASSERT_EQ(unlink(t.path("a.bin").c_str()), 0);
    ASSERT_EQ(symlink("victim.bin", t.path("a.bin").c_str()), 0);
    save_and_expect_question(t);
    t.send("n");
    EXPECT_TRUE(expect_marker(t, "M"));
    EXPECT_EQ(t.read_file("victim.bin"), "someone else's file");
    struct stat st;
    ASSERT_EQ(lstat(t.path("a.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("victim.bin"), "someone else's file");
}

// Control-L reads the file anew: a file cut below the cursor puts it on the
// new last byte, and the edit past the end is gone with the bytes it changed.
TEST(ChangedOnDisk, ControlLShowsTheFileAsItIsNowInPagedMode) {
    Terminal t;
    t.write_file("a.bin", std::string(0x10000, 'Q'));
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  51 51"));
    t.send(ctrl('t') + "F000" + keys::enter);
    ASSERT_TRUE(t.expect_text(1, 0, "0000F000  51 51", Pos{1, 10}));
    t.send("A");
    ASSERT_TRUE(t.expect_text(1, 0, "0000F000  A1 51"));
    t.write_file("a.bin", std::string(100, 'R')); // rewritten in place, shorter
    t.send(ctrl('l'));
    EXPECT_TRUE(t.expect_text(1, 0, "00000060  52 52 52 52", Pos{1, 19}));
    EXPECT_TRUE(t.expect_text(0, 34, "ASCII Offset: 0x00000063 / 0x00000063"));
    EXPECT_EQ(row_with(t, "0000F000"), -1);
    // What is shown is what a save writes: it asks no more.
    t.send(keys::up);
    t.send("7");
    ASSERT_TRUE(t.expect_text(1, 0, "00000050  52 52 52 72"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_TRUE(expect_marker(t, " "));
    std::string expected(100, 'R');
    expected[0x53] = 'r';
    EXPECT_EQ(t.read_file("a.bin"), expected);
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
