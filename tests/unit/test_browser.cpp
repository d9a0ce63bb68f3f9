#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"

namespace {

std::string cwd() {
    return std::filesystem::current_path().string();
}

// A temporary directory that the test works in; the old working directory
// and the editor's state (the browser moves the cursor row) come back afterwards.
struct WorkDir {
    KeptEditorState keep;
    std::string path;
    std::string saved;
    WorkDir() {
        char tmpl[] = "/tmp/morvane-browser-XXXXXX";
        path = std::filesystem::canonical(mkdtemp(tmpl)).string();
        chmod(path.c_str(), 0755);
        saved = cwd();
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~WorkDir() {
        EXPECT_EQ(chdir(saved.c_str()), 0);
        std::filesystem::remove_all(path);
    }
    void file(const std::string& name, size_t size = 0) const {
        FILE* f = fopen((path + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        for (size_t i = 0; i < size; ++i)
            fputc('x', f);
        fclose(f);
    }
    void dir(const std::string& name) const { mkdir((path + "/" + name).c_str(), 0755); }
    // "." and ".." plus files f01.. so that the directory has `n` entries.
    void entries(int n) const {
        for (int i = 1; i <= n - 2; ++i) {
            char name[16];
            snprintf(name, sizeof name, "f%02d", i);
            file(name);
        }
    }
};

// The browser state of one pass over the working directory, as file_browser
// sets it up; released afterwards so that no test sees another's list.
struct Listing {
    Listing() {
        browser_list = getDirectory(".");
        build_pages();
        browser_page = 0;
        browser_selected = browser_list;
        cursor_y = 1;
        draw_listing(browser_list);
        highlight_name(browser_selected, 0, 1);
    }
    ~Listing() { release(); }
    static void release() {
        free_name_list(browser_list);
        browser_list = nullptr;
        browser_selected = nullptr;
        browser_pages.clear();
        browser_page = 0;
        cursor_y = 1;
    }
    static std::string selected() { return browser_selected ? browser_selected->name : "(none)"; }
};

std::string row_text(int row) {
    return CursesScreen::text(Globals.main_win, row);
}
bool bold_at(int row, int col) {
    return CursesScreen::attrs(Globals.main_win, row, col) & A_BOLD;
}

std::string pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

int run_without_privilege(const std::function<int()>& body) {
    if (geteuid() != 0) return body();
    struct passwd* pw = getpwnam("nobody");
    if (!pw) return -1;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(90);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 91;
}

} // namespace

TEST(PermissionString, TypeLettersForEveryKindOfEntry) {
    EXPECT_EQ(permission_string(S_IFREG | 0644), "-rw-r--r--");
    EXPECT_EQ(permission_string(S_IFDIR | 0755), "drwxr-xr-x");
    EXPECT_EQ(permission_string(S_IFCHR | 0620), "crw--w----");
    EXPECT_EQ(permission_string(S_IFBLK | 0660), "brw-rw----");
    EXPECT_EQ(permission_string(S_IFIFO | 0600), "prw-------");
    EXPECT_EQ(permission_string(S_IFSOCK | 0777), "srwxrwxrwx");
    EXPECT_EQ(permission_string(S_IFLNK | 0777), "lrwxrwxrwx");
    EXPECT_EQ(permission_string(0), "----------");
}

TEST(PermissionString, SpecialBitsShowInTheExecutePositions) {
    EXPECT_EQ(permission_string(S_IFREG | S_ISUID | 0755), "-rwsr-xr-x");
    EXPECT_EQ(permission_string(S_IFDIR | S_ISVTX | 0777), "drwxrwxrwt");
    EXPECT_EQ(permission_string(S_IFREG | S_ISGID | 0745), "-rwxr-Sr-x");
    EXPECT_EQ(permission_string(S_IFREG | S_ISUID | 0644), "-rwSr--r--");
    EXPECT_EQ(permission_string(S_IFDIR | S_ISVTX | 0776), "drwxrwxrwT");
    EXPECT_EQ(permission_string(S_IFREG | S_ISUID | S_ISGID | S_ISVTX | 0777), "-rwsrwsrwt");
}

TEST(BrowserPages, TwoEntriesOnTwentyFourLinesMakeOnePage) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    Listing listing;
    EXPECT_EQ(browser_rows(), 22);
    EXPECT_EQ(browser_page_count(), 1);
    EXPECT_EQ(browser_pages[0], browser_list);
}

TEST(BrowserPages, TwentyThreeEntriesMakeTwoPagesTheSecondAtEntry22) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.entries(23);
    Listing listing;
    ASSERT_EQ(browser_page_count(), 2);
    EXPECT_EQ(browser_pages[1]->name, "f21");
    EXPECT_EQ(browser_pages[1]->p, nullptr);
}

TEST(BrowserPages, TinyTerminalStillHasOneEntryPages) {
    CursesScreen screen(2, 10);
    WorkDir dir;
    dir.entries(3);
    Listing listing;
    EXPECT_EQ(browser_rows(), 1);
    EXPECT_EQ(browser_page_count(), 3);
}

TEST(ListingLine, FileShowsPermissionsOwnerGroupSizeDateAndName) {
    WorkDir dir;
    dir.file("data.bin", 1234);
    chmod("data.bin", 0640);
    struct tm when {};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_isdst = -1;
    struct timeval times[2] = {{mktime(&when), 0}, {mktime(&when), 0}};
    ASSERT_EQ(utimes("data.bin", times), 0);
    struct stat st;
    ASSERT_EQ(stat("data.bin", &st), 0);
    struct passwd* pw = getpwuid(st.st_uid);
    struct group* gr = getgrgid(st.st_gid);
    std::string owner = pw ? pw->pw_name : std::to_string(st.st_uid);
    std::string group = gr ? gr->gr_name : std::to_string(st.st_gid);

    std::string expected = "-rw-r----- " + pad(owner.substr(0, 10), 8) + " " +
                           pad(group.substr(0, 10), 8) + " " + "      1234" + " 2021-03-04 05:06 " +
                           "data.bin";
    if (owner.size() <= 8 && group.size() <= 8) {
        EXPECT_EQ(expected.find("data.bin"), 57u);
    }
    EXPECT_EQ(listing_line("data.bin", 80), pad(expected, 80));
}

TEST(ListingLine, NameIsCutAtTheWidthAndNothingShowsBelow58Columns) {
    WorkDir dir;
    dir.file("abcdefgh");
    EXPECT_EQ(listing_line("abcdefgh", 60).size(), 60u);
    EXPECT_EQ(listing_line("abcdefgh", 60).substr(57), "abc");
    EXPECT_EQ(listing_line("abcdefgh", 57).find("abc"), std::string::npos);
    EXPECT_EQ(listing_line("abcdefgh", 20).size(), 20u);
    EXPECT_EQ(listing_line("abcdefgh", 0), "");
}

TEST(ListingLine, UnreadableStatusLeavesBlanksBeforeTheName) {
    WorkDir dir;
    ASSERT_EQ(symlink("/nonexistent/target", "dangling"), 0);
    EXPECT_EQ(listing_line("dangling", 70), std::string(57, ' ') + pad("dangling", 13));
}

TEST(ListingLine, ElevenDigitSizePushesTheNameRight) {
    WorkDir dir;
    dir.file("big");
    ASSERT_EQ(truncate("big", 12345678901LL), 0);
    std::string line = listing_line("big", 80);
    EXPECT_NE(line.find(" 12345678901 "), std::string::npos);
    EXPECT_EQ(line.substr(58, 3), "big");
}

TEST(BrowserDrawing, ListingIsInPairOneAndHighlightBoldInPairTwo) {
    CursesScreen screen(24, 80, true);
    WorkDir dir;
    dir.file("a");
    Listing listing;
    WINDOW* w = Globals.main_win;
    EXPECT_EQ(row_text(2).substr(57, 2), "a ");
    for (int row : {0, 2, 3, 21})
        for (int col : {0, 56, 57, 79}) {
            if (row == 0 && col == 57) continue;
            EXPECT_EQ(CursesScreen::pair(w, row, col), 1) << row << "," << col;
        }
    EXPECT_EQ(row_text(3), std::string(80, ' '));
    EXPECT_EQ(CursesScreen::pair(w, 0, 57), 2);
    EXPECT_TRUE(bold_at(0, 57));
    EXPECT_FALSE(bold_at(0, 58)) << "only the name is highlighted";
    highlight_name(browser_selected, 0, 0);
    EXPECT_EQ(CursesScreen::pair(w, 0, 57), 1);
    EXPECT_FALSE(bold_at(0, 57));
}

TEST(BrowserDrawing, NamesWithControlBytesTakeOneCellPerByte) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.file("x\x1b[2Jy\tz");
    Listing listing;
    // ".", "..", then the odd name on row 2: 8 bytes, 8 cells.
    std::string row = row_text(2);
    EXPECT_EQ(row.substr(57, 9), "x?[2Jy?z ");
    draw_browser_title("x\x1b[2Jy\tz");
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0).substr(0, 15), "File: x?[2Jy?z ");
}

