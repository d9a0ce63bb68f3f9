// The undo stack: reverting overwrites, insertions and deletions newest
// first, showing off-screen changes first, and undoing after a save.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "morvane.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/morvane-undo-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name, const std::vector<unsigned char> &bytes) const {
        std::string p = path + "/" + name;
        FILE *f = fopen(p.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return p;
    }
};

std::vector<unsigned char> read_file(const std::string &path) {
    std::vector<unsigned char> out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    for (int c; (c = fgetc(f)) != EOF;)
        out.push_back(static_cast<unsigned char>(c));
    fclose(f);
    return out;
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

void reset_view() {
    Globals.mode = 1;
    Globals.file_state = 0;
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
    Globals.disk = 0;
    Globals.buf_size = 16384;
    Globals.filename = path;
    Globals.filesize = static_cast<uint64_t>(st.st_size) - 1;
    buf_spare = 0;
    buffer.assign(16385, 0);
    size_t n = fread(buffer.data(), 1, 16384, f);
    set_file_window(f, 0, n - 1);
    reset_view();
}

void hold_whole(const std::vector<unsigned char> &bytes) {
    Globals.buffered = 1;
    Globals.buf_size = static_cast<int64_t>(bytes.size());
    Globals.filesize = bytes.size() - 1;
    buf_spare = 1024;
    buffer.assign(bytes.size() + 1024 + 1, 0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    set_file_window(nullptr, 0, Globals.filesize);
    reset_view();
}

std::vector<unsigned char> data() {
    return std::vector<unsigned char>(buffer.begin(),
                                      buffer.begin() + static_cast<long>(Globals.filesize + 1));
}

void put_cursor(uint64_t o, int row) {
    cursor_loc = o;
    cursor_y = row;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
}

bool highlighted(uint64_t o) {
    return mod_table_get(o, nullptr) == 0;
}

std::vector<unsigned char> zeros(size_t n) {
    return std::vector<unsigned char>(n, 0);
}

} // namespace

TEST(Undo, OverwritesAreRevertedNewestFirstWithTheirHighlight) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    open_paged(dir.file("f", zeros(64)));
    Globals.text_pane = 1;
    put_cursor(10, 1);
    edit_byte('A');
    put_cursor(10, 1);
    edit_byte('B');
    ASSERT_EQ(get_byte(10), 'B');
    undoLastChange();
    EXPECT_EQ(get_byte(10), 'A');
    EXPECT_TRUE(highlighted(10)) << "still changed with respect to the file";
    EXPECT_EQ(screen.text(Globals.main_win, 0).substr(hex_col_of_byte(10), 2), "41");
    EXPECT_EQ(screen.attrs(Globals.main_win, 0, hex_col_of_byte(10)) & A_BOLD, A_BOLD);
    EXPECT_EQ(screen.ch(Globals.main_win, 0, 64 + 10), 'A');
    undoLastChange();
    EXPECT_EQ(get_byte(10), 0);
    EXPECT_FALSE(highlighted(10));
    EXPECT_EQ(screen.attrs(Globals.main_win, 0, hex_col_of_byte(10)) & A_BOLD, 0u);
    EXPECT_EQ(UndoStack.size, 0);
    undoLastChange(); // only rings the bell
    EXPECT_EQ(get_byte(10), 0);
    EXPECT_EQ(Globals.file_state, 1) << "undo does not make the file unchanged";
    get_byte(30000); // move the window away: the page read again has no stale change
    EXPECT_EQ(get_byte(10), 0);
}

TEST(Undo, TwoNibblesAreTwoRecords) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x12, 0x34, 0x56});
    put_cursor(1, 1);
    edit_byte('a');
    edit_byte('b');
    EXPECT_EQ(buffer[1], 0xAB);
    undoLastChange();
    EXPECT_EQ(buffer[1], 0xA4);
    EXPECT_EQ(cursor_loc, 1u);
    EXPECT_EQ(cursor_x, 13) << "the cursor goes onto the changed byte";
    undoLastChange();
    EXPECT_EQ(buffer[1], 0x34);
    EXPECT_FALSE(highlighted(1));
}

TEST(Undo, OffScreenChangeIsShownBeforeItIsReverted) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    open_paged(dir.file("f", zeros(100000)));
    put_cursor(0x25, 3);
    edit_byte('7');
    put_cursor(50000, 1); // paged far away
    undoLastChange();
    EXPECT_EQ(cursor_loc, 0x25u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(cursor_x, hex_col_of_byte(5));
    EXPECT_EQ(get_byte(0x25), 0x70) << "the first press only shows the change";
    EXPECT_EQ(UndoStack.size, 1);
    EXPECT_EQ(screen.text(Globals.main_win, 0).substr(0, 8), "00000020");
    undoLastChange();
    EXPECT_EQ(get_byte(0x25), 0);
    EXPECT_EQ(UndoStack.size, 0);
    EXPECT_EQ(cursor_y, 1);
}

TEST(Undo, ChangeOnAnotherVisibleRowMovesOnlyTheCursor) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(zeros(300));
    put_cursor(0x21, 3);
    edit_byte('1');
    put_cursor(0xA0, 11);
    undoLastChange();
    EXPECT_EQ(cursor_loc, 0x21u);
    EXPECT_EQ(cursor_y, 3);
    EXPECT_EQ(first_shown(), 0u);
    EXPECT_EQ(buffer[0x21], 0);
}

TEST(Undo, InsertionIsTakenOutAgain) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x11, 0x22, 0x33});
    put_cursor(1, 1);
    insert_byte(0, 0);
    put_cursor(0, 1);
    undoLastChange();
    EXPECT_EQ(data(), (std::vector<unsigned char>{0x11, 0x22, 0x33}));
    EXPECT_EQ(cursor_loc, 1u);
    EXPECT_EQ(UndoStack.size, 0) << "undo itself records nothing";
    EXPECT_EQ(Globals.file_state, 1);
}

