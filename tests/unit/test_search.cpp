// Searching: the pattern search over the file, the text and byte inputs and
// the Search dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

std::vector<unsigned char> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// The whole file in `buffer`, as -b holds it.
void hold_whole_file(const std::vector<unsigned char>& data) {
    load_whole_file(data);
    Globals.file_state = 0;
    Globals.ebcdic = 0;
    Globals.print_set = 1;
    Globals.spacing = 1;
    cursor_loc = 0;
    cursor_x = 10;
    cursor_y = 1;
}

// The first match of `pat` at or after `start` within `count` bytes, by
// plain comparison at every position.
SearchResult reference_search(const std::vector<unsigned char>& data, const std::string& pat,
                              uint64_t start, uint64_t count) {
    uint64_t m = pat.size();
    for (uint64_t p = 0; m && p + m <= count; ++p)
        if (memcmp(data.data() + start + p, pat.data(), m) == 0) return {1, p};
    return {0, 0};
}

SearchResult find(const std::string& pat, uint64_t start, uint64_t count) {
    return find_pattern(reinterpret_cast<const unsigned char*>(pat.data()), start, pat.size(),
                        count);
}

// From the byte after the cursor to the last byte, as the dialog looks.
SearchResult find_after_cursor(const std::string& pat) {
    if (cursor_loc >= Globals.filesize) return {0, 0};
    return find(pat, cursor_loc + 1, Globals.filesize - cursor_loc);
}

} // namespace

TEST(SearchShiftTable, EachByteShiftsByItsDistanceFromThePatternEnd) {
    auto t = search_shift_table(reinterpret_cast<const unsigned char*>("abcab"), 5);
    EXPECT_EQ(t['a'], 1u);
    EXPECT_EQ(t['b'], 3u) << "the last byte itself does not count";
    EXPECT_EQ(t['c'], 2u);
    EXPECT_EQ(t['z'], 5u);
    EXPECT_EQ(t[0], 5u);

    auto only_last = search_shift_table(reinterpret_cast<const unsigned char*>("aab"), 3);
    EXPECT_EQ(only_last['a'], 1u);
    EXPECT_EQ(only_last['b'], 3u);

    auto one = search_shift_table(reinterpret_cast<const unsigned char*>("q"), 1);
    for (uint64_t s : one)
        ASSERT_EQ(s, 1u);
}

TEST(FindPattern, RepeatedSearchesWalkThroughOverlappingMatches) {
    KeptEditorState keep;
    hold_whole_file(bytes("aaaa"));
    SearchResult r = find_after_cursor("aa");
    ASSERT_EQ(r.found, 1);
    cursor_loc += 1 + r.offset;
    EXPECT_EQ(cursor_loc, 1u);
    r = find_after_cursor("aa");
    ASSERT_EQ(r.found, 1);
    cursor_loc += 1 + r.offset;
    EXPECT_EQ(cursor_loc, 2u);
    EXPECT_EQ(find_after_cursor("aa").found, 0);
}

TEST(FindPattern, LooksOnlyAfterTheCursorAndNeverPastTheLastByte) {
    KeptEditorState keep;
    hold_whole_file(bytes("abXab"));
    SearchResult r = find_after_cursor("ab");
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.offset, 2u) << "the match at the cursor itself is skipped";
    // Ending on the last byte is found; reaching one beyond it is not, even
    // though the buffer holds zeros there.
    EXPECT_EQ(find("ab", 1, 4).found, 1);
    EXPECT_EQ(find(std::string("b\0", 2), 1, 4).found, 0);
    cursor_loc = 3;
    EXPECT_EQ(find_after_cursor("b").offset, 0u);
    EXPECT_EQ(find_after_cursor("b").found, 1);
    cursor_loc = 4;
    EXPECT_EQ(find_after_cursor("b").found, 0);
}

