// F6, the value inspector, as a user presses it: the bytes at the cursor
// (with unsaved edits) as numbers, n/a past the end of the file, the popup
// drawn again after a resize, and the key that closes it doing nothing else.
#include <string>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string side = "│";

// The popup is 63x19, centred: at row 3, column 9 of 80x24. Its lines start
// two columns in; the title is centred on the popup's width.
struct Popup {
    int top, left;
};
constexpr Popup on_80x24 = {3, 9};

std::string framed(const std::string& inside) {
    return side + inside + std::string(61 - inside.size(), ' ') + side;
}

std::string rule(const char* left, const char* right) {
    std::string s = left;
    for (int i = 0; i < 61; ++i)
        s += "─";
    return s + right;
}

// The whole popup for the value rows after the title and the blank row.
std::vector<std::string> popup_rows(const std::vector<std::string>& values) {
    std::vector<std::string> rows = {rule("┌", "┐"),
                                     framed(std::string(23, ' ') + "Value inspector"), framed("")};
    for (const std::string& v : values)
        rows.push_back(framed(" " + v));
    rows.push_back(rule("└", "┘"));
    return rows;
}

::testing::AssertionResult expect_popup(Terminal& t, Popup at,
                                        const std::vector<std::string>& values) {
    std::vector<std::string> rows = popup_rows(values);
    for (size_t i = 0; i < rows.size(); ++i)
        if (auto r = t.expect_text(at.top + static_cast<int>(i), at.left, rows[i]); !r) return r;
    return ::testing::AssertionSuccess();
}

void start_with(Terminal& t, const std::string& bytes, std::vector<std::string> args) {
    t.write_file("data.bin", bytes);
    args.push_back("data.bin");
    t.start(args);
    ASSERT_TRUE(t.expect_row(t.lines() - 1, writable_bar));
    ASSERT_TRUE(t.settle());
}

// Byte i of the file is i mod 256.
std::string counting_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i);
    return s;
}

const std::vector<std::string> edited_values = {
    "offset   16380  0x00003FFC",
    "uint8    161",
    "int8     -95",
    "binary   10100001",
    "octal    241",
    "",
    "         little-endian             big-endian",
    "uint16   41633                     41378",
    "int16    -23903                    -24158",
    "uint32   2762187425                2711790500",
    "int32    -1532779871               -1583176796",
    "uint64   216737543010624161        11647051513871794691",
    "int64    216737543010624161        -6799692559837756925",
    "float32  -7.0965486e-17            -1.1020862e-18",
    "float64  3.5242114087223174e-294   -1.1661652920369503e-146",
};

} // namespace

