// Popup frames on terminals too narrow for them.
#include <gtest/gtest.h>

#include "curses_screen.h"
#include "morvane.h"

// ncurses' record of one window line (from its private curses.priv.h; the
// public header leaves it incomplete). Only through it can a test see what
// a drawing call writes outside a window.
struct ldat {
    cchar_t* text;
    NCURSES_SIZE_T firstchar;
    NCURSES_SIZE_T lastchar;
    NCURSES_SIZE_T oldindex;
};

TEST(PopupBorder, OneColumnFrameWritesNothingPastTheColumn) {
    CursesScreen screen(24, 1);
    WINDOW* w = newwin(6, 1, 9, 0);
    ASSERT_NE(w, nullptr);
    // Row 2 gets a line of two cells; the second, outside the window, looks
    // like the remnant of a wide character, which is what ncurses' frame
    // code clears right of the left edge.
    cchar_t cells[2] = {};
    cells[0] = w->_line[2].text[0];
    cells[1].attr = 2;
    cells[1].chars[0] = L'X';
    cchar_t* own = w->_line[2].text;
    w->_line[2].text = cells;

    popup_border(w);

    w->_line[2].text = own;
    delwin(w);
    EXPECT_EQ(cells[1].chars[0], L'X');
    EXPECT_EQ(cells[1].attr, 2u);
}
