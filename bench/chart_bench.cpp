// Redrawing a full chart: 17 series x 2000 points on an 800 x 600 surface, the size
// of an absorption view with every spectrum shown. Goal: under 20 ms per Refresh.
// Runs offscreen (QT_QPA_PLATFORM=offscreen is set when missing).

#include "chart/ChartWidget.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

void FillSpectra(lumora::ChartWidget& chart, int series, int points) {
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.004f);
    chart.Clear();
    chart.Dimension(static_cast<int16_t>(series), static_cast<int16_t>(points));
    for (int p = 1; p <= points; ++p) {
        const float wl = 250.0f + 0.25f * static_cast<float>(p);
        chart.SetPointData(static_cast<int16_t>(p), 0, wl);
        for (int k = 1; k <= series; ++k) {
            const float d = (wl - 300.0f - 25.0f * k) / 60.0f;
            chart.SetPointData(static_cast<int16_t>(p), static_cast<int16_t>(k),
                               0.05f * k * std::exp(-0.5f * d * d) + 0.01f + noise(rng));
        }
    }
    chart.SetXAxisTitle(QStringLiteral("Wavelength (nm)"));
}

void BM_Refresh(benchmark::State& state) {
    lumora::ChartWidget chart;
    chart.resize(800, 600);
    FillSpectra(chart, 17, 2000);
    chart.SetYAxisLogScale(state.range(0) != 0);
    for (auto _ : state) chart.Refresh();
    state.SetLabel(state.range(0) ? "log Y" : "linear");
}
BENCHMARK(BM_Refresh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
