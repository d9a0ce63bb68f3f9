// globals.cpp: the editor's state, colour roles and the small screen services
// that every module calls (fatal_error, warn_beep, popup_window, error_box).
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

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
    int len = text_columns(text);
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
attr_t attr_selected() {
    return color ? COLOR_PAIR(5) : A_REVERSE;
}

// Bold marks a modified byte with colour or without; inside the selection it
// keeps the selection's colours, so both show at once.
attr_t attr_byte(bool modified, bool selected) {
    if (!selected) return modified ? attr_modified() : attr_normal();
    return modified ? (attr_selected() | A_BOLD) : attr_selected();
}

// A match of the Find pattern: a colour of its own, or underlined where
// there is no colour and inside the selection, so the other marks still show.
attr_t attr_match(bool modified, bool selected) {
    if (color && !selected) return COLOR_PAIR(6) | (modified ? A_BOLD : 0);
    return attr_byte(modified, selected) | A_UNDERLINE;
}

// A difference: a colour of its own, or reverse where there is none; in the
// selection, underlined so that both marks show.
attr_t attr_differs(bool modified, bool selected) {
    if (selected) return attr_byte(modified, true) | A_UNDERLINE;
    return (color ? COLOR_PAIR(7) : A_REVERSE) | (modified ? A_BOLD : 0);
}

void init_colour_pairs() {
    init_pair(1, COLOR_WHITE, COLOR_BLUE);
    init_pair(2, COLOR_GREEN, COLOR_BLUE);
    init_pair(3, COLOR_BLUE, COLOR_BLACK);
    init_pair(4, COLOR_YELLOW, COLOR_CYAN);
    init_pair(5, COLOR_WHITE, COLOR_MAGENTA);
    init_pair(6, COLOR_BLACK, COLOR_YELLOW);
    init_pair(7, COLOR_WHITE, COLOR_RED);
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

namespace {

// One cell of a text as the locale reads it: a character with the combining
// marks that follow it, or a stand-in for a byte (or a character) that must
// not reach the terminal.
struct TextCell {
    size_t bytes = 1; // taken from the text
    int cols = 1;     // columns on the screen
    int n = 0;        // characters in `wcs`; 0: the stand-in
    wchar_t wcs[CCHARW_MAX + 1] = {};
};

// Zero-width characters that are no combining marks: the ones that reorder
// or hide text (bidirectional controls, joiners, the byte-order mark) would
// let a name pose as another.
bool hides_text(wchar_t wc) {
    return (wc >= 0x200B && wc <= 0x200F) || (wc >= 0x202A && wc <= 0x202E) ||
           (wc >= 0x2060 && wc <= 0x206F) || wc == 0xFEFF || wc == 0x061C;
}

// The character at s[i] and its width: -1 for none that may be shown.
int char_at(std::string_view s, size_t i, wchar_t& wc, size_t& len) {
    len = 1;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x20 && b <= 0x7E) {
        wc = b;
        return 1;
    }
    // A locale without characters beyond ASCII shows none of them.
    if (b < 0x80 || output_charset == OutputCharset::Ascii) return -1;
    mbstate_t state{};
    const size_t n = mbrtowc(&wc, s.data() + i, s.size() - i, &state);
    if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return -1;
    len = n;
    if (!iswprint(static_cast<wint_t>(wc)) || hides_text(wc)) return -1;
    return wcwidth(wc);
}

TextCell text_cell_at(std::string_view s, size_t i) {
    TextCell c;
    wchar_t wc;
    size_t len;
    const int width = char_at(s, i, wc, len);
    c.bytes = len;
    if (width <= 0) return c; // a mark with no character to sit on is a stand-in too
    c.cols = width;
    c.wcs[c.n++] = wc;
    for (size_t j = i + len; j < s.size() && c.n < CCHARW_MAX; j += len) {
        if (char_at(s, j, wc, len) != 0) break;
        c.wcs[c.n++] = wc;
        c.bytes += len;
    }
    return c;
}

} // namespace

size_t text_cell_bytes(std::string_view s, size_t i) {
    return i < s.size() ? text_cell_at(s, i).bytes : 1;
}

int text_columns(std::string_view s) {
    int cols = 0;
    for (size_t i = 0; i < s.size();) {
        const TextCell c = text_cell_at(s, i);
        cols += c.cols;
        i += c.bytes;
    }
    return cols;
}

std::string cut_columns(std::string_view s, int cols) {
    size_t i = 0;
    for (int used = 0; i < s.size();) {
        const TextCell c = text_cell_at(s, i);
        if (used + c.cols > cols) break;
        used += c.cols;
        i += c.bytes;
    }
    return std::string(s.substr(0, i));
}

std::string fit_columns(std::string_view s, int cols) {
    std::string text = cut_columns(s, cols);
    text.append(static_cast<size_t>(std::max(0, cols - text_columns(text))), ' ');
    return text;
}

void put_safe(WINDOW* w, std::string_view s, int max) {
    int used = 0;
    for (size_t i = 0; i < s.size();) {
        const TextCell c = text_cell_at(s, i);
        if (max >= 0 && used + c.cols > max) break;
        if (c.n == 0) {
            put_stand_in(w);
        } else if (c.n == 1 && c.wcs[0] < 0x7F) {
            waddch(w, static_cast<chtype>(c.wcs[0]));
        } else {
            cchar_t cc;
            attr_t a;
            short pair;
            wattr_get(w, &a, &pair, nullptr);
            setcchar(&cc, c.wcs, a, pair, nullptr);
            wadd_wch(w, &cc);
        }
        used += c.cols;
        i += c.bytes;
    }
}

void mvput_safe(WINDOW* w, int y, int x, std::string_view s, int max) {
    if (wmove(w, y, x) == ERR) return;
    put_safe(w, s, max);
}
