// save.cpp: the "Save File" dialog and the writing behind it.
//
// Three ways to write, by storage mode and target:
//   whole-file mode: the whole buffer, then the target is cut to its length;
//   paged mode into the edited file itself (or any target in disk mode):
//     only the modified bytes, each at its offset (write_mod_table);
//   paged mode under a new name: the file is copied with the table laid over.
// The target counts as the edited file when it is the same file on disk
// (device and inode), whatever the path looks like: opening the edited file
// "wb" would empty the very file a paged copy reads from.
//
// Writes go straight to the descriptor so that every failure is seen where
// it happens, and nothing is reported saved before the target is synced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "morvane.h"

namespace {

constexpr size_t copy_chunk = size_t{1} << 20;
constexpr uint64_t write_chunk = uint64_t{64} << 20;

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

// Opening a FIFO for writing would wait for a reader for ever, with the
// dialog deaf to Control-C: the target is opened without waiting (a FIFO
// nobody reads fails at once) and then written as usual.
FILE* open_target(const std::string& name, bool in_place) {
    int flags = in_place ? O_RDWR : (O_WRONLY | O_CREAT | O_TRUNC);
    int fd = open(name.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    int fl = fcntl(fd, F_GETFL);
    FILE* f = nullptr;
    if (fl >= 0 && fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0)
        f = fdopen(fd, in_place ? "r+b" : "wb");
    if (!f) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

int write_all(int fd, const unsigned char* p, uint64_t n) {
    while (n > 0) {
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
        poll_signals();
    }
    return 0;
}

// A longer old file loses its excess. Only regular files have a length to
// cut; devices and pipes refuse truncation and need none.
int cut_to_length(int fd, uint64_t length) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) return 0;
    return ftruncate(fd, static_cast<off_t>(length));
}

int write_whole_buffer(int fd) {
    uint64_t length = Globals.filesize + 1;
    if (buffer.size() < length) {
        errno = EIO; // cannot happen while the whole-file invariants hold
        return -1;
    }
    if (write_all(fd, buffer.data(), length) < 0) return -1;
    return cut_to_length(fd, length);
}

#if defined(__linux__) || (defined(__FreeBSD__) && __FreeBSD__ >= 13)
#define MORVANE_KERNEL_COPY 1
#endif

// Above this many modified bytes, patching them one by one into a kernel-side
// copy costs more than laying them over the blocks ourselves.
constexpr size_t kernel_copy_max_patches = 4096;

// The file's bytes copied by the kernel (no pass through our memory, as cp
// does), then the modified bytes written over them. 1: done; 0: the kernel
// cannot copy between these files, nothing was written; -1: failed.
int copy_in_kernel(int fd, uint64_t length) {
#ifdef MORVANE_KERNEL_COPY
    if (!Globals.fp || mod_table_entries > kernel_copy_max_patches) return 0;
    int source = fileno(Globals.fp);
    off_t in = 0;
    off_t out = 0;
    constexpr size_t step = size_t{64} << 20;
    while (static_cast<uint64_t>(in) < length) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(length - in, step));
        ssize_t got = copy_file_range(source, &in, fd, &out, want, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (in == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                            errno == EOPNOTSUPP || errno == EBADF))
                return 0;
            return -1;
        }
        if (got == 0) { // the source ended early: the copy would lack its bytes
            errno = EIO;
            return -1;
        }
        poll_signals();
    }
    for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
        for (mod_entry* e = mod_table ? mod_table[b] : nullptr; e; e = e->next) {
            if (e->offset >= length) continue;
            if (pwrite(fd, &e->value, 1, static_cast<off_t>(e->offset)) != 1) {
                if (errno == 0) errno = EIO;
                return -1;
            }
        }
    return 1;
#else
    (void)fd;
    (void)length;
    return 0;
#endif
}

