// Helpers shared by the benchmarks: scratch files and physical references.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

// A scratch directory on the same disk as the build, kept for the run.
inline const std::string& bench_dir() {
    static std::string dir = [] {
        const char* base = getenv("MORVANE_BENCH_DIR");
        std::string d = base ? base : "/tmp";
        d += "/morvane-bench-XXXXXX";
        std::vector<char> tmpl(d.begin(), d.end());
        tmpl.push_back('\0');
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        return std::string(tmpl.data());
    }();
    return dir;
}

inline void make_sparse_file(const std::string& path, uint64_t size) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("sparse");
    // A few real bytes at the start so the first screen shows something.
    const char head[] = "Morvane benchmark file\n";
    if (pwrite(fd, head, sizeof head - 1, 0) < 0) throw std::runtime_error("pwrite");
    close(fd);
}

// A file of `size` bytes of pseudo-random lower-case text in 64-byte lines
// (no early matches for the search patterns), written in 1 MiB blocks.
inline void make_filled_file(const std::string& path, uint64_t size) {
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
