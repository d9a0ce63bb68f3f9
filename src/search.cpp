// search.cpp: the Search dialog (text or byte string, Find Next), the
// hexadecimal byte input and the forward pattern search over the file.
//
// One pattern lives for the whole run so that Find Next always repeats the
// last search. The search runs forwards from the byte after the cursor to the
// last byte of the file, compares bytes exactly and sees modified bytes as
// they are shown (get_bytes lays the modification table over what it reads).
#include <cctype>
#include <cstring>
#include <new>

#include "morvane.h"

std::optional<std::vector<unsigned char>> last_pattern;
int last_pattern_len = 0;
int search_used = 0;
HexInput hex_input;

// ------------------------------------------------------------ pattern search

std::array<uint64_t, 256> search_shift_table(const unsigned char* pattern, uint64_t pattern_len) {
    std::array<uint64_t, 256> shift;
    shift.fill(pattern_len);
    for (uint64_t j = 0; j + 1 < pattern_len; ++j)
        shift[pattern[j]] = pattern_len - 1 - j;
    return shift;
}

namespace {

// File bytes are read in blocks of this size plus the pattern length - 1, so
// that a match straddling two blocks is seen whole in the second.
constexpr uint64_t search_block_bytes = uint64_t{1} << 20;

// How common a byte value is in ordinary files, 0 (rare) to 255: the rarest
// byte of the pattern is the one memchr looks for first.
constexpr std::array<unsigned char, 256> search_byte_commonness = [] {
    std::array<unsigned char, 256> c{};
    for (int b = 0; b < 256; ++b)
        c[b] = b < 0x20 ? 40 : (b < 0x7F ? 90 : 30);
    for (int b = 'A'; b <= 'Z'; ++b)
        c[b] = 110;
    for (int b = '0'; b <= '9'; ++b)
        c[b] = 130;
    const char* letters = "zqjxkvbpygfwmucldrhsnioate"; // rising English frequency
    for (int i = 0; letters[i]; ++i)
        c[static_cast<unsigned char>(letters[i])] = static_cast<unsigned char>(140 + 4 * i);
    c['\n'] = 200;
    c['\t'] = 150;
    c[0xFF] = 220;
    c[' '] = 250;
    c[0x00] = 255;
    return c;
}();

struct SearchNeedle {
    const unsigned char* bytes;
    uint64_t len;
    std::array<uint64_t, 256> shift;
    uint64_t guard; // index of the pattern's rarest byte
};

// Positions to look at in `block`: 0 .. block_len - needle.len. Returns the
// first position holding a match, or, when there is none, the first position
// past the block where the search goes on (the Horspool shift may carry
// beyond the block's last position). `found` tells which.
//
// Two exact scans share the work: memchr for the rarest pattern byte (very
// fast while that byte is rare in the data), and Horspool's shifts once
// memchr stops too often for it to pay. Neither skips a position that could
// hold a match, so the first match is the one a plain Horspool search finds.
uint64_t search_block(const unsigned char* block, uint64_t block_len, const SearchNeedle& n,
                      bool& found) {
    const uint64_t m = n.len;
    const uint64_t q_end = block_len - m; // last position whose window fits
    const unsigned char guard_byte = n.bytes[n.guard];
    const unsigned char last_byte = n.bytes[m - 1];
    found = false;

    uint64_t q = 0;
    uint64_t false_hits = 0;
    while (q <= q_end) {
        // Many stops per byte scanned: memchr no longer pays, switch.
        if (false_hits > 64 && false_hits * 16 > q) break;
        const void* hit = memchr(block + q + n.guard, guard_byte, q_end - q + 1);
        if (!hit) return q_end + 1;
        q = static_cast<uint64_t>(static_cast<const unsigned char*>(hit) - block) - n.guard;
        if (memcmp(block + q, n.bytes, m) == 0) {
            found = true;
            return q;
        }
        ++q;
        ++false_hits;
    }
    while (q <= q_end) {
        unsigned char b = block[q + m - 1];
        if (b == last_byte && memcmp(block + q, n.bytes, m - 1) == 0) {
            found = true;
            return q;
        }
        q += n.shift[b];
    }
    return q;
}

} // namespace

SearchResult find_pattern(const unsigned char* pattern, uint64_t start, uint64_t pattern_len,
                          uint64_t count) {
    SearchResult result{0, 0};
    if (pattern_len == 0 || count == 0 || count < pattern_len) return result;

    const uint64_t m = pattern_len;
    uint64_t block_cap = (search_block_bytes > m ? search_block_bytes : m) + (m - 1);
    if (block_cap > count) block_cap = count;
    std::vector<unsigned char> block;
    try {
        block.resize(block_cap);
    } catch (const std::exception&) {
        return result; // no room for the window: reported as not found
    }

    SearchNeedle needle{pattern, m, search_shift_table(pattern, m), 0};
    for (uint64_t j = 1; j < m; ++j)
        if (search_byte_commonness[pattern[j]] <= search_byte_commonness[pattern[needle.guard]])
            needle.guard = j;

    // p: the next position (from `start`) where a match may begin; each block
    // starts there, so consecutive blocks overlap by less than m bytes.
    const uint64_t last_pos = count - m;
    LongWork work("Searching", count);
    uint64_t p = 0;
    while (p <= last_pos) {
        // Stopped with Escape: the search ends as if nothing were found.
        if (!work.keep_going(p)) return result;
        uint64_t n = count - p < block_cap ? count - p : block_cap;
        get_bytes(start + p, block.data(), n);
        bool found = false;
        uint64_t q = search_block(block.data(), n, needle, found);
        if (found) {
            result.found = 1;
            result.offset = p + q;
            return result;
        }
        if (q > last_pos - p) break; // also keeps p + q from wrapping
        p += q;
    }
    return result;
}

