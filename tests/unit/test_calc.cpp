#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curses_screen.h"
#include "editor_state.h"

namespace {

// Four freshly opened lines, as the calculator sets them up.
struct CalcLines {
    calc_base_line l[4];
    CalcLines() {
        const char* sets[4] = {"01", "01234567", "0123456789", "0123456789AaBbCcDdEeFf"};
        for (int i = 0; i < 4; ++i) {
            l[i].digit_set = sets[i];
            memset(l[i].digit_text, 0, sizeof l[i].digit_text);
            l[i].label_row = 3 + 2 * i;
            l[i].label_col = 1;
            l[i].line_value = 0;
        }
    }
    void key(int k, int active) { calc_key(&l[0], &l[1], &l[2], &l[3], k, active); }
    void keys(const std::string& ks, int active) {
        for (char c : ks)
            key(static_cast<unsigned char>(c), active);
    }
    uint32_t value() const { return l[0].line_value; }
    bool agree() const {
        return l[0].line_value == l[1].line_value && l[1].line_value == l[2].line_value &&
               l[2].line_value == l[3].line_value;
    }
};

// The 64-column value field of the line on main-window row `row`.
std::string field(int row) {
    return CursesScreen::text(Globals.main_win, row).substr(10, 64);
}

std::string right_aligned(const std::string& digits) {
    return std::string(64 - digits.size(), ' ') + digits;
}

} // namespace

TEST(CalcArithmetic, DecimalDigitsBuildTheValueOnEveryLine) {
    CalcLines c;
    c.keys("255", 3);
    EXPECT_EQ(c.value(), 255u);
    EXPECT_TRUE(c.agree());
}

TEST(CalcArithmetic, DigitsOutsideTheLinesBaseChangeNothing) {
    CalcLines c;
    c.keys("23456789", 1);
    EXPECT_EQ(c.value(), 0u);
    c.keys("1", 1);
    c.keys("89", 2);
    EXPECT_EQ(c.value(), 1u);
    c.keys("AaFfGg", 3);
    EXPECT_EQ(c.value(), 1u);
    c.keys("xZ ", 4);
    c.key(KEY_UP + 256, 4); // beyond the byte range
    c.key(0, 4);
    c.key(-1, 4);
    EXPECT_EQ(c.value(), 1u);
}

TEST(CalcArithmetic, LowerCaseHexDigitsCountLikeUpperCase) {
    CalcLines upper, lower;
    upper.keys("ABCDEF", 4);
    lower.keys("abcdef", 4);
    EXPECT_EQ(upper.value(), 0xABCDEFu);
    EXPECT_EQ(lower.value(), 0xABCDEFu);
}

TEST(CalcArithmetic, DigitsWrapModuloTwoToThe32) {
    CalcLines c;
    c.keys("FFFFFFFF", 4);
    EXPECT_EQ(c.value(), 0xFFFFFFFFu);
    c.keys("0", 4);
    EXPECT_EQ(c.value(), 0xFFFFFFF0u);
    CalcLines d;
    d.keys("4294967296", 3); // 2^32 wraps to 0
    EXPECT_EQ(d.value(), 0u);
}

TEST(CalcArithmetic, EraseOnDecimalLineTruncatesTheSignedValueTowardZero) {
    CalcLines c;
    c.keys("FFFFFFFF", 4);
    c.key(KEY_BACKSPACE, 3);
    EXPECT_EQ(c.value(), 0u); // -1 / 10
    CalcLines d;
    d.keys("FFFFFFF1", 4); // -15
    d.key(127, 3);
    EXPECT_EQ(static_cast<int32_t>(d.value()), -1);
    EXPECT_TRUE(d.agree());
}

TEST(CalcArithmetic, EraseOnOtherLinesIsAnUnsignedShift) {
    for (int erase : {4, 8, 127, KEY_BACKSPACE, KEY_DC}) {
        CalcLines c;
        c.keys("FFFFFFFF", 4);
        c.key(erase, 4);
        EXPECT_EQ(c.value(), 0x0FFFFFFFu) << "erase key " << erase;
        c.key(erase, 2);
        EXPECT_EQ(c.value(), 0x01FFFFFFu);
        c.key(erase, 1);
        EXPECT_EQ(c.value(), 0x00FFFFFFu);
    }
}

