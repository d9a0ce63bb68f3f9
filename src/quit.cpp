// quit.cpp: leaving the program, the quit dialog, the interrupt and the
// terminal resize.
//
// Signals are deferred. curses, stdio and the heap are not safe inside a
// signal handler, so the handlers only record the signal. SIGINT and SIGWINCH
// stay blocked except while read_key waits for input in pselect, which closes
// the race between checking the flags and blocking; read_key then acts on
// what arrived (the quit dialog, the browser's exit, the resize) before it
// returns the next key. Long loops call poll_signals.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "morvane.h"

Interrupt interrupt_kind = Interrupt::Startup;
bool quit_dialog_open = false;
int key_input_fd = 0;

static volatile sig_atomic_t pending_interrupt = 0;
static volatile sig_atomic_t pending_resize = 0;

static void on_interrupt(int) {
    pending_interrupt = 1;
}
static void on_resize(int) {
    pending_resize = 1;
}

static sigset_t deferred_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGWINCH);
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

// Only async-signal-safe calls: the terminal back in the mode the shell gave
// us, out of the alternate screen.
static void restore_terminal_now() {
    if (have_shell_termios) tcsetattr(STDIN_FILENO, TCSANOW, &shell_termios);
    ssize_t ignored = write(STDOUT_FILENO, leave_screen, leave_screen_len);
    ignored = write(STDOUT_FILENO, "\r\n", 2);
    (void)ignored;
}

// Then the previous action (the sanitizer's report, or the default core
// dump) runs.
static void on_crash(int sig, siginfo_t* info, void* context) {
    restore_terminal_now();
    struct sigaction& prev = previous_crash_action[sig];
    sigaction(sig, &prev, nullptr);
    if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
        prev.sa_sigaction(sig, info, context);
    } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// The handler was reset to the default on entry and the signal is not
