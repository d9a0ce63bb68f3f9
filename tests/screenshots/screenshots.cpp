// Renders the README's screenshots: a few typical scenes played in the real
// program through the end-to-end harness, each screen read back cell by cell
// (characters, colours, bold, reverse) and written as an SVG.
//
//   screenshots OUTDIR        writes OUTDIR/<scene>.svg for every scene
//
// The same screen always gives the same bytes: every scene writes its own
// files with fixed contents, modes and times, runs at 24x80 with colour on
// and TZ=UTC, and the SVG holds no date, path or machine name. The file
// browser lists owners, groups and directory sizes, which differ from machine
// to machine; those fields are replaced by fixed values before rendering
// (normalise_listing), and nothing else is.
#include <sys/stat.h>
#include <sys/time.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "terminal.h"

namespace {

constexpr int LINES = 24;
constexpr int COLS = 80;

// The SVG grid: cell size in pixels, text baseline within a cell.
constexpr int CELL_W = 9;
constexpr int CELL_H = 18;
constexpr int BASELINE = 14;
constexpr int FONT_SIZE = 15;

// A terminal's default pair: light text on a dark background.
constexpr const char* DEFAULT_FG = "#d0d0d0";
constexpr const char* DEFAULT_BG = "#1c1c1c";

using Grid = std::vector<std::vector<Cell>>;

struct Shot {
    Grid cells;
    Pos cursor;
    bool cursor_visible;
};

// Colour `index` of xterm's 256-colour palette as #rrggbb.
std::string xterm_colour(int index) {
    static constexpr std::array<const char*, 16> BASIC = {
        "#000000", "#cd0000", "#00cd00", "#cdcd00", "#0000ee", "#cd00cd", "#00cdcd", "#e5e5e5",
        "#7f7f7f", "#ff0000", "#00ff00", "#ffff00", "#5c5cff", "#ff00ff", "#00ffff", "#ffffff"};
    if (index >= 0 && index < 16) return BASIC[static_cast<size_t>(index)];
    int r, g, b;
    if (index >= 16 && index < 232) {
        static constexpr int LEVEL[6] = {0, 95, 135, 175, 215, 255};
        int i = index - 16;
        r = LEVEL[i / 36];
        g = LEVEL[(i / 6) % 6];
        b = LEVEL[i % 6];
    } else {
        r = g = b = 8 + 10 * (index - 232);
    }
    char text[8];
    snprintf(text, sizeof text, "#%02x%02x%02x", r, g, b);
    return text;
}

// The colours a cell is painted with, after reverse video.
struct Paint {
    std::string fg, bg;
    bool bold;
    bool operator==(const Paint&) const = default;
};

Paint paint_of(const Cell& c) {
    std::string fg = c.fg >= 0 ? xterm_colour(c.fg) : DEFAULT_FG;
    std::string bg = c.bg >= 0 ? xterm_colour(c.bg) : DEFAULT_BG;
    if (c.reverse) std::swap(fg, bg);
    return {fg, bg, c.bold};
}

std::string xml_escape(const std::string& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

std::string render_svg(const Shot& shot) {
    const int width = COLS * CELL_W, height = LINES * CELL_H;
    std::ostringstream s;
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"" << DEFAULT_BG << "\"/>\n";
    // Backgrounds: one rectangle per run of cells with the same colour.
    for (int r = 0; r < LINES; ++r) {
        const auto& row = shot.cells[static_cast<size_t>(r)];
        for (int c = 0; c < COLS;) {
            std::string bg = paint_of(row[static_cast<size_t>(c)]).bg;
            int end = c + 1;
            while (end < COLS && paint_of(row[static_cast<size_t>(end)]).bg == bg)
                ++end;
            if (bg != DEFAULT_BG)
                s << "<rect x=\"" << c * CELL_W << "\" y=\"" << r * CELL_H << "\" width=\""
                  << (end - c) * CELL_W << "\" height=\"" << CELL_H << "\" fill=\"" << bg
                  << "\"/>\n";
            c = end;
        }
    }
    if (shot.cursor_visible)
        s << "<rect x=\"" << shot.cursor.col * CELL_W << "\" y=\""
          << shot.cursor.row * CELL_H + CELL_H - 2 << "\" width=\"" << CELL_W
          << "\" height=\"2\" fill=\"" << DEFAULT_FG << "\"/>\n";
    // Text: one tspan per run of cells with the same paint, blanks left out.
    s << "<g font-family=\"DejaVu Sans Mono, Menlo, Consolas, monospace\" font-size=\"" << FONT_SIZE
      << "\" xml:space=\"preserve\">\n";
    for (int r = 0; r < LINES; ++r) {
        const auto& row = shot.cells[static_cast<size_t>(r)];
        std::ostringstream spans;
        for (int c = 0; c < COLS;) {
            Paint p = paint_of(row[static_cast<size_t>(c)]);
            int end = c + 1;
            while (end < COLS && paint_of(row[static_cast<size_t>(end)]) == p)
                ++end;
            std::string text;
            for (int k = c; k < end; ++k)
                text += row[static_cast<size_t>(k)].text;
            if (text.find_first_not_of(' ') != std::string::npos) {
                // The run keeps its width whatever the font's advance.
                spans << "<tspan x=\"" << c * CELL_W << "\" textLength=\"" << (end - c) * CELL_W
                      << "\" fill=\"" << p.fg << "\"";
                if (p.bold) spans << " font-weight=\"bold\"";
                spans << ">" << xml_escape(text) << "</tspan>";
            }
            c = end;
        }
        if (!spans.str().empty())
            s << "<text y=\"" << r * CELL_H + BASELINE << "\">" << spans.str() << "</text>\n";
    }
    s << "</g>\n</svg>\n";
    return s.str();
}

Shot capture(Terminal& t) {
    t.settle();
    Shot shot{Grid(LINES, std::vector<Cell>(COLS)), t.cursor(), t.cursor_visible()};
    for (int r = 0; r < LINES; ++r)
        for (int c = 0; c < COLS; ++c)
            shot.cells[static_cast<size_t>(r)][static_cast<size_t>(c)] = t.cell(r, c);
    return shot;
}

// Scenes report a screen that never came as an exception: nothing is written.
void require(const ::testing::AssertionResult& r) {
    if (!r) throw std::runtime_error(r.message());
}

// Fixed modes and times for everything a listing shows.
void pin(const std::string& path, mode_t mode) {
    if (chmod(path.c_str(), mode) != 0) throw std::runtime_error("chmod " + path);
    struct timeval times[2] = {{1717243200, 0}, {1717243200, 0}}; // 2024-06-01 12:00 UTC
    if (utimes(path.c_str(), times) != 0) throw std::runtime_error("utimes " + path);
}

int count_on_screen(Terminal& t, const std::string& text) {
    int n = 0;
    for (const std::string& row : t.screen())
        for (size_t at = row.find(text); at != std::string::npos; at = row.find(text, at + 1))
            ++n;
    return n;
}

const Terminal::Env ENV = {{"TZ", "UTC"}};

// 256 bytes: a line of text, then every byte value from 0x00 upwards.
std::string sample_bytes() {
    std::string bytes = "Morvane shows every byte in hex and as text. ";
    bytes += "A needle in this haystack. ";
    for (int i = 0; bytes.size() < 400; ++i)
        bytes += static_cast<char>(i & 0xFF);
    return bytes;
}

Shot scene_hex() {
    Terminal t(LINES, COLS);
    t.write_file("sample.bin", sample_bytes());
    t.start({"sample.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 6F 72 76"));
    t.send(keys::down + keys::right + keys::right + keys::right + keys::right + "2A");
    require(t.expect_text(2, 16, "2A", Pos{2, 19}));
    return capture(t);
}

Shot scene_search() {
    Terminal t(LINES, COLS);
    t.write_file("sample.bin", sample_bytes());
    t.start({"sample.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 6F 72 76"));
    // Found once, then the dialog again for the next one, over the match.
    t.send(ctrl('w'));
    require(t.expect_text(LINES - 1, 0, "^G/^X/Escape Cancel"));
    t.send("a");
    require(
        t.expect([&] { return count_on_screen(t, "Text String") == 1; }, "the text string dialog"));
    t.send("needle" + keys::enter);
    require(t.expect([&] { return t.row(0).find("0x0000002F") != std::string::npos; },
                     "the cursor on the match"));
    t.send(ctrl('w'));
    require(t.expect_text(LINES - 1, 0, "^G/^X/Escape Cancel"));
    t.send("a");
    require(
        t.expect([&] { return count_on_screen(t, "Text String") == 1; }, "the text string dialog"));
    t.send("needle");
    require(t.expect_text(13, 15, "needle ", Pos{13, 21}));
    return capture(t);
}

Shot scene_text_view() {
    Terminal t(LINES, COLS);
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "Line " + std::to_string(i) + ": the text view shows a file as lines of text.\n";
    t.write_file("notes.txt", text);
    t.start({"notes.txt"}, ENV);
    require(t.expect_text(1, 0, "00000000  4C 69 6E 65"));
    t.send(ctrl('e'));
    require(t.expect_seen({{{0, 40}, "Offset: 0x00000000"},
                           {{1, 0}, "Line 1: the text view"},
                           {{21, 0}, "Line 21: the text view"}},
                          Pos{1, 0}));
    return capture(t);
}

Shot scene_inspector() {
    Terminal t(LINES, COLS);
    t.write_file("sample.bin", sample_bytes());
    t.start({"sample.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 6F 72 76"));
    t.send(keys::down + keys::right + keys::right + keys::f6);
    require(t.expect([&] { return count_on_screen(t, "Value inspector") == 1; },
                     "the value inspector"));
    require(t.expect_seen({{{LINES - 1, 0}, "Any key Close"}, {{20, 11}, "float64"}}, Pos{20, 68}));
    return capture(t);
}

Shot scene_calculator() {
    Terminal t(LINES, COLS);
    t.write_file("sample.bin", sample_bytes());
    t.start({"sample.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 6F 72 76"));
    t.send("\x1f");
    require(t.expect_text(2, COLS / 2 - 8, "Binary Calculator"));
    t.send("48879");
    require(
        t.expect([&] { return t.row(10).find("BEEF") != std::string::npos; }, "48879 in base 16"));
    require(t.expect_text(10, 70, "BEEF", Pos{10, 78}));
    return capture(t);
}

// The browser's long listing shows the owner and group (whoever runs this)
// and the sizes of directories (the file system's). Each listed row gets its
// status columns rebuilt from the entry's own mode, size and time with a fixed
// owner, group and directory size; the name, drawn by the editor at its
// column, stays as read. An owner or group longer than its field pushes the
// editor's own status part (and the listing's copy of the name) to the right,
// so the name is looked for at the name column first.
constexpr size_t NAME_COL = 57;

void normalise_listing(Shot& shot, const std::string& dir, const std::vector<std::string>& names) {
    for (int r = 1; r < LINES - 1; ++r) {
        auto& row = shot.cells[static_cast<size_t>(r)];
        std::string text;
        for (const Cell& c : row)
            text += c.text.size() == 1 ? c.text : "?";
        text += ' ';
        // The name at the name column, else (rows the editor did not redraw
        // there) wherever the listing put it.
        std::string name;
        size_t from = std::string::npos;
        for (const std::string& n : names)
            if (text.compare(NAME_COL, n.size(), n) == 0 && n.size() > name.size()) {
                name = n;
                from = NAME_COL;
            }
        if (name.empty())
            for (const std::string& n : names)
                if (size_t at = text.find(" " + n + " ", NAME_COL - 1);
                    at != std::string::npos && n.size() > name.size()) {
                    name = n;
                    from = at + 1;
                }
        if (name.empty()) continue;
        std::vector<Cell> name_cells(row.begin() + static_cast<long>(from),
                                     row.begin() + static_cast<long>(from + name.size()));
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
        struct tm when {};
        time_t mtime = st.st_mtime;
        gmtime_r(&mtime, &when);
        long long size = S_ISDIR(st.st_mode) ? 4096 : static_cast<long long>(st.st_size);
        char status[128];
        snprintf(status, sizeof status, "%s %-8s %-8s %10lld %d-%02d-%02d %02d:%02d ",
                 S_ISDIR(st.st_mode) ? "drwxr-xr-x" : "-rw-r--r--", "user", "user", size,
                 when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min);
        if (strlen(status) != NAME_COL) continue;
        Cell blank = row[0];
        blank.text = " ";
        for (size_t c = 0; c < NAME_COL; ++c) {
            row[c] = blank;
            row[c].text = std::string(1, status[c]);
        }
        for (size_t c = NAME_COL; c < row.size(); ++c)
            row[c] = c - NAME_COL < name.size() ? name_cells[c - NAME_COL] : blank;
    }
}

Shot scene_browser() {
    Terminal t(LINES, COLS);
    t.make_dir("images");
    t.write_file("disk.img", std::string(4096, '\0'));
    t.write_file("firmware.bin", sample_bytes());
    t.write_file("notes.txt", "Notes\n");
    t.write_file("patch.diff", std::string(1234, 'x'));
    for (const char* f : {"disk.img", "firmware.bin", "notes.txt", "patch.diff"})
        pin(t.path(f), 0644);
    pin(t.path("images"), 0755);
    pin(t.dir(), 0755);
    pin(t.dir() + "/..", 0755);
    t.start({}, ENV);
    require(t.expect_text(LINES - 1, 0, "^C ^X  Exit"));
    t.send(keys::down + keys::down + keys::down);
    require(
        t.expect_seen({{{0, 0}, "File: firmware.bin "}, {{4, 57}, "firmware.bin"}}, Pos{4, 57}));
    // The highlight moves in writes of its own: the new one on, the old one off.
    require(t.expect([&] { return t.cell(4, 57).bold && !t.cell(3, 57).bold; },
                     "the highlight on firmware.bin alone"));
    Shot shot = capture(t);
    normalise_listing(shot, t.dir(),
                      {".", "..", "disk.img", "firmware.bin", "images", "notes.txt", "patch.diff"});
    return shot;
}

Shot scene_help() {
    Terminal t(LINES, COLS);
    t.write_file("sample.bin", sample_bytes());
    t.start({"sample.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 6F 72 76"));
    t.send(ctrl('g'));
    require(t.expect_seen(
        {{{1, 34}, "Help Menu"}, {{21, 3}, "Binary Calculator"}, {{22, 73}, "(more)"}},
        Pos{21, 53}));
    return capture(t);
}

// Two builds of a small image: the version, the date and a byte of the
// table differ, and the second build is four bytes longer.
std::string first_build() {
    std::string bytes = "MVFW firmware 1.2.0, built 2024-06-01. ";
    for (int i = 0; bytes.size() < 120; ++i)
        bytes += static_cast<char>((i * 29 + 7) & 0xFF);
    return bytes;
}

std::string second_build() {
    std::string bytes = first_build();
    bytes[16] = '3';
    bytes.replace(35, 2, "15");
    bytes[0x5A] = static_cast<char>(0xFF);
    return bytes + std::string("\x5A\xA5\x01\x00", 4);
}

Shot scene_compare() {
    Terminal t(LINES, COLS);
    t.write_file("v1.bin", first_build());
    t.write_file("v2.bin", second_build());
    t.start({"--compare", "v2.bin", "v1.bin"}, ENV);
    require(t.expect_text(1, 0, "00000000  4D 56 46 57"));
    // The cursor on the first difference, in both halves.
    t.send(keys::f8);
    require(t.expect_seen({{{0, 34}, "ASCII Offset: 0x00000010"},
                           {{11, 34}, "ASCII Offset: 0x00000010"},
                           {{LINES - 1, 0}, "M-N/F8 Next Difference"}},
                          Pos{2, 10}));
    return capture(t);
}

struct Scene {
    const char* name;
    std::function<Shot()> play;
};

const std::vector<Scene> SCENES = {
    {"hex-view", scene_hex},          {"search", scene_search},   {"text-view", scene_text_view},
    {"calculator", scene_calculator}, {"browser", scene_browser}, {"help", scene_help},
    {"inspector", scene_inspector},   {"compare", scene_compare},
};

void dump_text(const Shot& shot) {
    for (const auto& row : shot.cells) {
        std::string line;
        for (const Cell& c : row)
            line += c.text;
        std::cerr << "|" << line << "|\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: screenshots OUTDIR\n";
        return 2;
    }
    const std::string out_dir = argv[1];
    bool verbose = getenv("SCREENSHOTS_VERBOSE") != nullptr;
    for (const Scene& scene : SCENES) {
        Shot shot;
        try {
            shot = scene.play();
        } catch (const std::exception& e) {
            std::cerr << "screenshots: scene " << scene.name << ": " << e.what() << "\n";
            return 1;
        }
        // The harness reports sanitizer findings and stalls as failures.
        if (::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed()) {
            std::cerr << "screenshots: scene " << scene.name << " failed\n";
            return 1;
        }
        if (verbose) dump_text(shot);
        std::string path = out_dir + "/" + scene.name + ".svg";
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << render_svg(shot);
        if (!f) {
            std::cerr << "screenshots: cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}
