// A file opened in paged mode (PagedFile) or held whole (WholeFileLoaded) on
// a null-terminal curses screen, as start-up would leave it, for benchmarks
// of the editor's routines.
#pragma once
#include <stdexcept>
#include <string>

#include "bench_util.h"
#include "curses_screen.h"

struct PagedFile {
    std::string path;
    CursesScreen screen{24, 80, true};
    PagedFile(std::string file, uint64_t size, bool sparse) : path(std::move(file)) {
        if (sparse)
            make_sparse_file(path, size);
        else
            make_filled_file(path, size);
        Globals.filename = path;
        Globals.buffered = 0;
        Globals.buf_size = 16384;
        Globals.file_state = 0;
        Globals.mode = 1;
        Globals.filesize = size - 1;
        buf_spare = 0;
        buffer.assign(16385, 0);
        FILE* f = fopen(path.c_str(), "rb");
        size_t first = size < 16384 ? static_cast<size_t>(size) : 16384;
        if (!f || fread(buffer.data(), 1, first, f) != first) throw std::runtime_error("read");
        set_file_window(f, 0, first - 1);
        init_mod_table();
        undo_clear();
        cursor_loc = 0;
        cursor_x = 10;
        cursor_y = 1;
        redraw_all();
    }
    ~PagedFile() {
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        unlink(path.c_str());
    }
    PagedFile(const PagedFile&) = delete;
    PagedFile& operator=(const PagedFile&) = delete;
};

// A file loaded with -b through the start-up routine, the cursor on byte 0.
struct WholeFileLoaded {
    CursesScreen screen{24, 80, true};
    explicit WholeFileLoaded(const std::string& path) {
        Globals.buffered = 1;
        Globals.mode = MODE_HEX;
        Globals.file_state = FILE_UNCHANGED;
        Globals.filename = path;
        buf_spare = 1024;
        FILE* stream = fopen(path.c_str(), "rb");
        if (!stream) throw std::runtime_error("open");
        open_file(&stream);
        cursor_onto(0, 1);
        redraw_all();
    }
    ~WholeFileLoaded() {
        undo_clear();
        clear_mod_table();
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        ByteBuffer().swap(buffer);
        Globals.buffered = 0;
        Globals.file_state = FILE_UNCHANGED;
    }
    WholeFileLoaded(const WholeFileLoaded&) = delete;
    WholeFileLoaded& operator=(const WholeFileLoaded&) = delete;
};
