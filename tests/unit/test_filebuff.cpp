// The paged window, the page reader, block reads and the modification table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "morvane.h"

namespace {

// A byte of the test files that differs between neighbouring offsets and
// between pages.
unsigned char pattern(uint64_t o) {
    return static_cast<unsigned char>(o * 7 + o / 251);
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/morvane-filebuff-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name, uint64_t length) const {
        std::string p = path + "/" + name;
        FILE *f = fopen(p.c_str(), "wb");
        for (uint64_t o = 0; o < length; ++o)
            fputc(pattern(o), f);
        fclose(f);
        return p;
    }
};

// Keeps the data layer's state and puts it back, so that no test leaves
// anything behind for the next.
struct DataSandbox {
    EditorGlobals g = Globals;
    int32_t spare = buf_spare;
    std::vector<unsigned char> buf = buffer;
    DataSandbox() { init_mod_table(); }
    ~DataSandbox() {
        if (Globals.fp && Globals.fp != g.fp) fclose(Globals.fp);
        clear_mod_table();
        Globals = g;
        buf_spare = spare;
        buffer = buf;
        fp_reads_other_file = false;
    }
};

// Paged mode on `path`, as start-up leaves it: the first page read, the
// window over what was read, an empty table.
void open_paged(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    struct stat st;
    ASSERT_EQ(fstat(fileno(f), &st), 0);
    Globals.buffered = 0;
    Globals.file_state = 0;
    Globals.buf_size = 16384;
    Globals.filename = path;
    Globals.filesize = static_cast<uint64_t>(st.st_size) - 1;
    buf_spare = 0;
    buffer.assign(16385, 0);
    size_t n = fread(buffer.data(), 1, 16384, f);
    set_file_window(f, 0, n - 1);
    init_mod_table();
}

std::vector<unsigned char> shown_one_by_one(uint64_t from, size_t n) {
    std::vector<unsigned char> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(get_byte(from + i));
    return out;
}

} // namespace

TEST(ModTable, SettingAnOffsetTwiceKeepsOneEntryWithTheLatestValue) {
    DataSandbox sandbox;
    mod_table_set(42, 0x11);
    mod_table_set(42, 0x22);
    EXPECT_EQ(mod_table_entries, 1u);
    unsigned char v = 0;
    ASSERT_EQ(mod_table_get(42, &v), 0);
    EXPECT_EQ(v, 0x22);
    mod_table_remove(42);
    EXPECT_EQ(mod_table_get(42, nullptr), -1) << "one remove forgets the offset entirely";
    EXPECT_EQ(mod_table_entries, 0u);
}

TEST(ModTable, AbsentOffsetsAreLeftAlone) {
    DataSandbox sandbox;
    mod_table_set(7, 0x70);
    mod_table_remove(8);
    mod_table_remove(7 + MOD_TABLE_BUCKETS); // same bucket, other offset
    EXPECT_EQ(mod_table_entries, 1u);
    EXPECT_EQ(mod_table_get(7, nullptr), 0);
    unsigned char out = 0x5A;
    EXPECT_EQ(mod_table_get(9, &out), -1);
    EXPECT_EQ(out, 0x5A) << "a miss must not touch the out byte";
}

TEST(ModTable, OffsetsSharingABucketAreIndependent) {
    DataSandbox sandbox;
    mod_table_set(5, 0x05);
    mod_table_set(1014, 0x14);
    mod_table_set(uint64_t{1} << 40, 0x40); // large offsets hash by the 64-bit remainder
    unsigned char v;
    ASSERT_EQ(mod_table_get(5, &v), 0);
    EXPECT_EQ(v, 0x05);
    ASSERT_EQ(mod_table_get(1014, &v), 0);
    EXPECT_EQ(v, 0x14);
    mod_table_remove(5);
    EXPECT_EQ(mod_table_get(5, nullptr), -1);
    ASSERT_EQ(mod_table_get(1014, &v), 0) << "removing the bucket's other entry keeps this one";
    EXPECT_EQ(v, 0x14);
    mod_table_set(5, 0x55);
    mod_table_remove(1014);
    ASSERT_EQ(mod_table_get(5, &v), 0);
    EXPECT_EQ(v, 0x55);
    ASSERT_EQ(mod_table_get(uint64_t{1} << 40, &v), 0);
    EXPECT_EQ(v, 0x40);
    EXPECT_EQ(mod_table_entries, 2u);
    clear_mod_table();
    EXPECT_EQ(mod_table_entries, 0u);
    EXPECT_EQ(mod_table_get(5, nullptr), -1);
}

