// The file browser seen from outside: started without a file, after the quit
// dialog's New File, moving over pages, entering directories and choosing.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string listing_bar = "^C ^X  Exit   ^M  Select File   k  Up   j  Down";
const std::string resize_bar = "^C ^X  Exit Program   ^M  Select File";

std::string pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// ".", ".." and files f01.. so that the test directory has `n` entries.
void make_entries(Terminal& t, int n) {
    for (int i = 1; i <= n - 2; ++i) {
        char name[16];
        snprintf(name, sizeof name, "f%02d", i);
        t.write_file(name, "x");
    }
}

// The browser shows `name` highlighted on screen row `row` and in the title.
void expect_selected(Terminal& t, int row, const std::string& name) {
    EXPECT_TRUE(t.expect_row(0, "File: " + name));
    EXPECT_TRUE(t.expect_text(row, 57, name + " ", Pos{row, 57}));
    // The plain listing and the highlight are separate writes: wait for both.
    EXPECT_TRUE(t.expect([&] { return t.cell(row, 57).bold; }, "the name in bold"));
}

void start_browser(Terminal& t, const std::vector<std::string>& args = {}) {
    t.start(args);
    ASSERT_TRUE(t.expect_row(t.lines() - 1, listing_bar, Pos{1, 57}));
}

bool have(const char* path) {
    return access(path, X_OK) == 0;
}

} // namespace

TEST(BrowserStart, NoFileListsTheWorkingDirectoryInLongFormat) {
    Terminal t(24, 80);
    t.write_file("data.bin", std::string(1234, 'd'));
    ASSERT_EQ(chmod(t.path("data.bin").c_str(), 0640), 0);
    struct tm when {};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_isdst = -1;
    time_t stamp = mktime(&when);
    struct timeval times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(utimes(t.path("data.bin").c_str(), times), 0);
    struct stat st;
    ASSERT_EQ(stat(t.path("data.bin").c_str(), &st), 0);
    struct passwd* pw = getpwuid(st.st_uid);
    struct group* gr = getgrgid(st.st_gid);
    std::string owner = pw ? pw->pw_name : std::to_string(st.st_uid);
    std::string group = gr ? gr->gr_name : std::to_string(st.st_gid);

    start_browser(t);
    EXPECT_TRUE(t.expect_row(0, "File: ."));
    EXPECT_TRUE(t.expect_row(23, listing_bar));
    EXPECT_TRUE(t.expect_text(1, 0, "drwx"));
    EXPECT_TRUE(t.expect_text(1, 57, ". "));
    EXPECT_TRUE(t.expect_text(2, 57, ".. "));
    EXPECT_TRUE(t.expect_row(3, "-rw-r----- " + pad(owner.substr(0, 10), 8) + " " +
                                    pad(group.substr(0, 10), 8) +
                                    "       1234 2021-03-04 05:06 data.bin"));
    EXPECT_TRUE(t.expect_row(4, ""));
    // Colour: the listing white on blue, the highlighted name bold green on blue.
    // Text and colours may arrive in separate writes: poll for the colours.
    EXPECT_TRUE(t.expect(
        [&] {
            Cell plain = t.cell(3, 0);
            return plain.fg == 7 && plain.bg == 4 && !plain.bold;
        },
        "the listing white on blue, not bold"));
    EXPECT_TRUE(t.expect(
        [&] {
            Cell highlight = t.cell(1, 57);
            return highlight.bold && highlight.fg == 2 && highlight.bg == 4;
        },
        "the highlighted name bold green on blue"));
    EXPECT_TRUE(t.expect([&] { return t.cell(12, 40).bg == 4; },
                         "rows after the last entry are blue blanks"));
    t.settle();
    EXPECT_TRUE(t.holds_for([&] { return !t.cell(1, 58).bold; }, "the cell after the name plain"));
}

TEST(BrowserKeys, TwoEntriesKeepTheHighlightOnTheSecond) {
    Terminal t(24, 80);
    start_browser(t);
    t.send(keys::down);
    expect_selected(t, 2, "..");
    for (const std::string& key : {keys::down, keys::page_down, keys::end, std::string("j")}) {
        t.send(key);
        t.settle();
        expect_selected(t, 2, "..");
        EXPECT_TRUE(t.holds_for([&] { return !t.cell(1, 57).bold; }, "\".\" plain"));
    }
    t.send(keys::home);
    expect_selected(t, 1, ".");
}

