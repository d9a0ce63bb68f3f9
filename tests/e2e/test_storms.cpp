// Key storms: long seeded sequences of keys and resizes against the real
// program, checked by oracles that need no model of the editor:
//   - every edit undone, then a save, gives the original bytes back;
//   - one overwrite sequence gives the same file in paged and -b mode, saved
//     in place or under a new name;
//   - keys that never save leave the file's bytes and time untouched.
// Range commands (select, copy, paste, fill; cut and paste in with -b) join
// the edits: each is one undo step, and none depends on the storage mode.
// So does Replace (Alt-R), kept to replacements of the pattern's length
// where one storm's keys also run without -b; Find (Alt-S) only moves.
// The compare view, opened by --compare at the start of some runs and by
// Alt-C in any, only moves the cursor (Alt-N, F8, Alt-B) and reads: every
// key of hex editing goes on in it, Align (Alt-=) takes typed and empty
// shifts, Alt-C or a lone Escape closes it; outside it, its keys do nothing.
//
// MV_STORM_SEED sets the seed (else a fixed one per test), and
// MV_STORM_RUNS / MV_STORM_KEYS the runs per test and the actions
// per run. Each test runs in two shards; run i of shard k uses the seed
// seed + k * 100000 + i, and a failure prints how to replay that run alone.
//
// Keys go out in small batches, each followed by a settle. Dialogs are
// opened only as whole actions that end back in the hex view, on terminals
// big enough for their popups, so the editor is in a known place when the
// storm ends.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

uint64_t env_number(const char* name, uint64_t fallback) {
    const char* v = getenv(name);
    if (!v || !*v) return fallback;
    return strtoull(v, nullptr, 0);
}

struct StormConfig {
    uint64_t seed;
    int runs;
    int actions;
};

StormConfig storm_config(uint64_t default_seed, int default_runs, int default_actions) {
    return {env_number("MV_STORM_SEED", default_seed),
            static_cast<int>(env_number("MV_STORM_RUNS", default_runs)),
            static_cast<int>(env_number("MV_STORM_KEYS", default_actions))};
}

// For scripts/soak: what this test ran, on one line.
void report(const char* test, int runs, long keys) {
    printf("[storm] %s runs=%d keys=%ld\n", test, runs, keys);
    fflush(stdout);
}

// Shard k of a test starts at seed + k * shard_seed_step.
constexpr uint64_t shard_seed_step = 100000;

// How to replay one run: its seed, alone, as shard 0 of its test.
std::string seed_note(uint64_t seed) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    name = name.substr(0, name.rfind('/')) + "/0";
    return "replay: MV_STORM_SEED=" + std::to_string(seed) +
           " MV_STORM_RUNS=1 e2e_tests --gtest_filter='" + name + "'";
}

// Bytes that are not all alike, so that a misplaced byte shows.
std::string file_bytes(std::mt19937_64& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    // Some text, so that text searches find something.
    for (size_t at = 100; at + 5 < n; at += 5000)
        s.replace(at, 5, "storm");
    return s;
}

// The other file of the compare view: the original with a few bytes changed,
// a run of bytes inserted (Align finds the shift past it) and another end.
std::string other_bytes(std::mt19937_64& rng, const std::string& original) {
    std::string s = original;
    for (int i = 0; i < 8; ++i)
        s[rng() % s.size()] ^= 0x5A;
    s.insert(rng() % s.size(), std::string(1 + rng() % 40, 'x'));
    if (rng() % 2)
        s.resize(s.size() - rng() % 2000);
    else
        s += file_bytes(rng, 1 + rng() % 2000);
    return s;
}

// One step of a storm: keys sent in one write, or a resize.
struct Step {
    std::string keys;
    int lines = 0, cols = 0; // a resize when lines > 0
};

enum class Kind { Undoable, Overwrite, NoSave };

// Builds the steps of one run. It follows only what it must to keep its
// actions whole: the pane (Tab), the terminal size, whether edits may insert.
class StormScript {
  public:
    // `edited`: the edited file's name; `compare`: the storm starts in the
    // compare view.
    StormScript(uint64_t seed, Kind kind, bool insert_delete, std::string edited, bool compare)
        : rng_(seed), kind_(kind), insert_delete_(insert_delete), edited_(std::move(edited)),
          compare_(compare) {}