TEST(FindPattern, ComparesBytesExactly) {
    KeptEditorState keep;
    hold_whole_file(bytes("xxABCxx"));
    EXPECT_EQ(find("abc", 0, 7).found, 0);
    EXPECT_EQ(find("ABC", 0, 7).offset, 2u);
    EXPECT_EQ(find("", 0, 7).found, 0) << "an empty pattern is never found";
    EXPECT_EQ(find("xxABCxxy", 0, 7).found, 0) << "longer than the range";
    EXPECT_EQ(find("C", 0, 7).offset, 4u);
}

TEST(FindPattern, GivesThePlainFirstMatchAcrossBlocksOfAnyData) {
    KeptEditorState keep;
    // Random bytes from a small alphabet, so that partial matches abound,
    // with long runs of one byte that make the rare-byte scan give way to
    // the shift scan, and unique markers around the block boundaries.
    const uint64_t mib = 1u << 20;
    std::mt19937 rng(7);
    std::vector<unsigned char> data(2 * mib + 300000);
    for (auto& b : data)
        b = static_cast<unsigned char>("abcd"[rng() % 4]);
    std::fill(data.begin() + 600000, data.begin() + 1200000, 'a');
    std::fill(data.begin() + 2000000, data.begin() + 2100000, 0);
    // One marker whose bytes occur nowhere else, searched for from starts
    // that put it just before, across and just after a block boundary.
    const std::string marker = "QRSTUVWXe";
    const uint64_t place = 2 * mib - 3;
    memcpy(&data[place], marker.data(), marker.size());
    hold_whole_file(data);

    std::vector<std::string> patterns = {
        "abcdabcd", "dddddd", "aaaab", "cb", std::string("\0\0\0a", 4), "abcdabcdabca", marker};
    std::vector<uint64_t> starts = {0, 5, mib - 2, mib + 1};
    for (uint64_t before : {mib - 9, mib - 3, mib - 1, mib, mib + 2})
        starts.push_back(place - before);
    for (int i = 0; i < 4; ++i)
        starts.push_back(rng() % mib);
    for (const std::string& pat : patterns) {
        for (uint64_t start : starts) {
            uint64_t count = data.size() - start;
            SearchResult want = reference_search(data, pat, start, count);
            SearchResult got = find(pat, start, count);
            EXPECT_EQ(got.found, want.found) << "'" << pat << "' from " << start;
            EXPECT_EQ(got.offset, want.offset) << "'" << pat << "' from " << start;
        }
    }
    // A match must lie wholly inside the counted range.
    for (uint64_t before : {mib - 9, mib - 3, mib - 1, mib, mib + 2}) {
        EXPECT_EQ(find(marker, place - before, before + 8).found, 0) << before;
        SearchResult r = find(marker, place - before, before + 9);
        EXPECT_EQ(r.found, 1) << before;
        EXPECT_EQ(r.offset, before);
    }
}

// Bytes of every value: the rare-byte scan gives way to the pair scan within
// a few KiB of each start, and matches planted at every offset of its
// vectors are found one after another, both ways, where a plain scan finds them.
TEST(FindPattern, WalksEveryMatchInRandomBytesForwardsAndBackwards) {
    KeptEditorState keep;
    std::mt19937 rng(23);
    std::vector<unsigned char> data(6u << 20);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    const std::string pat = "\x9c\x11\xe7\x42\x05\xd3";
    for (uint64_t k = 1; k < 150; ++k)
        memcpy(&data[k * 40000 + k * 37 % 251], pat.data(), pat.size());
    hold_whole_file(data);

    int walked = 0;
    for (uint64_t start = 0;; ++walked) {
        SearchResult want = reference_search(data, pat, start, data.size() - start);
        SearchResult got = find(pat, start, data.size() - start);
        ASSERT_EQ(got.found, want.found) << "forwards from " << start;
        if (!want.found) break;
        ASSERT_EQ(got.offset, want.offset) << "forwards from " << start;
        start += got.offset + 1;
    }
    EXPECT_EQ(walked, 149);

    walked = 0;
    for (uint64_t count = data.size();; ++walked) { // the last match wholly below `count`
        SearchResult want{0, 0};
        for (uint64_t p = count - pat.size() + 1; p-- > 0;)
            if (memcmp(&data[p], pat.data(), pat.size()) == 0) {
                want = {1, p};
                break;
            }
        SearchResult got = find_pattern_backward(reinterpret_cast<const unsigned char*>(pat.data()),
                                                 0, pat.size(), count);
        ASSERT_EQ(got.found, want.found) << "backwards below " << count;
        if (!want.found) break;
        ASSERT_EQ(got.offset, want.offset) << "backwards below " << count;
        count = got.offset + pat.size() - 1;
    }
    EXPECT_EQ(walked, 149);
}

