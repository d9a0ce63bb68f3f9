// question.cpp: the Y/N questions asked before something is written over.
//
// One dialog for all of them, with the quit dialog's keys, so that a
// question reads and answers alike wherever it is asked. No is chosen at
// first: Enter pressed by habit after a save's Enter writes nothing.
#include <algorithm>
#include <string>

#include "morvane.h"

namespace {

constexpr int question_width = 60;
constexpr int question_height = 7;
constexpr int choice_row = 5;

// " Yes " and " No " at the same columns whichever is selected.
void draw_yes_no(WINDOW* w, bool yes) {
    if (!w) return;
    int col = popup_text(w, choice_row, 20, " Yes ", yes ? A_REVERSE : 0);
    col = popup_text(w, choice_row, col, "     ");
    popup_text(w, choice_row, col, " No ", yes ? 0 : A_REVERSE);
}

// A line centred in the popup, cut to its inside (a name may be long).
void centred_line(WINDOW* w, int row, const std::string& text) {
    const int inner = getmaxx(w) - 2;
    const std::string shown = cut_columns(text, std::max(0, inner - 2));
    const int col = 1 + std::max(0, (inner - text_columns(shown)) / 2);
    if (row < getmaxy(w) - 1) mvput_safe(w, row, col, shown);
}

} // namespace

bool ask_yes_no(const std::string& question, const std::string& detail) {
    bool yes = false;
    // Laid out anew at every size: its text never changes, so its keys act
    // even while it cannot be seen whole.
    auto layout = [&](DialogScope& scope) {
        WINDOW* w = popup_window(question_width, question_height);
        scope.adopt(w);
        if (!w) return;
        centred_line(w, 2, question);
        centred_line(w, 3, detail);
        draw_yes_no(w, yes);
    };
    DialogScope dialog({.width = question_width,
                        .height = question_height,
                        .bar = "^G/^X/Escape Cancel   Y Yes   N No",
                        .layout = layout,
                        .need_lines = choice_row + 1,
                        .keys_when_hidden = "yYnN\n"});
    for (;;) {
        int key = read_key();
        if (is_cancel_key(key)) return false;
        switch (key) {
        case 'y':
        case 'Y':
            return true;
        case 'n':
        case 'N':
            return false;
        case KEY_LINE_FEED:
            return yes;
        case '\t':
        case KEY_LEFT:
        case KEY_RIGHT:
            yes = !yes;
            draw_yes_no(current_popup, yes);
            break;
        default:
            break;
        }
    }
}

bool ask_replace(const std::string& name) {
    return ask_yes_no("Replace the existing file?", name);
}

bool ask_save_changed_file() {
    return ask_yes_no("The file changed on disk since it was opened",
                      "Save anyway, writing the whole content as shown?");
}
