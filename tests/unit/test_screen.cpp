// The character tables, the column maps, the character tests and the hex view.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"

namespace {

// Holds `bytes` as the whole file, so get_byte answers from memory.
void load_bytes(const std::vector<unsigned char>& bytes) {
    load_whole_file(bytes);
}

std::vector<unsigned char> letters(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>('A' + i % 26);
    return v;
}

std::string row_text(int row) {
    return CursesScreen::text(Globals.main_win, row);
}

} // namespace

// ------------------------------------------------------------ character tables

TEST(EbcdicDisplay, ShowsEveryListedCodeAndDotsEverywhereElse) {
    struct Run {
        int code;
        const char* shown;
    };
    const Run runs[] = {
        {0x81, "abcdefghi"}, {0x91, "jklmnopqr"}, {0xA2, "stuvwxyz"},   {0xC1, "ABCDEFGHI"},
        {0xD1, "JKLMNOPQR"}, {0xE2, "STUVWXYZ"},  {0xF0, "0123456789"}, {0x40, " "},
        {0x4C, "<(+|"},      {0x50, "&"},         {0x5A, "!$*);^"},     {0x60, "-/"},
        {0x6A, "|,%_>?"},    {0x79, "`:#@'=\""},  {0x8B, "{"},          {0x9B, "}"},
        {0xA1, "~"},         {0xAD, "["},         {0xBD, "]"},          {0xC0, "{"},
        {0xD0, "}"},         {0xE0, "\\"},
    };
    std::vector<int> expected(256, '.');
    for (const Run& r : runs)
        for (size_t i = 0; i < strlen(r.shown); ++i)
            expected[r.code + i] = r.shown[i];
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(ebcdic_display[code], expected[code]) << "EBCDIC code " << code;
}

TEST(AsciiToEbcdic, SpotChecksOfEveryRow) {
    for (int code = 0; code < 0x20; ++code)
        EXPECT_EQ(ascii_to_ebcdic[code], 0x2E) << "code " << code;
    const struct {
        int code, byte;
    } spots[] = {{' ', 0x40}, {'.', 0x00}, {'/', 0x61}, {'0', 0xF0}, {'?', 0x6F},
                 {'@', 0x7C}, {'O', 0xD6}, {'P', 0xD7}, {'[', 0xAD}, {']', 0xBD},
                 {'^', 0x5F}, {'`', 0x79}, {'o', 0x96}, {'p', 0x97}, {'{', 0x8B},
                 {'|', 0x4F}, {'}', 0x9B}, {'~', 0xA1}, {0x7F, 0x2E}};
    for (const auto& s : spots)
        EXPECT_EQ(ascii_to_ebcdic[s.code], s.byte) << "character " << s.code;
}

TEST(AsciiToEbcdic, GivesTheLowestCodeShownAsTheCharacter) {
    for (int c = 0x20; c < 0x7F; ++c) {
        int lowest = -1;
        for (int k = 0; k < 256 && lowest < 0; ++k)
            if (ebcdic_display[k] == c) lowest = k;
        ASSERT_GE(lowest, 0) << "no code shows " << c;
        EXPECT_EQ(ascii_to_ebcdic[c], lowest) << "character " << static_cast<char>(c);
    }
}

// ---------------------------------------------------------------- column maps

// The column of each byte is where the hex view draws its two digits, in
// both layouts, and the rows' digits stand in groups of four bytes.
TEST(ColumnMaps, HighNibbleColumnsAreWhereTheDigitsAreDrawn) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    std::vector<unsigned char> bytes(16);
    for (unsigned i = 0; i < 16; ++i)
        bytes[i] = static_cast<unsigned char>(0xA0 + i); // digits "A0".."AF"
    load_bytes(bytes);
    for (int spacing : {1, 0}) {
        SCOPED_TRACE(spacing);
        Globals.spacing = spacing;
        draw_rows(0);
        const std::string row = row_text(0);
        std::string digits_at_columns;
        for (unsigned i = 0; i < 16; ++i)
            digits_at_columns += row.substr(static_cast<size_t>(hex_col_of_byte(i)), 2) + " ";
        EXPECT_EQ(digits_at_columns, "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF ");
        // Between groups of four the gap is one blank wider than inside one.
        for (unsigned i = 1; i < 16; ++i) {
            int step = hex_col_of_byte(i) - hex_col_of_byte(i - 1);
            int inside = spacing ? 3 : 2;
            EXPECT_EQ(step, i % 4 == 0 ? inside + 1 + (spacing && i == 8) : inside) << i;
        }
    }
    EXPECT_EQ(hex_col_of_byte(16), 0);
    EXPECT_EQ(hex_col_of_byte(~0u), 0);
}

