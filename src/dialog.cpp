// dialog.cpp: the one place that knows which popups are open.
//
// Popups are open bottom to top (an error box over the save dialog, the quit
// dialog over anything). A resize lets curses cut every window to the new
// screen, which loses whatever fell outside it, so the content of each popup
// is kept while it is whole and put back once it fits again. A dialog that
// lays itself out for the screen size (the quit dialog, the help menu) is
// drawn anew instead. While the top popup cannot be seen whole, read_key
// holds back its keys: typing into a field nobody can see would act blind.
#include <algorithm>
#include <cassert>
#include <vector>

#include "morvane.h"

namespace {

struct OpenDialog {
    WINDOW* win;       // the popup; null when it could not be made
    const char* bar;   // its command bar; null keeps the one below
    void (*rebuild)(); // lays the dialog out anew for the screen, or null
    int lines, cols;   // its size when opened: what must fit to be seen
    int need_lines;    // rows a rebuilt dialog needs to be seen
    int y, x;          // its place when opened
    bool centred;      // placed in the middle, so centred again
    WINDOW* kept;      // its content, taken while it was whole
    int cur_y, cur_x;  // where its cursor was
};

std::vector<OpenDialog> open_dialogs;

bool fits(const OpenDialog& d) {
    if (d.rebuild) return d.need_lines <= LINES;
    return d.lines <= LINES && d.cols <= COLS &&
           (d.centred || (d.y + d.lines <= LINES && d.x + d.cols <= COLS));
}

// The topmost dialog that has a bar, or null.
const OpenDialog* top_with_bar() {
    auto it = std::find_if(open_dialogs.rbegin(), open_dialogs.rend(),
                           [](const OpenDialog& d) { return d.bar != nullptr; });
    return it == open_dialogs.rend() ? nullptr : &*it;
}

void sync_current() {
    current_popup = open_dialogs.empty() ? nullptr : open_dialogs.back().win;
    const OpenDialog* top = top_with_bar();
    current_bar = top ? top->bar : nullptr;
}

// The bar of the topmost dialog that has one; a dialog that lays itself out
// draws its own.
void draw_bar() {
    if (!current_bar || !Globals.help_win) return;
    if (const OpenDialog* top = top_with_bar(); top && top->rebuild) return;
    werase(Globals.help_win);
    mvwaddnstr(Globals.help_win, 0, 0, current_bar, getmaxx(Globals.help_win));
    wnoutrefresh(Globals.help_win);
}

// Puts a popup back at its size and place (as much of it as the screen
// holds) with the content it had while whole.
void restore(OpenDialog& d) {
    int lines = std::min(d.lines, LINES), cols = std::min(d.cols, COLS);
    int y = d.centred ? LINES / 2 - lines / 2 : std::min(d.y, LINES - lines);
    int x = d.centred ? COLS / 2 - cols / 2 : std::min(d.x, COLS - cols);
    // Moved to the corner first: a window may only grow where it stays on
    // the screen.
    mvwin(d.win, 0, 0);
    wresize(d.win, lines, cols);
    mvwin(d.win, std::max(0, y), std::max(0, x));
    if (d.kept) copywin(d.kept, d.win, 0, 0, 0, 0, lines - 1, cols - 1, FALSE);
    wmove(d.win, std::min(d.cur_y, lines - 1), std::min(d.cur_x, cols - 1));
    touchwin(d.win);
}

} // namespace

DialogScope::DialogScope(WINDOW* popup, const char* bar, Interrupts interrupts, void (*rebuild)(),
                         int need_lines) {
    if (interrupts == Interrupts::Ignored) saved_ = ignore_interrupt();
    OpenDialog d{popup, bar, rebuild, 0, 0, need_lines, 0, 0, false, nullptr, 0, 0};
    if (popup) {
        getmaxyx(popup, d.lines, d.cols);
        getbegyx(popup, d.y, d.x);
        d.centred = d.y == LINES / 2 - d.lines / 2 && d.x == COLS / 2 - d.cols / 2;
    }
    index_ = open_dialogs.size();
    open_dialogs.push_back(d);
    sync_current();
}

DialogScope::~DialogScope() {
    assert(index_ + 1 == open_dialogs.size() && "dialogs must close in reverse order");
    OpenDialog& d = open_dialogs.back();
    if (d.kept) delwin(d.kept);
    if (d.win) delwin(d.win);
    open_dialogs.pop_back();
    sync_current();
    if (saved_) restore_interrupt(*saved_);
}

WINDOW* DialogScope::win() const {
    return open_dialogs[index_].win;
}

// Not const: the dialog's state is its entry in open_dialogs.
void DialogScope::adopt(WINDOW* popup) { // NOLINT(readability-make-member-function-const)
    OpenDialog& d = open_dialogs[index_];
    if (d.win && d.win != popup) delwin(d.win);
    d.win = popup;
    sync_current();
}

void DialogScope::set_bar(const char* bar) { // NOLINT(readability-make-member-function-const)
    open_dialogs[index_].bar = bar;
    sync_current();
}

bool dialog_open() {
    return !open_dialogs.empty();
}

bool dialog_hidden() {
    // A dialog whose popup could not be made (the help menu on a terminal of
    // one or two lines) works unseen, as it always has.
    return !open_dialogs.empty() && open_dialogs.back().win && !fits(open_dialogs.back());
}

void dialogs_before_resize() {
    for (OpenDialog& d : open_dialogs) {
        if (!d.win || d.rebuild || !fits(d)) continue;
        if (!d.kept) d.kept = newpad(d.lines, d.cols);
        if (d.kept) copywin(d.win, d.kept, 0, 0, 0, 0, d.lines - 1, d.cols - 1, FALSE);
        getyx(d.win, d.cur_y, d.cur_x);
    }
}

void dialogs_show_again(bool resized) {
    if (open_dialogs.empty()) return;
    for (OpenDialog& d : open_dialogs) {
        if (d.rebuild) {
            d.rebuild();
            continue;
        }
        if (!d.win) continue;
        if (resized)
            restore(d);
        else
            touchwin(d.win);
        wnoutrefresh(d.win);
    }
    draw_bar();
    // The terminal's cursor goes where the top popup keeps it.
    WINDOW* top = open_dialogs.back().win;
    if (top) wnoutrefresh(top);
    doupdate();
}