TEST(FindPattern, RunsOfOneByteDoNotHideAMatchAtTheirEnd) {
    KeptEditorState keep;
    std::vector<unsigned char> data(3u << 20, 'a');
    data[(3u << 20) - 2] = 'b';
    std::vector<unsigned char> zeros(3u << 20, 0);
    zeros.back() = 1;
    hold_whole_file(data);
    EXPECT_EQ(find("aab", 0, data.size()).offset, (3u << 20) - 4);
    hold_whole_file(zeros);
    EXPECT_EQ(find(std::string("\0\0\x01", 3), 0, zeros.size()).offset, (3u << 20) - 3);
}

namespace {

// Paged mode over a real file: the window holds one 16384-byte page.
class PagedSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/morvane-search-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        path_ = name;
        data_.resize(40000);
        for (size_t i = 0; i < data_.size(); ++i)
            data_[i] = static_cast<unsigned char>('0' + i % 10);
        memcpy(&data_[16380], "NEEDLE", 6);  // across the first page boundary
        memcpy(&data_[30000], "OLDTXT", 6);  // on disk, overwritten below
        memcpy(&data_[39994], "TAILEND", 6); // ends on the last byte
        ASSERT_EQ(write(fd, data_.data(), data_.size()), static_cast<ssize_t>(data_.size()));
        close(fd);

        Globals.buffered = 0;
        Globals.file_state = 0;
        Globals.buf_size = 16384;
        Globals.filesize = data_.size() - 1;
        Globals.filename = path_;
        Globals.fp = fopen(path_.c_str(), "rb");
        ASSERT_NE(Globals.fp, nullptr);
        buffer.assign(16385, 0);
        init_mod_table();
        Globals.buf_front = 0;
        Globals.buf_end = 16383;
        load_page();
    }
    void TearDown() override {
        fclose(Globals.fp);
        Globals.fp = nullptr;
        unlink(path_.c_str());
    }

    // An overwrite as editing stores it: in the table and, when the byte is
    // in the window, in the page.
    void modify(uint64_t offset, const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            mod_table_set(offset + i, static_cast<unsigned char>(text[i]));
            if (offset + i >= Globals.buf_front && offset + i <= Globals.buf_end)
                buffer[offset + i - Globals.buf_front] = static_cast<unsigned char>(text[i]);
        }
    }

    KeptEditorState keep_;
    std::string path_;
    std::vector<unsigned char> data_;
};

} // namespace

TEST_F(PagedSearch, FindsAPatternAcrossThePageBoundary) {
    SearchResult r = find("NEEDLE", 1, Globals.filesize);
    ASSERT_EQ(r.found, 1);
    EXPECT_EQ(1 + r.offset, 16380u);
    // A later window position sees the same bytes.
    get_byte(35000);
    r = find("NEEDLE", 100, Globals.filesize - 99);
    EXPECT_EQ(100 + r.offset, 16380u);
}

