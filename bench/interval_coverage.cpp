// interval_coverage: how often the 95 % intervals hold the true Gibbs energies. Small data
// sets are generated (as lumora-makeset does) from the two bundled example descriptions
// with seeds 1..N each, optimized (Levenberg-Marquardt) and given both kinds of interval;
// prints per method the share of true energies inside the interval and its mean width,
// then the CPU time of the profile intervals on the bundled 25 C example.
//
// Usage: interval_coverage [--sets N] [--keep DIR]   (N sets per description, default 50)

#include "MakeSet.h"

#include "base/Ui.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "fit/ProfileIntervals.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/XlsxWriter.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace lumora;

/// Batch mode's fixed answers, nothing shown.
class QuietUi : public SilentUi {
public:
    bool ask(const std::string&) override { return true; }
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

/// Tally of one interval method.
struct Tally {
    int truths = 0;    ///< true energies of refined species
    int covered = 0;   ///< inside the interval (an undetermined bound counts as open)
    int missing = 0;   ///< no interval at all (failed, or not determined on a side)
    double width = 0;  ///< summed widths of the intervals found (kJ/mol)
    double offset = 0; ///< summed (estimate - truth) / half-width
    int widths = 0;

    void Add(bool inside, bool found, double w, double error) {
        ++truths;
        covered += inside;
        missing += !found;
        if (found) width += w, offset += 2.0 * error / w, ++widths;
    }
    void AddUp(const Tally& t) {
        truths += t.truths, covered += t.covered, missing += t.missing;
        width += t.width, offset += t.offset, widths += t.widths;
    }
    /// The mean offset tells a biased estimate (a centred one gives about 0) from a wrong
    /// width.
    void Print(const char* name) const {
        const int n = std::max(widths, 1);
        std::printf("  %-8s covered %5.1f %% of %d truths, mean width %.4f kJ/mol and mean "
                    "offset %+.2f half-widths over %d intervals, %d without one\n",
                    name, 100.0 * covered / std::max(truths, 1), truths, width / n, offset / n,
                    widths, missing);
    }
};

/// A fresh state with the real engine on the embedded host, in dir.
void UseEngine(State& st, Ui& ui, const fs::path& dir) {
    st.ui = &ui;
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    st.attachHost = AttachEmbeddedHost;
    st.WorkDir = dir.string() + "/";
}

/// Reads and optimizes the workbook with the Hessian's intervals; false when that fails.
bool Optimized(State& st, const fs::path& workbook) {
    ReadRequest request;
    request.fileName = workbook.filename().string();
    ReadDataSet(st, request);
    if (st.ErrCode != 0) return false;
    st.solver->SetControl(27, 0);
    const OptimizeEnd end =
        OptimizeCommand(st, request, {}, FitMethod::LevenbergMarquardt, IntervalMethod::Hessian);
    return end == OptimizeEnd::Converged && st.ErrCode == 0;
}

struct Outcome {
    Tally hessian, profile;
    int failed = 0;
    double profileCpu = 0;
    int profiles = 0;
};

/// The true Gibbs energy of species `name` (0 when the description does not list it).
double TrueG(const SetSpec& spec, const GeneratedSet& set, const std::string& name) {
    double truth = 0;
    for (size_t k = 0; k < spec.species.size(); ++k)
        if (spec.species[k].name == name) truth = set.trueG[k];
    return truth;
}

/// At the optimum in st: the Hessian's intervals against the true energies, then the
/// profile intervals, timed, against them too.
void TallyIntervals(State& st, const SetSpec& spec, const GeneratedSet& set, Outcome& out) {
    std::vector<double> result(st.nSp + 1), pm(st.nSp + 1);
    for (int i = 1; i <= st.nSp; ++i) result[i] = st.G0(i), pm[i] = st.GErr(i);
    const double t0 = CpuSeconds();
    const bool done = ProfileIntervals(st);
    out.profileCpu += CpuSeconds() - t0, ++out.profiles;
    for (int i = 1; i <= st.nSp; ++i) {
        if (!st.SpFree(i)) continue;
        const double truth = TrueG(spec, set, st.SpName(i));
        out.hessian.Add(pm[i] > 0 && std::fabs(truth - result[i]) <= pm[i], pm[i] > 0, 2.0 * pm[i],
                        result[i] - truth);
        const std::optional<double> lo = done ? st.GLo(i) : std::nullopt;
        const std::optional<double> hi = done ? st.GHi(i) : std::nullopt;
        out.profile.Add(done && (!lo || *lo <= truth) && (!hi || truth <= *hi), done && lo && hi,
                        lo && hi ? *hi - *lo : 0.0, result[i] - truth);
    }
}

void RunSet(const SetSpec& spec, const fs::path& dir, Outcome& out) {
    GeneratedSet set;
    std::string error;
    const fs::path workbook = dir / "set.xlsx";
    if (!GenerateSet(spec, LUMORA_EXAMPLES_DIR, set, error) ||
        !WriteNewXlsx(workbook.string(), {{"Data", set.rows, {}}}, error)) {
        std::fprintf(stderr, "interval_coverage: %s\n", error.c_str());
        ++out.failed;
        return;
    }
    {
        State st;
        QuietUi ui;
        UseEngine(st, ui, dir);
        if (Optimized(st, workbook))
            TallyIntervals(st, spec, set, out);
        else
            ++out.failed;
    }
    EmbeddedHost::Instance()->CloseAll();
}

/// CPU of the profile intervals at the optimum of the bundled 25 C example: the first run
/// and the mean of five.
std::pair<double, double> ExampleProfileCpu(const fs::path& dir) {
    const fs::path copy = dir / "co-chloride-25C.xlsx";
    fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", copy,
                  fs::copy_options::overwrite_existing);
    std::pair<double, double> cpu(-1.0, 0.0);
    {
        State st;
        QuietUi ui;
        UseEngine(st, ui, dir);
        if (Optimized(st, copy)) {
            for (int run = 0; run < 5; ++run) {
                const double t0 = CpuSeconds();
                ProfileIntervals(st);
                const double t = CpuSeconds() - t0;
                if (run == 0) cpu.first = t;
                cpu.second += t / 5;
            }
        }
    }
    EmbeddedHost::Instance()->CloseAll();
    return cpu;
}

} // namespace

