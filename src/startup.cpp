// startup.cpp: settings from the MORVANE variable and the command line,
// curses and its windows, loading a file and the first screen.
#include <fcntl.h>
#include <getopt.h>
#include <langinfo.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <strings.h>
#include <thread>
#include <vector>
#ifdef __linux__
#include <linux/fs.h>
#endif
#if defined(__FreeBSD__)
#include <sys/disk.h>
#endif

#include "morvane.h"

// POSIX leaves this declaration to the program; only glibc's headers have it.
extern char** environ; // NOLINT(readability-redundant-declaration)

// ------------------------------------------------------------ settings

static void set_option(int letter) {
    switch (letter) {
    case '8':
        Globals.print_set = 2;
        break;
    case 'a':
    case 'A':
        Globals.print_set = 3;
        break;
    case 'b':
    case 'B':
        Globals.buf_size = 0;
        Globals.buffered = 1;
        break;
    case 'd':
    case 'D':
        Globals.disk = 1;
        Globals.file_state = FILE_READ_ONLY;
        break;
    case 'f':
    case 'F':
        Globals.file_state = FILE_UNCHANGED;
        break;
    case 'n':
    case 'N':
        color = -1;
        color_forced_off = true;
        break;
    case 'q':
    case 'Q':
        Globals.beep_on = 0;
        break;
    case 'r':
    case 'R':
        Globals.file_state = FILE_READ_ONLY;
        break;
    default:
        break;
    }
}

void apply_env_letters(const char* letters) {
    // Only the letters the variable knows; everything else, '=' included, is skipped.
    static constexpr std::string_view known = "8AaBbDdFfNnQqRr";
    for (const char* c = letters; *c; ++c)
        if (known.find(*c) != std::string_view::npos) set_option(*c);
}

void read_env_variable(char** envp) {
    if (!envp) return;
    for (char** e = envp; *e; ++e) {
        if (strlen(*e) >= 7 && strncasecmp(*e, "MORVANE", 7) == 0) {
            apply_env_letters(*e + 7);
            return;
        }
    }
}

void print_usage(const char* program_name) {
    printf("Morvane %s\n", MORVANE_VERSION);
    printf("Copyright (C) 2026 the Morvane developers.\n");
    printf("This program is free software: you may redistribute and modify it.\n");
    printf("It comes with ABSOLUTELY NO WARRANTY, not even the implied warranty\n");
    printf("of MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.\n");
    printf("\n");
    printf("Usage: %s [options] [file]\n", program_name);
    printf("Options:\n");
    // A failed write shows in the caller's fflush, which sets the exit status.
    (void)fputs("  -h, --help              Print this message and exit.\n"
                "  -8, --highbit           Print high order 8-bit text.\n"
                "  -a, --alltext           Print all text characters.\n"
                "  -b, --buffer            Buffer the entire file in memory.\n"
                "                            Much faster and enables insert/delete.\n"
                "  -d, --disk              Edit a fixed disk, i.e. /dev/hda (Read-only)\n"
                "  -f, --force             Force editing of disk.\n"
                "                            Needed to write to disks.\n"
                "  -n, --nocolor           Force Gray scale, no colors.\n"
                "  -q, --quiet             Quiet Mode, No annoying beeping\n"
                "  -r, --readonly          Do not modifying of the file.\n"
                "  -v, --version           Print the version number and exit.\n",
                stdout);
}

// The record's own initial values are the defaults.
static void assign_defaults() {
    Globals = EditorGlobals{};
    text_row_starts.clear();
    buffer.clear();
    color = 0;
    color_forced_off = false;
}

// Long options without a letter of their own.
static constexpr int OPTION_COMPARE = 0x100;
static std::optional<std::string> compare_wanted; // --compare OTHER