TEST(CalcMoveLine, UpAndDownWrapAroundTheFourLines) {
    int line = 1;
    calc_move_line('K', &line);
    EXPECT_EQ(line, 4);
    calc_move_line('j', &line);
    EXPECT_EQ(line, 1);
    calc_move_line(KEY_DOWN, &line);
    EXPECT_EQ(line, 2);
    calc_move_line('k', &line);
    calc_move_line(KEY_UP, &line);
    EXPECT_EQ(line, 4);
    calc_move_line('x', &line);
    calc_move_line(KEY_UP + 1000, &line);
    EXPECT_EQ(line, 4);
}

TEST(CalcDrawing, ValuesAreRightAlignedInAReverseFieldAtColumnTen) {
    CursesScreen screen(24, 80);
    CalcLines c;
    c.keys("255", 3);
    draw_calc_lines(&c.l[0], &c.l[1], &c.l[2], &c.l[3], 3);
    WINDOW* w = Globals.main_win;
    EXPECT_EQ(CursesScreen::text(w, 3).substr(1, 7), "Base  2");
    EXPECT_EQ(CursesScreen::text(w, 5).substr(1, 7), "Base  8");
    EXPECT_EQ(CursesScreen::text(w, 7).substr(1, 7), "Base 10");
    EXPECT_EQ(CursesScreen::text(w, 9).substr(1, 7), "Base 16");
    EXPECT_EQ(field(3), right_aligned("00000000000000000000000011111111"));
    EXPECT_EQ(field(5), right_aligned("377"));
    EXPECT_EQ(field(7), right_aligned("255"));
    EXPECT_EQ(field(9), right_aligned("FF"));
    for (int row : {3, 5, 7, 9}) {
        EXPECT_FALSE(CursesScreen::attrs(w, row, 9) & A_REVERSE);
        EXPECT_TRUE(CursesScreen::attrs(w, row, 10) & A_REVERSE);
        EXPECT_TRUE(CursesScreen::attrs(w, row, 73) & A_REVERSE);
        EXPECT_FALSE(CursesScreen::attrs(w, row, 74) & A_REVERSE);
    }
}

TEST(CalcDrawing, MarkerIsBoldOnTheActiveLineOnly) {
    CursesScreen screen(24, 80);
    CalcLines c;
    draw_calc_lines(&c.l[0], &c.l[1], &c.l[2], &c.l[3], 2);
    WINDOW* w = Globals.main_win;
    EXPECT_EQ(CursesScreen::text(w, 5).substr(74, 4), " <==");
    for (int col = 74; col < 78; ++col)
        EXPECT_TRUE(CursesScreen::attrs(w, 5, col) & A_BOLD);
    for (int row : {3, 7, 9})
        EXPECT_EQ(CursesScreen::text(w, row).substr(74, 4), "    ");
    // Moving the marker clears the old one.
    draw_calc_lines(&c.l[0], &c.l[1], &c.l[2], &c.l[3], 4);
    EXPECT_EQ(CursesScreen::text(w, 5).substr(74, 4), "    ");
    EXPECT_EQ(CursesScreen::text(w, 9).substr(74, 4), " <==");
}

TEST(CalcDrawing, ShorterValueLeavesNoStaleDigits) {
    CursesScreen screen(24, 80);
    CalcLines c;
    c.keys("12345", 3);
    draw_calc_lines(&c.l[0], &c.l[1], &c.l[2], &c.l[3], 3);
    c.key(KEY_BACKSPACE, 3);
    c.key(KEY_BACKSPACE, 3);
    draw_calc_lines(&c.l[0], &c.l[1], &c.l[2], &c.l[3], 3);
    EXPECT_EQ(field(7), right_aligned("123"));
    EXPECT_EQ(field(9), right_aligned("7B"));
}

