// Settings from the MORVANE variable and the key tables.
#include <gtest/gtest.h>

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

#if defined(__GLIBC__)
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A stream that gives 64 KiB, as much as one read asks for, then fails: the
// failing read is one that returns nothing at all.
constexpr size_t good_bytes = 64 * 1024;
ssize_t failing_read(void* cookie, char* buf, size_t size) {
    auto* given = static_cast<size_t*>(cookie);
    if (*given >= good_bytes) {
        errno = EIO;
        return -1;
    }
    size_t n = std::min(size, good_bytes - *given);
    memset(buf, 'x', n);
    *given += n;
    return static_cast<ssize_t>(n);
}

// Loads `path` (whose size stat reports) whole through that stream.
[[noreturn]] void load_through_failing_stream(const char* path) {
    Globals.filename = path;
    Globals.buffered = 1;
    size_t given = 0;
    cookie_io_functions_t io{failing_read, nullptr, nullptr, nullptr};
    FILE* stream = fopencookie(&given, "rb", io);
    open_file(&stream);
    exit(0); // loaded: the file would now be held cut short
}

} // namespace

TEST(LoadingDeathTest, ReadErrorAfterTheFirstBlockEndsTheProgramInsteadOfCuttingTheFile) {
    KeptEditorState keep;
    char path[] = "/tmp/morvane-load-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 100000), 0); // what stat reports
    close(fd);
    EXPECT_EXIT(load_through_failing_stream(path), ::testing::ExitedWithCode(1),
                std::string(path) + ": Input/output error");
    unlink(path);
}
#endif
