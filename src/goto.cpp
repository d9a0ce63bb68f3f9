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

void goto_offset(uint64_t limit) {
    DialogScope dialog({.width = 50, .height = 8, .bar = "^G/^X/Escape Cancel   ^U Clear input"});
    WINDOW* popup = dialog.win();
    popup_text(popup, 1, 20, "Goto Offset");
    popup_text(popup, 5, 2, "  Hint: Decimal 255 = Hex 0xFF = Octal 0377");
    popup_text(popup, 3, 16, "Offset: ");

    std::optional<std::string> text = read_line(popup, 3, 25, 12, 12, "0x");
    if (text && (*text)[0] != '\0') cursor_onto(goto_target(text->c_str(), limit), 1);
}

// The prompt shows the start offset, the direction and the distance so far
// (`digits` false: only the "0x" the distance will follow).
static std::string jump_prompt_text(int key, uint64_t distance, bool digits) {
    char text[96];
    if (digits)
        (void)snprintf(text, sizeof text, "Offset: 0x%08" PRIX64 " %c 0x%" PRIX64, cursor_loc,
                       static_cast<char>(key), distance);
    else
        (void)snprintf(text, sizeof text, "Offset: 0x%08" PRIX64 " %c 0x", cursor_loc,
                       static_cast<char>(key));
    return text;
}

// Reads the distance into a prompt in the command bar. The typed value is
// kept apart until Enter, so that a cancelled prompt leaves the last
// completed jump for 'n' to repeat.
static bool jump_prompt(int key) {
    uint64_t distance = 0;
    bool typed = false;
    DialogScope prompt({.bar = "", .interrupts = DialogInterrupts::Kept});
    prompt.set_bar(jump_prompt_text(key, distance, typed));
    for (;;) {
        int k = read_key();
        if (k == KEY_LINE_FEED) {
            jump_distance = distance;
            jump_key = key;
            return true;
        }
        if (k == KEY_CONTROL_G || k == KEY_CONTROL_X) return false;
        if (is_backspace_key(k))
            distance /= 16;
        else if (k == KEY_CONTROL_U)
            distance = 0;
        else if (is_hex_digit(k))
            distance = distance * 16 + static_cast<uint64_t>(hex_value(k));
        else
            continue;
        typed = true;
        prompt.set_bar(jump_prompt_text(key, distance, typed));
    }
}

void jump_relative(int key) {
    if (key != 0 && !jump_prompt(key)) return;

    bool clamped = false;
    uint64_t target =
        jump_target(cursor_loc, jump_distance, jump_key == '+', Globals.filesize, clamped);
    if (clamped) warn_beep();
    cursor_onto(target, 1);
    redraw_later(REDRAW_ALL);
}
