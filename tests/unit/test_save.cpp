// Saving: the three ways of writing, failures that must not pass for
// success, other path forms of the edited file, and the dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(size_t n) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return v;
}

Bytes read_file(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    for (int c; f && (c = fgetc(f)) != EOF;)
        out.push_back(static_cast<unsigned char>(c));
    if (f) fclose(f);
    return out;
}

Bytes with(Bytes b, std::initializer_list<std::pair<size_t, unsigned char>> changes) {
    for (auto [o, v] : changes)
        b[o] = v;
    return b;
}

// A temporary directory that is also the working directory; the editor
// state is put back afterwards.
struct Workspace {
    KeptEditorState keep;
    std::string dir, old_cwd = std::filesystem::current_path();
    Workspace() {
        char tmpl[] = "/tmp/morvane-save-XXXXXX";
        dir = mkdtemp(tmpl);
        std::filesystem::current_path(dir);
    }
    ~Workspace() {
        if (Globals.fp) fclose(Globals.fp);
        std::filesystem::current_path(old_cwd);
        std::filesystem::remove_all(dir);
    }
    static void write(const std::string& name, const Bytes& bytes) {
        FILE* f = fopen(name.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    // Opens `name`, paged or whole, as start-up leaves it.
    static void open(const std::string& name, bool whole = false) {
        if (Globals.fp) fclose(Globals.fp);
        FILE* f = fopen(name.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        struct stat st;
        fstat(fileno(f), &st);
        uint64_t size = static_cast<uint64_t>(st.st_size);
        Globals.buffered = whole;
        Globals.disk = Globals.file_state = Globals.text_pane = 0;
        Globals.filename = name;
        Globals.filesize = size - 1;
        Globals.buf_size = whole ? static_cast<int64_t>(size) : 16384;
        buf_spare = whole ? 1024 : 0;
        buffer.assign(static_cast<size_t>(Globals.buf_size) + buf_spare + 1, 0);
        size_t n = fread(buffer.data(), 1, static_cast<size_t>(Globals.buf_size), f);
        set_file_window(f, 0, n - 1);
        init_mod_table();
        undo_clear();
    }
    // Overwrites byte o as typing would, without the screen.
    static void change(uint64_t o, unsigned char v) {
        cursor_loc = o;
        pushUndo(3, o, get_byte(o), v);
        filebuff_modify(v);
        Globals.file_state = 1;
    }
};

} // namespace

TEST(TrimAtWhitespace, CutsAtTheFirstBlankTabOrLineEnd) {
    for (auto [in, out] :
         std::vector<std::pair<std::string, std::string>>{{"name.bin   ", "name.bin"},
                                                          {"two words", "two"},
                                                          {"tab\there", "tab"},
                                                          {"line\nfeed", "line"},
                                                          {"cr\rlf", "cr"},
                                                          {"ctrl\x01kept", "ctrl\x01kept"}}) {
        std::string s = in;
        EXPECT_EQ(trim_at_whitespace(s), out);
        EXPECT_EQ(s, out) << "cut in place";
    }
}

TEST(SaveWrite, WholeFileInPlaceCutsTheFileToTheDataLength) {
    Workspace w;
    w.write("f", pattern(100));
    w.open("f", true);
    cursor_loc = 20;
    for (int i = 0; i < 10; ++i)
        delete_byte(0);
    ASSERT_EQ(save_file_as("f", nullptr), 1);
    Bytes expected = pattern(100);
    expected.erase(expected.begin() + 20, expected.begin() + 30);
    EXPECT_EQ(read_file("f"), expected);
    EXPECT_EQ(Globals.file_state, 0);
}

TEST(SaveWrite, PagedInPlaceChangesExactlyTheModifiedBytes) {
    Workspace w;
    w.write("f", pattern(50000));
    w.open("f");
    w.change(3, 0xA1);
    w.change(20000, 0xA2);
    w.change(49999, 0xA3);
    ASSERT_EQ(save_file_as("f", nullptr), 1);
    EXPECT_EQ(read_file("f"), with(pattern(50000), {{3, 0xA1}, {20000, 0xA2}, {49999, 0xA3}}));
    EXPECT_EQ(mod_table_entries, 0u) << "nothing shows as modified any more";
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_TRUE(UndoStack.top->saved && UndoStack.base->saved);
    get_byte(0);
    EXPECT_EQ(get_byte(20000), 0xA2) << "the window reads the saved file";
}

TEST(SaveWrite, PagedUnderANewNameCopiesTheFileWithTheChanges) {
    Workspace w;
    Bytes original = pattern(3 * 1024 * 1024 + 77); // several copy blocks
    w.write("old", original);
    w.open("old");
    w.change(0, 0xB1);
    w.change(1048576, 0xB2);
    w.change(original.size() - 1, 0xB3);
    ASSERT_EQ(save_file_as("new", nullptr), 1);
    Bytes expected = with(original, {{0, 0xB1}, {1048576, 0xB2}, {original.size() - 1, 0xB3}});
    EXPECT_EQ(read_file("new"), expected);
    EXPECT_EQ(read_file("old"), original);
    EXPECT_EQ(Globals.filename, "new");
    EXPECT_EQ(mod_table_entries, 3u) << "the old file still lacks the changes";
    w.change(500, 0xB4);
    ASSERT_EQ(save_file_as("new", nullptr), 1) << "the next save under the new name";
    EXPECT_EQ(read_file("new"), with(expected, {{500, 0xB4}}));
    w.change(600, 0xB5);
    ASSERT_EQ(save_file_as("./old", nullptr), 1) << "the file the window still reads";
    EXPECT_EQ(read_file("old"), with(expected, {{500, 0xB4}, {600, 0xB5}}));
}

// Thousands of changes, written over the kernel's copy in stretches of whole
// pages (or laid over the blocks of a copy by hand where the kernel cannot
// copy): the file as shown either way.
TEST(SaveWrite, ManyChangesUnderANewNameTakeTheBlockCopy) {
    Workspace w;
    Bytes original = pattern(2 * 1024 * 1024 + 5);
    w.write("old", original);
    w.open("old");
    Bytes expected = original;
    for (uint64_t o = 3; o < original.size(); o += 300) {
        unsigned char v = static_cast<unsigned char>(o * 7);
        w.change(o, v);
        expected[o] = v;
    }
    ASSERT_GT(mod_table_entries, 4096u);
    ASSERT_EQ(save_file_as("new", nullptr), 1);
    EXPECT_EQ(read_file("new"), expected);
    EXPECT_EQ(read_file("old"), original);
}

TEST(SaveWrite, ShortWriteIsAFailureAndLosesNothing) {
    Workspace w;
    w.write("f", pattern(70000));
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode == 0 ? "paged copy" : mode == 1 ? "whole file" : "disk mode");
        w.open("f", mode == 1);
        Globals.disk = mode == 2;
        w.change(60000, 0xC1);
        const char* failure = nullptr;
        EXPECT_EQ(save_file_as("/dev/full", &failure), 0);
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_STREQ(failure, "bCannot Save File");
        EXPECT_EQ(Globals.file_state, 1);
        EXPECT_EQ(Globals.filename, "f");
        EXPECT_EQ(mod_table_entries, 1u);
        EXPECT_EQ(get_byte(60000), 0xC1);
        EXPECT_FALSE(UndoStack.top->saved);
    }
    EXPECT_EQ(read_file("f"), pattern(70000));
}

