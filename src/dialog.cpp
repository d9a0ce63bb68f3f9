// dialog.cpp: the one place that knows which dialogs are open.
//
// Dialogs are open bottom to top (an error box over the save dialog, the quit
// dialog over anything). update_screen has them drawn over the screen in that
// order, with the bar of the topmost one that has a bar. A resize lets curses
// cut every window to the new screen, which loses whatever fell outside it,
// so the content of each popup is kept while it is whole and put back once it
// fits again; a dialog that lays itself out for the screen size (the quit
// dialog, the help menu, the inspector) is drawn anew instead. While the top
// popup cannot be seen whole, read_key holds back its keys, but for the
// cancel keys and those the dialog declares it takes unseen: typing into a
// field nobody can see would act blind, but leaving changes nothing.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>
#include <vector>

#include "morvane.h"

namespace {

struct OpenDialog {
    DialogScope* scope; // what the dialog's function holds (handed to its layout)
    WINDOW* win;        // the popup; null when it has none or it could not be made
    DialogSpec spec;    // as declared
    std::string bar;    // its command bar (the declared one, or a prompt's)
    bool has_bar;       // it has a bar of its own
    int lines, cols;    // its size when opened: what must fit to be seen
    int y, x;           // its place when opened
    bool centred;       // placed in the middle, so centred again
    WINDOW* kept;       // its content, taken while it was whole
    int cur_y, cur_x;   // where its cursor was
};

std::vector<OpenDialog> open_dialogs;
size_t first_on_screen = 0;       // dialogs below it wait under a screen of their own (the browser)
bool resized_since_drawn = false; // the popups still have their old size and place

bool fits(const OpenDialog& d) {
    if (d.spec.layout) return d.spec.need_lines <= LINES;
    return d.lines <= LINES && d.cols <= COLS &&
           (d.centred || (d.y + d.lines <= LINES && d.x + d.cols <= COLS));
}

// The topmost dialog that has a bar, or null.
const OpenDialog* top_with_bar() {
    for (size_t i = open_dialogs.size(); i > first_on_screen; --i)
        if (open_dialogs[i - 1].has_bar) return &open_dialogs[i - 1];
    return nullptr;
}

void sync_current() {
    current_popup = open_dialogs.size() > first_on_screen ? open_dialogs.back().win : nullptr;
}

// A dialog's bar: its text from the left (or centred), blanks to the edge.
void draw_bar(const OpenDialog& d) {
    WINDOW* bar = Globals.help_win;
    if (!bar) return;
    const int width = getmaxx(bar);
    const int len = static_cast<int>(d.bar.size());
    const int col = d.spec.bar_centred ? std::max(0, COLS / 2 - len / 2) : 0;
    wattrset(bar, attr_help());
    werase(bar);
    if (col < width) mvwaddnstr(bar, 0, col, d.bar.c_str(), std::min(len, width - col));
    wnoutrefresh(bar);
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
}

void remember_place(OpenDialog& d) {
    if (!d.win) return;
    getmaxyx(d.win, d.lines, d.cols);
    getbegyx(d.win, d.y, d.x);
    d.centred = d.y == LINES / 2 - d.lines / 2 && d.x == COLS / 2 - d.cols / 2;
}

} // namespace

DialogScope::DialogScope(DialogSpec spec) {
    if (spec.interrupts == DialogInterrupts::Ignored) saved_ = ignore_interrupt();
    WINDOW* popup =
        spec.width > 0 && !spec.layout ? popup_window(spec.width, spec.height) : nullptr;
    const bool has_bar = spec.bar != nullptr;
    std::string bar = has_bar ? spec.bar : "";
    OpenDialog d{this, popup, std::move(spec), std::move(bar), has_bar, 0, 0,
                 0,    0,     false,           nullptr,        0,       0};
    remember_place(d);
    index_ = open_dialogs.size();
    open_dialogs.push_back(std::move(d));
    sync_current();
    redraw_later(REDRAW_BAR);
    if (open_dialogs[index_].spec.layout) open_dialogs[index_].spec.layout(*this);
}