    std::vector<Step> build(int actions) {
        steps_.clear();
        batch_.clear();
        for (int i = 0; i < actions; ++i) {
            action();
            if (batch_.size() > 12 || pick(3) == 0) flush();
        }
        flush();
        resize(24, 80); // the end phase reads dialogs at a known size
        return steps_;
    }
    long keys() const { return keys_; }

  private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
    char from(const std::string& set) { return set[static_cast<size_t>(pick(int(set.size())))]; }

    void add(const std::string& k) {
        batch_ += k;
        ++keys_;
    }
    void flush() {
        if (!batch_.empty()) steps_.push_back({batch_, 0, 0});
        batch_.clear();
    }
    void resize(int lines, int cols) {
        flush();
        steps_.push_back({"", lines, cols});
        lines_ = lines;
        cols_ = cols;
    }
    void random_resize() {
        if (pick(6) == 0)
            resize(1 + pick(4), 1 + pick(40)); // tiny: what is left must not break
        else
            resize(5 + pick(40), 20 + pick(120));
    }
    // Room for the widest popup (70 x 10) and its command bar.
    bool dialogs_fit() const { return lines_ >= 12 && cols_ >= 72; }
    void big_resize() { resize(12 + pick(30), 72 + pick(60)); }
    // Sometimes a dialog sees a resize while it is open.
    void maybe_resize_inside() {
        if (pick(4) == 0) big_resize();
    }

    std::string hex_digits(int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += from("0123456789abcdefABCDEF");
        return s;
    }

    void action() {
        int r = pick(100);
        if (r < 24)
            edit();
        else if (r < 28)
            undo_redo();
        else if (r < 40)
            move();
        else if (r < 46)
            range_action();
        else if (r < 52)
            random_resize();
        else if (r < 58)
            toggle();
        else if (r < 66)
            compare_action();
        else if (!dialogs_fit())
            move();
        else if (r < 70)
            go_to();
        else if (r < 74)
            jump();
        else if (r < 77)
            search_action();
        else if (r < 80)
            find_replace_action();
        else if (r < 84)
            help();
        else if (r < 88)
            compare_ ? refused_in_compare() : calc();
        else if (r < 92)
            compare_ ? refused_in_compare() : text_view();
        else if (r < 95 && kind_ != Kind::Overwrite)
            quit_dialog_no();
        else if (kind_ == Kind::NoSave)
            noise();
        else
            move();
    }

    void edit() {
        if (insert_delete_ && pick(4) == 0) {
            static const std::vector<std::string> ins_del = {ctrl('a'), keys::insert, ctrl('d'),
                                                             keys::del};
            add(ins_del[static_cast<size_t>(pick(4))]);
            return;
        }
        int n = 1 + pick(4);
        for (int i = 0; i < n; ++i) {
            if (text_pane_)
                add(std::string(1, static_cast<char>(0x20 + pick(0x5F))));
            else
                add(std::string(1, from("0123456789abcdefABCDEF")));
        }
    }

    // A selection made or moved, and what acts on it. Alt keys go out as
    // Escape and the letter in one batch, so the two are never split.
    void range_action() {
        static const std::vector<std::string> shifted = {
            keys::shift_up,   keys::shift_down, keys::shift_left,    keys::shift_right,
            keys::shift_home, keys::shift_end,  keys::shift_page_up, keys::shift_page_down};
        const int n = 1 + pick(4);
        for (int i = 0; i < n; ++i)
            add(shifted[static_cast<size_t>(pick(int(shifted.size())))]);
        if (!dialogs_fit()) return;
        switch (pick(kind_ == Kind::NoSave ? 9 : 7)) {
        case 0:
            add(pick(2) ? keys::alt('a') : keys::f9); // cleared (a new mark next time)
            break;
        case 1:
            add(keys::alt(pick(2) ? 'w' : 'W'));
            break;
        case 2:
            add(keys::alt('y'));
            break;
        case 3:
        case 4:
            // Shift-Right first: a selection for the fill, whatever the keys before did.
            add(keys::shift_right);
            add(keys::alt('f'));
            maybe_resize_inside();
            add(hex_digits(2 * (1 + pick(3))));
            add(pick(8) == 0 ? ctrl('g') : keys::enter);
            break;
        case 5:
        case 6:
            if (insert_delete_)
                add(keys::alt(pick(2) ? 'k' : 'p'));
            else
                add(keys::alt('w'));
            break;
        case 7: // into a file of its own, never the edited one
            add(keys::shift_right);
            add(keys::alt('o'));
            maybe_resize_inside();
            add("sel" + std::to_string(written_++) + ".bin");
            add(keys::enter);
            break;
        default: // the edited file read into the clipboard, then pasted
            add(keys::alt('i'));
            maybe_resize_inside();
            add("n.bin");
            add(keys::enter);
            add(keys::alt('y'));
            break;
        }
    }

