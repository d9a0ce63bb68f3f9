// Saving to targets that are not plain files, and the failure box on a
// terminal too narrow for the full-width dialog.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

void start_changed(Terminal& t, const std::string& bytes) {
    t.write_file("a.bin", bytes);
    t.start({"a.bin"});
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    t.send("1");
    ASSERT_TRUE(expect_marker(t, "M"));
}

} // namespace

TEST(SaveTargets, FifoWithoutAReaderFailsInsteadOfHangingTheDialog) {
    Terminal t;
    std::string original(40, 'x');
    ASSERT_EQ(mkfifo(t.path("p").c_str(), 0600), 0);
    start_changed(t, original);
    save_as(t, "p");
    EXPECT_TRUE(expect_anywhere(t, "Cannot Save File"));
    EXPECT_TRUE(expect_anywhere(t, std::string("Reason: ") + strerror(ENXIO)));
    t.send("x");
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Cannot Save File") < 0; }, "the box closes"));
    EXPECT_TRUE(expect_marker(t, "M"));
    EXPECT_TRUE(t.expect_text(0, 0, "File: a.bin "));
    save_as(t, "");
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_EQ(t.read_file("a.bin"), "\x18" + original.substr(1));
}

TEST(SaveTargets, NarrowFailureBoxShowsTheWholeTitleInsideItsBorder) {
    Terminal t(24, 40);
    start_changed(t, std::string(16, 'x'));
    save_as(t, "/dev/full");
    ASSERT_TRUE(expect_anywhere(t, "bCannot Save File"));
    // The frame may be drawn after the title: poll for the right border.
    int r = -1;
    EXPECT_TRUE(t.expect(
        [&] {
            r = row_with(t, "bCannot Save File");
            if (r < 0) return false;
            std::string row = t.row(r);
            return row.find("bCannot Save File") < row.rfind("\u2502");
        },
        "the title left of the right border"))
        << t.dump({r});
    t.send("x");
    EXPECT_TRUE(expect_marker(t, "M"));
}
