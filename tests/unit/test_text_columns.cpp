// Text measured in terminal columns as the locale reads it: what names take
// in the status line, the Save field and the browser.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "editor_state.h"

namespace {

class Utf8Locale {
  public:
    Utf8Locale() : old_(setlocale(LC_CTYPE, nullptr)) {
        ok_ = setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
        output_charset = OutputCharset::Utf8;
    }
    ~Utf8Locale() { setlocale(LC_CTYPE, old_.c_str()); }
    bool ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

#define NEED_UTF8(locale)                                                                          \
    Utf8Locale locale;                                                                             \
    if (!locale.ok()) GTEST_SKIP() << "no C.UTF-8 locale on this system"

} // namespace

TEST(TextColumns, Utf8CharactersTakeTheirColumnsNotTheirBytes) {
    KeptEditorState keep;
    NEED_UTF8(locale);
    EXPECT_EQ(text_columns("caf\u00e9.bin"), 8);
    EXPECT_EQ(text_columns("\u65e5\u672c"), 4); // wide characters
    EXPECT_EQ(text_columns("e\u0301"), 1);      // a combining mark joins its letter
    EXPECT_EQ(text_columns("\u0301x"), 2);      // ... and alone is a stand-in
    EXPECT_EQ(text_columns("a\xff\x1b"), 3);    // one stand-in per invalid byte
    EXPECT_EQ(text_columns("a\u202eb"), 3);     // a bidirectional override is a stand-in
    EXPECT_EQ(text_cell_bytes("\u00e9x", 0), 2u);
    EXPECT_EQ(text_cell_bytes("e\u0301x", 0), 3u);
}

TEST(TextColumns, CutsAtWholeCharactersAndPadsToTheWidth) {
    KeptEditorState keep;
    NEED_UTF8(locale);
    EXPECT_EQ(cut_columns("caf\u00e9.bin", 4), "caf\u00e9");
    EXPECT_EQ(cut_columns("a\u65e5b", 2), "a"); // half a wide character is none
    EXPECT_EQ(fit_columns("a\u65e5b", 2), "a ");
    EXPECT_EQ(fit_columns("caf\u00e9", 6), "caf\u00e9  ");
    EXPECT_EQ(fit_columns("abc", 0), "");
    EXPECT_EQ(fit_columns("abc", -3), "");
}

TEST(TextColumns, WithoutAUtf8LocaleEveryByteIsACell) {
    KeptEditorState keep;
    output_charset = OutputCharset::Ascii;
    EXPECT_EQ(text_columns("caf\u00e9.bin"), 9);
    EXPECT_EQ(cut_columns("caf\u00e9.bin", 4), "caf\xc3");
}

TEST(TextColumns, StatusLineGivesAUtf8NameItsColumns) {
    KeptEditorState keep;
    NEED_UTF8(locale);
    Globals.filename = "caf\u00e9.bin";
    Globals.filesize = 0x3F;
    Globals.ebcdic = 0;
    cursor_loc = 0x10;
    const std::string expected = "File: caf\u00e9.bin" + std::string(17, ' ') +
                                 "   ASCII Offset: 0x00000010 / 0x0000003F (%25) ";
    EXPECT_EQ(status_text(80), expected);
    EXPECT_EQ(text_columns(status_text(80)), 78);
}
