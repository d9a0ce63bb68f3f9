// Overwriting nibbles and bytes at the cursor, inserting and deleting.
#include <gtest/gtest.h>

#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes counting(size_t n) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i);
    return v;
}

} // namespace

TEST(HexEdit, TwoDigitsReplaceBothNibblesAndMoveOn) {
    Bytes bytes(32, 0);
    bytes[2] = 0x3C;
    WholeFile file(bytes);
    file.at(2, 1);
    ASSERT_EQ(cursor_x, 16);
    edit_byte('a');
    update_screen();
    EXPECT_EQ(buffer[2], 0xAC);
    EXPECT_EQ(cursor_x, 17);
    EXPECT_EQ(cursor_loc, 2u);
    edit_byte('5');
    update_screen();
    EXPECT_EQ(buffer[2], 0xA5);
    EXPECT_EQ(cursor_x, 19);
    EXPECT_EQ(cursor_loc, 3u);
    EXPECT_EQ(UndoStack.size, 2) << "one record per nibble";
    EXPECT_EQ(Globals.file_state, 1);
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 0).substr(16, 2), "A5");
    EXPECT_EQ(CursesScreen::attrs(Globals.main_win, 0, 16) & A_BOLD, A_BOLD);
}

TEST(HexEdit, LowNibbleOfARowsLastByteGoesToTheNextRowOrScrolls) {
    WholeFile file(counting(400));
    file.at(47, 3);
    cursor_x = 60;
    edit_byte('7');
    update_screen();
    EXPECT_EQ(buffer[47], 0x27);
    EXPECT_EQ(cursor_loc, 48u);
    EXPECT_EQ(cursor_x, 10);
    EXPECT_EQ(cursor_y, 4);
    file.at(21 * 16 + 15, 22); // the bottom row
    cursor_x = 60;
    edit_byte('0');
    update_screen();
    EXPECT_EQ(cursor_loc, 352u);
    EXPECT_EQ(cursor_y, 22);
    EXPECT_EQ(cursor_x, 10);
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 0).substr(0, 8), "00000010") << "scrolled";
    Globals.spacing = 0;
    file.at(15, 1);
    cursor_x = 44; // the compact layout's last column
    edit_byte('1');
    update_screen();
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(cursor_y, 2);
}

TEST(HexEdit, LastByteOfTheFileTakesBothNibblesAndKeepsTheCursor) {
    WholeFile file(counting(22 * 16));
    file.at(22 * 16 - 1, 22); // also the bottom row: no scrolling past the end
    edit_byte('F');
    update_screen();
    EXPECT_EQ(cursor_x, 60);
    edit_byte('e');
    update_screen();
    EXPECT_EQ(buffer[22 * 16 - 1], 0xFE);
    EXPECT_EQ(cursor_x, 60);
    EXPECT_EQ(cursor_loc, 22u * 16 - 1);
    EXPECT_EQ(UndoStack.size, 2);
}

TEST(HexEdit, KeysOtherThanHexDigitsChangeNothing) {
    WholeFile file(counting(32));
    file.at(4, 1);
    for (int key : {int{'g'}, int{'z'}, int{' '}, KEY_UP, 0x1B, 0xE9}) {
        edit_byte(key);
        update_screen();
    }
    EXPECT_EQ(file.data(), counting(32));
    EXPECT_EQ(UndoStack.size, 0);
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_EQ(cursor_x, 23);
}

TEST(TextEdit, CharacterReplacesTheByteAndMovesOn) {
    WholeFile file(Bytes(64, 0));
    Globals.text_pane = 1;
    file.at(15, 1);
    edit_byte('A');
    update_screen();
    EXPECT_EQ(buffer[15], 0x41);
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(cursor_y, 2);
    edit_byte('b');
    update_screen();
    EXPECT_EQ(cursor_x, 13);
    EXPECT_EQ(CursesScreen::ch(Globals.main_win, 1, 64), 'b');
    file.at(63, 4);
    edit_byte('x');
    update_screen();
    EXPECT_EQ(buffer[63], 'x');
    EXPECT_EQ(cursor_loc, 63u) << "the last byte keeps the cursor";
}

