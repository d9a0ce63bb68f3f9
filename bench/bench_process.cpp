// Whole-process benchmarks: the real binary in a pseudo-terminal.
//
// Opening: start morvane on a file, send Control-X at once and wait for it to
// exit. Keys are read only after the first screen is drawn, so the time is
// start-up + first screen + quit; the peak resident memory comes from wait4.
// A 16 GiB sparse file must cost the same as a 1 KiB one.
//
// Whole-file open (-b): 1 GiB of real bytes in the page cache, to the first
// screen and out; reference: `cat file > /dev/null`. Its peak resident memory
// must stay within the file's size + 16 MiB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench_util.h"

namespace {

struct RunResult {
    double seconds;
    long max_rss_kib;
    double user_seconds;   // the child's CPU time in user mode
    double system_seconds; // and in the kernel
    long minor_faults;
};

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

RunResult run_and_quit(const std::string& file, const char* keys,
                       const char* program = MORVANE_BINARY, const char* option = nullptr) {
    struct winsize ws {};
    ws.ws_row = 24;
    ws.ws_col = 80;
    int master = -1;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0) throw std::runtime_error("forkpty");
    if (pid == 0) {
        setenv("TERM", "xterm-256color", 1);
        setenv("ESCDELAY", "25", 1);
        if (option)
            execl(program, program, option, file.c_str(), static_cast<char*>(nullptr));
        else
            execl(program, program, file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The keys wait in the terminal's input queue until the editor reads them.
    ssize_t w = write(master, keys, strlen(keys));
    (void)w;
    char sink[4096];
    int status = 0;
    struct rusage usage {};
    for (;;) {
        struct pollfd p {
            master, POLLIN, 0
        };
        if (poll(&p, 1, 50) > 0 && read(master, sink, sizeof sink) <= 0) {
            // The child closed the terminal: it is exiting.
        }
        pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
    }
    auto end = std::chrono::steady_clock::now();
    close(master);
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
            seconds_of(usage.ru_utime), seconds_of(usage.ru_stime), usage.ru_minflt};
}

void open_and_quit(benchmark::State& state, uint64_t size) {
    std::string path = bench_dir() + "/open-" + std::to_string(size);
    make_sparse_file(path, size);
    long rss = 0;
    {
        IterationTimes times(state);
        for (auto _ : state) {
            RunResult r = run_and_quit(path, "\x18");
            times.add(r.seconds);
            rss = r.max_rss_kib;
        }
    }
    state.counters["peak_rss_KiB"] = static_cast<double>(rss);
    unlink(path.c_str());
}

// Reference: the cost of starting any program in a pty (cat of the 1 KiB file).
void BM_Reference_CatInPty_1KiB(benchmark::State& state) {
    std::string path = bench_dir() + "/cat-1024";
    make_sparse_file(path, 1024);
    {
        IterationTimes times(state);
        for (auto _ : state)
            times.add(run_and_quit(path, "", "/bin/cat").seconds);
    }
    unlink(path.c_str());
}

void BM_OpenFirstScreenAndQuit_1KiB(benchmark::State& s) {
    open_and_quit(s, 1024);
}
void BM_OpenFirstScreenAndQuit_16GiB_sparse(benchmark::State& s) {
    open_and_quit(s, 16ULL << 30);
}

// -b: the whole file read into memory before the first screen. Control-X,
// typed at once, is kept through the load and quits after it.
void BM_OpenBuffered_1GiB(benchmark::State& state) {
    const std::string& path = bench_text_1GiB();
    long rss = 0;
    RunResult last{};
    {
        IterationTimes times(state);
        for (auto _ : state) {
            last = run_and_quit(path, "\x18", MORVANE_BINARY, "-b");
            times.add(last.seconds);
            rss = std::max(rss, last.max_rss_kib);
        }
    }
    // Where the time goes, from the last run: the child's user and kernel
    // CPU time and its page faults.
    state.counters["user_s"] = last.user_seconds;
    state.counters["sys_s"] = last.system_seconds;
    state.counters["minor_faults"] = static_cast<double>(last.minor_faults);
    state.counters["peak_rss_KiB"] = static_cast<double>(rss);
    state.counters["file_KiB"] = static_cast<double>(bench_GiB / 1024);
}

void BM_Reference_cat_1GiB(benchmark::State& state) {
    std::string cmd = "cat " + bench_text_1GiB() + " >/dev/null";
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            if (system(cmd.c_str()) != 0) state.SkipWithError("cat failed");
        });
}

} // namespace

BENCHMARK(BM_Reference_CatInPty_1KiB)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFirstScreenAndQuit_1KiB)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFirstScreenAndQuit_16GiB_sparse)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cat_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenBuffered_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
