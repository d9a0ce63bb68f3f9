// Key-to-screen costs, run through the real routines on a curses screen whose
// output goes to /dev/null:
//  - Down on the bottom row and Page Down through a 1 GiB sparse file in
//    paged mode; references: painting a full 80x24 screen of text through
//    curses, and reading one 16 KiB page of the file with pread;
//  - the text view (Control-E) of 1 GiB of real bytes without a line feed,
//    with the cursor on the last byte (reference: `grep -c -F` over the same
//    file) and on the first (reference: painting one full screen);
//  - Insert and Delete at offset 0 with -b, in 1 GiB and in 1 MiB: CPU per key;
//  - undo of the newest of 100 000 changes and of 10 changes.
#include <benchmark/benchmark.h>

#include "bench_util.h"
#include "curses_screen.h"
#include "paged_file.h"

namespace {

constexpr uint64_t MiB = bench_MiB;
constexpr uint64_t GiB = bench_GiB;

void BM_PageDown_1GiB_paged(benchmark::State& state) {
    PagedFile file(bench_dir() + "/scroll-1GiB", GiB, true);
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (cursor_loc + 16 * 64 > Globals.filesize) {
                cursor_loc = 0;
                cursor_y = 1;
            }
            page_down();
            wrefresh(Globals.main_win);
        });
    state.SetItemsProcessed(state.iterations());
}

void BM_DownOnBottomRow_1GiB_paged(benchmark::State& state) {
    PagedFile file(bench_dir() + "/scroll-1GiB", GiB, true);
    cursor_y = LINES - 2;
    cursor_loc = 16 * (LINES - 3);
    redraw_all();
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (cursor_loc + 32 > Globals.filesize) cursor_loc = 16 * (LINES - 3);
            move_cursor(KEY_DOWN);
            wrefresh(Globals.main_win);
        });
    state.SetItemsProcessed(state.iterations());
}

void BM_Reference_PaintFullScreen(benchmark::State& state) {
    CursesScreen screen{24, 80, true};
    std::string line(80, 'x');
    unsigned n = 0;
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            line[n++ % 80] ^= 1; // every frame differs, as a scrolled screen does
            for (int r = 0; r < LINES - 2; ++r)
                mvwaddnstr(Globals.main_win, r, 0, line.c_str(), 80);
            wrefresh(Globals.main_win);
        });
}

void BM_Reference_Pread16KiB(benchmark::State& state) {
    std::string path = bench_dir() + "/pread-1GiB";
    make_sparse_file(path, GiB);
    int fd = open(path.c_str(), O_RDONLY);
    std::vector<char> page(16384);
    uint64_t off = 0;
    {
        IterationTimes times(state);
        for (auto _ : state)
            times.time([&] {
                benchmark::DoNotOptimize(
                    pread(fd, page.data(), page.size(), static_cast<off_t>(off)));
                off = (off + 16384 * 37) % (GiB - 16384);
            });
    }
    close(fd);
    unlink(path.c_str());
}

// The cursor onto byte o, on the screen row that keeps the view's top at
// its own row (or at 0 near the start).
void cursor_onto(uint64_t o) {
    cursor_loc = o;
    cursor_y = o < 16 * 10 ? static_cast<int32_t>(o / 16) + 1 : 1;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
}

// Control-E from the hex view to its first frame, with the cursor on byte
// `at` of 1 GiB of real bytes without a line feed (paged mode): the key only
// records the view; what runs before the next key finds the page and draws
// it, and is timed with it. Back to the hex view untimed.
void text_view(benchmark::State& state, uint64_t at) {
    PagedFile file(bench_dir() + "/unused", 16, true); // sets up curses and the globals
    FILE* f = fopen(bench_one_line_1GiB().c_str(), "rb");
    if (!f) throw std::runtime_error("open");
    fclose(Globals.fp);
    buffer.assign(16385, 0);
    set_file_window(f, 0, 0);
    Globals.filename = bench_one_line_1GiB();
    Globals.filesize = GiB - 1;
    cursor_onto(at);
    get_byte(at);
    IterationTimes times(state);
    for (auto _ : state) {
        Globals.mode = MODE_HEX;
        text_view_prepare(); // in the hex view: the page is sought afresh
        redraw_all();
        times.time([] {
            toggle_view();
            text_view_prepare();
            update_screen();
        });
        if (Globals.mode != MODE_TEXT) state.SkipWithError("text view left");
    }
    // One line: rows of COLS-1 bytes, pages of all main_win rows but the last.
    const uint64_t row_bytes = static_cast<uint64_t>(COLS - 1);
    const uint64_t page_rows = static_cast<uint64_t>(getmaxy(Globals.main_win) - 1);
    if (text_row_starts.empty() ||
        text_row_starts[0] != at / row_bytes / page_rows * page_rows * row_bytes)
        state.SkipWithError("wrong page");
    Globals.mode = MODE_HEX;
}

