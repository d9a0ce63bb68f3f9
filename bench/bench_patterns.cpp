// The masked searches of Find (pattern.cpp), each beside the physical work
// it compares with in the same run:
//  - over the 1 GiB text with "MORVNE" 4 KiB before its end, 8-byte patterns
//    that match only there: hex with ?? (4D 4F ?? 56 4E 45 ?? ??), text
//    ignoring case ("MorVne.."i) and a number (u64be:0x4D4F52564E45....),
//    forwards from offset 0, and the ?? pattern backwards from the end
//    through the whole file; reference: `grep -c -F` of 8 upper-case bytes;
//  - counting a pattern that occurs once in every KiB of 1 GiB (a million
//    matches) against one search through the same file for a pattern of the
//    same shape that occurs nowhere; and Replace All of that million with
//    bytes of the same length, against the same search, with the memory it
//    adds.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstdio>

#include "paged_file.h"

namespace {

constexpr uint64_t MiB = bench_MiB;
constexpr uint64_t GiB = bench_GiB;
constexpr uint64_t needle_at = GiB - 4096; // where bench_text_1GiB holds the needle

// The paged window onto `path` (1 GiB) through the globals PagedFile sets up.
void open_paged_1GiB(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("open");
    if (Globals.fp) fclose(Globals.fp);
    buffer.assign(16385, 0);
    set_file_window(f, 0, 0);
    Globals.filename = path;
    Globals.filesize = GiB - 1;
    get_byte_miss(0);
}

// The 8 bytes at the needle: "MORVNE" and the two filler letters after it.
std::string needle_8_bytes() {
    static const std::string bytes = [] {
        std::string b(8, '\0');
        FILE* f = fopen(bench_text_1GiB().c_str(), "rb");
        if (!f || fseeko(f, static_cast<off_t>(needle_at), SEEK_SET) != 0 ||
            fread(b.data(), 1, 8, f) != 8)
            throw std::runtime_error("read the needle");
        fclose(f);
        return b;
    }();
    return bytes;
}

BytePattern read_or_throw(const std::string& text) {
    std::string why;
    std::optional<BytePattern> p = read_pattern(text, true, false, why);
    if (!p) throw std::runtime_error(text + ": " + why);
    return *p;
}

BytePattern wildcard_8() {
    return read_or_throw("4D 4F ?? 56 4E 45 ?? ??");
}

BytePattern text_ignoring_case_8() {
    return read_or_throw("\"MorVne" + needle_8_bytes().substr(6) + "\"i");
}

BytePattern number_8() {
    uint64_t v = 0;
    for (unsigned char c : needle_8_bytes())
        v = v << 8 | c;
    char text[40];
    snprintf(text, sizeof text, "u64be:0x%016llx", static_cast<unsigned long long>(v));
    return read_or_throw(text);
}

// find_masked (or find_masked_backward from the end) over the 1 GiB text,
// paged; the match must be the needle's, or none backwards before it.
void masked_search_1GiB(benchmark::State& state, const BytePattern& p, bool backwards) {
    const std::string& path = bench_text_1GiB();
    PagedFile file(bench_dir() + "/unused", 16, true); // sets up curses and the globals
    open_paged_1GiB(path);
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (backwards) {
                SearchResult r = find_masked_backward(p, 0, needle_at + 5);
                if (r.found) state.SkipWithError("a match where there is none");
            } else {
                SearchResult r = find_masked(p, 0, GiB);
                if (!r.found || r.offset != needle_at) state.SkipWithError("wrong match");
            }
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

void BM_PatternWildcard8_1GiB(benchmark::State& state) {
    masked_search_1GiB(state, wildcard_8(), false);
}
void BM_PatternWildcard8Backward_1GiB(benchmark::State& state) {
    masked_search_1GiB(state, wildcard_8(), true);
}
void BM_PatternTextIgnoringCase8_1GiB(benchmark::State& state) {
    masked_search_1GiB(state, text_ignoring_case_8(), false);
}
void BM_PatternNumberU64_1GiB(benchmark::State& state) {
    masked_search_1GiB(state, number_8(), false);
}

// grep -c reads the whole file whether the literal is there or not. Its 8
// bytes are upper case, as the patterns' rarest bytes are: the needle's own 8
// bytes end in two filler letters, on which grep's skip loop stops so often
// that it runs 6x slower, a reference that would flatter the figures.
void BM_Reference_grep_F_8_bytes_1GiB(benchmark::State& state) {
    bench_grep_reference(state, "MORVNEXY", bench_text_1GiB());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

// 1 GiB of the filler text in lines with "MORVNE" at byte 100 of every KiB
// (inside a line): 1048576 matches.
const std::string& counted_1GiB() {
    return bench_shared_file("counted-1GiB", [](const std::string& path) {
        std::vector<unsigned char> block(MiB);
        uint32_t x = 2463534242u;
        for (size_t i = 0; i < block.size(); ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            block[i] = i % 64 == 63 ? '\n' : static_cast<unsigned char>('a' + x % 20);
        }
        for (size_t at = 100; at < block.size(); at += 1024)
            memcpy(&block[at], "MORVNE", 6);
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) throw std::runtime_error("open");
        for (uint64_t done = 0; done < GiB; done += MiB)
            if (fwrite(block.data(), 1, MiB, f) != MiB) throw std::runtime_error("write");
        if (fclose(f) != 0) throw std::runtime_error("close");
    });
}

void BM_CountMillionMatches_1GiB(benchmark::State& state) {
    PagedFile file(bench_dir() + "/unused", 16, true);
    open_paged_1GiB(counted_1GiB());
    const BytePattern p = read_or_throw("4D 4F ?? 56 4E 45");
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            std::optional<uint64_t> n = count_matches(p, 0, GiB);
            if (n != GiB / 1024) state.SkipWithError("wrong count");
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

// The same shape, its last byte one that the file never holds.
void BM_PatternSearchThrough_counted_1GiB(benchmark::State& state) {
    PagedFile file(bench_dir() + "/unused", 16, true);
    open_paged_1GiB(counted_1GiB());
    const BytePattern p = read_or_throw("4D 4F ?? 56 4E 58");
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (find_masked(p, 0, GiB).found) state.SkipWithError("a match where there is none");
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GiB));
}

// Replace All of the million matches with bytes of the same length (paged),
// as Alt-R's A does: one pass collects them, then each is replaced; undone
// untimed. The resident memory it adds is reported beside.
void BM_ReplaceAllMillion_1GiB(benchmark::State& state) {
    PagedFile file(bench_dir() + "/unused", 16, true);
    open_paged_1GiB(counted_1GiB());
    Globals.file_state = FILE_UNCHANGED;
    const BytePattern p = read_or_throw("4D 4F ?? 56 4E 45");
    const std::vector<unsigned char> with = {'m', 'o', 'r', 'v', 'n', 'e'};
    const long before = bench_rss_kib();
    long grown = 0;
    IterationTimes times(state);
    for (auto _ : state) {
        times.time([&] {
            std::optional<std::vector<uint64_t>> all = collect_matches(p, 0);
            if (!all || all->size() != GiB / 1024) return state.SkipWithError("wrong matches");
            replace_begin();
            for (uint64_t at : *all)
                if (replace_one(at, p.size(), with) != RangeResult::Done)
                    return state.SkipWithError("a replacement refused");
            if (replace_end() != GiB / 1024) state.SkipWithError("wrong count replaced");
        });
        grown = std::max(grown, bench_rss_kib() - before);
        undoLastChange();
        undoLastChange(); // the first only brings the change into view
    }
    undo_clear();
    clear_mod_table();
    state.counters["rss_before_KiB"] = static_cast<double>(before);
    state.counters["rss_after_KiB"] = static_cast<double>(before + grown);
}

} // namespace

#define MANUAL(b, n) BENCHMARK(b)->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond)
MANUAL(BM_Reference_grep_F_8_bytes_1GiB, 5);
MANUAL(BM_PatternWildcard8_1GiB, 5);
MANUAL(BM_PatternWildcard8Backward_1GiB, 5);
MANUAL(BM_PatternTextIgnoringCase8_1GiB, 5);
MANUAL(BM_PatternNumberU64_1GiB, 5);
MANUAL(BM_PatternSearchThrough_counted_1GiB, 5);
MANUAL(BM_CountMillionMatches_1GiB, 5);
MANUAL(BM_ReplaceAllMillion_1GiB, 3);
