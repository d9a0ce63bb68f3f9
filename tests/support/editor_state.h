// KeptEditorState: the one keeper of the editor's state for unit tests. A
// test (or a fixture, as its first member) that changes the editor's globals
// holds one: it records them on construction and, when it goes, empties the
// table (with its range pieces) and the undo stack, closes a compared file and puts everything
// back, except the windows, which belong to whichever screen is current. Every global of morvane.h
// is either kept here or exempted in editor_globals.cpp: the unit test binary fails a test that
// leaves one changed.
#pragma once
#include <unistd.h>

#include "morvane.h"

struct KeptEditorState {
    EditorGlobals g = Globals;
    int32_t cx = cursor_x, cy = cursor_y, spare = buf_spare;
    uint64_t loc = cursor_loc;
    ByteBuffer buf = buffer;
    int32_t kept_color = color;
    bool kept_forced_off = color_forced_off;
    OutputCharset charset = output_charset;
    std::optional<std::vector<unsigned char>> pattern = last_pattern;
    int used = search_used;
    HexInput hex = hex_input;
    std::vector<std::string> help = help_text;
    uint64_t distance = jump_distance;
    int jump = jump_key;
    std::vector<uint64_t> row_starts = text_row_starts;
    int calc = calc_line;
    bool wanted = new_file_wanted;
    DiskFile on_disk = file_on_disk;
    std::shared_ptr<const ByteBuffer> clip = clipboard;
    std::optional<uint64_t> mark = select_mark;
    size_t block = compare_block;
    Interrupt interrupt = interrupt_kind;
    ~KeptEditorState() {
        compare_close(); // a test's other file (the windows are the screen's)
        compare_block = block;
        load_pread = ::pread;
        interrupt_kind = interrupt;
        clipboard = clip;
        select_mark = mark;
        new_file_wanted = wanted;
        clear_mod_table();
        undo_clear();
        EditorGlobals now = Globals;
        Globals = g;
        Globals.main_win = now.main_win;
        Globals.status_win = now.status_win;
        Globals.help_win = now.help_win;
        cursor_x = cx;
        cursor_y = cy;
        cursor_loc = loc;
        buf_spare = spare;
        buffer = buf;
        fp_reads_other_file = false;
        file_on_disk = on_disk;
        color = kept_color;
        color_forced_off = kept_forced_off;
        output_charset = charset;
        last_pattern = pattern;
        search_used = used;
        hex_input = hex;
        help_text = help;
        jump_distance = distance;
        jump_key = jump;
        text_row_starts = row_starts;
        calc_line = calc;
    }
};