DialogScope::~DialogScope() {
    assert(index_ + 1 == open_dialogs.size() && "dialogs must close in reverse order");
    OpenDialog& d = open_dialogs.back();
    if (d.kept) delwin(d.kept);
    if (d.win) delwin(d.win);
    open_dialogs.pop_back();
    sync_current();
    if (saved_) restore_interrupt(*saved_);
    // What the popup covered, and the bar below it, come back.
    redraw_later(REDRAW_ALL);
}

WINDOW* DialogScope::win() const {
    return open_dialogs[index_].win;
}

// Not const: the dialog's state is its entry in open_dialogs.
void DialogScope::adopt(WINDOW* popup) { // NOLINT(readability-make-member-function-const)
    OpenDialog& d = open_dialogs[index_];
    if (d.win && d.win != popup) delwin(d.win);
    d.win = popup;
    remember_place(d);
    sync_current();
}

void DialogScope::set_bar(std::string_view bar) { // NOLINT(readability-make-member-function-const)
    OpenDialog& d = open_dialogs[index_];
    d.bar.assign(bar);
    d.has_bar = true;
    redraw_later(REDRAW_BAR);
}

bool dialog_open() {
    return !open_dialogs.empty();
}

bool dialog_hidden() {
    // A dialog whose popup could not be made (the help menu on a terminal of
    // one or two lines) works unseen, as it always has.
    return open_dialogs.size() > first_on_screen && open_dialogs.back().win &&
           !fits(open_dialogs.back());
}

bool dialog_refuses_key(int key) {
    if (!dialog_hidden() || is_cancel_key(key)) return false;
    const char* taken = open_dialogs.back().spec.keys_when_hidden;
    if (key == KEY_LINE_FEED) return !strchr(taken, '\n');
    return key <= 0 || key > 255 || !strchr(taken, key);
}

void dialogs_before_resize() {
    resized_since_drawn = true;
    for (OpenDialog& d : open_dialogs) {
        if (!d.win || d.spec.layout || !fits(d)) continue;
        if (!d.kept) d.kept = newpad(d.lines, d.cols);
        if (d.kept) copywin(d.win, d.kept, 0, 0, 0, 0, d.lines - 1, d.cols - 1, FALSE);
        getyx(d.win, d.cur_y, d.cur_x);
    }
}

size_t dialogs_cover() {
    const size_t covered = std::exchange(first_on_screen, open_dialogs.size());
    sync_current();
    return covered;
}

void dialogs_uncover(size_t covered) {
    first_on_screen = covered;
    sync_current();
    // Laid out anew for whatever size the screen has now.
    resized_since_drawn = true;
    redraw_later(REDRAW_ALL);
}

bool dialogs_draw(bool below_drawn) {
    const bool resized = resized_since_drawn;
    resized_since_drawn = false;
    if (open_dialogs.size() <= first_on_screen) return false;
    for (size_t i = first_on_screen; i < open_dialogs.size(); ++i) {
        OpenDialog& d = open_dialogs[i];
        if (resized && d.spec.layout) {
            // Copied first: the layout may open nothing, but it adopts a new
            // popup into this entry.
            auto layout = d.spec.layout;
            layout(*d.scope);
        } else if (d.win) {
            if (resized) restore(d);
            if (below_drawn || resized) touchwin(d.win);
        }
        if (d.win) wnoutrefresh(d.win);
    }
    if (const OpenDialog* top = top_with_bar(); top && (below_drawn || resized)) draw_bar(*top);
    // The terminal's cursor goes where the top dialog keeps it: in its popup,
    // or after a prompt in the bar.
    const OpenDialog& top = open_dialogs.back();
    if (top.win) {
        wnoutrefresh(top.win);
        return true;
    }
    if (top.has_bar && Globals.help_win) {
        wmove(Globals.help_win, 0, std::min(static_cast<int>(top.bar.size()), COLS - 1));
        wnoutrefresh(Globals.help_win);
        return true;
    }
    return false;
}
