// Terminal: the real program on a pseudo-terminal, read back through libvterm.
//
//   Terminal t(24, 80);                      // a pty of 24 lines by 80 columns
//   t.write_file("a.bin", "Hello");          // files live in t.dir(), the child's cwd
//   t.start({"-b", "a.bin"}, {{"MORVANE", "q"}});
//   ASSERT_TRUE(t.expect_row(1, "00000000  48 65 6C 6C  6F ..."));
//   t.send(keys::right);                     // bytes as the terminal would send them
//   EXPECT_TRUE(t.expect_text(1, 10, "48", Pos{1, 11})); // text and cursor at once
//   t.send(ctrl('x'));
//   EXPECT_EQ(t.wait_exit(), 0);
//
// The child runs in a fresh temporary directory (dir()) with a clean
// environment: PATH, HOME=dir(), TERM=xterm-256color, ESCDELAY=25, no LANG,
// LC_*, LINES, COLUMNS or MORVANE* unless the test passes them (in the order
// given, after the fixed entries), and sanitizer options that write reports
// into a log directory beside dir(). A report there fails the test (checked
// by wait_exit and the destructor, which prints it). The destructor kills the
// child and removes the temporary directories.
//
// Everything the child prints goes into libvterm, which also answers the
// child's queries (cursor position, device attributes). The screen can be read
// at any time: row(), text(), cell(), cursor(). Reading pumps pending output
// first, but never waits; use settle() or the expect_* helpers to wait.
//
// send() settles first when the bytes hold Control-C or Control-\: the tty
// discards unread output when it raises the signal.
//
// settle() is the synchronisation point: it waits until the pty holds no
// unread input for the child and nothing has been printed for `quiet_ms`
// (longer than ESCDELAY, so a lone Escape has been taken as a key), with an
// overall timeout. The expect_* helpers poll the screen until it matches, up
// to a timeout, and on failure return the whole screen with the differing rows
// marked; use them as EXPECT_TRUE(t.expect_row(...)). Rows are compared with
// trailing blanks removed on both sides; row() itself returns every cell.
// Where the cursor matters, pass it to the same expectation (expect_row(r,
// text, cursor), expect_seen(...)): text and cursor may arrive in different
// frames, so a cursor() read once the text is there can be the old one.
// holds_for() and expect_unchanged() watch for a short window that something
// does NOT happen.
//
// Repeat sequences (REP) are expanded before libvterm sees them: its own
// handling misplaces the character after a repeat that nearly fills a row.
//
// Cells of the ACS line-drawing set come back as the Unicode box characters
// that libvterm maps them to (UTF-8 in row() and text()).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct VTerm;
struct VTermScreen;
class RepExpander;

struct Pos {
    int row;
    int col;
    bool operator==(const Pos&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Pos& p);

struct Cell {
    std::string text; // UTF-8, " " for an empty cell
    bool bold = false;
    bool reverse = false;
    bool underline = false;
    int fg = -1; // palette index 0..255; -1 the terminal's default colour
    int bg = -1;
};

// Control-key byte: ctrl('x') is "\x18".
std::string ctrl(char letter);

// What xterm (keypad transmit mode) sends for the keys curses knows.
namespace keys {
inline const std::string esc = "\x1b";
inline const std::string up = "\x1bOA";
inline const std::string down = "\x1bOB";
inline const std::string right = "\x1bOC";
inline const std::string left = "\x1bOD";
inline const std::string home = "\x1bOH";
inline const std::string end = "\x1bOF";
inline const std::string page_up = "\x1b[5~";
inline const std::string page_down = "\x1b[6~";
inline const std::string insert = "\x1b[2~";
inline const std::string del = "\x1b[3~";
inline const std::string f1 = "\x1bOP";
inline const std::string f2 = "\x1bOQ";
inline const std::string f3 = "\x1bOR";
inline const std::string f4 = "\x1bOS";
inline const std::string f5 = "\x1b[15~";
inline const std::string f6 = "\x1b[17~";
inline const std::string f7 = "\x1b[18~";
inline const std::string f8 = "\x1b[19~";
inline const std::string f9 = "\x1b[20~";
// With Shift (xterm's modifier 2).
inline const std::string shift_up = "\x1b[1;2A";
inline const std::string shift_down = "\x1b[1;2B";
inline const std::string shift_right = "\x1b[1;2C";
inline const std::string shift_left = "\x1b[1;2D";
inline const std::string shift_home = "\x1b[1;2H";
inline const std::string shift_end = "\x1b[1;2F";
inline const std::string shift_page_up = "\x1b[5;2~";
inline const std::string shift_page_down = "\x1b[6;2~";
inline const std::string tab = "\t";
inline const std::string enter = "\r"; // the tty turns it into 10
// Alt with a letter, as terminals send it: Escape, then the letter.
inline std::string alt(char letter) {
    return "\x1b" + std::string(1, letter);
}
} // namespace keys

// Timeouts are for a program that hangs, not a slow one: the sanitizer build
// runs several times slower, and CI machines are shared, so both stretch them.
int scaled_timeout(int ms);

class Terminal {
  public:
    using Env = std::vector<std::pair<std::string, std::string>>;
    static constexpr int default_timeout_ms = 8000;

    explicit Terminal(int lines = 24, int cols = 80);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Files of the test, in the child's working directory.
    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;
    void make_dir(const std::string& name) const;

