// Saving: the three ways of writing, failures that must not pass for
// success, other path forms of the edited file, and the dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(size_t n) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return v;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/morvane-save-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string at(const std::string &name) const { return path + "/" + name; }
    std::string file(const std::string &name, const Bytes &bytes) const {
        FILE *f = fopen(at(name).c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return at(name);
    }
};

Bytes read_file(const std::string &path) {
    Bytes out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    for (int c; (c = fgetc(f)) != EOF;)
        out.push_back(static_cast<unsigned char>(c));
    fclose(f);
    return out;
}

bool exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

// Keeps the data layer's state and puts it back, so that no test leaves
// anything behind for the next. Construct it before the CursesScreen.
struct DataSandbox {
    EditorGlobals g = Globals;
    int32_t cx = cursor_x, cy = cursor_y, spare = buf_spare;
    uint64_t loc = cursor_loc;
    std::vector<unsigned char> buf = buffer;
    ~DataSandbox() {
        if (Globals.fp && Globals.fp != g.fp) fclose(Globals.fp);
        clear_mod_table();
        undo_clear();
        Globals = g;
        cursor_x = cx;
        cursor_y = cy;
        cursor_loc = loc;
        buf_spare = spare;
        buffer = buf;
        fp_reads_other_file = false;
    }
};

void reset_state(const std::string &path) {
    Globals.filename = path;
    Globals.file_state = 0;
    Globals.disk = 0;
    Globals.text_pane = 0;
    Globals.ebcdic = 0;
    Globals.spacing = 1;
    Globals.print_set = 1;
    init_mod_table();
    undo_clear();
    cursor_loc = 0;
    cursor_x = 10;
    cursor_y = 1;
}

void open_paged(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    struct stat st;
    ASSERT_EQ(fstat(fileno(f), &st), 0);
    Globals.buffered = 0;
    Globals.buf_size = 16384;
    Globals.filesize = static_cast<uint64_t>(st.st_size) - 1;
    buf_spare = 0;
    buffer.assign(16385, 0);
    size_t n = fread(buffer.data(), 1, 16384, f);
    set_file_window(f, 0, n - 1);
    reset_state(path);
}

void open_whole(const std::string &path) {
    Bytes bytes = read_file(path);
    ASSERT_FALSE(bytes.empty());
    Globals.buffered = 1;
    Globals.buf_size = static_cast<int64_t>(bytes.size());
    Globals.filesize = bytes.size() - 1;
    buf_spare = 1024;
    buffer.assign(bytes.size() + 1024 + 1, 0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    set_file_window(fopen(path.c_str(), "rb"), 0, Globals.filesize);
    reset_state(path);
}

// Overwrites byte o as typing would, without the screen.
void change(uint64_t o, unsigned char v) {
    cursor_loc = o;
    int old = get_byte(o);
    pushUndo(3, o, old, v);
    filebuff_modify(v);
    Globals.file_state = 1;
}

Bytes with_changes(Bytes b, std::initializer_list<std::pair<size_t, unsigned char>> changes) {
    for (auto [o, v] : changes)
        b[o] = v;
    return b;
}

// A temporary working directory for relative names.
struct InDir {
    std::string old = std::filesystem::current_path();
    explicit InDir(const std::string &dir) { std::filesystem::current_path(dir); }
    ~InDir() { std::filesystem::current_path(old); }
};

} // namespace

TEST(TrimAtWhitespace, CutsAtTheFirstBlankTabOrLineEnd) {
    for (auto [in, out] :
         std::vector<std::pair<std::string, std::string>>{{"name.bin   ", "name.bin"},
                                                          {"two words", "two"},
                                                          {"tab\there", "tab"},
                                                          {"line\nfeed", "line"},
                                                          {"carriage\rreturn", "carriage"},
                                                          {" lead", ""},
                                                          {"ctrl\x01kept", "ctrl\x01kept"},
                                                          {"", ""}}) {
        std::string s = in;
        EXPECT_EQ(trim_at_whitespace(s), out);
        EXPECT_EQ(s, out) << "cut in place";
    }
}

