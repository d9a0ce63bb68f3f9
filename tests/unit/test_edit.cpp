// Overwriting nibbles and bytes at the cursor, inserting and deleting.
#include <gtest/gtest.h>

#include <vector>

#include "curses_screen.h"
#include "morvane.h"

namespace {

// Keeps the data layer's state and puts it back, so that no test leaves
// anything behind for the next. Construct it before the CursesScreen.
struct DataSandbox {
    EditorGlobals g = Globals;
    int32_t cx = cursor_x, cy = cursor_y, spare = buf_spare;
    uint64_t loc = cursor_loc;
    std::vector<unsigned char> buf = buffer;
    ~DataSandbox() {
        clear_mod_table();
        undo_clear();
        Globals = g;
        cursor_x = cx;
        cursor_y = cy;
        cursor_loc = loc;
        buf_spare = spare;
        buffer = buf;
    }
};

// Whole-file mode holding `bytes`, as start-up leaves it, cursor on byte 0.
void hold_whole(const std::vector<unsigned char> &bytes) {
    Globals.buffered = 1;
    Globals.file_state = 0;
    Globals.text_pane = 0;
    Globals.ebcdic = 0;
    Globals.spacing = 1;
    Globals.print_set = 1;
    Globals.buf_size = static_cast<int64_t>(bytes.size());
    Globals.filesize = bytes.size() - 1;
    buf_spare = 1024;
    buffer.assign(bytes.size() + 1024 + 1, 0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    set_file_window(nullptr, 0, Globals.filesize);
    init_mod_table();
    undo_clear();
    cursor_loc = 0;
    cursor_x = 10;
    cursor_y = 1;
}

std::vector<unsigned char> counting(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i);
    return v;
}

std::vector<unsigned char> data() {
    return std::vector<unsigned char>(buffer.begin(),
                                      buffer.begin() + static_cast<long>(Globals.filesize + 1));
}

// The cursor onto byte `o`, on screen row `row`, high nibble.
void put_cursor(uint64_t o, int row) {
    cursor_loc = o;
    cursor_y = row;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
}

int undo_records() {
    return UndoStack.size;
}

} // namespace

TEST(HexEdit, TwoDigitsReplaceBothNibblesAndMoveOn) {
    DataSandbox sandbox;
    CursesScreen screen;
    std::vector<unsigned char> bytes(32, 0);
    bytes[2] = 0x3C;
    hold_whole(bytes);
    put_cursor(2, 1);
    ASSERT_EQ(cursor_x, 16);
    edit_byte('a');
    EXPECT_EQ(buffer[2], 0xAC);
    EXPECT_EQ(cursor_x, 17);
    EXPECT_EQ(cursor_loc, 2u);
    edit_byte('5');
    EXPECT_EQ(buffer[2], 0xA5);
    EXPECT_EQ(cursor_x, 19);
    EXPECT_EQ(cursor_loc, 3u);
    EXPECT_EQ(undo_records(), 2) << "one record per nibble";
    EXPECT_EQ(Globals.file_state, 1);
    EXPECT_EQ(mod_table_get(2, nullptr), 0);
    EXPECT_EQ(screen.text(Globals.main_win, 0).substr(16, 2), "A5");
    EXPECT_EQ(screen.attrs(Globals.main_win, 0, 16) & A_BOLD, A_BOLD) << "modified shows bold";
}

TEST(HexEdit, LowNibbleOfTheLastByteOfARowGoesToTheNextRow) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(400));
    put_cursor(47, 3);
    cursor_x = 60;
    edit_byte('7');
    EXPECT_EQ(buffer[47], 0x27);
    EXPECT_EQ(cursor_loc, 48u);
    EXPECT_EQ(cursor_x, 10);
    EXPECT_EQ(cursor_y, 4);
    EXPECT_EQ(first_shown(), 0u) << "the view stays";
}

TEST(HexEdit, LowNibbleOnTheBottomRowScrollsTheViewByARow) {
    DataSandbox sandbox;
    CursesScreen screen; // 22 rows in the main window
    hold_whole(counting(400));
    put_cursor(21 * 16 + 15, 22);
    cursor_x = 60;
    edit_byte('0');
    EXPECT_EQ(cursor_loc, 352u);
    EXPECT_EQ(cursor_y, 22);
    EXPECT_EQ(cursor_x, 10);
    EXPECT_EQ(screen.text(Globals.main_win, 0).substr(0, 8), "00000010");
    EXPECT_EQ(screen.text(Globals.main_win, 21).substr(0, 8), "00000160");
}

