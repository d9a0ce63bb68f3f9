// The undo stack: newest first, off-screen changes shown first, and undo
// after a save.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes read_file(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    for (int c; f && (c = fgetc(f)) != EOF;)
        out.push_back(static_cast<unsigned char>(c));
    if (f) fclose(f);
    return out;
}

bool highlighted(uint64_t o) {
    return mod_table_get(o, nullptr) == 0;
}

} // namespace

TEST(Undo, OverwritesAreRevertedNewestFirstWithTheirHighlight) {
    EditedFile e(Bytes(64, 0), false);
    Globals.text_pane = 1;
    e.at(10, 1);
    edit_byte('A');
    update_screen();
    e.at(10, 1);
    edit_byte('B');
    update_screen();
    undoLastChange();
    update_screen();
    EXPECT_EQ(get_byte(10), 'A');
    EXPECT_TRUE(highlighted(10)) << "still changed with respect to the file";
    int col = hex_col_of_byte(10);
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 0).substr(col, 2), "41");
    EXPECT_EQ(CursesScreen::attrs(Globals.main_win, 0, col) & A_BOLD, A_BOLD);
    EXPECT_EQ(CursesScreen::ch(Globals.main_win, 0, 64 + 10), 'A');
    undoLastChange();
    update_screen();
    EXPECT_EQ(get_byte(10), 0);
    EXPECT_FALSE(highlighted(10));
    EXPECT_EQ(CursesScreen::attrs(Globals.main_win, 0, col) & A_BOLD, 0u);
    undoLastChange(); // an empty stack only rings the bell
    EXPECT_EQ(UndoStack.size, 0);
    EXPECT_EQ(Globals.file_state, 1) << "undo does not make the file unchanged";
    get_byte(30000); // the page read again holds no stale change
    EXPECT_EQ(get_byte(10), 0);
}

TEST(Undo, TwoNibblesAreTwoRecords) {
    EditedFile e({0x12, 0x34, 0x56}, true);
    e.at(1, 1);
    edit_byte('a');
    update_screen();
    edit_byte('b');
    update_screen();
    undoLastChange();
    update_screen();
    EXPECT_EQ(buffer[1], 0xA4);
    EXPECT_EQ(cursor_x, 13) << "the cursor goes onto the changed byte";
    undoLastChange();
    update_screen();
    EXPECT_EQ(buffer[1], 0x34);
}

TEST(Undo, OffScreenChangeIsShownBeforeItIsReverted) {
    EditedFile e(Bytes(100000, 0), false);
    e.at(0x25, 3);
    edit_byte('7');
    update_screen();
    e.at(50000, 1);
    undoLastChange();
    update_screen();
    EXPECT_EQ(cursor_loc, 0x25u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(get_byte(0x25), 0x70) << "the first press only shows the change";
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 0).substr(0, 8), "00000020");
    undoLastChange();
    update_screen();
    EXPECT_EQ(get_byte(0x25), 0);
    EXPECT_EQ(UndoStack.size, 0);
    e.at(0x21, 3); // on another visible row only the cursor moves
    edit_byte('1');
    update_screen();
    e.at(0xA0, 11);
    undoLastChange();
    update_screen();
    EXPECT_EQ(cursor_y, 3);
    EXPECT_EQ(first_shown(), 0u);
    EXPECT_EQ(get_byte(0x21), 0);
}

TEST(Undo, InsertionsAndDeletionsAreRevertedInOrder) {
    Bytes original{1, 2, 3, 4, 5, 6, 7, 8};
    EditedFile e(original, true);
    e.at(2, 1);
    edit_byte('f');
    update_screen();
    e.at(4, 1);
    delete_byte(0);
    update_screen();
    insert_byte(0xEE, 0);
    update_screen();
    e.at(7, 1);
    delete_byte(0); // the last byte
    undoLastChange();
    update_screen();
    EXPECT_EQ(e.data(), (Bytes{1, 2, 0xF3, 4, 0xEE, 6, 7, 8})) << "back at the end";
    EXPECT_EQ(cursor_loc, 7u);
    undoLastChange();
    update_screen();
    EXPECT_EQ(cursor_loc, 4u);
    while (UndoStack.size > 0) {
        undoLastChange();
        update_screen();
    }
    EXPECT_EQ(e.data(), original);
    EXPECT_EQ(Globals.file_state, 1);
}