// Paged: the eight bytes cross from the first page of 16384 bytes into the
// second, and the first five were typed over and not saved.
TEST(ValueInspector, ShowsTheBytesAtTheCursorWithUnsavedEditsInPagedMode) {
    Terminal t;
    const std::string bytes = counting_bytes(40000);
    start_with(t, bytes, {});
    t.send(ctrl('t') + "3FFC" + keys::enter);
    ASSERT_TRUE(t.expect_text(1, 0, "00003FF0"));
    t.send("a1a2a3a4a5");
    ASSERT_TRUE(t.expect_text(2, 10, "A5 01 02"));
    t.send(ctrl('t') + "3FFC" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00003FFC"));
    t.send(keys::f6);
    EXPECT_TRUE(expect_popup(t, on_80x24, edited_values));
    EXPECT_TRUE(t.expect_row(23, "Any key Close"));
    EXPECT_EQ(t.read_file("data.bin"), bytes);
}

// Whole-file mode, from the text pane: at the last byte only the byte's own
// rows have a value; one byte before it, the 16-bit ones too.
TEST(ValueInspector, NearTheEndOfTheFileTheWiderValuesReadNotAvailable) {
    Terminal t;
    start_with(t, "ABC", {"-b"});
    t.send(keys::tab + keys::end);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000002"));
    t.send(keys::f6);
    const std::string na = "n/a" + std::string(23, ' ') + "n/a";
    EXPECT_TRUE(
        expect_popup(t, on_80x24,
                     {"offset   2  0x00000002", "uint8    67", "int8     67", "binary   01000011",
                      "octal    103", "", "         little-endian             big-endian",
                      "uint16   " + na, "int16    " + na, "uint32   " + na, "int32    " + na,
                      "uint64   " + na, "int64    " + na, "float32  " + na, "float64  " + na}));
    t.send("x" + keys::left + keys::f6);
    EXPECT_TRUE(t.expect_text(6, 9, framed(" offset   1  0x00000001")));
    EXPECT_TRUE(t.expect_text(13, 9, framed(" uint16   17218                     16963")));
    EXPECT_TRUE(t.expect_text(15, 9, framed(" uint32   " + na)));
}

// Laid out anew and centred on each size; while it cannot be seen whole its
// keys are refused, so the popup stays until it can be read again.
TEST(ValueInspector, IsDrawnWholeAgainAfterAResize) {
    Terminal t;
    const std::string bytes = counting_bytes(40000);
    start_with(t, bytes, {});
    t.send(ctrl('t') + "3FFC" + keys::enter + "a1a2a3a4a5" + ctrl('t') + "3FFC" + keys::enter);
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00003FFC"));
    t.send(keys::f6);
    ASSERT_TRUE(expect_popup(t, on_80x24, edited_values));

    t.resize(30, 100);
    EXPECT_TRUE(expect_popup(t, {6, 19}, edited_values));
    EXPECT_TRUE(t.expect_row(29, "Any key Close"));

    t.resize(10, 30);
    ASSERT_TRUE(t.settle());
    const int bells = t.bells();
    t.send("x");
    EXPECT_TRUE(t.expect([&] { return t.bells() > bells; }, "the key refused with the bell"));
    t.resize(1, 1);
    ASSERT_TRUE(t.settle());
    t.resize(24, 80);
    EXPECT_TRUE(expect_popup(t, on_80x24, edited_values));
    EXPECT_TRUE(t.expect_row(23, "Any key Close"));

    t.send("x");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_TRUE(t.running());
}

// In the text pane every character would be typed into the file: the key
// that closes the popup, whatever it is, only closes it. An Escape closes it
// at once, and the rest of an arrow that curses does not know goes with it.
TEST(ValueInspector, TheKeyThatClosesItDoesNothingElse) {
    Terminal t;
    const std::string bytes = "Hello, inspector";
    start_with(t, bytes, {});
    t.send(keys::tab + keys::right);
    const Pos cursor = {1, 65}; // the text pane's second byte
    ASSERT_TRUE(t.expect_text(0, 40, "Offset: 0x00000001", cursor));
    ASSERT_TRUE(t.settle());
    const std::vector<std::string> before = t.screen();
    const std::vector<std::pair<const char*, std::string>> closing = {
        {"letter", "a"},         {"control-x", ctrl('x')}, {"escape", keys::esc},
        {"raw arrow", "\x1b[A"}, {"f6", keys::f6},         {"arrow", keys::down},
    };
    for (const auto& [name, key] : closing) {
        SCOPED_TRACE(name);
        t.send(keys::f6);
        ASSERT_TRUE(t.expect_text(on_80x24.top + 1, 33, "Value inspector"));
        t.send(key);
        EXPECT_TRUE(t.expect_screen(before, cursor));
    }
    EXPECT_TRUE(t.expect_unchanged());
    EXPECT_EQ(t.read_file("data.bin"), bytes);
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// Control-C keeps its meaning under the inspector; answering No brings the
// inspector back, still waiting for its key.
TEST(ValueInspector, QuitDialogOpensOverItAndNoReturnsToIt) {
    Terminal t;
    start_with(t, "ABC", {});
    t.send(keys::f6);
    ASSERT_TRUE(t.expect_text(on_80x24.top + 1, 33, "Value inspector"));
    t.send(ctrl('c'));
    ASSERT_TRUE(t.expect_text(23, 0, "^G/^X/Escape Cancel   Y Yes"));
    t.send("n");
    EXPECT_TRUE(t.expect_text(on_80x24.top + 1, 33, "Value inspector"));
    EXPECT_TRUE(t.expect_text(on_80x24.top + 3, 9, framed(" offset   0  0x00000000")));
    EXPECT_TRUE(t.expect_row(23, "Any key Close"));
    t.send("x");
    EXPECT_TRUE(t.expect_row(23, writable_bar));
    EXPECT_EQ(t.read_file("data.bin"), "ABC");
}
