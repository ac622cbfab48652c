// Equilibrate on a 20-species, 5-element chloride system (H, O, Na, Cl, Co) at 200 C on
// the saturation curve: warm calls as a goal function makes them (each solution, then its
// background electrolyte, the refined Gibbs energy moving between sweeps) and cold calls.
// Reported per call: median time (us), mean and largest Newton iteration counts.
//
// The system is the bundled Co-Na-Cl system with NaOH(aq) plus eight log K species with made-up
// constant formation constants (hydroxo, mixed and polynuclear complexes), so that the size matches
// a realistic speciation problem; the numbers are not meant as data.

#include "engine/EngineSolver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

/// Heap allocations of the whole program, to show that warm calls make none (the
/// library's operator delete frees with free()).
static std::atomic<long> gAllocations{0};
[[gnu::noinline]] void* operator new(std::size_t n) {
    ++gAllocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

namespace {

using namespace lumora;

const char* kExtraSpecies = R"toml(
[[species]]
name = "CoCl3-"
formula = "CoCl3"
charge = -1
model = "logk"
logk = { reaction = { "Co+2" = 1, "Cl-" = 3 }, a = 3.1 }
source = "benchmark only"

[[species]]
name = "CoOH+"
formula = "CoOH"
charge = 1
model = "logk"
logk = { reaction = { "Co+2" = 1, "OH-" = 1 }, a = 4.3 }
source = "benchmark only"

[[species]]
name = "Co(OH)2(aq)"
formula = "Co(OH)2"
charge = 0
model = "logk"
logk = { reaction = { "Co+2" = 1, "OH-" = 2 }, a = 8.4 }
source = "benchmark only"

[[species]]
name = "Co(OH)3-"
formula = "Co(OH)3"
charge = -1
model = "logk"
logk = { reaction = { "Co+2" = 1, "OH-" = 3 }, a = 9.7 }
source = "benchmark only"

[[species]]
name = "Na2Cl+"
formula = "Na2Cl"
charge = 1
model = "logk"
logk = { reaction = { "Na+" = 2, "Cl-" = 1 }, a = -1.0 }
source = "benchmark only"

[[species]]
name = "CoClOH(aq)"
formula = "CoClOH"
charge = 0
model = "logk"
logk = { reaction = { "Co+2" = 1, "Cl-" = 1, "OH-" = 1 }, a = 5.0 }
source = "benchmark only"

[[species]]
name = "Co2OH+3"
formula = "Co2OH"
charge = 3
model = "logk"
logk = { reaction = { "Co+2" = 2, "OH-" = 1 }, a = 5.2 }
source = "benchmark only"

[[species]]
name = "NaCl2-"
formula = "NaCl2"
charge = -1
model = "logk"
logk = { reaction = { "Na+" = 1, "Cl-" = 2 }, a = -1.2 }
source = "benchmark only"
)toml";

const char* kSystem = R"toml(database = "bench-db.toml"
[[phase]]
name = "aqueous"
species = ["H2O", "H+", "OH-", "Na+", "Cl-", "NaCl(aq)", "HCl(aq)", "Co+2", "CoCl+",
           "CoCl2(aq)", "CoCl4-2", "CoCl3-", "CoOH+", "Co(OH)2(aq)", "Co(OH)3-", "NaOH(aq)",
           "CoClOH(aq)", "Co2OH+3", "NaCl2-", "Na2Cl+"]
)toml";

/// Writes the bench database and system beside the binary; the solver opened on them.
struct BenchSystem {
    EngineSolver solver;
    std::vector<std::vector<double>> full, background;
    int coCl = 0;