TEST(BrowserKeys, TwentyThreeEntriesMakeTwoPages) {
    Terminal t(24, 80);
    make_entries(t, 23);
    start_browser(t);
    for (int i = 0; i < 21; ++i)
        t.send(keys::down);
    expect_selected(t, 22, "f20");
    t.send(keys::down);
    expect_selected(t, 1, "f21");
    EXPECT_TRUE(t.expect_row(2, ""));
    t.send(keys::page_up);
    expect_selected(t, 1, ".");
    EXPECT_TRUE(t.expect_text(22, 57, "f20 "));
    t.send(keys::end);
    expect_selected(t, 1, "f21");
    t.send(keys::home);
    expect_selected(t, 1, ".");
    t.send(keys::page_down);
    expect_selected(t, 1, "f21");
    t.send("k");
    expect_selected(t, 22, "f20");
    t.settle();
    EXPECT_TRUE(expect_steady(
        t, [&] { return !t.cell(1, 57).bold; }, "\".\" plain"));
}

TEST(BrowserKeys, ControlLRedrawsWithTheShortKeyBar) {
    Terminal t(24, 80);
    make_entries(t, 4);
    start_browser(t);
    t.send("jj");
    expect_selected(t, 3, "f01");
    t.wipe();
    t.send(ctrl('l'));
    EXPECT_TRUE(t.expect_row(23, "^C ^X  Exit   ^M  Select File"));
    expect_selected(t, 3, "f01");
    EXPECT_TRUE(t.expect_text(4, 57, "f02 "));
}

TEST(BrowserDirectories, EnteringASubdirectoryAndDotDot) {
    Terminal t(24, 80);
    t.make_dir("sub");
    t.write_file("sub/inner.txt", "inner");
    start_browser(t);
    t.send("jj" + keys::enter); // ".", "..", "sub"
    EXPECT_TRUE(t.expect_text(3, 57, "inner.txt "));
    expect_selected(t, 1, ".");
    EXPECT_TRUE(t.expect_row(23, listing_bar));
    t.send("j" + keys::enter); // ".." of sub: the test directory again
    EXPECT_TRUE(t.expect_text(3, 57, "sub "));
    EXPECT_TRUE(t.expect_text(3, 0, "d"));
    expect_selected(t, 1, ".");
    t.send(keys::enter); // "." lists the same directory again
    t.settle();
    EXPECT_TRUE(t.expect_text(3, 57, "sub "));
    expect_selected(t, 1, ".");
}