    // Undo and redo in any order: redo's changes are undone like any other.
    void undo_redo() {
        int n = 1 + pick(4);
        for (int i = 0; i < n; ++i)
            add(pick(2) ? ctrl('u') : keys::f7);
    }

    void move() {
        static const std::vector<std::string> common = {
            keys::up,      keys::down,      keys::left, keys::right, keys::home, keys::end,
            keys::page_up, keys::page_down, ctrl('b'),  ctrl('f'),   ctrl('v'),  ctrl('y')};
        int n = 1 + pick(5);
        for (int i = 0; i < n; ++i) {
            if (!text_pane_ && pick(4) == 0)
                add(std::string(1, from("hjklHJKLuvy ")));
            else
                add(common[static_cast<size_t>(pick(int(common.size())))]);
        }
    }

    void toggle() {
        switch (pick(6)) {
        case 0:
            add(keys::tab);
            text_pane_ = !text_pane_;
            break;
        case 1:
            add(ctrl('p'));
            break;
        case 2:
            add(ctrl('r'));
            break;
        case 3:
            add(keys::f5);
            break;
        case 4: // the value inspector, closed by the next key
            add(keys::f6);
            add(pick(2) ? ctrl('l') : keys::down);
            break;
        default:
            add(ctrl('l'));
            break;
        }
    }

    void go_to() {
        add(text_pane_ || pick(2) ? ctrl('t') : "t");
        if (pick(2)) {
            add(hex_digits(1 + pick(5))); // after the field's "0x"
        } else {
            add(ctrl('u'));
            add(std::to_string(rng_() % 70000));
        }
        maybe_resize_inside();
        add(pick(8) == 0 ? ctrl('g') : keys::enter);
    }

    void jump() {
        if (text_pane_) { // the letters would be typed into the file
            move();
            return;
        }
        if (pick(3) == 0) {
            add("n");
            return;
        }
        add(pick(2) ? "+" : "-");
        add(hex_digits(1 + pick(4)));
        maybe_resize_inside();
        add(pick(8) == 0 ? ctrl('g') : keys::enter);
    }

    // Found or not, the search ends in the hex view: the key after it is
    // taken by the not-found message or, after a match, repaints.
    void search_action() {
        if (pick(4) == 0) {
            add(pick(2) ? ctrl('n') : keys::f4);
            add(ctrl('l'));
            return;
        }
        add(text_pane_ || pick(2) ? ctrl('w') : "w");
        maybe_resize_inside();
        switch (pick(4)) {
        case 0: {
            add("a");
            static const std::vector<std::string> words = {"storm", "st", "zz", "o", "rm"};
            add(words[static_cast<size_t>(pick(int(words.size())))]);
            add(keys::enter);
            add(ctrl('l'));
            break;
        }
        case 1:
            add("h");
            add(hex_digits(2 * (1 + pick(2))));
            add(keys::enter);
            add(ctrl('l'));
            break;
        case 2:
            add("f");
            add(ctrl('l'));
            break;
        default:
            add(pick(2) ? keys::down : keys::up);
            add(ctrl('g'));
            break;
        }
    }

    // Short patterns of every form, with their lengths in bytes. None is
    // all ??, which would match at every byte.
    struct StormPattern {
        const char* text;
        int bytes;
    };
    static constexpr StormPattern find_patterns[] = {
        {"41 ??", 2},      {"?? 74 6F", 3}, {"\"a\"", 1},   {"\"storm\"", 5},
        {"\"STORM\"i", 5}, {"\"to\"w", 4},  {"u8:0x6F", 1}, {"u16be:0x746F", 2},
    };
    const StormPattern& some_pattern() {
        return find_patterns[static_cast<size_t>(pick(int(std::size(find_patterns))))];
    }

