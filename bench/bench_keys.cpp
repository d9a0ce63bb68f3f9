// Key-to-screen cost of scrolling through a 1 GiB sparse file in paged mode:
// Down on the bottom row and Page Down, run through the real routines on a
// curses screen whose output goes to /dev/null (CPU time per key). The
// references: painting a full 80x24 screen of text through curses, and
// reading one 16 KiB page of the file with pread.
#include <benchmark/benchmark.h>

#include "bench_util.h"
#include "curses_screen.h"
#include "paged_file.h"

namespace {

constexpr uint64_t GiB = 1ULL << 30;

void BM_PageDown_1GiB_paged(benchmark::State& state) {
    PagedFile file(bench_dir() + "/scroll-1GiB", GiB, true);
    for (auto _ : state) {
        if (cursor_loc + 16 * 64 > Globals.filesize) {
            cursor_loc = 0;
            cursor_y = 1;
        }
        page_down();
        wrefresh(Globals.main_win);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DownOnBottomRow_1GiB_paged(benchmark::State& state) {
    PagedFile file(bench_dir() + "/scroll-1GiB", GiB, true);
    cursor_y = LINES - 2;
    cursor_loc = 16 * (LINES - 3);
    redraw_all();
    for (auto _ : state) {
        if (cursor_loc + 32 > Globals.filesize) cursor_loc = 16 * (LINES - 3);
        move_cursor(KEY_DOWN);
        wrefresh(Globals.main_win);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Reference_PaintFullScreen(benchmark::State& state) {
    CursesScreen screen{24, 80, true};
    std::string line(80, 'x');
    unsigned n = 0;
    for (auto _ : state) {
        line[n++ % 80] ^= 1; // every frame differs, as a scrolled screen does
        for (int r = 0; r < LINES - 2; ++r)
            mvwaddnstr(Globals.main_win, r, 0, line.c_str(), 80);
        wrefresh(Globals.main_win);
    }
}

void BM_Reference_Pread16KiB(benchmark::State& state) {
    std::string path = bench_dir() + "/pread-1GiB";
    make_sparse_file(path, GiB);
    int fd = open(path.c_str(), O_RDONLY);
    std::vector<char> page(16384);
    uint64_t off = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pread(fd, page.data(), page.size(), static_cast<off_t>(off)));
        off = (off + 16384 * 37) % (GiB - 16384);
    }
    close(fd);
    unlink(path.c_str());
}

} // namespace

BENCHMARK(BM_Reference_PaintFullScreen);
BENCHMARK(BM_Reference_Pread16KiB);
BENCHMARK(BM_PageDown_1GiB_paged);
BENCHMARK(BM_DownOnBottomRow_1GiB_paged);
