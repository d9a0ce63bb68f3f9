// quit.cpp: leaving the program, the quit dialog and the terminal resize.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "morvane.h"

bool quit_dialog_open = false;
static int quit_selected = 0; // choice on show while the quit dialog is open

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
    stop_loading();
    ByteBuffer().swap(buffer);
    std::vector<uint64_t>().swap(text_row_starts);
    undo_clear();
    endwin();
    exit(0);
}

[[noreturn]] void browser_interrupt() {
    endwin();
    exit(0);
}

// The three forms of the choice line; the selected part is in reverse video.
static void draw_quit_choices(WINDOW* w, int choice) {
    if (!w) return;
    int col = 16;
    switch (choice) {
    case 1:
        col = popup_text(w, 4, col, " Yes ", A_REVERSE);
        popup_text(w, 4, col, "      No       New File ");
        break;
    case 2:
        col = popup_text(w, 4, col, " Yes      ");
        col = popup_text(w, 4, col, " No ", A_REVERSE);
        popup_text(w, 4, col, "      New File ");
        break;
    default:
        col = popup_text(w, 4, col, " Yes       No      ");
        popup_text(w, 4, col, " New File ", A_REVERSE);
        break;
    }
}

// The popup, its question and the choice line, for the current screen size.
static void layout_quit_dialog(DialogScope& scope) {
    WINDOW* w = popup_window(60, 6);
    scope.adopt(w);
    if (!w) return;
    if (Globals.file_state == FILE_READ_ONLY)
        popup_text(w, 2, 19, "   Really Quit?        ");
    else
        popup_text(w, 2, 20, "Quit without Saving?");
    draw_quit_choices(w, quit_selected);
}

// Reads keys until a choice is taken: 1 Yes, 2 No, 3 New File.
static int quit_choice() {
    for (;;) {
        int key = read_key();
        int choice = quit_selected;
        bool take = true;
        if (is_cancel_key(key)) key = 'n';
        switch (key) {
        case 'y':
        case 'Y':
            choice = 1;
            break;
        case 'n':
        case 'N':
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
        case KEY_LINE_FEED:
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

bool new_file_wanted = false;

void quit_new_file() {
    new_file_wanted = false;
    compare_close(); // the other file was compared with this one only
    // The current file is given up without saving.
    // Only read through: the saves write to its descriptor and check that.
    if (Globals.fp) (void)fclose(Globals.fp);
    Globals.fp = nullptr;
    FILE* none = nullptr;
    // From inside the calculator the new file waits behind it.
    const int mode_before = Globals.mode;
    open_file(&none);
    if (mode_before == MODE_CALCULATOR) Globals.mode = MODE_CALCULATOR;
    cursor_onto(0, 1);
    select_clear(); // the clipboard lives on; a mark in the other file means nothing here
    Globals.file_state = FILE_UNCHANGED;
    Globals.text_pane = 0;
    redraw_later(REDRAW_ALL);
}

void quit_dialog() {
    assert(!drawing_now() && "quit dialog opened from drawing");
    if (quit_dialog_open) return;
    quit_dialog_open = true;

    int choice;
    {
        // The interrupt keeps its action: quit_dialog_open stops a second one.
        // Its question and choices stand on rows 2 and 4: five rows show
        // them; its keys act on any terminal, as its question never changes.
        quit_selected = 1;
        DialogScope scope({.width = 60,
                           .height = 6,
                           .bar = "^G/^X/Escape Cancel   Y Yes   N No   F New File",
                           .layout = layout_quit_dialog,
                           .need_lines = 5,
                           .keys_when_hidden = "yYnNfF\n",
                           .interrupts = DialogInterrupts::Kept});
        choice = quit_choice();
        quit_selected = 0;
    }
    quit_dialog_open = false;

    if (choice == 1) quit_program();
    if (choice == 3) {
        // Long work on the file stops first: its data must not change under it.
        if (long_work_running())
            new_file_wanted = true;
        else
            quit_new_file();
    }
}

// ------------------------------------------------------------ resizing

void handle_resize() {
    assert(!drawing_now() && "handle_resize called from drawing");
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

    dialogs_before_resize();
    for (WINDOW** w : {&Globals.main_win, &Globals.status_win, &Globals.help_win}) {
        if (*w) delwin(*w);
        *w = nullptr;
    }
    if (resizeterm(size.ws_row, size.ws_col) == ERR) {
        endwin();
        (void)fputs("Cannot initialize screen - curses!\n\n", stderr);
        exit(1);
    }
    keypad(stdscr, TRUE);
    scrollok(stdscr, FALSE);
    cbreak();
    noecho();
    // The virtual screen still holds the popups where they were; the
    // backdrop, staged whole, blanks what nothing else will cover.
    touchwin(stdscr);
    wnoutrefresh(stdscr);
    create_windows(true);

    text_row_starts.assign(main_rows(), 0);
    cursor_y = std::clamp(cursor_y, 1, bottom_row());
    redraw_later(REDRAW_ALL | REDRAW_CLEAR);
}
