// What a save keeps and what it refuses: the ACL and extended attributes of
// the file it replaces, the permissions of a file the user may not write, a
// name whose links loop, and a write in place that an ending signal or
// Escape must not cut short.
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e_helpers.h"
#include "terminal.h"

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + i / 4093 + 1);
    return s;
}

std::string marker(Terminal& t) {
    return t.cell(0, t.cols() - 1).text;
}

// The first byte typed over with '1' (0x11 in the hex pane's high half).
void change_first_byte(Terminal& t) {
    ASSERT_TRUE(t.expect_text(1, 0, "00000000  "));
    t.send("1");
    ASSERT_TRUE(expect_marker(t, "M"));
}

void expect_refused(Terminal& t, int err) {
    EXPECT_TRUE(expect_anywhere(t, "Cannot Save File"));
    EXPECT_TRUE(expect_anywhere(t, std::string("Reason: ") + strerror(err)));
    t.send("x");
    EXPECT_TRUE(t.expect([&] { return row_with(t, "Cannot Save File") < 0; }, "the box closes"));
    EXPECT_TRUE(expect_marker(t, "M"));
}

ino_t inode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

#ifdef __linux__
// An access ACL in the kernel's xattr form: version 2, then (tag, perm, id)
// entries in tag order.
std::string acl_with_user(uid_t uid, unsigned user_perm) {
    struct Entry {
        uint16_t tag, perm;
        uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFF}, // owner rw
                             {0x02, static_cast<uint16_t>(user_perm), uid},
                             {0x04, 4, 0xFFFFFFFF},  // group r
                             {0x10, 6, 0xFFFFFFFF},  // mask rw
                             {0x20, 0, 0xFFFFFFFF}}; // other none
    std::string a(4, '\0');
    const uint32_t version = 2;
    memcpy(a.data(), &version, 4);
    for (const Entry& e : entries)
        a.append(reinterpret_cast<const char*>(&e), sizeof e);
    return a;
}

std::string xattr_of(const std::string& path, const char* name) {
    char value[256];
    ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("(none: ") + strerror(errno) + ")"
                 : std::string(value, static_cast<size_t>(n));
}
#endif

uid_t nobody_uid() {
    const passwd* pw = getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}

gid_t nobody_gid() {
    const passwd* pw = getpwnam("nobody");
    return pw ? pw->pw_gid : 65534;
}

// Owner and group both nobody's: a new file could be given them, so only
// what is under test decides how the save writes.
int hand_to_nobody(const std::string& path) {
    return chown(path.c_str(), nobody_uid(), nobody_gid());
}

// The editor as the unprivileged user nobody, in the test's directory handed
// over to that user. Empty: runs; otherwise why it cannot.
std::string start_as_nobody(Terminal& t, const std::vector<std::string>& args) {
    if (geteuid() != 0) return "running the editor as another user needs root";
    if (access("/usr/bin/setpriv", X_OK) != 0) return "setpriv (util-linux) is not installed";
    const uid_t uid = nobody_uid();
    const std::string parent = t.dir().substr(0, t.dir().find_last_of('/'));
    if (chmod(parent.c_str(), 0755) != 0 || chmod(t.dir().c_str(), 0755) != 0 ||
        hand_to_nobody(t.dir()) != 0)
        return std::string("cannot hand the directory over: ") + strerror(errno);
    std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                                  "--regid=" + std::to_string(nobody_gid()), "--clear-groups",
                                  MORVANE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    t.start_program(argv);
    return {};
}

// The reading end of a FIFO, open before the editor writes into it.
class FifoReader {
  public:
    explicit FifoReader(const std::string& path) {
        if (mkfifo(path.c_str(), 0600) != 0) return;
        fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    }
    ~FifoReader() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Reads until `want` bytes have come (or the writer is gone); false on
    // a writer silent for the whole timeout.
    bool read_until(size_t want, int timeout_ms = scaled_timeout(20000)) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        char chunk[65536];
        while (got_.size() < want) {
            struct pollfd p {
                fd_, POLLIN, 0
            };
            if (poll(&p, 1, 50) > 0) {
                ssize_t n = read(fd_, chunk, sizeof chunk);
                if (n > 0) {
                    got_.append(chunk, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0 && writer_seen_) return true; // the writer closed it
                // No writer yet: a FIFO reads as ended until one opens it.
                if (n == 0) (void)poll(nullptr, 0, 10);
            }
            if (!got_.empty()) writer_seen_ = true;
            if (std::chrono::steady_clock::now() > end) return false;
        }
        return true;
    }
    const std::string& got() const { return got_; }