    // Exact bytes for Replace with: text or hex, `n` bytes long.
    std::string replacement(int n) {
        if (n == 0) return "\"\"";
        if (pick(2)) {
            std::string text = "\"";
            for (int i = 0; i < n; ++i)
                text += from("abcxyzSTORM019");
            return text + "\"";
        }
        std::string hex;
        for (int i = 0; i < n; ++i)
            hex += (i && pick(2) ? " " : "") + hex_digits(2);
        return hex;
    }

    // Found or not, Find ends in the hex view as search does: the ^L after
    // it is taken by the not-found message or repaints. A pattern that
    // cannot be read keeps the popup open until ^G.
    void find_replace_action() {
        if (pick(3) == 0) {
            add(pick(2) ? ctrl('n') : keys::f4);
            add(ctrl('l'));
            return;
        }
        if (pick(2)) {
            find();
            return;
        }
        const StormPattern& p = some_pattern();
        add(keys::alt(pick(2) ? 'r' : 'R'));
        add(p.text);
        add(keys::enter);
        if (pick(8) == 0) {
            add(ctrl('g'));
            return;
        }
        // Without -b a length of its own is refused and the field stays;
        // the Overwrite storm also runs its keys with -b, which would take it.
        if (!insert_delete_ && kind_ != Kind::Overwrite && pick(4) == 0) {
            add(replacement(p.bytes + 1));
            add(keys::enter);
            add(ctrl('g'));
            return;
        }
        add(replacement(insert_delete_ ? pick(4) : p.bytes));
        add(keys::enter);
        // Answers past the last match land in the view: y, n and a are
        // there a move or an edit, and Escape is followed by ^L, which
        // in the view ends the Escape as no key at all. Find's and Replace's
        // popups see no resize while open: narrowed, they ignore every key.
        maybe_resize_inside();
        const int n = pick(4);
        for (int i = 0; i < n; ++i)
            add(pick(2) ? "y" : "n");
        if (pick(2)) {
            add(pick(2) ? "a" : "A");
        } else {
            add(keys::esc);
            add(ctrl('l'));
        }
    }

    void find() {
        add(keys::alt(pick(2) ? 's' : 'S'));
        if (pick(8) == 0) {
            add("4D 5"); // refused: an odd digit
            add(keys::enter);
            add(ctrl('g'));
            return;
        }
        add(some_pattern().text);
        add(keys::enter);
        add(ctrl('l'));
    }

    // The compare view: opened, searched, aligned, closed. The script follows
    // whether it is open: its keys differ there (a lone Escape closes it,
    // ^E and ^_ are refused).
    void compare_action() {
        if (!compare_) {
            if (dialogs_fit() && pick(4) != 0)
                open_compare();
            else // outside the view these do nothing
                add(compare_key(pick(4)));
            return;
        }
        switch (pick(8)) {
        case 0:
            if (dialogs_fit()) {
                align();
                break;
            }
            [[fallthrough]];
        case 1:
        case 2:
        case 3:
        case 4: {
            const int n = 1 + pick(3);
            for (int i = 0; i < n; ++i)
                add(compare_key(pick(3)));
            break;
        }
        case 5:
            refused_in_compare();
            break;
        case 6: // Escape alone: nothing may follow it in its write
            flush();
            add(keys::esc);
            flush();
            compare_ = false;
            break;
        default:
            add(keys::alt(pick(2) ? 'c' : 'C'));
            compare_ = false;
            break;
        }
    }

    // Next difference (Alt-N, F8), previous (Alt-B), Align (Alt-=).
    std::string compare_key(int which) {
        switch (which) {
        case 0:
            return keys::alt(pick(2) ? 'n' : 'N');
        case 1:
            return keys::f8;
        case 2:
            return keys::alt(pick(2) ? 'b' : 'B');
        default:
            return keys::alt('=');
        }
    }

    // The other file, the edited one itself, or a name that cannot be
    // compared with, whose failure box the next key closes.
    void open_compare() {
        add(keys::alt(pick(2) ? 'c' : 'C'));
        maybe_resize_inside();
        switch (pick(8)) {
        case 0:
            add(ctrl('g'));
            return;
        case 1:
            add(pick(2) ? "missing.bin" : ".");
            add(keys::enter);
            add(ctrl('g'));
            return;
        case 2:
            add(edited_);
            break;
        default:
            add("other.bin");
            break;
        }
        add(keys::enter);
        compare_ = true;
    }

