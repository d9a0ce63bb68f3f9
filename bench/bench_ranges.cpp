// Range commands through the editor's own routines, each beside the work a
// plain tool or one full-screen paint does:
//  - paged, a 16 GiB sparse file: a fill of 0..0x3FFFFFFF with DE AD BE EF
//    until the screen shows it, its undo and its redo, against one paint of
//    the whole screen; the resident memory the fill adds;
//  - that fill saved in place (1 GiB written and synced) against `dd bs=1M
//    conv=notrunc,fsync` writing 1 GiB into the same file (the save syncs
//    before it reports success, so the reference syncs too);
//  - forward search through 1 GiB with a fill laid over all but its last 8
//    KiB, and backward search from before the needle through all of the fill, against `grep -c -F`
//    on a file holding the same bytes;
//  - -b, 1 GiB held whole: copy 256 MiB, paste it in at offset 0, undo,
//    redo, each against one memmove of the whole file.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstring>

#include "paged_file.h"

namespace {

constexpr uint64_t MiB = bench_MiB;
constexpr uint64_t GiB = bench_GiB;
const std::vector<unsigned char> deadbeef = {0xDE, 0xAD, 0xBE, 0xEF};

void paint() {
    redraw_all();
    doupdate();
}

bool shows_pattern() {
    unsigned char b[4];
    get_bytes(0x100, b, 4);
    return std::memcmp(b, deadbeef.data(), 4) == 0;
}

// Fill, undo or redo (by `which`) of the gigabyte, each followed by the
// paint that shows it; the other two run untimed to keep the state.
void fill_1GiB_of_16GiB(benchmark::State& state, int which) {
    PagedFile file(bench_dir() + "/sparse-16GiB", 16 * GiB, true);
    cursor_onto(0, 1);
    const long before = bench_rss_kib();
    long grown = 0;
    IterationTimes times(state);
    for (auto _ : state) {
        auto step = [&](int k, const std::function<void()>& work) {
            if (k == which)
                times.time([&] {
                    work();
                    paint();
                });
            else
                work();
        };
        step(0, [] { fill_range(0, GiB - 1, deadbeef); });
        grown = std::max(grown, bench_rss_kib() - before);
        if (!shows_pattern()) return state.SkipWithError("the fill is not shown");
        step(1, [] { undoLastChange(); });
        if (shows_pattern()) return state.SkipWithError("the undo is not shown");
        step(2, [] { redoLastUndo(); });
        if (!shows_pattern()) return state.SkipWithError("the redo is not shown");
        undoLastChange();
    }
    state.counters["rss_before_KiB"] = static_cast<double>(before);
    state.counters["rss_after_KiB"] = static_cast<double>(before + grown);
}

void BM_Fill_1GiB_of_16GiB_sparse(benchmark::State& s) {
    fill_1GiB_of_16GiB(s, 0);
}
void BM_UndoFill_1GiB_of_16GiB_sparse(benchmark::State& s) {
    fill_1GiB_of_16GiB(s, 1);
}
void BM_RedoFill_1GiB_of_16GiB_sparse(benchmark::State& s) {
    fill_1GiB_of_16GiB(s, 2);
}

void BM_SaveFill_1GiB_in_place(benchmark::State& state) {
    PagedFile file(bench_dir() + "/save-16GiB", 16 * GiB, true);
    IterationTimes times(state);
    for (auto _ : state) {
        fill_range(0, GiB - 1, deadbeef);
        times.time([&] {
            if (!save_file_as(file.path, nullptr)) state.SkipWithError("the save failed");
        });
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_dd_1GiB_notrunc(benchmark::State& state) {
    const std::string path = bench_dir() + "/dd-16GiB";
    make_sparse_file(path, 16 * GiB);
    const std::string cmd =
        "dd if=/dev/zero of=" + path + " bs=1M count=1024 conv=notrunc,fsync status=none";
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (system(cmd.c_str()) != 0) state.SkipWithError("dd failed");
        });
    unlink(path.c_str());
}

// 1 GiB of text, the needle in its last 8 KiB, and all before it filled.
const uint64_t filled = GiB - 8192;

const std::string& filled_copy() {
    return bench_shared_file("filled-1GiB", [](const std::string& p) {
        const std::string& source = bench_text_1GiB();
        std::string cmd = "cp " + source + " " + p;
        if (system(cmd.c_str()) != 0) throw std::runtime_error("cp");
        int fd = open(p.c_str(), O_WRONLY);
        std::vector<unsigned char> block(MiB);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = deadbeef[i % 4];
        for (uint64_t at = 0; at < filled; at += MiB)
            if (pwrite(fd, block.data(), std::min(MiB, filled - at), static_cast<off_t>(at)) < 0)
                throw std::runtime_error("pwrite");
        close(fd);
    });
}

void search_over_fill(benchmark::State& state, bool backwards) {
    const std::string& path = bench_text_1GiB();
    PagedFile file(bench_dir() + "/unused", 16, true);
    FILE* f = fopen(path.c_str(), "rb");
    fclose(Globals.fp);
    set_file_window(f, 1, 0);
    Globals.filename = path;
    Globals.filesize = GiB - 1;
    fill_range(0, filled - 1, deadbeef);
    const auto* needle = reinterpret_cast<const unsigned char*>(bench_needle);
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            // Backwards from before the needle: through the whole fill.
            SearchResult r = backwards ? find_pattern_backward(needle, 0, 6, GiB - 4096)
                                       : find_pattern(needle, 0, 6, GiB);
            if (r.found == backwards || (!backwards && r.offset != GiB - 4096))
                state.SkipWithError("wrong match");
        });
    undo_clear();
    clear_mod_table();
}

