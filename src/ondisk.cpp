// ondisk.cpp: what the edited file's name named when it was opened or last
// saved, and what it names now.
//
// Another program may truncate, rewrite or replace the file while it is being
// edited, or put a symbolic link in its place. A save into it then would mix
// the edits into bytes the user never saw (paged mode writes only the edited
// bytes, at their offsets) or write through a link into a file the user never
// opened. So the identity, size and modification time are remembered, and a
// save in place looks again first (the save dialog asks when anything
// differs); Control-L shows the file as it is now.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "morvane.h"

DiskFile file_on_disk;

namespace {

DiskFile disk_file_of(const struct stat& st, bool link) {
    DiskFile d;
    d.known = true;
    d.link = link;
    d.regular = S_ISREG(st.st_mode);
    d.dev = static_cast<uint64_t>(st.st_dev);
    d.ino = static_cast<uint64_t>(st.st_ino);
    d.rdev = static_cast<uint64_t>(st.st_rdev);
    d.size = static_cast<int64_t>(st.st_size);
    d.mtime_sec = static_cast<int64_t>(st.st_mtim.tv_sec);
    d.mtime_nsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
    return d;
}

bool is_link(const std::string& name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A device's size and time say nothing about its content (and writing to it
// may touch its node's time): only its identity counts.
bool same_state(const DiskFile& was, const DiskFile& now) {
    if (was.link != now.link || was.dev != now.dev || was.ino != now.ino ||
        was.regular != now.regular || was.rdev != now.rdev)
        return false;
    if (!was.regular) return true;
    return was.size == now.size && was.mtime_sec == now.mtime_sec &&
           was.mtime_nsec == now.mtime_nsec;
}

} // namespace

DiskFile disk_file_now(const std::string& name) {
    struct stat st;
    if (name.empty() || stat(name.c_str(), &st) != 0) return {};
    return disk_file_of(st, is_link(name));
}

void remember_file_on_disk(FILE* read_from) {
    struct stat st;
    // The stream is the file really read, even if the name moved meanwhile.
    if (read_from && fstat(fileno(read_from), &st) == 0)
        file_on_disk = disk_file_of(st, is_link(Globals.filename));
    else
        file_on_disk = disk_file_now(Globals.filename);
}

bool file_changed_on_disk() {
    if (!file_on_disk.known) return false; // nothing was remembered to compare with
    DiskFile now = disk_file_now(Globals.filename);
    return !now.known || !same_state(file_on_disk, now);
}

bool names_file_on_disk(const std::string& name) {
    DiskFile d = disk_file_now(name);
    return d.known && file_on_disk.known && d.dev == file_on_disk.dev && d.ino == file_on_disk.ino;
}

namespace {

// A change the file no longer has room for cannot be undone in it: the
// records would point past its end.
bool undo_reaches_past(uint64_t last) {
    for (const undo_record* r = UndoStack.base; r; r = r->next)
        if (r->offset > last) return true;
    return false;
}

void drop_changes_past(uint64_t last) {
    std::vector<uint64_t> gone;
    if (mod_table)
        for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
            for (const mod_entry* e = mod_table[b]; e; e = e->next)
                if (e->offset > last) gone.push_back(e->offset);
    for (uint64_t o : gone)
        mod_table_remove(o);
    const bool steps_reach_past = range_drop_past(last);
    if (steps_reach_past || undo_reaches_past(last)) undo_clear();
}

} // namespace

bool reload_changed_file() {
    assert(!drawing_now() && "a file loaded from drawing");
    if (Globals.buffered || Globals.mode == MODE_BROWSER || !file_changed_on_disk()) return false;
    int fd = open(Globals.filename.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false; // removed: what was read is all there is to show
    struct stat st;
    FILE* f = nullptr;
    // A file never becomes empty here; a FIFO or another kind of file put in
    // its place is not read either.
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0) ||
        (!S_ISREG(st.st_mode) && !Globals.disk) || !(f = fdopen(fd, "rb"))) {
        close(fd);
        return false;
    }
    if (Globals.fp) (void)fclose(Globals.fp); // only read from
    Globals.fp = f;
    fp_reads_other_file = false;
    if (S_ISREG(st.st_mode)) Globals.filesize = static_cast<uint64_t>(st.st_size) - 1;
    drop_changes_past(Globals.filesize);
    // An empty window: the next byte asked for reads a page afresh.
    Globals.buf_front = 1;
    Globals.buf_end = 0;
    if (cursor_loc > Globals.filesize) {
        // The last byte, with the rows above it in view.
        int row = static_cast<int>(std::min<uint64_t>(Globals.filesize / 16 + 1, cursor_y));
        cursor_onto(Globals.filesize, row);
    }
    (void)get_byte(cursor_loc);
    remember_file_on_disk(f);
    text_view_forget();
    return true;
}