TEST(Window, MovesToCentreTheRequestedByte) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 40000));
    EXPECT_EQ(Globals.buf_front, 0u);
    EXPECT_EQ(Globals.buf_end, 16383u);
    EXPECT_EQ(get_byte(20000), pattern(20000));
    EXPECT_EQ(Globals.buf_front, 11808u);
    EXPECT_EQ(Globals.buf_end, 28191u);
    EXPECT_EQ(buffer[0], pattern(11808));
    EXPECT_EQ(buffer[16383], pattern(28191));
    EXPECT_EQ(get_byte(5000), pattern(5000));
    EXPECT_EQ(Globals.buf_front, 0u);
    EXPECT_EQ(Globals.buf_end, 16383u);
}

TEST(Window, PageAtTheEndOfTheFileHoldsZerosPastIt) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 40000));
    EXPECT_EQ(get_byte(39999), pattern(39999));
    EXPECT_EQ(Globals.buf_front, 39999u - 8192u);
    EXPECT_EQ(Globals.buf_end, 39999u - 8192u + 16383u);
    uint64_t past = 40000 - Globals.buf_front;
    for (uint64_t i = past; i < 16384; ++i)
        ASSERT_EQ(buffer[i], 0) << "index " << i;
    Globals.buf_front = 39999 - 8192;
    EXPECT_EQ(load_page(), 8193u) << "load_page counts the bytes the file had";
}

TEST(Window, SmallFileOpensWithTheWindowOverWhatWasRead) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 100));
    EXPECT_EQ(Globals.buf_end, 99u);
    EXPECT_EQ(get_byte(99), pattern(99));
    EXPECT_EQ(buffer[100], 0);
}

TEST(Window, ModifiedByteIsLaidOverThePageAfterMovingAwayAndBack) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 60000));
    get_byte(20000);
    buffer[20000 - Globals.buf_front] = 0xAB; // as filebuff_modify stores it
    mod_table_set(20000, 0xAB);
    mod_table_set(50000, 0xCD); // never in the window yet
    get_byte(100);
    EXPECT_EQ(Globals.buf_front, 0u);
    EXPECT_EQ(get_byte(20000), 0xAB);
    EXPECT_EQ(get_byte(20001), pattern(20001));
    EXPECT_EQ(get_byte(50000), 0xCD);
}

TEST(Window, ReadOnlyFileIsReadWithoutTheOverlay) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 60000));
    Globals.file_state = 2;
    mod_table_set(30000, static_cast<unsigned char>(~pattern(30000)));
    EXPECT_EQ(get_byte(30000), pattern(30000));
}

TEST(Window, NeverWrapsPastTheLargestOffset) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 100));
    Globals.filesize = UINT64_MAX; // a device that reports no size
    EXPECT_EQ(get_byte(UINT64_MAX - 5), 0);
    EXPECT_EQ(Globals.buf_end, UINT64_MAX);
    EXPECT_EQ(Globals.buf_front, UINT64_MAX - 16383);
    EXPECT_EQ(get_byte(UINT64_MAX), 0);
    EXPECT_EQ(get_byte(10), pattern(10)) << "and comes back down";
}

TEST(Window, FileGrownSinceOpeningShowsAsItWasOpened) {
    DataSandbox sandbox;
    TempDir dir;
    std::string path = dir.file("f", 100);
    open_paged(path);
    FILE *more = fopen(path.c_str(), "ab");
    fputs("grown", more);
    fclose(more);
    get_byte(30000); // move away and back: the page is read again
    EXPECT_EQ(get_byte(99), pattern(99));
    EXPECT_EQ(get_byte(100), 0) << "bytes beyond the length at opening are not the file's";
}

TEST(Window, FirstReadThatReturnedNothingClaimsNoBytesBeyondTheBuffer) {
    DataSandbox sandbox;
    buffer.assign(16385, 0);
    Globals.buffered = 0;
    Globals.buf_size = 16384;
    set_file_window(nullptr, 0, UINT64_MAX); // "bytes read - 1" with nothing read
    EXPECT_LE(Globals.buf_end - Globals.buf_front, 16383u);
    Globals.filesize = 20;
    EXPECT_EQ(get_byte(1u << 20), 0) << "no stream reads as zeros, and nothing crashes";
}

