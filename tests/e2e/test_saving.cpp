// Saving seen from outside: what lands on disk, what the screen shows
// afterwards, and failures that must not pass for success.
#include <cstring>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

// The change marker, the last column of the status line.
void start_on(Terminal& t, const std::string& name, const std::string& bytes,
              std::vector<std::string> options = {}) {
    t.write_file(name, bytes);
    options.push_back(name);
    t.start(options);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    ASSERT_TRUE(expect_marker(t, " "));
}

std::string reason(int err) {
    return std::string("Reason: ") + strerror(err);
}

} // namespace

TEST(Saving, PagedInPlaceWritesExactlyTheChangedBytesAndDropsTheirHighlight) {
    Terminal t;
    std::string original = pattern(64);
    start_on(t, "a.bin", original);
    t.send("112233");
    ASSERT_TRUE(t.expect_text(1, 10, "11 22 33"));
    ASSERT_TRUE(expect_marker(t, "M"));
    EXPECT_TRUE(t.expect([&] { return t.cell(1, 16).bold; }, "a changed byte shows bold"));
    save_as(t, "");
    ASSERT_TRUE(expect_marker(t, " "));
    std::string expected = original;
    expected.replace(0, 3, "\x11\x22\x33");
    EXPECT_EQ(t.read_file("a.bin"), expected);
    EXPECT_TRUE(t.expect([&] { return !t.cell(1, 10).bold && !t.cell(1, 16).bold; },
                         "the saved bytes are no longer highlighted"));
    EXPECT_TRUE(t.expect_text(1, 10, "11 22 33"));
}

TEST(Saving, UnderANewNameTheCopyHasTheChangesAndTheOldFileNone) {
    Terminal t;
    std::string original = pattern(40000);
    start_on(t, "old.bin", original);
    t.send("abcdef");
    ASSERT_TRUE(expect_marker(t, "M"));
    save_as(t, "new.bin");
    ASSERT_TRUE(t.expect_text(0, 0, "File: new.bin "));
    EXPECT_TRUE(expect_marker(t, " "));
    std::string expected = original;
    expected.replace(0, 3, "\xab\xcd\xef");
    EXPECT_EQ(t.read_file("new.bin"), expected);
    EXPECT_EQ(t.read_file("old.bin"), original);
}

TEST(Saving, WholeFileDeletionsGiveAShorterFile) {
    Terminal t;
    std::string original = pattern(100);
    start_on(t, "a.bin", original, {"-b"});
    for (int i = 0; i < 10; ++i)
        t.send(ctrl('d'));
    ASSERT_TRUE(t.settle());
    save_as(t, "");
    ASSERT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.read_file("a.bin"), original.substr(10));
}

TEST(Saving, ControlXWithChangesAndEnterSavesAndExits) {
    Terminal t;
    start_on(t, "a.bin", pattern(32));
    t.send("f");
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('x'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(static_cast<unsigned char>(t.read_file("a.bin")[0]), 0xF3);
}

TEST(Saving, ControlGInTheDialogKeepsTheChanges) {
    Terminal t;
    std::string original = pattern(32);
    start_on(t, "a.bin", original);
    t.send("9");
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(ctrl('g'));
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Save File") < 0; }, "the dialog closes"));
    EXPECT_TRUE(expect_marker(t, "M"));
    EXPECT_EQ(t.read_file("a.bin"), original);
}

TEST(Saving, TargetThatCannotBeCreatedShowsTheReason) {
    Terminal t;
    start_on(t, "a.bin", pattern(32));
    t.send("1");
    save_as(t, "missing/dir/a.bin");
    EXPECT_TRUE(expect_anywhere(t, "Cannot Save File"));
    EXPECT_TRUE(expect_anywhere(t, reason(ENOENT)));
    t.send("x");
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Cannot Save File") < 0; }, "the box closes"));
    EXPECT_TRUE(expect_marker(t, "M"));
    save_as(t, "/proc/a.bin"); // a place where even root cannot create files
    EXPECT_TRUE(expect_anywhere(t, "Cannot Save File"));
    t.send("x");
    EXPECT_TRUE(expect_marker(t, "M"));
}

TEST(Saving, DevFullIsAFailureAndTheChangesStay) {
    Terminal t;
    std::string original = pattern(32);
    start_on(t, "a.bin", original);
    t.send("1");
    save_as(t, "/dev/full");
    EXPECT_TRUE(expect_anywhere(t, "bCannot Save File"));
    EXPECT_TRUE(expect_anywhere(t, reason(ENOSPC)));
    t.send("x");
    EXPECT_TRUE(expect_marker(t, "M"));
    EXPECT_TRUE(t.expect_text(0, 0, "File: a.bin "));
    save_as(t, "");
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.read_file("a.bin")[0], '\x13') << "the change was kept for the next save";
}

TEST(Saving, DotSlashNameOfTheEditedFileKeepsItsContents) {
    Terminal t;
    std::string original = pattern(50000);
    start_on(t, "a.bin", original);
    t.send("77");
    ASSERT_TRUE(expect_marker(t, "M"));
    save_as(t, "./a.bin");
    ASSERT_TRUE(expect_marker(t, " "));
    std::string expected = original;
    expected[0] = '\x77';
    EXPECT_EQ(t.read_file("a.bin"), expected);
}

TEST(Saving, UndoAfterASaveOffersToSaveTheRevertedBytes) {
    Terminal t;
    std::string original = pattern(64);
    start_on(t, "a.bin", original);
    t.send("4455");
    ASSERT_TRUE(t.expect_text(1, 10, "44 55"));
    save_as(t, "");
    ASSERT_TRUE(expect_marker(t, " "));
    t.send(ctrl('u'));
    t.send(ctrl('u'));
    t.send(ctrl('u'));
    t.send(ctrl('u'));
    ASSERT_TRUE(t.expect_text(1, 10, "03 0A"));
    EXPECT_TRUE(expect_marker(t, "M")) << "the screen differs from the file again";
    t.send(ctrl('x'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("a.bin"), original);
}

TEST(Saving, TypingTheFilesLastNibbleRingsTheBell) {
    Terminal t;
    start_on(t, "a.bin", pattern(1));
    t.send("ab");
    ASSERT_TRUE(t.expect_text(1, 10, "AB"));
    EXPECT_TRUE(t.expect([&] { return t.bells() == 1; }, "one bell"));
    EXPECT_TRUE(t.expect_text(1, 10, "AB", Pos{1, 11}));
    t.settle();
    EXPECT_TRUE(t.holds_for(
        [&] {
            return t.cursor() == Pos{1, 11};
        },
        "the cursor on the last nibble"));
}
