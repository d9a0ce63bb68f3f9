// End-to-end rows: the release binary in a pseudo-terminal (80x24, read back
// through libvterm), timed from the last key to the screen that shows the
// result, each beside its reference from the same run. The in-process rows
// time the routines alone; the two together show where the time goes.
//
//   SearchForward:  a hex search from offset 0 for 6 bytes that lie 4 KiB
//                   before the end of 1 GiB of random bytes; refs `grep -c
//                   -F` and `cat > /dev/null`.
//   SearchBackward: F4 from the last byte for 6 bytes 4 KiB after the start.
//   TextViewAtEnd:  Control-E on the last byte of a 1 GiB line; ref `cat`.
//   SaveAsNewName:  one byte changed, Control-O, a new name, Enter, until the
//                   status line shows the new name; ref `cp` and `sync`.
//   OpenBuffered:   `-b` on 1 GiB to its first screen; ref `cat`; the peak
//                   resident memory (VmHWM) read while the screen is shown.
//   CompareNext:    `--compare B A`, F8 from offset 0 until the status line
//                   shows the difference: 1 GiB of random bytes differing in
//                   the last byte, and 16 GiB sparse files differing in one
//                   byte 4 KiB before the end; ref `cmp A B` on the same
//                   files; the peak resident memory after the sparse search.
//
// The files are 1 GiB each, in the page cache (made once per run, removed at
// its end), but the sparse pair of the compare rows, made for each row; the
// terminal's own directory is under $TMPDIR.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "terminal.h"

namespace {

constexpr int long_timeout_ms = 60000; // a hang, not a slow run
constexpr char forward_needle[] = "MORVNE";
constexpr char backward_needle[] = "ENVROM";
constexpr char line_end_marker[] = "MORVANE-TEXT-VIEW-END"; // longer than a hex row's 16

std::string hex_of(const char* text) {
    std::string hex;
    char two[3];
    for (const char* c = text; *c; ++c) {
        snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(*c));
        hex += two;
    }
    return hex;
}

// 1 GiB of random bytes (xorshift), the backward needle 4 KiB after the
// start and the forward one 4 KiB before the end. Six given bytes turn up by
// chance in 1 GiB about once in four million files.
const std::string& random_1GiB() {
    return bench_shared_file("random-1GiB", [](const std::string& p) {
        int fd = open(p.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        if (fd < 0) throw std::runtime_error("open");
        std::vector<uint64_t> block((8 << 20) / 8);
        uint64_t x = 0x9E3779B97F4A7C15ULL;
        for (uint64_t done = 0; done < bench_GiB; done += block.size() * 8) {
            for (auto& w : block) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                w = x;
            }
            if (write(fd, block.data(), block.size() * 8) != static_cast<ssize_t>(block.size() * 8))
                throw std::runtime_error("write");
        }
        if (pwrite(fd, backward_needle, 6, 4096) != 6 ||
            pwrite(fd, forward_needle, 6, static_cast<off_t>(bench_GiB - 4096)) != 6)
            throw std::runtime_error("pwrite");
        close(fd);
    });
}

// 1 GiB of text without a line feed that ends in the marker.
const std::string& one_line_with_end_1GiB() {
    return bench_shared_file("one-line-end-1GiB", [](const std::string& p) {
        make_filled_file(p, bench_GiB, false);
        int fd = open(p.c_str(), O_WRONLY);
        const auto n = static_cast<ssize_t>(sizeof line_end_marker - 1);
        if (fd < 0 || pwrite(fd, line_end_marker, static_cast<size_t>(n),
                             static_cast<off_t>(bench_GiB) - n) != n)
            throw std::runtime_error("pwrite");
        close(fd);
    });
}

void fail(benchmark::State& state, Terminal& t, const char* what) {
    fprintf(stderr, "%s\n%s\n", what, t.dump().c_str());
    state.SkipWithError(what);
}

bool row_has(Terminal& t, int r, const std::string& text) {
    return t.row(r).find(text) != std::string::npos;
}

bool screen_has(Terminal& t, const std::string& text) {
    for (int r = 0; r < t.lines(); ++r)
        if (row_has(t, r, text)) return true;
    return false;
}

