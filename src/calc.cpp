// calc.cpp: the binary calculator, one unsigned 32-bit number shown in
// bases 2, 8, 10 and 16; typing on any line changes all four.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "morvane.h"

calc_base_line* calc_lines[4] = {};
int calc_line = 3;

namespace {

constexpr const char* CALC_TITLE = "Binary Calculator";
constexpr const char* CALC_KEYS = "^X/^G  Return   ^C  Exit   J  Down   K  Up";
constexpr int FIELD_COL = 10;
constexpr int FIELD_WIDTH = 64;
constexpr int MARKER_WIDTH = 4; // " <==" or its blanks

struct BaseInfo {
    const char* digits;
    const char* label;
    int32_t row;
    uint32_t base;
};
constexpr BaseInfo BASES[4] = {
    {"01", "Base  2", 3, 2},
    {"01234567", "Base  8", 5, 8},
    {"0123456789", "Base 10", 7, 10},
    {"0123456789AaBbCcDdEeFf", "Base 16", 9, 16},
};

// A line's base follows from its digit set: "01" is base 2, the 22 upper- and
// lower-case hexadecimal digits are base 16.
uint32_t base_of(const calc_base_line* line) {
    size_t n = line->digit_set ? strlen(line->digit_set) : 10;
    if (n == 22) return 16;
    return (n == 2 || n == 8) ? static_cast<uint32_t>(n) : 10;
}

const char* label_of(const calc_base_line* line) {
    uint32_t base = base_of(line);
    for (const BaseInfo& b : BASES)
        if (b.base == base) return b.label;
    return "Base 10";
}

int digit_value(int ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    return std::toupper(ch) - 'A' + 10;
}

// Text that would start left of the window (the title on a narrow terminal)
// is left out rather than shifted.
void put_in_window(WINDOW* w, int row, int col, const char* s) {
    if (w && col >= 0) put_clipped(w, row, col, s, 0, getmaxx(w));
}

void render_digits(calc_base_line* line) {
    memset(line->digit_text, 0, sizeof line->digit_text);
    uint32_t base = base_of(line);
    if (base == 2) {
        for (int i = 0; i < 32; ++i)
            line->digit_text[i] = ((line->line_value >> i) & 1) ? '1' : '0';
        return;
    }
    char text[24];
    if (base == 8)
        (void)snprintf(text, sizeof text, "%o", line->line_value);
    else if (base == 10)
        (void)snprintf(text, sizeof text, "%d", static_cast<int32_t>(line->line_value));
    else
        (void)snprintf(text, sizeof text, "%X", line->line_value);
    size_t n = strlen(text);
    for (size_t i = 0; i < n; ++i)
        line->digit_text[i] = text[n - 1 - i];
}

void draw_calc_line(calc_base_line* line, bool active) {
    WINDOW* w = Globals.main_win;
    if (!w) return;
    wattrset(w, attr_normal());
    put_in_window(w, line->label_row, line->label_col, label_of(line));

    render_digits(line);
    char field[FIELD_WIDTH + 1];
    for (int i = 0; i < FIELD_WIDTH; ++i) {
        char d = line->digit_text[FIELD_WIDTH - 1 - i];
        field[i] = d ? d : ' ';
    }
    field[FIELD_WIDTH] = '\0';
    // A terminal too narrow for the whole field loses its left end: that is
    // where the blanks before the number are, and the digits stay in view.
    int shown = std::clamp(getmaxx(w) - FIELD_COL - MARKER_WIDTH, 0, FIELD_WIDTH);
    wattrset(w, attr_normal() | A_REVERSE);
    put_in_window(w, line->label_row, FIELD_COL, field + (FIELD_WIDTH - shown));

    wattrset(w, attr_normal() | (active ? A_BOLD : 0));
    put_in_window(w, line->label_row, FIELD_COL + shown, active ? " <==" : "    ");
    wattrset(w, attr_normal());
}

void draw_calc_title() {
    wattrset(Globals.main_win, attr_normal());
    put_in_window(Globals.main_win, 1, COLS / 2 - 8, CALC_TITLE);
}

void draw_calc_keys() {
    wattrset(Globals.help_win, attr_help());
    put_in_window(Globals.help_win, 0, 0, CALC_KEYS);
}

// Staged with the main window last: the terminal's cursor rests where the
// lines' drawing left it.
void stage_calc_windows() {
    for (WINDOW* w : {Globals.status_win, Globals.help_win, Globals.main_win})
        if (w) wnoutrefresh(w);
}

bool is_erase_key(int key) {
    return key == ctrl('D') || is_backspace_key(key);
}

} // namespace

