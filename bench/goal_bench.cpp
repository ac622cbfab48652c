// One normal-mode goal function of a large data set with speciation taken out
// (a solver double returning fixed amounts): what the optimizer pays per call.

#include "fit/Goal.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

using namespace lumora;

/// Species amounts proportional to the element amounts: no equilibrium to find.
class FixedSolver : public Solver {
public:
    void Shutdown() override {}
    void SetOptions(const std::string&) override {}
    void OpenDatabase(const std::string&) override {}
    void OpenSystem(const std::string&) override {}
    void SetSpeciesG(int16_t, float) override {}
    std::string LastMessage() override { return "OK"; }
    void SetControl(int, int) override {}
    void Equilibrate(float, float, std::span<double>, std::span<const double> bulk,
                     std::span<double> amounts, std::span<double>, int16_t& code) override {
        amounts[1] = bulk[0];
        for (size_t e = 1; e < bulk.size(); ++e) amounts[e + 1] = bulk[e];
        code = 0;
    }
    int16_t Version() override { return 70; }
};

void SetUp(State& st, int nSol, int nWl, int nSp) {
    st.nSp = static_cast<int16_t>(nSp);
    st.nSol = static_cast<int16_t>(nSol);
    st.nWl = static_cast<int16_t>(nWl);
    st.nEl = static_cast<int16_t>(nSp);
    st.AqFirst = 1;
    st.SpIdx.Redim(nSp);
    st.G0.Redim(nSp);
    for (int k = 1; k <= nSp; ++k) st.SpIdx(k) = static_cast<int16_t>(k + 1);
    st.Bulk.Redim(nSp, nSol);
    st.BulkCorr.Redim(nSp, nSol);
    st.SolDens.Redim(nSol);
    st.SolWeight.Redim(nSol);
    st.WArr1.Redim(0);
    st.WAmt.Redim(nSp + 1);
    st.WArr2.Redim(nSp + 1);
    st.AbsM.Redim(nSol, nWl);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int j = 1; j <= nSol; ++j) {
        st.SolDens(j) = 1.0f;
        st.SolWeight(j) = 1.0f;
        st.Bulk(0, j) = st.BulkCorr(0, j) = kWaterMolality;
        for (int k = 1; k <= nSp; ++k) st.Bulk(k, j) = 1e-3 * (0.05 + u(rng));
    }
    // Smooth absorptivities of both signs, so some constraints are active.
    for (int w = 1; w <= nWl; ++w) {
        st.AbsM(0, w) = 250.0 + w;
        for (int j = 1; j <= nSol; ++j) {
            double a = 0.002 * (u(rng) - 0.5);
            for (int k = 1; k <= nSp; ++k)
                a += st.Bulk(k, j) * 400.0 * std::sin(0.01 * w * (k + 1) + k);
            st.AbsM(j, w) = a;
        }
    }
    st.solver = std::make_unique<FixedSolver>();
}

void BM_GoalNormal(benchmark::State& state) {
    const int nSol = static_cast<int>(state.range(0));
    const int nWl = static_cast<int>(state.range(1));
    const int nSp = static_cast<int>(state.range(2));
    State st;
    SetUp(st, nSol, nWl, nSp);
    double g = Goal(st, 0);
    if (st.ErrCode != 0) state.SkipWithError("goal function failed");
    for (auto _ : state) {
        g = Goal(st, 0);
        benchmark::DoNotOptimize(g);
    }
    // Wavelengths per second; its inverse is the cost of one wavelength.
    state.counters["wavelengths"] =
        benchmark::Counter(nWl, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_GoalNormal)
    ->Args({50, 701, 8})
    ->Args({40, 400, 8})
    ->Args({40, 400, 4})
    ->Args({20, 200, 3})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
