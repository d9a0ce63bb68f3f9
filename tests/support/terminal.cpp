#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#if defined(__FreeBSD__) || defined(__DragonFly__)
#include <libutil.h> // forkpty
#elif defined(__APPLE__) || defined(__OpenBSD__) || defined(__NetBSD__)
#include <util.h>
#else
#include <pty.h>
#endif
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::ostream& operator<<(std::ostream& os, const Pos& p) {
    return os << "(" << p.row << ", " << p.col << ")";
}

int scaled_timeout(int ms) {
    static const int factor = [] {
        int f = 1;
#if defined(__SANITIZE_ADDRESS__)
        f *= 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
        f *= 2;
#endif
#endif
        const char* ci = getenv("CI");
        if (ci && *ci) f *= 2;
        return f;
    }();
    return ms * factor;
}

std::string ctrl(char letter) {
    return std::string(1, static_cast<char>(letter & 0x1f));
}

static std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

static void append_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

static int colour_index(const VTermColor& c, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return -1;
    if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
    return -2; // direct RGB: the program never asks for it
}

// Expands REP (CSI n b, repeat the last character) before libvterm sees it.
// libvterm 0.1.4 wraps the character that follows a REP ending one column
// before the right margin onto the next line, where xterm does not; ncurses
// uses REP for runs such as a text pane of "AAAA...". Escape sequences may
// be split across reads, so the state lives from one chunk to the next.
class RepExpander {
  public:
    std::string feed(const char* data, size_t len) {
        std::string out;
        for (size_t i = 0; i < len; ++i)
            step(static_cast<unsigned char>(data[i]), out);
        return out;
    }

  private:
    enum class State { Ground, Esc, EscInter, Csi, String, StringEsc };
    void step(unsigned char b, std::string& out) {
        switch (state_) {
        case State::Ground:
            if (b == 0x1b) {
                state_ = State::Esc;
                seq_.assign(1, '\x1b');
                return;
            }
            if (b >= 0x20 && b != 0x7f) {
                if (b < 0x80 || (b & 0xC0) == 0xC0) last_.clear(); // a new character
                last_ += static_cast<char>(b);
            }
            out += static_cast<char>(b);
            return;
        case State::Esc:
            seq_ += static_cast<char>(b);
            if (b == '[') {
                state_ = State::Csi;
            } else if (b == ']' || b == 'P' || b == '_' || b == '^') {
                state_ = State::String;
            } else if (b >= 0x20 && b <= 0x2f) {
                state_ = State::EscInter;
            } else {
                flush(out);
            }
            return;
        case State::EscInter:
            seq_ += static_cast<char>(b);
            if (b < 0x20 || b > 0x2f) flush(out);
            return;
        case State::Csi:
            seq_ += static_cast<char>(b);
            if (b >= 0x40 && b <= 0x7e) {
                if (b == 'b' && seq_.find_first_not_of("0123456789", 2) == seq_.size() - 1) {
                    long n = seq_.size() > 3 ? std::strtol(seq_.c_str() + 2, nullptr, 10) : 1;
                    for (long k = 0; k < std::clamp(n, 1L, 100000L); ++k)
                        out += last_;
                    seq_.clear();
                    state_ = State::Ground;
                    return;
                }
                flush(out);
            }
            return;
        case State::String:
            seq_ += static_cast<char>(b);
            if (b == 0x07) flush(out);
            if (b == 0x1b) state_ = State::StringEsc;
            return;
        case State::StringEsc:
            seq_ += static_cast<char>(b);
            if (b == '\\')
                flush(out);
            else
                state_ = State::String;
            return;
        }
    }
    void flush(std::string& out) {
        out += seq_;
        seq_.clear();
        state_ = State::Ground;
    }
    State state_ = State::Ground;
    std::string seq_;
    std::string last_;
};

struct TerminalCallbacks {
    static int bell(void* user) {
        ++static_cast<Terminal*>(user)->bells_;
        return 1;
    }
    static int settermprop(VTermProp prop, VTermValue* val, void* user) {
        auto* t = static_cast<Terminal*>(user);
        if (prop == VTERM_PROP_ALTSCREEN) t->altscreen_on_ = val->boolean;
        if (prop == VTERM_PROP_CURSORVISIBLE) t->cursor_visible_ = val->boolean;
        return 1;
    }
    // Answers to the child's queries (cursor position, device attributes).
    static void output(const char* s, size_t len, void* user) {
        auto* t = static_cast<Terminal*>(user);
        while (len > 0 && t->master_ >= 0) {
            ssize_t n = write(t->master_, s, len);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            s += n;
            len -= static_cast<size_t>(n);
        }
    }
};

