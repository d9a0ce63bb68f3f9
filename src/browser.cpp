// browser.cpp: the file browser. Lists the working directory a page at a
// time in long format, moves a highlight over the entries, enters
// directories and returns the name of the first other entry chosen.
//
// Redraw contract: every routine that moves the highlight leaves the
// selected entry on page `browser_page` at screen row `cursor_y`, stages the
// title for it and main_win's cursor at the start of its name (update_screen
// flushes, main_win last), so that after a resize the screen can be rebuilt
// from this state alone.
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <new>
#include <optional>

#include "morvane.h"

NameNode* browser_list = nullptr;
NameNode* browser_selected = nullptr;
std::vector<NameNode*> browser_pages;
int browser_page = 0;

namespace {

constexpr int NAME_COL = 57; // where names start, whatever the status part's width
constexpr const char* KEYS_LISTING = "^C ^X  Exit   ^M  Select File   k  Up   j  Down";
constexpr const char* KEYS_REDRAW = "^C ^X  Exit   ^M  Select File";
constexpr const char* KEYS_RESIZE = "^C ^X  Exit Program   ^M  Select File";

// With fewer than 3 lines there is no listing row: keys still work on the
// state, but nothing is drawn into the editing area.
bool can_draw() {
    return LINES >= 3 && Globals.main_win;
}

NameNode* page_first(int page) {
    if (page < 0 || page >= static_cast<int>(browser_pages.size())) return nullptr;
    return browser_pages[static_cast<size_t>(page)];
}

// The entry on `row` (from 0) of `page`, or the page's last entry when the
// page is shorter.
NameNode* node_at(int page, int row) {
    NameNode* n = page_first(page);
    if (!n) return nullptr;
    NameNode* next_page = page_first(page + 1);
    for (int i = 0; i < row && n->p && n->p != next_page; ++i)
        n = n->p;
    return n;
}

int row_on_page(int page, const NameNode* target) {
    int row = 0;
    for (NameNode* n = page_first(page); n && n != target; n = n->p)
        ++row;
    return row;
}

NameNode* last_node() {
    NameNode* n = browser_list;
    while (n && n->p)
        n = n->p;
    return n;
}

// Title for the selected entry, refresh, terminal cursor at its name.
void finish_move() {
    if (browser_selected) draw_browser_title(browser_selected->name);
    if (Globals.status_win) wnoutrefresh(Globals.status_win);
    if (can_draw()) {
        wmove(Globals.main_win, cursor_y - 1, std::min(NAME_COL, std::max(0, COLS - 1)));
        wnoutrefresh(Globals.main_win);
    }
}

void show_page() {
    if (can_draw()) werase(Globals.main_win);
    draw_listing(page_first(browser_page));
    highlight_name(browser_selected, cursor_y - 1, 1);
}

void move_highlight(NameNode* to, int new_cursor_y) {
    highlight_name(browser_selected, cursor_y - 1, 0);
    browser_selected = to;
    cursor_y = new_cursor_y;
    highlight_name(browser_selected, cursor_y - 1, 1);
}

void refresh_all_windows() {
    for (WINDOW* w : {Globals.status_win, Globals.help_win})
        if (w) wnoutrefresh(w);
    finish_move();
}

void browser_toggle_colour() {
    // Colour forced off stays off; a terminal without colours never gets it.
    if (!color_forced_off && has_colors()) color = color ? 0 : 1;
    browser_redraw();
}

struct BrowserKey {
    int key;
    void (*action)();
};
constexpr BrowserKey BROWSER_KEYS[] = {
    {'k', browser_line_up},
    {KEY_UP, browser_line_up},
    {'j', browser_line_down},
    {KEY_DOWN, browser_line_down},
    {ctrl('B'), browser_page_up},
    {ctrl('Y'), browser_page_up},
    {'-', browser_page_up},
    {KEY_PPAGE, browser_page_up},
    {KEY_A3, browser_page_up},
    {ctrl('F'), browser_page_down},
    {ctrl('V'), browser_page_down},
    {' ', browser_page_down},
    {KEY_NPAGE, browser_page_down},
    {KEY_C3, browser_page_down},
    {KEY_HOME, browser_home},
    {KEY_END, browser_end},
    {KEY_FIND, browser_home}, // a VT220's Find and Select
    {KEY_SELECT, browser_end},
    {KEY_CONTROL_L, browser_redraw},
    {KEY_F(5), browser_toggle_colour},
};

// Raw sequences for terminals whose keys curses does not decode: those that
// name a key of the table act as it.
void escape_sequence() {
    int key = read_escape_sequence();
    if (key == KEY_ALT_V) return; // Alt-v pages only in the editor
    for (const BrowserKey& k : BROWSER_KEYS)
        if (k.key == key) {
            k.action();
            return;
        }
}

// The working directory, however long its path.
std::string current_directory() {
    std::vector<char> buf(1024);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return std::string(buf.data());
        if (errno != ERANGE) fatal_error(nullptr, "getcwd");
        checked_alloc([&] { buf.resize(buf.size() * 2); });
    }
}

