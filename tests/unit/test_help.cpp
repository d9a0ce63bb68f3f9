// The help menu: its text, its frame marks and scrolling, small terminals.
#include <gtest/gtest.h>

#include <csignal>

#include "curses_screen.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

const std::string disabled = "Disabled.  Use -b, --buffer option to enable";

// Opens the menu with `keys` queued (they must end it) and returns the
// screen rows as the terminal shows them when it has closed.
std::vector<std::string> shown_after(CursesScreen& screen, const std::string& keys) {
    typeahead(-1); // queued keys must not hold back the screen updates we read
    refresh();     // as start-up does: a first read_key would repaint stdscr over all
    screen.feed(keys);
    help_menu();
    std::vector<std::string> rows;
    for (int r = 0; r < LINES; ++r)
        rows.push_back(CursesScreen::text(curscr, r));
    return rows;
}

std::string line_at_col3(const std::string& row, size_t n) {
    return row.substr(3, n);
}

} // namespace

TEST(HelpText, InsertAndDeleteSayHowToEnableThemWithoutWholeFileMode) {
    KeptEditorState keep;
    Globals.buffered = 0;
    prepare_help_text();
    ASSERT_EQ(help_text.size(), 21u);
    EXPECT_EQ(Globals.help_lines, 21);
    EXPECT_EQ(help_text[4], "Insert/Add Byte     " + disabled);
    EXPECT_EQ(help_text[5], "Delete Byte         " + disabled);
    EXPECT_EQ(help_text[0], "Maneuver            Arror Keys (or h,j,k,l), Home, End");
    EXPECT_EQ(help_text[20], "Toggle Color        F5 (requires color capable terminal)");
}

TEST(HelpText, WholeFileModeNamesTheInsertAndDeleteKeys) {
    KeptEditorState keep;
    Globals.buffered = 1;
    prepare_help_text();
    prepare_help_text(); // completing twice must not add the keys twice
    EXPECT_EQ(help_text[4], "Insert/Add Byte     Control-a, Insert (^A)");
    EXPECT_EQ(help_text[5], "Delete Byte         Control-d, Delete (^D)");
    for (const std::string& line : help_text) {
        ASSERT_GT(line.size(), 20u) << line;
        EXPECT_EQ(line[19], ' ') << "names are padded to 20 columns: " << line;
        EXPECT_NE(line[20], ' ') << "keys start at column 20: " << line;
    }
}

TEST(HelpMenu, TwentyFourLinesShowTwentyLinesWithMoreBelow) {
    KeptEditorState keep;
    Globals.buffered = 0;
    prepare_help_text();
    CursesScreen screen(24, 80);
    auto rows = shown_after(screen, "q");
    EXPECT_EQ(rows[1].substr(34, 9), "Help Menu");
    EXPECT_EQ(rows[1].substr(73, 6), std::string(6, '?')) << "no (more) at the top";
    EXPECT_EQ(rows[22].substr(73, 6), "(more)");
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(line_at_col3(rows[2 + i], help_text[i].size()), help_text[i]) << i;
    EXPECT_EQ(rows[6].substr(3, 20 + disabled.size()), "Insert/Add Byte     " + disabled);
    EXPECT_EQ(rows[23].substr(34, 13), "Morvane 0.9.7");
    EXPECT_EQ(current_popup, nullptr);
}

