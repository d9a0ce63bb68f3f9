// Undo and redo against a plain model that walks its list of records the
// slow way: random overwrites (and, held whole, insertions and deletions),
// then every change undone one key at a time; and random mixes of edits,
// undos, redos and saves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "curses_screen.h"
#include "editing.h"
#include "editor_state.h"
#include "morvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Record {
    int kind;
    uint64_t offset;
    unsigned char old_byte, new_byte;
};

// The undo rules written as plainly as possible.
struct Model {
    Bytes bytes, on_disk;
    std::map<uint64_t, unsigned char> table;
    std::vector<Record> records;
    bool whole;
    std::vector<Record> undone; // what redo applies again, newest last

    void overwrite(uint64_t o, unsigned char v) {
        undone.clear();
        records.push_back({3, o, bytes[o], v});
        bytes[o] = v;
        table[o] = v;
    }
    void insert(uint64_t o, unsigned char v) {
        undone.clear();
        records.push_back({1, o, bytes[o], v});
        bytes.insert(bytes.begin() + static_cast<long>(o), v);
        table.clear();
    }
    void erase(uint64_t o) {
        undone.clear();
        records.push_back({2, o, bytes[o], bytes[o]});
        bytes.erase(bytes.begin() + static_cast<long>(o));
        table.clear();
    }
    // Reverts the newest record; returns where the cursor ends.
    uint64_t undo() {
        Record r = records.back();
        records.pop_back();
        uint64_t cursor = r.offset;
        if (r.kind == 1) {
            if (r.offset == bytes.size() - 1) --cursor;
            bytes.erase(bytes.begin() + static_cast<long>(r.offset));
            table.clear();
        } else if (r.kind == 2) {
            bytes.insert(bytes.begin() + static_cast<long>(r.offset), r.old_byte);
            table.clear();
        } else {
            bytes[r.offset] = r.old_byte;
            table[r.offset] = r.old_byte;
            const Record* earlier = nullptr;
            for (const Record& e : records)
                if (e.offset == r.offset) earlier = &e;
            if (earlier)
                table[r.offset] = earlier->new_byte;
            else if (whole || on_disk[r.offset] == r.old_byte)
                table.erase(r.offset);
        }
        undone.push_back(r);
        return cursor;
    }
    // Applies the newest undone change as a new one; returns where the cursor ends.
    uint64_t redo() {
        Record r = undone.back();
        undone.pop_back();
        std::vector<Record> still = std::move(undone);
        uint64_t cursor = r.offset;
        if (r.kind == 1) {
            insert(r.offset, r.new_byte);
        } else if (r.kind == 2) {
            if (r.offset == bytes.size() - 1) --cursor;
            erase(r.offset);
        } else {
            overwrite(r.offset, r.new_byte);
        }
        undone = std::move(still);
        return cursor;
    }
};

// The cursor onto o's high nibble on the first row: the view starts at o's row.
void cursor_to(uint64_t o) {
    cursor_loc = o;
    cursor_y = 1;
    cursor_x = hex_col_of_byte(static_cast<unsigned>(o % 16));
}

Bytes shown_bytes() {
    Bytes out(Globals.filesize + 1);
    get_bytes(0, out.data(), out.size());
    return out;
}

std::map<uint64_t, unsigned char> shown_table() {
    std::map<uint64_t, unsigned char> out;
    for (uint64_t o = 0; o <= Globals.filesize; ++o) {
        unsigned char v;
        if (mod_table_get(o, &v) == 0) out[o] = v;
    }
    return out;
}

// 3000 bytes of few values, so that repeated bytes are common.
Bytes random_start(std::mt19937& rng) {
    Bytes start(3000);
    for (auto& b : start)
        b = static_cast<unsigned char>(rng() % 4);
    return start;
}

// One random change, made as the editor makes it and in the model.
void random_edit(std::mt19937& rng, Model& m, bool whole) {
    int what = whole ? static_cast<int>(rng() % 4) : 0;
    // Few offsets, so that many records share one.
    uint64_t o = static_cast<uint64_t>(rng() % 40) * 73 % m.bytes.size();
    cursor_to(o);
    auto v = static_cast<unsigned char>(rng() % 4);
    if (what <= 1) {
        pushUndo(3, o, get_byte(o), v);
        filebuff_modify(v);
        m.overwrite(o, v);
    } else if (what == 2) {
        insert_byte(v, 0);
        update_screen();
        m.insert(o, v);
    } else if (m.bytes.size() > 2) {
        delete_byte(0);
        update_screen();
        m.erase(o);
    }
}

// The undo or redo key until it acts (a first press may only show the change).
void press_until_done(void (*key)(), int32_t (*left)()) {
    int32_t before = left();
    key();
    if (left() == before) key();
    ASSERT_EQ(left(), before - 1);
}
int32_t undo_count() {
    return UndoStack.size;
}

// The screen, the bytes and the table as the model has them.
void expect_as_model(const Model& m, uint64_t cursor, const char* after) {
    update_screen();
    ASSERT_EQ(cursor_loc, cursor) << after;
    ASSERT_EQ(shown_bytes(), m.bytes) << after;
    ASSERT_EQ(shown_table(), m.table) << after;
    char digits[3];
    snprintf(digits, sizeof digits, "%02X", m.bytes[cursor_loc]);
    ASSERT_EQ(CursesScreen::ch(Globals.main_win, cursor_y - 1, cursor_x), digits[0]) << after;
    ASSERT_EQ(CursesScreen::ch(Globals.main_win, cursor_y - 1, cursor_x + 1), digits[1]) << after;
}