// Starts the editor on `file` and waits for its first screen.
bool start_editor_on(Terminal& t, const std::string& file, std::vector<std::string> options = {}) {
    options.push_back(file);
    t.start(options);
    return t.expect_text(1, 0, "00000000  ", long_timeout_ms);
}

// Seconds from sending `last_key` until `shown` holds; negative on a timeout.
double time_to_screen(Terminal& t, const std::string& last_key,
                      const std::function<bool()>& shown) {
    auto start = std::chrono::steady_clock::now();
    t.send(last_key);
    if (!t.expect(shown, "the result on the screen", long_timeout_ms)) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void quit(Terminal& t) {
    t.send(ctrl('x'));
    if (t.wait_exit(long_timeout_ms) < 0) t.send("n"); // a quit dialog: leave without saving
    (void)t.wait_exit(long_timeout_ms);
}

std::string offset_text(uint64_t offset) {
    char text[32];
    snprintf(text, sizeof text, "%08llX  ", static_cast<unsigned long long>(offset));
    return text;
}

// The cursor onto the file's last byte (Control-T; End only ends the row).
bool go_to_last_byte(Terminal& t) {
    t.send(ctrl('t'));
    if (!t.expect([&] { return screen_has(t, "Goto Offset"); }, "the goto dialog")) return false;
    char offset[32];
    snprintf(offset, sizeof offset, "%llX", static_cast<unsigned long long>(bench_GiB - 1)); // hex
    t.send(std::string(offset) + keys::enter);
    const std::string last_row = offset_text(bench_GiB - 16);
    bool shown = t.expect([&] { return screen_has(t, last_row) && !screen_has(t, "Goto Offset"); },
                          "the last row", long_timeout_ms);
    t.settle();
    return shown;
}

// The search dialog's hex search up to the last key, Enter.
void type_hex_search(Terminal& t, const char* needle) {
    t.send(ctrl('w'));
    (void)t.expect([&] { return screen_has(t, "search for Hex bytes"); }, "the search menu");
    t.send("h");
    (void)t.expect([&] { return screen_has(t, "Byte Search"); }, "the byte field");
    t.send(hex_of(needle));
    t.settle();
}

void BM_E2E_SearchForward_1GiB(benchmark::State& state) {
    const std::string& file = random_1GiB();
    const std::string match_row = offset_text(bench_GiB - 4096);
    IterationTimes times(state);
    for (auto _ : state) {
        Terminal t(24, 80);
        if (!start_editor_on(t, file)) return fail(state, t, "no first screen");
        type_hex_search(t, forward_needle);
        double s = time_to_screen(t, keys::enter, [&] { return row_has(t, 1, match_row); });
        if (s < 0) return fail(state, t, "the match was not shown");
        times.add(s);
        quit(t);
    }
}

void BM_E2E_SearchBackward_1GiB(benchmark::State& state) {
    const std::string& file = random_1GiB();
    const std::string match_row = offset_text(4096);
    IterationTimes times(state);
    for (auto _ : state) {
        Terminal t(24, 80);
        if (!start_editor_on(t, file)) return fail(state, t, "no first screen");
        // The pattern is given by a forward search that finds it at once.
        type_hex_search(t, backward_needle);
        t.send(keys::enter);
        if (!t.expect([&] { return row_has(t, 1, match_row); }, "the first match", long_timeout_ms))
            return fail(state, t, "the pattern was not found forwards");
        if (!go_to_last_byte(t)) return fail(state, t, "the last byte was not reached");
        double s = time_to_screen(t, keys::f4, [&] { return row_has(t, 1, match_row); });
        if (s < 0) return fail(state, t, "the match was not shown");
        times.add(s);
        quit(t);
    }
}

void BM_E2E_TextViewAtEnd_1GiB_one_line(benchmark::State& state) {
    const std::string& file = one_line_with_end_1GiB();
    IterationTimes times(state);
    for (auto _ : state) {
        Terminal t(24, 80);
        if (!start_editor_on(t, file)) return fail(state, t, "no first screen");
        if (!go_to_last_byte(t)) return fail(state, t, "the last byte was not reached");
        double s = time_to_screen(t, ctrl('e'), [&] { return screen_has(t, line_end_marker); });
        if (s < 0) return fail(state, t, "the text view did not show the line's end");
        times.add(s);
        quit(t);
    }
}

void BM_E2E_SaveAsNewName_1GiB(benchmark::State& state) {
    const std::string& file = random_1GiB();
    IterationTimes times(state);
    for (auto _ : state) {
        Terminal t(24, 80);
        if (!start_editor_on(t, file)) return fail(state, t, "no first screen");
        t.send("A"); // one changed byte, written over the copy
        t.settle();
        t.send(ctrl('o'));
        if (!t.expect([&] { return screen_has(t, "Save File"); }, "the save dialog"))
            return fail(state, t, "no save dialog");
        t.send(ctrl('u') + "saved-copy");
        t.settle();
        double s = time_to_screen(t, keys::enter, [&] {
            return row_has(t, 0, "saved-copy") && !screen_has(t, "Save File");
        });
        if (s < 0) return fail(state, t, "the save did not end");
        times.add(s);
        quit(t);
        unlink(t.path("saved-copy").c_str());
    }
}

// The child's peak resident memory so far, in KiB (0 when unknown).
long peak_rss_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void BM_E2E_OpenBuffered_1GiB(benchmark::State& state) {
    const std::string& file = random_1GiB();
    long rss = 0;
    {
        IterationTimes times(state);
        for (auto _ : state) {
            Terminal t(24, 80);
            auto start = std::chrono::steady_clock::now();
            if (!start_editor_on(t, file, {"-b"})) return fail(state, t, "no first screen");
            times.add(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            rss = std::max(rss, peak_rss_kib(t.pid()));
            quit(t);
        }
    }
    state.counters["peak_rss_KiB"] = static_cast<double>(rss);
    state.counters["file_KiB"] = static_cast<double>(bench_GiB / 1024);
}

// A: the shared random gigabyte; B: the same with its last byte changed.
const std::string& random_1GiB_last_byte_changed() {
    return bench_shared_file("random-1GiB-last-changed", [](const std::string& p) {
        if (system(("cp " + random_1GiB() + " " + p).c_str()) != 0) throw std::runtime_error("cp");
        int fd = open(p.c_str(), O_RDWR);
        unsigned char last = 0;
        if (fd < 0 || pread(fd, &last, 1, static_cast<off_t>(bench_GiB - 1)) != 1)
            throw std::runtime_error("pread");
        last ^= 0xFF;
        if (pwrite(fd, &last, 1, static_cast<off_t>(bench_GiB - 1)) != 1)
            throw std::runtime_error("pwrite");
        close(fd);
    });
}

constexpr uint64_t sparse_size = 16 * bench_GiB;
constexpr uint64_t sparse_difference = sparse_size - 4096 + 7;

// Two sparse files of 16 GiB, a line of text at the start of each and one
// byte 4 KiB before the end in the second only; empty when this file system
// cannot hold them as holes (`why` says so).
std::pair<std::string, std::string> sparse_16GiB_pair(std::string& why) {
    const std::string a = bench_dir() + "/sparse-16GiB-a", b = bench_dir() + "/sparse-16GiB-b";
    try {
        make_sparse_file(a, sparse_size);
        make_sparse_file(b, sparse_size);
    } catch (const std::exception&) {
        why = std::string("no room for a 16 GiB sparse file here: ") + strerror(errno);
        return {};
    }
    const unsigned char one = 1;
    int fd = open(b.c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, &one, 1, static_cast<off_t>(sparse_difference)) != 1) {
        why = std::string("cannot write the differing byte: ") + strerror(errno);
        return {};
    }
    close(fd);
    struct stat st {};
    for (const std::string& f : {a, b})
        if (stat(f.c_str(), &st) != 0 ||
            static_cast<uint64_t>(st.st_blocks) * 512 > 64 * bench_MiB) {
            why = "this file system does not keep the 16 GiB files sparse";
            return {};
        }
    return {a, b};
}

std::string status_offset(uint64_t offset) {
    char text[48];
    snprintf(text, sizeof text, "Offset: 0x%08llX", static_cast<unsigned long long>(offset));
    return text;
}

const std::string f8 = "\x1b[19~"; // xterm's F8

// `--compare other file`, F8 from offset 0, timed until the status line shows
// `difference`: the editor's peak resident memory after the searches.
long time_compare_next(benchmark::State& state, const std::string& file, const std::string& other,
                       uint64_t difference) {
    const std::string shown = status_offset(difference);
    long rss = 0;
    IterationTimes times(state);
    for (auto _ : state) {
        Terminal t(24, 80);
        if (!start_editor_on(t, file, {"--compare", other})) {
            fail(state, t, "no first screen");
            break;
        }
        t.settle();
        double s = time_to_screen(t, f8, [&] { return row_has(t, 0, shown); });
        if (s < 0) {
            fail(state, t, "the difference was not shown");
            break;
        }
        times.add(s);
        rss = std::max(rss, peak_rss_kib(t.pid()));
        quit(t);
    }
    return rss;
}

void BM_E2E_CompareNext_1GiB(benchmark::State& state) {
    (void)time_compare_next(state, random_1GiB(), random_1GiB_last_byte_changed(), bench_GiB - 1);
}

void BM_E2E_CompareNext_16GiB_sparse(benchmark::State& state) {
    std::string why;
    const auto [a, b] = sparse_16GiB_pair(why);
    if (a.empty()) return state.SkipWithError(("skipped: " + why).c_str());
    long alone = 0;
    {
        // The editor on one of them, without the compare view: what its
        // memory would be anyway.
        Terminal t(24, 80);
        if (!start_editor_on(t, b)) return fail(state, t, "no first screen");
        t.settle();
        alone = peak_rss_kib(t.pid());
        quit(t);
    }
    const long rss = time_compare_next(state, b, a, sparse_difference);
    state.counters["peak_rss_KiB"] = static_cast<double>(rss);
    state.counters["rss_one_file_KiB"] = static_cast<double>(alone);
    unlink(a.c_str());
    unlink(b.c_str());
}

void shell_reference(benchmark::State& state, const std::string& cmd, int ok_status = 0) {
    IterationTimes times(state);
    for (auto _ : state)
        times.time([&] {
            int status = system(cmd.c_str());
            if (!WIFEXITED(status) || WEXITSTATUS(status) > ok_status)
                state.SkipWithError(cmd.c_str());
        });
}

// grep -c exits 1 when it counts no line; the needle lies in one.
void BM_Reference_grep_c_F_random_1GiB(benchmark::State& state) {
    shell_reference(state, std::string("grep -c -F ") + forward_needle + " " + random_1GiB() +
                               " >/dev/null");
}

void BM_Reference_cat_random_1GiB(benchmark::State& state) {
    shell_reference(state, "cat " + random_1GiB() + " >/dev/null");
}

void BM_Reference_cat_one_line_1GiB(benchmark::State& state) {
    shell_reference(state, "cat " + one_line_with_end_1GiB() + " >/dev/null");
}

// cmp exits 1 when the files differ, as they do.
void BM_Reference_cmp_1GiB_last_byte(benchmark::State& state) {
    shell_reference(
        state, "cmp " + random_1GiB() + " " + random_1GiB_last_byte_changed() + " >/dev/null", 1);
}

void BM_Reference_cmp_16GiB_sparse(benchmark::State& state) {
    std::string why;
    const auto [a, b] = sparse_16GiB_pair(why);
    if (a.empty()) return state.SkipWithError(("skipped: " + why).c_str());
    shell_reference(state, "cmp " + a + " " + b + " >/dev/null", 1);
    unlink(a.c_str());
    unlink(b.c_str());
}

// Into a new file each time, as the save makes one (removed untimed).
void BM_Reference_cp_sync_random_1GiB(benchmark::State& state) {
    std::string target = bench_dir() + "/cp-random-1GiB";
    std::string cmd = "cp " + random_1GiB() + " " + target + " && sync " + target;
    IterationTimes times(state);
    for (auto _ : state) {
        times.time([&] {
            if (system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
        });
        unlink(target.c_str());
    }
}

} // namespace

BENCHMARK(BM_Reference_cat_random_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_grep_c_F_random_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_SearchForward_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_SearchBackward_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cat_one_line_1GiB)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_TextViewAtEnd_1GiB_one_line)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_OpenBuffered_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cp_sync_random_1GiB)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_SaveAsNewName_1GiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_cmp_1GiB_last_byte)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_CompareNext_1GiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
// cmp reads all 32 GiB of zeros (half a minute here): one run is enough
// beside a search that skips them.
BENCHMARK(BM_Reference_cmp_16GiB_sparse)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_CompareNext_16GiB_sparse)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
