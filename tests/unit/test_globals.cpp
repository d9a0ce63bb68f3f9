// Every global of morvane.h is kept between unit tests or exempted on
// purpose; the check after each test reports the one a test leaves changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "editor_globals.h"
#include "editor_state.h"

namespace {

std::vector<std::string> listed_names() {
    std::vector<std::string> names;
    for (const EditorGlobal& g : editor_globals())
        names.push_back(g.name);
    return names;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

} // namespace

TEST(EditorGlobals, EveryGlobalOfTheSharedHeaderIsKeptOrExempted) {
    std::ifstream f(MORVANE_SHARED_HEADER);
    ASSERT_TRUE(f) << "cannot read " << MORVANE_SHARED_HEADER;
    std::stringstream text;
    text << f.rdbuf();
    const std::vector<std::string> declared = extern_variables_in(text.str());
    ASSERT_GE(declared.size(), 20u) << "the header's globals were not found";
    const std::vector<std::string> listed = listed_names();
    for (const std::string& name : declared)
        EXPECT_TRUE(contains(listed, name))
            << "morvane.h declares the global `" << name
            << "` that editor_globals.cpp does not list: give it a fingerprint there and keep "
               "it in KeptEditorState (editor_state.h), or exempt it with the reason";
    for (const std::string& name : listed)
        EXPECT_TRUE(contains(declared, name))
            << "editor_globals.cpp lists `" << name << "`, which morvane.h no longer declares";
}

TEST(EditorGlobals, ExternDeclarationsAreReadByTheirNames) {
    const std::string header = "extern int32_t cursor_x;      // column\n"
                               "extern void (*screen_overlay)(); // prompt\n"
                               "extern calc_base_line* calc_lines[4];\n"
                               "extern const std::array<unsigned char, 256> ebcdic_display;\n"
                               "extern std::unique_ptr<mod_entry*[]> mod_table;\n"
                               "int extern_like_name = 0;\n"
                               "inline int get_byte(uint64_t offset);\n";
    EXPECT_EQ(extern_variables_in(header),
              (std::vector<std::string>{"cursor_x", "screen_overlay", "calc_lines",
                                        "ebcdic_display", "mod_table"}));
}

TEST(EditorGlobals, AChangedGlobalIsReportedByName) {
    const GlobalsSnapshot before = snapshot_globals();
    EXPECT_TRUE(globals_changed_since(before).empty());
    {
        KeptEditorState keep;
        jump_key = jump_key == '+' ? '-' : '+';
        EXPECT_EQ(globals_changed_since(before), std::vector<std::string>{"jump_key"});
    }
    EXPECT_TRUE(globals_changed_since(before).empty());
}