TEST(ColumnMaps, EveryColumnMapsToItsByteOrToZero) {
    KeptEditorState keep;
    for (int spacing : {1, 0}) {
        Globals.spacing = spacing;
        std::vector<int> expected(200, 0);
        for (unsigned i = 0; i < 16; ++i) {
            expected[hex_col_of_byte(i)] = static_cast<int>(i);
            expected[hex_col_of_byte(i) + 1] = static_cast<int>(i);
        }
        for (unsigned col = 0; col < 200; ++col)
            EXPECT_EQ(byte_of_hex_col(col), expected[col])
                << "column " << col << " spacing " << spacing;
    }
    Globals.spacing = 1;
    EXPECT_EQ(byte_of_hex_col(12), 0); // the blank after byte 0
    EXPECT_EQ(byte_of_hex_col(60), 15);
    EXPECT_EQ(byte_of_hex_col(61), 0);
    Globals.spacing = 0;
    EXPECT_EQ(byte_of_hex_col(44), 15);
    EXPECT_EQ(byte_of_hex_col(45), 0);
}

TEST(ColumnMaps, RespacingKeepsByteAndNibbleBothWays) {
    KeptEditorState keep;
    Globals.spacing = 0; // just flipped from wide
    EXPECT_EQ(respaced_col(41), 31);
    Globals.spacing = 1;
    EXPECT_EQ(respaced_col(31), 41);
    for (unsigned i = 0; i < 16; ++i) {
        for (int nibble = 0; nibble < 2; ++nibble) {
            Globals.spacing = 1;
            const int wide_col = hex_col_of_byte(i) + nibble;
            Globals.spacing = 0;
            const int compact_col = respaced_col(static_cast<unsigned>(wide_col));
            EXPECT_EQ(compact_col, hex_col_of_byte(i) + nibble);
            Globals.spacing = 1;
            EXPECT_EQ(respaced_col(static_cast<unsigned>(compact_col)), wide_col);
        }
    }
    Globals.spacing = 0;
    EXPECT_EQ(respaced_col(12), 0); // a blank of the wide layout
    EXPECT_EQ(respaced_col(5), 0);
    Globals.spacing = 1;
    EXPECT_EQ(respaced_col(18), 0); // a blank of the compact layout
}

// ------------------------------------------------------------ character tests

TEST(HexDigits, RecognisesBothCasesAndNothingAround) {
    for (int c : {'0', '9', 'A', 'F', 'a', 'f'})
        EXPECT_EQ(is_hex_digit(c), 1) << c;
    for (int c : {int{'/'}, int{':'}, int{'@'}, int{'G'}, int{'`'}, int{'g'}, -1, 0, 0x130, 0x141,
                  KEY_DOWN})
        EXPECT_EQ(is_hex_digit(c), 0) << c;
    EXPECT_EQ(hex_value('0'), 0);
    EXPECT_EQ(hex_value('9'), 9);
    EXPECT_EQ(hex_value('A'), 10);
    EXPECT_EQ(hex_value('f'), 15);
    EXPECT_EQ(hex_value('g'), 0);
    EXPECT_EQ(hex_value(-5), 0);
    EXPECT_EQ(hex_digit_char(0), '0');
    EXPECT_EQ(hex_digit_char(10), 'A');
    EXPECT_EQ(hex_digit_char(15), 'F');
    EXPECT_EQ(hex_digit_char(16), '\0');
}

TEST(IsPrintable, DefaultSetIsPrintableAsciiOnly) {
    KeptEditorState keep;
    Globals.ebcdic = 0;
    Globals.print_set = 1;
    EXPECT_FALSE(is_printable(0x00));
    EXPECT_FALSE(is_printable(0x1F));
    EXPECT_TRUE(is_printable(0x20));
    EXPECT_TRUE(is_printable(0x7E));
    EXPECT_FALSE(is_printable(0x7F));
    EXPECT_FALSE(is_printable(0xA0));
    EXPECT_FALSE(is_printable(0xFF));
    EXPECT_FALSE(is_printable(270));
    EXPECT_FALSE(is_printable(-1));
}

