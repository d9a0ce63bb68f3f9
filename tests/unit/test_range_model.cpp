// Range commands and Replace against a plain model (a vector of bytes, a clipboard and
// whole snapshots for undo), mixed with byte edits, insertions, deletions,
// undo, redo and saves, paged with a small window and held whole: after
// every step the bytes shown, the highlight of what differs from the file,
// and what a save writes match the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "editing.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Model {
    Bytes bytes, clip;
    std::vector<Bytes> undo, redo;
    void change(const Bytes& next) {
        undo.push_back(bytes);
        redo.clear();
        bytes = next;
    }
};

Bytes read_all(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes shown() {
    Bytes out(Globals.filesize + 1);
    get_bytes(0, out.data(), out.size());
    return out;
}

// A key that only brings an undo or redo off the screen into view does
// nothing else: the second press acts.
template <class Key> void press_until(Key key, const std::function<int()>& count) {
    const int before = count();
    key();
    if (count() == before) key();
}

struct RangeModel : testing::TestWithParam<bool> {};

TEST_P(RangeModel, RandomRangeCommandsEditsUndoRedoAndSavesMatchThePlainModel) {
    const bool whole = GetParam();
    std::mt19937 rng(whole ? 2026 : 1210);
    Bytes start(700);
    for (auto& b : start)
        b = static_cast<unsigned char>(rng());
    EditedFile f(start, whole);
    if (!whole) { // a small window, so that ranges cross its edges
        Globals.buf_size = 48;
        Globals.buf_front = 1;
        Globals.buf_end = 0;
    }
    Model m{start, {}, {}, {}};
    Bytes disk = start;
    auto pick = [&](uint64_t below) {
        return std::uniform_int_distribution<uint64_t>(0, below - 1)(rng);
    };
    for (int step = 0; step < 800; ++step) {
        const uint64_t size = m.bytes.size();
        const uint64_t a = pick(size), b = std::min<uint64_t>(size - 1, a + pick(200));
        std::string what;
        switch (pick(whole ? 13 : 11)) {
        case 0: { // fill with a pattern of 1 to 16 bytes
            Bytes pattern(1 + pick(16));
            for (auto& x : pattern)
                x = static_cast<unsigned char>(rng());
            what = "fill";
            ASSERT_EQ(fill_range(a, b, pattern), RangeResult::Done);
            Bytes next = m.bytes;
            for (uint64_t o = a; o <= b; ++o)
                next[o] = pattern[(o - a) % pattern.size()];
            m.change(next);
            for (uint64_t o = a; o <= b; ++o)
                ASSERT_TRUE(is_modified(o)) << "filled byte " << o << " not highlighted";
            break;
        }
        case 1:
            what = "copy";
            ASSERT_EQ(copy_range(a, b), RangeResult::Done);
            m.clip.assign(m.bytes.begin() + static_cast<long>(a),
                          m.bytes.begin() + static_cast<long>(b) + 1);
            break;
        case 2: { // paste over, refused past the end
            what = "paste over";
            const RangeResult r = paste_over(a);
            if (m.clip.empty() || a + m.clip.size() > size) {
                ASSERT_EQ(r, RangeResult::Refused);
                break;
            }
            ASSERT_EQ(r, RangeResult::Done);
            Bytes next = m.bytes;
            std::copy(m.clip.begin(), m.clip.end(), next.begin() + static_cast<long>(a));
            m.change(next);
            break;
        }
        case 3:
        case 4: { // a byte overwritten as a key does it
            what = "byte";
            const auto v = static_cast<unsigned char>(rng());
            EditingFixture::at(a, 1);
            pushUndo(UNDO_OVERWRITE, a, get_byte(a), v);
            filebuff_modify(v);
            Globals.file_state = FILE_CHANGED;
            Bytes next = m.bytes;
            next[a] = v;
            m.change(next);
            break;
        }
        case 5:
            what = "undo";
            if (UndoStack.size == 0) break;
            press_until(undoLastChange, [] { return UndoStack.size; });
            m.redo.push_back(m.bytes);
            m.bytes = m.undo.back();
            m.undo.pop_back();
            break;
        case 6:
            what = "redo";
            if (redo_count() == 0) break;
            press_until(redoLastUndo, redo_count);
            m.undo.push_back(m.bytes);
            m.bytes = m.redo.back();
            m.redo.pop_back();
            break;
        case 7:
        case 8: // a save into the file itself (and, now and then, another check)
            what = "save";
            if (pick(4) != 0) break;
            ASSERT_EQ(save_file_as(Globals.filename, nullptr), 1);
            disk = m.bytes;
            ASSERT_EQ(read_all(Globals.filename), disk) << "what the save wrote, step " << step;
            break;
        case 9: { // a Replace: spans ascending, not overlapping, one undo step
            what = "replace";
            const uint64_t len = 1 + pick(6);
            Bytes with(whole ? pick(9) : len);
            for (auto& x : with)
                x = static_cast<unsigned char>(rng());
            Bytes next = m.bytes;
            replace_begin();
            for (uint64_t at = a; at + len <= next.size() && pick(8) != 0;) {
                if (with.empty() && len == next.size()) { // the file never becomes empty
                    ASSERT_EQ(replace_one(at, len, with), RangeResult::Refused);
                    break;
                }
                ASSERT_EQ(replace_one(at, len, with), RangeResult::Done);
                next.erase(next.begin() + static_cast<long>(at),
                           next.begin() + static_cast<long>(at + len));
                next.insert(next.begin() + static_cast<long>(at), with.begin(), with.end());
                at += with.size() + pick(40);
            }
            if (replace_end() > 0) m.change(next);
            break;
        }
        case 10: { // saved under another name: the copy holds what is shown
            what = "save as";
            if (pick(3) != 0) break;
            const std::string other = f.dir + "/copy" + std::to_string(step);
            ASSERT_EQ(save_file_as(other, nullptr), 1);
            ASSERT_EQ(read_all(other), m.bytes) << "what the save under a new name wrote";
            if (whole) disk = m.bytes;
            break;
        }
        case 11: { // whole-file mode: paste in, before the byte at a
            what = "paste in";
            if (m.clip.empty()) break;
            ASSERT_EQ(paste_in(a), RangeResult::Done);
            Bytes next = m.bytes;
            next.insert(next.begin() + static_cast<long>(a), m.clip.begin(), m.clip.end());
            m.change(next);
            for (uint64_t o = a; o < a + m.clip.size(); ++o)
                ASSERT_TRUE(is_modified(o)) << "pasted byte " << o << " not highlighted";
            break;
        }
        case 12: { // whole-file mode: cut (a whole file leaves one zero byte)
            what = "cut";
            if (m.bytes.size() < 200 && pick(3) == 0) break; // keep the file from shrinking away
            ASSERT_EQ(cut_range(a, b), RangeResult::Done);
            m.clip.assign(m.bytes.begin() + static_cast<long>(a),
                          m.bytes.begin() + static_cast<long>(b) + 1);
            Bytes next = m.bytes;
            next.erase(next.begin() + static_cast<long>(a),
                       next.begin() + static_cast<long>(b) + 1);
            if (next.empty()) next.push_back(0);
            m.change(next);
            break;
        }
        }
        ASSERT_EQ(shown(), m.bytes) << "after step " << step << " (" << what << ")";
        if (whole || step % 8 != 0) continue;
        // Read afresh, the window shows the same; a save writes exactly the bytes marked.
        Globals.buf_front = 1;
        Globals.buf_end = 0;
        ASSERT_EQ(shown(), m.bytes) << "read afresh after step " << step << " (" << what << ")";
        std::vector<bool> written(m.bytes.size());
        for (const ChangedRun& r : changed_runs(UINT64_MAX))
            for (uint64_t o = r.first; o <= r.last; ++o)
                written[o] = true;
        for (uint64_t o = 0; o < m.bytes.size(); ++o)
            ASSERT_EQ(written[o], is_modified(o)) << "byte " << o << " after step " << step;
        // The file is the baseline: every byte that differs is marked.
        for (uint64_t o = 0; o < m.bytes.size(); ++o) {
            ASSERT_TRUE(m.bytes[o] == disk[o] || is_modified(o))
                << "byte " << o << " differs from the file unmarked, after step " << step << " ("
                << what << ")";
        }
    }
    ASSERT_EQ(save_file_as(Globals.filename, nullptr), 1);
    EXPECT_EQ(read_all(Globals.filename), m.bytes);
}

INSTANTIATE_TEST_SUITE_P(Modes, RangeModel, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Whole" : "Paged"; });

} // namespace

// A copy reads with progress and Escape gives it up, the clipboard as it
// was; more than a gigabyte is refused before anything is read.
TEST(RangeCopy, EscapeStopsALongCopyAndTooMuchIsRefused) {
    HugeSparseFile f;
    clipboard = std::make_shared<const ByteBuffer>(std::vector<unsigned char>{7});
    EXPECT_EQ(copy_range(0, CLIPBOARD_LIMIT), RangeResult::TooLarge);
    f.screen.feed("\x1b");
    EXPECT_EQ(copy_range(0, CLIPBOARD_LIMIT - 1), RangeResult::Stopped);
    ASSERT_TRUE(clipboard);
    EXPECT_EQ(*clipboard, ByteBuffer(std::vector<unsigned char>{7}));
}
