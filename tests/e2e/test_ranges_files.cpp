// The selection written into a file (Alt-O) and a file read into the
// clipboard (Alt-I): their dialogs, the question before replacing a file,
// the refusal to write over the edited file, a full disk, and a long
// write-out stopped with Escape. The oracle is the bytes on disk.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "small_disk.h"
#include "terminal.h"

using keys::alt;

namespace {

std::string letters(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('A' + i % 26);
    return s;
}

void start_on(Terminal& t, const std::string& name, std::vector<std::string> options = {}) {
    options.push_back(name);
    t.start(options);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    ASSERT_TRUE(t.settle());
}

std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

// The 70 x 6 popup of a 24 x 80 screen: title row 10, field row 12 from column 17.
constexpr int title_row = 10;
constexpr int field_row = 12;
constexpr int field_col = 17;

// Alt-O: the dialog, its empty field and the Save dialog's bar; then `name`.
void write_out(Terminal& t, const std::string& name) {
    t.send(alt('o'));
    ASSERT_TRUE(t.expect_text(title_row, 33, "Write Selection"));
    ASSERT_TRUE(t.expect_text(field_row, 7, "Filename: ", Pos{field_row, field_col}));
    ASSERT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel"));
    t.send(name + keys::enter);
}

// The failure in the dialog's popup, as a failed save shows it; a key closes it.
void expect_failure(Terminal& t, const std::string& title, const std::string& reason) {
    EXPECT_TRUE(t.expect_text(title_row, 32, title));
    EXPECT_TRUE(expect_anywhere(t, "Reason: " + reason));
    t.send("x");
    EXPECT_TRUE(t.expect([&] { return row_with(t, title) < 0; }, "the box closes"));
}

} // namespace

TEST(RangeWrite, TheSelectionAsShownGoesIntoANewFileAndStaysSelected) {
    Terminal t;
    t.write_file("a.bin", letters(64));
    start_on(t, "a.bin");
    t.send(keys::right + keys::right + "7"); // byte 1 changed, not saved
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(keys::left + keys::shift_down + keys::shift_end); // bytes 1..0x1F
    ASSERT_TRUE(expect_anywhere(t, "Selected 31 bytes 00000001-0000001F"));
    write_out(t, "out.bin");
    EXPECT_TRUE(expect_anywhere(t, "Selected 31 bytes 00000001-0000001F"));
    std::string want = letters(64).substr(1, 31);
    want[0] = static_cast<char>(0x72);
    EXPECT_EQ(t.read_file("out.bin"), want);
    EXPECT_EQ(t.read_file("a.bin"), letters(64));
    EXPECT_TRUE(expect_marker(t, "M"));
    // Control-G in the field writes nothing.
    t.send(alt('O'));
    ASSERT_TRUE(t.expect_text(title_row, 33, "Write Selection"));
    t.send("never.bin" + ctrl('g'));
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Write Selection") < 0; }, "the dialog closes"));
    EXPECT_FALSE(std::filesystem::exists(t.path("never.bin")));

    // A read-only file's selection is written as well.
    Terminal r;
    r.write_file("r.bin", "0123456789");
    start_on(r, "r.bin", {"-r"});
    r.send(keys::f9 + keys::end);
    ASSERT_TRUE(expect_anywhere(r, "Selected 10 bytes 00000000-00000009"));
    write_out(r, "copy.bin");
    EXPECT_TRUE(expect_anywhere(r, "Selected 10 bytes"));
    EXPECT_EQ(r.read_file("copy.bin"), "0123456789");
}

TEST(RangeWrite, AnExistingFileIsReplacedOnlyAfterYesAndTheEditedFileNever) {
    Terminal t;
    t.write_file("a.bin", letters(32));
    t.write_file("other.bin", "keep me");
    ASSERT_EQ(symlink("a.bin", t.path("link.bin").c_str()), 0);
    start_on(t, "a.bin", {"-b"});
    t.send(alt('a') + keys::end); // bytes 0..15
    ASSERT_TRUE(expect_anywhere(t, "Selected 16 bytes"));
    write_out(t, "other.bin");
    for (const std::string& no : {std::string("n"), keys::esc, ctrl('g')}) {
        SCOPED_TRACE("answered with byte " + std::to_string(static_cast<int>(no[0])));
        ASSERT_TRUE(expect_anywhere(t, replace_question));
        t.send(no);
        // Back in the field, as typed.
        EXPECT_TRUE(t.expect_text(field_row, 7, "Filename: other.bin ", Pos{field_row, 26}));
        EXPECT_EQ(t.read_file("other.bin"), "keep me");
        t.send(keys::enter);
    }
    ASSERT_TRUE(answer_question(t, replace_question, "y"));
    // The question's popup covers the dialog's title: the bar tells that both went.
    EXPECT_TRUE(t.expect([&] { return t.row(23).rfind("Selected 16 bytes", 0) == 0; },
                         "the dialog closes"));
    EXPECT_EQ(t.read_file("other.bin"), letters(16));

    // The edited file, under any of its names, is refused with the reason.
    t.send("5");
    ASSERT_TRUE(expect_marker(t, "M"));
    for (const std::string& name :
         std::vector<std::string>{"a.bin", "./a.bin", "link.bin", t.path("a.bin")}) {
        SCOPED_TRACE(name);
        write_out(t, name);
        expect_failure(t, "Cannot Write Selection", "That is the file being edited");
        EXPECT_EQ(t.read_file("a.bin"), letters(32));
    }
    EXPECT_TRUE(expect_marker(t, "M"));
}

