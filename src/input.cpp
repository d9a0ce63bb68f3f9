// input.cpp: reading keys and the signals deferred until a key is read.
//
// Signals are deferred. curses, stdio and the heap are not safe inside a
// signal handler, so the handlers only record the signal. SIGINT, SIGWINCH,
// SIGTSTP and SIGCONT stay blocked except while read_key waits for input in pselect, which closes
// the race between checking the flags and blocking; read_key then acts on
// what arrived (the quit dialog, the browser's exit, the resize) before it
// returns the next key. Long loops call poll_signals. Signals that end the
// program, and crashes, put the terminal back first with async-signal-safe
// calls only.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "morvane.h"

Interrupt interrupt_kind = Interrupt::Startup;
int key_input_fd = 0;

static volatile sig_atomic_t pending_interrupt = 0;
static volatile sig_atomic_t pending_resize = 0;
static volatile sig_atomic_t pending_suspend = 0; // Control-Z
static volatile sig_atomic_t pending_resume = 0;  // continued after a stop not our own

static void on_interrupt(int) {
    pending_interrupt = 1;
}
static void on_resize(int) {
    pending_resize = 1;
}
static void on_suspend(int) {
    pending_suspend = 1;
}
static void on_continue(int) {
    pending_resume = 1;
}

static constexpr int deferred[] = {SIGINT, SIGWINCH, SIGTSTP, SIGCONT};

static sigset_t deferred_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : deferred)
        sigaddset(&set, sig);
    return set;
}

// ------------------------------------------------------------ emergency restore

static struct termios shell_termios;
static bool have_shell_termios = false;
static struct sigaction previous_crash_action[NSIG];
static constexpr int crash_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Signals whose default is to end the process: the terminal must not be left
// raw and on the alternate screen by them. Nothing is saved; unsaved changes
// are lost as with the quit dialog's Yes.
static constexpr int ending_signals[] = {SIGTERM, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};

// What ends the terminal's full-screen mode, taken from the terminal's own
// description once curses has started (a handler may not ask curses).
static char leave_screen[256] = "\033[?1049l\033[?25h";
static size_t leave_screen_len = sizeof "\033[?1049l\033[?25h" - 1;

// The process is ending: a write that fails has nowhere to be reported.
static void write_to_terminal_now(const char* bytes, size_t len) {
    ssize_t ignored = write(STDOUT_FILENO, bytes, len);
    (void)ignored;
}

// Only async-signal-safe calls: the terminal back in the mode the shell gave
// us, out of the alternate screen.
static void restore_terminal_now() {
    if (have_shell_termios) tcsetattr(STDIN_FILENO, TCSANOW, &shell_termios);
    write_to_terminal_now(leave_screen, leave_screen_len);
    write_to_terminal_now("\r\n", 2);
}

// Then the previous action (the sanitizer's report, or the default core
// dump) runs.
static void on_crash(int sig, siginfo_t* info, void* context) {
    restore_terminal_now();
    save_drop_temp_now();
    struct sigaction& prev = previous_crash_action[sig];
    sigaction(sig, &prev, nullptr);
    if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
        prev.sa_sigaction(sig, info, context);
    } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
    }
    // Nothing is left to try if these fail: the handler returns and the
    // fault comes again.
    (void)signal(sig, SIG_DFL);
    (void)raise(sig);
}

// The handler was reset to the default on entry and the signal is not
// blocked, so raising it again ends the program with the signal's status.
static void on_ending_signal(int sig) {
    restore_terminal_now();
    save_drop_temp_now();
    (void)raise(sig);
}

// A write in place that is cut short leaves a file that is neither the old
// one nor the new one; these signals wait for the end of such a write (SIGPIPE
// stays immediate: a pipe without a reader is written to no more anyway).
static constexpr int held_signals[] = {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM};
static bool writes_held = false;

EndingSignalsHeld::EndingSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : held_signals)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &before_);
    writes_held = true;
}

// A signal that came meanwhile is delivered here and ends the program.
EndingSignalsHeld::~EndingSignalsHeld() {
    writes_held = false;
    sigprocmask(SIG_SETMASK, &before_, nullptr);
}

void prepare_crash_restore() {
    if (tcgetattr(STDIN_FILENO, &shell_termios) == 0) have_shell_termios = true;
    for (int sig : crash_signals) {
        struct sigaction sa {};
        sa.sa_sigaction = on_crash;
        sa.sa_flags = SA_SIGINFO | SA_RESETHAND;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, &previous_crash_action[sig]);
    }
}

