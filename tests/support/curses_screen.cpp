#include "curses_screen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

CursesScreen::CursesScreen(int lines, int cols, bool with_color) {
    setenv("TERM", "xterm-256color", 1);
    setenv("LINES", std::to_string(lines).c_str(), 1);
    setenv("COLUMNS", std::to_string(cols).c_str(), 1);
    setenv("ESCDELAY", "25", 1);
    use_env(TRUE);
    if (pipe(pipe_) != 0) throw std::runtime_error("pipe");
    out_ = fopen("/dev/null", "w");
    in_ = fdopen(pipe_[0], "r");
    screen_ = newterm("xterm-256color", out_, in_);
    if (!screen_) throw std::runtime_error("newterm");
    set_term(screen_);
    resize_term(lines, cols);
    redraw_later(REDRAW_ALL); // a new screen is drawn whole
    saved_input_fd_ = key_input_fd;
    key_input_fd = pipe_[0];
    keypad(stdscr, TRUE);
    meta(stdscr, TRUE); // keys of 128 and above arrive whole, as on a real terminal
    cbreak();
    noecho();
    refresh(); // the first key read must not repaint a blank stdscr over the windows
    color = 0;
    if (with_color) {
        start_color();
        use_default_colors();
        init_colour_pairs();
        color = 1;
    }
    Globals.status_win = newwin(1, COLS, 0, 0);
    Globals.main_win = newwin(LINES - 2, COLS, 1, 0);
    Globals.help_win = newwin(1, COLS, LINES - 1, 0);
    saved_row_starts_ = text_row_starts; // sized for this screen until it goes
    text_row_starts.assign(LINES > 2 ? LINES - 2 : 1, 0);
}

CursesScreen::~CursesScreen() {
    for (WINDOW** w : {&Globals.status_win, &Globals.main_win, &Globals.help_win}) {
        if (*w) delwin(*w);
        *w = nullptr;
    }
    endwin();
    delscreen(screen_);
    key_input_fd = saved_input_fd_;
    text_row_starts = saved_row_starts_;
    fclose(in_);
    close(pipe_[1]);
    fclose(out_);
    color = 0;
}

std::string CursesScreen::text(WINDOW* w, int row) {
    std::string s;
    int cols = getmaxx(w);
    for (int c = 0; c < cols; ++c)
        s += ch(w, row, c);
    return s;
}

char CursesScreen::ch(WINDOW* w, int row, int col) {
    cchar_t cc;
    if (mvwin_wch(w, row, col, &cc) == ERR) return '?';
    wchar_t wc[CCHARW_MAX + 1];
    attr_t a;
    short p;
    getcchar(&cc, wc, &a, &p, nullptr);
    if (a & A_ALTCHARSET) return '?';
    if (wc[0] < 0x20 || wc[0] > 0x7E) return '?';
    return static_cast<char>(wc[0]);
}

attr_t CursesScreen::attrs(WINDOW* w, int row, int col) {
    cchar_t cc;
    if (mvwin_wch(w, row, col, &cc) == ERR) return 0;
    wchar_t wc[CCHARW_MAX + 1];
    attr_t a;
    short p;
    getcchar(&cc, wc, &a, &p, nullptr);
    return a & ~A_COLOR;
}

short CursesScreen::pair(WINDOW* w, int row, int col) {
    cchar_t cc;
    if (mvwin_wch(w, row, col, &cc) == ERR) return -1;
    wchar_t wc[CCHARW_MAX + 1];
    attr_t a;
    short p;
    getcchar(&cc, wc, &a, &p, nullptr);
    return p;
}

void CursesScreen::feed(const std::string& bytes) {
    ssize_t n = write(pipe_[1], bytes.data(), bytes.size());
    if (n != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("feed");
}

std::string CursesScreen::key(int code) {
    switch (code) {
    case KEY_UP:
        return "\033OA";
    case KEY_DOWN:
        return "\033OB";
    case KEY_RIGHT:
        return "\033OC";
    case KEY_LEFT:
        return "\033OD";
    case KEY_HOME:
        return "\033OH";
    case KEY_END:
        return "\033OF";
    case KEY_PPAGE:
        return "\033[5~";
    case KEY_NPAGE:
        return "\033[6~";
    case KEY_DC:
        return "\033[3~";
    case KEY_IC:
        return "\033[2~";
    case KEY_BACKSPACE:
        return "\177";
    case KEY_F(1):
        return "\033OP";
    case KEY_F(2):
        return "\033OQ";
    case KEY_F(3):
        return "\033OR";
    case KEY_F(4):
        return "\033OS";
    case KEY_F(5):
        return "\033[15~";
    case KEY_F(6):
        return "\033[17~";
    case KEY_F(7):
        return "\033[18~";
    case KEY_F(9):
        return "\033[20~";
    case KEY_F(12):
        return "\033[24~";
    // With Shift.
    case KEY_SR:
        return "\033[1;2A";
    case KEY_SF:
        return "\033[1;2B";
    case KEY_SRIGHT:
        return "\033[1;2C";
    case KEY_SLEFT:
        return "\033[1;2D";
    case KEY_SHOME:
        return "\033[1;2H";
    case KEY_SEND:
        return "\033[1;2F";
    case KEY_SPREVIOUS:
        return "\033[5;2~";
    case KEY_SNEXT:
        return "\033[6;2~";
    default:
        throw std::runtime_error("no sequence for key");
    }
}
