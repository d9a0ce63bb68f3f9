// Search and save through the editor's own routines, each beside the tool
// that does the same physical work in the same run:
//  - a 6-byte pattern 4 KiB before the end of a 1 GiB file, searched from
//    offset 0 with find_pattern, with no modified byte and with 1000 of them
//    scattered over the file; references: memmem over the mapped file and
//    `grep -c -F` on it; the same pattern searched backwards over the 1 GiB
//    before it (the whole scan, as F4 makes it from the end);
//  - one changed byte saved in place (paged mode) in a 16 GiB sparse file and
//    in a 1 MiB file: the two must cost the same;
//  - a 1 GiB file saved under a new name, in paged mode and in disk mode
//    (-d -f: the complete copy); reference: `cp` and `sync`.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <cstring>

#include "paged_file.h"

namespace {

constexpr uint64_t MiB = bench_MiB;
constexpr uint64_t GiB = bench_GiB;
const char* const needle = bench_needle;

// The paged window onto `path` (1 GiB) through the globals PagedFile sets up.
void open_paged(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("open");
    fclose(Globals.fp);
    buffer.assign(16385, 0);
    set_file_window(f, 0, 0);
    Globals.filename = path;
    Globals.filesize = GiB - 1;
    get_byte_miss(0);
}

void search_1GiB(benchmark::State& state, int modified) {
    const std::string& path = bench_text_1GiB();
    PagedFile file(bench_dir() + "/unused", 16, true); // sets up curses and the globals
    open_paged(path);
    // Offsets spread evenly, none inside the match; 'z' never completes it.
    for (int i = 0; i < modified; ++i)
        mod_table_set(static_cast<uint64_t>(i) * (GiB / modified) + 17, 'z');
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            SearchResult r = find_pattern(reinterpret_cast<const unsigned char*>(needle), 1, 6,
                                          Globals.filesize);
            if (!r.found || r.offset + 1 != GiB - 4096) state.SkipWithError("wrong match");
        });
    clear_mod_table();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Search_find_pattern_1GiB(benchmark::State& state) {
    search_1GiB(state, 0);
}
void BM_Search_1000_modified_1GiB(benchmark::State& state) {
    search_1GiB(state, 1000);
}

void BM_SearchBackward_1GiB(benchmark::State& state) {
    const std::string& path = bench_text_1GiB();
    PagedFile file(bench_dir() + "/unused", 16, true);
    open_paged(path);
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            SearchResult r = find_pattern_backward(reinterpret_cast<const unsigned char*>(needle),
                                                   0, 6, GiB - 4096);
            if (r.found) state.SkipWithError("a match where there is none");
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_memmem_1GiB(benchmark::State& state) {
    const std::string& path = bench_text_1GiB();
    int fd = open(path.c_str(), O_RDONLY);
    void* map = mmap(nullptr, GiB, PROT_READ, MAP_PRIVATE, fd, 0);
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            benchmark::DoNotOptimize(map);
            const void* hit = memmem(map, GiB, needle, 6);
            benchmark::DoNotOptimize(hit);
            if (hit != static_cast<const char*>(map) + GiB - 4096)
                state.SkipWithError("wrong match");
        });
    munmap(map, GiB);
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

// `grep -c -F` for the needle over `path`; found or not is both fine.
void grep_reference(benchmark::State& state, const std::string& path) {
    bench_grep_reference(state, needle, path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_grep_F_1GiB(benchmark::State& state) {
    grep_reference(state, bench_text_1GiB());
}
// The text view's reference: the same bytes as one line.
void BM_Reference_grep_F_1GiB_one_line(benchmark::State& state) {
    grep_reference(state, bench_one_line_1GiB());
}

void save_one_byte_in_place(benchmark::State& state, uint64_t size) {
    PagedFile file(bench_dir() + "/save-" + std::to_string(size), size, true);
    const char* failure = nullptr;
    int value = 0;
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            cursor_loc = size / 2;
            get_byte(cursor_loc);
            filebuff_modify(++value & 0xFF);
            Globals.file_state = 1;
            if (!save_file_as(Globals.filename, &failure)) state.SkipWithError(failure);
        });
}

void BM_SaveOneByteInPlace_1MiB(benchmark::State& s) {
    save_one_byte_in_place(s, MiB);
}
void BM_SaveOneByteInPlace_16GiB_sparse(benchmark::State& s) {
    save_one_byte_in_place(s, 16 * GiB);
}

// One modified byte; the file saved under a new name, which copies it whole.
void save_as_new_name(benchmark::State& state, bool disk) {
    PagedFile file(bench_dir() + "/unused", 16, true);
    open_paged(bench_text_1GiB());
    Globals.disk = disk ? 1 : 0;
    const std::string source = Globals.filename;
    std::string target = bench_dir() + "/copy-dst-1GiB";
    const char* failure = nullptr;
    cursor_loc = 12345;
    get_byte(cursor_loc);
    filebuff_modify('Z');
    {
        IterationTimes times(state);
        for (auto _ : state) {
            unlink(target.c_str());
            Globals.filename = source;
            fp_reads_other_file = false;
            times.time([&] {
                if (!save_file_as(target, &failure)) state.SkipWithError(failure);
            });
        }
    }
    Globals.disk = 0;
    clear_mod_table();
    unlink(target.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_SaveAsNewName_1GiB(benchmark::State& state) {
    save_as_new_name(state, false);
}
void BM_SaveAsNewName_disk_mode_1GiB(benchmark::State& state) {
    save_as_new_name(state, true);
}

void BM_Reference_cp_1GiB(benchmark::State& state) {
    const std::string& source = bench_text_1GiB();
    std::string target = bench_dir() + "/cp-dst-1GiB";
    // cp also syncs, as a save does, so both pay for the disk.
    std::string cmd = "cp " + source + " " + target + " && sync " + target;
    {
        IterationTimes times(state);
        for (auto _ : state) {
            unlink(target.c_str());
            times.time([&] {
                if (system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
            });
        }
    }
    unlink(target.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

} // namespace

BENCHMARK(BM_Reference_memmem_1GiB)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_grep_F_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_find_pattern_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_1000_modified_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchBackward_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_grep_F_1GiB_one_line)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOneByteInPlace_1MiB)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOneByteInPlace_16GiB_sparse)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cp_1GiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveAsNewName_1GiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveAsNewName_disk_mode_1GiB)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
