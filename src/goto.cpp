// goto.cpp: Goto Offset (an absolute offset typed in a popup) and the
// relative jump ('+' / '-' with a hexadecimal distance typed in the command
// bar, 'n' to jump again). Either way the target's row becomes the top row.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>

#include "morvane.h"

static_assert(sizeof(unsigned long long) == sizeof(uint64_t), "strtoull must yield 64 bits");

uint64_t jump_distance = 0;
int jump_key = 0;

uint64_t goto_target(const char* text, uint64_t limit) {
    if (!text) return 0;
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p)))
        ++p;
    // strtoull would turn "-5" into 2^64-5 without reporting anything; a
    // negative offset is as invalid as any other unusable text.
    if (*p == '-') return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(p, &end, 0);
    if (errno != 0 || end == p) return 0;
    return value < limit ? value : limit;
}

uint64_t jump_target(uint64_t from, uint64_t distance, bool forwards, uint64_t last,
                     bool& clamped) {
    clamped = false;
    if (distance == 0) return from;
    if (forwards) {
        // Compared as a difference: from + distance may not fit in 64 bits.
        if (from > last || distance > last - from) {
            clamped = true;
            return last;
        }
        return from + distance;
    }
    if (distance > from) {
        clamped = true;
        return 0;
    }
    return from - distance;
}

// The cursor onto `target`, its row at the top of the screen.
static void goto_place(uint64_t target) {
    cursor_loc = target;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(target % 16));
    cursor_y = 1;
}

static void goto_bar_text(const char* text) {
    werase(Globals.help_win);
    mvwaddnstr(Globals.help_win, 0, 0, text, COLS);
    wrefresh(Globals.help_win);
}

void goto_offset(uint64_t limit) {
    static constexpr const char* bar = "^G/^X/Escape Cancel   ^U Clear input";
    DialogScope dialog(popup_window(50, 8), bar);
    WINDOW* popup = dialog.win();

    popup_text(popup, 1, 20, "Goto Offset");
    popup_text(popup, 5, 2, "  Hint: Decimal 255 = Hex 0xFF = Octal 0377");
    popup_text(popup, 3, 16, "Offset: ");
    goto_bar_text(bar);

    std::optional<std::string> text = read_line(popup, 3, 25, 12, 12, "0x");
    if (text && (*text)[0] != '\0') goto_place(goto_target(text->c_str(), limit));
}

// The prompt shows the start offset, the direction and the distance so far
// (`digits` false: only the "0x" the distance will follow).
static void jump_show_prompt(int key, uint64_t distance, bool digits) {
    char text[96];
    if (digits)
        (void)snprintf(text, sizeof text, "Offset: 0x%08" PRIX64 " %c 0x%" PRIX64, cursor_loc,
                       static_cast<char>(key), distance);
    else
        (void)snprintf(text, sizeof text, "Offset: 0x%08" PRIX64 " %c 0x", cursor_loc,
                       static_cast<char>(key));
    goto_bar_text(text);
}

// Reads the distance. The typed value is kept apart until Enter, so that a
// cancelled prompt leaves the last completed jump for 'n' to repeat.
static int prompt_key;
static uint64_t prompt_distance;
static bool prompt_typed;
static void jump_show_current_prompt() {
    jump_show_prompt(prompt_key, prompt_distance, prompt_typed);
}

// Keeps the prompt's state where a resize or the quit dialog, which rebuild
// the screen under it, can draw it again.
struct PromptOverlay {
    PromptOverlay() { screen_overlay = jump_show_current_prompt; }
    ~PromptOverlay() { screen_overlay = nullptr; }
};

static bool jump_prompt(int key) {
    uint64_t& distance = prompt_distance;
    bool& typed = prompt_typed;
    prompt_key = key;
    distance = 0;
    typed = false;
    PromptOverlay overlay;
    jump_show_prompt(key, distance, typed);
    for (;;) {
        int k = read_key();
        switch (k) {
        case 10:
            jump_distance = distance;
            jump_key = key;
            return true;
        case 8:
        case 127:
        case KEY_BACKSPACE:
        case KEY_DC:
            distance /= 16;
            break;
        case 21:
            distance = 0;
            break;
        case KEY_CONTROL_G:
        case KEY_CONTROL_X:
            werase(Globals.help_win);
            draw_command_bar();
            wrefresh(Globals.help_win);
            place_cursor();
            return false;
        default:
            if (!is_hex_digit(k)) continue;
            distance = distance * 16 + static_cast<uint64_t>(hex_value(k));
            break;
        }
        typed = true;
        jump_show_prompt(key, distance, typed);
    }
}

void jump_relative(int key) {
    if (key != 0 && !jump_prompt(key)) return;

    bool clamped = false;
    uint64_t target =
        jump_target(cursor_loc, jump_distance, jump_key == '+', Globals.filesize, clamped);
    if (clamped) warn_beep();
    goto_place(target);

    draw_status();
    werase(Globals.help_win);
    draw_command_bar();
    draw_rows(target);
    wnoutrefresh(Globals.main_win);
    wnoutrefresh(Globals.status_win);
    wnoutrefresh(Globals.help_win);
    place_cursor();
}