void release_listing() {
    free_name_list(browser_list);
    browser_list = nullptr;
    browser_selected = nullptr;
    browser_pages.clear();
    browser_page = 0;
}

void draw_new_listing() {
    for (WINDOW* w : {Globals.status_win, Globals.main_win, Globals.help_win})
        if (w) werase(w);
    draw_listing(page_first(0));
    highlight_name(browser_selected, 0, 1);
    draw_browser_keys(KEYS_LISTING);
    if (Globals.main_win) wnoutrefresh(Globals.main_win);
    refresh_all_windows();
}

void change_dir_error(int err) {
    DialogScope dialog({.width = 50, .height = 6, .interrupts = DialogInterrupts::Kept});
    WINDOW* popup = dialog.win();
    if (popup) {
        werase(popup);
        popup_border(popup);
        popup_text(popup, 1, 14, "Cannot Change Direcotry");
        std::string reason = std::string("Reason: ") + strerror(err);
        popup_text(popup, 3, std::max(1, 25 - static_cast<int>(reason.size()) / 2), reason);
    }
    int key;
    do {
        key = read_key();
    } while (key == ERR || key == KEY_RESIZE);
}

// Enter on the selected entry: its name when it is not a directory, nothing
// when a directory was entered (or could not be, after the error popup).
std::optional<std::string> select_entry(const std::string& cur_dir) {
    const std::string& name = browser_selected->name;
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return checked_alloc([&] { return std::string(name); });
    }

    DIR* dir = opendir(name.c_str());
    int err = dir ? 0 : errno;
    if (dir) closedir(dir);
    int changed = chdir(name.c_str());
    if (changed != 0 && err == 0) err = errno;
    if (dir && changed == 0) return std::nullopt;

    change_dir_error(err);
    if (chdir(cur_dir.c_str()) != 0)
        fatal_error("Cannot change back to previous directory", cur_dir.c_str());
    return std::nullopt;
}

// Keys until Enter; see select_entry for the result.
std::optional<std::string> browse_keys(const std::string& cur_dir) {
    for (;;) {
        int key = read_key();
        if (key == KEY_LINE_FEED || key == KEY_ENTER) return select_entry(cur_dir);
        if (key == KEY_CONTROL_C || key == KEY_CONTROL_X) browser_interrupt();
        if (key == KEY_ESC) {
            escape_sequence();
            continue;
        }
        for (const BrowserKey& k : BROWSER_KEYS)
            if (k.key == key) {
                k.action();
                break;
            }
    }
}

std::string user_name(uid_t uid) {
    if (struct passwd* pw = getpwuid(uid)) return pw->pw_name;
    return std::to_string(uid);
}

std::string group_name(gid_t gid) {
    if (struct group* gr = getgrgid(gid)) return gr->gr_name;
    return std::to_string(gid);
}

std::string listing_status(const std::string& name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return std::string(NAME_COL, ' ');
    std::string owner = user_name(st.st_uid).substr(0, 10);
    std::string group = group_name(st.st_gid).substr(0, 10);
    struct tm when {};
    time_t mtime = st.st_mtime;
    localtime_r(&mtime, &when);
    char text[128];
    (void)snprintf(text, sizeof text, "%s %-8s %-8s %10" PRId64 " %d-%02d-%02d %02d:%02d ",
                   permission_string(st.st_mode).c_str(), owner.c_str(), group.c_str(),
                   static_cast<int64_t>(st.st_size), when.tm_year + 1900, when.tm_mon + 1,
                   when.tm_mday, when.tm_hour, when.tm_min);
    return text;
}

} // namespace

