// SmallDisk: a small tmpfs under a test's directory, for a disk that really
// fills up. Mounting needs root (and Linux); without it the test is skipped
// with the reason, not passed:
//
//   MOUNT_SMALL_DISK(disk, t, "small", 64 * 4096);
//   disk.fill();            // every free block taken by "small/filler"
//   ...                     // writes into t.path("small") now fail: ENOSPC
//   disk.release();
#pragma once

#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "terminal.h"

class SmallDisk {
  public:
    SmallDisk(Terminal& t, const std::string& name, size_t bytes) : dir_(t.path(name)) {
#ifdef __linux__
        if (geteuid() != 0) {
            reason_ = "mounting a small tmpfs needs root";
            return;
        }
        t.make_dir(name);
        std::string options = "size=" + std::to_string(bytes);
        if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) != 0)
            reason_ = std::string("cannot mount a tmpfs: ") + strerror(errno);
        else
            mounted_ = true;
#else
        (void)t;
        (void)bytes;
        reason_ = "a small tmpfs is mounted on Linux only";
#endif
    }
    ~SmallDisk() {
#ifdef __linux__
        // Lazily: the editor under test may still hold a file open here.
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
#endif
    }
    bool mounted() const {
        return mounted_;
    }
    const std::string& skip_reason() const {
        return reason_;
    }
    // Takes every free block (a file named "filler").
    void fill() const {
        int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<char> block(4096, 'F');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
    }
    void release() const {
        std::filesystem::remove(dir_ + "/filler");
    }

  private:
    std::string dir_, reason_;
    bool mounted_ = false;
};

#define MOUNT_SMALL_DISK(var, t, name, bytes)                                                      \
    SmallDisk var(t, name, bytes);                                                                 \
    if (!var.mounted()) GTEST_SKIP() << var.skip_reason()