    // A shift typed (now and then one past any file), one that is no number
    // (refused, then cancelled), or Enter alone: found or not, a note.
    void align() {
        add(keys::alt('='));
        maybe_resize_inside();
        switch (pick(6)) {
        case 0:
        case 1:
            add(keys::enter);
            break;
        case 2:
            add(pick(2) ? "+" : "1-");
            add(keys::enter);
            add(ctrl('g'));
            break;
        case 3:
            add(ctrl('g'));
            break;
        default:
            if (pick(3)) add(pick(2) ? "-" : "+");
            add(hex_digits(pick(8) == 0 ? 15 : 1 + pick(4)));
            add(keys::enter);
            break;
        }
    }

    // The text view and the calculator ring the bell in the compare view.
    void refused_in_compare() { add(pick(2) ? ctrl('e') : "\x1f"); }

    void help() {
        add(pick(2) ? ctrl('g') : keys::f1);
        int n = pick(4);
        for (int i = 0; i < n; ++i)
            add(pick(2) ? "j" : "k");
        maybe_resize_inside();
        add("q");
    }

    void calc() {
        add("\x1f");
        int n = 1 + pick(6);
        for (int i = 0; i < n; ++i) {
            switch (pick(4)) {
            case 0:
                add(pick(2) ? "j" : "k");
                break;
            case 1:
                add("\x7f");
                break;
            default:
                add(std::string(1, from("0123456789ABCDEFabcdef")));
                break;
            }
        }
        maybe_resize_inside();
        add(ctrl('g'));
    }

    void text_view() {
        add(ctrl('e'));
        int n = pick(3);
        for (int i = 0; i < n; ++i)
            add(pick(2) ? ctrl('r') : ctrl('l'));
        if (pick(3) == 0) find();
        maybe_resize_inside();
        add(ctrl('e'));
    }

    // The quit dialog answered No; the settle before Control-C is the
    // harness's (the tty drops what is unread when it raises the signal).
    void quit_dialog_no() {
        flush();
        add(ctrl('c'));
        flush();
        maybe_resize_inside();
        add("n");
        flush();
    }

    // Anything that cannot save or quit: no ^O, F2, ^X, F3 (save), ^C (the
    // quit dialog), ^Z, ^S, ^Q (job and flow control of the tty), and no
    // lone Escape, which could join the next bytes into F2 or F3.
    void noise() {
        static const std::vector<std::string> units = {
            keys::up,      keys::down,      keys::left,   keys::right, keys::home, keys::end,
            keys::page_up, keys::page_down, keys::insert, keys::del,   keys::f1,   keys::f5};
        int n = 1 + pick(8);
        for (int i = 0; i < n; ++i) {
            if (pick(4) == 0) {
                add(units[static_cast<size_t>(pick(int(units.size())))]);
                continue;
            }
            int b = pick(256);
            if (b == 0x0f || b == 0x18 || b == 0x03 || b == 0x1a || b == 0x13 || b == 0x11 ||
                b == 0x1b || b == 0x8f || b == 0x9b || b == 0)
                b = 'x';
            add(std::string(1, static_cast<char>(b)));
        }
        flush();
    }

    std::mt19937_64 rng_;
    Kind kind_;
    bool insert_delete_;
    std::string edited_;
    bool compare_; // the compare view is open
    bool text_pane_ = false;
    int lines_ = 24, cols_ = 80;
    long keys_ = 0;
    int written_ = 0; // files written by Alt-O so far
    std::string batch_;
    std::vector<Step> steps_;
};

void play(Terminal& t, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        if (s.lines > 0)
            t.resize(s.lines, s.cols);
        else
            t.send(s.keys);
        t.settle();
        if (!t.running()) return;
    }
}

// The hex view at 24 x 80 shows an offset at the start of its first row.
::testing::AssertionResult expect_hex_view(Terminal& t) {
    return t.expect(
        [&] {
            std::string r = t.row(1);
            return r.size() >= 10 && r.find_first_not_of("0123456789ABCDEF") == 8 &&
                   r.compare(8, 2, "  ") == 0;
        },
        "the hex view");
}

// The compare view's other file, written beside the edited one, and whether
// the storm starts in the view.
struct CompareSetup {
    std::string other;
    bool at_start;
};

CompareSetup compare_setup(std::mt19937_64& rng, const std::string& original) {
    return {other_bytes(rng, original), rng() % 2 == 0};
}