TEST_F(PagedSearch, SeesModifiedBytesAsShownInsideAndOutsideTheWindow) {
    modify(30000, "NEWTXT"); // the disk's OLDTXT is gone
    modify(16383, "XY");     // straddles the page boundary, half in the window
    EXPECT_EQ(find("OLDTXT", 1, Globals.filesize).found, 0);
    SearchResult r = find("NEWTXT", 1, Globals.filesize);
    ASSERT_EQ(r.found, 1);
    EXPECT_EQ(1 + r.offset, 30000u);
    r = find("NEEXYE", 1, Globals.filesize);
    ASSERT_EQ(r.found, 1);
    EXPECT_EQ(1 + r.offset, 16380u);
    EXPECT_EQ(find("NEEDLE", 1, Globals.filesize).found, 0);
}

TEST_F(PagedSearch, AMatchEndingOnTheLastByteOfTheFileIsFound) {
    SearchResult r = find("TAILEN", 39000, 1000);
    ASSERT_EQ(r.found, 1);
    EXPECT_EQ(39000 + r.offset, 39994u);
    EXPECT_EQ(find("TAILEND", 39000, 1000).found, 0) << "its D lies beyond the file";
}

// Backwards over a paged file of several search blocks, with changes laid
// over its pages, against a plain scan of the bytes as shown.
TEST(FindPatternBackward, GivesThePlainLastMatchOverChangedPagesAndBlocks) {
    const uint64_t mib = 1u << 20;
    std::mt19937 rng(11);
    std::vector<unsigned char> shown(2 * mib + 70000);
    for (auto& b : shown)
        b = static_cast<unsigned char>("abc"[rng() % 3]);
    std::fill(shown.begin() + 1500000, shown.begin() + 1700000, 'a'); // the shift scan's turn
    EditedFile f(shown, false);
    // Changes on page and block boundaries, and at random.
    std::vector<uint64_t> changed = {16383, 16384, mib - 1, mib, 2 * mib - 2, shown.size() - 1};
    for (int i = 0; i < 300; ++i)
        changed.push_back(rng() % shown.size());
    for (uint64_t o : changed) {
        auto v = static_cast<unsigned char>("abcQ"[rng() % 4]);
        f.at(o, 1);
        get_byte(o);
        filebuff_modify(v);
        shown[o] = v;
    }
    // One marker whose bytes occur nowhere else, typed in as a change, and
    // ranges that put the first block's lower end just below, on, inside and
    // just above it (a block holds the window starts of 1 MiB).
    const std::string marker = "RSTUVWXYe";
    const uint64_t place = 300000;
    for (size_t i = 0; i < marker.size(); ++i) {
        f.at(place + i, 1);
        get_byte(place + i);
        filebuff_modify(static_cast<unsigned char>(marker[i]));
        shown[place + i] = static_cast<unsigned char>(marker[i]);
    }
    auto plain_last = [&](const std::string& pat, uint64_t start, uint64_t count) {
        for (uint64_t p = count; p-- > 0;)
            if (p + pat.size() <= count && memcmp(&shown[start + p], pat.data(), pat.size()) == 0)
                return SearchResult{1, p};
        return SearchResult{0, 0};
    };
    std::vector<std::string> patterns = {"Q",   "aQa", "abcabc", "aaaaaaab",
                                         "QQQ", "cQb", "zz",     marker};
    for (int i = 0; i < 6; ++i) { // cut from the shown bytes around changed ones
        uint64_t o = changed[rng() % changed.size()];
        uint64_t at = o > 3 ? o - 3 : 0;
        patterns.emplace_back(shown.begin() + static_cast<long>(at),
                              shown.begin() +
                                  static_cast<long>(std::min<uint64_t>(at + 7, shown.size())));
    }
    std::vector<std::pair<uint64_t, uint64_t>> ranges = {
        {0, shown.size()}, {0, mib + 3}, {17, 2 * mib}, {mib - 5, 12}};
    for (int i = 0; i < 6; ++i) {
        uint64_t start = rng() % shown.size();
        ranges.emplace_back(start, rng() % (shown.size() - start) + 1);
    }
    for (int64_t d : {-10, -9, -8, -1, 0, 1, 2}) // the block's lowest window start: place + d
        ranges.emplace_back(0, static_cast<uint64_t>(static_cast<int64_t>(place) + d) +
                                   marker.size() - 1 + mib);
    for (const std::string& pat : patterns)
        for (auto [start, count] : ranges) {
            SearchResult want = plain_last(pat, start, count);
            SearchResult got = find_pattern_backward(
                reinterpret_cast<const unsigned char*>(pat.data()), start, pat.size(), count);
            EXPECT_EQ(got.found, want.found) << "'" << pat << "' in " << start << "+" << count;
            EXPECT_EQ(got.offset, want.offset) << "'" << pat << "' in " << start << "+" << count;
        }
}