TEST(SaveWrite, TargetThatCannotBeOpenedIsReportedAndTheFileStillReads) {
    Workspace w;
    w.write("f", pattern(40000));
    w.open("f");
    w.change(30000, 0xD1);
    const char* failure = nullptr;
    EXPECT_EQ(save_file_as("missing/dir/f", &failure), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(failure, "Cannot Save File");
    EXPECT_EQ(save_file_as(w.dir, &failure), 0) << "a directory";
    EXPECT_STREQ(failure, "Cannot Save File");
    get_byte(0);
    EXPECT_EQ(get_byte(20000), pattern(40000)[20000]);
    EXPECT_EQ(get_byte(30000), 0xD1);
}

TEST(SaveWrite, OtherPathFormsOfTheEditedFileSaveInPlace) {
    Workspace w;
    Bytes expected = pattern(40000);
    w.write("f", expected);
    ASSERT_EQ(symlink("f", "soft"), 0);
    ASSERT_EQ(link("f", "hard"), 0);
    w.open("f");
    uint64_t o = 10;
    for (const std::string& name : std::vector<std::string>{"./f", w.dir + "/f", "soft", "hard"}) {
        SCOPED_TRACE(name);
        w.change(o, 0xE0);
        expected[o] = 0xE0;
        ASSERT_EQ(save_file_as(name, nullptr), 1);
        EXPECT_EQ(read_file("f"), expected);
        EXPECT_EQ(mod_table_entries, 0u) << "written in place";
        get_byte(39000);
        EXPECT_EQ(get_byte(o), 0xE0);
        o += 1000;
    }
}

TEST(SaveWrite, ReplacedFileUnderTheSameNameGetsAWholeCopy) {
    Workspace w;
    w.write("f", pattern(20000));
    w.open("f");
    w.change(5, 0x55);
    w.write("other", Bytes(20000, 0xFF));
    ASSERT_EQ(rename("other", "f"), 0);
    ASSERT_EQ(save_file_as("f", nullptr), 1);
    EXPECT_EQ(read_file("f"), with(pattern(20000), {{5, 0x55}}));
}

TEST(SaveWrite, OffsetsBeyond32BitsAreWrittenInPlace) {
    Workspace w;
    const uint64_t length = (uint64_t{3} << 30) + 5;
    FILE* f = fopen("sparse", "wb");
    ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(length)), 0);
    fclose(f);
    w.open("sparse");
    w.change((uint64_t{1} << 31) + 1, 0x31);
    w.change(length - 1, 0x32);
    ASSERT_EQ(save_file_as("sparse", nullptr), 1);
    unsigned char b = 0;
    ASSERT_EQ(pread(fileno(Globals.fp), &b, 1, static_cast<off_t>((uint64_t{1} << 31) + 1)), 1);
    EXPECT_EQ(b, 0x31);
    ASSERT_EQ(pread(fileno(Globals.fp), &b, 1, static_cast<off_t>(length - 1)), 1);
    EXPECT_EQ(b, 0x32);
    EXPECT_EQ(std::filesystem::file_size("sparse"), length);
}

