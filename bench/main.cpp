// Runs every benchmark, then prints one table: each figure's median beside
// its reference from the same run, the ratio, the goal and whether it is met.
// These machines are noisy: ratios are compared, not absolute times.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

// A figure against its reference. `max_ratio` is the goal (0: none);
// `max_excess`, when set, makes the goal "at most the reference plus this"
// instead (for memory against the file's size); `or_at_most`, when set, is
// met by a figure of at most this much whatever the ratio (work done at
// once, where the reference takes long; memory with an absolute bound).
struct TableRow {
    const char* figure;
    const char* reference;
    double max_ratio;
    const char* goal;
    const char* figure_counter = "median_s";
    const char* reference_counter = "median_s";
    double max_excess = 0;
    double or_at_most = 0;
};

constexpr double grep_speed_share = 0.7; // search at least this share of grep's speed

const TableRow table_rows[] = {
    {"OpenFirstScreenAndQuit_16GiB_sparse", "OpenFirstScreenAndQuit_1KiB", 1.5, "<= 1.5"},
    {"OpenFirstScreenAndQuit_1KiB", "Reference_CatInPty_1KiB", 0, "-"},
    {"PageDown_1GiB_paged", "Reference_PaintFullScreen", 0, "-"},
    {"DownOnBottomRow_1GiB_paged", "Reference_PaintFullScreen", 0, "-"},
    {"TextViewAtStart_1GiB_one_line", "Reference_PaintFullScreen", 1.5, "<= 1.5"},
    {"TextViewAtEnd_1GiB_one_line", "Reference_grep_F_1GiB_one_line", 1.5, "<= 1.5"},
    {"Search_find_pattern_1GiB", "Reference_memmem_1GiB", 0, "-"},
    {"Search_find_pattern_1GiB", "Reference_grep_F_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"Search_1000_modified_1GiB", "Reference_grep_F_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"SearchBackward_1GiB", "Search_find_pattern_1GiB", 1.5, "<= 1.5"},
    {"SearchBackward_1GiB", "Reference_grep_F_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"InsertAtStart_b_1GiB", "InsertAtStart_b_1MiB", 1.5, "<= 1.5"},
    {"DeleteAtStart_b_1GiB", "DeleteAtStart_b_1MiB", 1.5, "<= 1.5"},
    {"OpenBuffered_1GiB", "Reference_cat_1GiB", 1.3, "<= 1.3"},
    {"OpenBuffered_1GiB", "OpenBuffered_1GiB", 0, "<= file+16MiB", "peak_rss_KiB", "file_KiB",
     16 * 1024},
    {"UndoNewest_of_100000", "UndoNewest_of_10", 1.5, "<= 1.5"},
    {"SaveOneByteInPlace_16GiB_sparse", "SaveOneByteInPlace_1MiB", 1.5, "<= 1.5"},
    {"SaveAsNewName_1GiB", "Reference_cp_1GiB", 1.2, "<= 1.2"},
    {"SaveAsNewName_disk_mode_1GiB", "Reference_cp_1GiB", 1.2, "<= 1.2"},
    // Ranges: a gigabyte's fill of a 16 GiB file, its save and searches
    // through it; -b pastes of 256 MiB into 1 GiB.
    {"Fill_1GiB_of_16GiB_sparse", "Reference_PaintFullScreen", 1.5, "<= 1.5"},
    {"UndoFill_1GiB_of_16GiB_sparse", "Reference_PaintFullScreen", 1.5, "<= 1.5"},
    {"RedoFill_1GiB_of_16GiB_sparse", "Reference_PaintFullScreen", 1.5, "<= 1.5"},
    {"Fill_1GiB_of_16GiB_sparse", "Fill_1GiB_of_16GiB_sparse", 0, "<= +64MiB", "rss_after_KiB",
     "rss_before_KiB", 64 * 1024},
    {"SaveFill_1GiB_in_place", "Reference_dd_1GiB_notrunc", 1 / 0.7, "<= 1/0.7"},
    {"SearchOverFill_1GiB", "Reference_grep_F_filled_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"SearchBackwardOverFill_1GiB", "Reference_grep_F_filled_1GiB", 1 / grep_speed_share,
     "<= 1/0.7"},
    {"Copy256MiB_b_1GiB", "Reference_memmove_1GiB", 2, "<= 2"},
    {"PasteIn256MiB_b_1GiB", "Reference_memmove_1GiB", 2, "<= 2"},
    {"UndoPasteIn256MiB_b_1GiB", "Reference_memmove_1GiB", 2, "<= 2"},
    {"RedoPasteIn256MiB_b_1GiB", "Reference_memmove_1GiB", 2, "<= 2"},
    // Masked patterns of Find: 8 bytes of ??, of text ignoring case and of a
    // number against grep -F of 8 bytes; a million matches counted against
    // one search through the same file.
    {"PatternWildcard8_1GiB", "Reference_grep_F_8_bytes_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"PatternWildcard8Backward_1GiB", "Reference_grep_F_8_bytes_1GiB", 1 / grep_speed_share,
     "<= 1/0.7"},
    {"PatternTextIgnoringCase8_1GiB", "Reference_grep_F_8_bytes_1GiB", 1 / grep_speed_share,
     "<= 1/0.7"},
    {"PatternNumberU64_1GiB", "Reference_grep_F_8_bytes_1GiB", 1 / grep_speed_share, "<= 1/0.7"},
    {"CountMillionMatches_1GiB", "PatternSearchThrough_counted_1GiB", 2, "<= 2"},
    {"ReplaceAllMillion_1GiB", "PatternSearchThrough_counted_1GiB", 3, "<= 3"},
    {"ReplaceAllMillion_1GiB", "ReplaceAllMillion_1GiB", 0, "<= +64MiB", "rss_after_KiB",
     "rss_before_KiB", 64 * 1024},
    // End to end: the real program in a terminal, from the last key to the
    // screen that shows the result.
    {"E2E_SearchForward_1GiB", "Reference_grep_c_F_random_1GiB", 1.0, "<= 1.0"},
    {"E2E_SearchForward_1GiB", "Reference_cat_random_1GiB", 1.5, "<= 1.5"},
    {"E2E_SearchBackward_1GiB", "Reference_grep_c_F_random_1GiB", 1.0, "<= 1.0"},
    {"E2E_SearchBackward_1GiB", "Reference_cat_random_1GiB", 1.5, "<= 1.5"},
    {"E2E_TextViewAtEnd_1GiB_one_line", "Reference_cat_one_line_1GiB", 1.5, "<= 1.5"},
    {"E2E_OpenBuffered_1GiB", "Reference_cat_random_1GiB", 1.3, "<= 1.3"},
    {"E2E_OpenBuffered_1GiB", "E2E_OpenBuffered_1GiB", 0, "<= file+16MiB", "peak_rss_KiB",
     "file_KiB", 16 * 1024},
    {"E2E_SaveAsNewName_1GiB", "Reference_cp_sync_random_1GiB", 1.2, "<= 1.2"},
    // The compare view's F8 from offset 0 to the one difference, against cmp
    // of the same files; the memory beside the editor's on one of the files.
    {"E2E_CompareNext_1GiB", "Reference_cmp_1GiB_last_byte", 1.2, "<= 1.2"},
    {"E2E_CompareNext_16GiB_sparse", "Reference_cmp_16GiB_sparse", 1.2, "<= 1.2 or 0.1 s",
     "median_s", "median_s", 0, 0.1},
    {"E2E_CompareNext_16GiB_sparse", "E2E_CompareNext_16GiB_sparse", 0, "< 16 MiB", "peak_rss_KiB",
     "rss_one_file_KiB", 0, 16 * 1024 - 1},
};

std::string seconds_text(double s) {
    char text[32];
    if (s >= 1)
        snprintf(text, sizeof text, "%.2f s", s);
    else if (s >= 1e-3)
        snprintf(text, sizeof text, "%.1f ms", s * 1e3);
    else
        snprintf(text, sizeof text, "%.1f us", s * 1e6);
    return text;
}

std::string value_text(const char* counter, double v) {
    if (std::string(counter) == "median_s") return seconds_text(v);
    char text[32];
    snprintf(text, sizeof text, "%.1f MiB", v / 1024); // the KiB counters
    return text;
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            std::string name = r.benchmark_name();
            name = name.substr(0, name.find('/'));
            if (name.rfind("BM_", 0) == 0) name.erase(0, 3);
            auto& values = values_[name];
            for (const auto& [counter, value] : r.counters)
                values[counter] = value.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        printf("\n%-36s %10s  %-34s %10s %7s  %-14s %s\n", "figure", "median", "reference",
               "median", "ratio", "goal", "verdict");
        for (const TableRow& row : table_rows) {
            const double* f = find(row.figure, row.figure_counter);
            const double* r = find(row.reference, row.reference_counter);
            if (!f || !r || *r == 0) continue;
            const double ratio = *f / *r;
            const char* verdict = "-";
            if (row.max_excess > 0)
                verdict = *f <= *r + row.max_excess ? "met" : "not met";
            else if (row.max_ratio > 0 || row.or_at_most > 0)
                verdict = (row.max_ratio > 0 && ratio <= row.max_ratio) ||
                                  (row.or_at_most > 0 && *f <= row.or_at_most)
                              ? "met"
                              : "not met";
            printf("%-36s %10s  %-34s %10s %7.2f  %-14s %s\n", row.figure,
                   value_text(row.figure_counter, *f).c_str(), row.reference,
                   value_text(row.reference_counter, *r).c_str(), ratio, row.goal, verdict);
        }
    }

  private:
    const double* find(const char* name, const char* counter) const {
        auto b = values_.find(name);
        if (b == values_.end()) return nullptr;
        auto c = b->second.find(counter);
        return c == b->second.end() ? nullptr : &c->second;
    }
    std::map<std::string, std::map<std::string, double>> values_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    bench_remove_scratch();
}
