// The null-terminal curses harness reads back what the drawing routines wrote.
#include <gtest/gtest.h>

#include "curses_screen.h"

TEST(CursesScreenHarness, ReadsBackWhatWasDrawn) {
    CursesScreen screen(24, 80);
    mvwaddstr(Globals.main_win, 2, 5, "hello");
    EXPECT_EQ(CursesScreen::text(Globals.main_win, 2).substr(5, 5), "hello");
    EXPECT_EQ(getmaxy(Globals.main_win), 22);
}
