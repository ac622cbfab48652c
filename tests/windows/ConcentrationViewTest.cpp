// The speciation and extinction-coefficient view on a data set read with the real
// engine: chart contents, list and check box, the main window's buttons, re-reads,
// and the species name under the mouse.

#include "windows/ConcentrationView.h"
#include "ViewsFixture.h"
#include "windows/TipWindow.h"

#include "FuzzyCompare.h"

#include <algorithm>
#include <filesystem>

namespace lumora::test {
namespace {

class SpecView : public ViewsFixture {
protected:
    void SetUp() override {
        ViewsFixture::SetUp();
        if (TipWindow* tip = CurrentTip()) tip->close();
    }
    /// Shows the view in mode `mode`, runs `inside` while it is open, closes it.
    void Show(int16_t mode, std::function<void()> inside) {
        WhileModal(spec, std::move(inside), &nested);
        spec.ShowSpeciesView(mode);
        EXPECT_FALSE(nested) << "a second modal loop started";
        EXPECT_FALSE(spec.isVisible());
    }
    float Concentration(int k, int j) { return static_cast<float>(st.Conc(k, 0) * st.Conc(k, j)); }

    ConcentrationView spec{st, port, nullptr};
    bool nested = false;
};

TEST_F(SpecView, ConcentrationsOfAllSpecies) {
    ChartWidget& chart = *spec.Chart;
    bool ran = false;
    Show(1, [&] {
        ran = true;
        EXPECT_TRUE(spec.isVisible());
        EXPECT_TRUE(spec.isModal());
        EXPECT_EQ(spec.windowTitle().toStdString(), "Concentrations of species (mol/l)");
        EXPECT_EQ(chart.XAxisTitle().toStdString(), "Solution number");
        EXPECT_EQ(chart.XAxisParts(), 1);
        EXPECT_FALSE(chart.YAxisLogScale());
        ASSERT_EQ(chart.nSeries(), 2);
        ASSERT_EQ(chart.nPoints(), 6);
        for (int j = 1; j <= 6; ++j) {
            EXPECT_EQ(chart.PointData(j, 0), static_cast<float>(j));
            for (int k = 1; k <= 2; ++k) {
                EXPECT_EQ(chart.PointData(j, k), Concentration(k, j)) << k << "," << j;
                EXPECT_FALSE(chart.SkipSeries(k));
            }
        }
        // List: "All species" and the names in order, "All species" chosen.
        ASSERT_EQ(spec.Combo->count(), 3);
        EXPECT_EQ(spec.Combo->itemText(0).toStdString(), "All species");
        EXPECT_EQ(spec.Combo->itemText(1).toStdString(), "CoCl+");
        EXPECT_EQ(spec.Combo->itemText(2).toStdString(), "CoCl4-2");
        EXPECT_EQ(spec.Combo->currentIndex(), 0);
        EXPECT_TRUE(spec.Combo->isEnabled());
        // The main window's buttons are off while the view is open.
        ASSERT_FALSE(ui.buttonCalls.empty());
        EXPECT_EQ(ui.buttonCalls.back(), (std::pair<bool, int>{false, 4}));
        // Both curves are drawn.
        for (int k = 1; k <= 2; ++k) EXPECT_NE(chart.RenderedColor(k), 0) << k;
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(ui.buttonCalls.back(), (std::pair<bool, int>{true, 4}));
    EXPECT_EQ(spec.LastMode(), 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(chartMessages.texts.empty());

    // Independent check of the numbers: chloride complexes grow with NaCl, and the
    // cobalt in both complexes never exceeds the cobalt in the solution (0.05 mol/kg
    // at a density of at most about 1.2 g/cm3).
    for (int j = 1; j < 6; ++j) EXPECT_GT(Concentration(2, j + 1), Concentration(2, j)) << j;
    for (int j = 1; j <= 6; ++j) EXPECT_LT(Concentration(1, j) + Concentration(2, j), 0.05 * 1.2);
}

TEST_F(SpecView, ExtinctionCoefficientsTimesConcentrationsGiveTheCalculatedSpectra) {
    std::vector<std::vector<float>> conc(3, std::vector<float>(7)), eps(3, std::vector<float>(6));
    Show(1, [&] {
        for (int k = 1; k <= 2; ++k)
            for (int j = 1; j <= 6; ++j) conc[k][j] = spec.Chart->PointData(j, k);
    });
    ChartWidget& chart = *spec.Chart;
    Show(2, [&] {
        EXPECT_EQ(spec.windowTitle().toStdString(), "Extinction coefficients");
        EXPECT_EQ(chart.XAxisTitle().toStdString(), "");
        EXPECT_EQ(chart.XAxisMin(), 500.0f);
        EXPECT_EQ(chart.XAxisMax(), 700.0f);
        EXPECT_EQ(chart.XAxisParts(), 0);
        ASSERT_EQ(chart.nSeries(), 2);
        ASSERT_EQ(chart.nPoints(), 5);
        const float wl[] = {500, 550, 600, 650, 700};
        for (int w = 1; w <= 5; ++w) {
            EXPECT_EQ(chart.PointData(w, 0), wl[w - 1]);
            for (int k = 1; k <= 2; ++k) eps[k][w] = chart.PointData(w, k);
        }
    });
    EXPECT_EQ(spec.LastMode(), 2);
    // What the two views show, multiplied out, is the model's absorbance.
    for (int j = 1; j <= 6; ++j)
        for (int w = 1; w <= 5; ++w) {
            const double a = double(eps[1][w]) * conc[1][j] + double(eps[2][w]) * conc[2][j];
            EXPECT_NEAR(a, st.AbsC(j, w), 1e-5 + 1e-5 * std::fabs(a)) << j << "," << w;
        }
}

TEST_F(SpecView, ListAndCheckBoxRebuildInPlace) {
    ChartWidget& chart = *spec.Chart;
    Show(2, [&] {
        spec.Combo->setCurrentIndex(2); // the user picks CoCl4-2
        ASSERT_EQ(spec.Combo->currentIndex(), 2);
        EXPECT_TRUE(spec.isVisible());
        EXPECT_TRUE(chart.SkipSeries(1));
        EXPECT_FALSE(chart.SkipSeries(2));
        EXPECT_EQ(chart.PointData(3, 1), 0.0f); // only the chosen series is filled
        EXPECT_EQ(chart.PointData(3, 2), static_cast<float>(st.Eps(2, 3)));
        // The hidden species is left out of the Y range.
        float lo = 1e30f, hi = -1e30f;
        for (int w = 1; w <= 5; ++w) {
            lo = std::min(lo, chart.PointData(w, 2));
            hi = std::max(hi, chart.PointData(w, 2));
        }
        EXPECT_EQ(chart.YAxis().DataMin, lo);
        EXPECT_EQ(chart.YAxis().DataMax, hi);
        EXPECT_EQ(chart.RenderedColor(1), 0); // never drawn

        spec.Check->setChecked(true); // same mode, same species, logarithmic
        EXPECT_TRUE(chart.YAxisLogScale());
        EXPECT_EQ(spec.windowTitle().toStdString(), "Extinction coefficients");
        EXPECT_EQ(spec.Combo->currentIndex(), 2);
        EXPECT_TRUE(chart.SkipSeries(1));
        EXPECT_EQ(chart.nPoints(), 5);
    });
    EXPECT_TRUE(ui.messages.empty());

    // The choice and the scale survive into the next use, in the other mode too.
    Show(1, [&] {
        EXPECT_EQ(spec.Combo->currentIndex(), 2);
        EXPECT_TRUE(chart.YAxisLogScale());
        EXPECT_TRUE(chart.SkipSeries(1));
        EXPECT_EQ(chart.PointData(4, 2), Concentration(2, 4));
        spec.Check->setChecked(false);
        EXPECT_FALSE(chart.YAxisLogScale());
        EXPECT_EQ(spec.windowTitle().toStdString(), "Concentrations of species (mol/l)");
    });
    // Mode 0 is the mode used last.
    Show(0, [&] { EXPECT_EQ(chart.nPoints(), 6); });
}

TEST_F(SpecView, LogScaleDrawsPositiveConcentrations) {
    ChartWidget& chart = *spec.Chart;
    spec.Check->setChecked(true); // before the first use: nothing to redraw yet
    EXPECT_EQ(spec.LastMode(), 0);
    Show(1, [&] {
        EXPECT_TRUE(chart.YAxisLogScale());
        // Concentrations between about 1e-4 and 5e-2 mol/l: the axis spans their logs.
        EXPECT_LE(chart.YAxis().AxisLow, std::log10(chart.YAxis().DataMin) + 1e-4);
        EXPECT_GE(chart.YAxis().AxisHigh, std::log10(chart.YAxis().DataMax) - 1e-4);
        EXPECT_LT(chart.YAxis().AxisHigh, 0.0f);
        for (int k = 1; k <= 2; ++k) EXPECT_GT(CountColor(chart, chart.RenderedColor(k)), 20);
    });
    EXPECT_TRUE(chartMessages.texts.empty());
}

TEST_F(SpecView, NegativeCoefficientsOnALogAxisStayOutOfTheRange) {
    st.Eps(1, 2) = -5.0;
    spec.Check->setChecked(true);
    Show(2, [&] {
        ChartWidget& chart = *spec.Chart;
        EXPECT_TRUE(chart.YAxisLogScale());
        EXPECT_GT(chart.YAxis().DataMin, 0.0f);
        EXPECT_EQ(chart.PointData(2, 1), -5.0f);
        // The segments to the negative value are cut at the frame: no pixel of the
        // curve below the bottom of the frame.
        const int32_t colour = chart.RenderedColor(1);
        ASSERT_NE(colour, 0);
        int below = 0;
        for (int y = chart.PlotBottom() + 1; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x)
                if (chart.Pixel(x, y) == colour) ++below;
        EXPECT_EQ(below, 0);
    });
    EXPECT_TRUE(chartMessages.texts.empty());
}

TEST_F(SpecView, ChosenSpeciesThatNoLongerExistsFallsBackToAllSpecies) {
    Show(1, [&] { spec.Combo->setCurrentIndex(2); });
    // The user removes the second species from the sheet.
    WriteDataSet(*sheet, 6, 1);
    ASSERT_TRUE(st.xlsWatch->Changed);
    Show(1, [&] {
        EXPECT_EQ(st.nSp, 1);
        ASSERT_EQ(spec.Combo->count(), 2);
        EXPECT_EQ(spec.Combo->currentIndex(), 0);
        EXPECT_EQ(spec.Chart->nSeries(), 1);
        EXPECT_FALSE(spec.Chart->SkipSeries(1));
    });
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
}

TEST_F(SpecView, FailedRereadShowsTheReadersMessageAndNothingElse) {
    Show(1, [] {});
    const size_t calls = ui.buttonCalls.size();
    sheet->SetValue(5, 2, CellValue{std::string("hot")}); // temperature no number
    ASSERT_TRUE(st.xlsWatch->Changed);
    bool opened = false;
    QTimer::singleShot(0, &spec, [&] {
        opened = spec.isVisible();
        spec.close();
    });
    spec.ShowSpeciesView(1);
    QApplication::processEvents();
    EXPECT_FALSE(opened);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    EXPECT_EQ(ui.messages[0].text.rfind("Source data: ", 0), 0u) << ui.messages[0].text;
    EXPECT_EQ(ui.messages[0].text.substr(ui.messages[0].text.size() - 2), "  ");
    EXPECT_EQ(ui.messages[0].text, st.ErrMsg + "  ");
    EXPECT_NE(st.ErrCode, 0);
    // No view: the buttons were not switched off by it.
    for (size_t i = calls; i < ui.buttonCalls.size(); ++i)
        EXPECT_NE(ui.buttonCalls[i], (std::pair<bool, int>{false, 4}));
}

TEST_F(SpecView, CurveShowsTheSpeciesNameAboveThePointer) {
    Show(1, [&] {
        ChartWidget& chart = *spec.Chart;
        emit chart.Curve(2, 40, 30);
        TipWindow* tip = CurrentTip();
        ASSERT_NE(tip, nullptr);
        EXPECT_TRUE(tip->isVisible());
        EXPECT_EQ(tip->Text().toStdString(), "CoCl4-2");
        EXPECT_EQ(tip->Interval(), 3000);
        // Centred on the pointer, ending just above it (in twips, 15 per pixel here).
        const QPoint at = chart.mapToGlobal(QPoint(40, 30));
        const int32_t x = static_cast<int32_t>(std::nearbyint(at.x() * st.TwipsX));
        const long w = std::lrint(tip->width() * st.TwipsX);
        EXPECT_EQ(tip->x(), std::lround((x - w / 2) / st.TwipsX));
        EXPECT_EQ(tip->y() + tip->height(), at.y());

        // Leaving the curve (series 0) names nothing: the tip is not touched.
        tip->close();
        QApplication::processEvents();
        emit chart.Curve(0, 50, 50);
        EXPECT_EQ(CurrentTip(), nullptr);
    });
}

TEST_F(SpecView, MouseOnACurveNamesItsSpecies) {
    Show(1, [&] {
        ChartWidget& chart = *spec.Chart;
        // Find a pixel of species 1's curve in the real drawing and point at it.
        const int32_t colour = chart.RenderedColor(1);
        ASSERT_NE(colour, 0);
        QPoint hit(-1, -1);
        for (int y = chart.PlotTop() + 1; y < chart.PlotBottom() && hit.x() < 0; ++y)
            for (int x = chart.PlotLeft() + 1; x < chart.PlotRight(); ++x)
                if (chart.Pixel(x, y) == colour) {
                    hit = QPoint(x, y);
                    break;
                }
        ASSERT_GE(hit.x(), 0);
        MoveMouse(chart, hit.x(), hit.y());
        ASSERT_NE(CurrentTip(), nullptr);
        EXPECT_EQ(CurrentTip()->Text().toStdString(), "CoCl+");
    });
}

TEST_F(SpecView, GaussianModeReadsTheFixedMarks) {
    // One band for CoCl+ (count in G10), its centre cell I10 commented: parameter 2 fixed.
    st.FitMode = 1;
    st.GaussTab.Redim(3, 1);
    st.GaussTab(0, 0) = 1;
    sheet->SetValue(10, 7, CellValue{1.0});
    sheet->SetComment(10, 9, std::string("fixed"));
    st.xlsWatch->Changed = false; // the marks alone, no re-read
    Show(2, [] {});
    ASSERT_EQ(st.GaussFixed.UBound(), 3);
    EXPECT_EQ(st.GaussFixed(1), 0);
    EXPECT_EQ(st.GaussFixed(2), 1);
    EXPECT_EQ(st.GaussFixed(3), 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SpecView, ValuesThatAreNoNumbersBreakTheLine) {
    st.Eps(1, 3) = std::nan("");
    st.Eps(2, 4) = 1e34; // as good as missing
    Show(2, [&] {
        EXPECT_EQ(spec.Chart->PointData(3, 1), 1e35f);
        EXPECT_EQ(spec.Chart->PointData(4, 2), 1e35f);
        EXPECT_TRUE(std::isfinite(spec.Chart->YAxis().AxisHigh));
        EXPECT_LT(spec.Chart->YAxis().DataMax, 1e30f);
        EXPECT_NE(spec.Chart->RenderedColor(1), 0);
    });
    EXPECT_TRUE(chartMessages.texts.empty());
}

TEST_F(SpecView, StateThatDoesNotFitTheCountsIsReportedNotShown) {
    st.Conc.Redim(2, 3); // fewer solutions than nSol says
    bool opened = false;
    QTimer::singleShot(0, &spec, [&] {
        opened = spec.isVisible();
        spec.close();
    });
    spec.ShowSpeciesView(1);
    EXPECT_FALSE(opened);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Subscript out of range  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
}

TEST_F(SpecView, Screenshot) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "screenshots";
    fs::create_directories(dir);
    Show(1, [&] {
        spec.Combo->setCurrentIndex(0);
        const QImage shot = spec.grab().toImage();
        EXPECT_TRUE(shot.save(QString::fromStdString((dir / "speciation-view.png").string())));
        EXPECT_EQ(shot.size(), spec.size() * shot.devicePixelRatio());
    });
    Show(2, [&] {
        const QImage shot = spec.grab().toImage();
        EXPECT_TRUE(shot.save(QString::fromStdString((dir / "extinction-view.png").string())));
    });
}

} // namespace
} // namespace lumora::test
