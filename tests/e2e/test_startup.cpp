// Start-up seen from outside: the command line, the MORVANE variable, files
// that cannot be edited, large files and the first screen.
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

// "Hello, hex world" then '!', NUL, DEL and 0xFF: 20 bytes, two rows.
const std::string sample20 = std::string("Hello, hex world!") + '\0' + "\x7f\xff";

const std::string read_only_bar =
    "^G Help   ^C Exit   ^T goTo Offset   ^X Exit   ^W Search   ^L Redraw   F5 Color";
const std::string browser_bar = "^C ^X  Exit   ^M  Select File   k  Up   j  Down";

std::vector<std::string> sample20_screen() {
    std::vector<std::string> rows(24, "");
    rows[0] = "File: sample.bin                  ASCII Offset: 0x00000000 / 0x00000013 (%00)";
    rows[1] = "00000000  48 65 6C 6C  6F 2C 20 68   65 78 20 77  6F 72 6C 64   Hello, hex world";
    rows[2] = "00000010  21 00 7F FF                                           !...";
    rows[23] = writable_bar;
    return rows;
}

// The box of a failed start on 80x24: 50x6 at row 9, column 15.
void expect_error_box(Terminal& t, const std::string& message, const std::string& reason) {
    const int top = 9, left = 15;
    std::string line = "Reason: " + reason;
    EXPECT_TRUE(t.expect_text(top + 3, left + 25 - static_cast<int>(line.size()) / 2, line));
    if (!message.empty()) {
        EXPECT_TRUE(
            t.expect_text(top + 1, left + 25 - static_cast<int>(message.size()) / 2, message));
    }
    std::string edge;
    for (int i = 0; i < 48; ++i)
        edge += "─";
    EXPECT_TRUE(t.expect_text(top, left, "┌" + edge + "┐"));
    EXPECT_TRUE(t.expect_text(top + 5, left, "└" + edge + "┘"));
    EXPECT_TRUE(t.expect_text(top + 2, left, "│"));
    EXPECT_TRUE(t.expect_text(top + 2, left + 49, "│"));
    ASSERT_TRUE(t.settle()) << "the box waits for a key";
}

// The browser's first screen in a directory whose entries are known.
void expect_browser(Terminal& t, const std::vector<std::string>& names) {
    EXPECT_TRUE(t.expect_row(0, "File: ."));
    EXPECT_TRUE(t.expect_row(23, browser_bar));
    std::vector<Terminal::Seen> seen;
    for (size_t i = 0; i < names.size(); ++i)
        seen.push_back({{1 + static_cast<int>(i), 57}, names[i] + " "});
    EXPECT_TRUE(t.expect_seen(seen, Pos{1, 57}));
}

std::string usage_text(const std::string& program) {
    return "Usage: " + program +
           " [options] [file]\n"
           "Options:\n"
           "  -h, --help              Print this message and exit.\n"
           "  -8, --highbit           Print high order 8-bit text.\n"
           "  -a, --alltext           Print all text characters.\n"
           "  -b, --buffer            Buffer the entire file in memory.\n"
           "                            Much faster and enables insert/delete.\n"
           "  -d, --disk              Edit a fixed disk, i.e. /dev/hda (Read-only)\n"
           "  -f, --force             Force editing of disk.\n"
           "                            Needed to write to disks.\n"
           "  -n, --nocolor           Force Gray scale, no colors.\n"
           "  -q, --quiet             Quiet Mode, No annoying beeping\n"
           "  -r, --readonly          Do not modifying of the file.\n"
           "  -v, --version           Print the version number and exit.\n";
}

std::string without_cr(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

} // namespace

TEST(Options, HelpPrintsTheUsageTextAloneAndLeavesTheTerminalAlone) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-h"}, {"--help"}, {"-b", "-h", "-q", "sample.bin"}}) {
        SCOPED_TRACE(args.front());
        Terminal t;
        t.write_file("sample.bin", sample20);
        t.start(args);
        ASSERT_EQ(t.wait_exit(), 0);
        std::string out = t.output();
        EXPECT_EQ(out.find('\x1b'), std::string::npos) << "escape sequences in: " << out;
        EXPECT_FALSE(t.altscreen());
        EXPECT_TRUE(t.canonical_echo_mode());
        out = without_cr(out);
        // Banner: the name and version, four lines of notice, an empty line.
        ASSERT_EQ(out.rfind("Morvane 0.9.7\n", 0), 0u) << out;
        size_t at = 0;
        for (int line = 0; line < 5; ++line) {
            size_t eol = out.find('\n', at);
            ASSERT_NE(eol, std::string::npos) << out;
            EXPECT_GT(eol, at) << "banner line " << line + 1 << " is empty";
            at = eol + 1;
        }
        EXPECT_EQ(out.substr(at), "\n" + usage_text(MORVANE_BINARY));
    }
}

