// Runs every benchmark, then prints each figure beside its reference from the
// same run and the ratio: these machines are noisy, absolute times are not.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        struct Pair {
            const char* figure;
            const char* reference;
        };
        static const Pair pairs[] = {
            {"BM_OpenFirstScreenAndQuit_16GiB_sparse/iterations:20/manual_time",
             "BM_OpenFirstScreenAndQuit_1KiB/iterations:20/manual_time"},
            {"BM_OpenFirstScreenAndQuit_1KiB/iterations:20/manual_time",
             "BM_Reference_CatInPty_1KiB/iterations:20/manual_time"},
            {"BM_PageDown_1GiB_paged", "BM_Reference_PaintFullScreen"},
            {"BM_DownOnBottomRow_1GiB_paged", "BM_Reference_PaintFullScreen"},
            {"BM_Search_find_pattern_1GiB", "BM_Reference_memmem_1GiB"},
            {"BM_Search_find_pattern_1GiB", "BM_Reference_grep_F_1GiB/manual_time"},
            {"BM_SaveOneByteInPlace_16GiB_sparse", "BM_SaveOneByteInPlace_1MiB"},
            {"BM_SaveAsNewName_1GiB/iterations:3/manual_time",
             "BM_Reference_cp_1GiB/iterations:3/manual_time"},
        };
        printf("\n%-50s %-50s %8s\n", "figure", "reference", "ratio");
        for (const Pair& p : pairs) {
            auto f = times_.find(p.figure);
            auto r = times_.find(p.reference);
            if (f == times_.end() || r == times_.end() || r->second == 0) continue;
            printf("%-50s %-50s %8.2f\n", short_name(p.figure).c_str(),
                   short_name(p.reference).c_str(), f->second / r->second);
        }
    }

  private:
    static std::string short_name(const std::string& n) { return n.substr(0, n.find('/')); }
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