static void read_options(int argc, char** argv) {
    compare_wanted.reset();
    // Position in this table identifies a long option; each maps to its letter.
    static const struct option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"highbit", no_argument, nullptr, '8'},
        {"alltext", no_argument, nullptr, 'a'},
        {"readonly", no_argument, nullptr, 'r'},
        {"version", no_argument, nullptr, 'v'},
        {"disk", no_argument, nullptr, 'd'},
        {"buffer", no_argument, nullptr, 'b'},
        {"quiet", no_argument, nullptr, 'q'},
        {"force", no_argument, nullptr, 'f'},
        {"nocolor", no_argument, nullptr, 'n'},
        {"compare", required_argument, nullptr, OPTION_COMPARE},
        {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "8abdfhnqrv", long_options, nullptr)) != -1) {
        // Output that cannot be written (a full disk, a closed pipe) is a failure.
        if (c == 'h') {
            print_usage(argv[0]);
            exit(fflush(stdout) == 0 ? 0 : 1);
        }
        if (c == 'v') {
            printf("%s\n", MORVANE_VERSION);
            exit(fflush(stdout) == 0 ? 0 : 1);
        }
        if (c == OPTION_COMPARE) {
            compare_wanted = optarg;
            continue;
        }
        set_option(c); // '?' (the library has complained already) sets nothing
    }
}

// The terminal's locale decides how bytes 0xA0..0xFF can be shown; it does
// not change which bytes count as printable.
static void detect_output_charset() {
    if (!setlocale(LC_CTYPE, "")) return;
    const char* set = nl_langinfo(CODESET);
    if (!set) return;
    if (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0)
        output_charset = OutputCharset::Utf8;
    else if (strncasecmp(set, "ISO-8859-", 9) == 0 || strncasecmp(set, "ISO8859-", 8) == 0)
        output_charset = OutputCharset::Latin1;
}

// ------------------------------------------------------------ curses

static void set_up_colour() {
    if (color == -1) {
        color = 0;
        return;
    }
    start_color();
    use_default_colors();
    color = has_colors() ? 1 : 0;
    if (color) init_colour_pairs();
}

int main_rows() {
    return compare_open() ? compare_top_rows() : std::max(LINES - 2, 1);
}

// Terminals of fewer than 3 lines leave the editing area no row of its own:
// it then keeps one row (overlapping a bar) so that no window is ever missing.
static void make_status_win(const char* failure) {
    Globals.status_win = newwin(1, COLS, 0, 0);
    if (!Globals.status_win) fatal_error(failure, nullptr);
    scrollok(Globals.status_win, FALSE);
    wattrset(Globals.status_win, attr_status());
}

static void make_main_win(const char* failure) {
    Globals.main_win = newwin(main_rows(), COLS, std::min(1, LINES - 1), 0);
    if (!Globals.main_win) fatal_error(failure, nullptr);
    scrollok(Globals.main_win, FALSE);
    leaveok(Globals.main_win, FALSE);
}

static void make_help_win(const char* failure) {
    Globals.help_win = newwin(1, COLS, LINES - 1, 0);
    if (!Globals.help_win) fatal_error(failure, nullptr);
    scrollok(Globals.help_win, FALSE);
    wattrset(Globals.help_win, attr_help());
}

void create_windows(bool after_resize) {
    if (after_resize) {
        make_main_win("Cannot open larger main window - curses!\n");
        make_status_win("Cannot open status window - curses!\n");
        make_help_win("Cannot open help window - curses!\n");
    } else {
        make_status_win("Cannot open status window - curses!");
        make_main_win("Cannot open main window - curses!");
        make_help_win("Cannot open help window - curses!");
    }
    compare_make_windows();
}

void remake_main_window() {
    if (!stdscr || !Globals.main_win) return; // no screen yet (or a test without one)
    delwin(Globals.main_win);
    make_main_win("Cannot open main window - curses!");
    compare_make_windows();
    cursor_y = std::clamp(cursor_y, 1, bottom_row());
    redraw_later(REDRAW_ALL);
}

static bool terminal_capable(const char* capability) {
    const char* s = tigetstr(capability);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): curses' "not a string capability"
    return s && s != reinterpret_cast<const char*>(-1) && *s;
}

