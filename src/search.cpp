// search.cpp: the Search dialog (text or byte string, Find Next) and the
// hexadecimal byte input. The search itself is find_pattern.cpp's.
//
// One pattern lives for the whole run so that Find Next always repeats the
// last search.
#include <cctype>
#include <cstring>
#include <new>

#include "morvane.h"

std::optional<std::vector<unsigned char>> last_pattern;
int search_used = 0;
HexInput hex_input;

// ------------------------------------------------------------ hex byte input

namespace {

// Where read_hex_bytes draws: the label and echo on row 3, the digits on row 6.
struct HexLayout {
    WINDOW* win;
    int col;
    int high_col(int i) const { return col + 3 * i; }
};

void hex_echo(const HexLayout& l, int i) {
    wattrset(l.win, A_NORMAL);
    if (popup_room(l.win, 3, l.col + 7 + i) == 0) return;
    wmove(l.win, 3, l.col + 7 + i);
    put_text_cell(l.win, hex_input.bytes[static_cast<size_t>(i)]);
}

void hex_digit_at(const HexLayout& l, int column, char digit) {
    wattrset(l.win, attr_field());
    if (popup_room(l.win, 6, column) == 0) return;
    mvwaddch(l.win, 6, column, static_cast<chtype>(static_cast<unsigned char>(digit)));
}

} // namespace

HexInput* read_hex_bytes(WINDOW* window, int room, int width) {
    const int n = room > 0 ? room : 0;
    const HexLayout l{window, width / 2 - (3 * n - 1) / 2};

    hex_input.len = 0;
    hex_input.bytes = std::vector<unsigned char>();
    try {
        hex_input.bytes.assign(static_cast<size_t>(n), 0);
    } catch (const std::bad_alloc&) {
        popup_text(window, 4, l.col, "Not enough memory");
        read_key();
        return nullptr;
    }

    wattrset(window, A_NORMAL);
    popup_text(window, 3, l.col, "text: ");
    wattrset(window, attr_field());
    popup_text(window, 6, l.col, std::string(static_cast<size_t>(3 * n + 2), ' '));
    wmove(window, 6, l.col);

    bool low_awaited = false;
    for (;;) {
        int key = read_key();
        if (key == KEY_LINE_FEED) return &hex_input;
        if (key == KEY_CONTROL_C || is_cancel_key(key)) return nullptr;

        int& len = hex_input.len;
        if (is_hex_digit(key)) {
            if (len == n) {
                warn_beep();
                continue;
            }
            unsigned char& b = hex_input.bytes[static_cast<size_t>(len)];
            char digit = static_cast<char>(toupper(key));
            if (!low_awaited) {
                b = static_cast<unsigned char>(hex_value(key) * 16);
                hex_echo(l, len);
                hex_digit_at(l, l.high_col(len), digit);
                hex_digit_at(l, l.high_col(len) + 1, '0');
                wmove(window, 6, l.high_col(len) + 1);
                low_awaited = true;
            } else {
                b = static_cast<unsigned char>(b + hex_value(key));
                hex_echo(l, len);
                hex_digit_at(l, l.high_col(len) + 1, digit);
                ++len;
                wmove(window, 6, l.high_col(len));
                low_awaited = false;
            }
        } else if (is_backspace_key(key)) {
            if (low_awaited) {
                hex_input.bytes[static_cast<size_t>(len)] = 0;
                hex_echo(l, len);
                hex_digit_at(l, l.high_col(len), '0');
                wmove(window, 6, l.high_col(len));
                low_awaited = false;
            } else if (len == 0) {
                warn_beep();
                continue;
            } else {
                --len;
                unsigned char& b = hex_input.bytes[static_cast<size_t>(len)];
                b = static_cast<unsigned char>(b & 0xF0);
                hex_digit_at(l, l.high_col(len) + 1, '0');
                hex_echo(l, len);
                wmove(window, 6, l.high_col(len) + 1);
                low_awaited = true;
            }
        }
    }
}

// ------------------------------------------------------------ the dialog

