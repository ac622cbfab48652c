// The factor analysis (F1) of absorbance matrices of growing size: covariance,
// Jacobi eigen-decomposition and indicator, without the window.

#include "linalg/FactorAnalysis.h"
#include "model/State.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

using namespace lumora;

void Analyze(benchmark::State& state) {
    const int nSol = static_cast<int>(state.range(0));
    const int nWl = static_cast<int>(state.range(1));
    Mat<double> absM;
    absM.Redim(nSol, nWl);
    Vec<float> weight;
    weight.Redim(nSol);
    weight.Fill(1.0f);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> conc(0.05, 1.0);
    std::normal_distribution<double> noise(0.0, 1e-3);
    for (int j = 1; j <= nSol; ++j) {
        const double c1 = conc(rng), c2 = conc(rng), c3 = conc(rng);
        for (int w = 1; w <= nWl; ++w) {
            const double x = static_cast<double>(w) / nWl;
            absM(j, w) = c1 * std::exp(-std::pow((x - 0.3) / 0.1, 2)) +
                         c2 * std::exp(-std::pow((x - 0.5) / 0.12, 2)) +
                         c3 * std::exp(-std::pow((x - 0.7) / 0.08, 2)) + noise(rng);
        }
    }
    for (auto _ : state) {
        FactorResult r = AnalyzeFactors(nSol, nWl, absM, weight);
        benchmark::DoNotOptimize(r.nf);
    }
}
BENCHMARK(Analyze)
    ->Args({12, 61})
    ->Args({30, 300})
    ->Args({60, 500})
    ->Args({150, 600})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
