// Helpers shared by the benchmarks: scratch files, physical references and
// per-iteration timing with a median.
#pragma once
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr uint64_t bench_MiB = 1ULL << 20;
inline constexpr uint64_t bench_GiB = 1ULL << 30;

// A scratch directory (MV_BENCH_DIR, else /tmp), made on first use and
// removed with everything in it by bench_remove_scratch at the end of the run.
inline bool bench_dir_made = false;
inline const std::string& bench_dir() {
    static std::string dir = [] {
        const char* base = getenv("MV_BENCH_DIR");
        std::string d = base ? base : "/tmp";
        d += "/morvane-bench-XXXXXX";
        std::vector<char> tmpl(d.begin(), d.end());
        tmpl.push_back('\0');
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        bench_dir_made = true;
        return std::string(tmpl.data());
    }();
    return dir;
}

// Files that several benchmarks read, made once per run (so that they stay
// in the page cache) and removed at its end.
inline std::map<std::string, std::string>& bench_shared_files() {
    static std::map<std::string, std::string> files;
    return files;
}
inline const std::string& bench_shared_file(const std::string& name,
                                            const std::function<void(const std::string&)>& make) {
    auto& files = bench_shared_files();
    auto at = files.find(name);
    if (at != files.end()) return at->second;
    std::string path = bench_dir() + "/" + name;
    make(path);
    return files.emplace(name, path).first->second;
}
inline void bench_remove_scratch() {
    for (auto& [name, path] : bench_shared_files())
        unlink(path.c_str());
    bench_shared_files().clear();
    if (bench_dir_made) rmdir(bench_dir().c_str());
}

inline void make_sparse_file(const std::string& path, uint64_t size) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("sparse");
    // A few real bytes at the start so the first screen shows something.
    const char head[] = "Morvane benchmark file\n";
    if (pwrite(fd, head, sizeof head - 1, 0) < 0) throw std::runtime_error("pwrite");
    close(fd);
}

// A file of `size` bytes of pseudo-random lower-case text (no early matches
// for the search patterns), written in 1 MiB blocks: in 64-byte lines, or
// one single line when `line_feeds` is false.
inline void make_filled_file(const std::string& path, uint64_t size, bool line_feeds = true) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) throw std::runtime_error("open");
    std::vector<unsigned char> block(1 << 20);
    uint32_t x = 2463534242u;
    for (auto& b : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>('a' + x % 20);
    }
    if (line_feeds)
        for (size_t i = 63; i < block.size(); i += 64)
            block[i] = '\n'; // lines, as text has
    for (uint64_t done = 0; done < size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), size - done));
        if (write(fd, block.data(), n) != static_cast<ssize_t>(n))
            throw std::runtime_error("write");
        done += n;
    }
    close(fd);
}

inline constexpr char bench_needle[] = "MORVNE"; // upper case never occurs in the filler text

// 1 GiB of text in lines with the needle 4 KiB before its end: searched,
// copied and loaded by several benchmarks.
inline const std::string& bench_text_1GiB() {
    return bench_shared_file("text-1GiB", [](const std::string& p) {
        make_filled_file(p, bench_GiB);
        int fd = open(p.c_str(), O_WRONLY);
        if (fd < 0 || pwrite(fd, bench_needle, 6, static_cast<off_t>(bench_GiB - 4096)) != 6)
            throw std::runtime_error("pwrite");
        close(fd);
    });
}

// 1 GiB of real bytes without a single line feed (grep reads every byte).
inline const std::string& bench_one_line_1GiB() {
    return bench_shared_file("one-line-1GiB",
                             [](const std::string& p) { make_filled_file(p, bench_GiB, false); });
}

inline double bench_seconds_of(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double bench_thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Per-iteration times of a manual-time benchmark: each one goes to the
// library, and their median is kept as the counter "median_s" that the
// ratio table reads (a mean over a few runs is pulled by one slow run).
class IterationTimes {
  public:
    explicit IterationTimes(benchmark::State& state) : state_(state) {}
    ~IterationTimes() {
        if (times_.empty()) return;
        std::sort(times_.begin(), times_.end());
        size_t n = times_.size();
        double median = n % 2 ? times_[n / 2] : (times_[n / 2 - 1] + times_[n / 2]) / 2;
        state_.counters["median_s"] = median;
    }
    IterationTimes(const IterationTimes&) = delete;
    IterationTimes& operator=(const IterationTimes&) = delete;
    void add(double seconds) {
        state_.SetIterationTime(seconds);
        times_.push_back(seconds);
    }
    // Wall-clock time of `work`.
    void time(const std::function<void()>& work) { add(bench_seconds_of(work)); }
    // CPU time of `work` in this thread (the key's own cost, not the machine's).
    void cpu_time(const std::function<void()>& work) {
        double start = bench_thread_cpu_seconds();
        work();
        add(bench_thread_cpu_seconds() - start);
    }

  private:
    benchmark::State& state_;
    std::vector<double> times_;
};

// `grep -c -F literal path` timed per run; found or not is both fine (grep -c
// exits 1 when it counts nothing), anything else fails the benchmark.
inline void bench_grep_reference(benchmark::State& state, const std::string& literal,
                                 const std::string& path) {
    const std::string cmd = "grep -c -F " + literal + " " + path + " >/dev/null";
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            int rc = system(cmd.c_str());
            if (rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) > 1)
                state.SkipWithError("grep failed");
        });
}

// This process's resident memory now, in KiB (0 where /proc has no answer).
inline long bench_rss_kib() {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kib = 0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    fclose(f);
    return kib;
}
