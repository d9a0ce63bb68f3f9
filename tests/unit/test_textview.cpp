// The text view: pages of running text, their row starts and the cursor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"

namespace {

void load_text(const std::string& text) {
    load_whole_file({text.begin(), text.end()});
    Globals.mode = 2;
    Globals.ebcdic = 0;
    Globals.print_set = 1;
    Globals.spacing = 1;
    Globals.text_pane = 0;
}

// Cursor on `loc` at screen row y, as hex editing would leave it.
void put_cursor(uint64_t loc, int y) {
    cursor_loc = loc;
    cursor_y = y;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(loc % 16));
}

std::string row(int r) {
    return CursesScreen::text(Globals.main_win, r);
}

std::string alphabet(size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i % 26);
    return s;
}

} // namespace

TEST(TextView, LineFeedEndsTheRowWithADotBeforeTheLastColumn) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_text("ab\ncd");
    put_cursor(2, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(row(0), "ab" + std::string(76, ' ') + ". ");
    EXPECT_EQ(row(1), "cd" + std::string(78, ' '));
    EXPECT_EQ(text_row_starts[0], 0u);
    EXPECT_EQ(text_row_starts[1], 3u);
    EXPECT_EQ(text_row_starts[2], 6u); // first offset not drawn, plus one
    EXPECT_EQ(text_row_starts[3], 0u);
    // The cursor on the line feed sits just after the line's text.
    EXPECT_EQ(getcury(stdscr), 1);
    EXPECT_EQ(getcurx(stdscr), 2);
    // The cursor triple belongs to hex editing and is left alone.
    EXPECT_EQ(cursor_loc, 2u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(cursor_x, 16);
}

TEST(TextView, LongLineWrapsAfterColumnSeventyEight) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_text(alphabet(200));
    put_cursor(100, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(row(0), alphabet(79) + " ");
    EXPECT_EQ(row(1).substr(0, 1), std::string(1, static_cast<char>('a' + 79 % 26)));
    EXPECT_EQ(row(2), alphabet(200).substr(158) + std::string(38, ' '));
    EXPECT_EQ(text_row_starts[0], 0u);
    EXPECT_EQ(text_row_starts[1], 79u);
    EXPECT_EQ(text_row_starts[2], 158u);
    EXPECT_EQ(text_row_starts[3], 201u);
    EXPECT_EQ(getcury(stdscr), 2);
    EXPECT_EQ(getcurx(stdscr), 21);
}

TEST(TextView, CursorSeveralPagesIntoItsLineGetsThePageThatHoldsIt) {
    KeptEditorState keep;
    CursesScreen screen(24, 80); // 21 rows of 79 characters: 1659 bytes a page
    load_text(alphabet(5000));
    put_cursor(4000, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(text_row_starts[0], 3318u); // the third page
    EXPECT_EQ(text_row_starts[1], 3318u + 79);
    EXPECT_EQ(row(0).substr(0, 3), alphabet(5000).substr(3318, 3));
    // 4000 - 3318 = 682 = 8 rows of 79 and 50 more.
    EXPECT_EQ(getcury(stdscr), 9);
    EXPECT_EQ(getcurx(stdscr), 50);
    EXPECT_EQ(CursesScreen::ch(Globals.main_win, 8, 50), alphabet(5000)[4000]);
}

TEST(TextView, PageStartsAfterTheLineFeedBeforeTheFirstRow) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    std::string text = alphabet(100);
    text[40] = '\n';
    load_text(text);
    put_cursor(0x45, 2); // the hex view's first row would be 0x30
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(text_row_starts[0], 41u);
    EXPECT_EQ(row(0).substr(0, 3), text.substr(41, 3));
    EXPECT_EQ(getcury(stdscr), 1);
    EXPECT_EQ(getcurx(stdscr), 0x45 - 41);
}

TEST(TextView, LineFeedUnderTheCursorOnTheFirstRowStaysOnThePage) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_text("0123456789ABCDEF\nxyz");
    put_cursor(16, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(text_row_starts[0], 0u);
    EXPECT_EQ(row(0), "0123456789ABCDEF" + std::string(62, ' ') + ". ");
    EXPECT_EQ(row(1).substr(0, 4), "xyz ");
    EXPECT_EQ(getcury(stdscr), 1);
    EXPECT_EQ(getcurx(stdscr), 16);
}

TEST(TextView, FewerThanFourLinesDrawNothingAndReturn) {
    KeptEditorState keep;
    CursesScreen screen(3, 80); // main_win has one row, which the view never writes
    load_text("hello\nworld");
    put_cursor(7, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(row(0), std::string(80, ' '));
    EXPECT_EQ(getcury(stdscr), 1);
    EXPECT_EQ(getcurx(stdscr), 0);
}

TEST(TextView, ModifiedByteIsBoldAndTheNextOneIsNot) {
    KeptEditorState keep;
    CursesScreen screen(24, 80, true);
    load_text("abcdef");
    mod_table_set(2, 'c');
    put_cursor(0, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    WINDOW* w = Globals.main_win;
    EXPECT_NE(CursesScreen::attrs(w, 0, 2) & A_BOLD, 0u);
    EXPECT_EQ(CursesScreen::pair(w, 0, 2), 2);
    EXPECT_EQ(CursesScreen::attrs(w, 0, 3) & A_BOLD, 0u);
    EXPECT_EQ(CursesScreen::pair(w, 0, 3), 1);
    EXPECT_EQ(CursesScreen::pair(w, 0, 1), 1);
}

TEST(TextView, EbcdicFullStopCodeEndsTheRow) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_text("\xC1\xC2\x2E\xC3\x0A\xC4");
    Globals.ebcdic = 1;
    put_cursor(3, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    EXPECT_EQ(row(0).substr(0, 4), "AB. ");
    EXPECT_EQ(row(1).substr(0, 4), "C.D ");
    EXPECT_EQ(getcury(stdscr), 2);
    EXPECT_EQ(getcurx(stdscr), 0);
}

TEST(TextView, EveryByteTakesOneCell) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_text("a\tb\x1b[2Jc\xE9"
              "d");
    Globals.print_set = 3; // control codes count as text
    put_cursor(0, 1);
    redraw_later(REDRAW_ALL);
    CursesScreen::frame();
    const std::string r0 = row(0);
    EXPECT_EQ(r0[0], 'a');
    EXPECT_EQ(r0[2], 'b');
    EXPECT_EQ(r0.substr(4, 4), "[2Jc");
    EXPECT_EQ(r0[9], 'd');
    EXPECT_EQ(r0[10], ' ');
}

// Pages drawn one after another with draw_text_page, the plain way, must give
// the page that redraw_all picks by skipping ahead.
TEST(TextView, SkippingAheadFindsTheSamePageAsDrawingEveryPage) {
    KeptEditorState keep;
    std::string text(60000, 'x');
    uint32_t seed = 12345;
    for (char& c : text) {
        seed = seed * 1103515245u + 12345u;
        const unsigned r = (seed >> 16) % 1000;
        c = r < 8 ? '\n' : r < 12 ? '\x2E' : static_cast<char>(0x20 + r % 90);
    }
    text.replace(20000, 5000, std::string(5000, 'L')); // one line of many rows
    struct Case {
        int lines, cols, ebcdic;
        uint64_t cursor;
    };
    for (const Case& c : {Case{24, 80, 0, 24321}, Case{24, 80, 1, 24321}, Case{10, 37, 0, 24000},
                          Case{7, 2, 0, 30007}, Case{24, 80, 0, 59999}}) {
        CursesScreen screen(c.lines, c.cols);
        load_text(text);
        Globals.ebcdic = c.ebcdic;
        put_cursor(c.cursor, 1);
        const uint64_t top = c.cursor & ~uint64_t{15};
        uint64_t start = 0;
        for (uint64_t k = top >= c.cursor ? c.cursor - 1 : top; k >= 1; --k)
            if (text[k] == '\n') {
                start = k + 1;
                break;
            }
        uint64_t pos = start;
        for (;;) {
            werase(Globals.main_win);
            wmove(Globals.main_win, 0, 0);
            for (auto& e : text_row_starts)
                e = 0;
            const uint64_t page = pos;
            draw_text_page(pos);
            if (c.cursor < pos || pos == page) break;
        }
        const std::vector<uint64_t> expected_starts = text_row_starts;
        std::vector<std::string> expected_rows;
        for (int r = 0; r < c.lines - 2; ++r)
            expected_rows.push_back(row(r));

        redraw_later(REDRAW_ALL);
        CursesScreen::frame();
        EXPECT_EQ(text_row_starts, expected_starts) << c.cols << " columns";
        for (int r = 0; r < c.lines - 2; ++r)
            EXPECT_EQ(row(r), expected_rows[r]) << "row " << r << " at " << c.cols << " columns";
    }
}
