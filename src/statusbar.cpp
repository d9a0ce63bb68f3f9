// statusbar.cpp: the status line (file name, character set, offset and the
// change marker) and the command bar with the keys of the current mode. The
// texts are built by pure functions (status_text, command_bar_text) that the
// drawing routines only print.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "morvane.h"

std::string status_text(int cols) {
    return status_line_text(cols, Globals.filename, cursor_loc, Globals.filesize);
}

std::string status_line_text(int cols, std::string_view name, uint64_t offset, uint64_t last) {
    if (cols <= 1) return {};
    int name_width = cols - 55;
    if (name_width < 0) name_width = 0;
    if (name_width > 1024) name_width = 1024;
    const double percent =
        last == 0 ? 0.0 : static_cast<double>(offset) / static_cast<double>(last) * 100.0;
    char tail[160];
    (void)snprintf(tail, sizeof tail, " %7s Offset: 0x%08" PRIX64 " / 0x%08" PRIX64 " (%%%02.0f) ",
                   Globals.ebcdic ? "EBCDIC" : "ASCII", offset, last, percent);
    std::string text;
    checked_alloc([&] {
        text.reserve(6 + static_cast<size_t>(name_width) + strlen(tail));
        text = "File: ";
        // The name's field is measured in columns: a character may take
        // several bytes, and a wide one two columns.
        text += fit_columns(name, name_width);
        text += tail;
        // The marker owns the last column; long offsets are cut before it.
        text = cut_columns(text, cols - 1);
    });
    return text;
}

char status_marker() {
    switch (Globals.file_state) {
    case 1:
        return 'M';
    case 2:
        return 'R';
    default:
        return ' ';
    }
}

void draw_status() {
    draw_status_line(Globals.status_win, Globals.filename, cursor_loc, Globals.filesize,
                     status_marker());
}

void draw_status_line(WINDOW* w, std::string_view name, uint64_t offset, uint64_t last,
                      char marker) {
    if (!w) return;
    const int width = getmaxx(w);
    if (width <= 0) return;
    const std::string text = status_line_text(width, name, offset, last);
    wmove(w, 0, 0);
    put_safe(w, text);
    // Blank up to the marker: a shorter text must not leave old characters.
    for (int x = getcurx(w); x < width - 1; ++x)
        waddch(w, ' ');
    mvwaddch(w, 0, width - 1, static_cast<unsigned char>(marker));
    wnoutrefresh(w);
}

// -------------------------------------------------------------- command bar

namespace {

struct BarEntry {
    const char* key;
    const char* what;
    const char* what_read_only; // null: the same text
    int after;                  // index of an entry that must have been printed, or -1
    bool writable_only;
};

constexpr BarEntry bar_entries[] = {
    {"^G", " Help", nullptr, -1, false},           {"   ^C", " Exit (No Save)", " Exit", -1, false},
    {"   ^T", " goTo Offset", nullptr, -1, false}, {"   ^X", " Exit and Save", " Exit", 2, false},
    {"   ^W", " Search", nullptr, -1, false},      {"   ^U", " Undo", nullptr, -1, true},
    {"   ^L", " Redraw", nullptr, -1, false},      {"   ^E", " Text Mode", nullptr, 6, false},
    {"   ^R", " CharSet", nullptr, 6, false},      {"   ^P", " Spacing", nullptr, 8, false},
    {"   ^N", " Find Next", nullptr, 9, false},    {"   F5", " Color", nullptr, -1, false},
};
constexpr int bar_entry_count = sizeof bar_entries / sizeof bar_entries[0];

} // namespace

std::string command_bar_text(int cols, int file_state) {
    std::string bar;
    if (cols < 8) return bar;
    const bool read_only = file_state == FILE_READ_ONLY;
    bool printed[bar_entry_count] = {};
    int room = cols;
    for (int i = 0; i < bar_entry_count; ++i) {
        const BarEntry& e = bar_entries[i];
        if (e.writable_only && read_only) continue;
        if (e.after >= 0 && !printed[e.after]) continue;
        // An entry needs one column to spare after its long form, whatever is printed.
        const int long_width = static_cast<int>(strlen(e.key) + strlen(e.what));
        if (room < long_width + 1) continue;
        const char* what = (read_only && e.what_read_only) ? e.what_read_only : e.what;
        bar += e.key;
        bar += what;
        room -= static_cast<int>(strlen(e.key) + strlen(what));
        printed[i] = true;
    }
    return bar;
}

// The keys that act on a selection, each printed whole or not at all.
std::string selection_bar_text(int cols, uint64_t first, uint64_t last, bool can_cut,
                               bool can_fill) {
    if (cols <= 0) return {};
    // No file reaches 2^64 bytes (a file's length is a signed 64-bit number):
    // the count never wraps.
    const uint64_t count = last - first + 1;
    char head[96];
    (void)snprintf(head, sizeof head, "Selected %" PRIu64 " byte%s %08" PRIX64 "-%08" PRIX64, count,
                   count == 1 ? "" : "s", first, last);
    std::string bar = head;
    if (static_cast<int>(bar.size()) > cols) bar.resize(static_cast<size_t>(cols));
    struct Entry {
        const char* text;
        bool shown;
    };
    const Entry entries[] = {{"  M-W Copy", true},
                             {"  M-K Cut", can_cut},
                             {"  M-F Fill", can_fill},
                             {"  M-O Write", true},
                             {"  M-A Clear", true}};
    for (const Entry& e : entries) {
        if (!e.shown) continue;
        // One column to spare, as on the ordinary bar.
        if (static_cast<int>(bar.size() + strlen(e.text)) + 1 > cols) continue;
        bar += e.text;
    }
    return bar;
}

void draw_command_bar() {
    WINDOW* w = Globals.help_win;
    if (!w) return;
    const int width = getmaxx(w);
    const bool writable = Globals.file_state != FILE_READ_ONLY;
    const std::string bar = !bar_note.empty() ? fit_columns(bar_note, COLS)
                            : selection_active() && Globals.mode == MODE_HEX
                                ? selection_bar_text(COLS, selection_first(), selection_last(),
                                                     writable && Globals.buffered, writable)
                            : compare_open() && Globals.mode == MODE_HEX
                                ? compare_bar_text(COLS)
                                : command_bar_text(COLS, Globals.file_state);
    wmove(w, 0, 0);
    waddnstr(w, bar.c_str(), std::min(static_cast<int>(bar.size()), width));
    wnoutrefresh(w);
}