int browser_rows() {
    return main_rows();
}

std::string permission_string(unsigned mode) {
    static constexpr const char* RWX[8] = {"---", "--x", "-w-", "-wx", "r--", "r-x", "rw-", "rwx"};
    char type = '-';
    if (S_ISDIR(mode))
        type = 'd';
    else if (S_ISCHR(mode))
        type = 'c';
    else if (S_ISBLK(mode))
        type = 'b';
    else if (S_ISFIFO(mode))
        type = 'p';
    else if (S_ISSOCK(mode))
        type = 's';
    else if (S_ISLNK(mode))
        type = 'l';
    std::string s(1, type);
    s += RWX[(mode >> 6) & 7];
    s += RWX[(mode >> 3) & 7];
    s += RWX[mode & 7];
    if (mode & S_ISUID) s[3] = (mode & S_IXUSR) ? 's' : 'S';
    if (mode & S_ISGID) s[6] = (mode & S_IXGRP) ? 's' : 'S';
    if (mode & S_ISVTX) s[9] = (mode & S_IXOTH) ? 't' : 'T';
    return s;
}

std::string listing_line(const std::string& name, int cols) {
    if (cols <= 0) return {};
    // Columns, not bytes: a character of the name may take several bytes.
    return fit_columns(listing_status(name) + cut_columns(name, cols - NAME_COL), cols);
}

// Lists `cur_dir`; when that fails (a directory entered but unreadable after
// all), lists `prev_dir` and goes back there, so listing and working
// directory agree.
void browser_list_directory(std::string& cur_dir, const std::string& prev_dir) {
    browser_list = getDirectory(cur_dir.c_str());
    if (browser_list) return;
    int first_error = errno;
    browser_list = getDirectory(prev_dir.c_str());
    if (!browser_list) {
        errno = first_error;
        fatal_error(nullptr, prev_dir.c_str());
    }
    if (cur_dir == prev_dir) return;
    cur_dir = prev_dir;
    if (chdir(cur_dir.c_str()) != 0)
        fatal_error("Cannot change back to previous directory", cur_dir.c_str());
}

void build_pages() {
    checked_alloc([] {
        browser_pages.clear();
        int rows = browser_rows();
        int i = 0;
        for (NameNode* n = browser_list; n; n = n->p, ++i)
            if (i % rows == 0) browser_pages.push_back(n);
    });
}

void draw_listing(NameNode* first) {
    if (!can_draw()) return;
    WINDOW* w = Globals.main_win;
    int rows = std::min(LINES - 2, getmaxy(w));
    int cols = getmaxx(w);
    wattrset(w, attr_normal());
    for (int row = 0; row < rows; ++row) {
        if (first) {
            mvput_safe(w, row, 0, listing_line(first->name, cols));
            first = first->p;
        } else {
            mvput_safe(w, row, 0, std::string(static_cast<size_t>(cols), ' '));
        }
    }
}

void highlight_name(NameNode* node, int row, int on) {
    if (!can_draw() || !node) return;
    WINDOW* w = Globals.main_win;
    if (row < 0 || row >= getmaxy(w) || getmaxx(w) <= NAME_COL) return;
    wattrset(w, on ? attr_modified() : attr_normal());
    mvput_safe(w, row, NAME_COL, node->name, getmaxx(w) - NAME_COL);
    wattrset(w, attr_normal());
}

void draw_browser_title(const std::string& name) {
    WINDOW* w = Globals.status_win;
    if (!w) return;
    std::string line = fit_columns("File: " + name, getmaxx(w));
    wattrset(w, attr_status());
    mvput_safe(w, 0, 0, line);
}

void draw_browser_keys(const char* text) {
    WINDOW* w = Globals.help_win;
    if (!w) return;
    wattrset(w, attr_help());
    mvwaddnstr(w, 0, 0, text, getmaxx(w));
}

void browser_line_up() {
    if (cursor_y > 1) {
        move_highlight(node_at(browser_page, cursor_y - 2), cursor_y - 1);
    } else if (browser_page > 0) {
        --browser_page;
        cursor_y = browser_rows();
        browser_selected = node_at(browser_page, cursor_y - 1);
        show_page();
    }
    finish_move();
}