TEST(HelpMenu, OneStepDownShowsTheLastLineAndMovesTheMarkToTheTop) {
    KeptEditorState keep;
    Globals.buffered = 1;
    prepare_help_text();
    CursesScreen screen(24, 80);
    for (const std::string& keys :
         std::vector<std::string>{"jq", "jjq", CursesScreen::key(KEY_DOWN) + "J\n"}) {
        auto rows = shown_after(screen, keys);
        EXPECT_EQ(rows[1].substr(73, 6), "(more)") << keys;
        EXPECT_EQ(rows[22].substr(73, 6), std::string(6, '?')) << keys;
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(line_at_col3(rows[2 + i], help_text[i + 1].size()), help_text[i + 1]);
        EXPECT_EQ(rows[5].substr(3, 42), "Insert/Add Byte     Control-a, Insert (^A)");
    }
    // Back up again: the first line is on top and the mark at the bottom.
    auto rows = shown_after(screen, "jk\x1b");
    EXPECT_EQ(line_at_col3(rows[2], help_text[0].size()), help_text[0]);
    EXPECT_EQ(rows[22].substr(73, 6), "(more)");
    EXPECT_EQ(rows[1].substr(73, 6), std::string(6, '?'));
    // Scrolling blanks what a longer line left behind: after one step the
    // row of "Page Up" shows the shorter "Page Down".
    rows = shown_after(screen, "jq");
    ASSERT_LT(help_text[2].size(), help_text[1].size());
    EXPECT_EQ(rows[3].substr(3 + help_text[2].size(), 76 - help_text[2].size()),
              std::string(76 - help_text[2].size(), ' '));
}

TEST(HelpMenu, TwentyFiveLinesShowEverythingWithoutMarks) {
    KeptEditorState keep;
    prepare_help_text();
    CursesScreen screen(25, 80);
    for (std::string keys : {"q", "jQ", "kq"}) {
        auto rows = shown_after(screen, keys);
        for (int i = 0; i < 21; ++i)
            EXPECT_EQ(line_at_col3(rows[2 + i], help_text[i].size()), help_text[i]) << keys;
        EXPECT_EQ(rows[1].find("(more)"), std::string::npos) << keys;
        EXPECT_EQ(rows[23].find("(more)"), std::string::npos) << keys;
    }
}

TEST(HelpMenu, EveryLeavingKeyEndsTheMenuAndRestoresTheInterrupt) {
    KeptEditorState keep;
    prepare_help_text();
    CursesScreen screen(24, 80);
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    for (const std::string& key : std::vector<std::string>{"q", "Q", "\n", "\x1b", "\x07", "\x18",
                                                           "\x03", std::string(1, '\0')}) {
        screen.feed("x" + key); // an ordinary key first: it does nothing
        help_menu();
        struct sigaction after {};
        sigaction(SIGINT, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler) << int(key[0]);
        EXPECT_EQ(current_popup, nullptr);
    }
}

TEST(HelpMenu, WithColourThePopupIsWhiteOnBlue) {
    KeptEditorState keep;
    prepare_help_text();
    CursesScreen screen(24, 80, true);
    shown_after(screen, "q");
    EXPECT_EQ(CursesScreen::pair(curscr, 2, 3), 1);
    EXPECT_EQ(CursesScreen::pair(curscr, 2, 70), 1) << "the inside is painted, not just the text";
}

TEST(HelpMenu, TinyTerminalsGetNoCrashAndNothingOutsideThePopup) {
    KeptEditorState keep;
    prepare_help_text();
    const int sizes[][2] = {{1, 1}, {2, 10}, {3, 10}, {4, 20}, {5, 6}, {6, 12}, {24, 8}, {10, 30}};
    for (auto [lines, cols] : sizes) {
        CursesScreen screen(lines, cols);
        refresh();
        // A status line to watch: the menu must leave row 0 alone.
        if (lines >= 3) {
            wattrset(Globals.status_win, A_NORMAL);
            mvwaddnstr(Globals.status_win, 0, 0, "STATUSxxxxxxxxxxxxxxxxxxxxxxxxxxx", cols);
            wrefresh(Globals.status_win);
        }
        auto rows = shown_after(screen, "jjkq");
        ASSERT_EQ(rows.size(), static_cast<size_t>(lines));
        if (lines < 3) continue;
        EXPECT_EQ(rows[0], std::string("STATUSxxxxxxxxxxxxxxxxxxxxxxxxxxx").substr(0, cols))
            << lines << "x" << cols;
        // The right border survives on every row of the popup: nothing wrapped.
        for (int r = 1; r <= lines - 2; ++r)
            EXPECT_EQ(rows[r].back(), '?') << lines << "x" << cols << " row " << r;
    }
}
