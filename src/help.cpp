// help.cpp: the help menu, a full-width popup over the editing area listing
// the commands and their keys, scrolled line by line on short terminals.
#include <cstring>
#include <string_view>

#include "morvane.h"

namespace {

constexpr std::array<std::string_view, 21> help_base_text = {
    "Maneuver            Arror Keys (or h,j,k,l), Home, End",
    "Page Up             Control-y, Control-b, Alt-v, Page Up (^Y) (^B) u y",
    "Page Down           Control-v, Control-f, Page Down (^V) (^F) v space",
    "Bytes <=> text      Tab, Control-i (^I)",
    "Insert/Add Byte     ",
    "Delete Byte         ",
    "goTo Offset         Control-t (^T), t",
    "Offset + Jump       +, -, n (jump again)",
    "Help                Control-g (^G), F1",
    "Redraw Screen       Control-l (^L)",
    "Save                Control-o (^O), F2",
    "Save and Quit       Control-x (^X), F3",
    "Quit/New File       Control-c (^C)",
    "viEw as text        Control-e (^E)",
    "Search              Control-w (^W), w",
    "find Next           Control-n (^N)",
    "Undo                Control-U (^U)",
    "ASCII <=> EBCDIC    Control-R (^R)",
    "Switch spacings     Control-P (^P)",
    "Binary Calculator   Control-/, Control-_ (^/) (^_)",
    "Toggle Color        F5 (requires color capable terminal)",
};
constexpr size_t help_insert_line = 4; // "Insert/Add Byte"
constexpr size_t help_delete_line = 5; // "Delete Byte"

std::vector<std::string> help_make_text() {
    return std::vector<std::string>(help_base_text.begin(), help_base_text.end());
}

int help_first = 0; // index of the first line shown

void help_clear_inside(WINDOW* popup) {
    if (LINES < 5 || COLS < 3) return;
    for (int row = 1; row <= LINES - 4; ++row)
        put_clipped(popup, row, 1, std::string(static_cast<size_t>(COLS - 2), ' '), 1, COLS - 1);
}

std::string help_title() {
    char title[80];
    (void)snprintf(title, sizeof title, "Morvane %s", MORVANE_VERSION);
    return title;
}

} // namespace

std::vector<std::string> help_text = help_make_text();

void prepare_help_text() {
    help_text = help_make_text();
    if (Globals.buffered) {
        help_text[help_insert_line] += "Control-a, Insert (^A)";
        help_text[help_delete_line] += "Control-d, Delete (^D)";
    } else {
        help_text[help_insert_line] += "Disabled.  Use -b, --buffer option to enable";
        help_text[help_delete_line] += "Disabled.  Use -b, --buffer option to enable";
    }
    Globals.help_lines = static_cast<int32_t>(help_text.size());
}

void draw_help_frame(WINDOW* popup, int first_line, int row_limit) {
    if (popup == nullptr) return;
    popup_border(popup);
    int heading = COLS / 2 - 6;
    put_clipped(popup, 0, heading < 1 ? 1 : heading, "Help Menu", 1, COLS - 1);
    int more = COLS - 7 < 1 ? 1 : COLS - 7;
    if (first_line > 0) put_clipped(popup, 0, more, "(more)", 1, COLS - 1);
    if (first_line + row_limit <= Globals.help_lines)
        put_clipped(popup, LINES - 3, more, "(more)", 1, COLS - 1);
}

void draw_help_lines(WINDOW* popup, int first_line, int row_limit) {
    if (row_limit < 2 || first_line < 0) return;
    for (int i = 0; i <= row_limit - 2; ++i) {
        size_t line = static_cast<size_t>(first_line) + static_cast<size_t>(i);
        if (line >= help_text.size()) break;
        put_clipped(popup, i + 1, 3, help_text[line], 3, COLS - 1);
    }
}

// The menu for the current screen size, from the line shown first.
static void help_layout(DialogScope& scope) {
    // A terminal of one or two lines has no editing area to cover.
    WINDOW* popup = LINES >= 3 ? popup_window(COLS, LINES - 2) : nullptr;
    if (popup) mvwin(popup, 1, 0);
    scope.adopt(popup);
    if (!popup) return;
    wattrset(popup, attr_normal());
    draw_help_frame(popup, help_first, LINES - 3);
    help_clear_inside(popup);
    draw_help_lines(popup, help_first, LINES - 3);
}

void help_menu() {
    help_first = 0;
    const std::string title = help_title();
    DialogScope dialog({.bar = title.c_str(),
                        .bar_centred = true,
                        .layout = help_layout,
                        .need_lines = 3,
                        .interrupts = DialogInterrupts::Ignored});
    for (;;) {
        int key = read_key();
        int step = 0;
        if (key == 0 || key == KEY_CONTROL_C || is_cancel_key(key)) return;
        switch (key) {
        case KEY_LINE_FEED:
        case 'q':
        case 'Q':
            return;
        case 'j':
        case 'J':
        case KEY_DOWN:
            step = help_first + LINES - 4 < Globals.help_lines ? 1 : 0;
            break;
        case 'k':
        case 'K':
        case KEY_UP:
            step = help_first > 0 ? -1 : 0;
            break;
        default:
            continue;
        }
        WINDOW* popup = dialog.win();
        help_clear_inside(popup);
        help_first += step;
        draw_help_lines(popup, help_first, LINES - 3);
        draw_help_frame(popup, help_first, LINES - 3);
    }
}