static const VTermScreenCallbacks screen_callbacks = {
    nullptr, nullptr, nullptr, TerminalCallbacks::settermprop, TerminalCallbacks::bell,
    nullptr, nullptr, nullptr};

Terminal::Terminal(int lines, int cols)
    : lines_(lines), cols_(cols), rep_(std::make_unique<RepExpander>()) {
    std::string tmpl = (fs::temp_directory_path() / "morvane-e2e-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    dir_ = root_ + "/work";
    log_dir_ = root_ + "/log";
    fs::create_directory(dir_);
    fs::create_directory(log_dir_);
    vt_ = vterm_new(lines, cols);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, TerminalCallbacks::output, this);
    vts_ = vterm_obtain_screen(vt_);
    vterm_screen_set_callbacks(vts_, &screen_callbacks, this);
    last_output_ = Clock::now();
}

Terminal::~Terminal() {
    if (pid_ > 0 && exit_status_ < 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        exit_status_ = 128 + SIGKILL;
    }
    check_sanitizer_logs();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    vterm_free(vt_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void Terminal::write_file(const std::string& name, const std::string& bytes) const {
    std::ofstream f(path(name), std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path(name));
}

std::string Terminal::read_file(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void Terminal::make_dir(const std::string& name) const {
    fs::create_directories(path(name));
}

void Terminal::start(const std::vector<std::string>& args, const Env& env) {
    std::vector<std::string> argv{MORVANE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    spawn(MORVANE_BINARY, argv, env);
}

void Terminal::start_program(const std::vector<std::string>& argv, const Env& env) {
    spawn(argv.at(0), argv, env);
}

void Terminal::spawn(const std::string& file, const std::vector<std::string>& argv,
                     const Env& extra) {
    if (pid_ > 0) throw std::logic_error("Terminal already started a program");
    vterm_screen_enable_altscreen(vts_, altscreen_emulated_ ? 1 : 0);
    vterm_screen_reset(vts_, 1);

    const char* path_var = getenv("PATH");
    Env env{
        {"PATH", path_var ? path_var : "/usr/bin:/bin"},
        {"HOME", dir_},
        {"TERM", "xterm-256color"},
        {"ESCDELAY", "25"},
        {"ASAN_OPTIONS", "log_path=" + log_dir_ + "/asan:halt_on_error=1:detect_leaks=1"},
        {"UBSAN_OPTIONS", "log_path=" + log_dir_ + "/ubsan:halt_on_error=1:print_stacktrace=1"}};
    for (const auto& entry : extra) {
        const std::string& name = entry.first;
        const std::string& value = entry.second;
        auto same = [&](const auto& e) { return e.first == name; };
        if (auto it = std::find_if(env.begin(), env.end(), same); it != env.end())
            it->second = value;
        else
            env.emplace_back(name, value);
    }
    // Everything the child needs is built before fork.
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env)
        env_text.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy)
        args.push_back(a.data());
    args.push_back(nullptr);
    std::string workdir = dir_;
    std::string program = file;

    struct winsize ws {};
    ws.ws_row = static_cast<unsigned short>(lines_);
    ws.ws_col = static_cast<unsigned short>(cols_);
    char slave_name[256] = {};
    pid_t pid = forkpty(&master_, slave_name, nullptr, &ws);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        if (chdir(workdir.c_str()) != 0) _exit(125);
        // Give the child the default signal state whatever the test runner had.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        environ = envp.data();
        execvp(program.c_str(), args.data());
        _exit(127);
    }
    pid_ = pid;
    exit_status_ = -1;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Our own descriptor of the slave: its input queue tells what the child
    // has not read yet, its modes what the child left behind, and the master
    // never sees a hang-up, so output is never cut short at the child's exit.
    slave_ = open(slave_name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) throw std::runtime_error(std::string("cannot open ") + slave_name);
    last_output_ = Clock::now();
}

bool Terminal::pump(int wait_ms) {
    if (master_ < 0) return false;
    bool got = false;
    struct pollfd p {
        master_, POLLIN, 0
    };
    int timeout = wait_ms;
    for (;;) {
        int r = poll(&p, 1, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || !(p.revents & POLLIN)) break;
        char buf[8192];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output_.append(buf, static_cast<size_t>(n));
        std::string plain = rep_->feed(buf, static_cast<size_t>(n));
        vterm_input_write(vt_, plain.data(), plain.size());
        got = true;
        timeout = 0; // take what is there now, then return
    }
    if (got) {
        vterm_screen_flush_damage(vts_);
        last_output_ = Clock::now();
    }
    return got;
}

int Terminal::pending_input() {
    int n = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &n) != 0) return 0;
    return n;
}

