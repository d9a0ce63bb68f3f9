// save.cpp: the "Save File" dialog and the writing behind it.
//
// Three ways to write, by storage mode and target:
//   whole-file mode: the whole buffer becomes the target's content;
//   paged mode into the edited file itself: only the modified bytes, each at
//     its offset (write_mod_table), so a failure or a kill leaves every byte
//     either old or new;
//   paged mode (and disk mode) under a new name: the file is copied with the
//     table laid over.
// The target counts as the edited file when it is the same file on disk
// (device and inode), whatever the path looks like: opening the edited file
// "wb" would empty the very file a paged copy reads from.
//
// A whole new content never overwrites the target's bytes while it is being
// written: it goes into a temporary file beside the target, which is synced
// and renamed over it, so a failed or killed save leaves the old file (or no
// file) and never half of each. Where a new inode would lose what users rely
// on (other hard links, a device, an owner we cannot give it, extended
// attributes or an ACL we cannot copy, a directory we cannot create in) the
// space is reserved first and the target written in place; the signals that
// end the program wait until such a write is over.
//
// Writes go straight to the descriptor so that every failure is seen where
// it happens, and nothing is reported saved before the target is synced.
#include <fcntl.h>
#include <limits.h> // NOLINT(modernize-deprecated-headers): PATH_MAX is POSIX's, not <climits>'s
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#elif defined(__FreeBSD__)
#include <sys/acl.h>
#include <sys/extattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "morvane.h"

namespace {

// Blocks of the copy through our memory, read and written at multiples of
// their size from page-aligned memory: 256 KiB measured best here, as the
// block is still in the cache when it is written out.
constexpr size_t copy_chunk = size_t{256} << 10;
// Small enough that Escape and the progress are seen a few times a second
// even on slow disks.
constexpr uint64_t write_chunk = uint64_t{8} << 20;

constexpr const char* open_failure = "Cannot Save File";
constexpr const char* write_failure = "bCannot Save File";

struct FileId {
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

FileId id_of(const struct stat& st) {
    return FileId{true, st.st_dev, st.st_ino};
}

FileId id_of_path(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return {};
    return id_of(st);
}

FileId id_of_stream(FILE* f) {
    struct stat st;
    if (!f || fstat(fileno(f), &st) != 0) return {};
    return id_of(st);
}

bool same_file(const FileId& a, const FileId& b) {
    return a.known && b.known && a.dev == b.dev && a.ino == b.ino;
}

// Stopped with Escape: the save fails with ECANCELED.
bool keep_saving(LongWork& work, uint64_t done) {
    if (work.keep_going(done)) return true;
    errno = ECANCELED;
    return false;
}

// Sets the disk writing what the save has written so far, without waiting:
// the sync at its end then waits for the last stretch only, not for the
// whole file, which it would otherwise start to write only then (on Linux;
// elsewhere the sync does it all). A write error still shows at the sync.
void start_writeback(int fd) {
#ifdef SYNC_FILE_RANGE_WRITE
    (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
#endif
}

// `done`: bytes of the whole save written before these.
int write_all(int fd, const unsigned char* p, uint64_t n, LongWork& work, uint64_t done) {
    while (n > 0) {
        if (!keep_saving(work, done)) return -1;
        size_t want = static_cast<size_t>(std::min<uint64_t>(n, write_chunk));
        ssize_t put = write(fd, p, want);
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (put == 0) {
            errno = EIO;
            return -1;
        }
        p += put;
        n -= static_cast<uint64_t>(put);
        if ((done + static_cast<uint64_t>(put)) / write_chunk != done / write_chunk)
            start_writeback(fd);
        done += static_cast<uint64_t>(put);
    }
    return 0;
}

// A longer old file loses its excess. Only regular files have a length to
// cut; devices and pipes refuse truncation and need none.
int cut_to_length(int fd, uint64_t length) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) == length) return 0;
    return ftruncate(fd, static_cast<off_t>(length));
}

// ------------------------------------------------------------ extended attributes

#ifdef __linux__
// A list of names or a value, asked for with its size first; it may grow in
// between, which ERANGE says.
template <typename Get> int read_sized(std::string& out, Get get) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = get(nullptr, 0);
        if (size < 0) return -1;
        out.assign(static_cast<size_t>(size), '\0');
        ssize_t got = get(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return -1;
    }
    return -1;
}

