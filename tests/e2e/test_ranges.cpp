// Ranges as a user meets them: selecting with Shift and Alt-A, the bar and
// the highlight that follow the cursor, copy, cut, paste and fill, the bells
// where nothing may change, the clipboard across New File and the copy
// offered to the terminal's own clipboard.
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

using keys::alt;

namespace {

std::string letters(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('A' + i % 26);
    return s;
}

void start_with(Terminal& t, const std::string& bytes, std::vector<std::string> options = {},
                const Terminal::Env& env = {}) {
    t.write_file("a.bin", bytes);
    options.push_back("a.bin");
    t.start(options, env);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    ASSERT_TRUE(t.settle());
}

// Columns of byte i (0..15) of a row at 80 columns, wide layout.
int hex_col(int i) {
    static constexpr int cols[16] = {10, 13, 16, 19, 23, 26, 29, 32,
                                     37, 40, 43, 46, 50, 53, 56, 59};
    return cols[i];
}
int text_col(int i) {
    return 64 + i;
}

// Without colour (-n) a selected cell is in reverse video.
bool reversed(Terminal& t, int row, int col) {
    return t.cell(row, col).reverse;
}

// Exactly the bytes first..last of the screen's first row are shown
// selected, in both panes.
::testing::AssertionResult expect_selected_bytes(Terminal& t, int first, int last) {
    return t.expect(
        [&] {
            for (int i = 0; i < 16; ++i) {
                const bool want = i >= first && i <= last;
                for (int col : {hex_col(i), hex_col(i) + 1, text_col(i)})
                    if (reversed(t, 1, col) != want) return false;
            }
            return true;
        },
        "bytes " + std::to_string(first) + ".." + std::to_string(last) + " shown selected");
}

::testing::AssertionResult expect_bell(Terminal& t, int before) {
    return t.expect([&] { return t.bells() > before; }, "a bell");
}

// Shift-Right n times: the first sets the mark, each moves by a nibble.
std::string shift_rights(int n) {
    std::string keys;
    for (int i = 0; i < n; ++i)
        keys += keys::shift_right;
    return keys;
}

std::string bar(const std::string& head, bool cut = false, bool fill = true) {
    std::string b = head + "  M-W Copy";
    if (cut) b += "  M-K Cut";
    if (fill) b += "  M-F Fill";
    return b + "  M-O Write  M-A Clear";
}

} // namespace