TEST(Undo, DeletedLastByteComesBackAtTheEnd) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x11, 0x22, 0x33});
    put_cursor(2, 1);
    delete_byte(0);
    undoLastChange();
    EXPECT_EQ(data(), (std::vector<unsigned char>{0x11, 0x22, 0x33}));
    EXPECT_EQ(cursor_loc, 2u);
    EXPECT_EQ(UndoStack.size, 0);
}

TEST(Undo, DeletedLastByteOffScreenIsShownAtTheEndFirst) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(zeros(1000));
    buffer[999] = 0x99;
    put_cursor(999, 5);
    delete_byte(0);
    put_cursor(0, 1);
    undoLastChange();
    EXPECT_LE(cursor_loc, Globals.filesize) << "never past the last byte";
    EXPECT_EQ(UndoStack.size, 1);
    delete_byte(0); // a key pressed in between must not end the program
    undoLastChange();
    undoLastChange();
    EXPECT_EQ(Globals.filesize, 999u);
    EXPECT_EQ(buffer[999], 0x99);
    EXPECT_EQ(UndoStack.size, 0);
}

TEST(Undo, MixedChangesUndoneInOrderGiveTheOriginal) {
    DataSandbox sandbox;
    CursesScreen screen;
    std::vector<unsigned char> original{1, 2, 3, 4, 5, 6, 7, 8};
    hold_whole(original);
    put_cursor(2, 1);
    edit_byte('f');
    put_cursor(4, 1);
    delete_byte(0);
    insert_byte(0xEE, 0);
    put_cursor(0, 1);
    Globals.text_pane = 1;
    edit_byte('z');
    while (UndoStack.size > 0)
        undoLastChange();
    EXPECT_EQ(data(), original);
}

TEST(UndoAfterSave, RevertedSavedByteIsAChangeToSave) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", {0x10, 0x20, 0x30, 0x40});
    open_paged(path);
    put_cursor(1, 1);
    edit_byte('9');
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    ASSERT_EQ(Globals.file_state, 0);
    ASSERT_EQ(read_file(path), (std::vector<unsigned char>{0x10, 0x90, 0x30, 0x40}));
    undoLastChange();
    EXPECT_EQ(get_byte(1), 0x20);
    EXPECT_EQ(Globals.file_state, 1) << "the screen now differs from the file";
    EXPECT_TRUE(highlighted(1));
    get_byte(30000);
    EXPECT_EQ(get_byte(1), 0x20) << "a page read again still shows the reverted byte";
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    EXPECT_EQ(read_file(path), (std::vector<unsigned char>{0x10, 0x20, 0x30, 0x40}));
}

TEST(UndoAfterSave, LaterChangeOnARevertedByteStillSavesTheRevertedValue) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", {0x10, 0x20, 0x30});
    open_paged(path);
    put_cursor(2, 1);
    Globals.text_pane = 1;
    edit_byte('a');
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    undoLastChange(); // back to 0x30; the file holds 'a'
    put_cursor(2, 1);
    edit_byte('b');
    undoLastChange(); // back to 0x30 again
    EXPECT_EQ(get_byte(2), 0x30);
    EXPECT_TRUE(highlighted(2)) << "the file still holds 'a' there";
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    EXPECT_EQ(read_file(path), (std::vector<unsigned char>{0x10, 0x20, 0x30}));
}

TEST(UndoAfterSave, UnsavedChangeAfterASaveIsUndoneAsUsual) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", {0x10, 0x20, 0x30});
    open_paged(path);
    put_cursor(0, 1);
    edit_byte('5');
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    put_cursor(2, 1);
    edit_byte('7');
    undoLastChange();
    EXPECT_EQ(get_byte(2), 0x30);
    EXPECT_FALSE(highlighted(2)) << "the file holds this byte";
    EXPECT_EQ(Globals.file_state, 1);
}

TEST(UndoAfterSave, ChangesKeptThroughASaveUnderANewName) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string old_path = dir.file("old", {0x10, 0x20, 0x30});
    std::string new_path = dir.path + "/new";
    open_paged(old_path);
    Globals.text_pane = 1;
    put_cursor(1, 1);
    edit_byte('x');
    ASSERT_EQ(save_file_as(new_path, nullptr), 1);
    undoLastChange(); // the new file holds 'x'; the old one 0x20
    put_cursor(1, 1);
    edit_byte('y');
    undoLastChange();
    EXPECT_EQ(get_byte(1), 0x20);
    ASSERT_EQ(save_file_as(new_path, nullptr), 1);
    EXPECT_EQ(read_file(new_path), (std::vector<unsigned char>{0x10, 0x20, 0x30}));
    EXPECT_EQ(read_file(old_path), (std::vector<unsigned char>{0x10, 0x20, 0x30}));
}

TEST(UndoAfterSave, WholeFileModeMarksTheFileChanged) {
    DataSandbox sandbox;
    CursesScreen screen;
    TempDir dir;
    std::string path = dir.file("f", {1, 2, 3});
    hold_whole({1, 2, 3});
    Globals.filename = path;
    put_cursor(2, 1);
    delete_byte(0);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    ASSERT_EQ(read_file(path), (std::vector<unsigned char>{1, 2}));
    undoLastChange();
    EXPECT_EQ(Globals.file_state, 1);
    ASSERT_EQ(save_file_as(path, nullptr), 1);
    EXPECT_EQ(read_file(path), (std::vector<unsigned char>{1, 2, 3}));
}
