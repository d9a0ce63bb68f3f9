// fuzz_keys: libFuzzer target that types arbitrary key streams, with
// resizes, into the editor on a null terminal, over a small file.
//
// fuzz/keys.dict names every key as an xterm sends it (the selection's Shift,
// F9 and Alt keys among them, Find's and Replace's too, and the compare
// view's), and the pieces of their patterns, so that mutations insert whole
// keys and whole words.
//
// Beside the edited file f.bin the sandbox holds g.bin, the same bytes with a
// few changed, some inserted and another end: the file to compare with. A
// run starts in the compare view against it (--compare g.bin), or reaches
// the view through Alt-C and the name typed into its dialog. Both files are
// written sparse (the larger has 12 KiB of zeros), so that the difference
// searches meet holes.
//
// Input: byte 0 chooses the options and the file (bit 0x80: -a rather than
// -8 where bit 0x02 asks for one of them, else --compare g.bin), bytes 1-2
// the first size; then keys. 0xFF L C resizes to (1 + L % 60, 1 + C % 200); 0xFE lets the
// editor take every key so far before the next ones come (otherwise keys
// arrive as typed ahead); Control-C is delivered as the interrupt, as the
// tty would; '/' and Control-Z are dropped (no path leaves the sandbox, no
// job control).
//
// The seam needs nothing in src: the link wraps five calls.
//   exit       the editor ends (quit, fatal error): back to the fuzz loop;
//   pselect    the editor waits for a key: the next keys, resize or interrupt
//              are given, and when the input is used up the run ends;
//   newterm    remembers the screen, deleted after the run;
//   chdir      the file browser stays inside the sandbox directory;
//   sigaction  SIGALRM stays libFuzzer's (its timeout timer).
// A run ends by throwing RunEnd from the wrapped exit() or pselect(), so the
// editor's scope guards (open dialogs, ignored interrupts) undo themselves
// (exit_may_throw.h lets exit() throw); the state that exit() would have
// dropped with the process is reset before the next run. At the end of the
// input Control-G is typed while a dialog is open, so that runs mostly end
// where a user would stop.
//
// Keys come from a pseudo-terminal in raw mode on descriptor 0: the editor
// asks the terminal named by its standard input for the size after SIGWINCH.
// Screen output goes to /dev/null through a stdout that is not descriptor 1,
// so curses never takes the fuzzer's terminal for its own.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <set>
#include <string>
#include <vector>

#include "morvane.h"

extern "C" {
[[noreturn]] void __real_exit(int status);
int __real_pselect(int n, fd_set* r, fd_set* w, fd_set* e, const struct timespec* t,
                   const sigset_t* mask);
SCREEN* __real_newterm(const char* type, FILE* out, FILE* in);
int __real_chdir(const char* path);
int __real_sigaction(int sig, const struct sigaction* act, struct sigaction* old);
}

namespace {

constexpr unsigned char resize_byte = 0xFF;
constexpr unsigned char batch_byte = 0xFE;

std::string sandbox;
int pty_master = -1, pty_slave = -1;
int fuzzer_cwd = -1;                    // libFuzzer's own paths are relative to it
struct sigaction initial_actions[NSIG]; // libFuzzer's, as taken before each run

// The run in progress.
bool in_run = false;
struct RunEnd {};
SCREEN* run_screen = nullptr;
const uint8_t* keys_at = nullptr;
const uint8_t* keys_end = nullptr;
int closing_keys = 0; // Control-G typed at the end to close dialogs

EditorGlobals initial_globals;
int32_t initial_spare = 0;

void set_size(int lines, int cols) {
    struct winsize ws {};
    ws.ws_row = static_cast<unsigned short>(lines);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(pty_master, TIOCSWINSZ, &ws);
}

// The terminal's input queue may be full while the line discipline still
// moves earlier keys: wait for room a moment, then drop the rest, as a
// terminal drops typeahead it cannot hold.
void type(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(pty_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) abort();
        struct pollfd p {
            pty_master, POLLOUT, 0
        };
        if (poll(&p, 1, 100) <= 0) return;
    }
}

int unread_keys() {
    int n = 0;
    ioctl(pty_slave, FIONREAD, &n);
    return n;
}

bool sigint_is_the_editors() {
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    return now.sa_handler != SIG_IGN && now.sa_handler != SIG_DFL &&
           now.sa_handler != initial_actions[SIGINT].sa_handler;
}