TEST(Options, VersionPrintsTheNumberAloneAndExits) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-v"}, {"--version"}, {"-q", "-v", "sample.bin"}}) {
        SCOPED_TRACE(args.front());
        Terminal t;
        t.write_file("sample.bin", sample20);
        t.start(args);
        EXPECT_EQ(t.wait_exit(), 0);
        EXPECT_EQ(t.output(), "0.9.7\r\n");
        EXPECT_TRUE(t.canonical_echo_mode());
    }
}

TEST(FirstScreen, SmallFileShowsEveryRowBarAndTheCursorOnTheFirstDigit) {
    Terminal t;
    t.write_file("sample.bin", sample20);
    t.start({"sample.bin"});
    ASSERT_TRUE(t.expect_screen(sample20_screen(), Pos{1, 10}));
    EXPECT_TRUE(t.holds_for([&] { return t.cell(0, 79).text == " "; },
                            "no change marker on an unchanged file"));
    // Colour: status yellow on cyan, bytes white on blue, bar blue on black.
    // Text and colours may arrive in separate writes: poll for the colours.
    EXPECT_TRUE(t.expect(
        [&] {
            Cell status = t.cell(0, 0);
            return status.bold && status.fg == 3 && status.bg == 6;
        },
        "the status line bold yellow on cyan"));
    EXPECT_TRUE(t.expect([&] { return t.cell(0, 79).bg == 6; },
                         "the whole top line has the status colours"));
    for (Pos p : {Pos{1, 0}, Pos{1, 10}, Pos{1, 64}, Pos{2, 30}, Pos{2, 79}, Pos{12, 40}}) {
        EXPECT_TRUE(t.expect(
            [&] {
                Cell c = t.cell(p.row, p.col);
                return c.fg == 7 && c.bg == 4 && !c.bold;
            },
            "white on blue, not bold"))
            << p;
    }
    EXPECT_TRUE(t.expect(
        [&] {
            Cell bar = t.cell(23, 0);
            return bar.bold && bar.fg == 4 && bar.bg == 0;
        },
        "the command bar bold blue on black"));
}

TEST(FirstScreen, NoColorShowsTheStatusLineInReverseVideo) {
    Terminal t;
    t.write_file("sample.bin", sample20);
    t.start({"-n", "sample.bin"});
    ASSERT_TRUE(t.expect_screen(sample20_screen()));
    EXPECT_TRUE(t.expect([&] { return t.cell(0, 5).reverse; }, "the status line reversed"));
    EXPECT_TRUE(t.expect([&] { return t.cell(0, 79).reverse; }, "the whole status line reversed"));
    t.settle(); // no colour anywhere: nothing is still to come
    EXPECT_TRUE(t.holds_for(
        [&] {
            Cell byte = t.cell(1, 10);
            return t.cell(0, 5).bg == -1 && !byte.reverse && byte.fg == -1 && byte.bg == -1 &&
                   t.cell(23, 0).bg == -1;
        },
        "no colour anywhere and the bytes not reversed"));
}

TEST(FirstScreen, OnlyTheFirstFileArgumentIsOpened) {
    Terminal t;
    t.write_file("sample.bin", sample20);
    t.write_file("other.bin", "zz");
    t.start({"sample.bin", "other.bin"});
    EXPECT_TRUE(t.expect_screen(sample20_screen()));
}

// ---------------------------------------------------------------- MORVANE