static void start_curses() {
    prepare_crash_restore();
    // A lone Escape should not wait a whole second for a sequence that never
    // comes; the user's ESCDELAY still wins.
    if (!getenv("ESCDELAY")) set_escdelay(100);
    if (!newterm(nullptr, stdout, stdin)) {
        (void)fputs("Cannot initialize screen - curses!\n", stderr);
        exit(1);
    }
    // Without cursor addressing or a way to clear, every screen would come
    // out garbled: such a terminal is refused like one curses cannot start.
    if (!terminal_capable("cup") || !terminal_capable("clear")) {
        endwin();
        (void)fputs("Cannot initialize screen - curses!\n", stderr);
        exit(1);
    }
    prepare_ending_signals();
    set_up_colour();
    keypad(stdscr, TRUE);
    meta(stdscr, TRUE); // 8-bit characters can be typed (-8, -a)
    scrollok(stdscr, FALSE);
    cbreak();
    noecho();
    refresh();
    create_windows(false);
}

// ------------------------------------------------------------ loading

// ENODATA is not POSIX's: where it is missing (the BSDs), the nearest.
#ifdef ENODATA
static constexpr int device_empty_error = ENODATA;
#else
static constexpr int device_empty_error = ENXIO;
#endif

// A device may report size 0: ask the device itself, then try seeking to its
// end. Returns false (errno set) when no size can be found.
bool find_device_size(int fd, uint64_t& size) {
    int err = ENOTSUP;
#if defined(BLKGETSIZE64)
    {
        uint64_t bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) == 0 && bytes > 0) {
            size = bytes;
            return true;
        }
        err = errno;
    }
#elif defined(DIOCGMEDIASIZE)
    {
        off_t bytes = 0;
        if (ioctl(fd, DIOCGMEDIASIZE, &bytes) == 0 && bytes > 0) {
            size = static_cast<uint64_t>(bytes);
            return true;
        }
        err = errno;
    }
#endif
    off_t end = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    if (end > 0) {
        size = static_cast<uint64_t>(end);
        return true;
    }
    if (end < 0) err = errno;
    if (end == 0) err = device_empty_error; // a device with nothing in it (/dev/null)
    errno = err ? err : ENOTSUP;
    return false;
}

// fopen(name, "rb"), except that opening a FIFO does not wait for a writer:
// the editor would hang before its first screen, deaf to Control-C.
static FILE* open_for_reading(const char* name) {
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

enum class Check { Load, Choose };

static Check check_file(FILE*& stream, uint64_t& size) {
    struct stat st {};
    if (stat(Globals.filename.c_str(), &st) != 0) {
        error_box("Cannot Read File", 1);
    } else if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        error_box(Globals.filename, 1);
    } else if (st.st_size == 0 && !Globals.disk) {
        error_box("File is Zero Bytes, Perhaps Used -d disk mode", 0);
    } else {
        size = static_cast<uint64_t>(st.st_size);
        if (size > 0 || find_device_size(fileno(stream), size)) return Check::Load;
        error_box(Globals.filename, 1);
    }
    (void)fclose(stream); // only read from
    stream = nullptr;
    return Check::Choose;
}

static void choose_file(FILE*& stream) {
    Globals.filename.clear();
    for (;;) {
        std::string name = file_browser();
        FILE* f = open_for_reading(name.c_str());
        if (!f) {
            error_box("Cannot Open File", 1);
            continue;
        }
        Globals.filename = std::move(name);
        stream = f;
        return;
    }
}

// Blocks of the load, read at multiples of their size into `buffer`
// (page-aligned): 2 to 32 MiB measured the same, 512 KiB a fifth slower; the
// size only needs to keep the progress and the keys a few times a second.
static constexpr uint64_t load_block = uint64_t{8} << 20;
// Faulting in fresh memory and copying out of the page cache cost a core's
// time each block: a whole-file load reads its blocks on up to this many
// threads (on two cores, two took about two thirds of one's time; four, no
// less).
static constexpr unsigned load_threads_most = 4;

ssize_t (*load_pread)(int fd, void* to, size_t len, off_t at) = ::pread;

namespace {

struct BlockRead {
    uint64_t got = 0;
    int error = 0; // errno of a read that failed
};

// The blocks of one load, taken in order by whichever thread is free.
struct BlockLoad {
    int fd = -1;
    unsigned char* to = nullptr;
    uint64_t want = 0;
    uint64_t blocks = 0;
    std::vector<BlockRead> reads;    // one a block, written by its reader only
    std::atomic<uint64_t> next{0};   // the next block to take
    std::atomic<uint64_t> loaded{0}; // bytes read, for the progress
    std::atomic<bool> stop{false};
    std::vector<std::thread> helpers;

