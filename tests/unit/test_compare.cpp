// The compare view's searches against a plain model of the view: offset X
// shows the edited byte X as shown (the table and the range pieces laid
// over) and the other file's byte X + shift, absent outside that file; X
// differs where exactly one is absent or both are there and unequal. Small
// blocks put the edges of the window's pages and of the search's blocks
// everywhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "editing.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Pieces = std::vector<std::pair<uint64_t, Bytes>>;

struct ViewModel {
    Bytes mine, theirs; // the edited file as shown, the other file
    int64_t shift = 0;
    std::vector<uint64_t> diffs; // every differing X, ascending

    void compute() {
        diffs.clear();
        for (uint64_t x = 0; x < mine.size(); ++x) {
            const int64_t p = static_cast<int64_t>(x) + shift;
            if (p < 0 || p >= static_cast<int64_t>(theirs.size()) ||
                theirs[static_cast<size_t>(p)] != mine[x])
                diffs.push_back(x);
        }
    }
    std::optional<uint64_t> next(uint64_t from) const {
        auto it = std::upper_bound(diffs.begin(), diffs.end(), from);
        return it == diffs.end() ? std::nullopt : std::optional(*it);
    }
    std::optional<uint64_t> previous(uint64_t from) const {
        auto it = std::lower_bound(diffs.begin(), diffs.end(), from);
        return it == diffs.begin() ? std::nullopt : std::optional(*--it);
    }
};

// Both searches from `from` give what the model gives.
testing::AssertionResult agrees(const ViewModel& m, uint64_t from) {
    for (bool back : {false, true}) {
        uint64_t at = UINT64_MAX;
        const DiffResult r = back ? previous_difference(from, at) : next_difference(from, at);
        const std::optional<uint64_t> want = back ? m.previous(from) : m.next(from);
        if (want ? r == DiffResult::Found && at == *want : r == DiffResult::None) continue;
        return testing::AssertionFailure()
               << (back ? "previous" : "next") << " from " << from << " gave "
               << (r == DiffResult::Found ? std::to_string(at) : "no difference") << ", the model "
               << (want ? std::to_string(*want) : "none") << " (shift " << m.shift << ", sizes "
               << m.mine.size() << " and " << m.theirs.size() << ")";
    }
    return testing::AssertionSuccess();
}

// The ends, each difference (a sample where there are many) and its
// neighbours, and some offsets at random.
std::vector<uint64_t> cursors(const ViewModel& m, std::mt19937& rng) {
    const uint64_t size = m.mine.size();
    std::vector<uint64_t> at = {0, 1, size - 1, size};
    const size_t step = std::max<size_t>(1, m.diffs.size() / 60);
    for (size_t i = 0; i < m.diffs.size(); i += step)
        for (uint64_t d : {m.diffs[i] - 1, m.diffs[i], m.diffs[i] + 1})
            if (d <= size) at.push_back(d);
    for (int i = 0; i < 20; ++i)
        at.push_back(rng() % size);
    return at;
}

Bytes random_bytes(size_t n, std::mt19937& rng, unsigned first = 0, unsigned kinds = 256) {
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<unsigned char>(first + rng() % kinds);
    return b;
}

// A file of `size` bytes, holes but for the pieces written: its bytes.
Bytes write_pieces(const std::string& path, uint64_t size, const Pieces& pieces) {
    Bytes image(size);
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0) << path;
    for (const auto& [at, bytes] : pieces) {
        EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
                  static_cast<ssize_t>(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<int64_t>(at));
    }
    close(fd);
    return image;
}

Bytes shown() {
    Bytes out(Globals.filesize + 1);
    get_bytes(0, out.data(), out.size());
    return out;
}

// A byte typed over offset a, as the editing does it.
void type_byte(uint64_t a, unsigned char v) {
    EditingFixture::at(a, 1);
    (void)get_byte(a);
    filebuff_modify(v);
    Globals.file_state = FILE_CHANGED;
}

// Paged with a window of 48 bytes, or held whole (-b); compare blocks of 64
// bytes or of a page and a bit.
struct CompareModel : testing::TestWithParam<std::tuple<bool, size_t>> {};

