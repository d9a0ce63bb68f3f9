// The selection: its ends, its bar, its highlight in the hex view, the Alt
// and Shift sequences that reach it, and the text offered to the terminal's
// clipboard. What a user sees of them is proven end to end (test_ranges*).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"

namespace {

std::vector<unsigned char> letters(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>('A' + i % 26);
    return v;
}

} // namespace

TEST(Selection, RunsFromTheMarkToTheCursorInEitherDirection) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_whole_file(letters(100));
    EditingFixture::at(40, 3);
    EXPECT_FALSE(selection_active());
    select_toggle_mark();
    ASSERT_TRUE(selection_active());
    EXPECT_EQ(selection_first(), 40u);
    EXPECT_EQ(selection_last(), 40u);
    cursor_loc = 70;
    EXPECT_EQ(selection_first(), 40u);
    EXPECT_EQ(selection_last(), 70u);
    cursor_loc = 5;
    EXPECT_EQ(selection_first(), 5u);
    EXPECT_EQ(selection_last(), 40u);
    // Shift and a move keeps a mark that is set; the same key clears it.
    select_begin();
    EXPECT_EQ(*select_mark, 40u);
    select_toggle_mark();
    EXPECT_FALSE(selection_active());
    select_begin();
    EXPECT_EQ(*select_mark, 5u);
    // A file that shrank below the mark takes it onto its last byte.
    select_mark = 99;
    Globals.filesize = 60;
    select_fit();
    EXPECT_EQ(*select_mark, 60u);
}

TEST(Selection, EscapeWithALetterIsAltInEitherCaseAndShiftedSequencesAreDecoded) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    const struct {
        const char* after_esc;
        int key;
    } cases[] = {
        {"a", alt_key('a')},  {"A", alt_key('a')},   {"w", alt_key('w')},
        {"K", alt_key('k')},  {"v", KEY_ALT_V},      {"V", KEY_ALT_V},
        {"OA", KEY_UP},       {"OD", KEY_LEFT},      {"[1;2A", KEY_SR},
        {"[1;2B", KEY_SF},    {"[1;2C", KEY_SRIGHT}, {"[1;2D", KEY_SLEFT},
        {"[1;2H", KEY_SHOME}, {"[1;2F", KEY_SEND},   {"[5;2~", KEY_SPREVIOUS},
        {"[6;2~", KEY_SNEXT}, {"[6~", KEY_NPAGE},    {"[1;3D", 0},
        {"[7;2~", 0},
    };
    for (const auto& c : cases) {
        // A key of its own after each, so that one case never runs into the next.
        screen.feed(std::string(c.after_esc) + "\x01");
        EXPECT_EQ(read_escape_sequence(), c.key) << "ESC " << c.after_esc;
        EXPECT_EQ(read_key(), 1) << "ESC " << c.after_esc;
    }
    // ESC O with nothing after it: Alt-O typed with Shift.
    screen.feed("O");
    EXPECT_EQ(read_escape_sequence(), alt_key('o'));
    EXPECT_NE(alt_key('a'), alt_key('b'));
    EXPECT_GT(alt_key('z'), KEY_ALT_V);
}

TEST(SelectionBar, NamesTheBytesTheirEndsAndTheKeysThatMayAct) {
    EXPECT_EQ(selection_bar_text(90, 0x10, 0x2F, true, true),
              "Selected 32 bytes 00000010-0000002F  M-W Copy  M-K Cut  M-F Fill  M-O Write"
              "  M-A Clear");
    EXPECT_EQ(selection_bar_text(80, 0x10, 0x2F, true, true),
              "Selected 32 bytes 00000010-0000002F  M-W Copy  M-K Cut  M-F Fill  M-O Write");
    // Paged: no cut; read-only: no fill either. One byte reads as one.
    EXPECT_EQ(selection_bar_text(200, 7, 7, false, true),
              "Selected 1 byte 00000007-00000007  M-W Copy  M-F Fill  M-O Write  M-A Clear");
    EXPECT_EQ(selection_bar_text(200, 0, 0x1FFFFFFFF, false, false),
              "Selected 8589934592 bytes 00000000-1FFFFFFFF  M-W Copy  M-O Write  M-A Clear");
    // Narrow: a key that does not fit with a column to spare is left out
    // whole; the head is cut to the width.
    EXPECT_EQ(selection_bar_text(46, 0x10, 0x2F, true, true),
              "Selected 32 bytes 00000010-0000002F  M-W Copy");
    EXPECT_EQ(selection_bar_text(10, 0x10, 0x2F, true, true), "Selected 3");
    EXPECT_EQ(selection_bar_text(0, 0x10, 0x2F, true, true), "");
}

