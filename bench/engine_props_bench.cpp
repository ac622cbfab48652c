// Standard properties at one (T, P): water density by inversion of IAPWS-95, then the
// standard Gibbs energies of 30 species of the bundled database.

#include "engine/Database.h"
#include "engine/EngineProps.h"
#include "engine/WaterIapws95.h"
#include "engine/WaterState.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>

namespace {

using namespace lumora;

const Database& Db() {
    static const Database db = [] {
        Database d;
        std::string msg;
        if (!d.Load(std::string(LUMORA_DATA_DIR) + "/thermo.toml", msg)) {
            std::cerr << msg << "\n";
            std::exit(1);
        }
        return d;
    }();
    return db;
}

// Temperatures (K) and pressures (bar) of the cases: room, hydrothermal, supercritical.
constexpr double kT[] = {298.15, 573.15, 673.15};
constexpr double kP[] = {1.0, 300.0, 500.0};

void BM_WaterDensity(benchmark::State& state) {
    const double T = kT[state.range(0)], p = kP[state.range(0)] / 10.0;
    for (auto _ : state) {
        double rho = 0;
        benchmark::DoNotOptimize(iapws95::Density(T, p, iapws95::Root::Liquid, rho));
        benchmark::DoNotOptimize(rho);
    }
}
BENCHMARK(BM_WaterDensity)->DenseRange(0, 2);

void BM_SaturationState(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(WaterAt(573.15, 0));
}
BENCHMARK(BM_SaturationState);

// The goal: water at (T, P) and G0 of 30 species together.
void BM_WaterAnd30Species(benchmark::State& state) {
    const Database& db = Db();
    const int n = std::min(30, db.Count());
    const double T = kT[state.range(0)], P = kP[state.range(0)];
    for (auto _ : state) {
        const WaterState w = WaterAt(T, P);
        double sum = 0;
        for (int i = 1; i <= n; ++i) {
            double G = 0;
            StandardGibbs(db, i, w, G);
            sum += G;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["species"] = n;
}
BENCHMARK(BM_WaterAnd30Species)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The same through the component's float interface, as the data-set reader calls it.
void BM_PropsStartValues30(benchmark::State& state) {
    EngineProps props;
    props.OpenDatabase(std::string(LUMORA_DATA_DIR) + "/thermo.toml");
    const float T = 573.15f, bar = 300.0f;
    for (auto _ : state) {
        const float rho = props.WaterDensity(T, bar, 0);
        const float eps = props.WaterValueA(T, rho);
        float sum = props.StartValueCode2(T, rho, props.WaterValueB(T, bar, rho));
        for (int16_t code = 3; code < 32; ++code)
            sum += props.StartValueLow(code, T, bar, rho, eps);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PropsStartValues30)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
