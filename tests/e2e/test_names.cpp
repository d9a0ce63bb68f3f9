// File names as the user wrote them: under a UTF-8 locale a name shows as
// its characters, measured in terminal columns, in the status line, the
// Save field and the browser; bytes not valid in the locale show as one-cell
// stand-ins, never as control sequences.
#include <string>

#include "terminal.h"

namespace {

const Terminal::Env utf8{{"LANG", "C.UTF-8"}};
const std::string stand_in = "\u2592"; // ACS_CKBOARD as the terminal shows it

int row_with(Terminal& t, const std::string& text) {
    for (int r = 0; r < t.lines(); ++r)
        if (t.row(r).find(text) != std::string::npos) return r;
    return -1;
}

void start_on(Terminal& t, const std::string& name) {
    t.write_file(name, "12345");
    t.start({name}, utf8);
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
}

} // namespace

// 80 columns leave the name 25 of them; the rest of the line starts after.
TEST(Names, StatusLineShowsAUtf8NameInItsColumns) {
    Terminal t;
    start_on(t, "caf\u00e9.bin");
    EXPECT_TRUE(t.expect_text(0, 0, "File: caf\u00e9.bin "));
    EXPECT_TRUE(t.expect_text(0, 34, "ASCII Offset: 0x00000000 / 0x00000004 (%00)"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// The field shows the name as spelled and takes é as one character: five
// Backspaces remove "n", "i", "b", "." and "é", not half of "é".
TEST(Names, SaveFieldShowsAUtf8NameAndEditsItByCharacter) {
    Terminal t;
    start_on(t, "caf\u00e9.bin");
    t.send(ctrl('o'));
    ASSERT_TRUE(t.expect([&] { return row_with(t, "Filename: caf\u00e9.bin ") >= 0; },
                         "the name in the Save field"));
    const int r = row_with(t, "Filename: ");
    const int field = 80 / 2 - 70 / 2 + 12; // the 70-column popup's field, in screen columns
    EXPECT_TRUE(t.expect_cursor({r, field + 8}));
    t.send(std::string(5, '\x7f'));
    EXPECT_TRUE(t.expect_cursor({r, field + 3}));
    t.send("e.bin");
    t.send(keys::enter);
    EXPECT_TRUE(t.expect_text(0, 0, "File: cafe.bin "));
    EXPECT_EQ(t.read_file("cafe.bin"), "12345");
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

TEST(Names, BrowserShowsAUtf8NameAsSpelled) {
    Terminal t;
    t.write_file("caf\u00e9.bin", "x");
    t.start({}, utf8);
    // ".", ".." and the file, in this order.
    EXPECT_TRUE(t.expect_text(3, 57, "caf\u00e9.bin "));
    t.send(keys::down + keys::down);
    EXPECT_TRUE(t.expect_row(0, "File: caf\u00e9.bin"));
    t.send(ctrl('c'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// 0xFF is no UTF-8 and ESC no printable character: one stand-in each, and
// "[7m" stays text instead of turning the line to reverse video.
TEST(Names, BytesNotValidInTheLocaleShowAsOneCellStandIns) {
    Terminal t;
    start_on(t, "a\xff\x1b[7mb");
    EXPECT_TRUE(t.expect_text(0, 0, "File: a" + stand_in + stand_in + "[7mb "));
    EXPECT_TRUE(t.expect_text(0, 34, "ASCII Offset: 0x00000000"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