TEST(SelectionHighlight, ReversesBothPanesAndStacksOverModifiedBytesInBothLayouts) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    load_whole_file(letters(64));
    mod_table_set(5, 'X');
    mod_table_set(30, 'Y');
    WINDOW* w = Globals.main_win;
    for (int spacing : {1, 0}) {
        SCOPED_TRACE(spacing ? "wide" : "compact");
        Globals.spacing = spacing;
        EditingFixture::at(20, 2);
        select_mark = 4; // bytes 4..20: across the row's end
        draw_rows(0);
        for (int off = 0; off < 32; ++off) {
            const int row = off / 16;
            const int hex = hex_col_of_byte(static_cast<unsigned>(off % 16));
            const int text = 64 + off % 16;
            const bool sel = off >= 4 && off <= 20;
            const bool mod = off == 5 || off == 30;
            for (int col : {hex, hex + 1, text}) {
                const attr_t a = CursesScreen::attrs(w, row, col);
                EXPECT_EQ((a & A_REVERSE) != 0, sel) << "byte " << off << " col " << col;
                EXPECT_EQ((a & A_BOLD) != 0, mod) << "byte " << off << " col " << col;
            }
        }
        // The blanks between two selected bytes join them; those at the
        // selection's ends, and after a row's last byte, do not.
        EXPECT_NE(CursesScreen::attrs(w, 0, hex_col_of_byte(4) + 2) & A_REVERSE, 0u);
        EXPECT_EQ(CursesScreen::attrs(w, 0, hex_col_of_byte(3) + 2) & A_REVERSE, 0u);
        EXPECT_EQ(CursesScreen::attrs(w, 1, hex_col_of_byte(4) + 2) & A_REVERSE, 0u);
        EXPECT_EQ(CursesScreen::attrs(w, 0, hex_col_of_byte(15) + 2) & A_REVERSE, 0u);
        EXPECT_EQ(CursesScreen::attrs(w, 0, 63) & A_REVERSE, 0u);
    }
    // EBCDIC changes the characters, not the highlight.
    Globals.ebcdic = 1;
    draw_rows(0);
    EXPECT_NE(CursesScreen::attrs(w, 0, 64 + 10) & A_REVERSE, 0u);
    EXPECT_EQ(CursesScreen::attrs(w, 0, 64 + 3) & A_REVERSE, 0u);
}

TEST(TerminalClipboard, HexTextOfTheBytesBase64EncodedInTheTerminalsSequence) {
    const unsigned char bytes[] = {0x48, 0x65, 0x0C, 0xFF};
    EXPECT_EQ(clipboard_hex_text(bytes, 4), "48 65 0C FF");
    EXPECT_EQ(clipboard_hex_text(bytes, 1), "48");
    EXPECT_EQ(clipboard_hex_text(bytes, 0), "");
    // The vectors of RFC 4648.
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(base64_text(plain[i]), coded[i]) << plain[i];
    EXPECT_EQ(base64_text(std::string("\xFF\xFE\x00", 3)), "//4A");

    KeptEditorState keep;
    CursesScreen screen(24, 80); // xterm-256color: it has the capability
    clipboard.reset();
    EXPECT_EQ(terminal_clipboard_sequence(), "");
    clipboard = std::make_shared<ByteBuffer>(std::vector<unsigned char>{0x48, 0x69});
    EXPECT_EQ(terminal_clipboard_sequence(), "\x1b]52;c;" + base64_text("48 69") + "\x07");
    clipboard =
        std::make_shared<ByteBuffer>(std::vector<unsigned char>(TERMINAL_CLIPBOARD_LIMIT, 0xAB));
    EXPECT_EQ(terminal_clipboard_sequence().size(),
              8 + base64_text(std::string(3 * TERMINAL_CLIPBOARD_LIMIT - 1, 'x')).size());
    clipboard = std::make_shared<ByteBuffer>(
        std::vector<unsigned char>(TERMINAL_CLIPBOARD_LIMIT + 1, 0xAB));
    EXPECT_EQ(terminal_clipboard_sequence(), "");
}
