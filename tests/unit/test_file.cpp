#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "morvane.h"

namespace {

NameNode* make_list(const std::vector<std::string>& names) {
    NameNode* head = nullptr;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        head = name_node(*it, head);
    return head;
}

std::vector<std::string> names_of(const NameNode* list) {
    std::vector<std::string> out;
    for (; list; list = list->p)
        out.push_back(list->name);
    return out;
}

std::vector<std::string> sorted_names(const std::vector<std::string>& names) {
    NameNode* list = msort(make_list(names));
    std::vector<std::string> out = names_of(list);
    free_name_list(list);
    return out;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/morvane-file-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    void touch(const std::string& name) const {
        FILE* f = fopen((path + "/" + name).c_str(), "w");
        if (f) fclose(f);
    }
};

// Runs `body` where permissions can be lacking: directly for an ordinary
// user, in a child switched to "nobody" for root. The result is body's,
// or -1 when no such user exists.
int run_without_privilege(const std::function<int()>& body) {
    if (geteuid() != 0) return body();
    struct passwd* pw = getpwnam("nobody");
    if (!pw) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(90);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 91;
}

} // namespace

TEST(Msort, DotComesBeforeDotDot) {
    EXPECT_EQ(sorted_names({"..", "."}), (std::vector<std::string>{".", ".."}));
}

TEST(Msort, UpperCaseUnderscoreLowerCaseInByteOrder) {
    EXPECT_EQ(sorted_names({"B", "a", "_x", ".."}),
              (std::vector<std::string>{"..", "B", "_x", "a"}));
}

TEST(Msort, DashBeforeDotAndDigitsAfterDotDot) {
    EXPECT_EQ(sorted_names({"0", "..", "-z", "."}),
              (std::vector<std::string>{"-z", ".", "..", "0"}));
}

TEST(Msort, HighBytesSortAfterAscii) {
    EXPECT_EQ(sorted_names({"\xc3\xa9t\xc3\xa9", "~", "z", "\x80"}),
              (std::vector<std::string>{"z", "~", "\x80", "\xc3\xa9t\xc3\xa9"}));
}

TEST(Msort, EmptyAndSingleNodeListsComeBackAsTheyAre) {
    EXPECT_EQ(msort(nullptr), nullptr);
    NameNode single{"only", nullptr};
    EXPECT_EQ(msort(&single), &single);
    EXPECT_EQ(single.p, nullptr);
    EXPECT_EQ(single.name, "only");
}

TEST(Msort, FiveNodesAreRelinkedNotCopied) {
    NameNode* list = make_list({"e", "c", "a", "d", "b"});
    std::vector<NameNode*> before;
    for (NameNode* n = list; n; n = n->p)
        before.push_back(n);
    NameNode* sorted = msort(list);
    std::vector<NameNode*> after;
    for (NameNode* n = sorted; n; n = n->p)
        after.push_back(n);
    EXPECT_EQ(names_of(sorted), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    ASSERT_EQ(after.size(), 5u);
    std::vector<NameNode*> a = before, b = after;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << "every node once, none allocated";
    free_name_list(sorted);
}

TEST(Msort, AgreesWithStableSortOnRandomListsWithDuplicates) {
    std::mt19937 rng(12345);
    const std::string alphabet = "aB._-0\x7f\xff";
    for (int round = 0; round < 400; ++round) {
        size_t n = rng() % 40;
        std::vector<std::string> names;
        for (size_t i = 0; i < n; ++i) {
            std::string s;
            size_t len = rng() % 3; // short names: many duplicates, also the empty name
            for (size_t k = 0; k < len; ++k)
                s += alphabet[rng() % alphabet.size()];
            names.push_back(s);
        }
        NameNode* list = make_list(names);
        std::vector<std::pair<std::string, NameNode*>> expected;
        for (NameNode* q = list; q; q = q->p)
            expected.emplace_back(q->name, q);
        std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) {
            return strcmp(x.first.c_str(), y.first.c_str()) < 0;
        });

        NameNode* sorted = msort(list);
        std::vector<std::pair<std::string, NameNode*>> got;
        for (NameNode* q = sorted; q; q = q->p)
            got.emplace_back(q->name, q);
        ASSERT_EQ(got, expected) << "round " << round << ", " << n << " names";
        free_name_list(sorted);
    }
}

TEST(GetDirectory, ListsEveryEntrySortedWithDotsIncluded) {
    TempDir dir;
    for (const char* name : {"b", "A", ".hidden", "#1", "z z"})
        dir.touch(name);
    mkdir((dir.path + "/c").c_str(), 0755);
    NameNode* list = getDirectory(dir.path.c_str());
    EXPECT_EQ(names_of(list),
              (std::vector<std::string>{"#1", ".", "..", ".hidden", "A", "b", "c", "z z"}));
    free_name_list(list);
}

TEST(GetDirectory, EmptyDirectoryGivesDotAndDotDot) {
    TempDir dir;
    NameNode* list = getDirectory(dir.path.c_str());
    EXPECT_EQ(names_of(list), (std::vector<std::string>{".", ".."}));
    free_name_list(list);
}

TEST(GetDirectory, MissingDirectoryGivesNoneWithItsError) {
    TempDir dir;
    errno = 0;
    EXPECT_EQ(getDirectory((dir.path + "/absent").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(GetDirectory, UnreadableDirectoryGivesNoneWithThePermissionError) {
    TempDir dir;
    chmod(dir.path.c_str(), 0755);
    std::string locked = dir.path + "/locked";
    mkdir(locked.c_str(), 0755);
    dir.touch("locked/inside");
    chmod(locked.c_str(), 0311);
    int result = run_without_privilege([&] {
        errno = 0;
        NameNode* list = getDirectory(locked.c_str());
        if (list) return 1;
        return errno == EACCES ? 0 : 2;
    });
    chmod(locked.c_str(), 0755);
    if (result == -1) GTEST_SKIP() << "running as root without a \"nobody\" user to drop to";
    EXPECT_EQ(result, 0) << "1: listed anyway, 2: another error";
}
