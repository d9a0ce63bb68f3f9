// find.cpp: Find (Alt-S) and Replace (Alt-R) with the patterns of
// pattern.cpp (hex bytes with ?? for any byte, text ignoring case or stored
// as UTF-16, numbers), the matches on the screen marked and counted.
#include <cstring>

#include "morvane.h"

std::optional<BytePattern> find_last;
std::string bar_note;

namespace {

constexpr int popup_width = 90;
constexpr int field_len = 200;
constexpr const char* examples[] = {
    "4D 5A ?? ?? 50 45       hex bytes; ?? is any byte",
    R"("setup" "Setup"i "ab"w  text; i ignores case, w is UTF-16LE, wb UTF-16BE)",
    "u32:1234 i16be:-2 f64:1.5   a number: u8..u64, i8..i64, f32, f64; le (default) or be",
};

// The popup of both: a title, the fields from row 3, a line for the reason
// of a refusal, then the examples.
struct PatternPopup {
    DialogScope dialog;
    WINDOW* w;
    int reason_row;
    PatternPopup(const char* title, int fields)
        : dialog({.width = popup_width, .height = 7 + fields + 2, .bar = "^G/^X/Escape Cancel"}),
          w(dialog.win()), reason_row(3 + fields) {
        if (!w) return;
        popup_text(w, 1, (popup_width - static_cast<int>(strlen(title))) / 2, title);
        for (int i = 0; i < 3; ++i)
            popup_text(w, reason_row + 2 + i, 2, examples[i]);
    }
    void reason(const std::string& why) const {
        popup_text(w, reason_row, 1, std::string(popup_width - 2, ' '));
        popup_text(w, reason_row, 2, why);
    }
    // A pattern typed after `label` on `row`; nullopt when cancelled. A text
    // that cannot be read is refused with the bell and its reason, and stays
    // in the field.
    std::optional<BytePattern> ask(int row, const char* label, bool wildcards, bool empty_ok,
                                   std::string& text) const {
        const int col = 2 + static_cast<int>(strlen(label));
        popup_text(w, row, 2, label);
        for (;;) {
            std::optional<std::string> field =
                read_line(w, row, col, field_len, popup_width - col - 3, text.c_str());
            if (!field || (*field)[0] == '\0') return std::nullopt; // cancelled, or nothing typed
            text = field->substr(0, field->find('\0'));
            text.erase(text.find_last_not_of(' ') + 1);
            std::string why;
            std::optional<BytePattern> p = read_pattern(text, wildcards, empty_ok, why);
            if (p) return p;
            warn_beep();
            reason(why);
        }
    }
    void not_found() const {
        if (new_file_wanted) return;
        reason(std::string(popup_width / 2 - 13, ' ') + "** String not found **");
        read_key();
    }
};

// The first match that begins after `from`.
std::optional<uint64_t> match_after(const BytePattern& p, uint64_t from) {
    if (from >= Globals.filesize) return std::nullopt;
    SearchResult r = find_masked(p, from + 1, Globals.filesize - from);
    if (!r.found) return std::nullopt;
    return from + 1 + r.offset;
}

// The last match that begins before `from` (it may run on past it).
std::optional<uint64_t> match_before(const BytePattern& p, uint64_t from) {
    if (from == 0) return std::nullopt;
    uint64_t count = std::min<uint64_t>(from - 1 + p.size(), Globals.filesize + 1);
    SearchResult r = find_masked_backward(p, 0, count);
    if (!r.found) return std::nullopt;
    return r.offset;
}

// "Match K of N" for the match at `at`, counted over the whole file as
// shown; Escape during the count leaves the total out (or, before K is
// known, says nothing).
void note_match(const BytePattern& p, uint64_t at) {
    bar_note.clear();
    std::optional<uint64_t> before = count_matches(p, 0, at);
    if (!before || new_file_wanted) return;
    bar_note = "Match " + std::to_string(*before + 1);
    std::optional<uint64_t> rest = count_matches(p, at, Globals.filesize - at + 1);
    if (rest && !new_file_wanted) bar_note += " of " + std::to_string(*before + *rest);
}

void found_at(const BytePattern& p, uint64_t at) {
    cursor_onto(at, 1);
    note_match(p, at);
    redraw_later(REDRAW_ALL);
}

} // namespace