TEST(BrowserDrawing, TitleFillsTheStatusLineInReverse) {
    CursesScreen screen(24, 80);
    draw_browser_title("notes.txt");
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0), pad("File: notes.txt", 80));
    EXPECT_TRUE(CursesScreen::attrs(Globals.status_win, 0, 79) & A_REVERSE);
    std::string long_name(100, 'n');
    draw_browser_title(long_name);
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0), "File: " + std::string(74, 'n'));
}

TEST(BrowserKeys, UpFromTheFirstRowShowsThePreviousPageAtItsLastEntry) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.entries(23);
    Listing listing;
    browser_line_up(); // first entry of the list: nothing changes
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(Listing::selected(), ".");
    browser_end();
    browser_line_up();
    EXPECT_EQ(browser_page, 0);
    EXPECT_EQ(cursor_y, 22);
    EXPECT_EQ(Listing::selected(), "f20");
    EXPECT_TRUE(bold_at(21, 57));
    browser_line_up();
    EXPECT_EQ(cursor_y, 21);
    EXPECT_EQ(Listing::selected(), "f19");
    EXPECT_FALSE(bold_at(21, 57));
}

TEST(BrowserKeys, PageDownOntoAShortLastPageTakesItsLastEntry) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.entries(25);
    Listing listing;
    for (int i = 0; i < 4; ++i)
        browser_line_down();
    ASSERT_EQ(cursor_y, 5);
    browser_page_down();
    EXPECT_EQ(browser_page, 1);
    EXPECT_EQ(cursor_y, 3);
    EXPECT_EQ(Listing::selected(), "f23");
    EXPECT_TRUE(bold_at(2, 57));
    browser_page_down(); // no next page: the last entry of the list
    EXPECT_EQ(cursor_y, 3);
    browser_page_up(); // back on a full page, on the same row
    EXPECT_EQ(browser_page, 0);
    EXPECT_EQ(cursor_y, 3);
    EXPECT_EQ(Listing::selected(), "f01");
    browser_page_up(); // first page: the first entry
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(Listing::selected(), ".");
    EXPECT_FALSE(bold_at(2, 57));
}

