// The extended attributes a save carries from the old file to the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "morvane.h"

#ifdef __linux__
namespace {

// Two files in a fresh directory, removed afterwards.
class TwoFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/morvane-xattr-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        old_ = dir_ + "/old";
        fresh_ = dir_ + "/new";
        for (const std::string* p : {&old_, &fresh_})
            ASSERT_EQ(system(("touch " + *p).c_str()), 0);
        if (setxattr(old_.c_str(), "user.a", "1", 1, 0) != 0)
            GTEST_SKIP() << "no user attributes here: " << strerror(errno);
    }
    void TearDown() override { (void)system(("rm -rf " + dir_).c_str()); }
    std::string dir_, old_, fresh_;
};

} // namespace

TEST_F(TwoFiles, TheNewFileCarriesExactlyTheOldFilesAttributes) {
    ASSERT_EQ(setxattr(old_.c_str(), "user.b", "two", 3, 0), 0);
    ASSERT_EQ(setxattr(fresh_.c_str(), "user.stray", "x", 1, 0), 0);
    Xattrs attrs;
    ASSERT_EQ(read_xattrs(old_.c_str(), attrs), 0);
    ASSERT_EQ(attrs.size(), 2u);
    int fd = open(fresh_.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(apply_xattrs(fd, attrs), 0);
    close(fd);
    char value[16];
    EXPECT_EQ(getxattr(fresh_.c_str(), "user.a", value, sizeof value), 1);
    EXPECT_EQ(getxattr(fresh_.c_str(), "user.b", value, sizeof value), 3);
    EXPECT_EQ(std::string(value, 3), "two");
    EXPECT_EQ(getxattr(fresh_.c_str(), "user.stray", value, sizeof value), -1);
}

TEST_F(TwoFiles, AnAttributeThatCannotBeSetFailsTheCopy) {
    Xattrs attrs{{"user.a", "1"}, {"nonamespace", "x"}};
    int fd = open(fresh_.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(apply_xattrs(fd, attrs), -1);
    close(fd);
}
#endif
