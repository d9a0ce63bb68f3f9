// select.cpp: the selection and the hex view's commands on it and on the
// clipboard (copy, cut, paste, fill), and the copy offered to the terminal's
// own clipboard.
//
// The selection is the mark and the cursor: only the mark is kept, so every
// key that moves the cursor moves the selection's other end without knowing
// about it. The range changes themselves are ranges.cpp's; here are the
// rules a user meets: the bells, the messages, where the cursor goes.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "morvane.h"

std::optional<uint64_t> select_mark;

uint64_t selection_first() {
    assert(select_mark && "selection_first: no selection");
    return std::min(*select_mark, cursor_loc);
}

uint64_t selection_last() {
    assert(select_mark && "selection_last: no selection");
    return std::max(*select_mark, cursor_loc);
}

void select_clear() {
    select_mark.reset();
}

void select_fit() {
    if (select_mark && *select_mark > Globals.filesize) select_mark = Globals.filesize;
}

void select_begin() {
    if (!select_mark) select_mark = cursor_loc;
}

void select_after_key(bool had_selection) {
    select_fit();
    if (had_selection || select_mark) redraw_later(REDRAW_ROWS | REDRAW_BAR);
}

void select_toggle_mark() {
    if (select_mark)
        select_mark.reset();
    else
        select_mark = cursor_loc;
}

// ------------------------------------------------------------ the terminal's clipboard

std::string clipboard_hex_text(const unsigned char* bytes, size_t n) {
    std::string text;
    if (n == 0) return text;
    text.reserve(3 * n - 1);
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) text += ' ';
        text += hex_digit_char(bytes[i] >> 4);
        text += hex_digit_char(bytes[i] & 0xF);
    }
    return text;
}

std::string base64_text(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                           static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += alphabet[(v >> shift) & 63];
    }
    if (const size_t left = bytes.size() - i; left > 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += left == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string terminal_clipboard_sequence() {
    if (!clipboard || clipboard->empty() || clipboard->size() > TERMINAL_CLIPBOARD_LIMIT) return {};
    // Only a terminal that declares the capability gets it: others would
    // show the sequence's text, or wait for its end.
    // tigetstr: null where the entry lacks it, (char*)-1 where Ms is no string.
    const char* ms = tigetstr("Ms");
    if (ms == nullptr || reinterpret_cast<intptr_t>(ms) == -1) return {};
    const std::string payload =
        base64_text(clipboard_hex_text(clipboard->data(), clipboard->size()));
    // "c": the clipboard selection, as xterm and tmux name it.
    const char* sequence = tiparm(ms, "c", payload.c_str());
    return sequence ? sequence : "";
}

namespace {

// Between frames, when curses has sent all it had: the sequence changes no
// cell of the screen curses keeps. putp writes through stdio, not through
// curses' own buffer, so it is flushed at once.
void offer_to_terminal() {
    assert(!drawing_now() && "the clipboard offered from drawing");
    const std::string sequence = terminal_clipboard_sequence();
    if (sequence.empty()) return;
    putp(sequence.c_str());
    (void)fflush(stdout);
}

// ------------------------------------------------------------ the commands

bool read_only() {
    return Globals.file_state == FILE_READ_ONLY;
}

// The cursor onto `offset` (within the file), on the row that shows it now
// where it is on the screen, else on the top row.
void cursor_back_onto(uint64_t offset) {
    if (offset > Globals.filesize) offset = Globals.filesize;
    const uint64_t top = first_shown();
    const uint64_t rows = static_cast<uint64_t>(bottom_row());
    int row = 1;
    if (offset >= top && (offset - top) / 16 < rows)
        row = 1 + static_cast<int>((offset - top) / 16);
    cursor_onto(offset, row);
    redraw_later(REDRAW_ROWS | REDRAW_STATUS);
}

// What the user is told of a range command's outcome; true when it was done.
bool report(RangeResult result, const char* title, const char* too_large) {
    switch (result) {
    case RangeResult::Done:
        return true;
    case RangeResult::Refused:
        warn_beep();
        break;
    case RangeResult::Stopped:
        break;
    case RangeResult::TooLarge:
        range_failure_box(title, std::string("Reason: ") + too_large);
        break;
    case RangeResult::NoMemory:
        range_failure_box(title, "Reason: Not enough memory");
        break;
    case RangeResult::Failed:
        range_failure_box(title, std::string("Reason: ") + strerror(errno));
        break;
    }
    return false;
}

constexpr const char* copy_too_large = "Selection too large: at most 1 GiB can be copied";

} // namespace

void range_failure_box(const char* title, const std::string& reason) {
    DialogScope dialog({.width = 70, .height = 6, .bar = "^G/^X/Escape Cancel"});
    show_save_failure(dialog.win(), title, reason);
}

void select_copy() {
    if (!select_mark) {
        warn_beep();
        return;
    }
    if (!report(copy_range(selection_first(), selection_last()), "Cannot Copy Selection",
                copy_too_large))
        return;
    select_clear();
    offer_to_terminal();
}

// Cut and paste in change the file's length: only with the whole file held.
void select_cut() {
    if (read_only() || !Globals.buffered || !select_mark) {
        warn_beep();
        return;
    }
    const uint64_t first = selection_first();
    if (!report(cut_range(first, selection_last()), "Cannot Cut Selection", copy_too_large)) return;
    select_clear();
    cursor_back_onto(first);
    offer_to_terminal();
}

void select_paste_over() {
    if (read_only()) {
        warn_beep();
        return;
    }
    report(paste_over(cursor_loc), "Cannot Paste", "");
}

// The cursor stays on the first byte pasted, which now has its offset.
void select_paste_in() {
    if (read_only() || !Globals.buffered) {
        warn_beep();
        return;
    }
    report(paste_in(cursor_loc), "Cannot Paste", "");
}

// The pattern is read as the byte search reads one; the selection stays, to
// be filled again or copied.
void select_fill() {
    if (read_only() || !select_mark) {
        warn_beep();
        return;
    }
    std::vector<unsigned char> pattern;
    {
        DialogScope dialog({.width = 60, .height = 10, .bar = "^G/^X/Escape Cancel"});
        WINDOW* popup = dialog.win();
        if (!popup) {
            warn_beep();
            return;
        }
        popup_text(popup, 1, 23, "Fill Selection");
        const HexInput* input = read_hex_bytes(popup, 16, 60);
        if (input && input->len > 0)
            pattern.assign(input->bytes.begin(), input->bytes.begin() + input->len);
        // The search's field starts empty next time, as after a search.
        hex_input = HexInput{};
    }
    if (pattern.empty()) return;
    report(fill_range(selection_first(), selection_last(), pattern), "Cannot Fill Selection", "");
}