void start_editor(Terminal& t, const std::string& name, bool buffered,
                  const CompareSetup& compare) {
    t.write_file("other.bin", compare.other);
    std::vector<std::string> args;
    if (buffered) args.push_back("-b");
    if (compare.at_start) args.insert(args.end(), {"--compare", "other.bin"});
    args.push_back(name);
    t.start(args);
    ASSERT_TRUE(expect_hex_view(t));
    t.settle();
}

// Control-O, the name (empty: the one shown), Enter; then the quit key,
// which leaves at once when nothing is left unsaved.
void save_and_leave(Terminal& t, const std::string& name) {
    t.send(ctrl('o'));
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).find("^G/^X/Escape Cancel") == 0; },
                         "the save dialog's command bar"));
    if (!name.empty()) t.send(ctrl('u') + name);
    t.send(keys::enter);
    ASSERT_TRUE(expect_hex_view(t));
    t.settle();
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// ------------------------------------------------------------------ undo

// Every change undone (Undo rings the bell once nothing is left), then saved
// in place: the file is what it was.
long undo_storm(uint64_t seed, int actions, bool buffered) {
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    Terminal t(24, 80);
    const std::string original = file_bytes(rng, 20000 + rng() % 30000);
    const CompareSetup compare = compare_setup(rng, original);
    t.write_file("u.bin", original);
    start_editor(t, "u.bin", buffered, compare);
    if (::testing::Test::HasFatalFailure()) return 0;

    StormScript script(seed, Kind::Undoable, buffered, "u.bin", compare.at_start);
    std::vector<Step> steps = script.build(actions);
    play(t, steps);
    EXPECT_TRUE(t.running()) << t.dump();
    EXPECT_TRUE(expect_hex_view(t));
    if (::testing::Test::HasFailure()) return script.keys();

    // Not a vacuous storm: it has changed the file (the status marker).
    EXPECT_TRUE(t.expect([&] { return t.cell(0, t.cols() - 1).text == "M"; }, "changes"));
    // Each change needs at most two presses (the first may only show it).
    const int bells_before = t.bells();
    bool rang = false;
    for (long sent = 0; sent < 2 * script.keys() + 8 && !rang; sent += 16) {
        t.send(std::string(16, '\x15'));
        t.settle();
        rang = t.bells() > bells_before;
    }
    EXPECT_TRUE(rang) << "Undo never rang the bell\n" << t.dump();
    save_and_leave(t, "");
    EXPECT_TRUE(t.read_file("u.bin") == original) << "the undone file differs from the original";
    return script.keys();
}

// ------------------------------------------------------------------ four files

// The overwrite steps, saved in place or under a new name: the result file.
std::string overwrite_result(const std::vector<Step>& steps, const std::string& original,
                             const CompareSetup& compare, bool buffered, bool new_name) {
    Terminal t(24, 80);
    t.write_file("o.bin", original);
    start_editor(t, "o.bin", buffered, compare);
    if (::testing::Test::HasFatalFailure()) return {};
    play(t, steps);
    EXPECT_TRUE(t.running()) << t.dump();
    EXPECT_TRUE(expect_hex_view(t));
    save_and_leave(t, new_name ? "copy.bin" : "");
    if (new_name) {
        EXPECT_TRUE(t.read_file("o.bin") == original) << "the original was written";
    }
    return t.read_file(new_name ? "copy.bin" : "o.bin");
}

long overwrite_storm(uint64_t seed, int actions) {
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    const std::string original = file_bytes(rng, 20000 + rng() % 30000);
    const CompareSetup compare = compare_setup(rng, original);
    StormScript script(seed, Kind::Overwrite, false, "o.bin", compare.at_start);
    std::vector<Step> steps = script.build(actions);

    const std::string paged_in_place = overwrite_result(steps, original, compare, false, false);
    const std::string paged_new = overwrite_result(steps, original, compare, false, true);
    const std::string whole_in_place = overwrite_result(steps, original, compare, true, false);
    const std::string whole_new = overwrite_result(steps, original, compare, true, true);
    EXPECT_EQ(paged_in_place.size(), original.size());
    EXPECT_FALSE(paged_in_place == original) << "the storm changed nothing";
    EXPECT_TRUE(paged_in_place == paged_new) << "paged: in place and new name differ";
    EXPECT_TRUE(paged_in_place == whole_in_place) << "in place: paged and -b differ";
    EXPECT_TRUE(paged_in_place == whole_new) << "paged in place and -b under a new name differ";
    return 4 * script.keys();
}

