// morvane.h: the editor's shared state and the routines every module calls.
//
// Morvane keeps one global record, `Globals`, and a few separate globals that
// every module reads and writes directly; there is no context object. This
// header is the map: one section per source file, each global with its meaning.
#pragma once

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <signal.h> // NOLINT(modernize-deprecated-headers): sigaction is POSIX's, not <csignal>'s

#include <array>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr const char* MORVANE_VERSION = "0.9.7";

// ---------------------------------------------------------------- globals.cpp

// Globals.mode
inline constexpr int32_t MODE_BROWSER = 0;
inline constexpr int32_t MODE_HEX = 1;
inline constexpr int32_t MODE_TEXT = 2;
inline constexpr int32_t MODE_CALCULATOR = 3;
// Globals.file_state
inline constexpr int32_t FILE_UNCHANGED = 0;
inline constexpr int32_t FILE_CHANGED = 1;
inline constexpr int32_t FILE_READ_ONLY = 2;

// Keys by name: those curses has no name for, as the terminal sends them.
constexpr int ctrl(char letter) {
    return letter & 0x1F;
}
inline constexpr int KEY_CONTROL_C = ctrl('C');
inline constexpr int KEY_CONTROL_G = ctrl('G');
inline constexpr int KEY_CONTROL_U = ctrl('U');
inline constexpr int KEY_CONTROL_X = ctrl('X');
inline constexpr int KEY_CONTROL_L = ctrl('L');
inline constexpr int KEY_ESC = 27;
inline constexpr int KEY_LINE_FEED = 10; // Enter, as curses reads it in cbreak mode
// Control-G, Control-X and Escape leave every dialog (and so does Control-C
// where the interrupt is ignored, as in the dialogs with a field).
inline bool is_cancel_key(int key) {
    return key == KEY_CONTROL_G || key == KEY_CONTROL_X || key == KEY_ESC;
}
// Backspace as terminals send it (^H or DEL), curses' name, and Delete: each
// takes back the character before the cursor in a field.
inline bool is_backspace_key(int key) {
    return key == 8 || key == 127 || key == KEY_BACKSPACE || key == KEY_DC;
}

struct EditorGlobals {
    WINDOW* main_win = nullptr;   // editing area: LINES-2 rows at screen row 1
    WINDOW* status_win = nullptr; // status line: screen row 0
    WINDOW* help_win = nullptr;   // command bar: screen row LINES-1
    uint64_t filesize = 0;        // offset of the LAST byte (length - 1)
    FILE* fp = nullptr;           // stream of the edited file
    std::string filename;         // path as typed or as chosen; empty = unset
    int32_t mode = 0;             // 0 browser, 1 hex editing, 2 text view, 3 calculator
    int32_t file_state = 0;       // 0 unchanged, 1 unsaved changes, 2 read-only
    int32_t text_pane = 0;        // cursor in the text pane
    int32_t ebcdic = 0;           // characters shown and typed as EBCDIC
    int32_t spacing = 1;          // 1 wide hex layout, 0 compact
    int32_t print_set = 1;        // 1 default, 2 high-bit text (-8), 3 all text (-a)
    int64_t buf_size = 16384;     // paged: page capacity; whole-file: bytes held (64-bit)
    int32_t buffered = 0;         // whole file held in `buffer` (-b)
    int32_t disk = 0;             // a device is edited (-d)
    uint64_t buf_front = 0;       // file offset of buffer[0]
    uint64_t buf_end = 0;         // last offset at its own index: the page's, or before the gap
    int32_t beep_on = 1;          // warning beeps are given
    int32_t help_lines = 0;       // lines of the help menu (21 once prepared)
};
extern EditorGlobals Globals; // the editor's state, read and written by every module

// Memory for a whole file (filebuff.cpp): large blocks are mapped apart,
// aligned for huge pages where the system has them, so that faulting in a
// file's worth takes one fault per 2 MiB instead of one per page. Throws
// std::bad_alloc.
void* bulk_alloc(size_t bytes);
void bulk_free(void* p, size_t bytes) noexcept;
// Faults in [p, p + bytes) in one call where the system can, before a read
// fills it (a no-op elsewhere).
void bulk_prefault(void* p, size_t bytes) noexcept;