namespace {

void open_help_and_expect_insert_delete_lines(Terminal& t, bool buffered) {
    t.send(ctrl('g'));
    std::string insert = "Insert/Add Byte     ", del = "Delete Byte         ";
    std::string disabled = "Disabled.  Use -b, --buffer option to enable";
    EXPECT_TRUE(t.expect_text(6, 3, insert + (buffered ? "Control-a, Insert (^A)" : disabled)));
    EXPECT_TRUE(t.expect_text(7, 3, del + (buffered ? "Control-d, Delete (^D)" : disabled)));
    t.send("q");
}

// On a one-byte file "A": "1" sets the high nibble, "2" the low nibble of the
// last byte, which also rings the bell. Returns the bells rung.
int type_on_the_last_digit(Terminal& t) {
    int before = t.bells();
    t.send("12");
    EXPECT_TRUE(
        t.expect_row(1, "00000000  12                                                    ."));
    t.settle();
    return t.bells() - before;
}

std::vector<std::string> one_byte_screen(char marker = ' ') {
    std::vector<std::string> rows(24, "");
    rows[0] = "File: one.bin                     ASCII Offset: 0x00000000 / 0x00000000 (%00)";
    rows[0] += std::string(79 - rows[0].size(), ' ') + marker;
    rows[1] = "00000000  41                                                    A";
    rows[23] = marker == 'R' ? read_only_bar : writable_bar;
    return rows;
}

} // namespace

TEST(Environment, WithoutTheVariableTheFileIsPagedAndRefusalsBeep) {
    Terminal t;
    t.write_file("one.bin", "A");
    t.start({"one.bin"});
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    open_help_and_expect_insert_delete_lines(t, false);
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    EXPECT_GE(type_on_the_last_digit(t), 1);
    t.send(ctrl('a')); // insert is off without -b
    EXPECT_TRUE(t.expect_unchanged());
}

TEST(Environment, QbActsLikeQuietAndBuffer) {
    Terminal t;
    t.write_file("one.bin", "A");
    t.start({"one.bin"}, {{"MORVANE", "qb"}});
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    open_help_and_expect_insert_delete_lines(t, true);
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    EXPECT_EQ(type_on_the_last_digit(t), 0);
    t.send(ctrl('a'));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000000 / 0x00000001"));
    EXPECT_TRUE(
        t.expect_row(1, "00000000  00 12                                                 .."));
}

TEST(Environment, NameInLowerCaseWorksTheSame) {
    Terminal t;
    t.write_file("one.bin", "A");
    t.start({"one.bin"}, {{"morvane", "qb"}});
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    open_help_and_expect_insert_delete_lines(t, true);
    ASSERT_TRUE(t.expect_screen(one_byte_screen()));
    EXPECT_EQ(type_on_the_last_digit(t), 0);
}

TEST(Environment, ExtraLettersOfTheNameCountAndOnlyTheFirstMatchIsRead) {
    Terminal t;
    t.write_file("one.bin", "A");
    // "MORVANEBQ=" gives b and q; the later "MORVANE=r" must be ignored.
    t.start({"one.bin"}, {{"MORVANEBQ", ""}, {"MORVANE", "r"}});
    ASSERT_TRUE(t.expect_screen(one_byte_screen(' ')));
    open_help_and_expect_insert_delete_lines(t, true);
    ASSERT_TRUE(t.expect_screen(one_byte_screen(' ')));
    EXPECT_EQ(type_on_the_last_digit(t), 0);
}

TEST(Environment, LettersOfTheNameItselfSetNothing) {
    // M-O-R-V-A-N-E holds r (read-only), a (all text) and n (no colour).
    Terminal t;
    t.write_file("one.bin", std::string("\x01"));
    t.start({"one.bin"}, {{"MORVANE", ""}});
    ASSERT_TRUE(
        t.expect_row(1, "00000000  01                                                    ."));
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    t.settle();
    EXPECT_TRUE(t.holds_for([&] { return t.cell(0, 79).text == " "; }, "no change marker"));
    EXPECT_TRUE(t.expect([&] { return t.cell(0, 0).bg == 6; }, "colour stays on"));
}

TEST(Environment, ReadOnlyLetterIsUndoneByForceOnTheCommandLine) {
    {
        Terminal t;
        t.write_file("one.bin", "A");
        t.start({"one.bin"}, {{"MORVANE", "r"}});
        EXPECT_TRUE(t.expect_screen(one_byte_screen('R')));
    }
    Terminal t;
    t.write_file("one.bin", "A");
    t.start({"-f", "one.bin"}, {{"MORVANE", "r"}});
    ASSERT_TRUE(t.expect_screen(one_byte_screen(' ')));
    t.send("5");
    EXPECT_TRUE(t.expect_text(1, 10, "51"));
    EXPECT_TRUE(t.expect_text(0, 79, "M"));
}

TEST(Environment, LaterLetterWinsWithinTheVariable) {
    Terminal t;
    t.write_file("one.bin", "A");
    t.start({"one.bin"}, {{"MORVANE", "rf"}});
    EXPECT_TRUE(t.expect_screen(one_byte_screen(' ')));
}