void Terminal::send(const std::string& bytes) {
    if (master_ < 0) throw std::logic_error("send before start");
    // The tty flushes its queues when it turns Control-C or Control-\ into a
    // signal: output still in flight would be lost, and curses, believing it
    // shown, would never send it again. Let the child finish printing first.
    if (bytes.find_first_of("\x03\x1c") != std::string::npos) settle();
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(scaled_timeout(default_timeout_ms));
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) throw std::runtime_error("write to pty failed");
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "the program stopped reading its input\n" << dump();
            return;
        }
        pump(10); // the queue is full: let the child read (and print)
    }
}

bool Terminal::settle(int quiet_ms, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(scaled_timeout(timeout_ms));
    auto quiet = std::chrono::milliseconds(quiet_ms);
    auto consumed_since = Clock::time_point::max();
    for (;;) {
        pump(0);
        auto now = Clock::now();
        if (pending_input() > 0) {
            consumed_since = Clock::time_point::max();
        } else if (consumed_since == Clock::time_point::max()) {
            consumed_since = now;
        }
        if (!running()) {
            while (pump(20)) {
            }
            return true;
        }
        if (consumed_since != Clock::time_point::max() && now - consumed_since >= quiet &&
            now - last_output_ >= quiet)
            return true;
        if (now > deadline) {
            // A screen read after a settle that never came would be compared
            // against a moment nobody chose.
            ADD_FAILURE() << "settle: the program did not go quiet within "
                          << scaled_timeout(timeout_ms) << " ms\n"
                          << dump();
            return false;
        }
        pump(5);
    }
}

void Terminal::resize(int lines, int cols) {
    pump(0); // what was printed for the old size is read at the old size
    struct winsize ws {};
    ws.ws_row = static_cast<unsigned short>(lines);
    ws.ws_col = static_cast<unsigned short>(cols);
    if (master_ >= 0 && ioctl(master_, TIOCSWINSZ, &ws) != 0)
        throw std::runtime_error("TIOCSWINSZ failed");
    lines_ = lines;
    cols_ = cols;
    vterm_set_size(vt_, lines, cols);
}

std::string Terminal::text(int r, int c, int len) {
    pump(0);
    std::string out;
    if (r < 0 || r >= lines_) return out;
    for (int col = std::max(c, 0); col < std::min(c + len, cols_); ++col) {
        VTermScreenCell cell;
        if (!vterm_screen_get_cell(vts_, VTermPos{r, col}, &cell)) break;
        if (cell.chars[0] == static_cast<uint32_t>(-1)) continue; // right half of a wide cell
        if (cell.chars[0] == 0) {
            out += ' ';
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i)
            append_utf8(out, cell.chars[i]);
    }
    return out;
}

std::string Terminal::row(int r) {
    return text(r, 0, cols_);
}

std::vector<std::string> Terminal::screen() {
    std::vector<std::string> rows;
    for (int r = 0; r < lines_; ++r)
        rows.push_back(row(r));
    return rows;
}

Cell Terminal::cell(int r, int c) {
    pump(0);
    Cell out;
    VTermScreenCell cell;
    if (r < 0 || r >= lines_ || c < 0 || c >= cols_ ||
        !vterm_screen_get_cell(vts_, VTermPos{r, c}, &cell))
        return out;
    out.text = text(r, c, 1);
    out.bold = cell.attrs.bold;
    out.reverse = cell.attrs.reverse;
    out.underline = cell.attrs.underline != 0;
    out.fg = colour_index(cell.fg, true);
    out.bg = colour_index(cell.bg, false);
    return out;
}

Pos Terminal::cursor() {
    pump(0);
    VTermPos p;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &p);
    return Pos{p.row, p.col};
}

bool Terminal::cursor_visible() {
    pump(0);
    return cursor_visible_;
}

bool Terminal::altscreen() {
    pump(0);
    return altscreen_on_;
}

int Terminal::bells() {
    pump(0);
    return bells_;
}

const std::string& Terminal::output() {
    pump(0);
    return output_;
}

void Terminal::wipe() {
    pump(0);
    // Save the cursor and pen, blank with the default pen, restore both.
    static const char blank[] = "\x1b"
                                "7\x1b[m\x1b[2J\x1b"
                                "8";
    vterm_input_write(vt_, blank, sizeof blank - 1);
    vterm_screen_flush_damage(vts_);
}