// A copy of a disk is the whole disk as shown, not the changed bytes alone;
// the editor goes on showing that content.
TEST(SaveWrite, DiskModeUnderANewNameWritesTheWholeContentWithTheChanges) {
    Workspace w;
    w.write("dev", pattern(300));
    w.open("dev");
    Globals.disk = 1;
    w.change(100, 0x64);
    w.change(200, 0xC8);
    ASSERT_EQ(save_file_as("patch", nullptr), 1);
    Bytes expected = with(pattern(300), {{100, 0x64}, {200, 0xC8}});
    EXPECT_EQ(read_file("patch"), expected);
    EXPECT_EQ(read_file("dev"), pattern(300));
    Bytes shown(300);
    get_bytes(0, shown.data(), shown.size());
    EXPECT_EQ(shown, expected) << "the screen shows the new file's bytes";
    w.change(5, 0x05);
    ASSERT_EQ(save_file_as("patch", nullptr), 1) << "the next save under the new name";
    EXPECT_EQ(read_file("patch"), with(expected, {{5, 0x05}}));
}

ino_t inode_of(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_ino;
}

// While alive, the process acts as an unprivileged user (root only).
struct ActAsNobody {
    static constexpr uid_t nobody = 65534;
    ActAsNobody() { EXPECT_EQ(seteuid(nobody), 0); }
    ~ActAsNobody() { EXPECT_EQ(seteuid(0), 0); }
};

// A whole new content takes the old file's place by a rename: the old inode
// goes, what users see of the file (mode, owner, a link to it) stays.
TEST(SaveWrite, WholeFileReplacementKeepsModeOwnerAndLinksToIt) {
    Workspace w;
    w.write("f", pattern(5000));
    ASSERT_EQ(chmod("f", 0640), 0);
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown("f", 1234, 5678), 0);
    }
    ASSERT_EQ(symlink("f", "soft"), 0);
    w.open("f", true);
    ino_t before = inode_of("f");
    w.change(1, 0x11);
    ASSERT_EQ(save_file_as("f", nullptr), 1);
    struct stat st {};
    ASSERT_EQ(stat("f", &st), 0);
    EXPECT_NE(st.st_ino, before) << "renamed over, not rewritten";
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    struct stat fp_st {};
    fstat(fileno(Globals.fp), &fp_st);
    EXPECT_EQ(fp_st.st_ino, st.st_ino) << "the editor's stream reads the new file";

    w.change(2, 0x22);
    ASSERT_EQ(save_file_as("soft", nullptr), 1);
    struct stat link_st {};
    ASSERT_EQ(lstat("soft", &link_st), 0);
    EXPECT_TRUE(S_ISLNK(link_st.st_mode)) << "the link stays a link";
    EXPECT_EQ(read_file("f"), with(pattern(5000), {{1, 0x11}, {2, 0x22}}));
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"f", "soft"})) << "no temporary file is left";
}