void BM_TextViewAtEnd_1GiB_one_line(benchmark::State& state) {
    text_view(state, GiB - 1);
}
void BM_TextViewAtStart_1GiB_one_line(benchmark::State& state) {
    text_view(state, 0);
}

const std::string& text_1MiB() {
    return bench_shared_file("text-1MiB", [](const std::string& p) { make_filled_file(p, MiB); });
}

// Insert and Delete at offset 0, in turn so that the file keeps its size;
// only the key named by `timed_insert` is timed (CPU time of the key). The
// first pair, which moves the gap to the cursor once, is not timed.
void key_at_start(benchmark::State& state, const std::string& path, bool timed_insert) {
    WholeFileLoaded file(path);
    const uint64_t size = Globals.filesize + 1;
    insert_byte(0, 0);
    delete_byte(0);
    IterationTimes times(state);
    for (auto _ : state) {
        cursor_onto(0);
        if (timed_insert)
            times.cpu_time([] { insert_byte(0, 0); });
        else
            insert_byte(0, 0);
        cursor_onto(0);
        if (timed_insert)
            delete_byte(0);
        else
            times.cpu_time([] { delete_byte(0); });
    }
    if (Globals.filesize + 1 != size) state.SkipWithError("size changed");
}

void BM_InsertAtStart_b_1GiB(benchmark::State& s) {
    key_at_start(s, bench_text_1GiB(), true);
}
void BM_InsertAtStart_b_1MiB(benchmark::State& s) {
    key_at_start(s, text_1MiB(), true);
}
void BM_DeleteAtStart_b_1GiB(benchmark::State& s) {
    key_at_start(s, bench_text_1GiB(), false);
}
void BM_DeleteAtStart_b_1MiB(benchmark::State& s) {
    key_at_start(s, text_1MiB(), false);
}

// Overwrites the byte under the cursor as typing does: recorded, then stored.
void change_byte(uint64_t o, int value) {
    cursor_onto(o);
    pushUndo(UNDO_OVERWRITE, o, get_byte(o), value);
    filebuff_modify(value);
}

// Undo (CPU time) of the newest of `changes` changes, all at different
// offsets of a 16 MiB file in paged mode; the newest is on the screen. The
// change is made again, untimed, so that the stack keeps its height.
void undo_newest(benchmark::State& state, int changes) {
    PagedFile file(bench_dir() + "/undo-16MiB", 16 * MiB, true);
    for (int i = 0; i < changes - 1; ++i)
        change_byte(65536 + static_cast<uint64_t>(i) * 131, 'a' + i % 26);
    const uint64_t shown = 100;
    change_byte(shown, 'x');
    Globals.file_state = FILE_CHANGED;
    redraw_all();
    IterationTimes times(state);
    for (auto _ : state) {
        times.cpu_time([] { undoLastChange(); });
        if (UndoStack.size != changes - 1) state.SkipWithError("undo did not revert");
        change_byte(shown, 'x');
    }
    undo_clear();
    clear_mod_table();
}

void BM_UndoNewest_of_100000(benchmark::State& s) {
    undo_newest(s, 100000);
}
void BM_UndoNewest_of_10(benchmark::State& s) {
    undo_newest(s, 10);
}

} // namespace

BENCHMARK(BM_Reference_PaintFullScreen)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reference_Pread16KiB)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageDown_1GiB_paged)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DownOnBottomRow_1GiB_paged)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextViewAtStart_1GiB_one_line)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextViewAtEnd_1GiB_one_line)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertAtStart_b_1MiB)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InsertAtStart_b_1GiB)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteAtStart_b_1MiB)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteAtStart_b_1GiB)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoNewest_of_10)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoNewest_of_100000)->UseManualTime()->Unit(benchmark::kMicrosecond);