TEST(IsPrintable, HighBitSetAddsEverythingAbove127) {
    KeptEditorState keep;
    Globals.ebcdic = 0;
    Globals.print_set = 2;
    EXPECT_FALSE(is_printable(0x1F));
    EXPECT_TRUE(is_printable('A'));
    EXPECT_FALSE(is_printable(0x7F));
    EXPECT_TRUE(is_printable(0x80));
    EXPECT_TRUE(is_printable(0xFF));
    EXPECT_TRUE(is_printable(270));
    EXPECT_FALSE(is_printable(-1));
}

TEST(IsPrintable, AllTextSetRefusesOnlyZeroAndBelow) {
    KeptEditorState keep;
    Globals.ebcdic = 0;
    Globals.print_set = 3;
    EXPECT_FALSE(is_printable(0));
    EXPECT_TRUE(is_printable(1));
    EXPECT_TRUE(is_printable(0x7F));
    EXPECT_TRUE(is_printable(270));
    EXPECT_FALSE(is_printable(-1));
}

TEST(IsPrintable, EbcdicAcceptsEverythingAndUnknownSetsNothing) {
    KeptEditorState keep;
    Globals.ebcdic = 1;
    Globals.print_set = 1;
    EXPECT_TRUE(is_printable(0));
    EXPECT_TRUE(is_printable(270));
    Globals.ebcdic = 0;
    Globals.print_set = 7;
    EXPECT_FALSE(is_printable('A'));
}

// ----------------------------------------------------------------- hex view

TEST(DrawRows, TwentyByteFileInTheWideLayout) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes(letters(20));
    Globals.spacing = 1;
    Globals.print_set = 1;
    Globals.ebcdic = 0;
    draw_rows(0);
    EXPECT_EQ(row_text(0), "00000000  41 42 43 44  45 46 47 48   49 4A 4B 4C  4D 4E 4F 50   "
                           "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(row_text(1),
              "00000010  51 52 53 54" + std::string(43, ' ') + "QRST" + std::string(12, ' '));
    EXPECT_EQ(row_text(2), std::string(80, ' '));
    EXPECT_EQ(row_text(21), std::string(80, ' '));
}

TEST(DrawRows, TwentyByteFileInTheCompactLayout) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes(letters(20));
    Globals.spacing = 0;
    draw_rows(5); // any offset of the row draws the whole row
    EXPECT_EQ(row_text(0), "00000000  41424344 45464748 494A4B4C 4D4E4F50" + std::string(19, ' ') +
                               "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(row_text(1).substr(0, 20), "00000010  51525354  ");
    EXPECT_EQ(row_text(1).substr(64), "QRST            ");
}

TEST(DrawRows, WithColourEveryCellIsPairOne) {
    KeptEditorState keep;
    CursesScreen screen(24, 80, true);
    load_bytes(letters(20));
    draw_rows(0);
    for (int r = 0; r < 22; ++r)
        for (int c = 0; c < 80; ++c) {
            ASSERT_EQ(CursesScreen::pair(Globals.main_win, r, c), 1) << r << "," << c;
            ASSERT_EQ(CursesScreen::attrs(Globals.main_win, r, c) & A_BOLD, 0u) << r << "," << c;
        }
}

TEST(DrawRows, ModifiedByteIsBoldWithPairTwoInBothPanes) {
    KeptEditorState keep;
    CursesScreen screen(24, 80, true);
    load_bytes(letters(20));
    buffer[5] = 'z';
    mod_table_set(5, 'z');
    draw_rows(0);
    WINDOW* w = Globals.main_win;
    EXPECT_EQ(row_text(0).substr(26, 2), "7A");
    EXPECT_EQ(CursesScreen::ch(w, 0, 69), 'z');
    for (int col : {26, 27, 69}) {
        EXPECT_NE(CursesScreen::attrs(w, 0, col) & A_BOLD, 0u) << col;
        EXPECT_EQ(CursesScreen::pair(w, 0, col), 2) << col;
    }
    for (int col : {23, 24, 29, 30, 68, 70}) { // the neighbours stay ordinary
        EXPECT_EQ(CursesScreen::attrs(w, 0, col) & A_BOLD, 0u) << col;
        EXPECT_EQ(CursesScreen::pair(w, 0, col), 1) << col;
    }
}