TEST(RangeSelect, ShiftAndAltASelectBothPanesAndTheBarFollowsTheCursor) {
    Terminal t;
    start_with(t, letters(64), {"-n"});
    t.send(keys::shift_right + keys::shift_right + keys::shift_right);
    EXPECT_TRUE(t.expect_row(23, bar("Selected 2 bytes 00000000-00000001"), Pos{1, 14}));
    EXPECT_TRUE(expect_selected_bytes(t, 0, 1));
    // A plain move moves the end too; back past the mark it runs the other way.
    t.send(keys::right + keys::right);
    EXPECT_TRUE(t.expect_row(23, bar("Selected 3 bytes 00000000-00000002")));
    t.send(keys::home + keys::shift_down + keys::shift_end);
    EXPECT_TRUE(t.expect_row(23, bar("Selected 32 bytes 00000000-0000001F")));
    EXPECT_TRUE(expect_selected_bytes(t, 0, 15));
    t.send(alt('a'));
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(expect_selected_bytes(t, 0, -1));
    // F9 sets the mark where the cursor is; Shift-Up and Shift-Left go
    // back past it; ESC A (Alt with Shift) clears it again.
    t.send(keys::f9);
    EXPECT_TRUE(t.expect_row(23, bar("Selected 1 byte 0000001F-0000001F")));
    t.send(keys::shift_up + keys::shift_left); // the row above, its high nibble
    EXPECT_TRUE(t.expect_row(23, bar("Selected 17 bytes 0000000F-0000001F")));
    EXPECT_TRUE(expect_selected_bytes(t, 15, 15));
    EXPECT_TRUE(t.cell(2, hex_col(15) + 1).reverse);
    EXPECT_TRUE(t.cell(2, text_col(15)).reverse);
    EXPECT_FALSE(t.cell(2, hex_col(15) + 2).reverse) << "no band past the selection's end";
    EXPECT_TRUE(t.cell(2, hex_col(3) + 2).reverse) << "a band between selected bytes";
    t.send(alt('A'));
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_FALSE(t.cell(2, hex_col(0)).reverse);
    // Page keys with Shift: the mark is set, the page moves.
    t.send(keys::shift_page_down); // the whole file fits: onto its last row
    EXPECT_TRUE(t.expect_row(23, bar("Selected 49 bytes 0000000F-0000003F")));
    t.send(keys::shift_page_up);
    EXPECT_TRUE(t.expect_row(23, bar("Selected 1 byte 0000000F-0000000F")));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(RangeSelect, TheHighlightFollowsResizesLayoutsCharsetsAndColour) {
    Terminal t;
    start_with(t, letters(64)); // colour on: xterm-256color has it
    t.send(keys::right + keys::right + shift_rights(4));
    ASSERT_TRUE(t.expect_row(23, bar("Selected 3 bytes 00000001-00000003")));
    // With colour the selection has its own pair: white on magenta.
    auto selected_colours = [&](int row, int col) {
        const Cell c = t.cell(row, col);
        return c.fg == 7 && c.bg == 5;
    };
    EXPECT_TRUE(t.expect(
        [&] {
            return selected_colours(1, hex_col(1)) && selected_colours(1, text_col(3)) &&
                   !selected_colours(1, hex_col(0)) && !selected_colours(1, text_col(4));
        },
        "bytes 1..3 in the selection's colours"));
    // A modified byte inside it is bold as well.
    t.send("7");
    EXPECT_TRUE(
        t.expect([&] { return t.cell(1, hex_col(3)).bold && selected_colours(1, hex_col(3)); },
                 "the typed byte bold in the selection's colours"));
    t.send(keys::f5); // colour off: reverse video
    EXPECT_TRUE(t.expect([&] { return reversed(t, 1, hex_col(2)) && !reversed(t, 1, hex_col(4)); },
                         "the selection in reverse video"));
    t.resize(30, 100);
    // At 100 columns the text pane starts at column 84.
    EXPECT_TRUE(t.expect(
        [&] {
            return reversed(t, 1, hex_col(1)) && reversed(t, 1, 84 + 3) && !reversed(t, 1, 84 + 4);
        },
        "the selection after a resize"));
    t.resize(24, 80);
    t.send(ctrl('p')); // compact: bytes 1..3 at columns 12, 14, 16
    EXPECT_TRUE(t.expect(
        [&] {
            return reversed(t, 1, 12) && reversed(t, 1, 17) && !reversed(t, 1, 10) &&
                   !reversed(t, 1, 19);
        },
        "the selection in the compact layout"));
    t.send(ctrl('r')); // EBCDIC: other characters, the same cells selected
    EXPECT_TRUE(t.expect([&] { return t.text(1, 64, 1) == "." && reversed(t, 1, text_col(1)); },
                         "the selection in EBCDIC"));
    // The text view has no selection keys: Alt-A does nothing there.
    t.send(ctrl('e'));
    ASSERT_TRUE(t.expect([&] { return row_with(t, "00000000  ") < 0; }, "the text view"));
    EXPECT_TRUE(t.expect_row(23, writable_bar)) << "the text view keeps its own bar";
    t.send(alt('a'));
    EXPECT_TRUE(t.expect_unchanged());
    t.send(ctrl('e'));
    EXPECT_TRUE(t.expect_row(23, bar("Selected 3 bytes 00000001-00000003")));
}

TEST(RangeEdit, CopyThenPasteOverWritesTheBytesFromTheCursorAndKeepsIt) {
    Terminal t;
    start_with(t, letters(40), {"-n"});
    t.send(shift_rights(7)); // bytes 0..3
    ASSERT_TRUE(t.expect_row(23, bar("Selected 4 bytes 00000000-00000003")));
    t.send(alt('w'));
    EXPECT_TRUE(t.expect_row(23, writable_bar)) << "a copy clears the selection";
    EXPECT_TRUE(expect_marker(t, " "));
    t.send(keys::down + keys::home + keys::right + keys::right); // offset 0x11
    t.send(alt('y'));
    EXPECT_TRUE(t.expect_text(2, 10, "51 41 42 43  44 56", Pos{2, 13}));
    EXPECT_TRUE(expect_marker(t, "M"));
    EXPECT_TRUE(t.cell(2, hex_col(1)).bold);
    EXPECT_TRUE(t.cell(2, text_col(4)).bold);
    EXPECT_FALSE(t.cell(2, hex_col(5)).bold);
    // Past the end of the file: the bell, and nothing changes.
    const int bells = t.bells();
    t.send(keys::page_down + keys::end + alt('y')); // the last byte
    EXPECT_TRUE(expect_bell(t, bells));
    EXPECT_TRUE(t.expect_text(3, 10, "47 48 49"));
    // Undo takes the paste back as one step.
    t.send(ctrl('u'));
    EXPECT_TRUE(t.expect_text(2, 10, "51 52 53 54  55 56"));
    t.send(ctrl('t') + ctrl('u') + "17" + keys::enter + alt('y') + ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_TRUE(expect_marker(t, " "));
    std::string want = letters(40);
    want.replace(0x11, 4, "ABCD");
    EXPECT_EQ(t.read_file("a.bin"), want);
}

TEST(RangeEdit, CutAndPasteInMoveBytesInAWholeFile) {
    Terminal t;
    start_with(t, letters(40), {"-b", "-n"});
    t.send(keys::right + keys::right + keys::right + keys::right); // byte 2
    t.send(shift_rights(5));                                       // bytes 2..4
    ASSERT_TRUE(t.expect_row(23, "Selected 3 bytes 00000002-00000004  M-W Copy  M-K Cut  M-F Fill"
                                 "  M-O Write"));
    t.send(alt('k'));
    // The bytes go; the cursor stays where they began.
    EXPECT_TRUE(t.expect_text(1, 10, "41 42 46 47  48", Pos{1, 16}));
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000002 / 0x00000024"));
    // Pasted in before the byte under the cursor, which stays on the first
    // byte pasted.
    t.send(keys::down + alt('p'));
    EXPECT_TRUE(t.expect_text(2, 10, "54 55 43 44  45 56", Pos{2, 16}));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000012 / 0x00000027"));
    // A cut that reaches the file's last byte leaves the cursor on the new last byte.
    t.send(ctrl('t') + ctrl('u') + "37" + keys::enter + keys::shift_end + alt('K'));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000024 / 0x00000024"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_TRUE(expect_marker(t, " "));
    const std::string l = letters(40);
    EXPECT_EQ(t.read_file("a.bin"), l.substr(0, 2) + l.substr(5, 16) + "CDE" + l.substr(21, 16));
}

TEST(RangeEdit, FillRepeatsThePatternOverTheSelectionWhichStays) {
    Terminal t;
    start_with(t, letters(40), {"-n"});
    const int bells = t.bells();
    t.send(alt('f'));
    EXPECT_TRUE(expect_bell(t, bells)) << "no selection: nothing to fill";
    t.send(keys::right + keys::right + keys::shift_down + keys::shift_right);
    ASSERT_TRUE(t.expect_row(23, bar("Selected 17 bytes 00000001-00000011")));
    t.send(alt('f'));
    ASSERT_TRUE(expect_anywhere(t, "Fill Selection"));
    EXPECT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel"));
    t.send(keys::esc); // cancelled: nothing changes
    EXPECT_TRUE(t.expect_row(23, bar("Selected 17 bytes 00000001-00000011")));
    EXPECT_TRUE(expect_marker(t, " "));
    t.send(alt('F'));
    ASSERT_TRUE(expect_anywhere(t, "Fill Selection"));
    t.send("00ff01" + keys::enter);
    EXPECT_TRUE(t.expect_text(1, 10, "41 00 FF 01  00 FF 01 00   FF 01 00 FF  01 00 FF 01"));
    EXPECT_TRUE(t.expect_text(2, 10, "00 FF 53"));
    EXPECT_TRUE(t.expect_row(23, bar("Selected 17 bytes 00000001-00000011")));
    EXPECT_TRUE(expect_marker(t, "M"));
    // One undo step takes the whole fill back.
    t.send(ctrl('u'));
    EXPECT_TRUE(t.expect_text(1, 10, "41 42 43 44  45"));
    EXPECT_TRUE(t.expect_text(2, 10, "51 52 53"));
}

TEST(RangeEdit, BellsWhereNothingMayChangeAndReadOnlyFilesStillCopy) {
    Terminal t;
    t.write_file("b.bin", letters(20));
    start_with(t, letters(20), {"-n"});
    // Nothing selected: copy, cut, fill and write out ring; so does paste
    // with nothing copied yet.
    for (const std::string& key : {alt('w'), alt('k'), alt('f'), alt('o'), alt('y')}) {
        const int bells = t.bells();
        t.send(key);
        EXPECT_TRUE(expect_bell(t, bells)) << "key " << key.substr(1);
        EXPECT_TRUE(t.expect_row(23, writable_bar));
    }
    // Cut and paste in need the whole file held (-b).
    t.send(keys::shift_right);
    ASSERT_TRUE(t.expect_row(23, bar("Selected 1 byte 00000000-00000000")));
    for (const std::string& key : {alt('k'), alt('p')}) {
        const int bells = t.bells();
        t.send(key);
        EXPECT_TRUE(expect_bell(t, bells)) << "key " << key.substr(1);
    }
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_TRUE(t.expect_text(1, 10, "41 42 43"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);

    // Read-only: selecting and copying work; every change rings.
    Terminal r;
    r.write_file("c.bin", letters(20));
    r.start({"-r", "-n", "-b", "c.bin"});
    ASSERT_TRUE(r.expect_text(1, 0, "00000000  41"));
    r.send(shift_rights(3));
    ASSERT_TRUE(r.expect_row(23, "Selected 2 bytes 00000000-00000001  M-W Copy  M-O Write"
                                 "  M-A Clear"));
    int bells = r.bells();
    r.send(alt('f'));
    EXPECT_TRUE(expect_bell(r, bells));
    bells = r.bells();
    r.send(alt('k'));
    EXPECT_TRUE(expect_bell(r, bells));
    r.send(alt('w'));
    ASSERT_TRUE(r.expect([&] { return row_with(r, "Selected") < 0; }, "the copy clears it"));
    for (const std::string& key : {alt('y'), alt('p')}) {
        bells = r.bells();
        r.send(key);
        EXPECT_TRUE(expect_bell(r, bells)) << "key " << key.substr(1);
    }
    EXPECT_TRUE(expect_marker(r, "R"));
    EXPECT_TRUE(r.expect_text(1, 10, "41 42 43"));
    r.send(ctrl('x'));
    EXPECT_EQ(r.wait_exit(), 0);
    EXPECT_EQ(r.read_file("c.bin"), letters(20));
}

TEST(RangeClipboard, ACopyLivesOnIntoTheFileOpenedWithNewFile) {
    Terminal t;
    t.write_file("b.bin", std::string(16, 'z'));
    start_with(t, "0123456789");
    t.send(keys::right + keys::right + shift_rights(3)); // bytes 1..2
    ASSERT_TRUE(t.expect_row(23, bar("Selected 2 bytes 00000001-00000002")));
    t.send(alt('w'));
    ASSERT_TRUE(t.expect_row(23, writable_bar));
    t.send(keys::f9); // a mark in this file, which the next one does not keep
    ASSERT_TRUE(expect_anywhere(t, "Selected 1 byte"));
    t.send(ctrl('c'));
    ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    t.send("f");
    ASSERT_TRUE(expect_anywhere(t, "Select File"));
    t.send("jjj" + keys::enter); // ".", "..", "a.bin", "b.bin"
    ASSERT_TRUE(t.expect_text(0, 0, "File: b.bin "));
    EXPECT_TRUE(t.expect_row(23, writable_bar)) << "no selection in the new file";
    t.send(keys::right + keys::right + alt('y'));
    EXPECT_TRUE(t.expect_text(1, 10, "7A 31 32 7A"));
    t.send(ctrl('x'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(keys::enter);
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("b.bin"), "z12" + std::string(13, 'z'));
    EXPECT_EQ(t.read_file("a.bin"), "0123456789");
}

TEST(RangeClipboard, ACopyIsOfferedToATerminalThatDeclaresAClipboard) {
    // The hexadecimal text "42 43" in base64.
    const std::string offer = "\x1b]52;c;NDIgNDM=\x07";
    for (const char* term : {"xterm", "vt220"}) {
        SCOPED_TRACE(term);
        Terminal t;
        start_with(t, "ABCD", {"-n"}, {{"TERM", term}});
        // The terminal's own sequences for Shift-Right, which vt220's entry
        // does not name: the editor reads them itself.
        t.send(keys::right + keys::right + shift_rights(3));
        ASSERT_TRUE(expect_anywhere(t, "Selected 2 bytes 00000001-00000002"));
        t.send(alt('w'));
        ASSERT_TRUE(t.expect([&] { return row_with(t, "Selected") < 0; }, "the copy is made"));
        ASSERT_TRUE(t.settle());
        const bool has_clipboard = std::string(term) == "xterm";
        EXPECT_EQ(t.output().find(offer) != std::string::npos, has_clipboard) << "the offer";
        EXPECT_EQ(t.output().find("\x1b]52;") != std::string::npos, has_clipboard);
        t.send(ctrl('x'));
        EXPECT_EQ(t.wait_exit(), 0);
    }
}
