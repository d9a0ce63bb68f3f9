// Fixtures for tests that edit a file as the editor does, on a 24x80 null
// screen, with the editor's state put back afterwards:
//   WholeFile f(bytes);          the bytes held whole (-b), no file on disk
//   EditedFile f(bytes, whole);  the bytes in a temporary file, held whole or paged
//   load_whole_file(bytes);      only the bytes held whole, for a test's own fixture
//   HugeSparseFile f;            1 TiB of zeros in paged mode
// Both put the cursor on byte 0's high nibble on row 1; at() moves it and
// data() gives the whole-file buffer's bytes.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"

// The bytes held whole, as -b loads them: the buffer with its spare gap after
// the last byte, the window over all of it and an empty modification table.
// Nothing else of the editor's state is set.
inline void load_whole_file(const std::vector<unsigned char>& bytes) {
    Globals.buffered = 1;
    Globals.buf_size = static_cast<int64_t>(bytes.size());
    Globals.filesize = bytes.size() - 1;
    buf_spare = 1024;
    buffer.assign(bytes.size() + 1024 + 1, 0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    set_file_window(nullptr, 0, Globals.filesize);
    init_mod_table();
}

struct EditingFixture {
    using Bytes = std::vector<unsigned char>;
    // The cursor onto byte o's high nibble, on screen row `row`.
    static void at(uint64_t o, int row) {
        cursor_loc = o;
        cursor_y = row;
        cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
    }
    static Bytes data() {
        return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(Globals.filesize + 1));
    }

  protected:
    static void editing_defaults(bool whole) {
        Globals.buffered = whole;
        Globals.mode = MODE_HEX;
        Globals.file_state = FILE_UNCHANGED;
        Globals.text_pane = Globals.ebcdic = Globals.disk = 0;
        Globals.spacing = Globals.print_set = 1;
    }
};

struct WholeFile : EditingFixture {
    KeptEditorState keep;
    CursesScreen screen;
    explicit WholeFile(const Bytes& bytes) {
        editing_defaults(true);
        load_whole_file(bytes);
        undo_clear();
        at(0, 1);
    }
};

struct EditedFile : EditingFixture {
    KeptEditorState keep;
    std::string dir, path;
    CursesScreen screen;
    EditedFile(const Bytes& bytes, bool whole) {
        char tmpl[] = "/tmp/morvane-edited-XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/f";
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        editing_defaults(whole);
        Globals.filename = path;
        Globals.filesize = bytes.size() - 1;
        Globals.buf_size = whole ? static_cast<int64_t>(bytes.size()) : 16384;
        buf_spare = whole ? 1024 : 0;
        buffer.assign(static_cast<size_t>(Globals.buf_size) + buf_spare + 1, 0);
        size_t held = std::min(bytes.size(), static_cast<size_t>(Globals.buf_size));
        std::copy(bytes.begin(), bytes.begin() + static_cast<long>(held), buffer.begin());
        set_file_window(fopen(path.c_str(), "rb"), 0, held - 1);
        init_mod_table();
        undo_clear();
        at(0, 1);
    }
    ~EditedFile() {
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        std::filesystem::remove_all(dir);
    }
};

// A sparse file of 1 TiB in paged mode: work over all of it never ends
// before a key stops it.
struct HugeSparseFile {
    KeptEditorState keep;
    CursesScreen screen;
    std::string path;
    HugeSparseFile() {
        char name[] = "/tmp/morvane-pattern-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        EXPECT_EQ(ftruncate(fd, off_t{1} << 40), 0);
        close(fd);
        Globals.buffered = 0;
        Globals.filename = path;
        Globals.filesize = (uint64_t{1} << 40) - 1;
        Globals.buf_size = 16384;
        buf_spare = 0;
        buffer.assign(16385, 0);
        set_file_window(fopen(path.c_str(), "rb"), 0, 16383);
        init_mod_table();
    }
    ~HugeSparseFile() {
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        unlink(path.c_str());
    }
};