TEST(Undo, DeletedLastByteOffScreenIsShownWithTheCursorOnTheFile) {
    Bytes bytes(1000, 0);
    bytes[999] = 0x99;
    EditedFile e(bytes, true);
    e.at(999, 5);
    delete_byte(0);
    update_screen();
    e.at(0, 1);
    undoLastChange();
    update_screen();
    EXPECT_LE(cursor_loc, Globals.filesize) << "never past the last byte";
    delete_byte(0); // a key pressed in between must not end the program
    undoLastChange();
    update_screen();
    undoLastChange();
    update_screen();
    EXPECT_EQ(e.data(), bytes);
}

TEST(UndoAfterSave, RevertedSavedByteIsAChangeToShowAndSave) {
    EditedFile e({0x10, 0x20, 0x30, 0x40}, false);
    e.at(1, 1);
    edit_byte('9');
    update_screen();
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    ASSERT_EQ(read_file(e.path), (Bytes{0x10, 0x90, 0x30, 0x40}));
    undoLastChange();
    update_screen();
    EXPECT_EQ(Globals.file_state, 1) << "the screen differs from the file";
    EXPECT_TRUE(highlighted(1));
    get_byte(30000);
    EXPECT_EQ(get_byte(1), 0x20) << "a page read again still shows the reverted byte";
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    EXPECT_EQ(read_file(e.path), (Bytes{0x10, 0x20, 0x30, 0x40}));
}

TEST(UndoAfterSave, LaterChangeOnARevertedByteStillSavesTheRevertedValue) {
    EditedFile e({0x10, 0x20, 0x30}, false);
    Globals.text_pane = 1;
    e.at(2, 1);
    edit_byte('a');
    update_screen();
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    undoLastChange(); // 0x30 again; the file holds 'a'
    e.at(2, 1);
    edit_byte('b');
    update_screen();
    undoLastChange();
    update_screen();
    EXPECT_TRUE(highlighted(2)) << "the file still holds 'a' there";
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    EXPECT_EQ(read_file(e.path), (Bytes{0x10, 0x20, 0x30}));
    e.at(0, 1);
    edit_byte('5');
    update_screen();
    undoLastChange(); // an unsaved change over what the file holds: as usual
    EXPECT_FALSE(highlighted(0));
}

TEST(UndoAfterSave, ChangesKeptThroughASaveUnderANewName) {
    EditedFile e({0x10, 0x20, 0x30}, false);
    std::string copy = e.dir + "/new";
    Globals.text_pane = 1;
    e.at(1, 1);
    edit_byte('x');
    update_screen();
    ASSERT_EQ(save_file_as(copy, nullptr), 1);
    undoLastChange(); // the copy holds 'x', the old file 0x20
    e.at(1, 1);
    edit_byte('y');
    update_screen();
    undoLastChange();
    update_screen();
    ASSERT_EQ(save_file_as(copy, nullptr), 1);
    EXPECT_EQ(read_file(copy), (Bytes{0x10, 0x20, 0x30}));
    EXPECT_EQ(read_file(e.path), (Bytes{0x10, 0x20, 0x30}));
}

TEST(UndoAfterSave, WholeFileModeMarksTheFileChanged) {
    EditedFile e({1, 2, 3}, true);
    e.at(2, 1);
    delete_byte(0);
    update_screen();
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    undoLastChange();
    update_screen();
    EXPECT_EQ(Globals.file_state, 1);
    ASSERT_EQ(save_file_as(e.path, nullptr), 1);
    EXPECT_EQ(read_file(e.path), (Bytes{1, 2, 3}));
}

TEST(Undo, TinyTerminalsNeitherCrashNorStall) {
    for (auto [lines, cols] : {std::pair{1, 1}, std::pair{3, 12}}) {
        EditedFile e({0x11, 0x22, 0x33}, true);
        resize_term(lines, cols);
        e.at(2, 1);
        edit_byte('4');
        update_screen();
        e.at(1, 1);
        insert_byte(0, 0);
        update_screen();
        delete_byte(0);
        update_screen();
        delete_byte(0);
        update_screen();
        for (int i = 0; i < 8 && UndoStack.size > 0; ++i) {
            undoLastChange();
            update_screen();
        }
        EXPECT_EQ(UndoStack.size, 0) << lines << "x" << cols;
        EXPECT_EQ(e.data(), (Bytes{0x11, 0x22, 0x33}));
    }
}