TEST(CalcDrawing, StatusLineNamesTheTypeWidthsAcrossTheBar) {
    CursesScreen screen(24, 80);
    draw_calc_status();
    std::string status = CursesScreen::text(Globals.status_win, 0);
    EXPECT_EQ(status, "Integer: 32 bits     Long: 64 bits" + std::string(80 - 34, ' '));
    EXPECT_TRUE(CursesScreen::attrs(Globals.status_win, 0, 79) & A_REVERSE);
}

TEST(Calculator, OpensAtZeroWithTheMarkerOnBaseTen) {
    CursesScreen screen(24, 80);
    Globals.mode = 3;
    screen.feed("\033");
    calculator();
    WINDOW* w = Globals.main_win;
    EXPECT_EQ(CursesScreen::text(w, 1).substr(32, 17), "Binary Calculator");
    EXPECT_EQ(field(3), right_aligned(std::string(32, '0')));
    for (int row : {5, 7, 9})
        EXPECT_EQ(field(row), right_aligned("0"));
    EXPECT_EQ(CursesScreen::text(w, 7).substr(74, 4), " <==");
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 42),
              "^X/^G  Return   ^C  Exit   J  Down   K  Up");
    EXPECT_EQ(calc_lines[0], nullptr) << "records must not outlive the calculator";
    Globals.mode = 0;
}

TEST(Calculator, AllOnesShowAsMinusOneInBaseTenUntilBackspace) {
    CursesScreen screen(24, 80);
    screen.feed("jFFFFFFFF\x18");
    calculator();
    EXPECT_EQ(field(3), right_aligned(std::string(32, '1')));
    EXPECT_EQ(field(5), right_aligned("37777777777"));
    EXPECT_EQ(field(7), right_aligned("-1"));
    EXPECT_EQ(field(9), right_aligned("FFFFFFFF"));
    screen.feed("jffffffffk" + CursesScreen::key(KEY_BACKSPACE) + "\033");
    calculator();
    for (int row : {5, 7, 9})
        EXPECT_EQ(field(row), right_aligned("0"));
}

TEST(Calculator, EachOpeningStartsAfresh) {
    CursesScreen screen(24, 80);
    screen.feed("j63\x18"); // 0x63 on the base 16 line
    calculator();
    EXPECT_EQ(field(3), right_aligned("00000000000000000000000001100011"));
    screen.feed("\x07");
    calculator();
    EXPECT_EQ(field(3), right_aligned(std::string(32, '0')));
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 7).substr(74, 4), " <==");
}

TEST(Calculator, RedrawShowsTheOpenCalculatorAgain) {
    CursesScreen screen(24, 80);
    CalcLines c;
    c.keys("FF", 4);
    for (int i = 0; i < 4; ++i)
        calc_lines[i] = &c.l[i];
    calc_line = 4;
    for (WINDOW* w : {Globals.main_win, Globals.status_win, Globals.help_win})
        werase(w);
    draw_calc_screen();
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 1).substr(32, 17), "Binary Calculator");
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0).substr(0, 34),
              "Integer: 32 bits     Long: 64 bits");
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 42),
              "^X/^G  Return   ^C  Exit   J  Down   K  Up");
    EXPECT_EQ(field(7), right_aligned("255"));
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 9).substr(74, 4), " <==");
    for (calc_base_line*& l : calc_lines)
        l = nullptr;
    calc_line = 3;
}

TEST(Calculator, TinyAndNarrowTerminalsDoNotBreakTheScreen) {
    KeptEditorState keep; // the calculator leaves its last line chosen
    for (auto [lines, cols] : {std::pair{1, 1}, std::pair{2, 10}, std::pair{8, 40}}) {
        CursesScreen screen(lines, cols);
        screen.feed("255j\033");
        calculator();
        draw_calc_screen(); // closed: only the frame, no records
        if (lines == 8) {
            // The field is cut at the right edge instead of wrapping onto row 4.
            EXPECT_EQ(CursesScreen::text(Globals.main_win, 3).substr(0, 8), " Base  2");
            EXPECT_EQ(CursesScreen::text(Globals.main_win, 4), std::string(40, ' '));
            EXPECT_EQ(CursesScreen::text(Globals.main_win, 1).substr(12, 17), "Binary Calculator");
        }
    }
}