TEST(SaveWrite, WholeFileInPlaceCutsTheFileToTheDataLength) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    Bytes original = pattern(100);
    std::string path = dir.file("f", original);
    open_whole(path);
    cursor_loc = 20;
    for (int i = 0; i < 10; ++i)
        delete_byte(0);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    Bytes expected = original;
    expected.erase(expected.begin() + 20, expected.begin() + 30);
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(Globals.file_state, 0);
}

TEST(SaveWrite, WholeFileUnderANewNameLeavesTheOldFile) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(5000);
    std::string path = dir.file("f", original);
    open_whole(path);
    change(4999, 0x01);
    ASSERT_EQ(save_file_as(dir.at("g"), nullptr), 1);
    EXPECT_EQ(read_file(dir.at("g")), with_changes(original, {{4999, 0x01}}));
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(Globals.filename, dir.at("g"));
}

TEST(SaveWrite, PagedInPlaceChangesExactlyTheModifiedBytes) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(50000);
    std::string path = dir.file("f", original);
    open_paged(path);
    change(3, 0xA1);
    change(20000, 0xA2);
    change(49999, 0xA3);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    EXPECT_EQ(read_file(path), with_changes(original, {{3, 0xA1}, {20000, 0xA2}, {49999, 0xA3}}));
    EXPECT_EQ(mod_table_entries, 0u) << "nothing shows as modified any more";
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_TRUE(UndoStack.top->saved && UndoStack.base->saved);
    get_byte(0);
    EXPECT_EQ(get_byte(20000), 0xA2) << "the window reads the saved file";
}

TEST(SaveWrite, PagedUnderANewNameCopiesTheFileWithTheChanges) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(3 * 1024 * 1024 + 77); // several copy blocks
    std::string path = dir.file("old", original);
    open_paged(path);
    change(0, 0xB1);
    change(1048576, 0xB2);
    change(original.size() - 1, 0xB3);
    std::string copy = dir.at("new");
    ASSERT_EQ(save_file_as(copy, nullptr), 1);
    Bytes expected =
        with_changes(original, {{0, 0xB1}, {1048576, 0xB2}, {original.size() - 1, 0xB3}});
    EXPECT_EQ(read_file(copy), expected);
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(Globals.filename, copy);
    EXPECT_EQ(mod_table_entries, 3u) << "the old file still lacks the changes";
    EXPECT_EQ(get_byte(1048576), 0xB2);
    change(500, 0xB4);
    ASSERT_EQ(save_file_as(copy, nullptr), 1) << "the next save under the new name";
    EXPECT_EQ(read_file(copy), with_changes(expected, {{500, 0xB4}}));
    EXPECT_EQ(read_file(path), original);
}

TEST(SaveWrite, ShortWriteIsAFailureAndLosesNothing) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(70000);
    std::string path = dir.file("f", original);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode == 0 ? "paged copy" : mode == 1 ? "whole file" : "disk mode");
        if (mode == 1)
            open_whole(path);
        else
            open_paged(path);
        Globals.disk = mode == 2;
        change(60000, 0xC1);
        const char *failure = nullptr;
        errno = 0;
        EXPECT_EQ(save_file_as("/dev/full", &failure), 0);
        EXPECT_EQ(errno, ENOSPC);
        ASSERT_NE(failure, nullptr);
        EXPECT_STREQ(failure, "bCannot Save File");
        EXPECT_EQ(Globals.file_state, 1);
        EXPECT_EQ(Globals.filename, path);
        EXPECT_EQ(mod_table_entries, 1u);
        EXPECT_EQ(get_byte(60000), 0xC1);
        EXPECT_FALSE(UndoStack.top->saved);
        fclose(Globals.fp);
        Globals.fp = nullptr;
    }
    EXPECT_EQ(read_file(path), original);
}

