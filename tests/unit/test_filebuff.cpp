// The paged window, block reads and the modification table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "editor_state.h"
#include "morvane.h"

namespace {

unsigned char pattern(uint64_t o) {
    return static_cast<unsigned char>(o * 7 + o / 251);
}

// A file of `length` pattern bytes opened in paged mode as start-up leaves
// it; the editor state is put back afterwards.
struct PagedFile {
    KeptEditorState kept; // first: put back last
    std::string dir, path;
    explicit PagedFile(uint64_t length) {
        char tmpl[] = "/tmp/morvane-filebuff-XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/f";
        FILE* f = fopen(path.c_str(), "wb");
        for (uint64_t o = 0; o < length; ++o)
            fputc(pattern(o), f);
        fclose(f);
        f = fopen(path.c_str(), "rb");
        Globals.buffered = 0;
        Globals.file_state = 0;
        Globals.buf_size = 16384;
        Globals.filename = path;
        Globals.filesize = length - 1;
        buffer.assign(16385, 0);
        size_t n = fread(buffer.data(), 1, 16384, f);
        set_file_window(f, 0, n - 1);
        init_mod_table();
    }
    ~PagedFile() {
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        std::filesystem::remove_all(dir);
    }
};

// Changes byte o as filebuff_modify stores it.
void modify(uint64_t o, unsigned char v) {
    get_byte(o);
    buffer[o - Globals.buf_front] = v;
    mod_table_set(o, v);
}

} // namespace

TEST(ModTable, SetReplacesRemoveAndGetLeaveAbsentOffsetsAlone) {
    init_mod_table();
    mod_table_set(42, 0x11);
    mod_table_set(42, 0x22);
    EXPECT_EQ(mod_table_entries, 1u);
    unsigned char v = 0x5A;
    EXPECT_EQ(mod_table_get(43, &v), -1);
    EXPECT_EQ(v, 0x5A) << "a miss must not touch the out byte";
    ASSERT_EQ(mod_table_get(42, &v), 0);
    EXPECT_EQ(v, 0x22);
    mod_table_remove(43);
    mod_table_remove(42 + MOD_TABLE_BUCKETS); // same bucket, no entry
    EXPECT_EQ(mod_table_entries, 1u);
    mod_table_remove(42);
    EXPECT_EQ(mod_table_get(42, nullptr), -1);
    EXPECT_EQ(mod_table_entries, 0u);
}

TEST(ModTable, OffsetsSharingABucketAreIndependent) {
    init_mod_table();
    mod_table_set(5, 0x05);
    mod_table_set(1014, 0x14);
    unsigned char v;
    mod_table_remove(5);
    ASSERT_EQ(mod_table_get(1014, &v), 0);
    EXPECT_EQ(v, 0x14);
    mod_table_set(5, 0x55);
    mod_table_remove(1014);
    ASSERT_EQ(mod_table_get(5, &v), 0);
    EXPECT_EQ(v, 0x55);
    EXPECT_EQ(mod_table_get(1014, nullptr), -1);
    clear_mod_table();
    EXPECT_EQ(mod_table_get(5, nullptr), -1);
    EXPECT_EQ(mod_table_entries, 0u);
}

TEST(Window, MovesToCentreTheRequestedByteAndStopsAtTheFileStart) {
    PagedFile file(40000);
    EXPECT_EQ(get_byte(20000), pattern(20000));
    EXPECT_EQ(Globals.buf_front, 11808u);
    EXPECT_EQ(Globals.buf_end, 28191u);
    EXPECT_EQ(buffer[16383], pattern(28191));
    EXPECT_EQ(get_byte(5000), pattern(5000));
    EXPECT_EQ(Globals.buf_front, 0u);
    EXPECT_EQ(Globals.buf_end, 16383u);
    EXPECT_EQ(get_byte(39999), pattern(39999));
    EXPECT_EQ(Globals.buf_front, 39999u - 8192);
    for (uint64_t i = 40000 - Globals.buf_front; i < 16384; ++i)
        ASSERT_EQ(buffer[i], 0) << "past the end of the file, index " << i;
    EXPECT_EQ(load_page(), 8193u) << "load_page counts the bytes the file had";
}