TEST(DrawRows, ModifiedByteIsBoldWithoutColour) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes(letters(20));
    mod_table_set(17, 'R');
    draw_rows(0);
    WINDOW* w = Globals.main_win;
    EXPECT_NE(CursesScreen::attrs(w, 1, 13) & A_BOLD, 0u);
    EXPECT_NE(CursesScreen::attrs(w, 1, 65) & A_BOLD, 0u);
    EXPECT_EQ(CursesScreen::attrs(w, 1, 10) & A_BOLD, 0u);
    EXPECT_EQ(CursesScreen::pair(w, 1, 13), 0);
}

TEST(DrawRows, TextPaneFollowsThePrintSetOneCellPerByte) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes({'a', 0x01, 0x7F, 0xE9, 'b', 0x0A});
    Globals.ebcdic = 0;
    Globals.print_set = 1;
    draw_rows(0);
    EXPECT_EQ(row_text(0).substr(64, 7), "a...b. ");
    Globals.print_set = 3;
    draw_rows(0);
    // Control codes get a one-cell stand-in, never a control sequence.
    const std::string shown = row_text(0).substr(64, 7);
    EXPECT_EQ(shown[0], 'a');
    EXPECT_NE(shown[1], '.');
    EXPECT_EQ(shown[4], 'b');
    EXPECT_EQ(shown[6], ' ');
}

TEST(DrawRows, EbcdicTextPaneUsesTheDisplayTable) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes({0xC1, 0x4B, 0x05, 0x81, 0xF9});
    Globals.ebcdic = 1;
    draw_rows(0);
    EXPECT_EQ(row_text(0).substr(64, 6), "A..a9 ");
}

TEST(DrawRows, OffsetLabelsShowTheRowsFromTheStartOffset) {
    KeptEditorState keep;
    CursesScreen screen(6, 80); // four rows
    load_bytes(letters(200));
    draw_rows(0x35);
    EXPECT_EQ(row_text(0).substr(0, 12), "00000030  57");
    EXPECT_EQ(row_text(3).substr(0, 10), "00000060  ");
    EXPECT_EQ(row_text(3).substr(64, 1), "S");
}

TEST(DrawRows, NarrowTerminalsCutTheRowsWithoutWrapping) {
    KeptEditorState keep;
    CursesScreen screen(5, 12); // three rows of twelve columns
    load_bytes(letters(24));
    draw_rows(0);
    // The panes overlap (the text pane starts left of column 0) but every
    // cell lands on its own row: nothing spills into the row below.
    EXPECT_EQ(row_text(0), "EFGHIJKLMNOP");
    EXPECT_EQ(row_text(1), "UVWX0010  51");
    EXPECT_EQ(row_text(2), std::string(12, ' '));
}

// ----------------------------------------------------------------- repaint

TEST(RedrawAll, HexModeDrawsBarsRowsAndPlacesTheCursor) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes(letters(1000));
    Globals.mode = 1;
    Globals.filename = "f.bin";
    Globals.file_state = 0;
    Globals.spacing = 1;
    Globals.text_pane = 0;
    cursor_loc = 0x95;
    cursor_y = 3;
    cursor_x = hex_col_of_byte(5) + 1;
    redraw_all();
    update_screen();
    EXPECT_EQ(row_text(0).substr(0, 8), "00000070"); // two rows above the cursor's
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0).substr(0, 12), "File: f.bin ");
    EXPECT_NE(CursesScreen::attrs(Globals.status_win, 0, 40) & A_REVERSE, 0u);
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 10), "^G Help   ");
    EXPECT_EQ(getcury(stdscr), 3);
    EXPECT_EQ(getcurx(stdscr), 27);

    Globals.text_pane = 1;
    redraw_all();
    update_screen();
    EXPECT_EQ(getcury(stdscr), 3);
    EXPECT_EQ(getcurx(stdscr), 64 + 5);
}

TEST(RedrawAll, StartsAtZeroWhenTheCursorRowWouldReachAboveTheFile) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_bytes(letters(100));
    Globals.mode = 1;
    cursor_loc = 0x20;
    cursor_y = 10; // inconsistent: nine rows above offset 0x20 do not exist
    cursor_x = 10;
    redraw_all();
    update_screen();
    EXPECT_EQ(row_text(0).substr(0, 8), "00000000");
    EXPECT_EQ(first_shown(), 0u);
}