TEST(GetBytes, MatchesGetByteAcrossPagesWithModifiedBytes) {
    DataSandbox sandbox;
    TempDir dir;
    const uint64_t length = 100000;
    open_paged(dir.file("f", length));
    for (uint64_t o : {uint64_t{0}, uint64_t{16383}, uint64_t{16384}, uint64_t{50000},
                       uint64_t{73111}, length - 1}) {
        get_byte(o);
        buffer[o - Globals.buf_front] = static_cast<unsigned char>(o ^ 0x5A);
        mod_table_set(o, static_cast<int>(o ^ 0x5A));
    }
    get_byte(40000); // the window in the middle: the block runs before, through and after it
    std::vector<unsigned char> blocks(length + 300, 0xEE);
    get_bytes(0, blocks.data(), blocks.size());
    uint64_t front = Globals.buf_front;
    EXPECT_EQ(front, 40000u - 8192u) << "a block read needs not move the window";
    std::vector<unsigned char> single = shown_one_by_one(0, length);
    for (uint64_t i = 0; i < length; ++i)
        ASSERT_EQ(blocks[i], single[i]) << "offset " << i;
    for (uint64_t i = length; i < blocks.size(); ++i)
        ASSERT_EQ(blocks[i], 0) << "offset " << i;
    EXPECT_EQ(blocks[50000], static_cast<unsigned char>(50000 ^ 0x5A));
}

TEST(GetBytes, ShortBlocksLookEveryOffsetUpAndStillAgree) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 70000));
    for (uint64_t o = 60000; o < 60040; ++o)
        mod_table_set(o, 0xF0); // more entries than a block
    for (uint64_t start : {uint64_t{59990}, uint64_t{60005}, uint64_t{16380}}) {
        get_byte(0);
        unsigned char block[24];
        get_bytes(start, block, sizeof block);
        std::vector<unsigned char> single = shown_one_by_one(start, sizeof block);
        for (size_t i = 0; i < sizeof block; ++i)
            ASSERT_EQ(block[i], single[i]) << "offset " << start + i;
    }
}

TEST(GetBytes, FetchTellsHowManyBytesTheFileHeld) {
    DataSandbox sandbox;
    TempDir dir;
    open_paged(dir.file("f", 30000));
    std::vector<unsigned char> out(5000);
    size_t held = 0;
    ASSERT_EQ(filebuff_fetch(27000, out.data(), out.size(), &held), 0);
    EXPECT_EQ(held, 3000u);
    EXPECT_EQ(out[2999], pattern(29999));
    EXPECT_EQ(out[3000], 0);
}

TEST(GetBytes, WholeFileModeCopiesTheBuffer) {
    DataSandbox sandbox;
    Globals.buffered = 1;
    Globals.filesize = 9;
    Globals.buf_size = 10;
    buffer.assign(10 + 1024 + 1, 0);
    for (int i = 0; i < 10; ++i)
        buffer[static_cast<size_t>(i)] = static_cast<unsigned char>(i + 1);
    set_file_window(nullptr, 0, 9);
    unsigned char out[12];
    get_bytes(0, out, sizeof out);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(out[i], i + 1);
    EXPECT_EQ(out[10], 0);
    EXPECT_EQ(out[11], 0);
}

TEST(WriteModTable, WritesEveryEntryAtItsOffsetAndEmptiesTheTable) {
    DataSandbox sandbox;
    TempDir dir;
    std::string path = dir.file("f", 3000);
    for (uint64_t o : {uint64_t{0}, uint64_t{1009}, uint64_t{2018}, uint64_t{2999}})
        mod_table_set(o, 0xEE);
    FILE *f = fopen(path.c_str(), "r+b");
    ASSERT_EQ(write_mod_table(f), 0);
    fclose(f);
    EXPECT_EQ(mod_table_entries, 0u);
    f = fopen(path.c_str(), "rb");
    for (uint64_t o = 0; o < 3000; ++o) {
        int expected = (o == 0 || o == 1009 || o == 2018 || o == 2999) ? 0xEE : pattern(o);
        ASSERT_EQ(fgetc(f), expected) << "offset " << o;
    }
    EXPECT_EQ(fgetc(f), EOF);
    fclose(f);
}

TEST(WriteModTable, FailedWriteKeepsTheEntries) {
    DataSandbox sandbox;
    mod_table_set(3, 0x33);
    mod_table_set(4, 0x44);
    FILE *full = fopen("/dev/full", "r+b");
    ASSERT_NE(full, nullptr);
    errno = 0;
    EXPECT_EQ(write_mod_table(full), -1);
    EXPECT_EQ(errno, ENOSPC);
    fclose(full);
    EXPECT_EQ(mod_table_entries, 2u) << "the edits must survive a failed save";
}