TEST(BrowserKeys, HomeAndEndCrossPages) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.entries(25);
    Listing listing;
    browser_line_down();
    browser_end();
    EXPECT_EQ(browser_page, 1);
    EXPECT_EQ(cursor_y, 3);
    EXPECT_EQ(Listing::selected(), "f23");
    EXPECT_EQ(row_text(0).substr(57, 3), "f21");
    browser_home();
    EXPECT_EQ(browser_page, 0);
    EXPECT_EQ(cursor_y, 1);
    EXPECT_EQ(Listing::selected(), ".");
    EXPECT_TRUE(bold_at(0, 57));
    for (int i = 0; i < 3; ++i)
        browser_line_down();
    browser_home(); // same page: only the highlight moves
    EXPECT_EQ(cursor_y, 1);
    EXPECT_FALSE(bold_at(3, 57));
}

TEST(BrowserResize, SelectionStaysOnThePageThatHoldsIt) {
    WorkDir dir;
    dir.entries(23);
    {
        CursesScreen screen(24, 80);
        Listing listing;
        for (int i = 0; i < 21; ++i)
            browser_line_down();
        ASSERT_EQ(Listing::selected(), "f20");
        CursesScreen smaller(12, 80); // the resize handler made new windows
        browser_resize_redraw();
        EXPECT_EQ(browser_page_count(), 3);
        EXPECT_EQ(browser_page, 2);
        EXPECT_EQ(cursor_y, 2);
        EXPECT_EQ(Listing::selected(), "f20");
        EXPECT_EQ(row_text(0).substr(57, 3), "f19");
        EXPECT_EQ(row_text(1).substr(57, 3), "f20");
        EXPECT_TRUE(bold_at(1, 57));
        EXPECT_EQ(CursesScreen::text(Globals.help_win, 0),
                  pad("^C ^X  Exit Program   ^M  Select File", 80));
        EXPECT_EQ(CursesScreen::text(Globals.status_win, 0).substr(0, 10), "File: f20 ");
        // The state is consistent: the next key moves from there.
        browser_line_down();
        EXPECT_EQ(Listing::selected(), "f21");
        EXPECT_EQ(cursor_y, 3);
    }
    CursesScreen screen(24, 80);
    Listing listing;
    browser_resize_redraw();
    EXPECT_EQ(browser_page_count(), 2) << "one entry more than a page still needs two pages";
}