// The next event of the input when the editor waits: returns true when it
// raised a signal (the wait then returns at once, interrupted).
bool give_next() {
    std::string batch;
    while (keys_at < keys_end) {
        uint8_t b = *keys_at;
        if (b == resize_byte) {
            if (!batch.empty()) break;
            int lines = keys_at + 1 < keys_end ? 1 + keys_at[1] % 60 : 24;
            int cols = keys_at + 2 < keys_end ? 1 + keys_at[2] % 200 : 80;
            keys_at += 3;
            set_size(lines, cols);
            raise(SIGWINCH);
            return true;
        }
        if (b == 3) {
            if (!batch.empty()) break;
            ++keys_at;
            if (sigint_is_the_editors()) {
                raise(SIGINT);
                return true;
            }
            continue;
        }
        ++keys_at;
        if (b == batch_byte) {
            if (batch.empty()) continue;
            break;
        }
        if (b == '/' || b == 0x1a || b == 0x1c) continue;
        batch += static_cast<char>(b);
    }
    if (!batch.empty()) {
        type(batch);
        return false;
    }
    // Used up: close what is open, then end the run.
    if ((current_popup || quit_dialog_open) && closing_keys < 16) {
        ++closing_keys;
        type("\x07");
        return false;
    }
    throw RunEnd{};
}

void remove_sandbox_files() {
    if (__real_chdir(sandbox.c_str()) != 0) abort();
    DIR* d = opendir(".");
    if (!d) abort();
    while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink(e->d_name);
    closedir(d);
}

std::set<int> open_descriptors() {
    std::set<int> fds;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return fds;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') fds.insert(atoi(e->d_name));
    fds.erase(dirfd(d));
    closedir(d);
    return fds;
}

// What a fresh process would have: the globals as at start, nothing left of
// the previous run's screen, files, tables or dialogs.
void reset_editor_state() {
    Globals = initial_globals;
    cursor_x = 10;
    cursor_y = 1;
    cursor_loc = 0;
    color = 0;
    color_forced_off = false;
    ByteBuffer().swap(buffer);
    buf_spare = initial_spare;
    text_row_starts.clear();
    current_popup = nullptr;
    output_charset = OutputCharset::Ascii;
    interrupt_kind = Interrupt::Startup;
    quit_dialog_open = false;
    clear_mod_table(); // with the range pieces
    clipboard.reset();
    select_mark.reset();
    find_last.reset();
    bar_note.clear();
    undo_clear();
    fp_reads_other_file = false;
    jump_distance = 0;
    jump_key = 0;
    last_pattern.reset();
    search_used = 0;
    hex_input = HexInput{};
    for (calc_base_line*& l : calc_lines)
        l = nullptr;
    calc_line = 3;
    // A run that ended in the browser still holds its listing.
    free_name_list(browser_list);
    browser_list = nullptr;
    browser_selected = nullptr;
    browser_pages.clear();
    browser_page = 0;
    // The other file's descriptor has been closed with the run's others,
    // its windows with the screen.
    compare_file = CompareFile{};
    optind = 0; // getopt starts over
}

std::string file_content(int choice) {
    switch (choice) {
    case 0: {
        std::string s(64, '\0');
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<char>(i * 37 + 11);
        return s;
    }
    case 1: { // more than one page of the paged window, and a hole
        std::string s(40000, '\0');
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<char>((i * 7) ^ (i >> 8));
        s.replace(20000, 5, "storm");
        std::fill(s.begin() + 24576, s.begin() + 36864, '\0');
        return s;
    }
    case 2:
        return "A";
    default:
        return "Hello, world\nline two\n\tend\n";
    }
}

// The file to compare with: a few bytes changed (none of the zeros), three
// inserted a third of the way in (Align finds the shift past them) and four
// more at the end.
std::string other_content(const std::string& mine) {
    std::string s = mine;
    for (size_t i = 5; i < s.size(); i += 997)
        if (s[i] != 0) s[i] = static_cast<char>(s[i] ^ 0x20);
    s.insert(s.size() / 3, "ins");
    return s + "tail";
}

