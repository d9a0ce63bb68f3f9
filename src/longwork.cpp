// longwork.cpp: the one mechanism for work that may run long (search, save,
// copy, the -b load, the text view's scan).
//
// The work calls keep_going() once per block. Below half a second nothing is
// shown and a block costs one clock read; the keyboard and the signals are
// looked at every 50 ms, and from half a second on the command bar shows how
// far the work has got. Escape stops the work; other keys are kept for
// read_key to hand out afterwards, in the order typed. A pending interrupt
// or resize acts at once (poll_signals), as it would between keys.
#include <chrono>
#include <cstdio>
#include <deque>

#include "morvane.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto show_after = std::chrono::milliseconds(500);
constexpr auto poll_every = std::chrono::milliseconds(50);
constexpr auto draw_every = std::chrono::milliseconds(200);

std::deque<int> kept_keys; // typed during long work, for read_key
int works_running = 0;     // LongWork objects alive (nested: a save's copy in a load's dialog)

} // namespace

bool long_work_running() {
    return works_running > 0;
}

bool take_kept_key(int& key) {
    if (kept_keys.empty()) return false;
    key = kept_keys.front();
    kept_keys.pop_front();
    return true;
}

LongWork::LongWork(const char* what, uint64_t total, bool stoppable)
    : what_(what), total_(total), start_(Clock::now()), next_poll_(start_ + poll_every),
      next_draw_(start_ + show_after), stoppable_(stoppable) {
    assert(!drawing_now() && "long work started from drawing");
    ++works_running;
}

LongWork::~LongWork() {
    --works_running;
    // The bar the work wrote over comes back.
    if (shown_) redraw_later(REDRAW_BAR);
}

bool LongWork::keep_going(uint64_t done) {
    if (stopped_) return false;
    const Clock::time_point now = Clock::now();
    if (now < next_poll_) return true;
    next_poll_ = now + poll_every;
    const int lines = LINES, cols = COLS;
    // The quit dialog drew over the screen; what it covered comes back now,
    // not when the work ends (drawing runs no work and reads no key).
    const bool redrawn = poll_signals();
    if (redrawn) update_screen();
    // New File was chosen in the quit dialog: the file goes, the work with it.
    if (new_file_wanted && stoppable_) stopped_ = true;
    take_keys();
    if (stopped_) return false;
    // After a resize the bar is a new window: the progress goes on it at once.
    if (now >= next_draw_ || (shown_ && (redrawn || lines != LINES || cols != COLS))) {
        next_draw_ = now + draw_every;
        show(done);
    }
    return true;
}

void LongWork::take_keys() {
    if (!stdscr) return;
    nodelay(stdscr, TRUE);
    for (int key; (key = wgetch(stdscr)) != ERR;) {
        if (key == KEY_RESIZE) continue; // the resize itself came as a signal
        if (key == KEY_ESC) {
            // With more already behind it, ESC begins a key's sequence (Alt-S
            // typed just after Control-E, an arrow): kept whole for read_key.
            if (const int next = wgetch(stdscr); next != ERR && next != KEY_RESIZE) {
                kept_keys.push_back(key);
                kept_keys.push_back(next);
                continue;
            }
            // Work that cannot be given up refuses Escape, as any refused key.
            if (!stoppable_) {
                warn_beep();
                continue;
            }
            stopped_ = true;
            return;
        }
        kept_keys.push_back(key);
    }
}

std::string progress_text(const char* what, uint64_t done, uint64_t total) {
    unsigned percent = 100;
    if (total > 0 && done < total)
        percent = static_cast<unsigned>(static_cast<long double>(done) * 100 / total);
    char text[96];
    (void)snprintf(text, sizeof text, "%s... %u%%", what, percent);
    return text;
}

void LongWork::show(uint64_t done) {
    if (!Globals.help_win) return;
    shown_ = true;
    werase(Globals.help_win);
    std::string text = progress_text(what_, done, total_);
    mvwaddnstr(Globals.help_win, 0, 0, text.c_str(), getmaxx(Globals.help_win));
    wnoutrefresh(Globals.help_win);
    doupdate();
}