// Forwards over a paged file with changes laid over its pages: matches that
// straddle every 64 KiB boundary (so every boundary of the aligned blocks the
// search reads, whatever their size) are found from starts on and off pages,
// as a plain scan of the bytes as shown finds them.
TEST(FindPattern, PagedForwardSearchCarriesMatchesAcrossAlignedBlocks) {
    const uint64_t step = 1u << 16;
    std::mt19937 rng(13);
    std::vector<unsigned char> shown(20 * step + 999);
    for (auto& b : shown)
        b = static_cast<unsigned char>("ab"[rng() % 2]);
    EditedFile f(shown, false);
    auto change = [&](uint64_t o, unsigned char v) {
        f.at(o, 1);
        get_byte(o);
        filebuff_modify(v);
        shown[o] = v;
    };
    for (uint64_t k = 1; k * step < shown.size(); ++k) {
        change(k * step - 1, 'Q');
        change(k * step + 2, "abQ"[rng() % 3]);
    }
    for (int i = 0; i < 200; ++i)
        change(rng() % shown.size(), "abQ"[rng() % 3]);
    const std::string marker = "RSTUVWXYe"; // its bytes occur nowhere else
    const uint64_t place = 16 * step - 4;
    for (size_t i = 0; i < marker.size(); ++i)
        change(place + i, static_cast<unsigned char>(marker[i]));

    std::vector<std::string> patterns = {"Q", "aQa", "bQab", "ababab", "QQ", marker};
    for (uint64_t k : {uint64_t{3}, uint64_t{9}, uint64_t{17}}) // cut across boundaries
        patterns.emplace_back(shown.begin() + static_cast<long>(k * step - 5),
                              shown.begin() + static_cast<long>(k * step + 6));
    std::vector<uint64_t> starts = {0, 1, 4095, 4096, step - 3, step, place - 1, place, place + 1};
    for (int i = 0; i < 6; ++i)
        starts.push_back(rng() % shown.size());
    for (const std::string& pat : patterns) {
        // Every match of the pattern, once: the first one from a start is
        // then the first of these at or after it that ends in the range.
        std::vector<uint64_t> at;
        for (uint64_t p = 0; p + pat.size() <= shown.size(); ++p)
            if (memcmp(&shown[p], pat.data(), pat.size()) == 0) at.push_back(p);
        for (uint64_t start : starts)
            for (uint64_t count : {shown.size() - start, place + 8 - start, place + 9 - start}) {
                if (start >= shown.size() || count > shown.size() - start || count == 0) continue;
                auto it = std::lower_bound(at.begin(), at.end(), start);
                bool want = it != at.end() && *it + pat.size() <= start + count;
                SearchResult got = find(pat, start, count);
                EXPECT_EQ(got.found, want ? 1 : 0)
                    << "'" << pat << "' in " << start << "+" << count;
                if (want) {
                    EXPECT_EQ(got.offset, *it - start) << "'" << pat << "' from " << start;
                }
            }
    }
}

TEST(TextSearchPattern, DropsTrailingBlanksAndKeepsTheOthers) {
    std::string field = "ab" + std::string(49, ' ');
    EXPECT_EQ(text_search_pattern(field, 0).bytes, bytes("ab"));
    EXPECT_FALSE(text_search_pattern(field, 0).only_blanks);
    EXPECT_EQ(text_search_pattern("  a b  " + std::string(44, ' '), 0).bytes, bytes("  a b"));
    // Blanks that follow a Control-U stay trailing blanks.
    EXPECT_EQ(text_search_pattern(std::string("ab  ") + std::string(47, '\0'), 0).bytes,
              bytes("ab"));
}