// blocked, so raising it again ends the program with the signal's status.
static void on_ending_signal(int sig) {
    restore_terminal_now();
    raise(sig);
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
        if (!s || s == reinterpret_cast<const char*>(-1)) continue;
        size_t n = strlen(s);
        if (len + n >= sizeof leave_screen) break;
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
    // Control-\ would end the editor at once, losing unsaved changes and
    // leaving the terminal raw: it is not a way out of an editor.
    signal(SIGQUIT, SIG_IGN);
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

static int quit_selected = 0; // choice on show while the quit dialog is open

void (*screen_overlay)() = nullptr;

static void act_on_signals() {
    bool resized = pending_resize;
    if (pending_resize) {
        pending_resize = 0;
        dialogs_before_resize();
        handle_resize();
        dialogs_show_again(true);
    }
    if (pending_interrupt) {
        pending_interrupt = 0;
        if (interrupt_kind == Interrupt::QuitDialog)
            quit_dialog();
        else if (interrupt_kind == Interrupt::BrowserExit)
            browser_interrupt();
        else
            return;
    } else if (!resized) {
        return;
    }
    // The screen was rebuilt under a prompt that lives in a bar.
    if (screen_overlay && !dialog_open()) screen_overlay();
}

// A key that raised a signal (Control-C) or a resize is already pending when
// the keys sent after it can be read: the signal is taken first, so those
// keys go to what it opens and never to the editor under it.
static void take_pending_signals() {
    sigset_t pending;
    if (sigpending(&pending) != 0) return;
    if (!sigismember(&pending, SIGINT) && !sigismember(&pending, SIGWINCH)) return;
    sigset_t set = deferred_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void poll_signals() {
    sigset_t set = deferred_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    act_on_signals();
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

int read_key() {
    int idle_wakeups = 0;
    for (;;) {
        take_pending_signals();
        act_on_signals();
        if (int kept; take_kept_key(kept)) return kept;
        nodelay(stdscr, TRUE);
        int key = wgetch(stdscr);
        // curses reports its own resizing as a key; the resize has been
        // handled already and must not reach a dispatcher as a character.
        if (key == KEY_RESIZE) continue;
        if (key != ERR && dialog_hidden()) {
            warn_beep();
            continue;
        }
        if (key != ERR) return key;

        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(key_input_fd, &readable);
        sigset_t during_wait;
        sigprocmask(SIG_SETMASK, nullptr, &during_wait);
        sigdelset(&during_wait, SIGINT);
        sigdelset(&during_wait, SIGWINCH);
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

// ------------------------------------------------------------ quitting

[[noreturn]] void quit_program() {
    if (stdscr) {
        move(LINES - 1, 0);
        for (int i = 0; i < COLS; ++i)
            addch(' ');
        refresh();
    }
    if (Globals.help_win) {
        werase(Globals.help_win);
        wrefresh(Globals.help_win);
    }
    for (WINDOW** w : {&Globals.status_win, &Globals.main_win, &Globals.help_win}) {
        if (*w) delwin(*w);
        *w = nullptr;
    }
    std::vector<unsigned char>().swap(buffer);
    std::vector<uint64_t>().swap(text_row_starts);
    undo_clear();
    endwin();
    exit(0);
}

[[noreturn]] void browser_interrupt() {
    endwin();
    exit(0);
}

// Writes `s` at (row, col) of the popup in `extra` on top of the window's
// attribute, never over its border: on a terminal smaller than the popup
// the text is cut, and a row the popup does not have is skipped. Returns
// the column after the text, as if it had all been written.
static int put_in_popup(WINDOW* w, int row, int col, const char* s, attr_t extra) {
    const int len = static_cast<int>(strlen(s));
    const int room = getmaxx(w) - 1 - col;
    if (row >= 1 && row < getmaxy(w) - 1 && room > 0) {
        wattron(w, extra);
        mvwaddnstr(w, row, col, s, len < room ? len : room);
        wattroff(w, extra);
    }
    return col + len;
}

// The three forms of the choice line; the selected part is in reverse video.
static void draw_quit_choices(WINDOW* w, int choice) {
    if (!w) return;
    int col = 16;
    switch (choice) {
    case 1:
        col = put_in_popup(w, 4, col, " Yes ", A_REVERSE);
        put_in_popup(w, 4, col, "      No       New File ", 0);
        break;
    case 2:
        col = put_in_popup(w, 4, col, " Yes      ", 0);
        col = put_in_popup(w, 4, col, " No ", A_REVERSE);
        put_in_popup(w, 4, col, "      New File ", 0);
        break;
    default:
        col = put_in_popup(w, 4, col, " Yes       No      ", 0);
        put_in_popup(w, 4, col, " New File ", A_REVERSE);
        break;
    }
    wrefresh(w);
}

static constexpr const char quit_keys[] = "^G/^X/Escape Cancel   Y Yes   N No   F New File";
static DialogScope* quit_scope = nullptr; // the open quit dialog

// The popup, its question, the choice line and the dialog's command bar, for
// the current screen size.
static void show_quit_dialog() {
    WINDOW* w = popup_window(60, 6);
    quit_scope->adopt(w);
    if (w) {
        if (Globals.file_state == 2)
            put_in_popup(w, 2, 19, "   Really Quit?        ", 0);
        else
            put_in_popup(w, 2, 20, "Quit without Saving?", 0);
    }
    draw_quit_choices(w, quit_selected);
    if (WINDOW* bar = Globals.help_win) {
        const int width = getmaxx(bar);
        mvwaddnstr(bar, 0, 0, quit_keys, width);
        for (int c = static_cast<int>(sizeof quit_keys - 1); c < width; ++c)
            waddch(bar, ' ');
        wrefresh(bar);
    }
}

// Reads keys until a choice is taken: 1 Yes, 2 No, 3 New File.
static int quit_choice() {
    for (;;) {
        int key = read_key();
        int choice = quit_selected;
        bool take = true;
        switch (key) {
        case 'y':
        case 'Y':
            choice = 1;
            break;
        case 'n':
        case 'N':
        case 7:
        case 24:
        case 27:
            choice = 2;
            break;
        case 'f':
        case 'F':
            choice = 3;
            break;
        case '\t':
        case KEY_RIGHT:
            choice = choice % 3 + 1;
            take = false;
            break;
        case KEY_LEFT:
            choice = choice == 1 ? 3 : choice - 1;
            take = false;
            break;
        case 10:
            break;
        default:
            take = false;
            break;
        }
        quit_selected = choice;
        draw_quit_choices(current_popup, choice);
        if (take) return choice;
    }
}

void quit_dialog() {
    if (quit_dialog_open) return;
    quit_dialog_open = true;

    int choice;
    {
        // The interrupt keeps its action: quit_dialog_open stops a second one.
        DialogScope scope(nullptr, quit_keys, DialogScope::Interrupts::Kept, show_quit_dialog, 6);
        quit_scope = &scope;
        quit_selected = 1;
        show_quit_dialog();
        choice = quit_choice();
        quit_selected = 0;
        quit_scope = nullptr;
    }

    if (choice == 1) quit_program();
    if (choice == 3) {
        // The current file is given up without saving.
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        FILE* none = nullptr;
        // From inside the calculator the new file waits behind it.
        const int mode_before = Globals.mode;
        open_file(&none);
        if (mode_before == 3) Globals.mode = 3;
        cursor_y = 1;
        cursor_x = 10;
        cursor_loc = 0;
        Globals.file_state = 0;
        Globals.text_pane = 0;
    }
    redraw_all();
    // A dialog the quit dialog opened over comes back on top.
    dialogs_show_again(false);
    quit_dialog_open = false;
}

// ------------------------------------------------------------ resizing

void handle_resize() {
    const char* tty = ttyname(STDIN_FILENO);
    if (!tty) return;
    // A terminal we may not open (the program runs as another user than the
    // device's owner) can still be asked through the descriptor we hold; only
    // when that fails too is there something to report.
    struct winsize size {};
    int fd = open(tty, O_RDWR | O_NOCTTY);
    int open_error = errno;
    int ok = ioctl(fd >= 0 ? fd : STDIN_FILENO, TIOCGWINSZ, &size);
    if (fd >= 0) close(fd);
    if (fd < 0 && ok < 0) {
        errno = open_error;
        perror(tty);
        return;
    }
    if (ok < 0) {
        perror("ioctl TIOCGWINSZ");
        return;
    }
    if (size.ws_row == 0 || size.ws_col == 0) return;

    for (WINDOW** w : {&Globals.main_win, &Globals.status_win, &Globals.help_win}) {
        if (*w) delwin(*w);
        *w = nullptr;
    }
    if (resizeterm(size.ws_row, size.ws_col) == ERR) {
        endwin();
        fputs("Cannot initialize screen - curses!\n\n", stderr);
        exit(1);
    }
    keypad(stdscr, TRUE);
    scrollok(stdscr, FALSE);
    cbreak();
    noecho();
    clearok(curscr, TRUE);
    // The virtual screen still holds the popups where they were; only the
    // backdrop painted whole blanks what nothing else will cover.
    touchwin(stdscr);
    refresh();
    create_windows(true);

    text_row_starts.assign(main_rows(), 0);
    if (cursor_y >= LINES - 2) cursor_y = LINES - 2;
    if (cursor_y < 1) cursor_y = 1;

    if (Globals.mode != 0) {
        redraw_all();
        refresh();
    } else {
        browser_resize_redraw();
    }
}
