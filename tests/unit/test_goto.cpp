// Goto Offset and the relative jump: conversion, clamping and the dialogs.
#include <gtest/gtest.h>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

// The editor with a whole-file buffer of `size` bytes and the cursor at 0.
class JumpScreen : public ::testing::Test {
  protected:
    KeptEditorState kept_; // first: put back after the screen is gone
    void SetUp() override {
        Globals.buffered = 1;
        Globals.file_state = 0;
        Globals.spacing = 1;
        Globals.ebcdic = 0;
        Globals.print_set = 1;
        Globals.mode = 1;
        Globals.text_pane = 0;
        Globals.filename = "data.bin";
        load(1000);
        init_mod_table();
        jump_distance = 0;
        jump_key = 0;
        typeahead(-1); // queued keys must not hold back the screen updates we read
        refresh();     // as start-up does: a first read_key would repaint stdscr over all
    }
    void TearDown() override {
        buffer.clear();
        cursor_loc = 0;
        cursor_x = 10;
        cursor_y = 1;
        jump_distance = 0;
        jump_key = 0;
    }
    void load(uint64_t size) {
        std::vector<unsigned char> bytes(size);
        for (uint64_t i = 0; i < size; ++i)
            bytes[i] = static_cast<unsigned char>(i);
        load_whole_file(bytes);
        cursor_loc = 0;
        cursor_x = 10;
        cursor_y = 1;
    }
    void jump(int key, const std::string& keys) {
        screen_.feed(keys);
        jump_relative(key);
        update_screen();
    }
    void go(const std::string& keys) {
        screen_.feed(keys);
        goto_offset(Globals.filesize);
    }
    static std::string label_of_top_row() {
        return CursesScreen::text(Globals.main_win, 0).substr(0, 8);
    }

    CursesScreen screen_{24, 80};
};

} // namespace

TEST(GotoTarget, TakesTheBaseFromThePrefix) {
    EXPECT_EQ(goto_target("0x1F         ", 1000), 31u);
    EXPECT_EQ(goto_target("0X1f", 1000), 31u);
    EXPECT_EQ(goto_target("255", 1000), 255u);
    EXPECT_EQ(goto_target("0377", 1000), 255u);
    EXPECT_EQ(goto_target("12abc", 1000), 12u) << "conversion stops at the first stranger";
}