    explicit BenchSystem(const std::string& options) {
        namespace fs = std::filesystem;
        const fs::path dir = fs::temp_directory_path() / "lumora-engine-bench";
        fs::create_directories(dir);
        std::ifstream in(std::string(LUMORA_DATA_DIR) + "/thermo.toml");
        std::stringstream db;
        db << in.rdbuf() << kExtraSpecies;
        std::ofstream(dir / "bench-db.toml") << db.str();
        std::ofstream(dir / "bench-system.toml") << kSystem;
        solver.SetOptions(options);
        solver.OpenDatabase((dir / "bench-db.toml").string());
        solver.OpenSystem((dir / "bench-system.toml").string());
        if (solver.LastMessage() != "System file accepted")
            throw std::runtime_error(solver.LastMessage());
        const SysRec& rec = solver.System();
        for (size_t i = 1; i < rec.spName.size(); ++i)
            if (rec.spName[i] == "CoCl+") coCl = static_cast<int>(i);
        // Twelve solutions: 1 mol/kg NaCl, 0.01 HCl, Co from 0.5 to 50 mmol/kg.
        auto element = [&](int z) {
            for (int m = 1; m <= rec.nElem; ++m)
                if (rec.elemCode[static_cast<size_t>(m)] == z) return static_cast<size_t>(m);
            return size_t{0};
        };
        for (int j = 0; j < 12; ++j) {
            std::vector<double> b(static_cast<size_t>(rec.nElem) + 1, 0.0);
            b[0] = kWaterMolality;
            const double co = 5e-4 * std::pow(100.0, j / 11.0);
            b[element(1)] = 0.01;
            b[element(11)] = 1.0;
            b[element(17)] = 1.0 + 0.01 + 2 * co;
            b[element(27)] = co;
            full.push_back(b);
            b[element(27)] = 0;
            b[element(17)] = 1.01;
            background.push_back(b);
        }
    }
};

struct CallStats {
    std::vector<double> us;
    long iterations = 0, maxIterations = 0, calls = 0, allocations = 0;
    void Add(double t, int it, long allocs) {
        us.push_back(t);
        allocations += allocs;
        iterations += it;
        maxIterations = std::max<long>(maxIterations, it);
        ++calls;
    }
    void Report(benchmark::State& state) {
        std::nth_element(us.begin(), us.begin() + static_cast<long>(us.size() / 2), us.end());
        state.counters["median_us"] = us[us.size() / 2];
        state.counters["mean_iter"] = static_cast<double>(iterations) / static_cast<double>(calls);
        state.counters["max_iter"] = static_cast<double>(maxIterations);
        state.counters["allocs_per_call"] =
            static_cast<double>(allocations) / static_cast<double>(calls);
    }
};

void Run(benchmark::State& state, bool warm) {
    BenchSystem b(warm ? "/mode=1" : "/mode=0");
    std::vector<double> amounts(static_cast<size_t>(b.solver.System().lastAq) + 1), w1(1),
        w2(amounts.size());
    int16_t code = 0;
    CallStats stats;
    int sweep = 0;
    float g = -180.0f;
    for (auto _ : state) {
        // One goal-function evaluation: a new Gibbs energy, then every solution twice.
        b.solver.SetSpeciesG(static_cast<int16_t>(b.coCl),
                             g + 0.01f * static_cast<float>(sweep % 7));
        ++sweep;
        for (size_t j = 0; j < b.full.size(); ++j) {
            for (const auto* bulk : {&b.full[j], &b.background[j]}) {
                const long a0 = gAllocations;
                const auto t0 = std::chrono::steady_clock::now();
                b.solver.Equilibrate(200.0f, 0.0f, w1, *bulk, amounts, w2, code);
                const auto t1 = std::chrono::steady_clock::now();
                const long allocs = gAllocations - a0;
                if (code != 0) {
                    state.SkipWithError(b.solver.LastMessage().c_str());
                    return;
                }
                stats.Add(std::chrono::duration<double, std::micro>(t1 - t0).count(),
                          b.solver.LastResult().iterations, allocs);
                benchmark::DoNotOptimize(amounts.data());
            }
        }
    }
    stats.Report(state);
}

void BM_EquilibrateWarm(benchmark::State& state) {
    Run(state, true);
}
void BM_EquilibrateCold(benchmark::State& state) {
    Run(state, false);
}

BENCHMARK(BM_EquilibrateWarm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EquilibrateCold)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