  private:
    int fd_ = -1;
    std::string got_;
    bool writer_seen_ = false;
};

// A whole-file save into a FIFO is a write in place that the test can hold
// in the middle: it waits while the FIFO is not read. `content` bytes, the
// first one changed, saved into the FIFO "p"; returns when the write runs.
void start_write_into_fifo(Terminal& t, FifoReader& fifo, const std::string& content) {
    t.write_file("a.bin", content);
    t.start({"-b", "a.bin"});
    change_first_byte(t);
    save_as(t, "p");
    ASSERT_TRUE(fifo.read_until(1)) << "the save never started writing";
}

} // namespace

// ------------------------------------------------------------ attributes

#ifdef __linux__
TEST(SaveKeeps, WholeFileSaveKeepsTheAclAndUserAttributes) {
    Terminal t;
    t.write_file("a.bin", pattern(5000));
    const std::string path = t.path("a.bin");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string acl = acl_with_user(nobody_uid(), 6);
    if (setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no ACLs in the test directory: " << strerror(errno);
    if (setxattr(path.c_str(), "user.comment", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no user attributes in the test directory: " << strerror(errno);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);

    t.start({"-b", "a.bin"});
    change_first_byte(t);
    save_as(t, "");
    ASSERT_TRUE(expect_marker(t, " "));

    EXPECT_EQ(t.read_file("a.bin")[0], '\x11');
    EXPECT_EQ(xattr_of(path, "system.posix_acl_access"), acl);
    EXPECT_EQ(xattr_of(path, "user.comment"), "kept");
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}

// An ordinary user can read a security.* attribute but not set one on a new
// file: the file is written in place and keeps it.
TEST(SaveKeeps, AnAttributeThatCannotBeCopiedMakesTheSaveWriteInPlace) {
    Terminal t;
    t.write_file("a.bin", pattern(5000));
    const std::string path = t.path("a.bin");
    ASSERT_EQ(hand_to_nobody(path), 0);
    if (setxattr(path.c_str(), "security.morvane_test", "label", 5, 0) != 0)
        GTEST_SKIP() << "cannot set a security attribute here: " << strerror(errno);
    const ino_t inode = inode_of(path);
    if (std::string why = start_as_nobody(t, {"-b", "a.bin"}); !why.empty()) GTEST_SKIP() << why;
    change_first_byte(t);
    save_as(t, "");
    ASSERT_TRUE(expect_marker(t, " "));

    EXPECT_EQ(t.read_file("a.bin")[0], '\x11');
    EXPECT_EQ(xattr_of(path, "security.morvane_test"), "label");
    EXPECT_EQ(inode_of(path), inode) << "written in place, not replaced";
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
#endif

// ------------------------------------------------------------ refusals

TEST(SaveKeeps, EveryModeRefusesAFileTheUserMayNotWrite) {
    struct Case {
        std::vector<std::string> options;
        std::string target; // empty: the edited file itself
    };
    for (const Case& c :
         {Case{{"-b"}, ""}, Case{{}, ""}, Case{{"-b"}, "b.bin"}, Case{{}, "b.bin"}}) {
        SCOPED_TRACE((c.options.empty() ? "paged" : "whole file") + std::string(", ") +
                     (c.target.empty() ? "same name" : "new name"));
        Terminal t;
        const std::string original = pattern(300);
        const std::string name = c.target.empty() ? "a.bin" : c.target;
        t.write_file("a.bin", original);
        if (!c.target.empty()) t.write_file(c.target, original);
        ASSERT_EQ(hand_to_nobody(t.path(name)), 0);
        ASSERT_EQ(chmod(t.path(name).c_str(), 0444), 0);
        std::vector<std::string> args = c.options;
        args.push_back("a.bin");
        if (std::string why = start_as_nobody(t, args); !why.empty()) GTEST_SKIP() << why;
        change_first_byte(t);
        save_as(t, c.target);
        if (!c.target.empty()) { // an existing file under another name: replaced after Y
            ASSERT_TRUE(expect_anywhere(t, "Replace the existing file?"));
            t.send("y");
        }
        expect_refused(t, EACCES);
        EXPECT_EQ(t.read_file(name), original);
        struct stat st {};
        ASSERT_EQ(stat(t.path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444u);
        t.send(ctrl('c'));
        ASSERT_TRUE(expect_anywhere(t, "Quit without Saving?"));
        t.send("y");
        EXPECT_EQ(t.wait_exit(), 0);
    }
}

TEST(SaveKeeps, ANameWhoseLinksLoopFailsWithTheSystemsReason) {
    for (const char* option : {"-b", ""}) {
        SCOPED_TRACE(*option ? "whole file" : "paged");
        Terminal t;
        t.write_file("a.bin", pattern(300));
        ASSERT_EQ(symlink("b", t.path("a").c_str()), 0);
        ASSERT_EQ(symlink("a", t.path("b").c_str()), 0);
        std::vector<std::string> args;
        if (*option) args.emplace_back(option);
        args.emplace_back("a.bin");
        t.start(args);
        change_first_byte(t);
        save_as(t, "a");
        expect_refused(t, ELOOP);
        struct stat st {};
        ASSERT_EQ(lstat(t.path("a").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
        ASSERT_EQ(lstat(t.path("b").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
    }
}

// ------------------------------------------------------------ writes in place

TEST(SaveKeeps, AnEndingSignalDuringAWriteInPlaceLetsItFinishThenEnds) {
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        Terminal t;
        FifoReader fifo(t.path("p"));
        ASSERT_TRUE(fifo.ok());
        const std::string content = pattern(size_t{4} << 20);
        start_write_into_fifo(t, fifo, content);
        ASSERT_EQ(kill(t.pid(), sig), 0);
        EXPECT_TRUE(fifo.read_until(content.size()));
        EXPECT_EQ(fifo.got().size(), content.size()) << "the write was cut short";
        EXPECT_EQ(fifo.got().substr(1), content.substr(1));
        EXPECT_EQ(t.wait_exit(), 128 + sig);
        EXPECT_FALSE(t.altscreen()) << "the terminal is given back";
    }
}

// Control-C during the save comes to the quit dialog once the write is over.
TEST(SaveKeeps, AnInterruptDuringAWriteInPlaceAsksToQuitOnlyAfterIt) {
    Terminal t;
    FifoReader fifo(t.path("p"));
    ASSERT_TRUE(fifo.ok());
    const std::string content = pattern(size_t{4} << 20);
    start_write_into_fifo(t, fifo, content);
    ASSERT_EQ(kill(t.pid(), SIGINT), 0);
    EXPECT_TRUE(fifo.read_until(content.size()));
    EXPECT_EQ(fifo.got().size(), content.size()) << "the write was cut short";
    EXPECT_TRUE(expect_anywhere(t, "Quit without Saving?"));
    EXPECT_EQ(marker(t), " ") << "saved before the question";
    t.send("y");
    EXPECT_EQ(t.wait_exit(), 0);
}

// Escape is read between blocks: 20 MiB are three blocks, and the pause
// after the first bytes lets the key poll come due before the next block.
TEST(SaveKeeps, EscapeDuringAWriteInPlaceRingsTheBellAndTheWriteFinishes) {
    Terminal t;
    FifoReader fifo(t.path("p"));
    ASSERT_TRUE(fifo.ok());
    const std::string content = pattern(size_t{20} << 20);
    start_write_into_fifo(t, fifo, content);
    const int bells = t.bells();
    t.send(keys::esc);
    // Not a synchronisation: the next block must start at least one key
    // poll period (50 ms) after the write began, and a slower machine only
    // makes the gap longer.
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_TRUE(fifo.read_until(content.size()));
    EXPECT_EQ(fifo.got().size(), content.size()) << "Escape stopped the write";
    EXPECT_TRUE(expect_marker(t, " "));
    EXPECT_TRUE(t.expect([&] { return t.bells() > bells; }, "the bell for the refused Escape"));
    t.send(ctrl('x'));
    EXPECT_EQ(t.wait_exit(), 0);
}
