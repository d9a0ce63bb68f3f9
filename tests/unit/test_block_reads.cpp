// The block readers (the searches, the text view's scans, the save's copy)
// read the file at page-aligned offsets into page-aligned memory: every
// pread they make is recorded through the link's --wrap of pread64.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "editing.h"

#if defined(__linux__) && defined(__GLIBC__)

namespace {

struct Read {
    off_t at;
    uintptr_t into;
    size_t len;
};
bool recording = false;
std::vector<Read> reads;

} // namespace

extern "C" ssize_t __real_pread64(int fd, void* buf, size_t n, off_t at);
extern "C" ssize_t __wrap_pread64(int fd, void* buf, size_t n, off_t at) {
    if (recording) reads.push_back({at, reinterpret_cast<uintptr_t>(buf), n});
    return __real_pread64(fd, buf, n, at);
}

namespace {

// The reads `work` makes; all must be page-aligned, and there must be some.
::testing::AssertionResult reads_aligned(const char* what, const std::function<void()>& work) {
    reads.clear();
    recording = true;
    work();
    recording = false;
    if (reads.empty()) return ::testing::AssertionFailure() << what << " read nothing";
    const uint64_t page = io_page_size();
    for (const Read& r : reads)
        if (static_cast<uint64_t>(r.at) % page != 0 || r.into % page != 0)
            return ::testing::AssertionFailure()
                   << what << " read " << r.len << " bytes at offset " << r.at
                   << " into an address " << r.into % page << " bytes into a page";
    return ::testing::AssertionSuccess() << reads.size() << " reads";
}

} // namespace

TEST(BlockReads, SearchesTextViewAndSaveCopyReadWholePagesIntoAlignedMemory) {
    // A long line of letters with changes here and there, so that every
    // reader has several blocks to read and a table to lay over them.
    std::mt19937 rng(5);
    EditingFixture::Bytes bytes(3 * 1024 * 1024 + 4321);
    for (auto& b : bytes)
        b = static_cast<unsigned char>('a' + rng() % 26);
    EditedFile f(bytes, false);
    for (uint64_t o : {uint64_t{4095}, uint64_t{262144}, uint64_t{1000003}, bytes.size() - 1}) {
        f.at(o, 1);
        get_byte(o);
        filebuff_modify('Q');
        bytes[o] = 'Q';
    }
    const std::string absent = "0123456";
    const auto* pat = reinterpret_cast<const unsigned char*>(absent.data());
    const uint64_t start = 12345; // not on a page
    EXPECT_TRUE(reads_aligned("the forward search", [&] {
        EXPECT_EQ(find_pattern(pat, start, absent.size(), bytes.size() - start).found, 0);
    }));
    EXPECT_TRUE(reads_aligned("the backward search", [&] {
        EXPECT_EQ(find_pattern_backward(pat, start, absent.size(), bytes.size() - start - 7).found,
                  0);
    }));
    f.at(bytes.size() - 3, 5);
    EXPECT_TRUE(reads_aligned("the text view's scan back to the line start",
                              [&] { EXPECT_TRUE(text_view_page(first_shown()).has_value()); }));
    Globals.ebcdic = 1; // line ends are 0x2E, looked for forwards from the line start
    EXPECT_TRUE(reads_aligned("the text view's scans in EBCDIC",
                              [&] { EXPECT_TRUE(text_view_page(first_shown()).has_value()); }));
    Globals.ebcdic = 0;
    const std::string copy = f.dir + "/copy";
    EXPECT_TRUE(reads_aligned("the save under a new name",
                              [&] { ASSERT_EQ(save_file_as(copy, nullptr), 1); }));
    FILE* saved = fopen(copy.c_str(), "rb");
    ASSERT_NE(saved, nullptr);
    EditingFixture::Bytes back(bytes.size() + 1);
    EXPECT_EQ(fread(back.data(), 1, back.size(), saved), bytes.size());
    fclose(saved);
    back.resize(bytes.size());
    EXPECT_EQ(back, bytes) << "the copy holds the file as shown";
}

// The masked pattern's search both ways and its count, from a start that is
// not on a page, over several blocks.
TEST(BlockReads, MaskedPatternScansReadWholePagesIntoAlignedMemory) {
    EditingFixture::Bytes bytes(1024 * 1024 + 777, 'a');
    EditedFile f(bytes, false);
    const BytePattern absent{{'0', 0, '1'}, {0xFF, 0, 0xFF}};
    const uint64_t start = 12345;
    const uint64_t count = bytes.size() - start;
    EXPECT_TRUE(reads_aligned("the masked forward search",
                              [&] { EXPECT_EQ(find_masked(absent, start, count).found, 0); }));
    EXPECT_TRUE(reads_aligned("the masked backward search", [&] {
        EXPECT_EQ(find_masked_backward(absent, start, count).found, 0);
    }));
    EXPECT_TRUE(reads_aligned("the count", [&] {
        EXPECT_EQ(count_matches(BytePattern{{'A', 'a'}, {0xDF, 0xFF}}, start, count), count - 1);
    }));
}

#endif