void run_undo_redo_mix(bool whole, unsigned seed) {
    std::mt19937 rng(seed);
    const Bytes start = random_start(rng);
    EditedFile e(start, whole);
    Model m{start, start, {}, {}, whole, {}};
    for (int i = 0; i < 600; ++i) {
        unsigned what = rng() % 10;
        if (what < 4) {
            random_edit(rng, m, whole);
            ASSERT_EQ(redo_count(), 0) << "a new change leaves nothing to redo";
        } else if (what < 7 && !m.records.empty()) {
            press_until_done(undoLastChange, undo_count);
            expect_as_model(m, m.undo(), "undo");
        } else if (!m.undone.empty()) {
            press_until_done(redoLastUndo, redo_count);
            expect_as_model(m, m.redo(), "redo");
        } else {
            Bytes before = shown_bytes();
            redoLastUndo(); // nothing to redo: the bell only
            ASSERT_EQ(shown_bytes(), before);
        }
        ASSERT_EQ(redo_count(), static_cast<int32_t>(m.undone.size()));
    }
    // Undo all, then redo all: the edited bytes again.
    Bytes edited = shown_bytes();
    size_t changes = m.records.size();
    while (!m.records.empty()) {
        press_until_done(undoLastChange, undo_count);
        expect_as_model(m, m.undo(), "undo all");
    }
    for (; changes > 0; --changes) {
        press_until_done(redoLastUndo, redo_count);
        expect_as_model(m, m.redo(), "redo all");
    }
    EXPECT_EQ(shown_bytes(), edited);
}

// Saves in place among the keys: each writes what the screen shows.
void run_mix_with_saves(bool whole, unsigned seed) {
    std::mt19937 rng(seed);
    const Bytes start = random_start(rng);
    EditedFile e(start, whole);
    Model m{start, start, {}, {}, whole, {}};
    for (int i = 0; i < 400; ++i) {
        unsigned what = rng() % 12;
        if (what < 5) {
            random_edit(rng, m, whole);
        } else if (what < 8 && !m.records.empty()) {
            press_until_done(undoLastChange, undo_count);
            m.undo();
        } else if (what < 11 && !m.undone.empty()) {
            press_until_done(redoLastUndo, redo_count);
            m.redo();
        } else {
            ASSERT_EQ(save_file_as(e.path, nullptr), 1);
            Bytes on_disk;
            FILE* f = fopen(e.path.c_str(), "rb");
            for (int c; f && (c = fgetc(f)) != EOF;)
                on_disk.push_back(static_cast<unsigned char>(c));
            if (f) fclose(f);
            ASSERT_EQ(on_disk, m.bytes) << "save " << i;
            ASSERT_EQ(shown_bytes(), m.bytes) << "save " << i;
        }
    }
}

void run_random_edits(bool whole, unsigned seed) {
    std::mt19937 rng(seed);
    const Bytes start = random_start(rng);
    EditedFile e(start, whole);
    Model m{start, start, {}, {}, whole, {}};
    // Few offsets, so that many records share one.
    auto offset = [&] { return static_cast<uint64_t>(rng() % 40) * 73 % m.bytes.size(); };
    for (int i = 0; i < 400; ++i) {
        int what = whole ? static_cast<int>(rng() % 4) : 0;
        uint64_t o = offset();
        cursor_to(o);
        if (what <= 1) {
            auto v = static_cast<unsigned char>(rng() % 4);
            pushUndo(3, o, get_byte(o), v);
            filebuff_modify(v);
            m.overwrite(o, v);
        } else if (what == 2) {
            auto v = static_cast<unsigned char>(rng() % 4);
            insert_byte(v, 0);
            update_screen();
            m.insert(o, v);
        } else if (m.bytes.size() > 2) {
            delete_byte(0);
            update_screen();
            m.erase(o);
        }
    }
    ASSERT_EQ(shown_bytes(), m.bytes);
    while (!m.records.empty()) {
        int before = UndoStack.size;
        undoLastChange();
        update_screen();
        if (UndoStack.size == before) undoLastChange(); // the first press only showed it
        update_screen();
        ASSERT_EQ(UndoStack.size, before - 1);
        uint64_t cursor = m.undo();
        ASSERT_EQ(cursor_loc, cursor) << m.records.size() << " records left";
        ASSERT_EQ(shown_bytes(), m.bytes) << m.records.size() << " records left";
        ASSERT_EQ(shown_table(), m.table) << m.records.size() << " records left";
        ASSERT_EQ(mod_table_entries, m.table.size());
        char digits[3];
        snprintf(digits, sizeof digits, "%02X", m.bytes[cursor_loc]);
        ASSERT_EQ(CursesScreen::ch(Globals.main_win, cursor_y - 1, cursor_x), digits[0]);
        ASSERT_EQ(CursesScreen::ch(Globals.main_win, cursor_y - 1, cursor_x + 1), digits[1]);
    }
    EXPECT_EQ(shown_bytes(), start);
}

} // namespace

TEST(UndoWalk, PagedOverwritesUndoLikeTheListWalk) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run_random_edits(false, seed);
}

TEST(UndoWalk, WholeFileEditsUndoLikeTheListWalk) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run_random_edits(true, seed);
}

TEST(UndoRedoWalk, PagedOverwritesUndoAndRedoLikeTheModel) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run_undo_redo_mix(false, seed);
}

TEST(UndoRedoWalk, WholeFileEditsUndoAndRedoLikeTheModel) {
    for (unsigned seed = 1; seed <= 3; ++seed)
        run_undo_redo_mix(true, seed);
}

TEST(UndoRedoWalk, SavesAmongUndoAndRedoWriteWhatTheScreenShows) {
    for (bool whole : {false, true})
        for (unsigned seed = 1; seed <= 3; ++seed)
            run_mix_with_saves(whole, seed);
}