// The file as shown (the table laid over it) into a new file, in large
// blocks. A source that ends early fails: the copy would lack its bytes.
int copy_shown_file(int fd) {
    if (int done = copy_in_kernel(fd, Globals.filesize + 1); done != 0) return done > 0 ? 0 : -1;
    std::vector<unsigned char> chunk;
    try {
        chunk.resize(copy_chunk);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t length = Globals.filesize + 1;
    for (uint64_t offset = 0; offset < length;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(length - offset, copy_chunk));
        size_t held = 0;
        if (filebuff_fetch(offset, chunk.data(), n, &held) < 0) return -1;
        if (held < n) {
            errno = EIO;
            return -1;
        }
        if (write_all(fd, chunk.data(), n) < 0) return -1;
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

void show_failure(WINDOW* popup, const char* title, int err) {
    if (popup) {
        wattroff(popup, A_REVERSE); // left on by the input field
        werase(popup);
        wborder(popup, 0, 0, 0, 0, 0, 0, 0, 0);
        int inner = getmaxx(popup) - 2;
        // A popup narrowed by a small terminal moves the title left rather
        // than cutting it.
        int title_col = std::max(1, std::min(27, inner + 1 - static_cast<int>(strlen(title))));
        mvput_safe(popup, 1, title_col, title, std::max(0, inner + 1 - title_col));
        std::string reason = std::string("Reason: ") + strerror(err);
        int col = 35 - static_cast<int>(reason.size()) / 2;
        if (col < 1 || col + static_cast<int>(reason.size()) > inner + 1) col = 1;
        mvput_safe(popup, 3, col, reason, std::max(0, inner + 1 - col));
        wrefresh(popup);
    }
    read_key();
}

} // namespace

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

int save_file_as(const std::string& name, const char** failure) {
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

    FILE* out = open_target(name, in_place);
    if (!out) return 0;
    if (in_place) {
        // From now on the window reads the file being written.
        FILE* old = Globals.fp;
        Globals.fp = out;
        if (old && old != out) fclose(old);
        fp_reads_other_file = false;
    }

    *failure = write_failure;
    int fd = fileno(out);
    int rc;
    if (!paged)
        rc = write_whole_buffer(fd);
    else if (in_place || Globals.disk)
        rc = write_mod_table(out);
    else
        rc = copy_shown_file(fd);
    if (rc == 0) rc = save_sync(fd);
    if (!in_place) {
        int write_errno = errno;
        int closed = fclose(out);
        if (rc != 0)
            errno = write_errno; // the first failure is the reason
        else if (closed != 0)
            rc = -1;
    }
    if (rc != 0) return 0;

    if (!in_place) fp_reads_other_file = true; // Globals.fp still reads the old file
    Globals.filename = name;
    Globals.file_state = 0;
    undo_mark_saved();
    *failure = nullptr;
    return 1;
}

int save_file() {
    SavedInterrupt saved_interrupt = ignore_interrupt();
    WINDOW* popup = popup_window(70, 6);
    if (!popup) {
        warn_beep();
        restore_interrupt(saved_interrupt);
        return 0;
    }
    current_popup = popup;
    popup_text(popup, 1, 31, "Save File");
    popup_text(popup, 3, 2, "Filename: ");
    if (Globals.help_win) {
        werase(Globals.help_win);
        mvwaddstr(Globals.help_win, 0, 0, "^G/^X/Escape Cancel");
        current_bar = "^G/^X/Escape Cancel";
        wnoutrefresh(Globals.help_win);
    }
    wrefresh(popup);

    int result = 0;
    std::optional<std::string> field = read_line(popup, 3, 12, 1024, 50, Globals.filename.c_str());
    if (field) {
        std::string name = name_from_field(*field);
        if (!name.empty()) {
            const char* failure = nullptr;
            result = save_file_as(name, &failure);
            if (!result) show_failure(popup, failure, errno);
        }
    }

    current_popup = nullptr;
    current_bar = nullptr;
    delwin(popup);
    restore_interrupt(saved_interrupt);
    return result;
}