namespace {

enum SearchItem { find_next_item = 0, text_item = 1, hex_item = 2 };

struct SearchMenuEntry {
    int row;
    int col;
    const char* label;
};
constexpr SearchMenuEntry search_menu[3] = {
    {3, 26, "Find Next"},
    {5, 19, "search for text string"},
    {7, 20, "search for Hex bytes"},
};

void search_draw_menu(WINDOW* popup, int highlighted) {
    for (int i = 0; i < 3; ++i) {
        wattrset(popup, i == highlighted ? A_REVERSE : A_NORMAL);
        popup_text(popup, search_menu[i].row, search_menu[i].col, search_menu[i].label);
    }
    wattrset(popup, A_NORMAL);
}

void search_blank_menu(WINDOW* popup) {
    for (const SearchMenuEntry& e : search_menu)
        popup_text(popup, e.row, e.col, std::string(strlen(e.label), ' '));
}

// Before the first search there is nothing to find again, so the arrows
// keep to the two searches.
int search_menu_step(int item, int direction) {
    if (!search_used) return item == text_item ? hex_item : text_item;
    return (item + direction + 3) % 3;
}

void search_not_found(WINDOW* popup) {
    if (new_file_wanted) return; // the search gave way to New File: nothing to say
    wattroff(popup, A_REVERSE);
    popup_text(popup, 6, 1, std::string(58, ' '));
    popup_text(popup, 6, 19, "** String not found **");
    read_key();
}

// Looks from the byte after the cursor to the last byte; a match moves the
// cursor onto its first byte with its row at the top of the screen.
bool search_from_cursor(WINDOW* popup, const unsigned char* pattern, int len) {
    if (len > 0 && cursor_loc < Globals.filesize) {
        SearchResult r = find_pattern(pattern, cursor_loc + 1, static_cast<uint64_t>(len),
                                      Globals.filesize - cursor_loc);
        if (r.found) {
            cursor_onto(cursor_loc + 1 + r.offset, 1);
            return true;
        }
    }
    search_not_found(popup);
    return false;
}

// Looks for the last match that begins before the cursor (it may run on
// past it); a match moves the cursor as a forward one does.
bool search_before_cursor(WINDOW* popup, const unsigned char* pattern, int len) {
    if (len > 0 && cursor_loc > 0) {
        const auto m = static_cast<uint64_t>(len);
        uint64_t count = cursor_loc - 1 + m;
        if (count > Globals.filesize + 1) count = Globals.filesize + 1;
        SearchResult r = find_pattern_backward(pattern, 0, m, count);
        if (r.found) {
            cursor_onto(r.offset, 1);
            return true;
        }
    }
    search_not_found(popup);
    return false;
}

void search_find_next(WINDOW* popup, bool backwards) {
    if (find_last) {
        if (!find_repeat(backwards)) search_not_found(popup);
    } else if (!last_pattern)
        search_not_found(popup);
    else if (backwards)
        search_before_cursor(popup, last_pattern->data(), last_pattern_len());
    else
        search_from_cursor(popup, last_pattern->data(), last_pattern_len());
}

// EBCDIC has no byte for codes of 128 and above.
bool search_key_has_ebcdic(int key) {
    return key >= 0 && key < 128;
}

void search_text(WINDOW* popup) {
    last_pattern.reset();
    find_last.reset(); // the search repeated is the last one used
    popup_text(popup, 1, 25, "Text String");
    std::optional<std::string> field =
        read_line(popup, 6, 5, 50, 50, nullptr, Globals.ebcdic ? search_key_has_ebcdic : nullptr);
    if (!field) return;

    TextPattern pattern = text_search_pattern(*field, Globals.ebcdic);
    last_pattern = std::move(pattern.bytes);
    if (pattern.only_blanks) return;
    search_from_cursor(popup, last_pattern->data(), last_pattern_len());
}

void search_bytes(WINDOW* popup) {
    popup_text(popup, 1, 25, "Byte Search");
    HexInput* input = read_hex_bytes(popup, 16, 60);
    if (!input) return;
    if (!search_from_cursor(popup, input->bytes.data(), input->len)) return;
    input->bytes.resize(static_cast<size_t>(input->len));
    last_pattern = std::move(input->bytes);
    find_last.reset();
    input->bytes = std::vector<unsigned char>();
    input->len = 0;
}

// The menu's choice, or -1 when it was cancelled.
int search_choose(WINDOW* popup) {
    int item = search_used ? find_next_item : text_item;
    search_draw_menu(popup, item);
    for (;;) {
        int key = read_key();
        if (key == KEY_CONTROL_C || is_cancel_key(key)) return -1;
        switch (key) {
        case KEY_LINE_FEED:
            return item;
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            return find_next_item;
        case 'A':
        case 'a':
            return text_item;
        case 'H':
        case 'h':
            return hex_item;
        case KEY_DOWN:
        case 'j':
        case 'J':
            item = search_menu_step(item, +1);
            break;
        case KEY_UP:
        case 'k':
        case 'K':
            item = search_menu_step(item, -1);
            break;
        default:
            continue;
        }
        search_draw_menu(popup, item);
    }
}

} // namespace

void search(int find_next, bool backwards) {
    if (find_next && !last_pattern && !find_last) return;
    DialogScope dialog(
        {.width = 60,
         .height = 10,
         .bar = "^G/^X/Escape Cancel   F/N Find Next   A Text Search   H Hex Search"});
    WINDOW* popup = dialog.win();
    popup_text(popup, 1, 27, "Search");
    int choice = find_next_item;
    if (find_next)
        search_draw_menu(popup, search_used ? find_next_item : text_item); // never shown
    else
        choice = search_choose(popup);

    if (choice >= 0) {
        search_blank_menu(popup);
        if (choice == find_next_item)
            search_find_next(popup, backwards);
        else if (choice == text_item)
            search_text(popup);
        else
            search_bytes(popup);
        search_used = 1;
    }
}
