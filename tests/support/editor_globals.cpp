#include "editor_globals.h"

#include <unistd.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string_view>

#include "morvane.h"

namespace {

std::string hex_of(const void* p) {
    std::ostringstream s;
    s << p;
    return s.str();
}

template <class T> std::string text_of(const T& v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

template <class Range> std::string bytes_of(const Range& r) {
    std::string_view bytes(reinterpret_cast<const char*>(r.data()), r.size() * sizeof(r[0]));
    return text_of(r.size()) + ":" + text_of(std::hash<std::string_view>{}(bytes));
}

// Every field but the windows, which belong to whichever screen is current.
// The binding names each field: a field added to EditorGlobals stops the
// build here until it is given a fingerprint too.
std::string editor_globals_fingerprint() {
    const auto& [main_win, status_win, help_win, filesize, fp, filename, mode, file_state,
                 text_pane, ebcdic, spacing, print_set, buf_size, buffered, disk, buf_front,
                 buf_end, beep_on, help_lines] = Globals;
    (void)main_win, (void)status_win, (void)help_win;
    std::ostringstream s;
    s << filesize << ' ' << static_cast<const void*>(fp) << ' ' << filename << ' ' << mode << ' '
      << file_state << ' ' << text_pane << ' ' << ebcdic << ' ' << spacing << ' ' << print_set
      << ' ' << buf_size << ' ' << buffered << ' ' << disk << ' ' << buf_front << ' ' << buf_end
      << ' ' << beep_on << ' ' << help_lines;
    return s.str();
}

// The entries, not the allocation: an empty table and none read alike.
std::string mod_table_fingerprint() {
    std::ostringstream s;
    s << mod_table_entries;
    if (!mod_table) return s.str();
    for (int b = 0; b < MOD_TABLE_BUCKETS; ++b)
        for (const mod_entry* e = mod_table[b]; e; e = e->next)
            s << ' ' << e->offset << '=' << int{e->value};
    return s.str();
}

std::string undo_fingerprint() {
    std::ostringstream s;
    s << UndoStack.size;
    for (const undo_record* r = UndoStack.top; r; r = r->prev)
        s << ' ' << r->kind << '@' << r->offset << ':' << int{r->old_byte} << '>'
          << int{r->new_byte} << (r->saved ? "s" : "");
    return s.str();
}

std::string calc_fingerprint() {
    std::string s;
    for (const calc_base_line* line : calc_lines)
        s += hex_of(line) + (line ? std::string(line->digit_text) : "") + " ";
    return s;
}

std::string help_fingerprint() {
    std::string s;
    for (const std::string& line : help_text)
        s += line + "\n";
    return s;
}

} // namespace

const std::vector<EditorGlobal>& editor_globals() {
    static const std::vector<EditorGlobal> all = {
        {"Globals", editor_globals_fingerprint},
        {"cursor_x", [] { return text_of(cursor_x); }},
        {"cursor_y", [] { return text_of(cursor_y); }},
        {"cursor_loc", [] { return text_of(cursor_loc); }},
        {"color", [] { return text_of(color); }},
        {"color_forced_off", [] { return text_of(color_forced_off); }},
        {"buffer", [] { return bytes_of(buffer); }},
        {"buf_spare", [] { return text_of(buf_spare); }},
        {"text_row_starts", [] { return bytes_of(text_row_starts); }},
        {"current_popup", [] { return hex_of(current_popup); }},
        {"output_charset", [] { return text_of(static_cast<int>(output_charset)); }},
        {"interrupt_kind", [] { return text_of(static_cast<int>(interrupt_kind)); }},
        {"key_input_fd", [] { return text_of(key_input_fd); }},
        {"quit_dialog_open", [] { return text_of(quit_dialog_open); }},
        {"new_file_wanted", [] { return text_of(new_file_wanted); }},
        {"redraw_needed",
         {},
         "what the next frame draws: every command sets it, and each new screen starts with "
         "everything recorded"},
        {"mod_table", mod_table_fingerprint},
        {"mod_table_entries", [] { return text_of(mod_table_entries); }},
        {"range_pieces",
         [] {
             std::ostringstream s;
             for (const auto& [first, piece] : range_pieces)
                 s << first << '-' << piece.last << ' ';
             return s.str();
         }},
        {"find_last",
         [] {
             return find_last ? bytes_of(find_last->value) + "/" + bytes_of(find_last->mask)
                              : std::string("none");
         }},
        {"bar_note", [] { return bar_note; }},
        {"clipboard", [] { return clipboard ? bytes_of(*clipboard) : std::string("none"); }},
        {"compare_file",
         [] {
             return text_of(compare_file.fd) + " " + compare_file.name + " " +
                    text_of(compare_file.length) + " " + text_of(compare_file.shift);
         }},
        {"compare_block", [] { return text_of(compare_block); }},
        {"load_pread", [] { return text_of(load_pread == ::pread); }},
        {"select_mark", [] { return select_mark ? text_of(*select_mark) : std::string("none"); }},
        {"buffer_gap_close_limit", [] { return text_of(buffer_gap_close_limit); }},
        {"fp_reads_other_file", [] { return text_of(fp_reads_other_file); }},
        {"file_on_disk",
         [] {
             const DiskFile& d = file_on_disk;
             return text_of(d.known) + text_of(d.link) + text_of(d.regular) + " " + text_of(d.dev) +
                    " " + text_of(d.ino) + " " + text_of(d.rdev) + " " + text_of(d.size) + " " +
                    text_of(d.mtime_sec) + "." + text_of(d.mtime_nsec);
         }},
        {"UndoStack", undo_fingerprint},
        {"ebcdic_display", {}, "const: no test can change it"},
        {"ascii_to_ebcdic", {}, "const: no test can change it"},
        {"text_scan_block", [] { return text_of(text_scan_block); }},
        {"jump_distance", [] { return text_of(jump_distance); }},
        {"jump_key", [] { return text_of(jump_key); }},
        {"last_pattern",
         [] { return last_pattern ? bytes_of(*last_pattern) : std::string("none"); }},
        {"search_used", [] { return text_of(search_used); }},
        {"hex_input", [] { return text_of(hex_input.len) + " " + bytes_of(hex_input.bytes); }},
        {"help_text", help_fingerprint},
        {"calc_lines", calc_fingerprint},
        {"calc_line", [] { return text_of(calc_line); }},
        {"browser_list", [] { return hex_of(browser_list); }},
        {"browser_selected", [] { return hex_of(browser_selected); }},
        {"browser_pages", [] { return bytes_of(browser_pages); }},
        {"browser_page", [] { return text_of(browser_page); }},
    };
    return all;
}

GlobalsSnapshot snapshot_globals() {
    GlobalsSnapshot s;
    for (const EditorGlobal& g : editor_globals())
        if (g.fingerprint) s.push_back(g.fingerprint());
    return s;
}

std::vector<std::string> globals_changed_since(const GlobalsSnapshot& before) {
    std::vector<std::string> changed;
    size_t i = 0;
    for (const EditorGlobal& g : editor_globals()) {
        if (!g.fingerprint) continue;
        if (i >= before.size() || g.fingerprint() != before[i]) changed.push_back(g.name);
        ++i;
    }
    return changed;
}

std::vector<std::string> extern_variables_in(const std::string& header) {
    // A declaration runs from `extern` at the start of a line to its `;`.
    static const std::regex declaration(R"((?:^|\n)[ \t]*extern\s+([^;]*);)");
    static const std::regex pointer_to_function(R"(\(\s*\*\s*(\w+)\s*\)\s*\()");
    static const std::regex last_name(R"((\w+)\s*(?:\[[^\]]*\]\s*)*$)");
    std::vector<std::string> names;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it) {
        const std::string body = (*it)[1];
        if (body.rfind("\"C", 0) == 0) continue; // a linkage block, not a variable
        std::smatch m;
        if (std::regex_search(body, m, pointer_to_function))
            names.push_back(m[1]);
        else if (body.back() != ')' && std::regex_search(body, m, last_name))
            names.push_back(m[1]);
    }
    return names;
}