    uint64_t length_of(uint64_t block) const {
        return std::min(load_block, want - block * load_block);
    }
    // Reads the next block; false when none is left (or the load is stopped).
    bool read_next() {
        if (stop.load(std::memory_order_relaxed)) return false;
        const uint64_t block = next.fetch_add(1, std::memory_order_relaxed);
        if (block >= blocks) return false;
        const uint64_t at = block * load_block, len = length_of(block);
        if (Globals.buffered) bulk_prefault(to + at, static_cast<size_t>(len));
        BlockRead& r = reads[block];
        while (r.got < len) {
            const ssize_t n = load_pread(fd, to + at + r.got, static_cast<size_t>(len - r.got),
                                         static_cast<off_t>(at + r.got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) r.error = errno;
            if (n <= 0) break;
            r.got += static_cast<uint64_t>(n);
        }
        loaded.fetch_add(r.got, std::memory_order_relaxed);
        // A failed read ends the load: nothing after it will be used.
        if (r.error) stop.store(true, std::memory_order_relaxed);
        return true;
    }
    void join_helpers() {
        stop.store(true, std::memory_order_relaxed);
        for (std::thread& t : helpers)
            if (t.joinable()) t.join();
        helpers.clear();
    }
};

BlockLoad* running_load = nullptr; // the load whose helpers may be reading

// Helpers for the blocks after the first; the signals stay with the main
// thread, whose handlers only record them for the key loop.
void start_helpers(BlockLoad& load) {
    unsigned want = std::min(std::thread::hardware_concurrency(), load_threads_most);
    if (want < 2 || load.blocks < 2) return;
    want = static_cast<unsigned>(std::min<uint64_t>(want, load.blocks)) - 1;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
        for (unsigned i = 0; i < want; ++i)
            load.helpers.emplace_back([&load] {
                while (load.read_next()) {
                }
            });
    } catch (const std::exception&) {
        // No more threads: the ones there are, the main one at least, do it all.
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    running_load = &load;
    // An exit during the load (a fatal error, the quit dialog) frees the
    // buffer the helpers read into: they are stopped first.
    static const bool stopped_at_exit = std::atexit([] { stop_loading(); }) == 0;
    (void)stopped_at_exit;
}

// Stops and waits for the helpers however the load is left.
struct HelpersJoined {
    HelpersJoined() = default;
    HelpersJoined(const HelpersJoined&) = delete;
    HelpersJoined& operator=(const HelpersJoined&) = delete;
    ~HelpersJoined() { stop_loading(); }
};

} // namespace

void stop_loading() noexcept {
    if (!running_load) return;
    running_load->join_helpers();
    running_load = nullptr;
}

enum class Fill { Done, Replaced };

// Reads the first page (or the whole file) into `buffer`; `total` receives
// the number of bytes read, from the start up to the first short block. A
// whole-file load shows its progress and lets Control-C open the quit dialog;
// Replaced: the dialog's New File was chosen meanwhile, and this load is
// given up for another file.
static Fill fill_buffer(FILE* stream, uint64_t& total) {
    BlockLoad load;
    load.fd = fileno(stream);
    load.to = buffer.data();
    load.want = static_cast<uint64_t>(Globals.buf_size);
    load.blocks = (load.want + load_block - 1) / load_block;
    load.reads.resize(load.blocks);
    total = 0;
    std::optional<LongWork> work;
    if (Globals.buffered) work.emplace("Loading", load.want, false);
    // The first block is read before any helper starts: the quit dialog may
    // draw the screen from it during the load.
    load.read_next();
    start_helpers(load);
    const HelpersJoined joined;
    do {
        if (work) {
            work->keep_going(load.loaded.load(std::memory_order_relaxed));
            if (new_file_wanted) return Fill::Replaced;
        }
    } while (load.read_next());
    stop_loading();
    errno = 0;
    for (uint64_t b = 0; b < load.blocks; ++b) {
        const BlockRead& r = load.reads[b];
        total += r.got;
        // A read that fails after data has come ends the program even when it
        // returns nothing: going on would hold the file cut short, and a save
        // would write it so. (Nothing at all read is the caller's box.)
        if (r.error) {
            errno = r.error;
            if (total > 0) fatal_error(nullptr, Globals.filename.c_str());
            break;
        }
        if (r.got == load.length_of(b)) continue;
        // The file ends early: it shrank since its size was taken. Bytes
        // read after that end mean it changed during the load.
        for (uint64_t later = b + 1; later < load.blocks; ++later)
            if (load.reads[later].got > 0) fatal_error("file has changed, restart", nullptr);
        break;
    }
    return Fill::Done;
}

void open_file(FILE** stream_ref) {
    assert(!drawing_now() && "a file loaded from drawing");
    FILE* stream = *stream_ref;
    Globals.filesize = 0;
    uint64_t size = 0;
    for (;;) {
        if (!stream) choose_file(stream);
        if (check_file(stream, size) == Check::Choose) continue;

        if (Globals.buffered) {
            Globals.buf_size = static_cast<int64_t>(size);
        } else {
            buf_spare = 0;
            Globals.buf_size = 16384;
        }
        const size_t held = static_cast<size_t>(Globals.buf_size) + buf_spare + 1;
        // The old file goes first: two files' worth must never be needed.
        ByteBuffer().swap(buffer);
        // Left unset: the read fills it, and the rest is zeroed below.
        checked_alloc([&] { buffer.resize(held); });
        // Control-C during a long load opens the quit dialog, as it will
        // afterwards; before, its action would end the editor at once.
        install_interrupt(Interrupt::QuitDialog);
        errno = 0;
        uint64_t total = 0;
        if (fill_buffer(stream, total) == Fill::Replaced) {
            // New File was chosen meanwhile: this file is dropped for another.
            new_file_wanted = false;
            (void)fclose(stream); // only read from
            stream = nullptr;
            continue;
        }
        if (total == 0) {
            // Nothing could be read (a directory, an unreadable device):
            // not fatal, the user chooses another file.
            if (errno == 0) errno = EIO;
            error_box(Globals.filename, 1);
            (void)fclose(stream); // only read from
            stream = nullptr;
            continue;
        }
        std::memset(buffer.data() + total, 0, held - static_cast<size_t>(total));
        // A file that shrank since its size was taken: hold what is there.
        if (Globals.buffered && total < size) {
            size = total;
            Globals.buf_size = static_cast<int64_t>(total);
        }
        Globals.filesize = size - 1;
        set_file_window(stream, 0, total - 1);
        remember_file_on_disk(stream);
        break;
    }
    *stream_ref = stream;
    if (Globals.file_state != FILE_READ_ONLY) Globals.file_state = FILE_UNCHANGED;
    install_interrupt(Interrupt::QuitDialog);
    checked_alloc([] { text_row_starts.assign(main_rows(), 0); });
    init_mod_table();
    undo_clear();
    Globals.mode = MODE_HEX;
}

// ------------------------------------------------------------ start-up

void start_editor(int argc, char** argv) {
    assign_defaults();
    read_env_variable(environ);
    read_options(argc, argv);
    prepare_help_text();
    detect_output_charset();
    start_curses();
    install_signal_handlers();

    FILE* stream = nullptr;
    if (optind < argc) {
        const char* arg = argv[optind];
        stream = open_for_reading(arg);
        if (stream)
            Globals.filename = arg;
        else
            error_box(arg, 1);
    }
    // The browser may change directory before the other file is opened: its
    // name is taken from where the editor started.
    std::string compare_path;
    if (compare_wanted) {
        compare_path = *compare_wanted;
        char cwd[4096];
        if (!compare_path.empty() && compare_path.front() != '/' && getcwd(cwd, sizeof cwd))
            compare_path = std::string(cwd) + "/" + compare_path;
    }
    open_file(&stream);
    cursor_onto(0, 1);
    if (compare_wanted) {
        if (compare_start(compare_path))
            compare_file.name = *compare_wanted;
        else
            error_box(*compare_wanted, 1);
    }
    // The first frame is drawn when the first key is awaited.
    redraw_later(REDRAW_ALL);
}