// ------------------------------------------------------------------ no save

struct FileTime {
    struct timespec mtime;
    off_t size;
};

FileTime file_time(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return {st.st_mtim, st.st_size};
}

// Closes whatever noise left open until Control-C brings up the quit dialog
// (dialogs that ignore the interrupt drop it; ^G cancels them or the help).
void quit_without_saving(Terminal& t) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        t.send(ctrl('c'));
        t.settle();
        if (expect_anywhere(t, "Quit without Saving?", 600)) {
            t.send("y");
            return;
        }
        t.send(ctrl('g'));
        t.settle();
    }
    ADD_FAILURE() << "Control-C never opened the quit dialog\n" << t.dump();
}

long no_save_storm(uint64_t seed, int actions, bool buffered) {
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    Terminal t(24, 80);
    const std::string original = file_bytes(rng, 20000 + rng() % 30000);
    const CompareSetup compare = compare_setup(rng, original);
    t.write_file("n.bin", original);
    // An old time, so that any write would show in it.
    std::string touch = "touch -d '2001-02-03 04:05:06.789' " + t.path("n.bin");
    EXPECT_EQ(system(touch.c_str()), 0);
    const FileTime before = file_time(t.path("n.bin"));
    start_editor(t, "n.bin", buffered, compare);
    if (::testing::Test::HasFatalFailure()) return 0;

    StormScript script(seed, Kind::NoSave, buffered, "n.bin", compare.at_start);
    play(t, script.build(actions));
    EXPECT_TRUE(t.running()) << t.dump();
    quit_without_saving(t);
    EXPECT_EQ(t.wait_exit(), 0);
    const FileTime after = file_time(t.path("n.bin"));
    EXPECT_TRUE(t.read_file("n.bin") == original) << "the file's bytes changed";
    EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec);
    EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec);
    return script.keys();
}

// Runs of one storm: seeds from the base of the shard on.
template <typename Storm>
void run_storms(const char* name, uint64_t default_seed, int default_runs, Storm storm) {
    const int shard = ::testing::TestWithParam<int>::GetParam();
    StormConfig c = storm_config(default_seed, default_runs, 80);
    const uint64_t base = c.seed + static_cast<uint64_t>(shard) * shard_seed_step;
    long keys = 0;
    int runs = 0;
    for (; runs < c.runs && !::testing::Test::HasFailure(); ++runs)
        keys += storm(base + static_cast<uint64_t>(runs), c.actions);
    report(name, runs, keys);
}

} // namespace

// Shards of each storm, so that ctest runs them side by side.
class StormUndo : public ::testing::TestWithParam<int> {};
class StormOverwrite : public ::testing::TestWithParam<int> {};
class StormNoSave : public ::testing::TestWithParam<int> {};

TEST_P(StormUndo, PagedEditsAllUndoneSaveTheOriginalBytes) {
    run_storms("StormUndo.Paged", 1101, 5,
               [](uint64_t seed, int actions) { return undo_storm(seed, actions, false); });
}

TEST_P(StormUndo, BufferedEditsInsertsAndDeletesAllUndoneSaveTheOriginalBytes) {
    run_storms("StormUndo.Buffered", 2202, 5,
               [](uint64_t seed, int actions) { return undo_storm(seed, actions, true); });
}

TEST_P(StormOverwrite, PagedAndBufferedInPlaceAndUnderANewNameGiveOneFile) {
    run_storms("StormOverwrite", 3303, 1, overwrite_storm);
}

TEST_P(StormNoSave, PagedKeysThatNeverSaveLeaveTheFileUntouched) {
    run_storms("StormNoSave.Paged", 4404, 5,
               [](uint64_t seed, int actions) { return no_save_storm(seed, actions, false); });
}

TEST_P(StormNoSave, BufferedKeysThatNeverSaveLeaveTheFileUntouched) {
    run_storms("StormNoSave.Buffered", 5505, 5,
               [](uint64_t seed, int actions) { return no_save_storm(seed, actions, true); });
}

INSTANTIATE_TEST_SUITE_P(Shard, StormUndo, ::testing::Values(0, 1));
INSTANTIATE_TEST_SUITE_P(Shard, StormOverwrite, ::testing::Values(0, 1));
INSTANTIATE_TEST_SUITE_P(Shard, StormNoSave, ::testing::Values(0, 1));