TEST(SaveWrite, WholeFileIsWrittenInPlaceWhereARenameWouldLoseSomething) {
    Workspace w;
    Bytes expected = pattern(5000);
    w.write("f", expected);
    ASSERT_EQ(link("f", "hard"), 0);
    w.open("f", true);
    ino_t inode = inode_of("f");
    w.change(1, 0x11);
    expected[1] = 0x11;
    ASSERT_EQ(save_file_as("f", nullptr), 1);
    EXPECT_EQ(inode_of("f"), inode) << "a second hard link";
    EXPECT_EQ(read_file("hard"), expected);

    ASSERT_EQ(save_file_as("/dev/null", nullptr), 1);
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "a device stays a device";

    if (geteuid() != 0) GTEST_SKIP() << "an owner we cannot give needs another user: run as root";
    ASSERT_EQ(chmod(w.dir.c_str(), 0777), 0);
    w.write("root-owned", pattern(300));
    ASSERT_EQ(chmod("root-owned", 0666), 0);
    ASSERT_EQ(mkdir("locked", 0755), 0);
    w.write("locked/mine", pattern(300));
    ASSERT_EQ(chown("locked/mine", ActAsNobody::nobody, ActAsNobody::nobody), 0);
    for (const char* name : {"root-owned", "locked/mine"}) {
        SCOPED_TRACE(name);
        w.open(name, true);
        ino_t before = inode_of(name);
        struct stat owner_before {};
        stat(name, &owner_before);
        w.change(7, 0x77);
        {
            ActAsNobody nobody;
            EXPECT_EQ(save_file_as(name, nullptr), 1);
        }
        EXPECT_EQ(inode_of(name), before);
        struct stat after {};
        stat(name, &after);
        EXPECT_EQ(after.st_uid, owner_before.st_uid) << "the owner is kept";
        EXPECT_EQ(read_file(name), with(pattern(300), {{7, 0x77}}));
    }
}

TEST(SaveDialog, EnterSavesUnderTheFilesOwnName) {
    Workspace w;
    CursesScreen screen;
    w.write("f", pattern(100));
    w.open("f");
    w.change(7, 0x77);
    screen.feed("\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(read_file("f"), with(pattern(100), {{7, 0x77}}));
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 19), "^G/^X/Escape Cancel");
    EXPECT_EQ(current_popup, nullptr);
}

TEST(SaveDialog, CancelKeysAndAnEmptyNameWriteNothing) {
    Workspace w;
    CursesScreen screen;
    w.write("f", pattern(100));
    w.open("f");
    w.change(7, 0x77);
    for (const char* keys : {"\x07", "\x18", "\x1b", "\x15\n"}) {
        screen.feed(keys);
        EXPECT_EQ(save_file(), 0);
        EXPECT_EQ(Globals.file_state, 1);
    }
    EXPECT_EQ(read_file("f"), pattern(100));
}

TEST(SaveDialog, TypedNameEndsAtItsFirstBlankButThePrefilledNameIsKept) {
    Workspace w;
    CursesScreen screen;
    w.write("my file", pattern(100));
    w.open("my file");
    w.change(1, 0x01);
    screen.feed("\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(read_file("my file"), with(pattern(100), {{1, 0x01}}));
    EXPECT_FALSE(std::filesystem::exists("my")) << "no stray file under the first word";
    screen.feed("\x15new.bin   \n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(Globals.filename, "new.bin");
    screen.feed("\x15two words\n");
    EXPECT_EQ(save_file(), 1);
    EXPECT_EQ(Globals.filename, "two");
    EXPECT_EQ(read_file("two"), with(pattern(100), {{1, 0x01}}));
}

TEST(SaveDialog, FailureShowsItsBoxAndTheInterruptIsRestored) {
    Workspace w;
    CursesScreen screen;
    w.write("f", pattern(100));
    w.open("f");
    w.change(1, 0x01);
    struct sigaction mine {
    }, before{}, after{};
    mine.sa_handler = [](int) {};
    sigemptyset(&mine.sa_mask);
    sigaction(SIGINT, &mine, &before);
    screen.feed("\x15/dev/full\nx"); // the name, then a key for the box
    EXPECT_EQ(save_file(), 0);
    sigaction(SIGINT, &before, &after);
    EXPECT_EQ(after.sa_handler, mine.sa_handler);
    // The box was the last thing refreshed: read it back from the screen.
    int top = 24 / 2 - 3, left = 80 / 2 - 35;
    EXPECT_EQ(CursesScreen::text(curscr, top + 1).substr(left + 27, 17), "bCannot Save File");
    std::string reason = std::string("Reason: ") + strerror(ENOSPC);
    EXPECT_NE(CursesScreen::text(curscr, top + 3).find(reason), std::string::npos);
}

TEST(SaveDialog, TinyTerminalsNeitherCrashNorLoseTheName) {
    for (auto [lines, cols] : {std::pair{1, 1}, std::pair{3, 12}}) {
        Workspace w;
        CursesScreen screen(lines, cols);
        w.write("f", pattern(100));
        w.open("f");
        w.change(1, 0x01);
        screen.feed("\n");
        EXPECT_EQ(save_file(), 1);
        EXPECT_EQ(read_file("f"), with(pattern(100), {{1, 0x01}}));
    }
}