TEST(BrowserDirectories, ChosenFileInASubdirectoryOpensInTheEditor) {
    Terminal t(24, 80);
    t.make_dir("sub");
    t.write_file("sub/hello.bin", "Hello");
    start_browser(t);
    t.send("jj" + keys::enter);
    EXPECT_TRUE(t.expect_text(3, 57, "hello.bin "));
    t.send("jj" + keys::enter);
    EXPECT_TRUE(t.expect_text(0, 0, "File: hello.bin "));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  48 65 6C 6C  6F"));
    EXPECT_TRUE(t.expect_row(23, writable_bar, Pos{1, 10}));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(BrowserDirectories, UnreadableDirectoryShowsThePopupAndListsAgain) {
    Terminal t(24, 80);
    t.make_dir("locked");
    t.write_file("locked/inside", "x");
    t.write_file("z", "Z");
    t.write_file("zz", "ZZ");
    ASSERT_EQ(chmod(t.path("locked").c_str(), 0311), 0);
    if (geteuid() == 0) {
        // Root lacks no permission: run the program as "nobody" instead.
        const char* setpriv = have("/usr/bin/setpriv") ? "/usr/bin/setpriv"
                              : have("/bin/setpriv")   ? "/bin/setpriv"
                                                       : nullptr;
        if (!setpriv || !getpwnam("nobody"))
            GTEST_SKIP() << "running as root, and no setpriv or \"nobody\" to drop to";
        namespace fs = std::filesystem;
        fs::path root = fs::path(t.dir()).parent_path();
        chmod(root.c_str(), 0755);
        chmod(t.dir().c_str(), 0755);
        for (const auto& entry : fs::directory_iterator(root))
            if (entry.is_directory() && entry.path() != fs::path(t.dir()))
                chmod(entry.path().c_str(), 0777); // the sanitizer log directory
        struct passwd* nobody = getpwnam("nobody");
        t.start_program({setpriv, "--reuid=" + std::to_string(nobody->pw_uid),
                         "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups",
                         MORVANE_BINARY});
    } else {
        t.start();
    }
    ASSERT_TRUE(t.expect_row(23, listing_bar));
    t.send("jj" + keys::enter); // ".", "..", "locked"
    // The 50x6 popup at row 9, column 15.
    EXPECT_TRUE(t.expect_text(10, 29, "Cannot Change Direcotry"));
    std::string reason = "Reason: " + std::string(strerror(EACCES));
    EXPECT_TRUE(t.expect_text(12, 15 + 25 - static_cast<int>(reason.size()) / 2, reason));
    EXPECT_TRUE(t.expect_text(9, 15, "┌"));
    t.send("j"); // any key closes it; this one must not move the highlight
    EXPECT_TRUE(t.expect_row(23, listing_bar));
    expect_selected(t, 1, ".");
    EXPECT_TRUE(t.expect_text(3, 57, "locked "));
    t.send("jjj" + keys::enter); // "z" of the same, unchanged directory
    EXPECT_TRUE(t.expect_text(0, 0, "File: z "));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  5A"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
    chmod(t.path("locked").c_str(), 0755);
}

TEST(BrowserExit, ControlXAndControlCEndTheProgramWithStatusZero) {
    for (const std::string& key : {ctrl('x'), ctrl('c')}) {
        Terminal t(24, 80);
        t.write_file("a", "a");
        start_browser(t);
        t.send("j");
        t.settle();
        t.send(key);
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_TRUE(t.canonical_echo_mode());
    }
}

TEST(BrowserExit, TinyTerminalStillExitsOnControlXAndControlC) {
    for (const std::string& key : {ctrl('x'), ctrl('c')}) {
        Terminal t(2, 10);
        t.write_file("a", "a");
        t.start();
        t.settle();
        t.send("jjk");
        t.settle();
        EXPECT_TRUE(t.running());
        t.send(key);
        EXPECT_EQ(t.wait_exit(), 0);
    }
}

TEST(BrowserResize, SelectedEntryIsShownOnItsPageAtEverySize) {
    Terminal t(24, 80);
    make_entries(t, 23);
    start_browser(t);
    for (int i = 0; i < 21; ++i)
        t.send("j");
    expect_selected(t, 22, "f20");
    t.resize(12, 80); // ten rows a page: entry 21 is row 2 of page 2
    EXPECT_TRUE(t.expect_row(11, resize_bar));
    expect_selected(t, 2, "f20");
    EXPECT_TRUE(t.expect_text(1, 57, "f19 "));
    EXPECT_TRUE(t.expect_text(3, 57, "f21 "));
    EXPECT_TRUE(t.expect_row(4, ""));
    t.send("j");
    expect_selected(t, 3, "f21");
    t.resize(24, 80);
    EXPECT_TRUE(t.expect_row(23, resize_bar));
    expect_selected(t, 1, "f21"); // page 1 again: one entry more than a page
    t.resize(2, 80);
    t.settle();
    t.resize(24, 80);
    expect_selected(t, 1, "f21");
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(BrowserNewFile, QuitDialogNewFileAfterReadOnlyOpensTheChoiceWritable) {
    Terminal t(24, 80);
    t.write_file("first.bin", "AAAA");
    t.write_file("second.bin", "BBBB");
    t.start({"-r", "first.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  41 41 41 41"));
    t.send(ctrl('c'));
    ASSERT_TRUE(t.expect_text(11, 29, "   Really Quit?"));
    t.send("f");
    ASSERT_TRUE(t.expect_row(23, listing_bar));
    expect_selected(t, 1, ".");
    t.send("jjj" + keys::enter); // ".", "..", "first.bin", "second.bin"
    EXPECT_TRUE(t.expect_text(0, 0, "File: second.bin "));
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  42 42 42 42"));
    EXPECT_TRUE(t.expect_row(23, writable_bar, Pos{1, 10}));
    t.send("F"); // accepted: the file is writable now
    EXPECT_TRUE(t.expect_text(1, 0, "00000000  F2 42 42 42"));
    t.send(ctrl('c'));
    EXPECT_TRUE(t.expect_text(11, 30, "Quit without Saving?"));
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
    EXPECT_EQ(t.read_file("second.bin"), "BBBB");
    EXPECT_EQ(t.read_file("first.bin"), "AAAA");
}