void Terminal::reap(int status) {
    if (WIFEXITED(status))
        exit_status_ = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exit_status_ = 128 + WTERMSIG(status);
    else
        return;
    while (pump(20)) {
    }
    check_sanitizer_logs();
}

bool Terminal::running() {
    if (pid_ <= 0 || exit_status_ >= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        reap(status);
        return exit_status_ < 0;
    }
    return true;
}

int Terminal::wait_exit(int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(scaled_timeout(timeout_ms));
    while (running()) {
        if (Clock::now() > deadline) return -1;
        pump(10);
    }
    return exit_status_;
}

bool Terminal::canonical_echo_mode() {
    struct termios t {};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return false;
    return (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
}

void Terminal::check_sanitizer_logs() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(log_dir_, ec)) {
        std::string name = entry.path().filename().string();
        if (std::find(reported_logs_.begin(), reported_logs_.end(), name) != reported_logs_.end())
            continue;
        reported_logs_.push_back(name);
        std::ifstream f(entry.path());
        std::ostringstream s;
        s << f.rdbuf();
        ADD_FAILURE() << "sanitizer report of the program (" << name << "):\n" << s.str();
    }
}

std::string Terminal::dump(const std::vector<int>& marked) {
    pump(0);
    std::ostringstream s;
    Pos c = cursor();
    s << "screen " << lines_ << "x" << cols_ << ", cursor at " << c;
    if (exit_status_ >= 0) s << ", program ended with status " << exit_status_;
    s << ":\n";
    for (int r = 0; r < lines_; ++r) {
        bool mark = std::find(marked.begin(), marked.end(), r) != marked.end();
        char label[16];
        snprintf(label, sizeof label, "%s%3d |", mark ? ">" : " ", r);
        s << label << row(r) << "|\n";
    }
    return s.str();
}

bool Terminal::wait_for(const std::function<bool()>& done, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(scaled_timeout(timeout_ms));
    for (;;) {
        pump(0);
        if (done()) return true;
        // A program that has ended will not change the screen any more.
        if (!running() || Clock::now() > deadline) {
            pump(0);
            return done();
        }
        pump(20);
    }
}

