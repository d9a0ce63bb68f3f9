// KeptEditorState: a member (declared first) of test fixtures that change
// the editor's globals. It records them on construction and, when the
// fixture is gone, empties the table and the undo stack and puts everything
// back, except the windows, which belong to whichever screen is current.
#pragma once
#include "morvane.h"

struct KeptEditorState {
    EditorGlobals g = Globals;
    int32_t cx = cursor_x, cy = cursor_y, spare = buf_spare;
    uint64_t loc = cursor_loc;
    std::vector<unsigned char> buf = buffer;
    ~KeptEditorState() {
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
    }
};