TEST(HexEdit, CompactLayoutEndsItsRowsAtColumn44) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(64));
    Globals.spacing = 0;
    put_cursor(15, 1);
    cursor_x = 44;
    edit_byte('1');
    EXPECT_EQ(buffer[15], 0x01);
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(cursor_y, 2);
}

TEST(HexEdit, LastByteTakesBothNibblesAndTheCursorStays) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(20));
    put_cursor(19, 2);
    edit_byte('F');
    EXPECT_EQ(buffer[19], 0xF3);
    EXPECT_EQ(cursor_x, 20);
    edit_byte('e');
    EXPECT_EQ(buffer[19], 0xFE);
    EXPECT_EQ(cursor_x, 20) << "the last nibble of the file leaves the cursor there";
    EXPECT_EQ(cursor_loc, 19u);
    EXPECT_EQ(undo_records(), 2);
}

TEST(HexEdit, LastByteOnTheBottomRowDoesNotScroll) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(22 * 16));
    put_cursor(22 * 16 - 1, 22);
    cursor_x = 60;
    edit_byte('9');
    EXPECT_EQ(buffer[22 * 16 - 1], 0x59);
    EXPECT_EQ(cursor_loc, 22u * 16 - 1);
    EXPECT_EQ(cursor_x, 60);
}

TEST(HexEdit, KeysOtherThanHexDigitsChangeNothing) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(32));
    put_cursor(4, 1);
    for (int key : {int{'g'}, int{'G'}, int{'z'}, int{' '}, KEY_UP, 0x1B, 0xE9})
        edit_byte(key);
    EXPECT_EQ(data(), counting(32));
    EXPECT_EQ(undo_records(), 0);
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_EQ(cursor_x, 23);
}

TEST(TextEdit, CharacterReplacesTheByteAndMovesOn) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(std::vector<unsigned char>(64, 0));
    Globals.text_pane = 1;
    put_cursor(15, 1);
    edit_byte('A');
    EXPECT_EQ(buffer[15], 0x41);
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(cursor_y, 2);
    EXPECT_EQ(cursor_x, 10);
    edit_byte('b');
    EXPECT_EQ(buffer[16], 'b');
    EXPECT_EQ(cursor_x, 13);
    EXPECT_EQ(screen.ch(Globals.main_win, 1, 80 - 16), 'b');
}

TEST(TextEdit, EbcdicStoresTheEbcdicCodes) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(std::vector<unsigned char>(16, 0xFF));
    Globals.text_pane = 1;
    Globals.ebcdic = 1;
    edit_byte('A');
    edit_byte('.');
    edit_byte('[');
    EXPECT_EQ(buffer[0], 0xC1);
    EXPECT_EQ(buffer[1], 0x00);
    EXPECT_EQ(buffer[2], 0xAD);
    EXPECT_EQ(screen.ch(Globals.main_win, 0, 64), 'A');
}

TEST(TextEdit, EbcdicRefusesKeysOutsideAscii) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(std::vector<unsigned char>(16, 0x11));
    Globals.text_pane = 1;
    Globals.ebcdic = 1;
    for (int key : {0xE9, 0x80, KEY_F(7)})
        edit_byte(key);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(cursor_loc, 0u);
    EXPECT_EQ(undo_records(), 0);
    EXPECT_EQ(Globals.file_state, 0);
}

TEST(TextEdit, LastByteOfTheFileKeepsTheCursor) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(std::vector<unsigned char>(3, 0));
    Globals.text_pane = 1;
    put_cursor(2, 1);
    edit_byte('x');
    edit_byte('y');
    EXPECT_EQ(buffer[2], 'y');
    EXPECT_EQ(cursor_loc, 2u);
}

TEST(InsertDelete, InsertThenDeleteRestoresTheFile) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x11, 0x22, 0x33});
    put_cursor(1, 1);
    insert_byte(0, 0);
    EXPECT_EQ(data(), (std::vector<unsigned char>{0x11, 0x00, 0x22, 0x33}));
    EXPECT_EQ(cursor_loc, 1u);
    EXPECT_EQ(Globals.filesize, 3u);
    EXPECT_EQ(Globals.buf_size, 4);
    EXPECT_EQ(Globals.buf_end, 3u);
    EXPECT_EQ(buf_spare, 1023);
    EXPECT_EQ(Globals.file_state, 1);
    delete_byte(0);
    EXPECT_EQ(data(), (std::vector<unsigned char>{0x11, 0x22, 0x33}));
    EXPECT_EQ(buf_spare, 1024);
    EXPECT_EQ(Globals.buf_size, 3);
    EXPECT_EQ(undo_records(), 2);
    EXPECT_EQ(UndoStack.top->kind, 2);
    EXPECT_EQ(UndoStack.base->kind, 1);
    EXPECT_EQ(UndoStack.base->old_byte, 0x22) << "the byte that was under the cursor";
}