::testing::AssertionResult Terminal::expect(const std::function<bool()>& done,
                                            const std::string& what, int timeout_ms) {
    if (wait_for(done, timeout_ms)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << (running() ? "timed out" : "the program ended") << " waiting for " << what << "\n"
           << dump();
}

namespace {

// Cells, not bytes: the UTF-8 characters of an expected text.
int cells_of(const std::string& text) {
    int cells = 0;
    for (unsigned char ch : text)
        cells += (ch & 0xC0) != 0x80;
    return cells;
}

// What differs when the wait ends: the cursor, when it was expected.
void describe_cursor(std::ostringstream& s, std::optional<Pos> expected, Pos now) {
    if (expected && *expected != now)
        s << "expected the cursor at " << *expected << ", it is at " << now << "\n";
}

} // namespace

::testing::AssertionResult Terminal::rows_match(int first, const std::vector<std::string>& rows,
                                                std::optional<Pos> cursor, int timeout_ms) {
    auto differing = [&] {
        std::vector<int> out;
        for (size_t i = 0; i < rows.size(); ++i) {
            int r = first + static_cast<int>(i);
            if (r >= lines_ || rtrim(row(r)) != rtrim(rows[i])) out.push_back(r);
        }
        return out;
    };
    auto ok = wait_for(
        [&] { return differing().empty() && (!cursor || this->cursor() == *cursor); }, timeout_ms);
    if (ok) return ::testing::AssertionSuccess();
    std::vector<int> bad = differing();
    std::ostringstream s;
    s << (running() ? "timed out" : "the program ended") << " waiting for the screen"
      << (cursor ? " and the cursor" : "") << "\n"
      << dump(bad);
    describe_cursor(s, cursor, this->cursor());
    if (!bad.empty()) s << "expected:\n";
    for (int r : bad) {
        char label[16];
        snprintf(label, sizeof label, ">%3d |", r);
        s << label << rows[static_cast<size_t>(r - first)] << "|\n";
    }
    return ::testing::AssertionFailure() << s.str();
}

::testing::AssertionResult Terminal::texts_match(const std::vector<Seen>& texts,
                                                 std::optional<Pos> cursor, int timeout_ms) {
    auto differing = [&] {
        std::vector<size_t> out;
        for (size_t i = 0; i < texts.size(); ++i) {
            const Seen& t = texts[i];
            if (t.at.row >= lines_ || text(t.at.row, t.at.col, cells_of(t.text)) != t.text)
                out.push_back(i);
        }
        return out;
    };
    auto ok = wait_for(
        [&] { return differing().empty() && (!cursor || this->cursor() == *cursor); }, timeout_ms);
    if (ok) return ::testing::AssertionSuccess();
    std::vector<size_t> bad = differing();
    std::vector<int> bad_rows;
    for (size_t i : bad)
        bad_rows.push_back(texts[i].at.row);
    std::ostringstream s;
    s << (running() ? "timed out" : "the program ended") << " waiting for the screen"
      << (cursor ? " and the cursor" : "") << "\n"
      << dump(bad_rows);
    describe_cursor(s, cursor, this->cursor());
    for (size_t i : bad)
        s << "expected \"" << texts[i].text << "\" at " << texts[i].at << "\n";
    return ::testing::AssertionFailure() << s.str();
}

::testing::AssertionResult Terminal::expect_screen(const std::vector<std::string>& rows,
                                                   int timeout_ms) {
    if (static_cast<int>(rows.size()) != lines_)
        return ::testing::AssertionFailure()
               << "expected " << rows.size() << " rows for a screen of " << lines_;
    return rows_match(0, rows, std::nullopt, timeout_ms);
}

::testing::AssertionResult Terminal::expect_screen(const std::vector<std::string>& rows, Pos cursor,
                                                   int timeout_ms) {
    if (static_cast<int>(rows.size()) != lines_)
        return ::testing::AssertionFailure()
               << "expected " << rows.size() << " rows for a screen of " << lines_;
    return rows_match(0, rows, cursor, timeout_ms);
}

::testing::AssertionResult Terminal::expect_rows(int first, const std::vector<std::string>& rows,
                                                 int timeout_ms) {
    return rows_match(first, rows, std::nullopt, timeout_ms);
}

::testing::AssertionResult Terminal::expect_rows(int first, const std::vector<std::string>& rows,
                                                 Pos cursor, int timeout_ms) {
    return rows_match(first, rows, cursor, timeout_ms);
}

::testing::AssertionResult Terminal::expect_row(int r, const std::string& text, int timeout_ms) {
    return rows_match(r, {text}, std::nullopt, timeout_ms);
}

::testing::AssertionResult Terminal::expect_row(int r, const std::string& text, Pos cursor,
                                                int timeout_ms) {
    return rows_match(r, {text}, cursor, timeout_ms);
}

::testing::AssertionResult Terminal::expect_text(int r, int c, const std::string& expected,
                                                 int timeout_ms) {
    return texts_match({{{r, c}, expected}}, std::nullopt, timeout_ms);
}

::testing::AssertionResult Terminal::expect_text(int r, int c, const std::string& expected,
                                                 Pos cursor, int timeout_ms) {
    return texts_match({{{r, c}, expected}}, cursor, timeout_ms);
}

::testing::AssertionResult Terminal::expect_seen(const std::vector<Seen>& texts, Pos cursor,
                                                 int timeout_ms) {
    return texts_match(texts, cursor, timeout_ms);
}

::testing::AssertionResult Terminal::expect_cursor(Pos p, int timeout_ms) {
    std::ostringstream what;
    what << "the cursor at " << p;
    return expect([&] { return cursor() == p; }, what.str(), timeout_ms);
}

::testing::AssertionResult Terminal::holds_for(const std::function<bool()>& still,
                                               const std::string& what, int window_ms) {
    auto end = Clock::now() + std::chrono::milliseconds(window_ms);
    do {
        pump(0);
        if (!still())
            return ::testing::AssertionFailure() << "no longer " << what << "\n" << dump();
        pump(10);
    } while (Clock::now() < end);
    pump(0);
    if (!still()) return ::testing::AssertionFailure() << "no longer " << what << "\n" << dump();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Terminal::expect_unchanged(int window_ms) {
    settle();
    std::vector<std::string> before = screen();
    Pos at = cursor();
    auto r = holds_for([&] { return screen() == before && cursor() == at; },
                       "showing the same screen", window_ms);
    if (r) return r;
    std::ostringstream s;
    s << "before (cursor at " << at << "):\n";
    for (size_t i = 0; i < before.size(); ++i)
        s << "    " << i << " |" << before[i] << "|\n";
    return ::testing::AssertionFailure() << r.message() << s.str();
}