void draw_calc_status() {
    WINDOW* w = Globals.status_win;
    if (!w) return;
    werase(w);
    wattrset(w, attr_status());
    char text[64];
    (void)snprintf(text, sizeof text, "Integer: %d bits     Long: %d bits",
                   static_cast<int>(sizeof(int) * 8), static_cast<int>(sizeof(long) * 8));
    put_in_window(w, 0, 0, text);
    // The blanks carry the bar's attribute to the right edge.
    if (COLS >= 35)
        for (int c = static_cast<int>(strlen(text)); c < getmaxx(w); ++c)
            mvwaddch(w, 0, c, ' ');
}

void draw_calc_lines(calc_base_line* line2, calc_base_line* line8, calc_base_line* line10,
                     calc_base_line* line16, int active) {
    calc_base_line* lines[4] = {line2, line8, line10, line16};
    for (int i = 0; i < 4; ++i)
        if (lines[i]) draw_calc_line(lines[i], active == i + 1);
}

void calc_key(calc_base_line* line2, calc_base_line* line8, calc_base_line* line10,
              calc_base_line* line16, int key, int active) {
    calc_base_line* lines[4] = {line2, line8, line10, line16};
    if (active < 1 || active > 4) return;
    calc_base_line* line = lines[active - 1];
    uint32_t base = base_of(line);
    uint32_t value = line->line_value;

    if (is_erase_key(key)) {
        // Base 10 shows the number signed, so its last digit goes the
        // signed way: -1 becomes 0, not 429496729.
        if (base == 10)
            value = static_cast<uint32_t>(static_cast<int32_t>(value) / 10);
        else
            value /= base;
    } else {
        if (key <= 0 || key > 255 || !strchr(line->digit_set, key)) return;
        value = value * base + static_cast<uint32_t>(digit_value(key));
    }
    for (calc_base_line* l : lines)
        l->line_value = value;
}

void calc_move_line(int key, int* line) {
    int upper = (key >= 0 && key <= 255) ? std::toupper(key) : 0;
    if (key == KEY_UP || upper == 'K')
        *line = *line <= 1 ? 4 : *line - 1;
    else if (key == KEY_DOWN || upper == 'J')
        *line = *line >= 4 ? 1 : *line + 1;
}

void draw_calc_screen() {
    if (Globals.help_win) werase(Globals.help_win);
    draw_calc_title();
    draw_calc_status();
    draw_calc_keys();
    if (calc_lines[0])
        draw_calc_lines(calc_lines[0], calc_lines[1], calc_lines[2], calc_lines[3], calc_line);
    stage_calc_windows();
}

void calculator() {
    calc_base_line records[4];
    for (int i = 0; i < 4; ++i) {
        records[i].digit_set = BASES[i].digits;
        memset(records[i].digit_text, 0, sizeof records[i].digit_text);
        records[i].label_row = BASES[i].row;
        records[i].label_col = 1;
        records[i].line_value = 0;
        calc_lines[i] = &records[i];
    }
    calc_line = 3;
    const int32_t previous_mode = Globals.mode;
    Globals.mode = MODE_CALCULATOR;
    for (WINDOW* w : {Globals.main_win, Globals.status_win, Globals.help_win})
        if (w) werase(w);

    // Each key changes the lines; the screen is small enough to draw whole.
    for (;;) {
        redraw_later(REDRAW_ALL);
        int key = read_key();
        int upper = (key >= 0 && key <= 255) ? std::toupper(key) : 0;
        if (upper == 'J' || upper == 'K' || key == KEY_DOWN || key == KEY_UP) {
            calc_move_line(key, &calc_line);
        } else if (is_cancel_key(key)) {
            break;
        } else if (key != KEY_CONTROL_L) {
            calc_key(&records[0], &records[1], &records[2], &records[3], key, calc_line);
        }
    }

    // The records die with this call: nothing may draw them afterwards.
    for (calc_base_line*& l : calc_lines)
        l = nullptr;
    Globals.mode = previous_mode;
    redraw_later(REDRAW_ALL);
}
