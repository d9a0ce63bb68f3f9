// Cursor movement and paging of hex editing, on a 24 x 80 screen (22 rows,
// pages of 21 rows = 336 bytes) unless a test says otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"

namespace {

void load_file(size_t size, int spacing = 1) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    load_whole_file(bytes);
    Globals.spacing = spacing;
    Globals.text_pane = 0;
    Globals.mode = 1;
}

// Puts the cursor on a byte's high (or low) nibble at a screen row, with the
// view that this implies.
void put_cursor(uint64_t loc, int y, bool low = false) {
    cursor_loc = loc;
    cursor_y = y;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(loc % 16)) + (low ? 1 : 0);
}

struct Cursor {
    uint64_t loc;
    int y;
    int x;
    bool operator==(const Cursor&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Cursor& c) {
    return os << "{loc " << c.loc << ", y " << c.y << ", x " << c.x << "}";
}
Cursor now() {
    return {cursor_loc, cursor_y, cursor_x};
}

std::string label(int row) {
    return CursesScreen::text(Globals.main_win, row).substr(0, 8);
}

} // namespace

TEST(MoveCursor, RightAtTheEndStopsOnTheLowNibbleOfTheLastByte) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(20);
    put_cursor(19, 2);
    move_cursor(KEY_RIGHT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{19, 2, 20}));
    move_cursor(KEY_RIGHT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{19, 2, 20}));
}

TEST(MoveCursor, DownOnTheLastRowAndUpOrLeftAtOffsetZeroDoNothing) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(20);
    put_cursor(17, 2);
    move_cursor(KEY_DOWN);
    update_screen();
    EXPECT_EQ(now(), (Cursor{17, 2, 13}));
    put_cursor(3, 1);
    move_cursor(KEY_UP);
    update_screen();
    EXPECT_EQ(now(), (Cursor{3, 1, 19}));
    put_cursor(0, 1);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{0, 1, 10}));
}

TEST(MoveCursor, DownOntoAShorterLastRowLandsOnTheLastByte) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(40);
    put_cursor(28, 2, true);
    move_cursor(KEY_DOWN);
    update_screen();
    EXPECT_EQ(now(), (Cursor{39, 3, hex_col_of_byte(7)}));
}

TEST(MoveCursor, DownOnTheBottomRowScrollsOneRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000);
    put_cursor(16 * 21 + 3, 22);
    redraw_all();
    update_screen();
    ASSERT_EQ(label(0), "00000000");
    move_cursor(KEY_DOWN);
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 22 + 3, 22, 19}));
    EXPECT_EQ(label(0), "00000010");
    EXPECT_EQ(label(21), "00000160");
    EXPECT_EQ(getcury(stdscr), 22);
    EXPECT_EQ(getcurx(stdscr), 19);
    EXPECT_NE(CursesScreen::text(Globals.status_win, 0).find("Offset: 0x00000163"),
              std::string::npos);
}

TEST(MoveCursor, DownOnTheBottomRowOntoAShorterLastRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(16 * 30 + 4); // last row 0x1E0 holds four bytes
    put_cursor(16 * 29 + 9, 22);
    move_cursor(KEY_DOWN);
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 30 + 3, 22, hex_col_of_byte(3)}));
    EXPECT_EQ(label(21), "000001E0");
    EXPECT_EQ(label(0), "00000090");
}

TEST(MoveCursor, UpOnTheTopRowScrollsBack) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000);
    put_cursor(16 * 5 + 2, 1, true);
    move_cursor(KEY_UP);
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 4 + 2, 1, 17}));
    EXPECT_EQ(label(0), "00000040");
    EXPECT_EQ(label(1), "00000050");
}

TEST(MoveCursor, LeftFromByteFourGoesToTheLowNibbleOfByteThree) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(100, 1);
    put_cursor(4, 1);
    ASSERT_EQ(cursor_x, 23);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{3, 1, 20}));
    load_file(100, 0);
    put_cursor(4, 1);
    ASSERT_EQ(cursor_x, 19);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{3, 1, 17}));
}

TEST(MoveCursor, LeftInTheHexPaneGoesByNibbleAndWrapsToThePreviousRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(100);
    put_cursor(16, 2, true);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{16, 2, 10}));
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{15, 1, 60}));
}

TEST(MoveCursor, LeftOnTheTopRowScrollsToThePreviousRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(100);
    put_cursor(32, 1);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{31, 1, 60}));
    EXPECT_EQ(label(0), "00000010");
}

TEST(MoveCursor, LeftInTheTextPaneMovesOneByteOntoItsLowNibble) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(100);
    Globals.text_pane = 1;
    put_cursor(5, 1, true);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{4, 1, 24}));
    put_cursor(0, 1, true);
    move_cursor(KEY_LEFT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{0, 1, 10}));
}

TEST(MoveCursor, TextPaneRightFromByteFifteenGoesToTheNextRowInBothLayouts) {
    KeptEditorState keep;
    CursesScreen screen;
    for (int spacing : {1, 0}) {
        for (bool low : {false, true}) {
            load_file(100, spacing);
            Globals.text_pane = 1;
            put_cursor(15, 1, low);
            move_cursor(KEY_RIGHT);
            update_screen();
            EXPECT_EQ(now(), (Cursor{16, 2, 10})) << "spacing " << spacing << " low " << low;
            EXPECT_EQ(getcurx(stdscr), 64);
            EXPECT_EQ(getcury(stdscr), 2);
        }
    }
}

TEST(MoveCursor, TextPaneRightFromTheHighNibbleKeepsTheLayoutsNibble) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(100, 1);
    Globals.text_pane = 1;
    put_cursor(2, 1);
    move_cursor(KEY_RIGHT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{3, 1, 19}));
    load_file(100, 0);
    Globals.text_pane = 1;
    put_cursor(2, 1);
    move_cursor(KEY_RIGHT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{3, 1, 17}));
}

