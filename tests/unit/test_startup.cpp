// Settings from the MORVANE variable and the key tables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"

#include "morvane.h"

namespace {

void reset_settings() {
    Globals.file_state = 0;
    Globals.buf_size = 16384;
    Globals.buffered = 0;
    Globals.disk = 0;
    Globals.beep_on = 1;
    Globals.print_set = 1;
    color = 0;
    color_forced_off = false;
}

} // namespace

TEST(EnvVariable, QbMeansQuietAndBuffered) {
    KeptEditorState keep;
    reset_settings();
    char entry[] = "MORVANE=qb";
    char* env[] = {entry, nullptr};
    read_env_variable(env);
    EXPECT_EQ(Globals.beep_on, 0);
    EXPECT_EQ(Globals.buffered, 1);
    EXPECT_EQ(Globals.buf_size, 0);
}

TEST(EnvVariable, NameIsMatchedWithoutCaseAndOnlyTheFirstEntryCounts) {
    KeptEditorState keep;
    reset_settings();
    char other[] = "PATH=/bin:r";
    char lower[] = "morvane=r";
    char later[] = "MORVANE=f";
    char* env[] = {other, lower, later, nullptr};
    read_env_variable(env);
    EXPECT_EQ(Globals.file_state, 2);
}

TEST(EnvVariable, ExtraLettersOfTheNameAreOptionLettersButTheNameItselfIsNot) {
    KeptEditorState keep;
    reset_settings();
    // "MORVANE" holds R, A, N, E: none of them may act; the "Q" after it does.
    char entry[] = "MORVANEQ=x";
    char* env[] = {entry, nullptr};
    read_env_variable(env);
    EXPECT_EQ(Globals.beep_on, 0);
    EXPECT_EQ(Globals.file_state, 0);
    EXPECT_EQ(Globals.print_set, 1);
    EXPECT_FALSE(color_forced_off);
}

TEST(EnvVariable, LaterLettersWin) {
    KeptEditorState keep;
    reset_settings();
    apply_env_letters("=rf");
    EXPECT_EQ(Globals.file_state, 0);
    apply_env_letters("dA8n");
    EXPECT_EQ(Globals.disk, 1);
    EXPECT_EQ(Globals.file_state, 2);
    EXPECT_EQ(Globals.print_set, 2);
    EXPECT_EQ(color, -1);
    EXPECT_TRUE(color_forced_off);
}

TEST(KeyTables, NoKeyIsBoundTwice) {
    EXPECT_TRUE(key_tables_are_unique());
}

// ------------------------------------------------------------ the -b load

namespace {

// Bigger than two of the load's 8 MiB blocks, so that every thread that
// loads gets some, and not a multiple of a page.
constexpr off_t three_blocks = (off_t{8} << 20) * 2 + 12345;

struct LoadedFile {
    KeptEditorState keep;
    CursesScreen screen;
    std::string path;
    FILE* stream = nullptr;
    explicit LoadedFile(const std::vector<unsigned char>& bytes) {
        char name[] = "/tmp/morvane-load-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        reset_settings();
        Globals.buffered = 1;
        Globals.filename = path;
        stream = fopen(path.c_str(), "rb");
    }
    ~LoadedFile() {
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        unlink(path.c_str());
    }
};

std::vector<unsigned char> random_bytes(size_t n) {
    std::vector<unsigned char> bytes(n);
    std::mt19937 rng(7);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(rng());
    return bytes;
}

// A read that fails from `failing_at` on, after what comes before it.
off_t failing_at = 0;
ssize_t failing_pread(int fd, void* to, size_t len, off_t at) {
    if (at >= failing_at) {
        errno = EIO;
        return -1;
    }
    return ::pread(fd, to, std::min<size_t>(len, static_cast<size_t>(failing_at - at)), at);
}

// A file that ends at `ending_at` while the load reads it.
off_t ending_at = 0;
ssize_t ending_pread(int fd, void* to, size_t len, off_t at) {
    if (at >= ending_at) return 0;
    return ::pread(fd, to, std::min<size_t>(len, static_cast<size_t>(ending_at - at)), at);
}

// The second block reads as the end of the file, the third has data again.
ssize_t gap_pread(int fd, void* to, size_t len, off_t at) {
    if (at >= (off_t{8} << 20) && at < (off_t{16} << 20)) return 0;
    return ::pread(fd, to, len, at);
}

} // namespace

TEST(Loading, AWholeFileOfSeveralBlocksIsHeldByteForByte) {
    const auto bytes = random_bytes(static_cast<size_t>(three_blocks));
    LoadedFile f(bytes);
    open_file(&f.stream);
    ASSERT_EQ(Globals.filesize, bytes.size() - 1);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
    EXPECT_EQ(buffer[bytes.size()], 0) << "the spare bytes after the file are zeroed";
}

TEST(Loading, AFileThatEndsEarlyDuringTheLoadIsHeldAsFarAsItGoes) {
    const auto bytes = random_bytes(static_cast<size_t>(three_blocks));
    LoadedFile f(bytes);
    ending_at = (off_t{8} << 20) + 777; // in the second block
    load_pread = ending_pread;
    open_file(&f.stream);
    ASSERT_EQ(Globals.filesize, static_cast<uint64_t>(ending_at) - 1);
    EXPECT_EQ(Globals.buf_size, ending_at);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + ending_at, buffer.begin()));
}

TEST(LoadingDeathTest, ReadErrorAfterDataHasComeEndsTheProgramInsteadOfCuttingTheFile) {
    // In the last block and in the first: the error ends the program wherever
    // it comes, on whichever thread reads it.
    for (off_t at : {three_blocks - 100, off_t{4096}}) {
        LoadedFile f(std::vector<unsigned char>(static_cast<size_t>(three_blocks), 'x'));
        EXPECT_EXIT(
            {
                failing_at = at;
                load_pread = failing_pread;
                open_file(&f.stream);
                exit(0); // loaded: the file would now be held cut short
            },
            ::testing::ExitedWithCode(1), f.path + ": Input/output error");
    }
}

TEST(LoadingDeathTest, DataAfterAnEarlyEndOfTheFileEndsTheProgram) {
    LoadedFile f(std::vector<unsigned char>(static_cast<size_t>(three_blocks), 'x'));
    EXPECT_EXIT(
        {
            load_pread = gap_pread;
            open_file(&f.stream);
            exit(0);
        },
        ::testing::ExitedWithCode(1), "file has changed, restart");
}
