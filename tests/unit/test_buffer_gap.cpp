// The whole-file buffer with its gap against a plain vector: random
// insertions, deletions, overwrites and undos, read back through every way
// the editor reads bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct GapLimit {
    uint64_t kept = buffer_gap_close_limit;
    explicit GapLimit(uint64_t limit) { buffer_gap_close_limit = limit; }
    ~GapLimit() { buffer_gap_close_limit = kept; }
};

void cursor_to(uint64_t o) {
    cursor_loc = o;
    cursor_y = 1;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
}

// Everything a reader can see agrees with `want`.
void expect_reads(const Bytes& want, std::mt19937& rng, const char* after) {
    ASSERT_EQ(Globals.filesize + 1, want.size()) << after;
    ASSERT_EQ(static_cast<uint64_t>(Globals.buf_size), want.size()) << after;
    for (int i = 0; i < 20; ++i) {
        uint64_t o = rng() % want.size();
        ASSERT_EQ(get_byte(o), want[o]) << after << ", offset " << o;
    }
    ASSERT_EQ(get_byte(want.size()), 0) << "past the end, " << after;
    // The free bytes (the gap, and after the data) stay zero, as a new file's.
    const uint64_t gap = Globals.buf_end + 1, spare = static_cast<uint64_t>(buf_spare);
    ASSERT_GE(buffer.size(), want.size() + spare + 1) << after;
    for (uint64_t i = gap; i < gap + spare; ++i)
        ASSERT_EQ(buffer[i], 0) << after << ", gap index " << i;
    for (uint64_t i = want.size() + spare; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0) << after << ", index " << i;
    uint64_t from = rng() % want.size();
    size_t n = rng() % 5000 + 1;
    Bytes block(n, 0xEE);
    size_t held = 0;
    ASSERT_EQ(filebuff_fetch(from, block.data(), n, &held), 0);
    size_t inside = std::min<size_t>(n, want.size() - from);
    EXPECT_EQ(held, inside) << after;
    for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(block[i], i < inside ? want[from + i] : 0) << after << ", " << from << "+" << i;
}

void run(uint64_t limit, size_t size, unsigned seed) {
    GapLimit gap(limit);
    std::mt19937 rng(seed);
    Bytes want(size);
    for (auto& b : want)
        b = static_cast<unsigned char>(rng());
    WholeFile file(want);
    // What each undo must give back: the bytes before the change.
    struct Change {
        int kind;
        uint64_t offset;
        unsigned char old_byte;
    };
    std::vector<Change> done;
    // Edits cluster around a few places, with jumps between them, so the
    // gap both stays and moves far.
    uint64_t place = 0;
    for (int i = 0; i < 1500; ++i) {
        if (rng() % 8 == 0) place = rng() % want.size();
        uint64_t o = std::min<uint64_t>(place + rng() % 8, want.size() - 1);
        cursor_to(o);
        int what = static_cast<int>(rng() % 5);
        auto v = static_cast<unsigned char>(rng());
        if (what == 0) {
            done.push_back({3, o, want[o]});
            pushUndo(3, o, get_byte(o), v);
            filebuff_modify(v);
            want[o] = v;
        } else if (what == 1) {
            done.push_back({1, o, 0});
            insert_byte(v, 0);
            want.insert(want.begin() + static_cast<long>(o), v);
        } else if (what == 2 && want.size() > 2) {
            done.push_back({2, o, want[o]});
            delete_byte(0);
            want.erase(want.begin() + static_cast<long>(o));
        } else if (what == 3) {
            // Appending, as undoing the deletion of the last byte does.
            cursor_to(want.size());
            insert_byte(v, 1);
            want.push_back(v);
            done.clear(); // a change without a record: older records no longer fit
            undo_clear();
        } else if (!done.empty()) {
            int before = UndoStack.size;
            undoLastChange();
            if (UndoStack.size == before) undoLastChange(); // the first press only showed it
            Change c = done.back();
            done.pop_back();
            if (c.kind == 3)
                want[c.offset] = c.old_byte;
            else if (c.kind == 1)
                want.erase(want.begin() + static_cast<long>(c.offset));
            else
                want.insert(want.begin() + static_cast<long>(c.offset), c.old_byte);
        }
        ASSERT_NO_FATAL_FAILURE(expect_reads(want, rng, "an edit"));
    }
    Bytes all(want.size());
    get_bytes(0, all.data(), all.size());
    EXPECT_EQ(all, want);
    const unsigned char* whole = buffer_contiguous();
    ASSERT_EQ(whole, buffer.data());
    EXPECT_EQ(Bytes(whole, whole + want.size()), want);
    for (size_t i = want.size(); i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0) << "after the data, index " << i;
    ASSERT_NO_FATAL_FAILURE(expect_reads(want, rng, "closing the gap"));
}

} // namespace

TEST(BufferGap, EditsEverywhereReadLikeAPlainVector) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run(0, 3000, seed);
}

TEST(BufferGap, GapsThatCloseWhenShortReadLikeAPlainVector) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run(700, 3000, seed);
}

TEST(BufferGap, GrowingTheGapKeepsTheBytesOnBothSides) {
    // Few spare bytes: the gap grows many times while open.
    GapLimit gap(0);
    std::mt19937 rng(7);
    Bytes want(20000);
    for (auto& b : want)
        b = static_cast<unsigned char>(rng());
    WholeFile file(want);
    buf_spare = 1;
    buffer.resize(want.size() + 2);
    for (int i = 0; i < 3000; ++i) {
        uint64_t o = rng() % 3 == 0 ? rng() % want.size() : 5000;
        cursor_to(o);
        auto v = static_cast<unsigned char>(rng());
        insert_byte(v, 0);
        want.insert(want.begin() + static_cast<long>(o), v);
        ASSERT_NO_FATAL_FAILURE(expect_reads(want, rng, "an insertion"));
    }
    EXPECT_EQ(Bytes(buffer_contiguous(), buffer_contiguous() + want.size()), want);
}

TEST(BufferGap, AWholeFileSaveWritesTheBytesAroundTheGap) {
    GapLimit gap(0);
    Bytes want(5000);
    for (size_t i = 0; i < want.size(); ++i)
        want[i] = static_cast<unsigned char>(i * 7 + 3);
    WholeFile file(want);
    char tmpl[] = "/tmp/morvane-gap-save-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    Globals.filename = dir + "/edited";
    cursor_to(100);
    insert_byte(0xAB, 0);
    want.insert(want.begin() + 100, 0xAB);
    ASSERT_LT(Globals.buf_end, Globals.filesize) << "the gap must be open for this test";
    const char* failure = nullptr;
    ASSERT_EQ(save_file_as(dir + "/saved", &failure), 1) << (failure ? failure : "");
    FILE* f = fopen((dir + "/saved").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes on_disk(want.size() + 1);
    on_disk.resize(fread(on_disk.data(), 1, on_disk.size(), f));
    fclose(f);
    EXPECT_EQ(on_disk, want);
    std::filesystem::remove_all(dir);
}