std::vector<std::string> split_names(const std::string& list) {
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find('\0', at);
        if (end == std::string::npos) end = list.size();
        if (end > at) names.emplace_back(list, at, end - at);
        at = end + 1;
    }
    return names;
}

bool has_xattr(int fd, const Xattr& a) {
    std::string value;
    auto get = [&](char* b, size_t n) { return fgetxattr(fd, a.name.c_str(), b, n); };
    return read_sized(value, get) == 0 && value == a.value;
}

bool unsupported(int err) {
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}
#endif

} // namespace

int read_xattrs(const char* path, Xattrs& out) {
    out.clear();
#ifdef __linux__
    std::string list;
    if (read_sized(list, [&](char* b, size_t n) { return listxattr(path, b, n); }) != 0)
        return unsupported(errno) ? 0 : -1; // a file system without them: nothing to keep
    for (std::string& name : split_names(list)) {
        Xattr a{std::move(name), {}};
        if (read_sized(a.value, [&](char* b, size_t n) {
                return getxattr(path, a.name.c_str(), b, n);
            }) != 0) {
            if (errno == ENODATA) continue; // removed since it was listed
            return -1;
        }
        out.push_back(std::move(a));
    }
    return 0;
#elif defined(__FreeBSD__)
    // Not copied here: a file that carries any is written in place.
    for (int space : {EXTATTR_NAMESPACE_USER, EXTATTR_NAMESPACE_SYSTEM})
        if (extattr_list_file(path, space, nullptr, 0) > 0) {
            errno = EOPNOTSUPP;
            return -1;
        }
    if (acl_extended_file_np(path) == 1) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return 0;
#else
    (void)path;
    return 0;
#endif
}

int apply_xattrs(int fd, const Xattrs& attrs) {
#ifdef __linux__
    // The new file may carry its own, an ACL inherited from the directory:
    // what the old file lacked goes.
    std::string list;
    if (read_sized(list, [&](char* b, size_t n) { return flistxattr(fd, b, n); }) != 0)
        return unsupported(errno) && attrs.empty() ? 0 : -1;
    for (const std::string& name : split_names(list)) {
        bool kept =
            std::any_of(attrs.begin(), attrs.end(), [&](const Xattr& a) { return a.name == name; });
        if (!kept && fremovexattr(fd, name.c_str()) != 0 && errno != ENODATA) return -1;
    }
    for (const Xattr& a : attrs) {
        // One the new file has already (a security label given by the
        // system) need not be set, which an ordinary user may not do.
        if (has_xattr(fd, a)) continue;
        if (fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0) != 0) return -1;
    }
    return 0;
#else
    (void)fd;
    if (attrs.empty()) return 0;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

namespace {

// Where a whole new content goes, and how it gets there.
struct WholeTarget {
    std::string path;     // the file written: the name with its links followed
    int fd = -1;          // the temporary file, or the target itself
    std::string temp;     // set: written here, renamed over `path` at the end
    bool regular = false; // has a length: reserved first, cut at the end
    off_t old_size = -1;  // in place: the length to go back to if reserving fails
    bool created = false; // in place: made by this save, removed if it fails
    bool renamed = false; // the temporary file has taken the target's name
    // Temporary file: what it must carry when it takes the old file's place.
    bool replaces = false; // an old file is there, whose attributes go over
    mode_t mode = 0;
    Xattrs attrs;
};

std::string directory_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a name designates, its symbolic links followed (also a dangling
// one, whose target the save creates): renaming over the link itself would
// replace the link with a plain file. A loop is left to open() to report.
std::string follow_links(const std::string& name) {
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char to[PATH_MAX];
        ssize_t n = readlink(path.c_str(), to, sizeof to);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof to) return path;
        std::string link(to, static_cast<size_t>(n));
        path = link[0] == '/' ? link : directory_of(path).append("/").append(link);
    }
    return path;
}

int close_keeping_errno(int fd) {
    int err = errno;
    int rc = close(fd);
    errno = err;
    return rc;
}

// The temporary file being written, for a signal that ends the program in
// the middle of a save: it may only call unlink, so the name is kept ready.
char temp_in_progress[4096];
volatile sig_atomic_t temp_exists = 0;