TEST(SaveWrite, TargetThatCannotBeOpenedIsReportedAndTheFileStillReads) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(40000);
    std::string path = dir.file("f", original);
    open_paged(path);
    change(30000, 0xD1);
    const char *failure = nullptr;
    EXPECT_EQ(save_file_as(dir.at("missing/dir/f"), &failure), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(failure, "Cannot Save File");
    EXPECT_EQ(save_file_as(dir.path, &failure), 0) << "a directory";
    EXPECT_STREQ(failure, "Cannot Save File");
    EXPECT_EQ(Globals.file_state, 1);
    get_byte(0);
    EXPECT_EQ(get_byte(20000), original[20000]);
    EXPECT_EQ(get_byte(30000), 0xD1);
}

TEST(SaveWrite, OtherPathFormsOfTheEditedFileSaveInPlace) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(40000);
    dir.file("f", original);
    ASSERT_EQ(symlink("f", dir.at("soft").c_str()), 0);
    ASSERT_EQ(link(dir.at("f").c_str(), dir.at("hard").c_str()), 0);
    InDir cwd(dir.path);
    open_paged("f");
    Bytes expected = original;
    unsigned char v = 0xE0;
    for (const std::string &name :
         std::vector<std::string>{"./f", dir.at("f"), "soft", "hard", "f"}) {
        SCOPED_TRACE(name);
        uint64_t o = 1000u * (v - 0xE0u) + 10;
        change(o, v);
        expected[o] = v;
        ASSERT_EQ(save_file_as(name, nullptr), 1);
        EXPECT_EQ(read_file(dir.at("f")), expected);
        EXPECT_EQ(Globals.filename, name);
        EXPECT_EQ(mod_table_entries, 0u) << "written in place";
        get_byte(39000);
        EXPECT_EQ(get_byte(o), v);
        ++v;
    }
}

TEST(SaveWrite, OldFileNamedAgainAfterASaveUnderANewNameGetsEveryChange) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(20000);
    dir.file("a", original);
    InDir cwd(dir.path);
    open_paged("a");
    change(10, 0x11);
    ASSERT_EQ(save_file_as("b", nullptr), 1);
    change(20, 0x22);
    ASSERT_EQ(save_file_as("./a", nullptr), 1) << "the file the window still reads";
    EXPECT_EQ(read_file(dir.at("a")), with_changes(original, {{10, 0x11}, {20, 0x22}}));
    EXPECT_EQ(read_file(dir.at("b")), with_changes(original, {{10, 0x11}}));
}

TEST(SaveWrite, ReplacedFileUnderTheSameNameGetsAWholeCopy) {
    DataSandbox sandbox;
    TempDir dir;
    Bytes original = pattern(20000);
    std::string path = dir.file("f", original);
    open_paged(path);
    change(5, 0x55);
    ASSERT_EQ(rename(dir.file("other", Bytes(20000, 0xFF)).c_str(), path.c_str()), 0);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    EXPECT_EQ(read_file(path), with_changes(original, {{5, 0x55}}));
}

TEST(SaveWrite, OffsetsBeyond32BitsAreWrittenInPlace) {
    DataSandbox sandbox;
    TempDir dir;
    std::string path = dir.at("sparse");
    FILE *f = fopen(path.c_str(), "wb");
    const uint64_t length = (uint64_t{3} << 30) + 5;
    ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(length)), 0);
    fclose(f);
    open_paged(path);
    change((uint64_t{1} << 31) + 1, 0x31);
    change(length - 1, 0x32);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    f = fopen(path.c_str(), "rb");
    unsigned char b = 0;
    ASSERT_EQ(pread(fileno(f), &b, 1, static_cast<off_t>((uint64_t{1} << 31) + 1)), 1);
    EXPECT_EQ(b, 0x31);
    ASSERT_EQ(pread(fileno(f), &b, 1, static_cast<off_t>(length - 1)), 1);
    EXPECT_EQ(b, 0x32);
    struct stat st;
    fstat(fileno(f), &st);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), length);
    fclose(f);
}