TEST(TextSearchPattern, BlanksOnlyDifferFromAnEmptyText) {
    TextPattern blanks = text_search_pattern(std::string(51, ' '), 0);
    EXPECT_TRUE(blanks.bytes.empty());
    EXPECT_TRUE(blanks.only_blanks);
    TextPattern cancelled = text_search_pattern(std::string(1, '\0') + std::string(50, ' '), 0);
    EXPECT_TRUE(cancelled.bytes.empty());
    EXPECT_FALSE(cancelled.only_blanks);
}

TEST(TextSearchPattern, EbcdicTranslatesAndStopsAtAFullStop) {
    EXPECT_EQ(text_search_pattern("AB" + std::string(49, ' '), 1).bytes,
              (std::vector<unsigned char>{0xC1, 0xC2}));
    EXPECT_EQ(text_search_pattern("A.B" + std::string(48, ' '), 1).bytes,
              (std::vector<unsigned char>{0xC1}));
    EXPECT_EQ(text_search_pattern("a 1" + std::string(48, ' '), 1).bytes,
              (std::vector<unsigned char>{0x81, 0x40, 0xF1}));
    EXPECT_EQ(text_search_pattern("A.B" + std::string(48, ' '), 0).bytes, bytes("A.B"));
}

namespace {

// Curses on a null terminal with a 60x10 popup like the dialog's.
class HexBytes : public ::testing::Test {
  protected:
    void SetUp() override { popup_ = popup_window(60, 10); }
    void TearDown() override { delwin(popup_); }
    HexInput* run(const std::string& keys) {
        screen_.feed(keys);
        return read_hex_bytes(popup_, 16, 60);
    }
    std::string row(int r) { return CursesScreen::text(popup_, r); }

    KeptEditorState keep_;
    CursesScreen screen_{24, 80};
    WINDOW* popup_ = nullptr;
};

} // namespace

TEST_F(HexBytes, BackspaceTakesBackOneDigitAtATime) {
    HexInput* in = run("41\1772\n");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->len, 1);
    EXPECT_EQ(in->bytes[0], 0x42);
    EXPECT_EQ(row(6).substr(7, 3), "42 ");
    EXPECT_EQ(row(3).substr(7, 8), "text:  B") << "echo at col + 7";

    in = run("41\177\1773"
             "5\n");
    EXPECT_EQ(in->len, 1);
    EXPECT_EQ(in->bytes[0], 0x35);

    in = run("\177\b"
             "61\n"); // nothing to take back at the start
    EXPECT_EQ(in->len, 1);
    EXPECT_EQ(in->bytes[0], 0x61);
}

TEST_F(HexBytes, AByteStillAwaitingItsLowDigitIsNotCounted) {
    HexInput* in = run("4142"
                       "5\n");
    EXPECT_EQ(in->len, 2);
    EXPECT_EQ(in->bytes[0], 0x41);
    EXPECT_EQ(in->bytes[1], 0x42);
    EXPECT_EQ(row(6).substr(7, 9), "41 42 50 ");
    in = run("41\177\n");
    EXPECT_EQ(in->len, 0) << "the backspaced byte waits for its low digit again";
}

TEST_F(HexBytes, TheSeventeenthByteIsRefused) {
    std::string keys;
    for (int i = 0; i < 16; ++i)
        keys += "a" + std::string(1, "0123456789abcdef"[i]);
    HexInput* in = run(keys + "77\n");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->len, 16);
    EXPECT_EQ(in->bytes.size(), 16u);
    EXPECT_EQ(in->bytes[15], 0xAF);
    EXPECT_EQ(row(6).substr(7, 50), "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF   ");
}