TEST(MoveCursor, RightOnTheBottomRowScrollsToTheNextRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000);
    put_cursor(16 * 21 + 15, 22, true);
    move_cursor(KEY_RIGHT);
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 22, 22, 10}));
    EXPECT_EQ(label(0), "00000010");
}

TEST(PageDown, NearTheEndPutsTheLastRowOnTheBottomAndThenStays) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000); // last row 992 (0x3E0), last byte 999 at column 7
    put_cursor(16 * 50 + 9, 10);
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{999, 22, hex_col_of_byte(7)}));
    EXPECT_EQ(label(21), "000003E0");
    EXPECT_EQ(label(0), "00000290");
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{999, 22, hex_col_of_byte(7)}));
    EXPECT_EQ(label(21), "000003E0");
}

TEST(PageDown, NearTheEndKeepsTheColumnWhenTheLastRowReachesIt) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000);
    put_cursor(16 * 50 + 3, 10, true);
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{995, 22, 20}));
}

TEST(PageDown, MidFileMovesOnePageAndKeepsTheScreenPosition) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(4000);
    put_cursor(16 * 40 + 5, 5);
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 40 + 5 + 336, 5, hex_col_of_byte(5)}));
    EXPECT_EQ(label(0), "00000390"); // the view moved by the page, 0x150 bytes
    EXPECT_EQ(first_shown(), 0x390u);
}

TEST(PageDown, SmallFileGoesToItsLastRowFromTheTop) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(40);
    put_cursor(4, 1);
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{36, 3, 23}));
    put_cursor(12, 1, true);
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{39, 3, hex_col_of_byte(7)}));
    EXPECT_EQ(label(0), "00000000");
}

TEST(PageUp, WithinTheFirstScreenGoesToTheFirstRowSameColumn) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(1000);
    put_cursor(16 * 10 + 6, 11, true);
    page_up();
    update_screen();
    EXPECT_EQ(now(), (Cursor{6, 1, 30}));
    EXPECT_EQ(label(0), "00000000");
}

TEST(PageUp, MidFileMovesOnePageAndKeepsTheScreenPosition) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(4000);
    put_cursor(16 * 100 + 1, 5);
    page_up();
    update_screen();
    EXPECT_EQ(now(), (Cursor{16 * 100 + 1 - 336, 5, 13}));
    EXPECT_EQ(label(0), "000004B0");
}

TEST(PageUp, NearTheTopStartsTheViewAtZeroAndMovesTheCursorRow) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(4000);
    for (int y : {2, 20}) {
        put_cursor(16 * 30 + 2, y);
        page_up();
        update_screen();
        EXPECT_EQ(now(), (Cursor{146, 10, 16})) << "from row " << y;
        EXPECT_EQ(label(0), "00000000");
        EXPECT_EQ(label(9), "00000090"); // the cursor's row is screen row 10
    }
}

TEST(HomeEnd, MoveWithinTheRowAndEndStopsAtTheLastByte) {
    KeptEditorState keep;
    CursesScreen screen;
    load_file(40);
    put_cursor(35, 3, true);
    go_end();
    update_screen();
    EXPECT_EQ(now(), (Cursor{39, 3, 33}));
    go_home();
    update_screen();
    EXPECT_EQ(now(), (Cursor{32, 3, 10}));
    put_cursor(18, 2);
    go_end();
    update_screen();
    EXPECT_EQ(now(), (Cursor{31, 2, 60}));
    EXPECT_NE(CursesScreen::text(Globals.status_win, 0).find("Offset: 0x0000001F"),
              std::string::npos);
}

TEST(TinyTerminal, OneRowScreenStillMovesAndPagesByOneRow) {
    KeptEditorState keep;
    CursesScreen screen(3, 80); // one row of main_win
    load_file(100);
    put_cursor(5, 1);
    move_cursor(KEY_DOWN);
    update_screen();
    EXPECT_EQ(now(), (Cursor{21, 1, hex_col_of_byte(5)}));
    EXPECT_EQ(label(0), "00000010");
    page_down();
    update_screen();
    EXPECT_EQ(now(), (Cursor{37, 1, hex_col_of_byte(5)}));
    page_up();
    update_screen();
    page_up();
    update_screen();
    EXPECT_EQ(now(), (Cursor{5, 1, hex_col_of_byte(5)}));
    move_cursor(KEY_UP);
    update_screen();
    EXPECT_EQ(now(), (Cursor{5, 1, hex_col_of_byte(5)}));
}

TEST(TinyTerminal, EveryKeyKeepsTheCursorInTheFileAndOnRowOne) {
    KeptEditorState keep;
    for (int lines : {1, 2, 3}) {
        CursesScreen screen(lines, 4);
        load_file(50);
        put_cursor(0, 1);
        for (int round = 0; round < 6; ++round) {
            move_cursor(KEY_RIGHT);
            update_screen();
            move_cursor(KEY_DOWN);
            update_screen();
            page_down();
            update_screen();
            go_end();
            update_screen();
            move_cursor(KEY_RIGHT);
            update_screen();
            ASSERT_LE(cursor_loc, Globals.filesize) << lines;
            ASSERT_EQ(cursor_y, 1) << lines;
        }
        EXPECT_EQ(cursor_loc, 49u) << lines;
        for (int round = 0; round < 6; ++round) {
            page_up();
            update_screen();
            move_cursor(KEY_UP);
            update_screen();
            move_cursor(KEY_LEFT);
            update_screen();
            go_home();
            update_screen();
            ASSERT_EQ(cursor_y, 1) << lines;
        }
        EXPECT_EQ(cursor_loc, 0u) << lines;
    }
}