TEST(SaveWrite, DiskModeUnderANewNameWritesOnlyTheChangedBytes) {
    DataSandbox sandbox;
    TempDir dir;
    std::string path = dir.file("dev", pattern(300));
    open_paged(path);
    Globals.disk = 1;
    change(100, 0x64);
    change(200, 0xC8);
    ASSERT_EQ(save_file_as(dir.at("patch"), nullptr), 1);
    Bytes expected(201, 0);
    expected[100] = 0x64;
    expected[200] = 0xC8;
    EXPECT_EQ(read_file(dir.at("patch")), expected);
    EXPECT_EQ(mod_table_entries, 0u);
    EXPECT_EQ(read_file(path), pattern(300));
}

TEST(SaveWrite, ReadOnlyFileCanBeSaved) {
    DataSandbox sandbox;
    TempDir dir;
    std::string path = dir.file("f", pattern(10));
    open_paged(path);
    Globals.file_state = 2;
    ASSERT_EQ(save_file_as(dir.at("g"), nullptr), 1);
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_EQ(read_file(dir.at("g")), pattern(10));
}

TEST(SaveDialog, EnterSavesUnderTheFilesOwnName) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", pattern(100));
    open_paged(path);
    change(7, 0x77);
    screen.feed("\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(read_file(path), with_changes(pattern(100), {{7, 0x77}}));
    EXPECT_EQ(screen.text(Globals.help_win, 0).substr(0, 19), "^G/^X/Escape Cancel");
    EXPECT_EQ(current_popup, nullptr);
}

TEST(SaveDialog, CancelKeysWriteNothing) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", pattern(100));
    open_paged(path);
    change(7, 0x77);
    for (const char *key : {"\x07", "\x18", "\x1b"}) {
        screen.feed(key);
        EXPECT_EQ(save_file(), 0);
        EXPECT_EQ(Globals.file_state, 1);
    }
    screen.feed("\x15\n"); // Control-U empties the field: an empty name
    EXPECT_EQ(save_file(), 0);
    EXPECT_EQ(read_file(path), pattern(100));
}

TEST(SaveDialog, TypedNameEndsAtItsFirstBlank) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", pattern(100));
    open_paged(path);
    screen.feed("\x15" + dir.at("new.bin") + "   \n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(Globals.filename, dir.at("new.bin"));
    EXPECT_EQ(read_file(dir.at("new.bin")), pattern(100));
    screen.feed("\x15" + dir.at("two") + " words\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_TRUE(exists(dir.at("two")));
    EXPECT_EQ(Globals.filename, dir.at("two"));
}

TEST(SaveDialog, PrefilledNameWithABlankSavesTheFileItself) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("my file", pattern(100));
    open_paged(path);
    change(1, 0x01);
    screen.feed("\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(read_file(path), with_changes(pattern(100), {{1, 0x01}}));
    EXPECT_FALSE(exists(dir.at("my"))) << "no stray file under the first word";
}

TEST(SaveDialog, FailureShowsItsBoxAndRestoresTheInterrupt) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", pattern(100));
    open_paged(path);
    change(1, 0x01);
    struct sigaction mine {
    }, before{}, after{};
    mine.sa_handler = [](int) {};
    sigemptyset(&mine.sa_mask);
    sigaction(SIGINT, &mine, &before);
    screen.feed("\x15/dev/full\nx"); // the name, then a key for the box
    EXPECT_EQ(save_file(), 0);
    sigaction(SIGINT, &before, &after);
    EXPECT_EQ(after.sa_handler, mine.sa_handler);
    EXPECT_EQ(Globals.file_state, 1);
    // The box was the last thing refreshed: read it from the screen.
    int top = 24 / 2 - 3, left = 80 / 2 - 35;
    EXPECT_EQ(screen.text(curscr, top + 1).substr(left + 27, 17), "bCannot Save File");
    std::string reason = std::string("Reason: ") + strerror(ENOSPC);
    EXPECT_NE(screen.text(curscr, top + 3).find(reason), std::string::npos)
        << screen.text(curscr, top + 3);
}