// Blocks of 4 KiB that hold only zeros are left as holes, as in a sparse
// file, for the difference searches, which skip what both files hold as one.
void write_file(const char* name, const std::string& content) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) abort();
    constexpr size_t block = 4096;
    for (size_t at = 0; at < content.size(); at += block) {
        const size_t n = std::min(block, content.size() - at);
        if (content.find_first_not_of('\0', at) >= at + n) continue;
        if (pwrite(fd, content.data() + at, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
            abort();
    }
    if (ftruncate(fd, static_cast<off_t>(content.size())) != 0) abort();
    close(fd);
}

void run(const uint8_t* data, size_t size) {
    const uint8_t options = size > 0 ? data[0] : 0;
    const int lines = size > 1 ? 1 + data[1] % 60 : 24;
    const int cols = size > 2 ? 1 + data[2] % 200 : 80;
    keys_at = data + (size < 3 ? size : 3);
    keys_end = data + size;
    closing_keys = 0;

    remove_sandbox_files();
    const std::string content = file_content((options >> 5) & 3);
    write_file("f.bin", content);
    write_file("g.bin", other_content(content));
    std::vector<std::string> args = {"morvane"};
    if (options & 1) args.push_back("-b");
    if (options & 2)
        args.push_back(options & 0x80 ? "-a" : "-8");
    else if (options & 0x80)
        args.insert(args.end(), {"--compare", "g.bin"});
    if (options & 4) args.push_back("-r");
    if (options & 8) args.push_back("-n");
    args.push_back("f.bin");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("LC_ALL", options & 16 ? "C.UTF-8" : "C", 1);
    setenv("LINES", std::to_string(lines).c_str(), 1);
    setenv("COLUMNS", std::to_string(cols).c_str(), 1);
    set_size(lines, cols);
    tcflush(pty_slave, TCIFLUSH);

    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, nullptr, &initial_actions[sig]);
    const std::set<int> fds_before = open_descriptors();
    reset_editor_state();
    in_run = true;
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    try {
        start_editor(static_cast<int>(args.size()), argv.data());
        for (;;) {
            int key = read_key();
            if (Globals.mode == 2)
                text_mode_key(key);
            else if (Globals.mode == 1)
                hex_mode_key(key);
        }
    } catch (const RunEnd&) {
    }
    in_run = false;
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    // Every dialog's scope has undone itself on the way out.
    if (dialog_open() || current_popup) abort();

    if (run_screen) {
        if (!isendwin()) endwin();
        delscreen(run_screen);
        run_screen = nullptr;
    }
    Globals.main_win = Globals.status_win = Globals.help_win = nullptr;
    if (Globals.fp) fclose(Globals.fp);
    Globals.fp = nullptr;
    for (int fd : open_descriptors())
        if (!fds_before.count(fd)) close(fd);
    // Whatever the run left allocated is released now, so that leak
    // detection sees only what the editor itself lost.
    reset_editor_state();
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &initial_actions[sig], nullptr);
    if (fchdir(fuzzer_cwd) != 0) abort();
}

} // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
    if (in_run) throw RunEnd{};
    __real_exit(status);
}

int __wrap_pselect(int n, fd_set* r, fd_set* w, fd_set* e, const struct timespec* t,
                   const sigset_t* mask) {
    if (in_run && unread_keys() == 0) give_next();
    return __real_pselect(n, r, w, e, t, mask);
}

SCREEN* __wrap_newterm(const char* type, FILE* out, FILE* in) {
    SCREEN* s = __real_newterm(type, out, in);
    if (in_run) run_screen = s;
    return s;
}

int __wrap_sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
    // libFuzzer's timeout timer ticks with SIGALRM; the editor's handler for
    // it would end the whole fuzzer at the next tick.
    if (in_run && sig == SIGALRM && act) return __real_sigaction(sig, nullptr, old);
    return __real_sigaction(sig, act, old);
}

int __wrap_chdir(const char* path) {
    if (in_run) {
        char* real = realpath(path, nullptr);
        bool inside = real && std::string(real).rfind(sandbox, 0) == 0;
        free(real);
        if (!inside) {
            errno = EACCES;
            return -1;
        }
    }
    return __real_chdir(path);
}

int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/morvane-fuzz-XXXXXX";
    if (!mkdtemp(dir)) abort();
    sandbox = dir;
    if (openpty(&pty_master, &pty_slave, nullptr, nullptr, nullptr) != 0) abort();
    struct termios raw {};
    tcgetattr(pty_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(pty_slave, TCSANOW, &raw);
    fcntl(pty_master, F_SETFL, fcntl(pty_master, F_GETFL) | O_NONBLOCK);
    if (dup2(pty_slave, 0) < 0) abort();
    stdin = fdopen(0, "r");
    stdout = fopen("/dev/null", "w");
    stderr = fopen("/dev/null", "w"); // the editor's messages; libFuzzer keeps its own
    setenv("TERM", "xterm-256color", 1);
    setenv("ESCDELAY", "0", 1);
    unsetenv("MORVANE");
    fuzzer_cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fuzzer_cwd < 0) abort();
    initial_globals = Globals;
    initial_spare = buf_spare;
    // Blocks smaller than the larger file, so that the difference searches
    // go from block to block.
    compare_block = 4096;
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run(data, size);
    return 0;
}

} // extern "C"
