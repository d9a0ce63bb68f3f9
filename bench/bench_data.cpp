// Search and save through the editor's own routines, each beside the tool
// that does the same physical work in the same run:
//  - a 6-byte pattern 4 KiB before the end of a 1 GiB file, searched from
//    offset 0 with find_pattern; references: memmem over the mapped file and
//    `grep -c -F` on it;
//  - one changed byte saved in place (paged mode) in a 16 GiB sparse file and
//    in a 1 MiB file: the two must cost the same;
//  - a 1 GiB file saved under a new name (paged copy); reference: `cp`.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "paged_file.h"

namespace {

constexpr uint64_t MiB = 1ULL << 20;
constexpr uint64_t GiB = 1ULL << 30;
constexpr char needle[] = "MORVNE"; // upper case never occurs in the filler text

// The 1 GiB search file, made once and kept in the page cache for the run.
const std::string& search_file() {
    static std::string path = [] {
        std::string p = bench_dir() + "/search-1GiB";
        make_filled_file(p, GiB);
        int fd = open(p.c_str(), O_WRONLY);
        if (fd < 0 || pwrite(fd, needle, 6, static_cast<off_t>(GiB - 4096)) != 6)
            throw std::runtime_error("pwrite");
        close(fd);
        return p;
    }();
    return path;
}

double seconds_of(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Search_find_pattern_1GiB(benchmark::State& state) {
    const std::string& path = search_file();
    PagedFile file(bench_dir() + "/unused", 16, true); // sets up curses and the globals
    FILE* f = fopen(path.c_str(), "rb");
    fclose(Globals.fp);
    buffer.assign(16385, 0);
    set_file_window(f, 0, 0);
    Globals.filename = path;
    Globals.filesize = GiB - 1;
    get_byte_miss(0);
    for (auto _ : state) {
        SearchResult r =
            find_pattern(reinterpret_cast<const unsigned char*>(needle), 1, 6, Globals.filesize);
        if (!r.found || r.offset + 1 != GiB - 4096) state.SkipWithError("wrong match");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_memmem_1GiB(benchmark::State& state) {
    const std::string& path = search_file();
    int fd = open(path.c_str(), O_RDONLY);
    void* map = mmap(nullptr, GiB, PROT_READ, MAP_PRIVATE, fd, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(map);
        const void* hit = memmem(map, GiB, needle, 6);
        benchmark::DoNotOptimize(hit);
        if (hit != static_cast<const char*>(map) + GiB - 4096) state.SkipWithError("wrong match");
    }
    munmap(map, GiB);
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_grep_F_1GiB(benchmark::State& state) {
    std::string cmd = "grep -c -F " + std::string(needle) + " " + search_file() + " >/dev/null";
    for (auto _ : state)
        state.SetIterationTime(seconds_of([&] {
            if (system(cmd.c_str()) != 0) state.SkipWithError("grep failed");
        }));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void save_one_byte_in_place(benchmark::State& state, uint64_t size) {
    PagedFile file(bench_dir() + "/save-" + std::to_string(size), size, true);
    const char* failure = nullptr;
    int value = 0;
    for (auto _ : state) {
        cursor_loc = size / 2;
        get_byte(cursor_loc);
        filebuff_modify(++value & 0xFF);
        Globals.file_state = 1;
        if (!save_file_as(Globals.filename, &failure)) state.SkipWithError(failure);
    }
}

void BM_SaveOneByteInPlace_1MiB(benchmark::State& s) {
    save_one_byte_in_place(s, MiB);
}
void BM_SaveOneByteInPlace_16GiB_sparse(benchmark::State& s) {
    save_one_byte_in_place(s, 16 * GiB);
}

void BM_SaveAsNewName_1GiB(benchmark::State& state) {
    PagedFile file(bench_dir() + "/copy-src-1GiB", GiB, false);
    std::string target = bench_dir() + "/copy-dst-1GiB";
    const char* failure = nullptr;
    cursor_loc = 12345;
    get_byte(cursor_loc);
    filebuff_modify('Z');
    for (auto _ : state) {
        unlink(target.c_str());
        Globals.filename = file.path;
        fp_reads_other_file = false;
        state.SetIterationTime(seconds_of([&] {
            if (!save_file_as(target, &failure)) state.SkipWithError(failure);
        }));
    }
    unlink(target.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_Reference_cp_1GiB(benchmark::State& state) {
    std::string source = bench_dir() + "/cp-src-1GiB";
    std::string target = bench_dir() + "/cp-dst-1GiB";
    make_filled_file(source, GiB);
    // cp also syncs, as a save does, so both pay for the disk.
    std::string cmd = "cp " + source + " " + target + " && sync " + target;
    for (auto _ : state) {
        unlink(target.c_str());
        state.SetIterationTime(seconds_of([&] {
            if (system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
        }));
    }
    unlink(source.c_str());
    unlink(target.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

} // namespace

BENCHMARK(BM_Reference_memmem_1GiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_grep_F_1GiB)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_find_pattern_1GiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOneByteInPlace_1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOneByteInPlace_16GiB_sparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cp_1GiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveAsNewName_1GiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
