// The one-line field of the dialogs: editing keys, scrolling, cancelling.
#include <gtest/gtest.h>

#include "curses_screen.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

class LineInput : public ::testing::Test {
  protected:
    KeptEditorState kept_; // first: put back after the screen is gone
    void SetUp() override {
        Globals.print_set = 1;
        Globals.ebcdic = 0;
        win_ = newwin(10, 70, 5, 5);
    }
    void TearDown() override { delwin(win_); }

    std::optional<std::string> run(const std::string& keys, int len, int width, const char* text,
                                   LineKeyFilter accept = nullptr) {
        screen_.feed(keys);
        return read_line(win_, 3, 5, len, width, text, accept);
    }
    // The cells of the field as shown.
    std::string shown(int width) { return CursesScreen::text(win_, 3).substr(5, width); }

    static std::string left(int n = 1) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += CursesScreen::key(KEY_LEFT);
        return s;
    }
    static std::string right(int n = 1) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += CursesScreen::key(KEY_RIGHT);
        return s;
    }
    static std::string padded(const std::string& text, int len) {
        return text + std::string(static_cast<size_t>(len + 1) - text.size(), ' ');
    }

    CursesScreen screen_{24, 80};
    WINDOW* win_ = nullptr;
};

} // namespace

TEST_F(LineInput, TypedDigitsFollowTheInitialPrefixAndTheFieldComesBackPadded) {
    auto r = run("1F\n", 12, 12, "0x");
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, "0x1F" + std::string(9, ' '));
    EXPECT_EQ(r->size(), 13u);
    EXPECT_EQ(shown(12), "0x1F        ");
}

TEST_F(LineInput, TypingOverwritesAndSpaceInsertsAtTheCursor) {
    // Two Lefts from the end of "abc" put the cursor on b.
    EXPECT_EQ(*run(left(2) + "x\n", 10, 10, "abc"), padded("axc", 10));
    // After the blank is inserted the cursor is still on b: Y replaces it.
    EXPECT_EQ(*run(left(2) + " \n", 10, 10, "abc"), padded("a bc", 10));
    EXPECT_EQ(*run(left(2) + " Y\n", 10, 10, "abc"), padded("a Yc", 10));
}

TEST_F(LineInput, BackspaceRemovesTheCharacterBeforeTheCursorAndBlanksTheLastPosition) {
    // Cursor on c: "ac" remains and the cursor stays on c (Z replaces it).
    EXPECT_EQ(*run(left() + "\177\n", 10, 10, "abc"), padded("ac", 10));
    EXPECT_EQ(*run(left() + "\177Z\n", 10, 10, "abc"), padded("aZ", 10));
    // Every key of the Backspace family, on a full field: the last slot empties.
    EXPECT_EQ(*run(left() + "\b\n", 5, 5, "abcde"), "abde  ");
    EXPECT_EQ(*run(left() + CursesScreen::key(KEY_DC) + "\n", 5, 5, "abcde"), "abde  ");
    // At the start there is nothing to delete.
    EXPECT_EQ(*run(left(3) + "\177\177\n", 10, 10, "abc"), padded("abc", 10));
}

TEST_F(LineInput, LeftStopsAtTheStartAndRightWalksOverBlanks) {
    EXPECT_EQ(*run(left(5) + "Q\n", 10, 10, "ab"), padded("Qb", 10));
    EXPECT_EQ(*run(right(3) + "Q\n", 10, 10, "ab"), padded("ab   Q", 10));
    // Right at the end of the field does nothing; typing there stays there.
    EXPECT_EQ(*run(right(9) + "QR\n", 5, 5, ""), "    R ");
}

TEST_F(LineInput, SpaceOnAFullFieldOnlyBeepsExceptOnTheLastPosition) {
    EXPECT_EQ(*run(left(2) + " \n", 5, 5, "abcde"), "abcde ");
    // The cursor starts on the last position of a full field: Space blanks it.
    EXPECT_EQ(*run(" \n", 5, 5, "abcde"), "abcd  ");
}

TEST_F(LineInput, SpaceNeverPushesOutAHighBitCharacter) {
    Globals.print_set = 2;
    EXPECT_EQ(*run(left(4) + " \n", 5, 5, "abcd\xE9"), "abcd\xE9 ");
}

TEST_F(LineInput, EveryCancelKeyGivesAnEmptyTextNotNothing) {
    for (std::string key : {"\x07", "\x18", "\x1b", "\x03"}) {
        auto r = run("12" + key, 12, 12, "0x");
        ASSERT_TRUE(r) << "key " << int(key[0]);
        EXPECT_EQ((*r)[0], '\0') << "key " << int(key[0]);
        EXPECT_EQ(r->size(), 13u);
    }
}

TEST_F(LineInput, ControlUClearsTheFieldToZeroBytes) {
    auto r = run("\x15\n", 12, 12, "0x");
    EXPECT_EQ(*r, std::string(12, '\0') + " ");
    EXPECT_EQ(shown(12), std::string(12, ' '));

    // New text starts at position 0; the zero bytes behind it end the text.
    r = run("\x15"
            "255\n",
            12, 12, "0x");
    EXPECT_STREQ(r->c_str(), "255");

    // Backspace turns the zero bytes into blanks before moving the rest.
    r = run("\x15"
            "12\177\n",
            12, 12, "0x");
    EXPECT_EQ(*r, "1" + std::string(12, ' '));
}