int main(int argc, char** argv) {
    int sets = 50;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sets" && i + 1 < argc)
            sets = std::max(1, std::atoi(argv[++i]));
        else if (a == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else {
            std::fprintf(stderr, "Usage: interval_coverage [--sets N] [--keep DIR]\n");
            return 2;
        }
    }
    const fs::path dir =
        keep.empty() ? fs::temp_directory_path() / "lumora_interval_coverage" : fs::path(keep);
    fs::create_directories(dir);
    Outcome all;
    for (const char* example : {"co-chloride-25C", "co-chloride-250C"}) {
        SetSpec spec;
        std::string error;
        if (!LoadSetSpec(std::string(LUMORA_EXAMPLES_DIR "/") + example + ".toml", spec, error)) {
            std::fprintf(stderr, "interval_coverage: %s\n", error.c_str());
            return 1;
        }
        Outcome one;
        for (int seed = 1; seed <= sets; ++seed) {
            spec.seed = static_cast<unsigned>(seed);
            RunSet(spec, dir, one);
        }
        std::printf("%s: %d sets (%d failed to optimize)\n", example, sets, one.failed);
        one.hessian.Print("hessian");
        one.profile.Print("profile");
        all.hessian.AddUp(one.hessian), all.profile.AddUp(one.profile);
        all.failed += one.failed, all.profileCpu += one.profileCpu, all.profiles += one.profiles;
    }
    std::printf("all %d sets (%d failed to optimize)\n", 2 * sets, all.failed);
    all.hessian.Print("hessian");
    all.profile.Print("profile");
    std::printf("profile intervals: %.3f s CPU per set on average\n",
                all.profileCpu / std::max(all.profiles, 1));
    const auto [first, mean] = ExampleProfileCpu(dir);
    std::printf("profile intervals of the bundled 25 C example: %.4f s CPU (first run), %.4f s "
                "(mean of 5)\n",
                first, mean);
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
