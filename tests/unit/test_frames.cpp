// Every key of every mode ends in exactly one flush to the terminal: commands
// only record what they changed, and the frame is sent once, by read_key,
// before the next key is read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"

// The unit-test binary is linked with --wrap for the calls that send a frame
// and for wgetch, so every flush from the editor's code is counted, and each
// key read records how many frames were sent since the key before it.
static int flushes = 0;
struct KeyFrames {
    int key;
    int frames; // flushes between the key before and this one
};
static std::vector<KeyFrames> keys_read;
extern "C" int __real_doupdate();
extern "C" int __real_wrefresh(WINDOW* w);
extern "C" int __real_refresh();
extern "C" int __real_wgetch(WINDOW* w);
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
extern "C" int __wrap_wgetch(WINDOW* w) {
    const int key = __real_wgetch(w);
    if (key != ERR) {
        keys_read.push_back({key, flushes});
        flushes = 0;
    }
    return key;
}

namespace {

// Nothing binds it: the script's end.
const int script_end = KEY_F(12);

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
    Globals.filename = "frames.bin";
    cursor_onto(0, 1);
    init_mod_table();
}

// Plays `script` as the main loop would, up to its end, and checks that each
// key was preceded by exactly one frame (the first by the opening one).
void expect_one_frame_per_key(CursesScreen& screen, const std::string& script,
                              void (*before)() = nullptr) {
    screen.feed(script + CursesScreen::key(script_end));
    keys_read.clear();
    flushes = 0;
    redraw_later(REDRAW_ALL);
    if (before) before();
    for (;;) {
        const int key = read_key();
        if (key == script_end) break;
        if (Globals.mode == MODE_TEXT)
            text_mode_key(key);
        else
            hex_mode_key(key);
    }
    ASSERT_FALSE(keys_read.empty());
    for (size_t i = 0; i < keys_read.size(); ++i)
        EXPECT_EQ(keys_read[i].frames, 1)
            << "key " << i << " (code " << keys_read[i].key << ") of the script";
}

std::string k(int code) {
    return CursesScreen::key(code);
}

} // namespace

TEST(Frames, EveryHexViewKeyEndsInOneFlush) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    std::string script = k(KEY_RIGHT) + k(KEY_DOWN) + k(KEY_LEFT) + k(KEY_UP) + k(KEY_NPAGE) +
                         k(KEY_PPAGE) + k(KEY_END) + k(KEY_HOME) + "jk" + "a" + "\x15" +
                         k(KEY_F(7)) + k(KEY_IC) + k(KEY_DC) + "\t" + "z" + "\t" + "\x10" + "\x12" +
                         "\x12" + "\x0c" + k(KEY_F(5)) + k(KEY_F(5)) + "uv" + "hl" +
                         "\x02\x19\x06\x16" + "\x1bv";
    // The selection's keys: Shift with moves, copy, F9, paste over and in, cut.
    script += k(KEY_SRIGHT) + k(KEY_SF) + k(KEY_SEND) + "\x1bw" + k(KEY_F(9)) + k(KEY_SLEFT) +
              "\x1by" + "\x1bp" + k(KEY_SHOME) + "\x1bk" + k(KEY_F(9));
    // Scrolling at the bottom row is a frame of its own as well.
    for (int i = 0; i < 30; ++i)
        script += k(KEY_DOWN);
    // The relative jump: its prompt in the bar, each digit, Backspace,
    // Control-U, Enter; cancelled with Control-G; again with n.
    script += "+1" + k(KEY_BACKSPACE) + "2\x15" + "30\n" + "-5\x07" + "n" + "N";
    expect_one_frame_per_key(screen, script);
}

TEST(Frames, EveryDialogKeyEndsInOneFlush) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    const std::string script =
        // Goto: typing, Backspace, moving in the field, Enter.
        "\x14" + std::string("\x15") + "1" + k(KEY_BACKSPACE) + "2" + k(KEY_LEFT) + k(KEY_RIGHT) +
        "\n" +
        // The search menu, a text search that finds, a hex search that does
        // not (its message waits for a key), Find Next, F4.
        "\x17" + k(KEY_DOWN) + k(KEY_UP) + "a" + "ab\n" + "\x17h" + "ff" + "e" + k(KEY_BACKSPACE) +
        "ee\n" + "x" + "\x0e" + k(KEY_F(4)) +
        // Help: scrolled down and up, left with q; the inspector, closed by a key.
        "\x07jjk" + "q" + k(KEY_F(6)) + "z" +
        // Save, cancelled; the calculator: lines, digits, Backspace, left.
        "\x0f" + "x" + "\x07" + "\x1f" + "j1" + k(KEY_BACKSPACE) + "k5" + "\x18" +
        // Fill: a selection, the pattern typed, Enter; the mark cleared.
        k(KEY_SRIGHT) + "\x1b" + "f" + "0a1" + k(KEY_BACKSPACE) + "b\n" + "\x1b" + "a";
    expect_one_frame_per_key(screen, script);
}

TEST(Frames, EveryTextViewKeyEndsInOneFlush) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    const std::string script = "\x05" + std::string("\x12\x12") + "\x0c" + "\x0e" + k(KEY_F(4)) +
                               "q" + "\x14" + "300\n" + "\x05";
    expect_one_frame_per_key(screen, script);
    EXPECT_EQ(Globals.mode, MODE_HEX);
}

TEST(Frames, EveryQuitDialogKeyEndsInOneFlush) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    // The dialog as the interrupt opens it: choices moved, then No.
    expect_one_frame_per_key(screen, "\t" + k(KEY_RIGHT) + k(KEY_LEFT) + "\tn",
                             [] { quit_dialog(); });
}

TEST(Frames, EveryBrowserKeyEndsInOneFlush) {
    KeptEditorState kept;
    const std::filesystem::path before = std::filesystem::current_path();
    char tmpl[] = "/tmp/morvane-frames-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    ASSERT_EQ(chdir(tmpl), 0);
    for (int i = 0; i < 40; ++i)
        std::fclose(std::fopen(("f" + std::to_string(100 + i)).c_str(), "w"));
    {
        CursesScreen screen(24, 80);
        screen.feed("j" + k(KEY_DOWN) + "k" + k(KEY_NPAGE) + k(KEY_PPAGE) + " " + "-" +
                    k(KEY_HOME) + "\x0c" + k(KEY_F(5)) + k(KEY_F(5)) + k(KEY_END) + "\n");
        keys_read.clear();
        flushes = 0;
        const std::string chosen = file_browser();
        EXPECT_FALSE(chosen.empty());
        EXPECT_EQ(keys_read.size(), 13u) << [] {
            std::string codes;
            for (const KeyFrames& r : keys_read)
                codes += std::to_string(r.key) + " ";
            return codes;
        }();
        for (size_t i = 0; i < keys_read.size(); ++i)
            EXPECT_EQ(keys_read[i].frames, 1) << "browser key " << i;
    }
    Globals.mode = MODE_HEX;
    std::filesystem::current_path(before);
    std::filesystem::remove_all(tmpl);
}

// F6 waits for the key that closes its popup: the popup is one frame, the
// screen put back by that key another, and the key is typed into nothing.
TEST(Frames, InspectorIsOneFrameToOpenAndOneToClose) {
    KeptEditorState kept;
    CursesScreen screen(24, 80);
    hold_counting_file(4096, 1);
    expect_one_frame_per_key(screen, k(KEY_F(6)) + "a");
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(Globals.file_state, FILE_UNCHANGED);
    EXPECT_EQ(keys_read.size(), 3u); // F6, the closing key, the script's end
}
