// Bytes 0xA0-0xFF under -8 and -a in a UTF-8 terminal, the path most users
// run: the text column shows their Latin-1 characters.
#include <string>

#include "terminal.h"

TEST(HighBytes, Utf8TerminalShowsLatin1CharactersUnderHighBitAndAllText) {
    for (const char* option : {"-8", "-a"}) {
        SCOPED_TRACE(option);
        Terminal t;
        t.write_file("latin.bin", "caf\xE9 \xFF\xA9");
        t.start({option, "latin.bin"}, {{"LANG", "C.UTF-8"}});
        EXPECT_TRUE(t.expect_text(1, 0, "00000000  63 61 66 E9  20 FF A9"));
        EXPECT_TRUE(t.expect_text(1, 64, "caf\u00E9 \u00FF\u00A9"));
        t.send(ctrl('x'));
        EXPECT_EQ(t.wait_exit(), 0);
    }
}
