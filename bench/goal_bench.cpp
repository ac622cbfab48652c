// One normal-mode goal function of a large data set with speciation taken out
// (a solver double returning fixed amounts): what the optimizer pays per call, on
// random data and on a set shaped like a measured one.

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

/// Sizes the state for nSol solutions, nWl wavelengths from 250 nm and nSp species.
void Dimension(State& st, int nSol, int nWl, int nSp) {
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
    for (int j = 1; j <= nSol; ++j) {
        st.SolDens(j) = 1.0f;
        st.SolWeight(j) = 1.0f;
        st.Bulk(0, j) = st.BulkCorr(0, j) = kWaterMolality;
    }
    for (int w = 1; w <= nWl; ++w) st.AbsM(0, w) = 250.0 + w;
    st.solver = std::make_unique<FixedSolver>();
}

/// Random concentrations and smooth absorptivities of both signs, so that some
/// constraints are active.
void SetUp(State& st, int nSol, int nWl, int nSp) {
    Dimension(st, nSol, nWl, nSp);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int j = 1; j <= nSol; ++j)
        for (int k = 1; k <= nSp; ++k) st.Bulk(k, j) = 1e-3 * (0.05 + u(rng));
    for (int w = 1; w <= nWl; ++w) {
        for (int j = 1; j <= nSol; ++j) {
            double a = 0.002 * (u(rng) - 0.5);
            for (int k = 1; k <= nSp; ++k)
                a += st.Bulk(k, j) * 400.0 * std::sin(0.01 * w * (k + 1) + k);
            st.AbsM(j, w) = a;
        }
    }
}

/// As a measured set looks: two metals with three successive chloride complexes each
/// (species 1-4 and 5-8) over a series of chloride concentrations, every species with
/// two Gaussian bands, noise 0.002. Neighbouring complexes overlap strongly, as
/// chloride complexes do, and each species is absent from parts of the spectrum.
void SetUpSeries(State& st, int nSol, int nWl) {
    Dimension(st, nSol, nWl, 8);
    const double beta[4] = {1.0, 8.0, 20.0, 15.0}; // cumulative constants, (mol/l)^-i
    for (int j = 1; j <= nSol; ++j) {
        const double cl = 0.02 * std::pow(250.0, ((j - 1) % 25) / 24.0);
        const double total[2] = {j <= nSol / 2 ? 0.02 : 0.01, j <= nSol / 2 ? 0.01 : 0.02};
        double sum = 0.0;
        for (int i = 0; i < 4; ++i) sum += beta[i] * std::pow(cl, i);
        for (int m = 0; m < 2; ++m)
            for (int i = 0; i < 4; ++i)
                st.Bulk(4 * m + i + 1, j) = total[m] * beta[i] * std::pow(cl, i) / sum;
    }
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0.0, 0.002);
    for (int w = 1; w <= nWl; ++w) {
        const double wl = st.AbsM(0, w);
        for (int j = 1; j <= nSol; ++j) {
            double a = noise(rng);
            for (int k = 1; k <= 8; ++k) {
                const double c1 = 300.0 + 45.0 * k, c2 = 270.0 + 60.0 * k, h = 10.0 * k * k;
                a += st.Bulk(k, j) * h *
                     (std::exp(-std::pow((wl - c1) / 40.0, 2)) +
                      0.5 * std::exp(-std::pow((wl - c2) / 25.0, 2)));
            }
            st.AbsM(j, w) = a;
        }
    }
}

/// Times Goal; arguments from `first` on: threads, 1 = every wavelength by elimination
/// (the method before shared factorizations).
void Run(benchmark::State& state, State& st, int first) {
    GoalSettings().threads = static_cast<int>(state.range(first));
    GoalSettings().eliminationOnly = state.range(first + 1) != 0;
    double g = Goal(st, 0);
    if (st.ErrCode != 0) state.SkipWithError("goal function failed");
    for (auto _ : state) {
        g = Goal(st, 0);
        benchmark::DoNotOptimize(g);
    }
    // Wavelengths per second; its inverse is the cost of one wavelength.
    state.counters["wavelengths"] =
        benchmark::Counter(st.nWl, benchmark::Counter::kIsIterationInvariantRate);
}

/// Arguments: solutions, wavelengths, species, threads, elimination.
void BM_GoalNormal(benchmark::State& state) {
    State st;
    SetUp(st, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
          static_cast<int>(state.range(2)));
    Run(state, st, 3);
}

/// Arguments: threads, elimination; 50 solutions x 701 wavelengths x 8 species.
void BM_GoalSeries(benchmark::State& state) {
    State st;
    SetUpSeries(st, 50, 701);
    Run(state, st, 0);
}

// CPU time is the whole process's, helper threads included.
BENCHMARK(BM_GoalSeries)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_GoalNormal)
    ->Args({200, 2000, 8, 1, 0})
    ->Args({200, 2000, 8, 2, 0})
    ->Args({50, 701, 8, 1, 1})
    ->Args({50, 701, 8, 1, 0})
    ->Args({50, 701, 8, 2, 0})
    ->Args({40, 400, 8, 1, 0})
    ->Args({40, 400, 4, 1, 0})
    ->Args({20, 200, 3, 1, 0})
    ->Args({12, 61, 4, 1, 0})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