void find_dialog() {
    std::optional<BytePattern> p;
    {
        PatternPopup popup("Find", 1);
        if (!popup.w) {
            warn_beep();
            return;
        }
        std::string text;
        p = popup.ask(3, "Pattern: ", true, false, text);
        if (!p) return;
        find_last = *p;
        last_pattern.reset(); // the search repeated is the last one used
        search_used = 1;
        std::optional<uint64_t> at = match_after(*p, cursor_loc);
        if (!at) {
            popup.not_found();
            return;
        }
        cursor_onto(*at, 1);
    }
    note_match(*p, cursor_loc);
    redraw_later(REDRAW_ALL);
}

bool find_repeat(bool backwards) {
    if (!find_last) return false;
    const BytePattern p = *find_last;
    std::optional<uint64_t> at =
        backwards ? match_before(p, cursor_loc) : match_after(p, cursor_loc);
    if (!at) return false;
    found_at(p, *at);
    return true;
}

void replace_dialog() {
    if (Globals.file_state == FILE_READ_ONLY) {
        warn_beep();
        return;
    }
    std::optional<BytePattern> p, with;
    {
        PatternPopup popup("Replace", 2);
        if (!popup.w) {
            warn_beep();
            return;
        }
        std::string text, with_text;
        p = popup.ask(3, "Pattern:      ", true, false, text);
        if (!p) return;
        popup.reason("");
        for (;;) {
            with = popup.ask(4, "Replace with: ", false, Globals.buffered != 0, with_text);
            if (!with) return;
            if (Globals.buffered || with->size() == p->size()) break;
            warn_beep(); // paged: the file keeps its length
            popup.reason("Replace with " + std::to_string(p->size()) +
                         " bytes: without -b a replacement keeps the length");
        }
    }
    find_last = *p;
    last_pattern.reset();
    search_used = 1;
    const std::vector<unsigned char> bytes(with->value.begin(), with->value.end());
    const uint64_t m = p->size();
    replace_begin();
    uint64_t pos = cursor_loc;
    bool all = false, stopped = false;
    while (!all && !stopped && pos <= Globals.filesize) {
        SearchResult r = find_masked(*p, pos, Globals.filesize - pos + 1);
        if (!r.found) break;
        const uint64_t at = pos + r.offset;
        cursor_onto(at, 1);
        redraw_later(REDRAW_ALL);
        int key;
        {
            DialogScope ask({.bar = "Replace? Y Yes  N No  A All  Escape Stop"});
            for (;;) {
                key = read_key();
                if (key == KEY_ESC) drop_escape_sequence();
                if ((key > 0 && key < 128 && strchr("yYnNaA", key)) || is_cancel_key(key) ||
                    new_file_wanted)
                    break;
                warn_beep();
            }
        }
        if (is_cancel_key(key) || new_file_wanted) {
            stopped = true;
        } else if (key == 'n' || key == 'N') {
            pos = at + 1;
        } else {
            all = key == 'a' || key == 'A';
            if (replace_one(at, m, bytes) != RangeResult::Done) {
                warn_beep();
                break;
            }
            pos = at + bytes.size();
        }
    }
    if (all) {
        // The rest in one pass: each match after the last one replaced, the
        // offsets moved by what the replacements before it added or took.
        std::optional<std::vector<uint64_t>> rest = collect_matches(*p, pos);
        const int64_t shift = static_cast<int64_t>(bytes.size()) - static_cast<int64_t>(m);
        if (rest) {
            LongWork work("Replacing", rest->size(), false);
            for (size_t k = 0; k < rest->size(); ++k) {
                (void)work.keep_going(k);
                const uint64_t at =
                    (*rest)[k] + static_cast<uint64_t>(shift * static_cast<int64_t>(k));
                if (replace_one(at, m, bytes) != RangeResult::Done) break;
            }
        }
    }
    const uint64_t n = replace_end();
    bar_note = "Replaced " + std::to_string(n) + (n == 1 ? " match" : " matches");
    redraw_later(REDRAW_ALL);
}

void mark_matches(uint64_t first, uint64_t last, std::vector<bool>& marked) {
    marked.assign(static_cast<size_t>(last - first + 1), false);
    if (!find_last || find_last->size() == 0) return;
    const uint64_t m = find_last->size();
    for (uint64_t s : matches_overlapping(*find_last, first, last)) {
        const uint64_t from = std::max(s, first), to = std::min(s + m - 1, last);
        for (uint64_t o = from; o <= to; ++o)
            marked[static_cast<size_t>(o - first)] = true;
    }
}
