// inspect.cpp: the value inspector (F6), a popup that reads the bytes at the
// cursor as integers and floats of every common width, in both byte orders,
// and the byte itself in binary and octal. Any key closes it.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "morvane.h"

namespace {

constexpr size_t inspect_max_bytes = 8;
constexpr size_t inspect_label_width = 9;    // "float64" and two blanks
constexpr size_t inspect_longest_value = 24; // "-2.2250738585072014e-308"
constexpr size_t inspect_column_width = inspect_longest_value + 2;
constexpr int inspect_margin = 2; // the frame and one blank on either side
constexpr int inspect_width =
    static_cast<int>(inspect_label_width + inspect_column_width + inspect_longest_value) +
    2 * inspect_margin;
constexpr int inspect_height = 17 + 2; // the lines of inspect_lines and the frame

constexpr const char* inspect_bar = "Any key Close";

// A label, then one value, or two in the little- and big-endian columns.
std::string inspect_row(std::string_view label, const std::string& first,
                        const std::string& second = {}) {
    std::string row(label);
    row.resize(inspect_label_width, ' ');
    row += first;
    if (!second.empty()) {
        row.resize(inspect_label_width + inspect_column_width, ' ');
        row += second;
    }
    return row;
}

// `n` bytes as one number: the first byte lowest (little-endian) or highest.
uint64_t inspect_gather(const unsigned char* bytes, size_t n, bool little) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = v << 8 | bytes[little ? n - 1 - i : i];
    return v;
}

std::string inspect_unsigned(uint64_t v, size_t) {
    return std::to_string(v);
}

std::string inspect_signed(uint64_t v, size_t width) {
    // The top bit of the value's width spreads over the rest (C++20 shifts
    // signed values arithmetically).
    const unsigned shift = static_cast<unsigned>(64 - 8 * width);
    return std::to_string(static_cast<int64_t>(v << shift) >> shift);
}

// The shortest text that reads back as the same value. NaN and the
// infinities are spelled out: C libraries disagree on "nan", "-nan", "inf".
template <class Real> std::string inspect_real(Real v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

std::string inspect_float(uint64_t v, size_t) {
    return inspect_real(std::bit_cast<float>(static_cast<uint32_t>(v)));
}

std::string inspect_double(uint64_t v, size_t) {
    return inspect_real(std::bit_cast<double>(v));
}

std::string inspect_binary(unsigned char b) {
    std::string text(8, '0');
    for (int bit = 0; bit < 8; ++bit)
        if (b & (1u << bit)) text[static_cast<size_t>(7 - bit)] = '1';
    return text;
}

std::string inspect_octal(unsigned char b) {
    char text[8];
    (void)snprintf(text, sizeof text, "%03o", static_cast<unsigned>(b));
    return text;
}

std::string inspect_offset(uint64_t offset) {
    char text[48];
    (void)snprintf(text, sizeof text, "%" PRIu64 "  0x%08" PRIX64, offset, offset);
    return text;
}

} // namespace

std::vector<std::string> inspect_lines(const unsigned char* bytes, size_t available,
                                       uint64_t offset) {
    available = std::min(available, inspect_max_bytes);
    using Convert = std::string (*)(uint64_t, size_t);
    // The value of `width` bytes in one order, or "n/a" past the file's end.
    auto value = [&](Convert convert, size_t width, bool little) {
        return available < width ? std::string("n/a")
                                 : convert(inspect_gather(bytes, width, little), width);
    };
    auto both = [&](std::string_view label, Convert convert, size_t width) {
        return inspect_row(label, value(convert, width, true), value(convert, width, false));
    };
    const bool have_byte = available > 0;
    return {
        "Value inspector",
        "",
        inspect_row("offset", inspect_offset(offset)),
        inspect_row("uint8", value(inspect_unsigned, 1, true)),
        inspect_row("int8", value(inspect_signed, 1, true)),
        inspect_row("binary", have_byte ? inspect_binary(bytes[0]) : "n/a"),
        inspect_row("octal", have_byte ? inspect_octal(bytes[0]) : "n/a"),
        "",
        inspect_row("", "little-endian", "big-endian"),
        both("uint16", inspect_unsigned, 2),
        both("int16", inspect_signed, 2),
        both("uint32", inspect_unsigned, 4),
        both("int32", inspect_signed, 4),
        both("uint64", inspect_unsigned, 8),
        both("int64", inspect_signed, 8),
        both("float32", inspect_float, 4),
        both("float64", inspect_double, 8),
    };
}

void inspect_draw(WINDOW* popup, const std::vector<std::string>& lines) {
    if (!popup || lines.empty()) return;
    wbkgd(popup, ' ' | attr_normal());
    werase(popup);
    popup_border(popup);
    const int title_col = (getmaxx(popup) - static_cast<int>(lines[0].size())) / 2;
    wattrset(popup, attr_normal()); // titled in plain text, as every popup is
    popup_text(popup, 1, std::max(inspect_margin, title_col), lines[0]);
    for (size_t i = 1; i < lines.size(); ++i)
        popup_text(popup, static_cast<int>(i) + 1, inspect_margin, lines[i]);
}

namespace {

std::vector<std::string> inspect_at_cursor() {
    unsigned char bytes[inspect_max_bytes] = {};
    size_t available = 0;
    // One past the last byte (after an undo at the end) holds no byte.
    if (cursor_loc <= Globals.filesize)
        available = static_cast<size_t>(
            std::min<uint64_t>(inspect_max_bytes, Globals.filesize - cursor_loc + 1));
    for (size_t i = 0; i < available; ++i)
        bytes[i] = static_cast<unsigned char>(get_byte(cursor_loc + i));
    return inspect_lines(bytes, available, cursor_loc);
}

// The popup for the current screen size, read afresh: the quit dialog's New
// File may have replaced the file under it.
void inspect_layout(DialogScope& scope) {
    const std::vector<std::string> lines = inspect_at_cursor();
    assert(static_cast<int>(lines.size()) + 2 == inspect_height && "inspector: height out of date");
    WINDOW* popup = popup_window(inspect_width, inspect_height);
    scope.adopt(popup);
    inspect_draw(popup, lines);
}

} // namespace

void inspect_value() {
    // The rows it needs to be seen whole: all of them, or those of a smaller
    // terminal it was opened on, as for the popups popup_window cuts.
    // Control-C keeps its quit dialog, which opens over the inspector.
    DialogScope dialog({.bar = inspect_bar,
                        .layout = inspect_layout,
                        .need_lines = std::min(inspect_height, LINES),
                        .interrupts = DialogInterrupts::Kept});
    // The rest of a raw sequence arrives together with its Escape, so only
    // what is already waiting is dropped: a key typed later is the next command.
    if (read_key() == KEY_ESC) drop_escape_sequence();
}