TEST_F(LineInput, AWideFieldScrollsOnePositionPerKeyPastItsLastColumn) {
    std::string typed;
    for (int i = 0; i < 60; ++i)
        typed += static_cast<char>('A' + i % 26);
    // 60 characters in a 50-column view: the view starts at position 11.
    auto r = run(typed + "\n", 1024, 50, nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->size(), 1025u);
    EXPECT_EQ(r->substr(0, 60), typed);
    EXPECT_EQ(shown(50), typed.substr(11, 49) + " ");

    // 49 Lefts reach the first column, the 50th scrolls back by one.
    run(typed + left(50) + "\n", 1024, 50, nullptr);
    EXPECT_EQ(shown(50), typed.substr(10, 50));

    // Right past the last column scrolls one position per key.
    run(right(52) + "\n", 1024, 50, nullptr);
    EXPECT_EQ(shown(50), std::string(50, ' '));
    r = run(right(52) + "x\n", 1024, 50, nullptr);
    EXPECT_EQ(r->find('x'), 52u);
}

TEST_F(LineInput, ALongInitialNameShowsItsStartWithTheCursorInTheLastColumn) {
    std::string name(70, 'n');
    name[49] = 'L';
    auto r = run("Z\n", 1024, 50, name.c_str());
    EXPECT_EQ(r->substr(0, 70), std::string(49, 'n') + "Z" + std::string(20, 'n'));
    EXPECT_EQ(shown(50), std::string(48, 'n') + "Zn");
}

TEST_F(LineInput, AnInitialTextLongerThanTheFieldIsKeptWhole) {
    std::string name(1100, 'p');
    name.back() = 'q';
    auto r = run("\n", 1024, 50, name.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, name + " ");
}

TEST_F(LineInput, OnlyPrintableKeysAreTypedAndTheyAreShownSafely) {
    // Default set: Tab and Control-A are ignored.
    EXPECT_EQ(*run("a\t\x01"
                   "b\n",
                   6, 6, nullptr),
              "ab     ");
    // With -a they are stored, but never reach the terminal raw.
    Globals.print_set = 3;
    EXPECT_EQ(*run("a\x01\n", 6, 6, nullptr), "a\x01" + std::string(5, ' '));
    EXPECT_EQ(CursesScreen::ch(win_, 3, 5), 'a');
    cchar_t cell;
    ASSERT_EQ(mvwin_wch(win_, 3, 6, &cell), OK);
    wchar_t wc[CCHARW_MAX + 1];
    attr_t a;
    short pair;
    getcchar(&cell, wc, &a, &pair, nullptr);
    EXPECT_TRUE(wc[0] >= 0x20 || (a & A_ALTCHARSET)) << "control code stored in the cell";
}

TEST_F(LineInput, FunctionKeysTypeNothingEvenWhenEveryCodeCounts) {
    const std::string keys = "a" + CursesScreen::key(KEY_END) + CursesScreen::key(KEY_HOME) +
                             CursesScreen::key(KEY_NPAGE) + CursesScreen::key(KEY_UP) + "b\n";
    Globals.print_set = 2;
    EXPECT_EQ(*run(keys, 6, 6, nullptr), "ab" + std::string(5, ' '));
    Globals.print_set = 1;
    Globals.ebcdic = 1;
    EXPECT_EQ(*run(keys, 6, 6, nullptr), "ab" + std::string(5, ' '));
}

TEST_F(LineInput, AKeyFilterRefusesKeysThatWouldOtherwiseBeTyped) {
    Globals.ebcdic = 1; // every key counts as a character
    meta(stdscr, TRUE); // a pipe has no tty modes: ask for all eight bits
    auto ascii_only = [](int key) { return key < 128; };
    EXPECT_EQ(*run("A\xC3"
                   "B\n",
                   6, 6, nullptr, ascii_only),
              "AB" + std::string(5, ' '));
}

TEST_F(LineInput, TheFieldKeepsItsAttributeAndIsDrawnInIt) {
    run("\n", 4, 4, "ab");
    EXPECT_TRUE(CursesScreen::attrs(win_, 3, 5) & A_REVERSE);
    EXPECT_TRUE(CursesScreen::attrs(win_, 3, 8) & A_REVERSE);
    EXPECT_FALSE(CursesScreen::attrs(win_, 3, 9) & A_REVERSE);
}

TEST_F(LineInput, AFieldWiderThanItsPopupIsCutBeforeTheFrame) {
    WINDOW* narrow = newwin(4, 12, 0, 0);
    wborder(narrow, 0, 0, 0, 0, 0, 0, 0, 0);
    screen_.feed("abc\n");
    auto r = read_line(narrow, 1, 5, 20, 20, nullptr);
    EXPECT_EQ(r->substr(0, 3), "abc");
    EXPECT_EQ(CursesScreen::text(narrow, 1).substr(5, 6), "abc   ");
    EXPECT_TRUE(CursesScreen::attrs(narrow, 1, 10) & A_REVERSE);
    EXPECT_EQ(mvwinch(narrow, 1, 11) & A_CHARTEXT, ACS_VLINE & A_CHARTEXT) << "the frame stays";
    EXPECT_FALSE(CursesScreen::attrs(narrow, 1, 11) & A_REVERSE);
    EXPECT_EQ(CursesScreen::text(narrow, 2).substr(1, 10), std::string(10, ' '));
    delwin(narrow);
}