TEST_F(HexBytes, CancelKeysGiveNothingAndOtherKeysAreIgnored) {
    for (std::string key : {"\x07", "\x18", "\x1b", "\x03"})
        EXPECT_EQ(run("4" + key), nullptr);
    HexInput* in = run("4xg-1\n");
    EXPECT_EQ(in->bytes[0], 0x41);
}

TEST_F(HexBytes, EchoShowsTheByteAsTheTextPaneWould) {
    run("0A41\n");
    EXPECT_EQ(row(3).substr(13, 3), " .A");
    Globals.ebcdic = 1;
    run("C1C2\n");
    EXPECT_EQ(row(3).substr(14, 2), "AB");
}

namespace {

// The Search dialog over "wxyz..." held whole, the cursor on the w.
class SearchDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        hold_whole_file(bytes("wxyzaaaa"));
        meta(stdscr, TRUE); // a pipe has no tty modes: ask for all eight bits
        typeahead(-1);      // queued keys must not hold back the screen updates we read
        refresh();          // as start-up does: a first read_key would repaint stdscr over all
    }
    void run(int find_next, const std::string& keys) {
        screen_.feed(keys);
        search(find_next);
    }
    void set_pattern(const std::string& p) { last_pattern = bytes(p); }
    // The 60x10 popup sits at screen row 7, column 10.
    static std::string popup_row(int r) { return CursesScreen::text(curscr, 7 + r).substr(10, 60); }
    static bool shows_not_found() {
        return popup_row(6).substr(19, 22) == "** String not found **";
    }

    KeptEditorState keep_;
    CursesScreen screen_{24, 80};
};

} // namespace

TEST_F(SearchDialog, FindNextBeforeAnySearchDoesNothing) {
    run(1, "");
    EXPECT_EQ(cursor_loc, 0u);
    EXPECT_EQ(search_used, 0);
    EXPECT_FALSE(last_pattern);
    EXPECT_EQ(current_popup, nullptr);
}

TEST_F(SearchDialog, ACancelledTextGivesAnEmptyPatternThatIsNeverFound) {
    run(0, "a\x07"
           "k");
    EXPECT_TRUE(shows_not_found());
    ASSERT_TRUE(last_pattern);
    EXPECT_EQ(last_pattern_len(), 0);
    EXPECT_EQ(search_used, 1);
    run(1, "k");
    EXPECT_TRUE(shows_not_found());
    EXPECT_EQ(cursor_loc, 0u);
}

TEST_F(SearchDialog, BlanksOnlyEndTheDialogSilently) {
    set_pattern("z");
    run(0, "a   \n");
    EXPECT_FALSE(shows_not_found());
    EXPECT_EQ(last_pattern_len(), 0) << "the old pattern is gone";
    run(1, "k");
    EXPECT_TRUE(shows_not_found());
    EXPECT_EQ(cursor_loc, 0u);
}

TEST_F(SearchDialog, EbcdicTextIsSearchedForInEbcdic) {
    hold_whole_file({0x40, 0xC1, 0x41, 0x42, 0xC1, 0xC2, 0x00});
    Globals.ebcdic = 1;
    run(0, "aAB\n");
    EXPECT_EQ(cursor_loc, 4u);
    EXPECT_EQ(*last_pattern, (std::vector<unsigned char>{0xC1, 0xC2}));
    cursor_loc = 0;
    run(0, "aA\xC9"
           "B\n"); // a key with no EBCDIC byte is refused
    EXPECT_EQ(cursor_loc, 4u);
}

TEST_F(SearchDialog, AByteSearchKeepsItsPatternOnlyWhenFound) {
    hold_whole_file(bytes("..AB..AB"));
    set_pattern("zz");
    run(0, "h4142\n");
    EXPECT_EQ(cursor_loc, 2u);
    EXPECT_EQ(*last_pattern, bytes("AB"));
    EXPECT_EQ(hex_input.len, 0);
    run(0, "h4143\nk");
    EXPECT_TRUE(shows_not_found());
    EXPECT_EQ(*last_pattern, bytes("AB")) << "a failed byte search keeps the pattern";
    run(1, "");
    EXPECT_EQ(cursor_loc, 6u);
    run(0, "h\x1b");
    EXPECT_EQ(*last_pattern, bytes("AB")) << "a cancelled byte search too";
}