TEST(BrowserResize, ShrinkingBelowThreeLinesKeepsTheStateUsable) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.entries(5);
    Listing listing;
    browser_end();
    CursesScreen tiny(2, 10);
    browser_resize_redraw();
    EXPECT_EQ(browser_page, 4);
    EXPECT_EQ(cursor_y, 1);
    browser_line_up();
    EXPECT_EQ(Listing::selected(), "f02");
}

TEST(FileBrowser, EntersASubdirectoryAndReturnsTheBareName) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.file("a");
    dir.dir("sub");
    dir.file("sub/c");
    // ".", "..", "a", "sub": into sub; there ".", "..", "c".
    screen.feed("jjj\njj\n");
    EXPECT_EQ(file_browser(), "c");
    EXPECT_EQ(cwd(), dir.path + "/sub");
    EXPECT_EQ(Globals.mode, 0);
    EXPECT_EQ(browser_list, nullptr) << "the list is released on return";
}

TEST(FileBrowser, DotListsAgainFromTheTopAndDotDotGoesUp) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.file("a");
    dir.dir("sub");
    dir.file("sub/c");
    ASSERT_EQ(chdir("sub"), 0);
    screen.feed("\njj\n"); // "." lists sub again: ".", "..", "c"
    EXPECT_EQ(file_browser(), "c");
    EXPECT_EQ(cwd(), dir.path + "/sub");
    screen.feed("j\njj\n"); // "..", then "a" of the parent
    EXPECT_EQ(file_browser(), "a");
    EXPECT_EQ(cwd(), dir.path);
}

TEST(FileBrowser, StartsAtTheTopWithTheLongKeyBar) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    dir.file("only");
    screen.feed("jj\n");
    EXPECT_EQ(file_browser(), "only");
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0),
              pad("^C ^X  Exit   ^M  Select File   k  Up   j  Down", 80));
    EXPECT_EQ(CursesScreen::text(Globals.status_win, 0), pad("File: only", 80));
    EXPECT_EQ(row_text(0).substr(0, 1), "d");
    EXPECT_EQ(row_text(0).substr(57, 2), ". ");
}

TEST(FileBrowser, EntryWithoutStatusIsReturnedAsAFile) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    ASSERT_EQ(symlink("/nonexistent/target", "dangling"), 0);
    screen.feed("jj\n");
    EXPECT_EQ(file_browser(), "dangling");
    EXPECT_EQ(row_text(2), pad(std::string(57, ' ') + "dangling", 80));
}

TEST(FileBrowser, RawEscapeSequencesAreDecodedAndOthersIgnored) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    for (const char* name : {"a", "b", "c"})
        dir.file(name);
    // ESC x does nothing; ESC [ 6 and one dropped key is Page Down (here:
    // the last entry); ESC [ 5 is Page Up (the first); two downs reach "a".
    screen.feed("\033x\033[6z\033[5zjj\n");
    EXPECT_EQ(file_browser(), "a");
    screen.feed("\033[6z\n");
    EXPECT_EQ(file_browser(), "c");
}

