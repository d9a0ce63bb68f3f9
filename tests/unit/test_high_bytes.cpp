// Bytes 0xA0-0xFF in the text column under -8 and -a: the characters of
// Latin-1 in a UTF-8 terminal, a one-cell stand-in where the terminal's
// character set has none.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "editing.h"

namespace {

// The locale decides how curses stores wide characters, so it is set before
// the screen starts and put back afterwards.
class Utf8Locale {
  public:
    Utf8Locale() : old_(setlocale(LC_CTYPE, nullptr)) { ok_ = setlocale(LC_CTYPE, "C.UTF-8"); }
    ~Utf8Locale() { setlocale(LC_CTYPE, old_.c_str()); }
    bool ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

wchar_t wide_cell(WINDOW* w, int row, int col) {
    cchar_t cc;
    if (mvwin_wch(w, row, col, &cc) == ERR) return 0;
    wchar_t wc[CCHARW_MAX + 1] = {};
    attr_t attrs;
    short pair;
    getcchar(&cc, wc, &attrs, &pair, nullptr);
    return wc[0];
}

constexpr int text_col = 64; // the text column of a wide row

} // namespace

TEST(HighByteDrawing, TextColumnShowsLatin1InAUtf8TerminalAndStandInsElsewhere) {
    Utf8Locale locale;
    if (!locale.ok()) GTEST_SKIP() << "no C.UTF-8 locale on this system";
    WholeFile file({'A', 0xE9, 0xFF, 0xA0, 0x85, 0x00});
    for (int set : {2, 3}) { // -8, -a
        SCOPED_TRACE(set);
        Globals.print_set = set;
        output_charset = OutputCharset::Utf8;
        draw_rows(0);
        EXPECT_EQ(wide_cell(Globals.main_win, 0, text_col), L'A');
        EXPECT_EQ(wide_cell(Globals.main_win, 0, text_col + 1), L'\u00E9');
        EXPECT_EQ(wide_cell(Globals.main_win, 0, text_col + 2), L'\u00FF');
        EXPECT_EQ(wide_cell(Globals.main_win, 0, text_col + 3), L'\u00A0');
        // 0x85 is a C1 control: never sent to the terminal as itself.
        EXPECT_NE(wide_cell(Globals.main_win, 0, text_col + 4), L'\u0085');
        EXPECT_NE(wide_cell(Globals.main_win, 0, text_col + 4), L'.');

        output_charset = OutputCharset::Ascii;
        draw_rows(0);
        wchar_t stand_in = wide_cell(Globals.main_win, 0, text_col + 1);
        EXPECT_NE(stand_in, L'\u00E9');
        EXPECT_NE(stand_in, L'.'); // distinguishable from bytes shown as '.'
    }
}