TEST_F(SearchDialog, CancellingTheMenuChangesNothing) {
    set_pattern("z");
    for (std::string key : {"\x1b", "\x07", "\x18", "\x03"}) {
        run(0, key);
        EXPECT_EQ(cursor_loc, 0u);
        EXPECT_EQ(search_used, 0);
    }
    EXPECT_EQ(popup_row(1).substr(27, 6), "Search");
    EXPECT_EQ(popup_row(5).substr(19, 22), "search for text string");
    EXPECT_TRUE(CursesScreen::attrs(curscr, 7 + 5, 10 + 19) & A_REVERSE);
    EXPECT_FALSE(CursesScreen::attrs(curscr, 7 + 7, 10 + 20) & A_REVERSE);
    EXPECT_EQ(CursesScreen::text(Globals.help_win, 0).substr(0, 66),
              "^G/^X/Escape Cancel   F/N Find Next   A Text Search   H Hex Search");
}

namespace {

enum class Ran { find_next, text, bytes };

// Runs the dialog with `menu_keys` and tells which action they chose. The
// keys that follow end every action: Find Next finds the z, the text search
// looks for "78" (not there; the y ends the message) and the byte search for
// 0x78, the x.
Ran chosen_by(const std::string& menu_keys, int used) {
    KeptEditorState keep;
    CursesScreen screen(24, 80);
    hold_whole_file(bytes("wxyz"));
    last_pattern = bytes("z");
    search_used = used;
    screen.feed(menu_keys + "78\ny\n");
    search(0);
    if (cursor_loc == 3) return Ran::find_next;
    if (cursor_loc == 1) return Ran::bytes;
    EXPECT_TRUE(last_pattern && *last_pattern == bytes("78"));
    return Ran::text;
}

const std::string down = CursesScreen::key(KEY_DOWN);
const std::string up = CursesScreen::key(KEY_UP);

} // namespace

TEST(SearchMenu, BeforeTheFirstSearchTheArrowsSkipFindNext) {
    EXPECT_EQ(chosen_by("\n", 0), Ran::text);
    EXPECT_EQ(chosen_by(down + "\n", 0), Ran::bytes);
    EXPECT_EQ(chosen_by(down + down + "\n", 0), Ran::text);
    EXPECT_EQ(chosen_by("jj\n", 0), Ran::text);
    EXPECT_EQ(chosen_by(up + "\n", 0), Ran::bytes);
    EXPECT_EQ(chosen_by("K"
                        "k\n",
                        0),
              Ran::text);
}

TEST(SearchMenu, AfterAUseTheArrowsCycleThroughAllThree) {
    EXPECT_EQ(chosen_by("\n", 1), Ran::find_next);
    EXPECT_EQ(chosen_by(down + "\n", 1), Ran::text);
    EXPECT_EQ(chosen_by(down + down + "\n", 1), Ran::bytes);
    EXPECT_EQ(chosen_by(down + "J" + down + "\n", 1), Ran::find_next);
    EXPECT_EQ(chosen_by(up + "\n", 1), Ran::bytes);
}

TEST(SearchMenu, LettersChooseWhateverIsHighlighted) {
    EXPECT_EQ(chosen_by(down + "f", 1), Ran::find_next);
    EXPECT_EQ(chosen_by("N", 0), Ran::find_next);
    EXPECT_EQ(chosen_by("A", 1), Ran::text);
    EXPECT_EQ(chosen_by(down + "H", 0), Ran::bytes);
    EXPECT_EQ(chosen_by("?\n", 0), Ran::text) << "other keys are ignored";
}
