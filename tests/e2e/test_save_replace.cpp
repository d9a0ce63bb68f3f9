// A save under a name that is not the edited file's and names an existing
// regular file asks before replacing it. The Save field cuts a name at its
// first blank, so "my file.bix" is saved as "my": that "my" must not be
// replaced unasked.
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

const std::string question = "Replace the existing file?";

} // namespace

TEST(SaveReplace, AnExistingFileIsReplacedOnlyAfterYesAndEveryOtherAnswerKeepsTheField) {
    Terminal t;
    t.write_file("my file.bin", "edited");
    t.write_file("my", "keep me");
    t.start({"my file.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  65 64"));
    t.send("4");
    ASSERT_TRUE(expect_marker(t, "M"));
    t.send(ctrl('o'));
    ASSERT_TRUE(expect_anywhere(t, "Save File"));
    t.send(ctrl('u') + "my file.bix" + keys::enter);
    for (const std::string& no :
         {std::string("n"), std::string("N"), keys::esc, ctrl('g'), ctrl('x'), keys::enter}) {
        SCOPED_TRACE("answered with byte " + std::to_string(static_cast<int>(no[0])));
        ASSERT_TRUE(expect_anywhere(t, question));
        EXPECT_TRUE(t.expect_text(row_with(t, question) + 1, 38, " my "));
        t.send(no);
        // Back in the field, with the text as typed and the cursor after it.
        EXPECT_TRUE(t.expect_text(12, 7, "Filename: my file.bix ", Pos{12, 28}));
        EXPECT_TRUE(t.expect_row(23, "^G/^X/Escape Cancel"));
        EXPECT_EQ(t.read_file("my"), "keep me");
        t.send(keys::enter);
    }
    ASSERT_TRUE(expect_anywhere(t, question));
    t.send("y");
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_TRUE(t.expect_text(0, 0, "File: my "));
    EXPECT_EQ(t.read_file("my"), "Edited");
    EXPECT_EQ(t.read_file("my file.bin"), "edited");
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