TEST_P(CompareModel, NextAndPreviousDifferenceFindWhatTheBytePairsShow) {
    const auto [whole, block] = GetParam();
    const size_t scale = block < 4096 ? 700 : 20000;
    std::mt19937 rng(static_cast<unsigned>(block + whole));
    auto pick = [&](uint64_t below) { return below ? rng() % below : 0; };
    for (int round = 0; round < 24; ++round) {
        // Both files cut from one random stretch, the other `lead` bytes on:
        // under shift -lead they agree but for the changes (empty, of the
        // same size, shorter or longer).
        const Bytes base = random_bytes(4 * scale, rng);
        const size_t m = 1 + pick(scale);
        const auto lead = static_cast<int64_t>(pick(scale)) - static_cast<int64_t>(scale / 2);
        const size_t n = round % 8 == 0 ? 0 : round % 8 == 1 ? m : pick(m + scale / 4);
        const auto start = base.begin() + static_cast<int64_t>(scale + scale / 2);
        Bytes other(start + lead, start + lead + static_cast<int64_t>(n));
        for (uint64_t k = pick(4); k-- > 0 && n > 0;)
            other[pick(n)] ^= static_cast<unsigned char>(1 + pick(255));
        ViewModel model{Bytes(start, start + static_cast<int64_t>(m)), other, 0, {}};

        EditedFile f(model.mine, whole);
        if (!whole) { // a small window, read afresh
            Globals.buf_size = 48;
            Globals.buf_front = 1;
            Globals.buf_end = 0;
        }
        compare_block = block;
        for (uint64_t k = pick(6); k-- > 0;) { // now and then the same value: an entry, no change
            const uint64_t a = pick(m);
            model.mine[a] = static_cast<unsigned char>(pick(3) == 0 ? model.mine[a] : rng());
            type_byte(a, model.mine[a]);
        }
        for (uint64_t k = pick(3); k-- > 0;) {
            const uint64_t a = pick(m), b = std::min<uint64_t>(m - 1, a + pick(block * 3));
            // Short patterns (expanded for every block they are laid over) and long ones.
            const Bytes pattern = random_bytes(pick(2) ? 1 + pick(3) : 4096 + pick(64), rng);
            ASSERT_EQ(fill_range(a, b, pattern), RangeResult::Done);
            for (uint64_t o = a; o <= b; ++o)
                model.mine[o] = pattern[(o - a) % pattern.size()];
        }
        ASSERT_EQ(shown(), model.mine) << "the model's edited bytes, round " << round;
        write_pieces(f.dir + "/other", n, {{0, other}});
        ASSERT_TRUE(compare_start(f.dir + "/other"));

        const auto sizes = static_cast<int64_t>(m + n);
        for (int64_t shift : {-lead, static_cast<int64_t>(pick(2 * sizes + 1)) - sizes,
                              sizes + 1 + static_cast<int64_t>(pick(99)), -sizes - 7}) {
            compare_file.shift = model.shift = shift;
            model.compute();
            for (uint64_t from : cursors(model, rng))
                ASSERT_TRUE(agrees(model, from)) << "round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, CompareModel,
                         testing::Combine(testing::Bool(), testing::Values(64, 4096 + 24)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Whole" : "Paged") +
                                    "Block" + std::to_string(std::get<1>(info.param));
                         });

// Bytes this process has read through read calls so far (unknown: 0).
uint64_t bytes_read_so_far() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

bool has_holes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_blocks * 512 < st.st_size / 2;
}

} // namespace

// Holes in both files, data and zeros written here and there, and bytes of
// the table and of fills laid over the edited file's holes: the searches
// skip what both hold as holes yet stop at every byte that differs.
TEST(CompareHoles, SearchesOverSparseFilesFindEveryDifferenceBothWays) {
    constexpr uint64_t MiB = 1 << 20, size = 12 * MiB;
    std::mt19937 rng(12);
    const Bytes head = random_bytes(3000, rng, 1, 255), middle = random_bytes(200, rng, 1, 255),
                late = random_bytes(100, rng, 1, 255);
    Bytes middle_changed = middle;
    middle_changed[77] ^= 0x40;
    // The edited file made anew under the fixture's open stream, paged
    // with the window empty.
    EditedFile f({0}, false);
    const std::string mine = f.path, theirs = f.dir + "/theirs";
    // Data on a page's first byte and on a block's last, where a hole's edge
    // taken one byte off would hide it.
    ViewModel model{write_pieces(mine, size,
                                 {{0, head},
                                  {3 * MiB, {0x33}},
                                  {5 * MiB + 123, middle},
                                  {9 * MiB, late},
                                  {10 * MiB - 1, {0x44}},
                                  {size - 1, {1}}}),
                    write_pieces(theirs, size + 3000,
                                 {{0, head},
                                  {2 * MiB, Bytes(4096, 0)},
                                  {5 * MiB + 123, middle_changed},
                                  {6 * MiB + 4095, {0x66}},
                                  {7 * MiB + 9, {0x5A}},
                                  {9 * MiB, late}}),
                    0,
                    {}};
    Globals.filesize = size - 1;
    Globals.buf_front = 1;
    Globals.buf_end = 0;
    const bool holes = has_holes(mine) && has_holes(theirs);
    if (!holes) std::cout << "[ NOTE ] no holes on this file system: only the bytes are compared\n";
    compare_block = 4096 + 512;
    type_byte(4 * MiB + 17, 0x77);
    type_byte(6 * MiB + 5, 0); // laid over a hole, and no change
    model.mine[4 * MiB + 17] = 0x77;
    // Patterns longer than the fills (a short one would be expanded for
    // every block, as above).
    ASSERT_EQ(fill_range(8 * MiB, 8 * MiB + 99, Bytes(4100, 0)), RangeResult::Done);
    ASSERT_EQ(fill_range(11 * MiB + 7, 11 * MiB + 16, Bytes(4100, 'a')), RangeResult::Done);
    std::fill_n(&model.mine[11 * MiB + 7], 10, 'a');
    ASSERT_EQ(shown(), model.mine);
    ASSERT_TRUE(compare_start(theirs));
    for (int64_t shift : std::vector<int64_t>{0, 13, -13, 3 * 4096, -(1 << 20) - 5}) {
        compare_file.shift = model.shift = shift;
        model.compute();
        for (uint64_t from : cursors(model, rng))
            ASSERT_TRUE(agrees(model, from));
    }
    // Between the other file's byte at 7 MiB and this one's at 10 MiB
    // the files hold little but holes: what is read is far less.
    compare_file.shift = 0;
    const uint64_t before = bytes_read_so_far();
    uint64_t at = 0;
    ASSERT_EQ(next_difference(7 * MiB + 9, at), DiffResult::Found);
    EXPECT_EQ(at, 10 * MiB - 1);
    ASSERT_EQ(previous_difference(10 * MiB - 1, at), DiffResult::Found);
    EXPECT_EQ(at, 7 * MiB + 9);
    if (holes && before > 0) {
        EXPECT_LT(bytes_read_so_far() - before, MiB) << "the holes were read, not skipped";
    }
}