TEST(TextEdit, EbcdicStoresEbcdicCodesAndRefusesKeysOutsideAscii) {
    WholeFile file(Bytes(16, 0xFF));
    Globals.text_pane = 1;
    Globals.ebcdic = 1;
    for (int key : {0xE9, 0x80, KEY_F(7)}) {
        edit_byte(key);
        update_screen();
    }
    EXPECT_EQ(UndoStack.size, 0);
    EXPECT_EQ(Globals.file_state, 0);
    edit_byte('A');
    update_screen();
    edit_byte('.');
    update_screen();
    EXPECT_EQ(buffer[0], 0xC1);
    EXPECT_EQ(buffer[1], 0x00);
    EXPECT_EQ(buffer[2], 0xFF);
    EXPECT_EQ(CursesScreen::ch(Globals.main_win, 0, 64), 'A');
}

TEST(InsertDelete, InsertThenDeleteRestoresTheFileAndClearsHighlights) {
    WholeFile file({0x11, 0x22, 0x33});
    file.at(2, 1);
    edit_byte('9');
    update_screen();
    file.at(1, 1);
    insert_byte(0, 0);
    update_screen();
    EXPECT_EQ(file.data(), (Bytes{0x11, 0x00, 0x22, 0x93}));
    EXPECT_EQ(cursor_loc, 1u);
    EXPECT_EQ(Globals.buf_size, 4);
    EXPECT_EQ(Globals.buf_end, 3u);
    EXPECT_EQ(buf_spare, 1023);
    EXPECT_EQ(mod_table_entries, 0u) << "offsets after the cursor have shifted";
    EXPECT_EQ(UndoStack.top->old_byte, 0x22) << "the byte that was under the cursor";
    delete_byte(0);
    update_screen();
    EXPECT_EQ(file.data(), (Bytes{0x11, 0x22, 0x93}));
    EXPECT_EQ(buf_spare, 1024);
    EXPECT_EQ(Globals.buf_size, 3);
    EXPECT_EQ(UndoStack.top->kind, 2);
}

TEST(InsertDelete, DeletingTheLastByteStepsBack) {
    WholeFile file(counting(33));
    file.at(32, 3);
    delete_byte(0);
    update_screen();
    EXPECT_EQ(cursor_loc, 31u);
    EXPECT_EQ(cursor_y, 2);
    EXPECT_EQ(cursor_x, 59);
    delete_byte(0);
    update_screen();
    EXPECT_EQ(file.data(), counting(31));
    EXPECT_EQ(cursor_x, 56);
    EXPECT_EQ(buffer[31], 0) << "freed bytes are zero again";
}

TEST(InsertDelete, TheOnlyByteBecomesZeroInsteadOfVanishing) {
    WholeFile file({0x5A});
    delete_byte(0);
    update_screen();
    EXPECT_EQ(Globals.filesize, 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(Globals.file_state, 1);
    EXPECT_EQ(UndoStack.top->kind, 3);
}

TEST(InsertDelete, The1025thInsertionGrowsTheBufferAndKeepsTheData) {
    Bytes original(3000);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<unsigned char>(i * 13 + 1);
    WholeFile file(original);
    file.at(16, 2);
    for (int i = 0; i < 1024; ++i) {
        insert_byte(0xAA, 0);
        update_screen();
    }
    EXPECT_EQ(buf_spare, 0);
    insert_byte(0xBB, 0);
    update_screen();
    EXPECT_EQ(buf_spare, 1023);
    EXPECT_GE(buffer.size(), Globals.filesize + 1 + 1023 + 1);
    Bytes expected = original;
    expected.insert(expected.begin() + 16, 1024, 0xAA);
    expected.insert(expected.begin() + 16, 0xBB);
    EXPECT_EQ(file.data(), expected);
    for (size_t i = Globals.filesize + 1; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0) << i;
}

TEST(InsertDelete, PagedModeRefusesInsertAndDelete) {
    WholeFile file({1, 2, 3});
    Globals.buffered = 0;
    insert_byte(0, 0);
    update_screen();
    delete_byte(0);
    update_screen();
    EXPECT_EQ(Globals.filesize, 2u);
    EXPECT_EQ(UndoStack.size, 0);
}