void note_temp(const std::string& name) {
    if (name.size() >= sizeof temp_in_progress) return; // longer than any path
    memcpy(temp_in_progress, name.c_str(), name.size() + 1);
    temp_exists = 1;
}

// Writing clears set-id bits (unless privileged) and file capabilities: the
// mode and the attributes are given again once the content is written.
int restore_carried(const WholeTarget& t) {
    if (fchmod(t.fd, t.mode) != 0) return -1;
    // A new file keeps what its directory gives it (a default ACL).
    return t.replaces ? apply_xattrs(t.fd, t.attrs) : 0;
}

// A temporary file beside `t.path` that can take the old file's place: the
// same mode, owner, group, ACL and extended attributes (`old` null: a new
// file's usual mode). 0, or -1 when such a file cannot be made here (nothing
// is left behind).
int open_replacement(WholeTarget& t, const struct stat* old) {
    if (old && read_xattrs(t.path.c_str(), t.attrs) != 0) return -1;
    std::string base = t.path.substr(t.path.find_last_of('/') + 1);
    // A cut base keeps the temporary name within the name-length limit.
    std::string name = directory_of(t.path) + "/." + base.substr(0, 64) + ".morvane-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    note_temp(name);
    mode_t mode;
    bool kept = true;
    if (old) {
        struct stat mine;
        if (fstat(fd, &mine) != 0)
            kept = false;
        else if (mine.st_uid != old->st_uid || mine.st_gid != old->st_gid)
            kept = fchown(fd, old->st_uid, old->st_gid) == 0;
        mode = old->st_mode & 07777; // after fchown, which may clear set-id bits
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    t.fd = fd;
    t.mode = mode;
    t.replaces = old != nullptr;
    if (!kept || restore_carried(t) != 0) {
        unlink(name.c_str());
        temp_exists = 0;
        close(fd);
        t.fd = -1;
        t.attrs.clear();
        return -1;
    }
    t.temp = std::move(name);
    return 0;
}

// Opening a FIFO for writing would wait for a reader for ever, with the
// dialog deaf to Control-C: the target is opened without waiting (a FIFO
// nobody reads fails at once) and then written as usual.
int open_nonblocking(const std::string& name, int flags) {
    int fd = open(name.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    return fd;
}

// Chooses between a temporary file and writing in place, and opens what it
// chose. `readable`: the target will serve as the edited file's stream.
// 0, or -1 with errno when the target cannot be opened.
int open_whole_target(const std::string& name, bool readable, WholeTarget& t) {
    t.path = follow_links(name);
    struct stat st;
    bool exists = stat(t.path.c_str(), &st) == 0;
    // Only a missing file is made: a loop of links fails with ELOOP.
    if (!exists && errno != ENOENT) return -1;
    // Replacing a file we may not write would sidestep its permissions.
    if (exists && S_ISREG(st.st_mode) && faccessat(AT_FDCWD, t.path.c_str(), W_OK, AT_EACCESS) != 0)
        return -1;
    int access = readable ? O_RDWR : O_WRONLY;
    if (exists && !S_ISREG(st.st_mode)) { // a device, a pipe: only in place
        t.fd = open_nonblocking(t.path, access);
        return t.fd < 0 ? -1 : 0;
    }
    t.regular = true;
    // Another hard link would keep the old content under its name.
    if (!(exists && st.st_nlink > 1) && open_replacement(t, exists ? &st : nullptr) == 0) return 0;
    t.fd = open_nonblocking(t.path, O_RDWR | (exists ? 0 : O_CREAT | O_EXCL));
    // A write-only file can still be written; the reservation then works
    // wherever the system reserves without reading.
    if (t.fd < 0 && errno == EACCES && !readable && exists)
        t.fd = open_nonblocking(t.path, O_WRONLY);
    if (t.fd < 0) return -1;
    t.created = !exists;
    t.old_size = exists ? st.st_size : 0;
    return 0;
}

// Claims the disk space of `length` bytes before any byte is written, so a
// full disk fails here, while the target is still as it was. Systems that
// cannot reserve are written without.
int reserve_space(WholeTarget& t, uint64_t length) {
    if (!t.regular || length > static_cast<uint64_t>(INT64_MAX)) return 0;
    int err = posix_fallocate(t.fd, 0, static_cast<off_t>(length));
    // EBADF: a C library that reserves by reading and writing blocks cannot
    // do so through a write-only descriptor.
    if (err == 0 || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL || err == ENOSYS ||
        err == ENODEV || err == EBADF)
        return 0;
    // What was claimed is given back: the old file keeps its length.
    struct stat st;
    if (t.temp.empty() && fstat(t.fd, &st) == 0 && st.st_size != t.old_size)
        (void)!ftruncate(t.fd, t.old_size);
    errno = err;
    return -1;
}

// Makes the written content the target's: synced, then (temporary file)
// renamed over it and the directory synced, so the new name survives a crash.
int commit_target(WholeTarget& t) {
    if (!t.temp.empty() && restore_carried(t) != 0) return -1;
    if (save_sync(t.fd) != 0) return -1;
    if (t.temp.empty()) return 0;
    if (rename(t.temp.c_str(), t.path.c_str()) != 0) return -1;
    temp_exists = 0;
    t.temp.clear();
    t.renamed = true;
    int dir = open(directory_of(t.path).c_str(), O_RDONLY);
    if (dir < 0) return 0; // an unreadable directory cannot be synced; the rename stands
    int rc = save_sync(dir);
    close_keeping_errno(dir);
    return rc;
}

// After a failure: the temporary file goes; a file made in place goes too.
// `stream_owns_fd`: the descriptor is closed with the stream that wraps it.
void abandon_target(WholeTarget& t, bool stream_owns_fd) {
    int err = errno;
    if (!t.temp.empty()) unlink(t.temp.c_str());
    temp_exists = 0;
    if (t.created) unlink(t.path.c_str());
    if (t.fd >= 0 && !stream_owns_fd) close(t.fd);
    t.fd = -1;
    errno = err;
}

#if defined(__linux__) || (defined(__FreeBSD__) && __FreeBSD__ >= 13)
#define MORVANE_KERNEL_COPY 1
#endif

#ifdef MORVANE_KERNEL_COPY
// Writes the changed bytes over a copy of the file, as shown: gathered into
// page-aligned stretches of at most copy_chunk (changes on neighbouring
// pages share one), each read with the changes laid over it and written
// whole. 0, or -1 with errno.
int write_changes_over(int fd, uint64_t length, LongWork& work) {
    std::vector<ChangedRun> runs;
    try {
        runs = changed_runs(length);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
    if (runs.empty()) return 0;
    AlignedBytes chunk = aligned_bytes(copy_chunk);
    if (!chunk) {
        errno = ENOMEM;
        return -1;
    }
    auto flush = [&](uint64_t from, uint64_t end) {
        if (from >= length) return 0;
        const auto n = static_cast<size_t>(std::min(end, length) - from);
        if (!keep_saving(work, from)) return -1;
        size_t held = 0;
        if (filebuff_fetch(from, chunk.get(), n, &held) < 0) return -1;
        if (held < n) { // the file has shrunk since it was copied
            errno = EIO;
            return -1;
        }
        for (size_t done = 0; done < n;) {
            ssize_t put = pwrite(fd, chunk.get() + done, n - done, static_cast<off_t>(from + done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (put == 0) errno = EIO;
                return -1;
            }
            done += static_cast<size_t>(put);
        }
        return 0;
    };
    const uint64_t page = io_page_size();
    bool have = false;
    uint64_t from = 0, end = 0; // the stretch gathered so far: [from, end)
    for (const ChangedRun& r : runs) {
        uint64_t a = align_down(r.first, page);
        const uint64_t b = align_down(r.last, page) + page;
        while (a < b) {
            if (have && a <= end && end < from + copy_chunk) {
                end = std::max(end, std::min(b, from + copy_chunk));
                a = end;
                continue;
            }
            if (have && flush(from, end) < 0) return -1;
            from = have ? std::max(a, end) : a;
            end = std::min(b, from + copy_chunk);
            have = from < end;
            a = end;
        }
    }
    return have ? flush(from, end) : 0;
}
#endif

// The file's bytes copied by the kernel (no pass through our memory, as cp
// does, sharing blocks where the file system can), then the modified bytes
// written over them. 1: done; 0: the kernel cannot copy between these files,
// nothing was written; -1: failed.
int copy_in_kernel(int fd, uint64_t length, LongWork& work) {
#ifdef MORVANE_KERNEL_COPY
    if (!Globals.fp) return 0;
    int source = fileno(Globals.fp);
    off_t in = 0;
    off_t out = 0;
    constexpr size_t step = size_t{16} << 20;
    while (static_cast<uint64_t>(in) < length) {
        if (!keep_saving(work, static_cast<uint64_t>(in))) return -1;
        size_t want = static_cast<size_t>(std::min<uint64_t>(length - in, step));
        ssize_t got = copy_file_range(source, &in, fd, &out, want, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // Not between these files (another file system before Linux
            // 5.19, a device, a kernel without it): copied by hand instead.
            if (in == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                            errno == EOPNOTSUPP || errno == EBADF))
                return 0;
            return -1;
        }
        if (got == 0) { // the source ended early: the copy would lack its bytes
            errno = EIO;
            return -1;
        }
        start_writeback(fd);
    }
    return write_changes_over(fd, length, work) == 0 ? 1 : -1;
#else
    (void)fd;
    (void)length;
    (void)work;
    return 0;
#endif
}

// The file as shown (the table laid over it) into a new file, in blocks. A
// source that ends early fails: the copy would lack its bytes.
int copy_shown_file(int fd, LongWork& work) {
    if (int done = copy_in_kernel(fd, Globals.filesize + 1, work); done != 0)
        return done > 0 ? 0 : -1;
    AlignedBytes chunk = aligned_bytes(copy_chunk);
    if (!chunk) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t length = Globals.filesize + 1;
    for (uint64_t offset = 0; offset < length;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(length - offset, copy_chunk));
        size_t held = 0;
        if (filebuff_fetch(offset, chunk.get(), n, &held) < 0) return -1;
        if (held < n) {
            errno = EIO;
            return -1;
        }
        if (write_all(fd, chunk.get(), n, work, offset) < 0) return -1;
        offset += n;
    }
    return 0;
}

// The text of the field up to its end mark. The field is pre-filled with the
// file's name, so a field that still holds exactly that name (and blanks) is
// that name, even when the name itself contains a blank; anything else is
// cut at its first blank.
std::string name_from_field(const std::string& field) {
    std::string text = field.substr(0, field.find('\0'));
    const std::string& current = Globals.filename;
    if (!current.empty() && text.compare(0, current.size(), current) == 0 &&
        text.find_first_not_of(' ', current.size()) == std::string::npos)
        return current;
    return trim_at_whitespace(text);
}

// The edited file's stream becomes `f` (which reads the same file).
void replace_stream(FILE* f) {
    FILE* old = Globals.fp;
    Globals.fp = f;
    // Only read through: the saves write to its descriptor and check that.
    if (old && old != f) (void)fclose(old);
    fp_reads_other_file = false;
}

// Paged mode into the edited file: only the modified bytes. Returns the
// failure's title, or null when saved.
const char* write_patches(const std::string& name) {
    int fd = open_nonblocking(name, O_RDWR);
    if (fd < 0) return open_failure;
    FILE* out = fdopen(fd, "r+b");
    if (!out) {
        close_keeping_errno(fd);
        return open_failure;
    }
    // From now on the window reads the file being written.
    replace_stream(out);
    EndingSignalsHeld held;
    return write_mod_table(out) == 0 ? nullptr : write_failure;
}

// The whole content (the buffer, or the file as shown) into `name`.
// `in_place`: the name is the edited file, whose stream then reads the new
// content. Returns the failure's title, or null when saved.
const char* write_whole(const std::string& name, bool in_place) {
    WholeTarget t;
    if (open_whole_target(name, in_place, t) != 0) return open_failure;
    FILE* stream = nullptr;
    if (in_place && t.temp.empty()) {
        // Written in place: the window reads the target from now on, as
        // the paged in-place save does.
        stream = fdopen(t.fd, "r+b");
        if (stream) replace_stream(stream);
    }
    uint64_t length = Globals.filesize + 1;
    std::optional<EndingSignalsHeld> held;
    if (t.temp.empty()) held.emplace();
    // Only a target that is not yet the file's place may be given up half
    // written: the temporary file, or a file this save has made.
    LongWork work("Saving", length, !t.temp.empty() || t.created);
    int rc = reserve_space(t, length);
    if (rc == 0) {
        if (!Globals.buffered)
            rc = copy_shown_file(t.fd, work);
        else if (buffer.size() < length) {
            errno = EIO; // cannot happen while the whole-file invariants hold
            rc = -1;
        } else
            rc = write_all(t.fd, buffer_contiguous(), length, work, 0);
    }
    if (rc == 0) rc = cut_to_length(t.fd, length);
    if (rc == 0) rc = commit_target(t);
    if (rc != 0 && !t.renamed) {
        abandon_target(t, stream != nullptr);
        return write_failure;
    }
    // Renamed over the edited file: its old inode is gone from the name, so
    // the window must read the new one.
    if (!stream && in_place) {
        stream = fdopen(t.fd, "r+b");
        if (stream) replace_stream(stream);
    }
    if (!stream) close_keeping_errno(t.fd);
    // A directory that could not be synced may lose the new name in a crash.
    return rc == 0 ? nullptr : write_failure;
}

void show_failure(WINDOW* popup, const char* title, int err) {
    show_save_failure(popup, title, std::string("Reason: ") + strerror(err));
}

} // namespace

void save_drop_temp_now() {
    if (temp_exists) unlink(temp_in_progress);
    temp_exists = 0;
}

int save_sync(int fd) {
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP) return 0;
        return -1;
    }
    return 0;
}

