// What the end-to-end tests share beyond the Terminal harness: the editor's
// usual command bar, text looked for anywhere on the screen, and the change
// marker. One copy here, so that a change of the bar or of the marker's
// place is made once.
#pragma once

#include <functional>
#include <string>

#include "terminal.h"

// The hex editor's command bar on a writable file at 80 columns.
inline const std::string writable_bar =
    "^G Help   ^C Exit (No Save)   ^T goTo Offset   ^X Exit and Save   ^W Search";

// The screen row that shows `text`, or -1.
inline int row_with(Terminal& t, const std::string& text) {
    for (int r = 0; r < t.lines(); ++r)
        if (t.row(r).find(text) != std::string::npos) return r;
    return -1;
}

// `text` on some row of the screen, eventually.
[[nodiscard]] inline ::testing::AssertionResult
expect_anywhere(Terminal& t, const std::string& text,
                int timeout_ms = Terminal::default_timeout_ms) {
    return t.expect([&] { return row_with(t, text) >= 0; }, "\"" + text + "\" on the screen",
                    timeout_ms);
}

// The status line's last cell: "M" changed, "R" read-only, " " unchanged.
[[nodiscard]] inline ::testing::AssertionResult
expect_marker(Terminal& t, const std::string& m, int timeout_ms = Terminal::default_timeout_ms) {
    return t.expect([&] { return t.cell(0, t.cols() - 1).text == m; },
                    "the change marker is '" + m + "'", timeout_ms);
}

// Control-O and the name typed over the pre-filled one (empty: keep it);
// Enter is left to the caller when `enter` is false.
inline void save_as(Terminal& t, const std::string& name, bool enter = true) {
    t.send(ctrl('o'));
    ASSERT_TRUE(t.expect([&] { return t.row(t.lines() - 1).find("^G/^X/Escape Cancel") == 0; },
                         "the save dialog's command bar"));
    if (!name.empty()) t.send(ctrl('u') + name);
    if (enter) t.send(keys::enter);
}

// `state` comes true and then holds for a short window: the screen a key
// ends in, which may take more than one frame to arrive, and which nothing
// changes afterwards.
[[nodiscard]] inline ::testing::AssertionResult
expect_steady(Terminal& t, const std::function<bool()>& state, const std::string& what) {
    if (auto r = t.expect(state, what); !r) return r;
    return t.holds_for(state, what);
}

// The editor's Y/N questions, asked before something is written over.
inline const std::string replace_question = "Replace the existing file?";
inline const std::string changed_question = "The file changed on disk since it was opened";

// `question` is on the screen with its command bar; `answer` is sent.
[[nodiscard]] inline ::testing::AssertionResult
answer_question(Terminal& t, const std::string& question, const std::string& answer) {
    if (auto r = expect_anywhere(t, question); !r) return r;
    if (auto r = t.expect_row(t.lines() - 1, "^G/^X/Escape Cancel   Y Yes   N No"); !r) return r;
    t.send(answer);
    return ::testing::AssertionSuccess();
}