// An allocator whose resize leaves new bytes unset: a whole-file load reads
// over them at once, and zeroing a file's worth first costs a pass of its own.
template <class T> struct uninit_allocator : std::allocator<T> {
    uninit_allocator() = default;
    // Implicit, as the allocator requirements have the rebinding copy.
    // cppcheck-suppress noExplicitConstructor
    template <class U> uninit_allocator(const uninit_allocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(bulk_alloc(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { bulk_free(p, n * sizeof(T)); }
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
// The type of `buffer`: resize(n) leaves new bytes unset (resize and assign
// with a value fill them); converts to and from a plain vector of bytes.
struct ByteBuffer : std::vector<unsigned char, uninit_allocator<unsigned char>> {
    using Base = std::vector<unsigned char, uninit_allocator<unsigned char>>;
    using Base::Base;
    ByteBuffer() = default;
    // cppcheck-suppress noExplicitConstructor
    ByteBuffer(const std::vector<unsigned char>& v) : Base(v.begin(), v.end()) {}
    ByteBuffer& operator=(const std::vector<unsigned char>& v) {
        assign(v.begin(), v.end());
        return *this;
    }
    operator std::vector<unsigned char>() const { return {begin(), end()}; }
};

// Owns the nodes of a linked structure whose nodes come and go in any order.
// The deque keeps every node's address while more are added; a node given
// back is chained through its own `Link` field for the next take, so taking
// and giving back are O(1) and giving back never allocates. take() throws
// std::bad_alloc when memory runs out and then leaves the pool as it was.
template <class T, T* T::*Link> class NodePool {
  public:
    template <class... A> T* take(A&&... fields) {
        T node{std::forward<A>(fields)...}; // may throw: nothing taken yet
        T* n;
        if (free_) {
            n = free_;
            free_ = n->*Link;
            *n = std::move(node);
        } else {
            n = &nodes_.emplace_back(std::move(node));
        }
        ++in_use_;
        return n;
    }
    void give_back(T* n) {
        assert(n && in_use_ > 0 && "node pool: a node given back that was not taken");
        *n = T{}; // what the node held (a name's characters) goes now
        n->*Link = free_;
        free_ = n;
        --in_use_;
    }
    void clear() { // every node at once, taken or not
        nodes_.clear();
        free_ = nullptr;
        in_use_ = 0;
    }
    size_t in_use() const { return in_use_; }

  private:
    std::deque<T> nodes_;
    T* free_ = nullptr; // nodes given back, chained through Link
    size_t in_use_ = 0;
};

extern int32_t cursor_x;      // hex-pane column of the digit under the cursor
extern int32_t cursor_y;      // screen row of the cursor, 1..LINES-2
extern uint64_t cursor_loc;   // file offset of the byte under the cursor
extern int32_t color;         // non-zero: colour in use (-1 only while parsing options)
extern bool color_forced_off; // -n given: F5 never turns colour on
extern ByteBuffer buffer;     // page cache or the whole file (+ spare + 1)
extern int32_t buf_spare;     // whole-file mode: free bytes of the gap after buf_end
extern std::vector<uint64_t> text_row_starts; // text view: offsets where rows begin
extern WINDOW* current_popup;                 // the top dialog's popup, or null

// How the terminal can show bytes 0xA0..0xFF (set at start-up from the locale).
enum class OutputCharset { Ascii, Utf8, Latin1 };
extern OutputCharset output_charset; // what the terminal's locale can show

[[noreturn]] void fatal_error(const char* message, const char* subject);
// Runs an allocation; memory that runs out ends the program through
// fatal_error with `message` (a size beyond what can be allocated too).
template <class Allocation>
decltype(auto) checked_alloc(Allocation&& allocate, const char* message = "Not enough memory") {
    try {
        return allocate();
    } catch (const std::bad_alloc&) {
        fatal_error(message, nullptr);
    } catch (const std::length_error&) {
        fatal_error(message, nullptr);
    }
}
void warn_beep();
// Writes the part of `text` starting at `col` that falls within columns
// lo..hi-1 of `row` (and of the window): on a narrow terminal curses would
// wrap the rest onto the next row, over a frame or whatever is beside it.
// The one clipping rule; popup_text applies it to a popup's inside.
void put_clipped(WINDOW* w, int row, int col, std::string_view text, int lo, int hi);
WINDOW* popup_window(int width, int height);
void popup_border(WINDOW* w); // the frame, left out where a window is one column wide
void error_box(const std::string& message, int use_errno);

// Attributes of the drawing roles, honouring `color`.
attr_t attr_normal();   // ordinary text: pair 1 or normal
attr_t attr_modified(); // modified byte / highlight: bold + pair 2 or bold
attr_t attr_status();   // status line: bold + pair 4 or reverse
attr_t attr_help();     // command bar: bold + pair 3 or normal
attr_t attr_field();    // input fields: bold + pair 4 or reverse
attr_t attr_selected(); // selected bytes: pair 5 or reverse
// A byte's cell in the hex view, its highlights stacked in one order:
// modified (bold), then selected.
attr_t attr_byte(bool modified, bool selected);
attr_t attr_match(bool modified, bool selected);   // a byte in a match of the Find pattern
attr_t attr_differs(bool modified, bool selected); // a byte that differs from the other file's
void init_colour_pairs(); // the pairs the roles above use, once colour has started

// Safe output: nothing reaches the terminal as a control sequence. A byte of
// the file takes one cell: put_byte_cell shows it "as itself" where the
// terminal can (ASCII, Latin-1 through the locale), else as a stand-in.
void put_byte_cell(WINDOW* w, int b);
// Writes text (a name, a message) in at most `max` columns at the window's
// position (max < 0: all of it), as the locale spells it: each character in
// the columns the terminal gives it, whole or not at all. A byte not valid in
// the locale, or a character that is not printable, shows as a one-cell
// stand-in; nothing reaches the terminal as a control sequence.
void put_safe(WINDOW* w, std::string_view s, int max = -1);
void mvput_safe(WINDOW* w, int y, int x, std::string_view s, int max = -1);
int text_columns(std::string_view s);                  // columns put_safe takes for `s`
std::string cut_columns(std::string_view s, int cols); // whole characters within `cols` columns
std::string fit_columns(std::string_view s, int cols); // cut, then blanks to exactly `cols`
size_t text_cell_bytes(std::string_view s, size_t i);  // bytes of the cell starting at s[i]

// ---------------------------------------------------------------- input.cpp
// Signals are deferred: the handlers only record them; read_key acts on them.

enum class Interrupt { Startup, QuitDialog, BrowserExit };
struct SavedInterrupt {
    struct sigaction action;
    Interrupt kind;
};
extern Interrupt interrupt_kind; // what Control-C does when not ignored
extern int key_input_fd;         // descriptor curses reads keys from (0; tests use a pipe)

void prepare_crash_restore();   // remembers the shell's terminal mode for crashes
void prepare_ending_signals();  // SIGTERM, SIGHUP ... restore the terminal before they end us
void install_signal_handlers(); // SIGWINCH, Control-Z, SIGCONT; blocks them and SIGINT
void install_interrupt(Interrupt kind); // Control-C opens the quit dialog / ends the browser
SavedInterrupt ignore_interrupt();      // SIGINT ignored (pending one dropped)
void restore_interrupt(const SavedInterrupt& saved);
// While one lives, the signals that end the program (SIGTERM, SIGHUP ...) and
// the quit dialog wait: a write in place then always finishes.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  private:
    sigset_t before_;
};
// The next key. Pending signals act first (a resize is recorded, the quit
// dialog opens), then update_screen draws what the last key changed: every
// key ends in exactly one frame.
int read_key();
// For long work: a resize is recorded, an interrupt opens the quit dialog
// (true: it was shown, and the screen under it must be put back).
bool poll_signals();
// After ESC, the raw sequences of terminals whose keys curses does not know:
// ESC O A..D the arrows, ESC [ 1..6 ~ Home, Insert, Delete, End, Page Up,
// Page Down (a CSI sequence is read to its final byte), the same with Shift
// (ESC [ 1 ; 2 A, ESC [ 5 ; 2 ~ ...), and ESC with a letter: Alt and the
// letter, in either case (a lone ESC O with nothing after it is Alt-O).
// Returns the key code, 0 for a sequence that names none.
inline constexpr int KEY_ALT_V = KEY_MAX + 1;
inline constexpr int KEY_ALT_FIRST = KEY_MAX + 2;         // the other letters from here, a to z
inline constexpr int KEY_ALT_EQUALS = KEY_ALT_FIRST + 26; // ESC =
constexpr int alt_key(char letter) {
    const char lower = static_cast<char>(letter | 0x20);
    return lower == 'v' ? KEY_ALT_V : KEY_ALT_FIRST + (lower - 'a');
}
int read_escape_sequence();
// The same when a key follows the ESC at once; ERR when none has arrived
// (Escape pressed alone).
int escape_sequence_if_any();
void drop_escape_sequence(); // the same, of what has already arrived only: never waits

// ---------------------------------------------------------------- quit.cpp

extern bool quit_dialog_open; // the quit dialog is on screen
// New File was chosen while long work ran: the work stops, and the next key
// read opens the other file (the work's data must not change under it).
extern bool new_file_wanted;
[[noreturn]] void quit_program();
void quit_dialog();
void quit_new_file(); // the quit dialog's New File: the file given up, another chosen
[[noreturn]] void browser_interrupt();
// Takes the terminal's new size: the windows are made anew and everything is
// recorded for update_screen. Draws nothing, so long work may call it.
void handle_resize();

// ---------------------------------------------------------------- dialog.cpp
// A dialog is one declaration, a DialogSpec: its popup's size (centred), its
// command-bar text, how it lays itself out for the screen size, the keys it
// takes even while it cannot be seen whole, and what Control-C does while it
// is open. A DialogScope opens it for as long as the dialog's function runs:
// it registers the popup, ignores the interrupt when asked, and on every exit
// path deletes the popup and undoes the rest. update_screen draws the open
// dialogs over the screen, bottom to top, with the top one's bar.

class DialogScope;
enum class DialogInterrupts { Ignored, Kept };
struct DialogSpec {
    int width = 0;             // the popup, centred; 0: none (a prompt in the command bar)
    int height = 0;            //
    const char* bar = nullptr; // command bar while open; null keeps the one below
    bool bar_centred = false;  // the bar's text is centred (a title)
    // Draws the dialog for the current screen size, making its popup anew
    // (scope.adopt); null: the popup's content is kept across a resize.
    std::function<void(DialogScope&)> layout = nullptr;
    int need_lines = 0; // with layout: rows it needs to be seen whole
    // Keys that act even while it cannot be seen whole: its question never
    // changes and its keys are always the same. The cancel keys always act.
    const char* keys_when_hidden = "";
    DialogInterrupts interrupts = DialogInterrupts::Ignored;
};

class DialogScope {
  public:
    explicit DialogScope(DialogSpec spec);
    ~DialogScope();
    DialogScope(const DialogScope&) = delete;
    DialogScope& operator=(const DialogScope&) = delete;
    WINDOW* win() const;
    void adopt(WINDOW* popup);          // the popup is replaced (the old one deleted)
    void set_bar(std::string_view bar); // a bar whose text changes (a prompt)

  private:
    size_t index_ = 0;
    std::optional<SavedInterrupt> saved_;
};
bool dialog_open();               // a dialog is open
bool dialog_hidden();             // the top popup cannot be seen whole
bool dialog_refuses_key(int key); // hidden, and `key` is not one it takes so
void dialogs_before_resize();     // keeps the content of every popup still whole
// A screen of its own (the browser, opened by New File over a dialog) covers
// the dialogs open so far until it is left: they are neither drawn nor asked.
size_t dialogs_cover();
void dialogs_uncover(size_t covered); // with what dialogs_cover returned
// Stages the open dialogs over the windows below and their bar; `below_drawn`:
// the screen under them was drawn, so each is shown whole again (laid out
// anew after a resize). True when the top dialog holds the terminal's cursor.
bool dialogs_draw(bool below_drawn);

// ---------------------------------------------------------------- longwork.cpp
// Work that may run long calls keep_going() once per block: it shows
// progress ("Searching... 37%") in the command bar from half a second on
// (the only drawing outside update_screen), records a resize, lets an
// interrupt open the quit dialog, and returns false once Escape was pressed
// or New File was chosen (the work then stops; new_file_wanted tells which).
// Other keys typed meanwhile are kept, and read_key hands them out first.
// The destructor records the bar for drawing again. Work that is not
// `stoppable` refuses Escape with the bell and finishes before New File.

class LongWork {
  public:
    LongWork(const char* what, uint64_t total, bool stoppable = true);
    ~LongWork();
    LongWork(const LongWork&) = delete;
    LongWork& operator=(const LongWork&) = delete;
    bool keep_going(uint64_t done); // false: stop (Escape)
    bool stopped() const { return stopped_; }

  private:
    void take_keys();
    void show(uint64_t done);
    const char* what_;
    uint64_t total_;
    std::chrono::steady_clock::time_point start_, next_poll_, next_draw_;
    bool stoppable_;
    bool shown_ = false;
    bool stopped_ = false;
};
bool take_kept_key(int& key); // a key typed during long work, oldest first
bool long_work_running();     // a LongWork is alive
std::string progress_text(const char* what, uint64_t done, uint64_t total); // "what... N%"

// ---------------------------------------------------------------- startup.cpp

void start_editor(int argc, char** argv);
void create_windows(bool after_resize); // the three windows for the current LINES, COLS
int main_rows();                        // rows of main_win (at least 1)
void remake_main_window();              // main_win (and the compare view's) for a changed layout
void print_usage(const char* program_name);
void apply_env_letters(const char* letters); // option letters of the MORVANE variable
void read_env_variable(char** envp);         // finds the MORVANE entry and applies it
void open_file(FILE** stream);
// Stops the threads of a whole-file load and waits for them: called before
// the program ends in the middle of one (quit dialog, fatal error).
void stop_loading() noexcept;
// The read of the file load (pread), replaced by the tests to make reads
// fail or end early; called on several threads at once.
extern ssize_t (*load_pread)(int fd, void* to, size_t len, off_t at);
// The size of the device (or file) behind `fd` as -d finds it: false with
// errno set when none can be found.
bool find_device_size(int fd, uint64_t& size);

// ---------------------------------------------------------------- keys.cpp

void hex_mode_key(int key_code);
void text_mode_key(int key_code);
void toggle_view();
void quit_if_asked(int save_result);
bool key_tables_are_unique(); // no key bound twice in one table

// ---------------------------------------------------------------- select.cpp
// The selection: every byte from the mark to the cursor, both included, in
// either direction. Only the mark is kept; the cursor is the other end, so
// every key that moves the cursor moves that end.

extern std::optional<uint64_t> select_mark; // the fixed end of the selection; none: no selection
inline bool selection_active() {
    return select_mark.has_value();
}
uint64_t selection_first(); // its lower end (with a selection)
uint64_t selection_last();  // its higher end
void select_clear();        // the selection goes (the clipboard stays)
void select_fit();          // a mark past the file's last byte comes onto it
void select_begin();        // the mark at the cursor where none is set (Shift and a move)
// The hex view's commands on the selection and the clipboard.
void select_toggle_mark(); // Alt-A, F9
void select_copy();        // Alt-W
void select_cut();         // Alt-K
void select_paste_over();  // Alt-Y
void select_paste_in();    // Alt-P
void select_fill();        // Alt-F
// After every key of the hex view: the mark is kept within the file, and the
// highlight and the bar follow the cursor while a selection exists (or has
// just gone). `had_selection`: one existed before the key.
void select_after_key(bool had_selection);
// What a copy offers the terminal's clipboard: the bytes as hexadecimal text,
// two digits a byte separated by single blanks ("48 65 6C"), base64 encoded.
inline constexpr size_t TERMINAL_CLIPBOARD_LIMIT = size_t{64} << 10; // bytes offered at most
std::string clipboard_hex_text(const unsigned char* bytes, size_t n);
std::string base64_text(std::string_view bytes);
// The terminal's clipboard sequence (terminfo Ms) for the clipboard, or
// empty where the terminal has none or the clipboard is too large.
std::string terminal_clipboard_sequence();
// A failure of a range command in the save dialog's box: `title`, then `reason`.
void range_failure_box(const char* title, const std::string& reason);

// ---------------------------------------------------------------- rangefile.cpp

// The dialogs that ask for a file's name are laid out as Save's: a popup of
// this width and 6 rows, its title centred on row 1, "Filename: " on row 3.
inline constexpr int NAME_POPUP_WIDTH = 70;
WINDOW* open_name_popup(DialogScope& dialog, const char* title); // null: no popup
// The field as Save has it: 50 columns onto up to 1024 characters.
std::optional<std::string> ask_name(WINDOW* popup, const std::string& text);
// The field's text up to its end mark; a name ends at its first blank, as
// in the Save dialog once the field no longer holds the file's own name.
std::string typed_name(const std::string& field);
// The whole dialog of one name: the popup with `title` (kept in `popup` for
// a failure box) and the name typed; empty when cancelled, when nothing was
// typed, or when there is no popup (the bell rings).
std::string name_dialog(DialogScope& dialog, const char* title, WINDOW*& popup);
void write_selection(); // Alt-O: the selection into a file named in a dialog
void read_clipboard();  // Alt-I: a file named in a dialog into the clipboard

// ---------------------------------------------------------------- filebuff.cpp

struct mod_entry {
    uint64_t offset;
    unsigned char value;
    mod_entry* next;
};
inline constexpr int MOD_TABLE_BUCKETS = 1009;
extern std::unique_ptr<mod_entry*[]> mod_table; // 1009 bucket heads, or null before init
extern size_t mod_table_entries;                // number of entries (fast paths when 0)

int get_byte_miss(uint64_t offset);
// The hot path: a comparison and an index.
inline int get_byte(uint64_t offset) {
    if (offset >= Globals.buf_front && offset <= Globals.buf_end)
        return buffer[offset - Globals.buf_front];
    return get_byte_miss(offset);
}
// Bytes as shown (same results as get_byte for each offset), in blocks.
// A range not wholly inside the paged window is read from the file in one
// piece at `offset`, so block readers that pass page-aligned offsets and
// buffers read the file at page-aligned offsets.
void get_bytes(uint64_t offset, unsigned char* out, size_t n);
// Block readers' memory: page-aligned, so that reads into it at page-aligned
// file offsets copy whole pages (an unaligned read costs the kernel up to
// twice as much).
struct AlignedFree {
    void operator()(unsigned char* p) const noexcept;
};
using AlignedBytes = std::unique_ptr<unsigned char[], AlignedFree>;
size_t io_page_size();                                // the system's page size
AlignedBytes aligned_bytes(size_t n);                 // page-aligned; null when there is no memory
inline uint64_t align_down(uint64_t v, uint64_t to) { // `to`: any block size
    return v - v % to;
}
// Whole-file mode: `buffer` holds bytes 0..buf_end, a gap of buf_spare zero
// bytes, the bytes after buf_end, one zero byte. Edits move the gap to
// themselves; it closes again when at most buffer_gap_close_limit bytes
// follow it (small files keep the plain layout).
extern uint64_t buffer_gap_close_limit;      // bytes after the gap below which it closes
unsigned char* buffer_byte(uint64_t offset); // where a byte of the file lies, or null
// Inserts `value` before `offset` (the length: appends); returns the byte that was there (0).
unsigned char buffer_insert(uint64_t offset, unsigned char value);
unsigned char buffer_erase(uint64_t offset); // removes the byte (the file keeps one), returns it
// Replaces `remove` bytes at `offset` with the `n` bytes at `bytes` (the file
// keeps at least one byte). False, with nothing changed, when memory for it
// cannot be had.
bool buffer_splice(uint64_t offset, uint64_t remove, const unsigned char* bytes, uint64_t n);
// The whole file from buffer[0] on, the gap moved behind it (O(size) once
// after edits): for whole-file work such as saving.
const unsigned char* buffer_contiguous();
uint64_t load_page();
void set_file_window(FILE* stream, uint64_t front, uint64_t end);
void init_mod_table();
void clear_mod_table();
void mod_table_set(uint64_t offset, int value);
void mod_table_remove(uint64_t offset);
int mod_table_get(uint64_t offset, unsigned char* out);
// Writes every entry into `stream` at its offset and syncs it; only then is
// the table emptied. 0 on success; -1 with errno set, the table unchanged.
int write_mod_table(FILE* stream);
// As get_bytes, without ending the program: 0, or -1 with errno set when the
// file cannot be read. `held` (optional) receives how many of the n bytes the
// file or the window really holds; the rest are zeros past the file's end.
int filebuff_fetch(uint64_t offset, unsigned char* out, size_t n, size_t* held);
// Globals.fp does not read the file named Globals.filename (after a paged
// save under a new name); reset by set_file_window.
extern bool fp_reads_other_file; // Globals.fp reads the file saved away from

// ---------------------------------------------------------------- edit.cpp

void edit_byte(int key);
void filebuff_modify(int value);
void insert_byte(int value, int no_undo);
void delete_byte(int no_undo);

// ---------------------------------------------------------------- ranges.cpp
// Changes of a whole range of bytes at once (fill, paste, cut, read in) are
// kept as ranges: a fill over a gigabyte is one entry, not a gigabyte of
// them. Paged mode lays the pieces over the file under the byte table (a
// byte edited later wins, as it is newer); whole-file mode writes the buffer
// and keeps the pieces only to mark the bytes changed. Each command is one
// undo step, and one redo step.

// The bytes a piece shows: `data` repeated, from index `phase` at its start.
struct RangeBytes {
    std::shared_ptr<const ByteBuffer> data; // null: only a mark (whole-file mode)
    uint64_t phase = 0;
    unsigned char at(uint64_t k) const { return (*data)[(phase + k) % data->size()]; }
};
struct RangePiece {
    uint64_t last; // its last offset; the map's key is its first
    RangeBytes bytes;
    // A Replace's piece changes only the `span` bytes from each of
    // (*starts)[lo..hi), each to `bytes` from its phase 0; the bytes between
    // them are not changed. span 0: every byte of the piece is.
    std::shared_ptr<const std::vector<uint64_t>> starts = nullptr;
    size_t lo = 0, hi = 0;
    uint64_t span = 0;
};
extern std::map<uint64_t, RangePiece> range_pieces; // never overlapping

// What a copy or a read-in may hold: it lives in memory.
inline constexpr uint64_t CLIPBOARD_LIMIT = uint64_t{1} << 30;
// The bytes copied or read in, for the program's life (across New File).
extern std::shared_ptr<const ByteBuffer> clipboard;

enum class RangeResult {
    Done,
    Refused,  // nothing to do or not allowed here (the caller rings the bell)
    Stopped,  // Escape or New File during the work: nothing changed
    TooLarge, // over CLIPBOARD_LIMIT
    NoMemory, // nothing changed
    Failed    // a read or an open failed: errno says why, nothing changed
};
bool range_is_modified(uint64_t offset); // a piece marks it
// Lays the pieces over `len` bytes of the file from `offset` (paged mode).
void range_overlay(uint64_t offset, unsigned char* bytes, uint64_t len);
void range_clear(); // every piece goes (a save wrote them, a new file, a size change)
// The commands. Offsets are inclusive; each records one undo step, marks the
// bytes changed and the file changed, and records the rows for drawing.
RangeResult copy_range(uint64_t first, uint64_t last); // into the clipboard, with progress
RangeResult fill_range(uint64_t first, uint64_t last, const std::vector<unsigned char>& pattern);
RangeResult paste_over(uint64_t at); // Refused: it would run past the end, or no clipboard
RangeResult paste_in(uint64_t at);   // whole-file mode: before the byte at `at`
RangeResult cut_range(uint64_t first, uint64_t last); // whole-file mode
// Replace: replacements made one by one, ascending and not overlapping, end
// as one undo step. replace_one changes `old_len` bytes at `at` into `with`
// (paged mode: of the same length; every one of a Replace alike);
// replace_end records the step and returns how many were made.
void replace_begin();
RangeResult replace_one(uint64_t at, uint64_t old_len, const std::vector<unsigned char>& with);
uint64_t replace_end();
// A file's bytes into the clipboard, with progress (Failed: errno set).
RangeResult read_into_clipboard(const std::string& name);
// Range steps are undo records of kind UNDO_RANGE (offset: the first byte);
// what they changed is kept here, in the same order as the undo stack.
void range_undo(bool saved); // the stack's top record is a range step: takes it back
void range_redo();           // the newest range step taken back, applied again
void range_forget_undone();  // a new change: the steps taken back cannot be redone
void range_forget_all();     // the undo history is cleared
// Paged mode, just before a save writes the changes into the file the window
// reads: the undo steps keep what they replaced, which the file will no
// longer hold. False when that is more than is kept in memory (the caller
// then clears the undo history).
bool range_before_save();
// Control-L read a shorter file: pieces past `last` go. True when an undo
// step reaches past it (the history must then go too).
bool range_drop_past(uint64_t last);
// Every changed offset of paged mode in runs, ascending: entries and pieces.
struct ChangedRun {
    uint64_t first, last;
};
std::vector<ChangedRun> changed_runs(uint64_t below); // runs cut at `below` (exclusive)

// ---------------------------------------------------------------- compare.cpp
// The compare view: the edited file above, another file below (read-only,
// paged, a device too), the same offsets side by side and every byte that
// differs highlighted in both. The other file may be read `shift` bytes
// ahead (or behind, negative) of the edited one.

struct CompareFile {
    int fd = -1;                  // the other file, opened for reading; -1: no compare view
    std::string name;             // as typed
    uint64_t length = 0;          // its length in bytes (0: empty)
    int64_t shift = 0;            // offset X of the view shows the other file's byte X + shift
    WINDOW* status_win = nullptr; // its status line, below the edited file's rows
    WINDOW* rows_win = nullptr;   // its rows (null where the screen has no room)
};
extern CompareFile compare_file; // the compare view's other file
inline bool compare_open() {
    return compare_file.fd >= 0;
}
inline constexpr int64_t ALIGN_REACH = 64 << 10; // shifts an empty Align field tries, each way
inline constexpr size_t ALIGN_SPAN = 32;         // bytes from the cursor that must agree
extern size_t compare_block; // bytes per block of the difference search (tests make it small)

// Opens `name` as the other file and shows the view: true, or false with
// errno set (nothing changed).
bool compare_start(const std::string& name);
void compare_close();   // back to the ordinary view (the windows made anew)
void compare_refresh(); // the other file's length taken again (Control-L)
// Rows of the edited file's half, and the other half's windows for the
// current screen size (create_windows calls it).
int compare_top_rows();
void compare_make_windows();
// Of the bytes shown at offsets first..first+n-1: the edited file's (-1 past
// its end) and the other file's counterparts (-1 where it has none).
struct CompareBytes {
    std::vector<int> mine, theirs;
    bool differs(size_t i) const { return mine[i] != theirs[i]; }
};
CompareBytes compare_bytes(uint64_t first, size_t n);
uint64_t compare_last_shown(); // the last offset either half has a byte at
void draw_compare_half();      // the other file's status line and rows (staged)
std::string compare_bar_text(int cols);
// The searches of the view, over the bytes as shown (the table laid over),
// with the progress and Escape of long work.
enum class DiffResult { Found, None, Stopped, Failed };
DiffResult next_difference(uint64_t from, uint64_t& at);     // first one after `from`
DiffResult previous_difference(uint64_t from, uint64_t& at); // last one before `from`
// The shift of smallest size (+n before -n) within ALIGN_REACH under which
// the ALIGN_SPAN bytes from `at` (fewer at the end) agree with the other
// file's; none when no shift does. Failed reads give none, errno set.
std::optional<int64_t> find_alignment(uint64_t at);
// The keys of the view (Alt-C opens it from the hex view).
void compare_dialog();        // Alt-C outside the view: asks for the other file
void compare_next(bool back); // Alt-N/F8, Alt-B
void compare_align();         // Alt-=

// ---------------------------------------------------------------- undo.cpp

inline constexpr int32_t UNDO_INSERTION = 1; // undo_record::kind
inline constexpr int32_t UNDO_DELETION = 2;
inline constexpr int32_t UNDO_OVERWRITE = 3;
inline constexpr int32_t UNDO_RANGE = 4; // a range step of ranges.cpp
struct undo_record {
    int32_t kind; // UNDO_INSERTION, UNDO_DELETION or UNDO_OVERWRITE
    uint64_t offset;
    unsigned char old_byte;
    unsigned char new_byte;
    bool saved; // a save has written this change into the file
    undo_record* next;
    undo_record* prev;      // the next older record (null in base): pops need no walk
    undo_record* prev_same; // the next older record with the same offset, or null
};
struct UndoList {
    int32_t size = 0;
    undo_record* base = nullptr;
    undo_record* top = nullptr;
};
extern UndoList UndoStack; // the changes that can be undone, newest on top

void pushUndo(int kind, uint64_t offset, int old_byte, int new_byte);
void undoLastChange();
void redoLastUndo();    // applies the newest undone change again (bell: none)
int32_t redo_count();   // undone changes that redo can apply
void undo_clear();      // frees every record, and what redo could apply
void undo_mark_saved(); // every record so far has been written by a save

// ---------------------------------------------------------------- save.cpp

int save_file();
// The bytes first..last as shown (unsaved changes included) into the file
// `name`, which must not be the edited file, through the same safe path as a
// save under a new name (a temporary file beside it, synced and renamed), with
// progress that Escape stops. 1 written; 0 failed, with *failure set to the
// box's title and errno to the reason, and nothing left of the write.
int write_range_as(const std::string& name, uint64_t first, uint64_t last, const char** failure);
// What a name given to a dialog names: the edited file (under any path), or
// an existing regular file that a write would replace.
bool names_edited_file(const std::string& name);
bool names_existing_file(const std::string& name);
// A failure in a save-like popup, as the Save dialog shows it: `title` on
// row 1, `reason` (a whole line such as "Reason: ...") on row 3; then a key.
void show_save_failure(WINDOW* popup, const char* title, const std::string& reason);
std::string& trim_at_whitespace(std::string& text);
// The writing behind save_file, without the dialog: 1 saved under `name`;
// 0 failed, with *failure set to the box's title and errno to the reason.
// `whole`: the edited file gets the whole content as shown, even in paged
// mode (where only the changed bytes would be written into it).
int save_file_as(const std::string& name, const char** failure, bool whole = false);
// From a signal handler that ends the program: removes the temporary file a
// save is writing, so that nothing but the edited file is ever left.
void save_drop_temp_now();
// fsync that also succeeds for targets that cannot be synced at all (EINVAL).
int save_sync(int fd);
// What a file carries beyond its mode and owner: its extended attributes,
// the ACL among them (system.posix_acl_access on Linux).
struct Xattr {
    std::string name;
    std::string value;
};
using Xattrs = std::vector<Xattr>;
// All of them, each one read (none on a file system without them): 0; -1
// with errno when one cannot be read (or, where they are not copied, exists).
int read_xattrs(const char* path, Xattrs& out);
// The file behind `fd` carries exactly `attrs` afterwards: 0, or -1 with errno.
int apply_xattrs(int fd, const Xattrs& attrs);

// ---------------------------------------------------------------- ondisk.cpp
// What the edited file's name named when it was opened or last saved: a save
// in place and Control-L look again, as another program may have changed it.

struct DiskFile {
    bool known = false;   // a file was there
    bool link = false;    // the name was a symbolic link
    bool regular = false; // a regular file (else a device: only its identity counts)
    uint64_t dev = 0, ino = 0, rdev = 0;
    int64_t size = 0;
    int64_t mtime_sec = 0, mtime_nsec = 0;
};
extern DiskFile file_on_disk; // the edited file as opened or last saved

DiskFile disk_file_now(const std::string& name); // what `name` names now (unknown: nothing)
void remember_file_on_disk(FILE* read_from);     // after a load (its stream) or a save (null)
bool file_changed_on_disk(); // the name names another file now, a link, nothing, or it changed
bool names_file_on_disk(const std::string& name); // `name` is another path to that same file
// Paged mode: when the file changed on disk, the window reads it as it is now
// (a file that shrank loses the changes and the cursor past its new end).
// True when it was read anew.
bool reload_changed_file();

// ---------------------------------------------------------------- question.cpp
// A question answered with Y or N, in the quit dialog's conventions: Y and N
// answer, Tab and the arrows move the choice and Enter takes it (No at
// first), and the cancel keys answer No. It is drawn for any screen size.

bool ask_yes_no(const std::string& question, const std::string& detail);
// Before a file that exists is written over by a save under its name.
bool ask_replace(const std::string& name);
// Before a save into the edited file that changed on disk since it was opened.
bool ask_save_changed_file();

// ---------------------------------------------------------------- screen.cpp

extern const std::array<unsigned char, 256> ebcdic_display;  // EBCDIC code -> shown character
extern const std::array<unsigned char, 128> ascii_to_ebcdic; // typed ASCII -> EBCDIC code

int hex_col_of_byte(unsigned i);
int byte_of_hex_col(unsigned col);
int respaced_col(unsigned col);
int is_hex_digit(int key);
int hex_value(int ch);
char hex_digit_char(unsigned v);
int is_printable(int c);
// The cell of byte b in a text column: EBCDIC table, itself, or ".".
void put_text_cell(WINDOW* w, int b);

// Redraw contract. Commands, signals and long work never flush: they record
// what must be drawn with redraw_later. update_screen, called by read_key
// just before the program waits for the next key, draws what was recorded
// (the mode's screen, then the open dialogs over it), puts the terminal's
// cursor in place and flushes once. Drawing only draws: nothing it calls
// reads keys, acts on signals, loads a file or runs long work.
inline constexpr unsigned REDRAW_ROWS = 1;   // the editing area (rows, text page, calculator)
inline constexpr unsigned REDRAW_STATUS = 2; // the status line
inline constexpr unsigned REDRAW_BAR = 4;    // the command bar
inline constexpr unsigned REDRAW_ALL = 7;    // every window, erased first
inline constexpr unsigned REDRAW_CLEAR = 8;  // the terminal repainted whole (it may be garbled)
extern unsigned redraw_needed;               // what update_screen will draw
inline void redraw_later(unsigned what) {
    redraw_needed |= what;
}
void update_screen();
// update_screen is drawing: what reads keys, acts on signals, loads a file or
// runs long work asserts that it is not called from there.
bool drawing_now();

// One byte's cell of a hex view: the byte (-1: a blank cell) and its highlights.
struct HexCell {
    int byte = -1;
    bool modified = false, selected = false, matched = false, differs = false;
};
// Fills the cells of the n offsets from `first`.
using HexCells = std::function<void(uint64_t first, size_t n, std::vector<HexCell>& out)>;
// Rows of 16 cells into `w` from the row of `start` up to offset `last`, in
// the current layout, each row labelled with its offset plus `label_shift`
// (no label where that is below 0).
void draw_hex_rows(WINDOW* w, uint64_t start, uint64_t last, const HexCells& cells,
                   int64_t label_shift);
void draw_rows(uint64_t start); // the edited file's rows into main_win
void redraw_all(); // every window of the hex or text view drawn anew (staged, not flushed)
// Cells of a row, cut at the window's width (never wrapped).
void put_cell(WINDOW* w, int y, int x, int width, chtype ch);
void put_blanks(WINDOW* w, int y, int from, int to, int width);
bool is_modified(uint64_t offset); // the byte has an entry in the table

int cursor_screen_col();                // cursor_x, or its text-pane column
void place_cursor();                    // terminal cursor onto the cursor's cell (staged)
void put_terminal_cursor(int y, int x); // terminal cursor onto a screen cell (staged)
uint64_t first_shown();                 // offset of the first row of the hex view
int first_hex_col();                    // the high digit of a row's first byte
int last_hex_col();                     // the low digit of a row's last byte, in this layout
int bottom_row();                       // the cursor's lowest screen row
// The cursor onto `offset`'s high digit, on screen row `row` (1: the top).
void cursor_onto(uint64_t offset, int row);

// ---------------------------------------------------------------- textview.cpp

void draw_text_page(uint64_t& pos);
// Finds the page that holds the cursor when what it depends on has changed
// (cursor, screen size, character set): long work, so read_key runs it
// before drawing, never the drawing itself. Escape gives it up and leaves
// the text view (Globals.mode 1).
void text_view_prepare();
void text_view_forget(); // the file's bytes changed under the view: the page is found anew
// Draws the located page into main_win and returns the screen cursor position.
void draw_text_view(int& cur_row, int& cur_col);
// The start of the text-view page that holds the cursor, `top` being the hex
// view's first row. Empty when the scan was stopped.
std::optional<uint64_t> text_view_page(uint64_t top);
extern size_t text_scan_block; // bytes per block of the text view's scans (tests make it small)

// ---------------------------------------------------------------- statusbar.cpp

std::string status_text(int cols); // the status line before the marker
// The same for any file: its name, the cursor's offset in it and its last offset.
std::string status_line_text(int cols, std::string_view name, uint64_t offset, uint64_t last);
char status_marker(); // 'M', 'R' or ' '
std::string command_bar_text(int cols, int file_state);
// The bar while a selection exists: how many bytes, its first and last
// offset, then the keys that act on it (Cut and Fill where they may).
std::string selection_bar_text(int cols, uint64_t first, uint64_t last, bool can_cut,
                               bool can_fill);
void draw_status(); // staged; update_screen flushes
void draw_status_line(WINDOW* w, std::string_view name, uint64_t offset, uint64_t last,
                      char marker); // a status line into `w` (staged)
void draw_command_bar();            // staged; update_screen flushes

// ---------------------------------------------------------------- cursor.cpp

void move_cursor(int key);
void page_down();
void page_up();
void go_end();
void go_home();

// ---------------------------------------------------------------- lineinput.cpp

// The whole field buffer: `len` positions and one blank (a '\0' at index 0
// means an empty text; '\0' elsewhere reads as the end of the text).
// An initial text longer than `len` grows the field to its length. `accept`,
// when given, may refuse keys that would otherwise be typed (they beep).
using LineKeyFilter = bool (*)(int key);
std::optional<std::string> read_line(WINDOW* win, int row, int col, int len, int width,
                                     const char* text, LineKeyFilter accept = nullptr);
// Writes a dialog's text at (row, col) of its bordered popup, in `extra` on
// top of the window's attribute, cut before the right border and skipped on
// a row the popup lacks, so a popup shrunk to a small terminal never wraps
// text or loses its frame. Returns the column after the whole text. The one
// clipping rule of every popup.
int popup_text(WINDOW* popup, int row, int col, std::string_view text, attr_t extra = 0);
// Cells a dialog may write from `col` on `row` of its popup (0 outside it).
int popup_room(WINDOW* popup, int row, int col);

// ---------------------------------------------------------------- goto.cpp

extern uint64_t jump_distance; // the last completed jump's distance, for 'n'
extern int jump_key;           // its direction: '+' or '-'
uint64_t goto_target(const char* text, uint64_t limit); // conversion and clamping
// Where a relative jump from `from` lands, kept within 0..last; `clamped`
// tells that the distance had to be cut (the caller beeps).
uint64_t jump_target(uint64_t from, uint64_t distance, bool forwards, uint64_t last, bool& clamped);
void goto_offset(uint64_t limit);
void jump_relative(int key);

// ---------------------------------------------------------------- find_pattern.cpp

// Searches read the file in aligned blocks of this size, at offsets that are
// multiples of it; a match straddling two blocks is found by carrying the
// last pattern_len - 1 bytes of one in front of the next. 256 KiB measured
// best here: the block is still in the cache when it is scanned, and the
// read calls cost nothing beside the copying.
inline constexpr uint64_t search_block_bytes = uint64_t{256} << 10;
// One aligned block and room for the bytes a straddling match of `m` bytes
// needs, carried over from the neighbouring block: `room` bytes in front of
// the block (forwards) or after it (backwards), a whole number of pages so
// that the block itself stays page-aligned. No memory: `memory` is null.
struct SearchBlocks {
    AlignedBytes memory;
    uint64_t room = 0;
    unsigned char* block() const { return memory.get() + room; }
};
SearchBlocks search_blocks(uint64_t m);

struct SearchResult {
    int found;
    uint64_t offset;
};
SearchResult find_pattern(const unsigned char* pattern, uint64_t start, uint64_t pattern_len,
                          uint64_t count);
// The last match in the same range (offset from `start`), searched from its end.
SearchResult find_pattern_backward(const unsigned char* pattern, uint64_t start,
                                   uint64_t pattern_len, uint64_t count);
// Horspool shifts: for each byte value, how far a window ending in it may move.
std::array<uint64_t, 256> search_shift_table(const unsigned char* pattern, uint64_t pattern_len);
// What a text field searches for: its text up to the first zero byte without
// trailing blanks, in EBCDIC when `ebcdic` is set ('.' ends it there).
// `only_blanks`: the user typed blanks and nothing else (no search is made).
struct TextPattern {
    std::vector<unsigned char> bytes;
    bool only_blanks = false;
};
TextPattern text_search_pattern(const std::string& field, int ebcdic);
// How common a byte value is in ordinary files, 0 (rare) to 255: searches
// look first for a pattern's rarest byte.
unsigned search_byte_rank(unsigned char b);

// ---------------------------------------------------------------- pattern.cpp
// A pattern of Find (Alt-S) and Replace (Alt-R): byte i of a match is any
// byte b with (b & mask[i]) == value[i]: mask 0xFF an exact byte, 0 any byte
// (??), 0xDF an ASCII letter in either case.
struct BytePattern {
    std::vector<unsigned char> value, mask;
    size_t size() const { return value.size(); }
    bool operator==(const BytePattern&) const = default;
};
// One pattern in one of the three forms of the field: hex bytes (4D 5A ??),
// text in quotes ("ab"iw) or a number (u16be:0x1234). Empty, with `why` set
// to a short reason, when the text cannot be read. `wildcards`: ?? and i are
// allowed (a replacement allows neither: it must be exact bytes).
// `empty_ok`: an empty hex form or "" is a pattern of no bytes (a deletion).
std::optional<BytePattern> read_pattern(std::string_view text, bool wildcards, bool empty_ok,
                                        std::string& why);
// As find_pattern and find_pattern_backward (same start/count/result
// conventions: count bytes from start; result.offset counted from start;
// found 0 when none or stopped with Escape), over the bytes as shown, with
// the progress and Escape of LongWork ("Searching").
SearchResult find_masked(const BytePattern& p, uint64_t start, uint64_t count);
SearchResult find_masked_backward(const BytePattern& p, uint64_t start, uint64_t count);
// Every match whose first byte lies in [start, start + count) and that lies
// wholly in the file, overlapping ones included; nullopt when stopped with
// Escape (LongWork "Counting"). `first_at_or_after`, when given, receives in
// `before` how many matches begin before it (the K of "Match K of N" is that
// plus one).
std::optional<uint64_t> count_matches(const BytePattern& p, uint64_t start, uint64_t count,
                                      uint64_t first_at_or_after = UINT64_MAX,
                                      uint64_t* before = nullptr);
// The first offsets of the matches that overlap [first, last] (a screenful:
// no progress, no Escape), ascending. For drawing the highlight.
std::vector<uint64_t> matches_overlapping(const BytePattern& p, uint64_t first, uint64_t last);
// Replace All: the matches from `start` to the end, none overlapping the one
// before it, ascending; nullopt when stopped with Escape or out of memory.
std::optional<std::vector<uint64_t>> collect_matches(const BytePattern& p, uint64_t start);

// ---------------------------------------------------------------- search.cpp

struct HexInput {
    int len = 0;
    std::vector<unsigned char> bytes;
};
extern std::optional<std::vector<unsigned char>> last_pattern; // what Find Next repeats
inline int last_pattern_len() {                                // bytes of that pattern
    return last_pattern ? static_cast<int>(last_pattern->size()) : 0;
}
extern int search_used;    // a search was made: the menu offers Find Next first
extern HexInput hex_input; // the byte-search field's bytes so far

// The Search dialog; find_next: only repeat the last search (backwards: the
// last match before the cursor instead of the first after it).
void search(int find_next, bool backwards = false);
HexInput* read_hex_bytes(WINDOW* window, int room, int width);

// ---------------------------------------------------------------- find.cpp
// Find (Alt-S) and Replace (Alt-R). While a Find pattern is the last search,
// its matches on the screen are marked, and Control-N and F4 repeat it.

extern std::optional<BytePattern> find_last; // the Find pattern, or none
extern std::string bar_note; // said in the command bar instead of its keys, until the next key
void find_dialog();
void replace_dialog();
// Control-N (F4: backwards) after a Find: true when a match was found (the
// cursor on it, the match counted in bar_note).
bool find_repeat(bool backwards);
// Which of the bytes first..last lie in a match of the Find pattern.
void mark_matches(uint64_t first, uint64_t last, std::vector<bool>& marked);

// ---------------------------------------------------------------- help.cpp

extern std::vector<std::string> help_text; // the help menu's lines, for -b or not
void prepare_help_text();
void help_menu();
void draw_help_frame(WINDOW* popup, int first_line, int row_limit);
void draw_help_lines(WINDOW* popup, int first_line, int row_limit);

// ---------------------------------------------------------------- inspect.cpp

// The inspector's lines inside its frame, title first, for the bytes at file
// offset `offset` of which `available` (at most 8 are read) lie in the file;
// a value that needs more bytes reads "n/a".
std::vector<std::string> inspect_lines(const unsigned char* bytes, size_t available,
                                       uint64_t offset);
void inspect_draw(WINDOW* popup, const std::vector<std::string>& lines); // frame, title, lines
void inspect_value(); // F6: the popup for the bytes at the cursor, closed by any key

// ---------------------------------------------------------------- calc.cpp

struct calc_base_line {
    const char* digit_set;
    char digit_text[65];
    int32_t label_row;
    int32_t label_col;
    uint32_t line_value;
};
extern calc_base_line* calc_lines[4]; // the calculator's lines: bases 2, 8, 10, 16
extern int calc_line;                 // the line being typed into, 1..4

void calculator();
void draw_calc_status();
void draw_calc_lines(calc_base_line* line2, calc_base_line* line8, calc_base_line* line10,
                     calc_base_line* line16, int active);
void calc_key(calc_base_line* line2, calc_base_line* line8, calc_base_line* line10,
              calc_base_line* line16, int key, int active);
void calc_move_line(int key, int* line);
void draw_calc_screen(); // the calculator screen, for redraw_all in mode 3

// ---------------------------------------------------------------- file.cpp

struct NameNode {
    std::string name;
    NameNode* p = nullptr;
};
NameNode* getDirectory(const char* path);
NameNode* msort(NameNode* list);
// Name nodes come from one pool: name_node takes one (memory that runs out
// ends the program), free_name_list gives a whole list back.
NameNode* name_node(std::string_view name, NameNode* next);
void free_name_list(NameNode* list);

// ---------------------------------------------------------------- browser.cpp

extern NameNode* browser_list;               // head of the list being browsed
extern NameNode* browser_selected;           // the highlighted entry
extern std::vector<NameNode*> browser_pages; // first node of every page
extern int browser_page;                     // the page shown
inline int browser_page_count() {            // pages of the listing
    return static_cast<int>(browser_pages.size());
}

std::string file_browser();
void build_pages();
void draw_listing(NameNode* first);
void highlight_name(NameNode* node, int row, int on);
void draw_browser_title(const std::string& name);
void draw_browser_keys(const char* text);
void browser_line_up();
void browser_line_down();
void browser_page_up();
void browser_page_down();
void browser_home();
void browser_end();
void browser_redraw();
void browser_resize_redraw(); // the mode-0 branch of handle_resize
std::string permission_string(unsigned mode);
int browser_rows(); // entries on a page: LINES-2, at least 1 on tiny terminals
// One row of the listing for the entry `name` of the working directory: the
// status part (57 blanks when it cannot be read), the name cut to cols-57,
// blanks; exactly `cols` bytes, each to be shown in one cell.
std::string listing_line(const std::string& name, int cols);
// Reads `cur_dir` into browser_list; when it cannot be listed, lists
// `prev_dir` instead and returns there (cur_dir becomes prev_dir).
void browser_list_directory(std::string& cur_dir, const std::string& prev_dir);