std::string& trim_at_whitespace(std::string& text) {
    size_t cut = text.find_first_of(" \t\n\r");
    if (cut != std::string::npos) text.erase(cut);
    return text;
}

int save_file_as(const std::string& name, const char** failure, bool whole) {
    const char* ignored;
    if (!failure) failure = &ignored;
    *failure = open_failure;
    if (name.empty()) {
        errno = ENOENT;
        return 0;
    }

    FileId target = id_of_path(name);
    bool is_read_file = same_file(target, id_of_stream(Globals.fp));
    bool is_named_file = target.known && (name == Globals.filename ||
                                          same_file(target, id_of_path(Globals.filename)));
    bool paged = !Globals.buffered;
    // Paged mode writes only the modified bytes into the edited file, which
    // is right only for the file the window reads, or for the copy made by
    // the last save under a new name (while Globals.fp still reads the old
    // file). Any other file, even under the same name, gets a whole copy.
    bool in_place;
    if (paged && !Globals.disk)
        in_place = is_read_file || (fp_reads_other_file && is_named_file);
    else
        in_place = is_read_file || is_named_file;
    // A device has no whole content to write apart from its bytes.
    bool patches = paged && in_place && !(whole && !Globals.disk);

    // The file the window reads is about to get the range changes: their
    // undo steps keep the bytes they replaced first.
    const bool history_kept = !(paged && in_place) || range_before_save();
    *failure = patches ? write_patches(name) : write_whole(name, in_place);
    if (*failure) return 0;
    if (!history_kept) undo_clear();

    if (!in_place) fp_reads_other_file = true; // Globals.fp still reads the old file
    // The window now reads a file that holds every change.
    if (paged && in_place && !patches) clear_mod_table();
    Globals.filename = name;
    Globals.file_state = FILE_UNCHANGED;
    undo_mark_saved();
    remember_file_on_disk(nullptr);
    return 1;
}

