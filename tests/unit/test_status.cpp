// The status line and the command bar.
#include <gtest/gtest.h>

#include <string>

#include "curses_screen.h"
#include "editor_state.h"

namespace {

void set_file(const std::string& name, uint64_t last_offset, uint64_t cursor) {
    Globals.filename = name;
    Globals.filesize = last_offset;
    Globals.ebcdic = 0;
    Globals.file_state = 0;
    cursor_loc = cursor;
}

std::string blanks(size_t n) {
    return std::string(n, ' ');
}

} // namespace

TEST(StatusText, EightyColumnsEndOneColumnBeforeTheMarker) {
    KeptEditorState keep;
    set_file("data.bin", 0x3F, 0x10);
    const std::string expected =
        "File: data.bin" + blanks(17) + "   ASCII Offset: 0x00000010 / 0x0000003F (%25) ";
    EXPECT_EQ(status_text(80), expected);
    EXPECT_EQ(expected.size(), 78u);
}

TEST(StatusText, NamesTheCharacterSet) {
    KeptEditorState keep;
    set_file("x", 9, 0);
    Globals.ebcdic = 1;
    EXPECT_NE(status_text(80).find(" EBCDIC Offset: "), std::string::npos);
    Globals.ebcdic = 0;
    EXPECT_NE(status_text(80).find("  ASCII Offset: "), std::string::npos);
}

TEST(StatusText, PercentageOfOneByteFileAndOfTheLastByte) {
    KeptEditorState keep;
    set_file("a", 0, 0);
    EXPECT_NE(status_text(80).find("Offset: 0x00000000 / 0x00000000 (%00) "), std::string::npos);
    set_file("a", 0x1234, 0x1234);
    const std::string last = status_text(80);
    EXPECT_NE(last.find("/ 0x00001234 (%100) "), std::string::npos);
    EXPECT_EQ(last.size(), 79u); // the longer percentage still stops before the marker
    set_file("a", 200, 7);
    EXPECT_NE(status_text(80).find("(%04) "), std::string::npos);
}

TEST(StatusText, LongNameIsCutToTheNameField) {
    KeptEditorState keep;
    set_file(std::string(40, 'n') + "TAIL", 1, 0);
    const std::string text = status_text(80);
    EXPECT_EQ(text.substr(0, 6 + 25), "File: " + std::string(25, 'n'));
    EXPECT_EQ(text.substr(31, 8), "   ASCII");
    EXPECT_EQ(text.find("TAIL"), std::string::npos);
}

TEST(StatusText, OffsetsOfFourGibAndMoreAreCutBeforeTheMarker) {
    KeptEditorState keep;
    set_file("big", 0x1FFFFFFFFull, 0x100000000ull);
    const std::string text = status_text(80);
    EXPECT_EQ(text.size(), 79u);
    EXPECT_NE(text.find("Offset: 0x100000000 / 0x1FFFFFFFF (%50)"), std::string::npos);
    set_file("big", ~0ull, 0xFEDCBA9876543210ull);
    EXPECT_EQ(status_text(80).size(), 79u);
    EXPECT_NE(status_text(80).find("0xFEDCBA9876543210"), std::string::npos);
}

TEST(StatusText, NarrowWidthsKeepAnEmptyNameFieldAndNeverReachTheLastColumn) {
    KeptEditorState keep;
    set_file("name", 15, 3);
    EXPECT_EQ(status_text(55), "File:    ASCII Offset: 0x00000003 / 0x0000000F (%20) ");
    const std::string full = "File:    ASCII Offset: 0x00000003 / 0x0000000F (%20) ";
    for (int cols : {54, 40, 10, 2})
        EXPECT_EQ(status_text(cols), full.substr(0, cols - 1)) << cols;
    EXPECT_EQ(status_text(1), "");
    EXPECT_EQ(status_text(0), "");
}

TEST(StatusText, VeryWideTerminalsCapTheNameFieldAt1024) {
    KeptEditorState keep;
    set_file("w", 15, 15);
    const std::string at_1079 = status_text(1079);
    EXPECT_EQ(at_1079.size(), 1077u + 1); // (%100): one column longer
    const std::string at_2000 = status_text(2000);
    EXPECT_EQ(at_2000.size(), at_1079.size());
    EXPECT_EQ(at_2000.substr(6 + 1024, 8), "   ASCII");
}

TEST(StatusMarker, ShowsChangesAndReadOnly) {
    KeptEditorState keep;
    Globals.file_state = 0;
    EXPECT_EQ(status_marker(), ' ');
    Globals.file_state = 1;
    EXPECT_EQ(status_marker(), 'M');
    Globals.file_state = 2;
    EXPECT_EQ(status_marker(), 'R');
}

TEST(DrawStatus, MarkerInTheLastColumnAndNameBytesOneCellEach) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    set_file("a\x1b[2Jb", 0x1FFFFFFFFull, 0x100000000ull);
    Globals.file_state = 1;
    draw_status();
    const std::string row = CursesScreen::text(Globals.status_win, 0);
    EXPECT_EQ(row[6], 'a');
    EXPECT_NE(row[7], '\x1b');
    EXPECT_EQ(row.substr(8, 4), "[2Jb"); // the escape byte took exactly one cell
    EXPECT_EQ(row[78], ')');
    EXPECT_EQ(row[79], 'M');
}

TEST(DrawStatus, ShorterTextLeavesNoOldCharactersBehind) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    set_file("f", 0x1FFFFFFFFull, 0x100000000ull);
    Globals.file_state = 2;
    draw_status();
    Globals.filesize = 0xFF;
    cursor_loc = 5;
    draw_status();
    const std::string row = CursesScreen::text(Globals.status_win, 0);
    EXPECT_EQ(row.substr(68), "0FF (%02)  R");
}

TEST(CommandBar, EightyColumnsWritable) {
    const std::string bar = command_bar_text(80, 0);
    EXPECT_EQ(bar, "^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search");
    EXPECT_EQ(bar.size(), 75u);
}

TEST(CommandBar, EightyColumnsReadOnly) {
    const std::string bar = command_bar_text(80, 2);
    EXPECT_EQ(bar,
              "^G Help   ^C Exit   ^T goTo Offset   ^X Exit   ^W Search   ^L Redraw   F5 Color");
    EXPECT_EQ(bar.size(), 79u);
}

TEST(CommandBar, BelowEightColumnsIsEmptyAndEightShowsHelp) {
    EXPECT_EQ(command_bar_text(7, 0), "");
    EXPECT_EQ(command_bar_text(0, 2), "");
    EXPECT_EQ(command_bar_text(8, 0), "^G Help");
}

TEST(CommandBar, ReadOnlyEntriesStillNeedRoomForTheirLongForms) {
    // 20 columns left after Help: the short "Exit" would fit, the rule says no.
    EXPECT_EQ(command_bar_text(27, 2), "^G Help   ^T goTo Offset");
}

TEST(CommandBar, CharSetCanFollowRedrawWithoutTextMode) {
    EXPECT_EQ(command_bar_text(111, 0),
              "^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search"
              "   ^U Undo   ^L Redraw   ^R CharSet");
}

TEST(CommandBar, WideTerminalShowsEveryEntry) {
    EXPECT_EQ(command_bar_text(200, 0),
              "^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search"
              "   ^U Undo   ^L Redraw   ^E Text Mode   ^R CharSet   ^P Spacing   ^N Find Next"
              "   F5 Color");
}

TEST(CommandBar, IsDrawnFromColumnZero) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    Globals.file_state = 2;
    draw_command_bar();
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0), command_bar_text(80, 2) + " ");
}