TEST(Window, TableIsLaidOverEveryPageReadUnlessReadOnly) {
    PagedFile file(60000);
    modify(20000, 0xAB);
    mod_table_set(50000, 0xCD); // not in the window when set
    get_byte(100);
    EXPECT_EQ(get_byte(20000), 0xAB);
    EXPECT_EQ(get_byte(20001), pattern(20001));
    EXPECT_EQ(get_byte(50000), 0xCD);
    Globals.file_state = 2;
    get_byte(100);
    EXPECT_EQ(get_byte(50000), pattern(50000)) << "read-only: the file as it is";
}

TEST(Window, NeverWrapsNorClaimsMoreThanTheBuffer) {
    PagedFile file(100);
    Globals.filesize = UINT64_MAX; // a device that reports no size
    EXPECT_EQ(get_byte(UINT64_MAX - 5), 0);
    EXPECT_EQ(Globals.buf_end, UINT64_MAX);
    EXPECT_EQ(Globals.buf_front, UINT64_MAX - 16383);
    EXPECT_EQ(get_byte(10), pattern(10));
    set_file_window(Globals.fp, 0, UINT64_MAX); // "bytes read - 1" after reading nothing
    EXPECT_EQ(Globals.buf_end, 16383u);
}

TEST(Window, FileGrownSinceOpeningShowsAsItWasOpened) {
    PagedFile file(100);
    FILE* more = fopen(file.path.c_str(), "ab");
    fputs("grown", more);
    fclose(more);
    get_byte(30000); // away and back: the page is read again
    EXPECT_EQ(get_byte(99), pattern(99));
    EXPECT_EQ(get_byte(100), 0);
}

TEST(GetBytes, MatchesGetByteAcrossPagesWithModifiedBytes) {
    const uint64_t length = 100000;
    PagedFile file(length);
    for (uint64_t o : {0, 16383, 16384, 50000, 73111, 99999})
        modify(o, static_cast<unsigned char>(o ^ 0x5A));
    for (uint64_t o = 60000; o < 60040; ++o)
        mod_table_set(o, 0xF0);
    get_byte(40000); // blocks run before, through and after the window
    std::vector<unsigned char> blocks(length + 300, 0xEE);
    size_t held = 0;
    ASSERT_EQ(filebuff_fetch(0, blocks.data(), blocks.size(), &held), 0);
    EXPECT_EQ(held, length);
    unsigned char small[24]; // fewer bytes than entries: looked up one by one
    get_bytes(59990, small, sizeof small);
    EXPECT_EQ(Globals.buf_front, 40000u - 8192) << "block reads need not move the window";
    for (uint64_t i = 0; i < length; ++i)
        ASSERT_EQ(blocks[i], get_byte(i)) << "offset " << i;
    for (uint64_t i = length; i < blocks.size(); ++i)
        ASSERT_EQ(blocks[i], 0) << "offset " << i;
    for (uint64_t i = 0; i < sizeof small; ++i)
        ASSERT_EQ(small[i], get_byte(59990 + i));
}

TEST(GetBytes, WholeFileModeCopiesTheBuffer) {
    KeptEditorState kept;
    Globals.buffered = 1;
    Globals.filesize = 9;
    buffer.assign(10 + 1024 + 1, 0);
    for (int i = 0; i < 10; ++i)
        buffer[static_cast<size_t>(i)] = static_cast<unsigned char>(i + 1);
    set_file_window(nullptr, 0, 9);
    unsigned char out[12];
    get_bytes(0, out, sizeof out);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(out[i], i < 10 ? i + 1 : 0);
}

TEST(WriteModTable, WritesEveryEntryOrKeepsThemAllOnFailure) {
    PagedFile file(3000);
    for (uint64_t o : {0, 1009, 2018, 2999})
        mod_table_set(o, 0xEE);
    FILE* full = fopen("/dev/full", "r+b");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(write_mod_table(full), -1);
    EXPECT_EQ(errno, ENOSPC);
    fclose(full);
    EXPECT_EQ(mod_table_entries, 4u) << "the edits must survive a failed save";
    FILE* f = fopen(file.path.c_str(), "r+b");
    ASSERT_EQ(write_mod_table(f), 0);
    EXPECT_EQ(mod_table_entries, 0u);
    rewind(f);
    for (uint64_t o = 0; o < 3000; ++o) {
        bool changed = o == 0 || o == 1009 || o == 2018 || o == 2999;
        ASSERT_EQ(fgetc(f), changed ? 0xEE : pattern(o)) << "offset " << o;
    }
    EXPECT_EQ(fgetc(f), EOF);
    fclose(f);
}
