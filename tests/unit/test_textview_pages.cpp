// The page the text view picks without walking (scans in blocks, pages of a
// stretch without line ends by arithmetic) against the pages drawn one after
// another, on random files, screens and block sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editor_state.h"

namespace {

// A file of random bytes in paged mode with a small window, so that the
// scans cross window moves as well as block boundaries.
struct RandomPagedFile {
    KeptEditorState keep;
    size_t block = text_scan_block;
    std::string dir, path;
    RandomPagedFile(const std::vector<unsigned char>& bytes, int64_t page) {
        char tmpl[] = "/tmp/morvane-textpages-XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/f";
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        f = fopen(path.c_str(), "rb");
        Globals.buffered = 0;
        Globals.file_state = 0;
        Globals.mode = 2;
        Globals.print_set = 1;
        Globals.buf_size = page;
        Globals.filename = path;
        Globals.filesize = bytes.size() - 1;
        buffer.assign(static_cast<size_t>(page) + 1, 0);
        size_t n = fread(buffer.data(), 1, static_cast<size_t>(page), f);
        set_file_window(f, 0, n - 1);
        init_mod_table();
    }
    ~RandomPagedFile() {
        text_scan_block = block;
        if (Globals.fp) fclose(Globals.fp);
        Globals.fp = nullptr;
        std::filesystem::remove_all(dir);
    }
};

// Byte o shown as v, as an overwrite stores it.
void modify(uint64_t o, unsigned char v) {
    get_byte(o);
    buffer[o - Globals.buf_front] = v;
    mod_table_set(o, v);
}

// The plain way: the line start found byte by byte, then every page drawn
// until one holds the cursor. Leaves that page's row starts.
uint64_t page_by_walking(uint64_t top) {
    uint64_t start = 0;
    if (top != 0 && cursor_loc != 0) {
        uint64_t k = top >= cursor_loc ? cursor_loc - 1 : top;
        if (k > Globals.filesize) k = Globals.filesize;
        for (; k >= 1; --k)
            if (get_byte(k) == 0x0A) {
                start = k + 1;
                break;
            }
    }
    uint64_t pos = start;
    for (;;) {
        werase(Globals.main_win);
        wmove(Globals.main_win, 0, 0);
        for (auto& e : text_row_starts)
            e = 0;
        const uint64_t page = pos;
        draw_text_page(pos);
        if (cursor_loc < pos || pos == page) return page;
    }
}

} // namespace

TEST(TextViewPages, FoundWithoutWalkingTheyAreThePagesDrawnOneAfterAnother) {
    std::mt19937 rng(20240611);
    auto below = [&rng](uint64_t n) {
        return std::uniform_int_distribution<uint64_t>(0, n - 1)(rng);
    };
    constexpr size_t blocks[] = {1, 2, 3, 7, 64, 1000, size_t{1} << 20};
    constexpr unsigned densities[] = {0, 3000, 200, 40, 8, 2}; // one line end in n bytes
    int cases = 0;
    for (int lines : {3, 4, 5, 9, 24}) {
        for (int cols : {2, 3, 11, 80}) {
            CursesScreen screen(lines, cols);
            for (int round = 0; round < 14; ++round) {
                const size_t length = 1 + below(round % 3 == 0 ? 6000 : 700);
                const unsigned lf_every = densities[below(std::size(densities))];
                const unsigned dot_every = densities[below(std::size(densities))];
                std::vector<unsigned char> bytes(length);
                for (auto& b : bytes) {
                    b = static_cast<unsigned char>('a' + below(26));
                    if (lf_every && below(lf_every) == 0) b = 0x0A;
                    if (dot_every && below(dot_every) == 0) b = 0x2E;
                }
                RandomPagedFile file(bytes, 1 + static_cast<int64_t>(below(300)));
                for (uint64_t m = below(12); m > 0; --m) {
                    const unsigned char shown[] = {0x0A, 0x2E, 'z'};
                    modify(below(length), shown[below(3)]);
                }
                Globals.ebcdic = below(3) == 0;
                text_scan_block = blocks[below(std::size(blocks))];
                cursor_loc = below(length);
                cursor_y = 1 + static_cast<int>(below(static_cast<uint64_t>(lines - 2)));
                cursor_x = hex_col_of_byte(static_cast<unsigned>(cursor_loc % 16));
                const uint64_t top = first_shown();
                SCOPED_TRACE(::testing::Message()
                             << lines << "x" << cols << " round " << round << ", " << length
                             << " bytes, cursor " << cursor_loc << " on row " << cursor_y
                             << ", block " << text_scan_block << ", ebcdic " << Globals.ebcdic);

                redraw_later(REDRAW_ALL);
                CursesScreen::frame();
                const std::vector<uint64_t> drawn = text_row_starts;
                const std::optional<uint64_t> fast = text_view_page(top);
                const uint64_t walked = page_by_walking(top);
                ASSERT_TRUE(fast.has_value());
                EXPECT_EQ(*fast, walked);
                EXPECT_EQ(drawn, text_row_starts);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 5 * 4 * 14);
}

// Keys typed while long work runs are kept, in order, for read_key; Escape
// among them stops the work.
TEST(LongWorkKeys, EscapeStopsTheWorkAndTheOtherKeysWaitForReadKey) {
    CursesScreen screen(24, 80);
    screen.feed("ab" + CursesScreen::key(KEY_UP) + "\x1b");
    LongWork work("Working", 100);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (work.keep_going(1))
        ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "Escape never stopped the work";
    EXPECT_TRUE(work.stopped());
    EXPECT_EQ(read_key(), 'a');
    EXPECT_EQ(read_key(), 'b');
    EXPECT_EQ(read_key(), KEY_UP);
    int left;
    EXPECT_FALSE(take_kept_key(left));
}

// An ESC with more behind it is a key's sequence (Alt-S, typed at once), not
// Escape: the work goes on and the sequence waits whole for read_key.
TEST(LongWorkKeys, AnEscapeThatBeginsASequenceIsKeptNotTakenForEscape) {
    CursesScreen screen(24, 80);
    screen.feed("\x1bsx");
    LongWork work("Working", 100);
    // A call made well after the work began looks at the keys, however late
    // this thread gets to run.
    const auto begun = std::chrono::steady_clock::now();
    for (;;) {
        const auto called = std::chrono::steady_clock::now();
        ASSERT_TRUE(work.keep_going(1)) << "the sequence stopped the work";
        if (called - begun >= std::chrono::milliseconds(100)) break;
    }
    int key = 0;
    ASSERT_TRUE(take_kept_key(key));
    EXPECT_EQ(key, KEY_ESC);
    ASSERT_TRUE(take_kept_key(key));
    EXPECT_EQ(key, 's');
    ASSERT_TRUE(take_kept_key(key));
    EXPECT_EQ(key, 'x');
}