TEST(RangeWrite, AFullDiskFailsWithItsReasonAndLeavesNothingBehind) {
    Terminal t;
    MOUNT_SMALL_DISK(disk, t, "small", 64 * 4096);
    t.write_file("small/t.bin", "old target");
    disk.fill();
    t.write_file("a.bin", letters(100));
    start_on(t, "a.bin");
    t.send(keys::shift_down + keys::shift_down); // bytes 0..0x20
    ASSERT_TRUE(expect_anywhere(t, "Selected 33 bytes"));
    write_out(t, "small/new.bin");
    expect_failure(t, "Cannot Write Selection", strerror(ENOSPC));
    EXPECT_EQ(entries(t.path("small")), (std::set<std::string>{"t.bin", "filler"}));
    write_out(t, "small/t.bin");
    ASSERT_TRUE(answer_question(t, replace_question, "y"));
    expect_failure(t, "Cannot Write Selection", strerror(ENOSPC));
    EXPECT_EQ(t.read_file("small/t.bin"), "old target");
    EXPECT_EQ(entries(t.path("small")), (std::set<std::string>{"t.bin", "filler"}));
    // Room again: the same selection is written.
    disk.release();
    write_out(t, "small/new.bin");
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Write Selection") < 0; }, "the dialog closes"));
    EXPECT_EQ(t.read_file("small/new.bin"), letters(100).substr(0, 33));
}

// A sparse file of 8 GiB, paged: the write-out runs long enough to show its
// progress, and Escape then gives it up. Copying as much is refused.
TEST(RangeWrite, EscapeStopsALongWriteOutAndLeavesNoFileAndTheOldTargetAsItWas) {
    Terminal t;
    t.write_file("big.bin", "start");
    ASSERT_EQ(truncate(t.path("big.bin").c_str(), off_t{8} << 30), 0);
    t.write_file("old.bin", "old bytes");
    start_on(t, "big.bin");
    t.send(alt('a') + ctrl('t') + ctrl('u') + "99999999999" + keys::enter);
    ASSERT_TRUE(expect_anywhere(t, "Selected 8589934592 bytes 00000000-1FFFFFFFF"));
    // More than the clipboard holds: the reason, and the selection stays.
    t.send(alt('w'));
    expect_failure(t, "Cannot Copy Selection", "Selection too large: at most 1 GiB can be copied");
    EXPECT_TRUE(expect_anywhere(t, "Selected 8589934592 bytes"));
    for (const std::string target : {"new.bin", "old.bin"}) {
        SCOPED_TRACE(target);
        write_out(t, target);
        if (target == "old.bin") {
            ASSERT_TRUE(answer_question(t, replace_question, "y"));
        }
        ASSERT_TRUE(t.expect([&] { return t.row(23).rfind("Writing... ", 0) == 0; },
                             "the write-out's progress"));
        t.send(keys::esc);
        expect_failure(t, "Cannot Write Selection", strerror(ECANCELED));
        EXPECT_EQ(entries(t.dir()), (std::set<std::string>{"big.bin", "old.bin"}));
        EXPECT_EQ(t.read_file("old.bin"), "old bytes");
    }
    EXPECT_TRUE(expect_anywhere(t, "Selected 8589934592 bytes"));
}

TEST(RangeRead, AFileReadIntoTheClipboardIsPastedAndAMissingOneSaysWhy) {
    Terminal t;
    t.write_file("a.bin", letters(20));
    t.write_file("clip.bin", "xyz");
    start_on(t, "a.bin", {"-b"});
    t.send(alt('i'));
    ASSERT_TRUE(t.expect_text(title_row, 28, "Read File into Clipboard"));
    ASSERT_TRUE(t.expect_text(field_row, 7, "Filename: ", Pos{field_row, field_col}));
    ASSERT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel"));
    t.send("clip.bin" + keys::enter);
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Read File") < 0; }, "the dialog closes"));
    EXPECT_TRUE(expect_marker(t, " ")) << "reading changes no byte";
    t.send(keys::right + keys::right + alt('y'));
    EXPECT_TRUE(t.expect_text(1, 10, "41 78 79 7A  45"));
    // A file that is not there: the reason, and the clipboard as it was.
    t.send(alt('I'));
    ASSERT_TRUE(t.expect_text(title_row, 28, "Read File into Clipboard"));
    t.send("missing.bin" + keys::enter);
    expect_failure(t, "Cannot Read File", strerror(ENOENT));
    t.send(keys::end + alt('p')); // pasted in before the last byte of the row
    EXPECT_TRUE(t.expect_text(1, 53, "4E 4F 78"));
    EXPECT_TRUE(t.expect_text(2, 10, "79 7A 50 51"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_TRUE(expect_marker(t, " "));
    const std::string l = letters(20);
    EXPECT_EQ(t.read_file("a.bin"), "Axyz" + l.substr(4, 11) + "xyz" + l.substr(15));
}