    // On by default: libvterm keeps an alternate screen as xterm does. Turn
    // it off before start() to see what is left on the one screen after the
    // program ends.
    void emulate_altscreen(bool on) { altscreen_emulated_ = on; }

    // The program under test with its arguments (argv[0] is MORVANE_BINARY).
    void start(const std::vector<std::string>& args = {}, const Env& env = {});
    // Any program: argv[0] is argv.front(); looked up with execvp.
    void start_program(const std::vector<std::string>& argv, const Env& env = {});

    void send(const std::string& bytes);
    bool settle(int quiet_ms = 80, int timeout_ms = default_timeout_ms);
    void resize(int lines, int cols); // the kernel sends SIGWINCH

    // The emulated screen.
    int lines() const { return lines_; }
    int cols() const { return cols_; }
    std::string row(int r);
    std::string text(int r, int c, int len); // `len` cells from (r, c)
    std::vector<std::string> screen();
    Cell cell(int r, int c);
    Pos cursor();
    bool cursor_visible();
    bool altscreen(); // the child has switched to the alternate screen
    int bells();      // bells rung so far
    // Everything the child printed, byte for byte (after the tty's onlcr).
    const std::string& output();
    // Blanks the emulated screen without telling the child, so a test can
    // see whether the program repaints.
    void wipe();

    // Exit status 0..255, 128+N when killed by signal N, -1 on timeout.
    int wait_exit(int timeout_ms = default_timeout_ms);
    bool running();
    pid_t pid() const { return pid_; }
    // Terminal modes of the pty as the child left them.
    bool canonical_echo_mode();

    // Expectations: poll until true; on timeout the failure holds the screen.
    [[nodiscard]] ::testing::AssertionResult expect_screen(const std::vector<std::string>& rows,
                                                           int timeout_ms = default_timeout_ms);
    // Rows first..first+rows.size()-1 only.
    [[nodiscard]] ::testing::AssertionResult expect_rows(int first,
                                                         const std::vector<std::string>& rows,
                                                         int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect_row(int r, const std::string& text,
                                                        int timeout_ms = default_timeout_ms);
    // The cells from (r, c) read `text`.
    [[nodiscard]] ::testing::AssertionResult expect_text(int r, int c, const std::string& text,
                                                         int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect_cursor(Pos p,
                                                           int timeout_ms = default_timeout_ms);
    // Text and cursor together: both must match in the same look at the
    // screen. A program may show a dialog's text in one frame and place the
    // cursor in the next, so a cursor read once the text has arrived can be
    // the old one; expect the two at once instead.
    [[nodiscard]] ::testing::AssertionResult expect_screen(const std::vector<std::string>& rows,
                                                           Pos cursor,
                                                           int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect_rows(int first,
                                                         const std::vector<std::string>& rows,
                                                         Pos cursor,
                                                         int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect_row(int r, const std::string& text, Pos cursor,
                                                        int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect_text(int r, int c, const std::string& text,
                                                         Pos cursor,
                                                         int timeout_ms = default_timeout_ms);
    // Texts at cells of several rows, and the cursor.
    struct Seen {
        Pos at;
        std::string text;
    };
    [[nodiscard]] ::testing::AssertionResult expect_seen(const std::vector<Seen>& texts, Pos cursor,
                                                         int timeout_ms = default_timeout_ms);
    [[nodiscard]] ::testing::AssertionResult expect(const std::function<bool()>& done,
                                                    const std::string& what,
                                                    int timeout_ms = default_timeout_ms);
    // Fails as soon as `still` turns false within the window.
    [[nodiscard]] ::testing::AssertionResult
    holds_for(const std::function<bool()>& still, const std::string& what, int window_ms = 300);
    // Settles, then fails if any cell text or the cursor changes in the window.
    [[nodiscard]] ::testing::AssertionResult expect_unchanged(int window_ms = 300);

    // The screen as text with row numbers, rows listed in `marked` flagged.
    std::string dump(const std::vector<int>& marked = {});

  private:
    using Clock = std::chrono::steady_clock;
    void spawn(const std::string& file, const std::vector<std::string>& argv, const Env& env);
    bool pump(int wait_ms); // reads the child's output; true if any arrived
    bool wait_for(const std::function<bool()>& done, int timeout_ms);
    int pending_input(); // bytes written to the pty that the child has not read
    void reap(int status);
    void check_sanitizer_logs();
    ::testing::AssertionResult rows_match(int first, const std::vector<std::string>& rows,
                                          std::optional<Pos> cursor, int timeout_ms);
    ::testing::AssertionResult texts_match(const std::vector<Seen>& texts,
                                           std::optional<Pos> cursor, int timeout_ms);

    int lines_, cols_;
    std::string root_, dir_, log_dir_;
    int master_ = -1;
    int slave_ = -1; // kept open by us: for the input queue and the modes
    pid_t pid_ = -1;
    int exit_status_ = -1;
    bool altscreen_emulated_ = true;
    std::unique_ptr<RepExpander> rep_;
    VTerm* vt_ = nullptr;
    VTermScreen* vts_ = nullptr;
    std::string output_;
    Clock::time_point last_output_;
    std::vector<std::string> reported_logs_;
    // Updated by libvterm's callbacks.
    int bells_ = 0;
    bool altscreen_on_ = false;
    bool cursor_visible_ = true;
    friend struct TerminalCallbacks;
};