void prepare_ending_signals() {
    size_t len = 0;
    for (const char* cap : {"rmkx", "sgr0", "cnorm", "rmcup"}) {
        const char* s = tigetstr(cap);
        // NOLINTNEXTLINE(performance-no-int-to-ptr): curses' "not a string capability"
        if (!s || s == reinterpret_cast<const char*>(-1)) continue;
        size_t n = strlen(s);
        if (len + n >= sizeof leave_screen) break;
        // NOLINTNEXTLINE(bugprone-not-null-terminated-result): bytes with a length, for write()
        memcpy(leave_screen + len, s, n);
        len += n;
    }
    leave_screen_len = len;
    for (int sig : ending_signals) {
        struct sigaction previous {};
        sigaction(sig, nullptr, &previous);
        // A signal the shell told us to ignore (nohup) stays ignored.
        if (previous.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = on_ending_signal;
        sa.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

// ------------------------------------------------------------ signal control

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGWINCH, &sa, nullptr);
    // curses' own Control-Z handler works inside the signal and brings the
    // screen back at the size it had before the stop: the stop and the
    // return are deferred like the other signals. A shell without job
    // control that had it ignored keeps it so.
    struct sigaction previous {};
    sa.sa_handler = on_suspend;
    sigaction(SIGTSTP, &sa, &previous);
    if (previous.sa_handler == SIG_IGN) sigaction(SIGTSTP, &previous, nullptr);
    sa.sa_handler = on_continue;
    sigaction(SIGCONT, &sa, nullptr);
    // Control-\ would end the editor at once, losing unsaved changes and
    // leaving the terminal raw: it is not a way out of an editor.
    (void)signal(SIGQUIT, SIG_IGN); // fails only for an invalid signal number
    sigset_t set = deferred_signals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void install_interrupt(Interrupt kind) {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_NODEFER;
    sigaction(SIGINT, &sa, nullptr);
    interrupt_kind = kind;
    pending_interrupt = 0;
}

SavedInterrupt ignore_interrupt() {
    SavedInterrupt saved{};
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &saved.action);
    saved.kind = interrupt_kind;
    pending_interrupt = 0; // an interrupt that arrived while ignored is dropped
    return saved;
}

void restore_interrupt(const SavedInterrupt& saved) {
    sigaction(SIGINT, &saved.action, nullptr);
    interrupt_kind = saved.kind;
}

// The shell had the terminal meanwhile: its modes may differ from ours, and
// a resize while we were stopped went to the shell, in the foreground then.
// Everything is drawn anew at the size the terminal has now.
static void resume_screen() {
    reset_prog_mode();
    handle_resize();
    // curses leaves the state endwin put it in only through a refresh, and
    // update_screen draws nothing before: the blank backdrop goes first.
    if (isendwin()) doupdate();
    redraw_later(REDRAW_ALL | REDRAW_CLEAR);
}

// Control-Z: the terminal goes back to the shell, then the process stops
// until `fg` (in a process group no shell controls, the stop is dropped by
// the system and the editor simply goes on).
static void suspend_now() {
    endwin();
    struct sigaction stop {};
    struct sigaction ours {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, &ours);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGCONT);
    (void)kill(getpid(), SIGTSTP);           // held back until the mask below lets it act
    sigprocmask(SIG_UNBLOCK, &set, nullptr); // stopped here; SIGCONT goes on
    sigprocmask(SIG_BLOCK, &set, nullptr);
    sigaction(SIGTSTP, &ours, nullptr);
    pending_resume = 0; // this return is the one handled now
    resume_screen();
}

// A resize is only recorded (handle_resize draws nothing); an interrupt opens
// the quit dialog, whose own key loop draws it. True when a dialog was shown.
static bool act_on_signals() {
    if (pending_suspend) {
        pending_suspend = 0;
        suspend_now();
    }
    if (pending_resume) {
        pending_resume = 0;
        resume_screen();
    }
    if (pending_resize) {
        pending_resize = 0;
        handle_resize();
    }
    // The quit dialog could end the program in the middle of the write.
    if (!pending_interrupt || writes_held) return false;
    pending_interrupt = 0;
    if (interrupt_kind == Interrupt::QuitDialog) {
        quit_dialog();
        return true;
    }
    if (interrupt_kind == Interrupt::BrowserExit) browser_interrupt();
    return false;
}

// A key that raised a signal (Control-C) or a resize is already pending when
// the keys sent after it can be read: the signal is taken first, so those
// keys go to what it opens and never to the editor under it.
static void take_pending_signals() {
    sigset_t pending;
    if (sigpending(&pending) != 0) return;
    bool any = false;
    for (int sig : deferred)
        any = any || sigismember(&pending, sig) == 1;
    if (!any) return;
    sigset_t set = deferred_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

bool poll_signals() {
    sigset_t set = deferred_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return act_on_signals();
}

// The keyboard is gone when its descriptor reports a hang-up or an end of
// input: without this check a closed terminal would spin the key loop.
static bool input_gone() {
    struct pollfd p {
        key_input_fd, POLLIN, 0
    };
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLNVAL | POLLERR)) return true;
    // A descriptor that cannot say how much it holds (/dev/null) is at its
    // end as well: it stays readable and never gives a key.
    int avail = 0;
    return ioctl(key_input_fd, FIONREAD, &avail) != 0 || avail == 0;
}

