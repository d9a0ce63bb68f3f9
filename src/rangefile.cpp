// rangefile.cpp: the selection written into a file (Alt-O) and a file read
// into the clipboard (Alt-I), each through a dialog laid out as Save's: the
// same popup, a title of its own, a "Filename: " field (empty at first) and
// the same bar. The writing is save.cpp's (write_range_as), the reading
// ranges.cpp's (read_into_clipboard).
#include <cerrno>
#include <cstring>

#include "morvane.h"

namespace {

constexpr int popup_width = NAME_POPUP_WIDTH;

} // namespace

WINDOW* open_name_popup(DialogScope& dialog, const char* title) {
    WINDOW* popup = dialog.win();
    if (!popup) return nullptr;
    popup_text(popup, 1, popup_width / 2 - static_cast<int>(strlen(title)) / 2, title);
    popup_text(popup, 3, 2, "Filename: ");
    return popup;
}

std::string typed_name(const std::string& field) {
    std::string text = field.substr(0, field.find('\0'));
    return trim_at_whitespace(text);
}

namespace {

// The field as typed, for the field shown again after a question.
std::string typed_text(const std::string& field) {
    std::string text = field.substr(0, field.find('\0'));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace

std::optional<std::string> ask_name(WINDOW* popup, const std::string& text) {
    return read_line(popup, 3, 12, 1024, 50, text.c_str());
}

std::string name_dialog(DialogScope& dialog, const char* title, WINDOW*& popup) {
    popup = open_name_popup(dialog, title);
    if (!popup) {
        warn_beep();
        return {};
    }
    std::optional<std::string> field = ask_name(popup, "");
    return field ? typed_name(*field) : std::string();
}

void write_selection() {
    if (!selection_active()) {
        warn_beep();
        return;
    }
    const uint64_t first = selection_first();
    const uint64_t last = selection_last();
    DialogScope dialog({.width = popup_width, .height = 6, .bar = "^G/^X/Escape Cancel"});
    WINDOW* popup = open_name_popup(dialog, "Write Selection");
    if (!popup) {
        warn_beep();
        return;
    }
    std::string text;
    for (;;) {
        std::optional<std::string> field = ask_name(popup, text);
        if (!field) return;
        const std::string name = typed_name(*field);
        if (name.empty()) return;
        if (names_edited_file(name)) {
            show_save_failure(popup, "Cannot Write Selection",
                              "Reason: That is the file being edited");
            return;
        }
        if (names_existing_file(name) && !ask_replace(name)) {
            text = typed_text(*field);
            continue;
        }
        const char* failure = nullptr;
        // A write that gave way to New File has nothing more to say.
        if (!write_range_as(name, first, last, &failure) && !new_file_wanted)
            show_save_failure(popup, failure, std::string("Reason: ") + strerror(errno));
        return;
    }
}

void read_clipboard() {
    DialogScope dialog({.width = popup_width, .height = 6, .bar = "^G/^X/Escape Cancel"});
    WINDOW* popup = nullptr;
    const std::string name = name_dialog(dialog, "Read File into Clipboard", popup);
    if (name.empty()) return;
    std::string reason;
    switch (read_into_clipboard(name)) {
    case RangeResult::Done:
    case RangeResult::Stopped:
        return;
    case RangeResult::Refused:
        warn_beep();
        return;
    case RangeResult::TooLarge:
        reason = "Reason: File too large: at most 1 GiB can be read";
        break;
    case RangeResult::NoMemory:
        reason = "Reason: Not enough memory";
        break;
    case RangeResult::Failed:
        reason = std::string("Reason: ") + strerror(errno);
        break;
    }
    if (!new_file_wanted) show_save_failure(popup, "Cannot Read File", reason);
}
