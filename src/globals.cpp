// globals.cpp: the editor's state, colour roles and the small screen services
// that every module calls (fatal_error, warn_beep, popup_window, error_box).
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "morvane.h"

EditorGlobals Globals;

int32_t cursor_x = 10;
int32_t cursor_y = 1;
uint64_t cursor_loc = 0;
int32_t color = 0;
bool color_forced_off = false;
ByteBuffer buffer;
int32_t buf_spare = 1024;
std::vector<uint64_t> text_row_starts;
WINDOW* current_popup = nullptr;
OutputCharset output_charset = OutputCharset::Ascii;

void fatal_error(const char* message, const char* subject) {
    // Keep the error code of the failure that brought us here: the curses
    // calls below may change errno.
    int saved = errno;
    if (!isendwin() && stdscr) {
        erase();
        refresh();
        endwin();
    }
    // On the way out: a failed write to stderr has nowhere else to go.
    if (message) (void)fprintf(stderr, "%s\n", message);
    if (subject) (void)fprintf(stderr, "%s: %s\n", subject, strerror(saved));
    exit(1);
}

void put_clipped(WINDOW* w, int row, int col, std::string_view text, int lo, int hi) {
    if (w == nullptr || row < 0 || row >= getmaxy(w)) return;
    if (lo < 0) lo = 0;
    if (hi > getmaxx(w)) hi = getmaxx(w);
    size_t skip = 0;
    if (col < lo) {
        skip = static_cast<size_t>(lo - col);
        col = lo;
    }
    if (skip >= text.size() || col >= hi) return;
    size_t n = text.size() - skip;
    if (n > static_cast<size_t>(hi - col)) n = static_cast<size_t>(hi - col);
    mvwaddnstr(w, row, col, text.data() + skip, static_cast<int>(n));
}

void warn_beep() {
    if (Globals.beep_on) beep();
}

WINDOW* popup_window(int width, int height) {
    if (height > LINES) height = LINES;
    if (width > COLS) width = COLS;
    WINDOW* w = nullptr;
    if (width > 0 && height > 0)
        w = newwin(height, width, LINES / 2 - height / 2, COLS / 2 - width / 2);
    if (!w) {
        (void)fputs("Cannot open up popup window\n", stderr);
        return nullptr;
    }
    scrollok(w, FALSE);
    popup_border(w);
    return w;
}

// ncurses' wborder clears a wide character's remnant in the cell right of the
// left edge, and in a window one column wide that cell lies past the end of
// the line: it reads and may write the neighbouring heap block.
void popup_border(WINDOW* w) {
    if (w && getmaxx(w) >= 2) wborder(w, 0, 0, 0, 0, 0, 0, 0, 0);
}

// Centres `text` on `row` of a box `box_width` wide (the classic formula), but
// keeps it inside the border: a text wider than the inside is cut and its
// last visible cell marks the cut with '>'.
static void put_centred_in_box(WINDOW* w, int row, int box_width, const std::string& text) {
    int inner = box_width - 2;
    if (inner <= 0 || row < 1 || row >= getmaxy(w) - 1) return;
    int len = static_cast<int>(text.size());
    int col = box_width / 2 - len / 2;
    if (col >= 1 && col + len <= box_width - 1) {
        mvput_safe(w, row, col, text);
        return;
    }
    if (len <= inner) {
        mvput_safe(w, row, 1 + (inner - len) / 2, text);
        return;
    }
    mvput_safe(w, row, 1, text, inner - 1);
    waddch(w, '>');
}

void error_box(const std::string& message, int use_errno) {
    std::string reason = use_errno ? strerror(errno) : "Not applicable";
    DialogScope dialog({.width = 50, .height = 6, .interrupts = DialogInterrupts::Kept});
    WINDOW* box = dialog.win();
    if (box) {
        werase(box);
        popup_border(box);
        // The box is narrower than 50 on a narrow terminal.
        const int width = getmaxx(box);
        put_centred_in_box(box, 1, width, message);
        put_centred_in_box(box, 3, width, "Reason: " + reason);
    }
    read_key();
}

attr_t attr_normal() {
    return color ? COLOR_PAIR(1) : A_NORMAL;
}
attr_t attr_modified() {
    return color ? (A_BOLD | COLOR_PAIR(2)) : A_BOLD;
}
attr_t attr_status() {
    return color ? (A_BOLD | COLOR_PAIR(4)) : A_REVERSE;
}
attr_t attr_help() {
    return color ? (A_BOLD | COLOR_PAIR(3)) : A_NORMAL;
}
attr_t attr_field() {
    return color ? (A_BOLD | COLOR_PAIR(4)) : A_REVERSE;
}

// A one-cell mark for bytes the terminal cannot show; it is not '.', so such
// bytes stay distinguishable from those shown as '.'.
static void put_stand_in(WINDOW* w) {
    waddch(w, ACS_CKBOARD);
}

void put_byte_cell(WINDOW* w, int b) {
    if (b >= 0x20 && b <= 0x7E) {
        waddch(w, static_cast<chtype>(b));
        return;
    }
    if (b >= 0xA0 && b <= 0xFF) {
        if (output_charset == OutputCharset::Utf8) {
            wchar_t wc[2] = {static_cast<wchar_t>(b), 0};
            cchar_t cc;
            attr_t a;
            short pair;
            wattr_get(w, &a, &pair, nullptr);
            setcchar(&cc, wc, a, pair, nullptr);
            wadd_wch(w, &cc);
            return;
        }
        if (output_charset == OutputCharset::Latin1) {
            waddch(w, static_cast<chtype>(b));
            return;
        }
    }
    put_stand_in(w);
}

void put_safe(WINDOW* w, std::string_view s, int max) {
    size_t n = s.size();
    if (max >= 0 && static_cast<size_t>(max) < n) n = static_cast<size_t>(max);
    for (size_t i = 0; i < n; ++i) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (b >= 0x20 && b <= 0x7E)
            waddch(w, b);
        else
            put_byte_cell(w, b);
    }
}

void mvput_safe(WINDOW* w, int y, int x, std::string_view s, int max) {
    if (wmove(w, y, x) == ERR) return;
    put_safe(w, s, max);
}