// ---------------------------------------------------------------- unusable files

TEST(UnusableFile, MissingFileShowsItsPathAndReasonThenTheBrowser) {
    Terminal t;
    t.write_file("other.bin", "OK");
    t.start({"nosuch.bin"});
    expect_error_box(t, "nosuch.bin", "No such file or directory");
    t.send(" ");
    expect_browser(t, {".", "..", "other.bin"});
    // The browser's choice is edited.
    t.send("jj");
    EXPECT_TRUE(t.expect_row(0, "File: other.bin"));
    t.send(keys::enter);
    EXPECT_TRUE(
        t.expect_row(1, "00000000  4F 4B                                                 OK"));
    EXPECT_TRUE(t.expect_text(0, 0, "File: other.bin ", Pos{1, 10}));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(UnusableFile, EmptyFileShowsTheZeroBytesBoxThenTheBrowser) {
    Terminal t;
    t.write_file("empty.bin", "");
    t.start({"empty.bin"});
    expect_error_box(t, "File is Zero Bytes, Perhaps Used -d disk mode", "Not applicable");
    t.send("x");
    expect_browser(t, {".", "..", "empty.bin"});
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(UnusableFile, DirectoryArgumentIsRefusedWithItsReasonThenTheBrowser) {
    Terminal t;
    t.make_dir("sub");
    t.start({"sub"});
    expect_error_box(t, "", "Is a directory");
    t.send("x");
    expect_browser(t, {".", "..", "sub"});
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// ---------------------------------------------------------------- large files

namespace {

// 16384 + 100 bytes: the first page counts 00..FF over and over, the next
// 96 bytes are 'x' and the last four "END!", so a wrong page shows.
std::string large_file() {
    std::string bytes;
    for (int i = 0; i < 16384; ++i)
        bytes += static_cast<char>(i & 0xFF);
    bytes += std::string(96, 'x') + "END!";
    return bytes;
}

void expect_last_bytes_reachable(const std::vector<std::string>& options) {
    Terminal t;
    t.write_file("big.bin", large_file());
    std::vector<std::string> args = options;
    args.push_back("big.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_row(
        1, "00000000  00 01 02 03  04 05 06 07   08 09 0A 0B  0C 0D 0E 0F   ................"));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000000 / 0x00004063 (%00)"));
    // A page is 21 rows; 50 pages reach the end, the rest must not move.
    for (int i = 0; i < 55; ++i)
        t.send(keys::page_down);
    const std::string xs = "78 78 78 78  78 78 78 78   78 78 78 78  78 78 78 78   xxxxxxxxxxxxxxxx";
    EXPECT_TRUE(t.expect_rows(
        15,
        {"00003FF0  F0 F1 F2 F3  F4 F5 F6 F7   F8 F9 FA FB  FC FD FE FF   ................",
         "00004000  " + xs, "00004010  " + xs, "00004020  " + xs, "00004030  " + xs,
         "00004040  " + xs, "00004050  " + xs,
         "00004060  45 4E 44 21                                           END!", writable_bar}));
    EXPECT_TRUE(t.expect_row(
        1, "00003F10  10 11 12 13  14 15 16 17   18 19 1A 1B  1C 1D 1E 1F   ................"));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00004060 / 0x00004063 (%100)", Pos{22, 10}));
    t.send(keys::end);
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00004063 / 0x00004063 (%100)", Pos{22, 20}));
    // Back across the page boundary to the start.
    for (int i = 0; i < 55; ++i)
        t.send(keys::page_up);
    EXPECT_TRUE(t.expect_row(
        1, "00000000  00 01 02 03  04 05 06 07   08 09 0A 0B  0C 0D 0E 0F   ................"));
    EXPECT_TRUE(t.expect_row(
        2, "00000010  10 11 12 13  14 15 16 17   18 19 1A 1B  1C 1D 1E 1F   ................"));
    EXPECT_TRUE(t.expect_text(0, 40, "Offset: 0x00000003 / 0x00004063 (%00)", Pos{1, 20}));
}

} // namespace

TEST(LargeFile, PagedModeReachesAndShowsTheLastBytes) {
    expect_last_bytes_reachable({});
}

TEST(LargeFile, BufferedModeReachesAndShowsTheLastBytes) {
    expect_last_bytes_reachable({"-b"});
}