void BM_SearchOverFill_1GiB(benchmark::State& s) {
    search_over_fill(s, false);
}
void BM_SearchBackwardOverFill_1GiB(benchmark::State& s) {
    search_over_fill(s, true);
}

void BM_Reference_grep_F_filled_1GiB(benchmark::State& state) {
    bench_grep_reference(state, bench_needle, filled_copy());
}

// -b: copy 256 MiB, paste in at 0, undo, redo; `which` is timed.
void paste_256MiB(benchmark::State& state, int which) {
    WholeFileLoaded file(bench_text_1GiB());
    IterationTimes times(state);
    for (auto _ : state) {
        auto step = [&](int k, const std::function<void()>& work) {
            if (k == which)
                times.time(work);
            else
                work();
        };
        step(0, [&] {
            if (copy_range(GiB / 2, GiB / 2 + 256 * MiB - 1) != RangeResult::Done)
                state.SkipWithError("copy failed");
        });
        cursor_onto(0, 1);
        step(1, [&] {
            if (paste_in(0) != RangeResult::Done) state.SkipWithError("paste failed");
        });
        step(2, [] { undoLastChange(); });
        step(3, [] { redoLastUndo(); });
        undoLastChange();
        if (Globals.filesize + 1 != GiB) state.SkipWithError("size wrong");
    }
}

void BM_Copy256MiB_b_1GiB(benchmark::State& s) {
    paste_256MiB(s, 0);
}
void BM_PasteIn256MiB_b_1GiB(benchmark::State& s) {
    paste_256MiB(s, 1);
}
void BM_UndoPasteIn256MiB_b_1GiB(benchmark::State& s) {
    paste_256MiB(s, 2);
}
void BM_RedoPasteIn256MiB_b_1GiB(benchmark::State& s) {
    paste_256MiB(s, 3);
}

void BM_Reference_memmove_1GiB(benchmark::State& state) {
    std::vector<unsigned char> bytes(GiB + MiB, 1);
    IterationTimes times(state);
    bool up = true;
    for (auto _ : state) {
        times.time([&] {
            std::memmove(bytes.data() + (up ? MiB : 0), bytes.data() + (up ? 0 : MiB), GiB);
        });
        benchmark::DoNotOptimize(bytes.data());
        up = !up;
    }
}

} // namespace

#define MANUAL(b, n) BENCHMARK(b)->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond)
MANUAL(BM_Fill_1GiB_of_16GiB_sparse, 10);
MANUAL(BM_UndoFill_1GiB_of_16GiB_sparse, 10);
MANUAL(BM_RedoFill_1GiB_of_16GiB_sparse, 10);
MANUAL(BM_Reference_dd_1GiB_notrunc, 3);
MANUAL(BM_SaveFill_1GiB_in_place, 3);
MANUAL(BM_Reference_grep_F_filled_1GiB, 3);
MANUAL(BM_SearchOverFill_1GiB, 5);
MANUAL(BM_SearchBackwardOverFill_1GiB, 5);
MANUAL(BM_Reference_memmove_1GiB, 5);
MANUAL(BM_Copy256MiB_b_1GiB, 3);
MANUAL(BM_PasteIn256MiB_b_1GiB, 3);
MANUAL(BM_UndoPasteIn256MiB_b_1GiB, 3);
MANUAL(BM_RedoPasteIn256MiB_b_1GiB, 3);
