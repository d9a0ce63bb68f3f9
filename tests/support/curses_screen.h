// CursesScreen: curses on a null terminal for drawing and dialog tests.
//
// The constructor starts curses with newterm on TERM=xterm-256color, output
// to /dev/null and input from a pipe, at a fixed size, and creates the three
// editor windows with the start-up geometry (status row 0, main rows 1..L-2,
// command bar row L-1). Colour is off unless asked for (then the pairs are
// defined as at start-up and `color` is 1).
//
// Reading back: text(win, row) gives the row's characters (one per cell,
// ACS and wide cells as '?'), ch/attrs/pair give one cell. feed() queues keys
// for the next read_key calls (bytes as typed; use key() for curses codes,
// which are sent as their xterm escape sequences).
//
// One CursesScreen at a time; the destructor ends curses and deletes the
// screen, so each test can make its own.
#pragma once
#include <string>
#include <vector>

#include "morvane.h"

class CursesScreen {
  public:
    explicit CursesScreen(int lines = 24, int cols = 80, bool with_color = false);
    ~CursesScreen();
    CursesScreen(const CursesScreen&) = delete;
    CursesScreen& operator=(const CursesScreen&) = delete;

    static std::string text(WINDOW* w, int row);
    static char ch(WINDOW* w, int row, int col);
    static attr_t attrs(WINDOW* w, int row, int col); // without the colour pair
    static short pair(WINDOW* w, int row, int col);

    // Queue raw bytes as keyboard input.
    void feed(const std::string& bytes);
    // The escape sequence xterm sends for a curses key code (KEY_UP, ...).
    static std::string key(int code);
    // What happens before the next key is read: the text view finds its
    // page (anew: tests change the bytes under it), and what was recorded is
    // drawn.
    static void frame() {
        text_view_forget();
        text_view_prepare();
        update_screen();
    }

  private:
    SCREEN* screen_ = nullptr;
    FILE* out_ = nullptr;
    FILE* in_ = nullptr;
    int pipe_[2] = {-1, -1};
    int saved_input_fd_ = 0;
    std::vector<uint64_t> saved_row_starts_;
};