TEST(InsertDelete, ChangesClearTheHighlights) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(40));
    put_cursor(30, 2);
    edit_byte('1');
    ASSERT_EQ(mod_table_entries, 1u);
    put_cursor(5, 1);
    insert_byte(0, 0);
    EXPECT_EQ(mod_table_entries, 0u) << "offsets after the cursor have shifted";
    EXPECT_EQ(screen.attrs(Globals.main_win, 1, hex_col_of_byte(15)) & A_BOLD, 0u);
}

TEST(InsertDelete, DeletingTheLastByteMovesTheCursorBack) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x11, 0x22, 0x33});
    put_cursor(2, 1);
    delete_byte(0);
    EXPECT_EQ(data(), (std::vector<unsigned char>{0x11, 0x22}));
    EXPECT_EQ(cursor_loc, 1u);
    EXPECT_EQ(cursor_x, 13);
    EXPECT_EQ(buffer[2], 0) << "the freed byte is zero again";
}

TEST(InsertDelete, DeletingTheLastByteAtTheStartOfARowGoesUpARow) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole(counting(33));
    put_cursor(32, 3);
    delete_byte(0);
    EXPECT_EQ(cursor_loc, 31u);
    EXPECT_EQ(cursor_y, 2);
    EXPECT_EQ(cursor_x, 59);
}

TEST(InsertDelete, TheOnlyByteBecomesZeroInsteadOfVanishing) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({0x5A});
    delete_byte(0);
    EXPECT_EQ(Globals.filesize, 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(cursor_x, 10);
    EXPECT_EQ(Globals.file_state, 1);
    ASSERT_EQ(undo_records(), 1);
    EXPECT_EQ(UndoStack.top->kind, 3);
    delete_byte(0);
    EXPECT_EQ(undo_records(), 1) << "a zero byte deleted again records nothing";
}

TEST(InsertDelete, The1025thInsertionGrowsTheBufferAndKeepsTheData) {
    DataSandbox sandbox;
    CursesScreen screen;
    std::vector<unsigned char> original(3000);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<unsigned char>(i * 13 + 1);
    hold_whole(original);
    put_cursor(16, 2);
    for (int i = 0; i < 1024; ++i)
        insert_byte(0xAA, 0);
    EXPECT_EQ(buf_spare, 0);
    insert_byte(0xBB, 0);
    EXPECT_EQ(buf_spare, 1023);
    EXPECT_EQ(Globals.filesize, 3000u + 1025 - 1);
    EXPECT_GE(buffer.size(), Globals.filesize + 1 + 1023 + 1);
    std::vector<unsigned char> now = data();
    EXPECT_EQ(now[16], 0xBB);
    for (size_t i = 17; i < 16 + 1025; ++i)
        ASSERT_EQ(now[i], 0xAA) << i;
    for (size_t i = 0; i < 16; ++i)
        ASSERT_EQ(now[i], original[i]);
    for (size_t i = 16; i < original.size(); ++i)
        ASSERT_EQ(now[i + 1025], original[i]) << i;
    for (size_t i = Globals.filesize + 1; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0) << i;
}

TEST(InsertDelete, PagedModeRefusesInsertAndDelete) {
    DataSandbox sandbox;
    CursesScreen screen;
    hold_whole({1, 2, 3});
    Globals.buffered = 0;
    insert_byte(0, 0);
    delete_byte(0);
    EXPECT_EQ(Globals.filesize, 2u);
    EXPECT_EQ(undo_records(), 0);
}

TEST(Modify, PagedStoreGoesIntoThePageAndTheTable) {
    DataSandbox sandbox;
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    std::vector<unsigned char> zeros(100001, 0);
    fwrite(zeros.data(), 1, zeros.size(), file);
    fflush(file);
    Globals.buffered = 0;
    Globals.file_state = 0;
    Globals.buf_size = 16384;
    Globals.filesize = 100000;
    buffer.assign(16385, 0);
    set_file_window(file, 0, 16383);
    init_mod_table();
    cursor_loc = 70000;
    get_byte(cursor_loc);
    filebuff_modify(0x99);
    EXPECT_EQ(buffer[70000 - Globals.buf_front], 0x99);
    unsigned char v = 0;
    ASSERT_EQ(mod_table_get(70000, &v), 0);
    EXPECT_EQ(v, 0x99);
    get_byte(0);
    EXPECT_EQ(get_byte(70000), 0x99) << "the table carries it to the next page read";
    Globals.fp = nullptr;
    fclose(file);
}
