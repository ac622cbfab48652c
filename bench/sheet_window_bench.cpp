// The sheet window on the 200 x 2000 benchmark set (bench/fit_scale_200x2000.toml made
// by the set generator, with a result table as Optimize leaves it): opened offscreen
// and scrolled end to end, down and across; prints the slowest and the median paint.
//   sheet_window_bench [DESCRIPTION.toml]

#include "MakeSet.h"
#include "windows/SheetWindow.h"
#include "xlsx/GridWorkbook.h"

#include <QApplication>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace lumora;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

/// The generated sheet plus a result table right of the spectra (species columns,
/// then calculated spectra), as an optimization writes it.
void FillSheet(GridSheet& sheet, const GeneratedSet& set, int nSp, int nSol) {
    sheet.SetBlock(1, 1, set.rows);
    int waveRow = 1;
    while (sheet.Value(waveRow, 1) != CellValue(std::string("Wavelength, nm"))) ++waveRow;
    const int c0 = nSol + 2, last = 2 * nSol + nSp + 6;
    for (int r = waveRow + 1; std::holds_alternative<double>(sheet.Value(r, 1)); ++r)
        for (int c = c0 + 1; c <= last; ++c)
            sheet.SetValue(r, c, static_cast<double>(static_cast<float>(r * 0.001 + c)));
}

/// Counts the paint events of a widget, so a paint that did not happen is not timed.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

/// Paints once per step while the bar goes from its start to its end (one step a page).
void Sweep(QScrollBar* bar, QWidget* viewport, std::vector<double>& paints) {
    PaintCounter counter;
    viewport->installEventFilter(&counter);
    for (int v = bar->minimum();; v = std::min(bar->maximum(), v + bar->pageStep())) {
        bar->setValue(v);
        QApplication::processEvents();
        const int before = counter.paints;
        const auto t0 = Clock::now();
        viewport->repaint();
        paints.push_back(Ms(t0));
        if (counter.paints == before) {
            std::fprintf(stderr, "sheet_window_bench: the view did not paint\n");
            std::exit(1);
        }
        if (v == bar->maximum()) break;
    }
    viewport->removeEventFilter(&counter);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path description =
        argc > 1 ? argv[1] : BENCH_DIR "/fit_scale_200x2000.toml";
    SetSpec spec;
    GeneratedSet set;
    std::string error;
    if (!LoadSetSpec(description.string(), spec, error) ||
        !GenerateSet(spec, description.parent_path().string(), set, error)) {
        std::fprintf(stderr, "sheet_window_bench: %s\n", error.c_str());
        return 1;
    }
    GridWorkbook book("/nonexistent/bench.xlsx");
    GridSheet* sheet = book.AddSheet("Data");
    const int nSp = static_cast<int>(spec.species.size());
    const int nSol = static_cast<int>(spec.solutions.size());
    FillSheet(*sheet, set, nSp, nSol);

    auto t0 = Clock::now();
    SheetWindow window;
    window.resize(1280, 900);
    window.ShowWorkbook(&book, sheet);
    QApplication::processEvents();
    window.View()->viewport()->repaint();
    const double open = Ms(t0);

    std::vector<double> paints;
    Sweep(window.View()->verticalScrollBar(), window.View()->viewport(), paints);
    Sweep(window.View()->horizontalScrollBar(), window.View()->viewport(), paints);
    std::vector<double> sorted = paints;
    std::sort(sorted.begin(), sorted.end());
    const auto [rows, cols] = sheet->UsedExtent();
    std::printf("sheet %d x %d cells, window 1280 x 900\n", rows, cols);
    std::printf("open and first paint: %.1f ms\n", open);
    std::printf("%zu scroll paints: slowest %.1f ms, median %.1f ms (goal: below 50 ms)\n",
                paints.size(), sorted.back(), sorted[sorted.size() / 2]);
    return sorted.back() < 50 ? 0 : 3;
}
