// The absorption view as the optimizer refreshes it after every iteration: one
// solution selected, its calculated spectrum replaced and the chart redrawn; and the
// full load after a read. 40 solutions x 400 wavelengths at the view's first size.
// Then the redraw of a large data set, 200 solutions x 2000 wavelengths, with the
// window at 1200 x 800 (goal: under 30 ms). Runs offscreen (QT_QPA_PLATFORM=offscreen
// is set when missing).

#include "model/State.h"
#include "windows/AbsorptionView.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

namespace {

void FillState(lumora::State& st, int nSol, int nWl) {
    st.nSol = static_cast<int16_t>(nSol);
    st.nWl = static_cast<int16_t>(nWl);
    st.WlStart = 300.0f;
    st.WlStop = 300.0f + static_cast<float>(nWl - 1);
    st.SolName.Redim(nSol);
    st.AbsM.Redim(nSol, nWl);
    st.AbsC.Redim(nSol, nWl);
    for (int j = 1; j <= nSol; ++j) st.SolName(j) = "S" + std::to_string(j);
    for (int w = 1; w <= nWl; ++w) {
        st.AbsM(0, w) = 300.0 + (w - 1);
        for (int j = 1; j <= nSol; ++j) {
            const double d = (w - 150.0 - 3.0 * j) / 60.0;
            st.AbsM(j, w) = 0.02 * j * std::exp(-0.5 * d * d) + 0.01;
            st.AbsC(j, w) = static_cast<float>(st.AbsM(j, w) * 0.98);
        }
    }
    ++st.ReadSerial;
}

void BM_RefreshOneSolution(benchmark::State& state) {
    lumora::State st;
    FillState(st, 40, 400);
    lumora::AbsorptionView view(st, lumora::NoMainWindow(), nullptr);
    view.ShowAbsorptionView();
    view.list->setCurrentIndex(7);
    for (auto _ : state) {
        st.AbsC(7, 200) += 1e-4f; // a new iteration's spectrum
        view.ShowAbsorptionView();
    }
}
BENCHMARK(BM_RefreshOneSolution)->Unit(benchmark::kMillisecond);

void BM_LoadAfterRead(benchmark::State& state) {
    lumora::State st;
    FillState(st, 40, 400);
    lumora::AbsorptionView view(st, lumora::NoMainWindow(), nullptr);
    for (auto _ : state) {
        ++st.ReadSerial; // every read reloads the whole data set
        view.ShowAbsorptionView();
    }
}
BENCHMARK(BM_LoadAfterRead)->Unit(benchmark::kMillisecond);

/// The redraw of 200 solutions x 2000 wavelengths at 1200 x 800 with list entry `shown`
/// (0: all solutions).
void RedrawLarge(benchmark::State& state, int shown) {
    lumora::State st;
    FillState(st, 200, 2000);
    lumora::AbsorptionView view(st, lumora::NoMainWindow(), nullptr);
    view.ShowAbsorptionView();
    // After the first show, which places the window where it opens.
    view.resize(1200, 800);
    QCoreApplication::processEvents();
    view.list->setCurrentIndex(shown);
    for (auto _ : state) view.ShowAbsorptionView();
    state.counters["chartWidth"] = view.chart->width();
    state.counters["chartHeight"] = view.chart->height();
}

void BM_RedrawAllSolutions200x2000(benchmark::State& state) {
    RedrawLarge(state, 0);
}
BENCHMARK(BM_RedrawAllSolutions200x2000)->Unit(benchmark::kMillisecond);

void BM_RedrawOneSolution200x2000(benchmark::State& state) {
    RedrawLarge(state, 150);
}
BENCHMARK(BM_RedrawOneSolution200x2000)->Unit(benchmark::kMillisecond);

} // namespace