TEST(GotoTarget, ANumberBeyondTheFileGoesToTheLastByte) {
    EXPECT_EQ(goto_target("99999", 1000), 1000u);
    EXPECT_EQ(goto_target("0x100000000", 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(goto_target("18446744073709551615", UINT64_MAX), UINT64_MAX);
}

TEST(GotoTarget, UnusableTextGoesToOffsetZero) {
    EXPECT_EQ(goto_target("0x          ", 1000), 0u);
    EXPECT_EQ(goto_target("            ", 1000), 0u);
    EXPECT_EQ(goto_target("zz", 1000), 0u);
    EXPECT_EQ(goto_target("", 1000), 0u);
    EXPECT_EQ(goto_target("0x1FFFFFFFFFFFFFFFF", UINT64_MAX), 0u) << "out of range";
    EXPECT_EQ(goto_target("-5", 1000), 0u) << "a negative offset must not wrap to the end";
    EXPECT_EQ(goto_target("  -0x10", 1000), 0u);
}

TEST(JumpTarget, MovesByTheDistanceInsideTheFile) {
    bool clamped = true;
    EXPECT_EQ(jump_target(100, 16, true, 999, clamped), 116u);
    EXPECT_FALSE(clamped);
    EXPECT_EQ(jump_target(100, 100, false, 999, clamped), 0u);
    EXPECT_FALSE(clamped);
    EXPECT_EQ(jump_target(100, 899, true, 999, clamped), 999u);
    EXPECT_FALSE(clamped) << "landing exactly on the last byte is no clamp";
    EXPECT_EQ(jump_target(100, 0, false, 999, clamped), 100u);
    EXPECT_FALSE(clamped);
}

TEST(JumpTarget, StopsAtEitherEndAndSaysSo) {
    bool clamped = false;
    EXPECT_EQ(jump_target(100, 900, true, 999, clamped), 999u);
    EXPECT_TRUE(clamped);
    EXPECT_EQ(jump_target(100, 101, false, 999, clamped), 0u);
    EXPECT_TRUE(clamped);
    // A sum that does not fit in 64 bits still stops at the last byte.
    EXPECT_EQ(jump_target(UINT64_MAX - 5, UINT64_MAX, true, UINT64_MAX - 1, clamped),
              UINT64_MAX - 1);
    EXPECT_TRUE(clamped);
}

TEST_F(JumpScreen, GotoMovesTheCursorAndPutsItsRowOnTop) {
    cursor_y = 5;
    go("1F\n");
    EXPECT_EQ(cursor_loc, 31u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(cursor_x, 59) << "high digit of byte 15 in the wide layout";
    EXPECT_EQ(current_popup, nullptr);
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 36),
              "^G/^X/Escape Cancel   ^U Clear input");
}

TEST_F(JumpScreen, GotoReadsDecimalAndOctalAfterClearingThePrefix) {
    go("\x15"
       "255\n");
    EXPECT_EQ(cursor_loc, 255u);
    go("\x15"
       "0377\n");
    EXPECT_EQ(cursor_loc, 255u);
    go("\x15"
       "5000\n");
    EXPECT_EQ(cursor_loc, 999u);
    go("\n");
    EXPECT_EQ(cursor_loc, 0u) << "the bare prefix is offset 0";
}

TEST_F(JumpScreen, CancelledGotoLeavesTheCursorAlone) {
    cursor_loc = 40;
    cursor_x = 34;
    cursor_y = 3;
    for (std::string key : {"\x1b", "\x07", "\x18"}) {
        go("12" + key);
        EXPECT_EQ(cursor_loc, 40u);
        EXPECT_EQ(cursor_x, 34);
        EXPECT_EQ(cursor_y, 3);
    }
    go("\x15\n"); // an emptied field changes nothing either
    EXPECT_EQ(cursor_loc, 40u);
}

TEST_F(JumpScreen, JumpForwardsThenAgainWithN) {
    jump('+', "10\n");
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(label_of_top_row(), "00000010");
    jump_relative(0);
    update_screen();
    EXPECT_EQ(cursor_loc, 32u);
    EXPECT_EQ(label_of_top_row(), "00000020");
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 7), "^G Help");
}

TEST_F(JumpScreen, PromptKeysEditTheDistance) {
    jump('+', "123\177\n");
    EXPECT_EQ(cursor_loc, 0x12u);
    jump('+', "55\x15"
              "3\n");
    EXPECT_EQ(cursor_loc, 0x15u) << "Control-U starts the distance again";
    jump('-', "\x1b"
              "g"
              "2\n");
    EXPECT_EQ(cursor_loc, 0x13u) << "Escape and other keys are ignored";
    jump('+', "aB\n");
    EXPECT_EQ(cursor_loc, 0x13u + 0xAB);
}

TEST_F(JumpScreen, JumpsStopAtTheEndsOfTheFile) {
    cursor_loc = 20;
    jump('-', "100\n");
    EXPECT_EQ(cursor_loc, 0u);
    jump('+', "FFFFFFFFFFFFFFFFFF\n"); // digits beyond sixteen push the oldest out
    EXPECT_EQ(cursor_loc, 999u);
    EXPECT_EQ(cursor_x, hex_col_of_byte(999 % 16));
    EXPECT_EQ(label_of_top_row(), "000003E0");
}

TEST_F(JumpScreen, ACancelledPromptKeepsTheLastCompletedJumpForN) {
    jump('+', "10\n");
    ASSERT_EQ(cursor_loc, 16u);
    jump('-', "5\x07");
    EXPECT_EQ(cursor_loc, 16u);
    EXPECT_EQ(jump_distance, 0x10u);
    EXPECT_EQ(jump_key, '+');
    jump_relative(0);
    update_screen();
    EXPECT_EQ(cursor_loc, 32u);
    jump('-', "7\x18");
    jump_relative(0);
    update_screen();
    EXPECT_EQ(cursor_loc, 48u);
}

TEST_F(JumpScreen, NBeforeAnyJumpOnlyBringsTheCursorRowToTheTop) {
    cursor_loc = 0x45;
    cursor_y = 4;
    jump_relative(0);
    update_screen();
    EXPECT_EQ(cursor_loc, 0x45u);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(label_of_top_row(), "00000040");
}