// ------------------------------------------------------------ text patterns

TextPattern text_search_pattern(const std::string& field, int ebcdic) {
    TextPattern result;
    size_t end = field.find('\0');
    if (end == std::string::npos) end = field.size();
    size_t trimmed = end;
    while (trimmed > 0 && field[trimmed - 1] == ' ')
        --trimmed;
    result.only_blanks = trimmed == 0 && end > 0;
    result.bytes.reserve(trimmed);
    for (size_t i = 0; i < trimmed; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (ebcdic) {
            // Codes of 128 and above have no EBCDIC byte; the field refuses
            // them while EBCDIC is on, so this only guards the table.
            if (c >= ascii_to_ebcdic.size()) break;
            c = ascii_to_ebcdic[c];
            if (c == 0) break; // '.' has no EBCDIC letter: the pattern ends there
        }
        result.bytes.push_back(c);
    }
    return result;
}

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

bool hex_is_backspace(int key) {
    return key == 8 || key == 127 || key == KEY_BACKSPACE || key == KEY_DC;
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
        wrefresh(window);
        read_key();
        return nullptr;
    }

    wattrset(window, A_NORMAL);
    popup_text(window, 3, l.col, "text: ");
    wattrset(window, attr_field());
    popup_text(window, 6, l.col, std::string(static_cast<size_t>(3 * n + 2), ' '));
    wmove(window, 6, l.col);
    wrefresh(window);

    bool low_awaited = false;
    for (;;) {
        int key = read_key();
        if (key == 10) return &hex_input;
        if (key == 3 || key == 7 || key == 24 || key == 27) return nullptr;

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
        } else if (hex_is_backspace(key)) {
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
        } else {
            continue;
        }
        wrefresh(window);
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
    wattroff(popup, A_REVERSE);
    popup_text(popup, 6, 1, std::string(58, ' '));
    popup_text(popup, 6, 19, "** String not found **");
    wrefresh(popup);
    read_key();
}

// Looks from the byte after the cursor to the last byte; a match moves the
// cursor onto its first byte with its row at the top of the screen.
bool search_from_cursor(WINDOW* popup, const unsigned char* pattern, int len) {
    if (len > 0 && cursor_loc < Globals.filesize) {
        SearchResult r = find_pattern(pattern, cursor_loc + 1, static_cast<uint64_t>(len),
                                      Globals.filesize - cursor_loc);
        if (r.found) {
            cursor_loc = cursor_loc + 1 + r.offset;
            cursor_y = 1;
            cursor_x = hex_col_of_byte(static_cast<unsigned>(cursor_loc % 16));
            return true;
        }
    }
    search_not_found(popup);
    return false;
}

void search_find_next(WINDOW* popup) {
    if (last_pattern)
        search_from_cursor(popup, last_pattern->data(), last_pattern_len);
    else
        search_not_found(popup);
}

// EBCDIC has no byte for codes of 128 and above.
bool search_key_has_ebcdic(int key) {
    return key >= 0 && key < 128;
}

void search_text(WINDOW* popup) {
    last_pattern.reset();
    last_pattern_len = 0;
    popup_text(popup, 1, 25, "Text String");
    std::optional<std::string> field =
        read_line(popup, 6, 5, 50, 50, nullptr, Globals.ebcdic ? search_key_has_ebcdic : nullptr);
    if (!field) return;

    TextPattern pattern = text_search_pattern(*field, Globals.ebcdic);
    last_pattern_len = static_cast<int>(pattern.bytes.size());
    last_pattern = std::move(pattern.bytes);
    if (pattern.only_blanks) return;
    search_from_cursor(popup, last_pattern->data(), last_pattern_len);
}

void search_bytes(WINDOW* popup) {
    popup_text(popup, 1, 25, "Byte Search");
    HexInput* input = read_hex_bytes(popup, 16, 60);
    if (!input) return;
    if (!search_from_cursor(popup, input->bytes.data(), input->len)) return;
    input->bytes.resize(static_cast<size_t>(input->len));
    last_pattern = std::move(input->bytes);
    last_pattern_len = input->len;
    input->bytes = std::vector<unsigned char>();
    input->len = 0;
}

// The menu's choice, or -1 when it was cancelled.
int search_choose(WINDOW* popup) {
    int item = search_used ? find_next_item : text_item;
    search_draw_menu(popup, item);
    wrefresh(popup);
    for (;;) {
        int key = read_key();
        switch (key) {
        case 3:
        case 7:
        case 24:
        case 27:
            return -1;
        case 10:
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
        wrefresh(popup);
    }
}

} // namespace

void search(int find_next) {
    if (find_next && !last_pattern) return;
    static constexpr const char* bar =
        "^G/^X/Escape Cancel   F/N Find Next   A Text Search   H Hex Search";
    DialogScope dialog(popup_window(60, 10), bar);
    WINDOW* popup = dialog.win();

    werase(Globals.help_win);
    mvwaddnstr(Globals.help_win, 0, 0, bar, COLS);
    wrefresh(Globals.help_win);

    popup_text(popup, 1, 27, "Search");
    int choice = find_next_item;
    if (find_next)
        search_draw_menu(popup, search_used ? find_next_item : text_item); // never shown
    else
        choice = search_choose(popup);

    if (choice >= 0) {
        search_blank_menu(popup);
        if (choice == find_next_item)
            search_find_next(popup);
        else if (choice == text_item)
            search_text(popup);
        else
            search_bytes(popup);
        search_used = 1;
    }
}