TEST(FileBrowser, FunctionKeyFiveSwitchesColourUnlessForcedOff) {
    CursesScreen screen(24, 80, true);
    WorkDir dir;
    dir.file("a");
    screen.feed(CursesScreen::key(KEY_F(5)) + "jj\n");
    EXPECT_EQ(file_browser(), "a");
    EXPECT_EQ(color, 0);
    EXPECT_EQ(CursesScreen::pair(Globals.main_win, 1, 0), 0);
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0), pad("^C ^X  Exit   ^M  Select File", 80));
    color_forced_off = true;
    screen.feed(CursesScreen::key(KEY_F(5)) + "jj\n");
    EXPECT_EQ(file_browser(), "a");
    EXPECT_EQ(color, 0);
    color_forced_off = false;
}

TEST(FileBrowser, WorksWithoutARowToShowOn) {
    WorkDir dir;
    dir.file("a");
    for (auto [lines, cols] : {std::pair{1, 1}, std::pair{2, 10}}) {
        CursesScreen screen(lines, cols);
        screen.feed("jj\n"); // one entry a page: pages 0, 1, 2
        EXPECT_EQ(file_browser(), "a") << lines << "x" << cols;
    }
}

TEST(FileBrowser, UnreadableDirectoryShowsThePopupAndListsTheSameDirectory) {
    WorkDir dir;
    dir.dir("locked");
    dir.file("locked/inside");
    chmod("locked", 0711);
    dir.file("z");
    dir.file("zz");
    const std::string start = dir.path;
    int result = run_without_privilege([&] {
        CursesScreen screen(24, 80);
        // ".", "..", "locked", "z", "zz": Enter on locked, a key for the
        // popup (a "j" that must not move the highlight), then from the top
        // again to "z".
        screen.feed("jj\njjjj\n");
        if (file_browser() != "z") return 1;
        return cwd() == start ? 0 : 2;
    });
    chmod("locked", 0755);
    if (result == -1) GTEST_SKIP() << "running as root without a \"nobody\" user to drop to";
    EXPECT_EQ(result, 0) << "1: another entry chosen, 2: working directory changed";
}

TEST(FileBrowser, WorksInADirectoryWhosePathIsLongerThan1024Bytes) {
    CursesScreen screen(24, 80);
    WorkDir dir;
    const std::string part(100, 'p');
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
        ASSERT_EQ(chdir(part.c_str()), 0);
    }
    FILE* f = fopen("deep", "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    std::string deep = cwd();
    ASSERT_GT(deep.size(), 1200u);
    screen.feed("\njj\n"); // "." first: the long path is read on every pass
    EXPECT_EQ(file_browser(), "deep");
    EXPECT_EQ(cwd(), deep);
}

TEST(BrowserListDirectory, UnlistableDirectoryFallsBackToThePreviousAndGoesThere) {
    WorkDir dir;
    dir.dir("gone");
    dir.file("kept");
    std::string cur = dir.path + "/gone";
    ASSERT_EQ(chdir(cur.c_str()), 0);
    ASSERT_EQ(rmdir(cur.c_str()), 0); // entered, then it vanished
    browser_list_directory(cur, dir.path);
    EXPECT_EQ(cur, dir.path);
    EXPECT_EQ(cwd(), dir.path) << "listing and working directory agree";
    ASSERT_NE(browser_list, nullptr);
    EXPECT_EQ(browser_list->p->p->name, "kept");
    Listing::release();
}

TEST(BrowserListDirectoryDeathTest, NeitherDirectoryListableEndsWithTheFirstReason) {
    WorkDir dir;
    dir.file("plain");
    std::string cur = dir.path + "/plain"; // fails with "Not a directory"
    EXPECT_EXIT(browser_list_directory(cur, dir.path + "/absent"), ::testing::ExitedWithCode(1),
                "/absent: Not a directory");
}

TEST(FileBrowserDeathTest, ControlXAndControlCEndTheProgramWithStatusZero) {
    WorkDir dir;
    EXPECT_EXIT(
        {
            CursesScreen screen(24, 80);
            screen.feed("j\x18");
            file_browser();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            CursesScreen screen(1, 1);
            screen.feed("\x03");
            file_browser();
        },
        ::testing::ExitedWithCode(0), "");
}