// What runs between two keys: the signals act, New File chosen during long
// work opens the other file, the text view finds its page, and the frame
// of the last key is drawn. The drawing comes last and calls none of these.
static void between_keys(bool& drawn) {
    take_pending_signals();
    act_on_signals();
    if (new_file_wanted) quit_new_file();
    text_view_prepare();
    if (!drawn || redraw_needed) update_screen();
    drawn = true;
}

int read_key() {
    assert(!drawing_now() && "a key read from drawing");
    int idle_wakeups = 0;
    bool drawn = false;
    for (;;) {
        between_keys(drawn);
        if (int kept; take_kept_key(kept)) return kept;
        nodelay(stdscr, TRUE);
        int key = wgetch(stdscr);
        // curses reports its own resizing as a key; the resize has been
        // handled already and must not reach a dispatcher as a character.
        if (key == KEY_RESIZE) continue;
        if (key != ERR && dialog_refuses_key(key)) {
            warn_beep();
            continue;
        }
        if (key != ERR) return key;

        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(key_input_fd, &readable);
        sigset_t during_wait;
        sigprocmask(SIG_SETMASK, nullptr, &during_wait);
        for (int sig : deferred)
            sigdelset(&during_wait, sig);
        int ready = pselect(key_input_fd + 1, &readable, nullptr, nullptr, nullptr, &during_wait);
        if (ready > 0) {
            // Readable but curses found no key: usually part of an escape
            // sequence; many times in a row means the input has closed.
            if (++idle_wakeups > 64 && input_gone()) fatal_error("Lost the keyboard", nullptr);
        } else if (ready < 0 && errno != EINTR) {
            fatal_error(nullptr, "select");
        }
    }
}

namespace {

// What Shift adds to a numbered key's sequence (ESC [ 5 ; 2 ~) or to a
// lettered one (ESC [ 1 ; 2 D): the curses code of the shifted key, or 0.
int shifted_key(char final, int number) {
    if (final != '~' && number != 1) return 0;
    switch (final) {
    case 'A':
        return KEY_SR;
    case 'B':
        return KEY_SF;
    case 'C':
        return KEY_SRIGHT;
    case 'D':
        return KEY_SLEFT;
    case 'H':
        return KEY_SHOME;
    case 'F':
        return KEY_SEND;
    case '~':
        return number == 5 ? KEY_SPREVIOUS : number == 6 ? KEY_SNEXT : 0;
    default:
        return 0;
    }
}

bool is_letter(int k) {
    return (k >= 'a' && k <= 'z') || (k >= 'A' && k <= 'Z');
}

// The one decoder of raw sequences: `next` gives the keys after the ESC (ERR
// when none is waiting, for a caller that must not wait); `waiting` gives a
// key only when one has already arrived.
int decode_escape(int (*next)(), int (*waiting)()) {
    const int second = next();
    if (second == 'O') {
        // ESC O begins the arrows' sequences; alone, it is Alt-O typed with
        // Shift, whose terminal sends nothing after it.
        switch (waiting()) {
        case ERR:
            return alt_key('o');
        case 'A':
            return KEY_UP;
        case 'B':
            return KEY_DOWN;
        case 'C':
            return KEY_RIGHT;
        case 'D':
            return KEY_LEFT;
        default:
            return 0;
        }
    }
    if (is_letter(second)) return alt_key(static_cast<char>(second));
    if (second == '=') return KEY_ALT_EQUALS;
    if (second != '[') return 0;
    // Parameters up to the final byte: ESC [ 6 ~ names a key by its digit.
    static constexpr int numbered[] = {KEY_HOME, KEY_IC, KEY_DC, KEY_END, KEY_PPAGE, KEY_NPAGE};
    std::string params;
    int final = 0;
    for (int k = next(); k != ERR; k = next()) {
        if (k >= 0x40 && k <= 0x7E) {
            final = k;
            break;
        }
        params += static_cast<char>(k);
    }
    if (params.size() == 1 && params[0] >= '1' && params[0] <= '6')
        return numbered[params[0] - '1'];
    // Shift is modifier 2: "1;2" before a letter, "5;2" or "6;2" before '~'.
    if (params.size() == 3 && params.compare(1, 2, ";2") == 0)
        return shifted_key(static_cast<char>(final), params[0] - '0');
    return 0;
}

int waiting_key() {
    nodelay(stdscr, TRUE);
    return wgetch(stdscr);
}

// A key typed during long work is kept before any the terminal holds.
int arrived_key() {
    if (int kept; take_kept_key(kept)) return kept;
    return waiting_key();
}

} // namespace

int read_escape_sequence() {
    return decode_escape(read_key, arrived_key);
}

namespace {
int pushed_back = ERR; // a key read ahead by escape_sequence_if_any

int pushed_or_read() {
    if (pushed_back == ERR) return read_key();
    const int k = pushed_back;
    pushed_back = ERR;
    return k;
}
} // namespace

int escape_sequence_if_any() {
    const int first = arrived_key();
    if (first == ERR) return ERR;
    pushed_back = first;
    return decode_escape(pushed_or_read, arrived_key);
}

void drop_escape_sequence() {
    (void)decode_escape(waiting_key, waiting_key);
}