void browser_line_down() {
    if (cursor_y < browser_rows()) {
        if (browser_selected && browser_selected->p &&
            browser_selected->p != page_first(browser_page + 1))
            move_highlight(browser_selected->p, cursor_y + 1);
    } else if (browser_page + 1 < browser_page_count()) {
        ++browser_page;
        cursor_y = 1;
        browser_selected = page_first(browser_page);
        show_page();
    }
    finish_move();
}

void browser_page_down() {
    if (browser_page + 1 < browser_page_count()) {
        ++browser_page;
        browser_selected = node_at(browser_page, cursor_y - 1);
        cursor_y = row_on_page(browser_page, browser_selected) + 1;
        show_page();
    } else {
        NameNode* last = last_node();
        move_highlight(last, row_on_page(browser_page, last) + 1);
    }
    finish_move();
}

void browser_page_up() {
    if (browser_page > 0) {
        --browser_page;
        browser_selected = node_at(browser_page, cursor_y - 1);
        show_page();
    } else {
        move_highlight(page_first(0), 1);
    }
    finish_move();
}

void browser_home() {
    if (browser_page != 0) {
        browser_page = 0;
        browser_selected = page_first(0);
        cursor_y = 1;
        show_page();
    } else {
        move_highlight(page_first(0), 1);
    }
    finish_move();
}

void browser_end() {
    int last_page = browser_page_count() - 1;
    NameNode* last = last_node();
    if (last_page < 0 || !last) return;
    int row = row_on_page(last_page, last);
    if (browser_page != last_page) {
        browser_page = last_page;
        browser_selected = last;
        cursor_y = row + 1;
        show_page();
    } else {
        move_highlight(last, row + 1);
    }
    finish_move();
}

// Control-L: the terminal is painted anew from the windows, whatever it shows.
void browser_redraw() {
    for (WINDOW* w : {Globals.status_win, Globals.main_win, Globals.help_win})
        if (w) werase(w);
    clearok(curscr, TRUE);
    draw_listing(page_first(browser_page));
    highlight_name(browser_selected, cursor_y - 1, 1);
    draw_browser_keys(KEYS_REDRAW);
    if (Globals.main_win) wnoutrefresh(Globals.main_win);
    refresh_all_windows();
}

void browser_resize_redraw() {
    if (!browser_list) return; // between listings: the next pass draws
    build_pages();
    int index = 0;
    NameNode* n = browser_list;
    while (n && n != browser_selected) {
        n = n->p;
        ++index;
    }
    if (!n) { // not in the list: fall back to its first entry
        browser_selected = browser_list;
        index = 0;
    }
    browser_page = index / browser_rows();
    cursor_y = index % browser_rows() + 1;

    draw_listing(page_first(browser_page));
    if (can_draw() && getmaxx(Globals.main_win) > NAME_COL) {
        wattrset(Globals.main_win, A_BOLD);
        mvput_safe(Globals.main_win, cursor_y - 1, NAME_COL, browser_selected->name,
                   getmaxx(Globals.main_win) - NAME_COL);
        wattrset(Globals.main_win, attr_normal());
    }
    draw_browser_keys(KEYS_RESIZE);
    if (Globals.main_win) wnoutrefresh(Globals.main_win);
    refresh_all_windows();
}

std::string file_browser() {
    // A dialog New File was chosen over waits under the browser's screen.
    const size_t covered = dialogs_cover();
    SavedInterrupt saved = ignore_interrupt();
    install_interrupt(Interrupt::BrowserExit);
    Globals.mode = MODE_BROWSER;

    std::string prev_dir = current_directory();
    std::string cur_dir;
    bool first_pass = true;
    for (;;) {
        if (!first_pass) prev_dir = cur_dir;
        first_pass = false;
        cur_dir = current_directory();
        browser_list_directory(cur_dir, prev_dir);

        build_pages();
        browser_page = 0;
        browser_selected = browser_list;
        cursor_y = 1;
        draw_new_listing();

        std::optional<std::string> chosen = browse_keys(cur_dir);
        release_listing();
        if (chosen) {
            restore_interrupt(saved);
            dialogs_uncover(covered);
            return std::move(*chosen);
        }
    }
}