namespace {

// The field's text as typed, for the field shown again.
std::string field_text(const std::string& field) {
    std::string text = field.substr(0, field.find('\0'));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

enum class Target { Edited, Existing, Other };

// The edited file under whatever path; an existing regular file that a save
// would replace; anything else (a new name, a device) is written unasked.
Target target_kind(const std::string& name) {
    if (name == Globals.filename || names_file_on_disk(name)) return Target::Edited;
    FileId target = id_of_path(name);
    if (same_file(target, id_of_stream(Globals.fp)) ||
        same_file(target, id_of_path(Globals.filename)))
        return Target::Edited;
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Target::Existing;
    return Target::Other;
}

} // namespace

int save_file() {
    DialogScope dialog({.width = 70, .height = 6, .bar = "^G/^X/Escape Cancel"});
    WINDOW* popup = dialog.win();
    if (!popup) {
        warn_beep();
        return 0;
    }
    popup_text(popup, 1, 31, "Save File");
    popup_text(popup, 3, 2, "Filename: ");

    std::string text = Globals.filename;
    for (;;) {
        std::optional<std::string> field = read_line(popup, 3, 12, 1024, 50, text.c_str());
        if (!field) return 0;
        std::string name = name_from_field(*field);
        if (name.empty()) return 0;
        bool whole = false;
        Target kind = target_kind(name);
        if (kind == Target::Existing && !ask_replace(name)) {
            text = field_text(*field); // back to the field, as typed
            continue;
        }
        if (kind == Target::Edited && file_changed_on_disk()) {
            // Stopping keeps the edits and the marker.
            if (!ask_save_changed_file()) return 0;
            whole = true;
        }
        const char* failure = nullptr;
        int result = save_file_as(name, &failure, whole);
        // A save that gave way to New File has nothing more to say.
        if (!result && !new_file_wanted) show_failure(popup, failure, errno);
        return result;
    }
}

// ------------------------------------------------------------ writing a range

void show_save_failure(WINDOW* popup, const char* title, const std::string& reason) {
    if (popup) {
        wattroff(popup, A_REVERSE); // left on by the input field
        werase(popup);
        popup_border(popup);
        int inner = getmaxx(popup) - 2;
        // A popup narrowed by a small terminal moves the title left rather
        // than cutting it.
        int title_col = std::max(1, std::min(27, inner + 1 - static_cast<int>(strlen(title))));
        mvput_safe(popup, 1, title_col, title, std::max(0, inner + 1 - title_col));
        int col = 35 - static_cast<int>(reason.size()) / 2;
        if (col < 1 || col + static_cast<int>(reason.size()) > inner + 1) col = 1;
        mvput_safe(popup, 3, col, reason, std::max(0, inner + 1 - col));
    }
    read_key();
}

bool names_edited_file(const std::string& name) {
    return target_kind(name) == Target::Edited;
}

bool names_existing_file(const std::string& name) {
    return target_kind(name) == Target::Existing;
}

namespace {

constexpr const char* range_failure = "Cannot Write Selection";

// The bytes as shown, in blocks that end at multiples of the block size, so
// that every read after the first starts page-aligned.
int copy_range_to(int fd, uint64_t first, uint64_t length, LongWork& work) {
    AlignedBytes chunk = aligned_bytes(copy_chunk);
    if (!chunk) {
        errno = ENOMEM;
        return -1;
    }
    for (uint64_t done = 0; done < length;) {
        const uint64_t at = first + done;
        const size_t n =
            static_cast<size_t>(std::min<uint64_t>(length - done, copy_chunk - at % copy_chunk));
        size_t held = 0;
        if (filebuff_fetch(at, chunk.get(), n, &held) < 0) return -1;
        if (held < n) { // the file ended early: the copy would lack its bytes
            errno = EIO;
            return -1;
        }
        if (write_all(fd, chunk.get(), n, work, done) < 0) return -1;
        done += n;
    }
    return 0;
}

} // namespace

int write_range_as(const std::string& name, uint64_t first, uint64_t last, const char** failure) {
    assert(first <= last && last <= Globals.filesize && "write_range_as: not a range of the file");
    *failure = range_failure;
    if (name.empty()) {
        errno = ENOENT;
        return 0;
    }
    // The edited file would be emptied under the window that reads it.
    if (names_edited_file(name)) {
        errno = EBUSY;
        return 0;
    }
    WholeTarget t;
    if (open_whole_target(name, false, t) != 0) return 0;
    const uint64_t length = last - first + 1;
    std::optional<EndingSignalsHeld> held;
    if (t.temp.empty()) held.emplace();
    // As a save: only a target that is not yet in its place may be given up.
    LongWork work("Writing", length, !t.temp.empty() || t.created);
    int rc = reserve_space(t, length);
    if (rc == 0) rc = copy_range_to(t.fd, first, length, work);
    if (rc == 0) rc = cut_to_length(t.fd, length);
    if (rc == 0) rc = commit_target(t);
    if (rc != 0 && !t.renamed) {
        abandon_target(t, false);
        return 0;
    }
    close_keeping_errno(t.fd);
    // Renamed, but the directory could not be synced: the name may not
    // survive a crash, which is worth saying.
    return rc == 0 ? 1 : 0;
}