namespace {

// The smallest shift (+n before -n) within the reach under which the span
// from `at` equals the other file's bytes, trying each one.
std::optional<int64_t> brute_alignment(const Bytes& mine, const Bytes& theirs, uint64_t at) {
    const size_t n = std::min<size_t>(ALIGN_SPAN, mine.size() - at);
    for (int64_t size = 0; size <= ALIGN_REACH; ++size)
        for (int64_t s : {size, -size}) {
            const int64_t p = static_cast<int64_t>(at) + s;
            if (p >= 0 && static_cast<uint64_t>(p) + n <= theirs.size() &&
                memcmp(&mine[at], &theirs[static_cast<size_t>(p)], n) == 0)
                return s;
        }
    return std::nullopt;
}

struct AlignCase {
    size_t mine_size, other_size;
    uint64_t at;
    std::vector<int64_t> copies; // shifts at which the span is planted
    std::optional<int64_t> want; // what trying each shift must find: the case is as made
};

} // namespace

TEST(CompareAlign, FindsTheSmallestShiftUnderWhichTheSpanAgrees) {
    constexpr int64_t R = ALIGN_REACH;
    std::vector<AlignCase> cases = {
        {300000, 300000, 100000, {700, -700}, 700},              // equal size: + first
        {300000, 300000, 100000, {700, -300, 2000}, -300},       // the smallest size
        {300000, 300000, 100000, {R}, R},                        // the edge of the reach
        {300000, 300000, 100000, {R + 1, -R - 1}, std::nullopt}, // just past it, both ways
        {300000, 300000, R + 50, {-R}, -R},                      // down to it
        {300000, 300000, 299990, {-2000}, -2000},                // 10 bytes left: a span of 10
        {300000, 300000, 100000, {}, std::nullopt},              // no copy anywhere
        {100, 20, 40, {-30}, std::nullopt},                      // other shorter than the span
        {100, 20, 90, {-80}, -80},                               // but not than the span at the end
    };
    std::mt19937 rng(32);
    for (bool whole : {false, true}) {
        for (const AlignCase& c : cases) {
            // Two letters: parts of the span turn up everywhere; a near copy
            // (its last byte wrong) lies just before each copy.
            Bytes mine = random_bytes(c.mine_size, rng, 'a', 2);
            Bytes other = random_bytes(c.other_size, rng, 'a', 2);
            EditedFile f(mine, whole);
            const size_t n = std::min<size_t>(ALIGN_SPAN, mine.size() - c.at);
            type_byte(c.at + n / 2, 'X'); // the span as shown counts
            mine[c.at + n / 2] = 'X';
            for (bool near : {true, false})
                for (int64_t s : c.copies) {
                    const int64_t p = static_cast<int64_t>(c.at) + s - (near ? int64_t(n) + 1 : 0);
                    if (p < 0 || static_cast<uint64_t>(p) + n > other.size()) continue;
                    std::copy_n(&mine[c.at], n, &other[static_cast<size_t>(p)]);
                    if (near) other[static_cast<size_t>(p) + n - 1] ^= 1;
                }
            const std::optional<int64_t> want = brute_alignment(mine, other, c.at);
            ASSERT_EQ(want, c.want) << "the case at " << c.at << " is not as made";
            write_pieces(f.dir + "/other", other.size(), {{0, other}});
            ASSERT_TRUE(compare_start(f.dir + "/other"));
            EXPECT_EQ(find_alignment(c.at), want)
                << (whole ? "whole" : "paged") << ", at " << c.at << ", sizes " << mine.size()
                << " and " << other.size();
        }
    }
}
