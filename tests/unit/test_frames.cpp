// Every key of the hex view ends in one flush to the terminal: the drawing
// routines stage their windows and the frame is sent once.
#include <gtest/gtest.h>

#include <string>

#include "curses_screen.h"
#include "editor_state.h"

// The unit-test binary is linked with --wrap for the two calls that send a
// frame, so every flush from the editor's code is counted here.
static int flushes = 0;
extern "C" int __real_doupdate();
extern "C" int __real_wrefresh(WINDOW* w);
extern "C" int __real_refresh();
extern "C" int __wrap_doupdate() {
    ++flushes;
    return __real_doupdate();
}
extern "C" int __wrap_wrefresh(WINDOW* w) {
    ++flushes;
    return __real_wrefresh(w);
}
extern "C" int __wrap_refresh() {
    ++flushes;
    return __real_refresh();
}

namespace {

void hold_counting_file(size_t size, int buffered) {
    buffer.assign(size + 1, 0);
    for (size_t i = 0; i < size; ++i)
        buffer[i] = static_cast<unsigned char>(i);
    buf_spare = 0;
    Globals.filesize = size - 1;
    Globals.buf_front = 0;
    Globals.buf_end = size - 1;
    Globals.buffered = buffered;
    Globals.buf_size = static_cast<int64_t>(size);
    Globals.mode = MODE_HEX;
    Globals.file_state = FILE_UNCHANGED;
    Globals.text_pane = 0;
    cursor_loc = 0;
    cursor_x = 10;
    cursor_y = 1;
    init_mod_table();
}

} // namespace

TEST(Frames, EveryHexViewKeyEndsInOneFlush) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    redraw_all();
    struct Key {
        const char* name;
        std::string bytes;
    };
    const Key keys[] = {
        {"right", CursesScreen::key(KEY_RIGHT)},
        {"down", CursesScreen::key(KEY_DOWN)},
        {"left", CursesScreen::key(KEY_LEFT)},
        {"up", CursesScreen::key(KEY_UP)},
        {"page down", CursesScreen::key(KEY_NPAGE)},
        {"page up", CursesScreen::key(KEY_PPAGE)},
        {"end", CursesScreen::key(KEY_END)},
        {"home", CursesScreen::key(KEY_HOME)},
        {"j", "j"},
        {"k", "k"},
        {"hex digit", "a"},
        {"undo", "\x15"},
        {"redo", CursesScreen::key(KEY_F(7))},
        {"insert", CursesScreen::key(KEY_IC)},
        {"delete", CursesScreen::key(KEY_DC)},
        {"tab", "\t"},
        {"text character", "z"},
        {"tab back", "\t"},
        {"spacing", "\x10"},
        {"charset", "\x12"},
        {"control-l", "\x0c"},
    };
    for (const Key& k : keys) {
        screen.feed(k.bytes);
        int key = read_key();
        flushes = 0;
        hex_mode_key(key);
        EXPECT_EQ(flushes, 1) << k.name;
    }
    // Scrolling at the bottom row is a frame of its own as well.
    for (int i = 0; i < 30; ++i) {
        screen.feed(CursesScreen::key(KEY_DOWN));
        int key = read_key();
        flushes = 0;
        hex_mode_key(key);
        EXPECT_EQ(flushes, 1) << "down " << i;
    }
}

// F6 waits for the key that closes its popup: the popup is one frame, the
// screen put back by that key another, and the key is typed into nothing.
TEST(Frames, InspectorIsOneFrameToOpenAndOneToClose) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    redraw_all();
    screen.feed(CursesScreen::key(KEY_F(6)) + "a");
    int key = read_key();
    flushes = 0;
    hex_mode_key(key);
    EXPECT_EQ(flushes, 2);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(Globals.file_state, FILE_UNCHANGED);
}
