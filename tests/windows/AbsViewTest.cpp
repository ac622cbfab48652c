// The absorption view on a data set read with the real engine: the chart's data and
// colours (read back from its pixels), the list, reloads after reads, re-read
// failures, resizing and the names under the mouse.

#include "ViewsFixture.h"
#include "windows/AbsorptionView.h"
#include "windows/TipWindow.h"

#include "chart/scale/ChartPalette.h"
#include "fit/Goal.h"

#include <QElapsedTimer>
#include <QScreen>

#include <algorithm>
#include <filesystem>

namespace lumora::test {
namespace {

constexpr int32_t kBlue = ColorValue(0, 0, 255);
constexpr int32_t kRed = ColorValue(255, 0, 0);

ChartPalette Decode(const QString& text) {
    ChartPalette p = DefaultPalette();
    SetCustomColorsText(p, text.toStdU16String());
    return p;
}

class AbsView : public ViewsFixture {
protected:
    void SetUp() override {
        ViewsFixture::SetUp();
        if (TipWindow* tip = CurrentTip()) tip->close();
    }
    AbsorptionView view{st, port, nullptr};
    ChartWidget& chart = *view.Chart;
};

TEST_F(AbsView, FirstShowLoadsAllMeasuredSpectraInTheChartsColours) {
    EXPECT_EQ(view.ListIndex(), -1);
    const QString fresh = chart.CustomColors();
    view.ShowAbsorptionView();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(chartMessages.texts.empty());
    EXPECT_TRUE(view.isVisible());
    EXPECT_FALSE(view.isModal());
    EXPECT_EQ(view.windowTitle().toStdString(), "Absorption Spectra");
    EXPECT_TRUE(view.windowFlags() & Qt::WindowStaysOnTopHint);

    ASSERT_EQ(view.Combo->count(), 7);
    EXPECT_EQ(view.Combo->itemText(0).toStdString(), "All solutions");
    for (int j = 1; j <= 6; ++j)
        EXPECT_EQ(view.Combo->itemText(j).toStdString(), "S" + std::to_string(j));
    EXPECT_EQ(view.ListIndex(), 0);

    ASSERT_EQ(chart.nSeries(), 7);
    ASSERT_EQ(chart.nPoints(), 5);
    EXPECT_EQ(chart.XAxisMin(), 500.0f);
    EXPECT_EQ(chart.XAxisMax(), 700.0f);
    EXPECT_EQ(chart.XAxisTitle().toStdString(), "");
    EXPECT_FALSE(chart.YAxisLogScale());
    const float wl[] = {500, 550, 600, 650, 700};
    for (int w = 1; w <= 5; ++w) {
        EXPECT_EQ(chart.PointData(w, 0), wl[w - 1]);
        for (int j = 1; j <= 6; ++j) {
            // The sheet's values: a Gaussian band growing with NaCl (written by the fixture).
            const double peak = std::exp(-std::pow((wl[w - 1] - 690.0) / 40.0, 2));
            const float sheet =
                static_cast<float>(0.02 + 0.05 * kNaCl[j - 1] * peak + 0.001 * (j - 1));
            if (j == 2 && w == 3)
                EXPECT_EQ(chart.PointData(w, j), 1e35f); // empty cell: the line breaks
            else
                EXPECT_EQ(chart.PointData(w, j), sheet) << j << "," << w;
            EXPECT_FALSE(chart.SkipSeries(j));
        }
    }
    EXPECT_TRUE(chart.SkipSeries(7));
    // The chart's own colours, kept as the all-solutions palette.
    EXPECT_EQ(view.AllSolutionsPalette(), fresh);
    EXPECT_EQ(chart.CustomColors(), fresh);
    const ChartPalette def = DefaultPalette();
    for (int j = 1; j <= 6; ++j)
        EXPECT_GT(CountColor(chart, SeriesColor(def, j)), 10) << "solution " << j;
    EXPECT_EQ(CountColor(chart, kRed), 0);
    // Y covers every measured value, missing one excepted.
    EXPECT_EQ(chart.YAxis().DataMin, 0.02f);
    EXPECT_EQ(chart.YAxis().DataMax, chart.PointData(5, 6));
}

TEST_F(AbsView, TwoColourPaletteByHand) {
    // Six solutions: entries 16711680 - i, entry 6 = 255 - 6.
    const ChartPalette p = Decode(TwoColourPaletteFor(6, 0));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], i == 6 ? 249 : 16711680 - i) << i;
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(SeriesColor(p, k), kBlue) << k;
    EXPECT_EQ(SeriesColor(p, 7), kRed);
    // Fifteen solutions, the most the palette has entries for.
    const ChartPalette q = Decode(TwoColourPaletteFor(15, 3));
    EXPECT_EQ(q[15], 240);
    EXPECT_EQ(SeriesColor(q, 16), kRed);
    for (int k = 1; k <= 15; ++k) EXPECT_EQ(SeriesColor(q, k), kBlue) << k;
}

TEST_F(AbsView, SixteenSolutionsOrMoreKeepTheCalculatedSpectrumRed) {
    for (int nSol : {16, 17, 31, 40, 255, 256, 300, 4000}) {
        for (int sel : {1, 2, 16, 17, nSol}) {
            if (sel > nSol) continue;
            SCOPED_TRACE(std::to_string(nSol) + " solutions, selected " + std::to_string(sel));
            const ChartPalette p = Decode(TwoColourPaletteFor(nSol, sel));
            for (int i = 0; i < 16; ++i) EXPECT_GE(p[i], 0) << "no system-colour code";
            const int32_t calc = SeriesColor(p, nSol + 1);
            EXPECT_EQ(calc & 0xFFFFFF, kRed);
            const int32_t measured = SeriesColor(p, sel);
            EXPECT_NE(measured, calc) << "the tip must tell them apart";
            if ((sel - 1) % 16 != nSol % 16) {
                EXPECT_EQ(measured & 0xFFFFFF, kBlue);
            }
        }
    }
}

TEST_F(AbsView, OneSolutionMeasuredBlueCalculatedRedOnTheWholeRange) {
    view.ShowAbsorptionView();
    const float allMin = chart.YAxis().DataMin, allMax = chart.YAxis().DataMax;
    view.Combo->setCurrentIndex(3); // the user picks S3
    EXPECT_EQ(view.ListIndex(), 3);
    EXPECT_TRUE(ui.messages.empty());
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(chart.SkipSeries(j), j != 3) << j;
    EXPECT_FALSE(chart.SkipSeries(7));
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 7), st.AbsC(3, w)) << w;
    EXPECT_EQ(chart.CustomColors(), view.TwoColourPalette());
    // Real pixels: the measured spectrum pure blue, the calculated one pure red, no
    // other series drawn.
    EXPECT_GT(CountColor(chart, kBlue), 20);
    EXPECT_GT(CountColor(chart, kRed), 20);
    const ChartPalette def = DefaultPalette();
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(CountColor(chart, SeriesColor(def, j)), 0) << j;
    // The Y range still covers all spectra (drawn cumulatively).
    EXPECT_LE(chart.YAxis().DataMin, allMin);
    EXPECT_GE(chart.YAxis().DataMax, allMax);

    // Back to all solutions: the chart's colours again and a range of its own.
    view.Combo->setCurrentIndex(0);
    EXPECT_EQ(chart.CustomColors(), view.AllSolutionsPalette());
    EXPECT_TRUE(chart.SkipSeries(7));
    EXPECT_EQ(CountColor(chart, kRed), 0);
    EXPECT_EQ(chart.YAxis().DataMin, allMin);
    EXPECT_EQ(chart.YAxis().DataMax, allMax);
}

TEST_F(AbsView, RefreshAfterNewParametersRedrawsTheCalculatedSpectrum) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(6);
    const float before = chart.PointData(5, 7);
    // What the optimizer does between two refreshes: new parameters, a new evaluation.
    st.G0(2) += 5.0;
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    view.ShowAbsorptionView();
    EXPECT_EQ(view.ListIndex(), 6) << "the selection stays";
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 7), st.AbsC(6, w)) << w;
    EXPECT_NE(chart.PointData(5, 7), before);
    EXPECT_GT(CountColor(chart, kRed), 20);
}

TEST_F(AbsView, NewReadResetsToAllSolutionsAndNeverIndexesAGoneSolution) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(5);
    const QString twoColour = view.TwoColourPalette();
    // "Open / Refresh" with a sheet that now has three solutions.
    WriteDataSet(*sheet, 3);
    Read();
    ASSERT_EQ(st.nSol, 3);
    view.ShowAbsorptionView();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(view.ListIndex(), 0);
    ASSERT_EQ(view.Combo->count(), 4);
    EXPECT_EQ(chart.nSeries(), 4);
    EXPECT_TRUE(chart.SkipSeries(4));
    for (int j = 1; j <= 3; ++j) EXPECT_FALSE(chart.SkipSeries(j));
    // The colours read back at that moment are the two-colour ones: all spectra blue.
    EXPECT_EQ(view.AllSolutionsPalette(), twoColour);
    EXPECT_GT(CountColor(chart, kBlue), 30);
    EXPECT_EQ(CountColor(chart, kRed), 0);
    // Selecting the last remaining solution works on the new data.
    view.Combo->setCurrentIndex(3);
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 4), st.AbsC(3, w));
}

TEST_F(AbsView, EditedSheetIsReadAgainAndReloaded) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(2);
    const long serial = st.ReadSerial;
    sheet->SetValue(19 + 1, 2, CellValue{0.5}); // S1 at 500 nm, as the user types it
    ASSERT_TRUE(st.xlsWatch->Changed);
    view.ShowAbsorptionView();
    EXPECT_EQ(st.ReadSerial, serial + 1);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_EQ(view.ListIndex(), 0);
    EXPECT_EQ(chart.PointData(1, 1), 0.5f);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AbsView, FailedRereadShowsTheMessageAndLeavesTheViewAlone) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(4);
    view.hide();
    const float kept = chart.PointData(2, 7);
    sheet->SetValue(7, 2, CellValue{std::string("blue")}); // wl_start no number
    view.ShowAbsorptionView();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    EXPECT_EQ(ui.messages[0].text, st.ErrMsg + "  ");
    EXPECT_EQ(ui.messages[0].text.rfind("Source data: ", 0), 0u) << ui.messages[0].text;
    EXPECT_FALSE(view.isVisible());
    EXPECT_EQ(view.ListIndex(), 4);
    EXPECT_EQ(chart.PointData(2, 7), kept);

    // Repaired: the next show reads again and starts from all solutions.
    sheet->SetValue(7, 2, CellValue{500.0});
    st.ErrCode = 0; // as the main window does after every command
    view.ShowAbsorptionView();
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.ListIndex(), 0);
}

TEST_F(AbsView, UnloadForgetsTheListAndTheNextShowReloads) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(2);
    view.Unload();
    EXPECT_FALSE(view.isVisible());
    EXPECT_EQ(view.ListIndex(), -1);
    view.ShowAbsorptionView();
    EXPECT_EQ(view.ListIndex(), 0);
    EXPECT_EQ(view.Combo->count(), 7);
    EXPECT_TRUE(chart.SkipSeries(7));
}

TEST_F(AbsView, ResizeKeepsTheFirstSizeAndMovesTheControls) {
    view.ShowAbsorptionView();
    const QSize first = view.size();
    const int dW = first.width() - chart.width(), dH = first.height() - chart.height();
    const int dC = first.height() - view.Combo->y();
    const QPoint chartAt = chart.pos();

    view.resize(first.width() - 40, first.height() - 30);
    QApplication::processEvents();
    EXPECT_EQ(view.size(), first);

    view.resize(first.width() + 200, first.height() + 100);
    QApplication::processEvents();
    ASSERT_EQ(view.size(), QSize(first.width() + 200, first.height() + 100));
    EXPECT_EQ(chart.pos(), chartAt);
    EXPECT_EQ(chart.width(), view.width() - dW);
    EXPECT_EQ(chart.height(), view.height() - dH);
    EXPECT_EQ(view.Combo->x(), (view.width() - view.Combo->width()) / 2);
    EXPECT_EQ(view.Combo->y(), view.height() - dC);
    // The chart redrew itself at the new size.
    EXPECT_EQ(chart.Surface().width(), chart.width());
    EXPECT_GT(CountColor(chart, SeriesColor(DefaultPalette(), 1)), 10);

    view.showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AbsView, CurveNamesSolutionsAndTheCalculatedSpectrum) {
    view.ShowAbsorptionView();
    emit chart.Curve(4, 30, 40);
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_EQ(CurrentTip()->Text().toStdString(), "S4");
    EXPECT_EQ(CurrentTip()->Interval(), 3000);
    emit chart.Curve(7, 30, 40); // series nSol + 1
    EXPECT_EQ(CurrentTip()->Text().toStdString(), "Calculated");
    const QPoint at = chart.mapToGlobal(QPoint(30, 40));
    EXPECT_EQ(CurrentTip()->y() + CurrentTip()->height(), at.y());
    CurrentTip()->close();
    QApplication::processEvents();
    emit chart.Curve(0, 30, 40);
    EXPECT_EQ(CurrentTip(), nullptr);
}

TEST_F(AbsView, MouseOnTheRedSpectrumSaysCalculated) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(5);
    QPoint hit(-1, -1);
    for (int y = chart.PlotTop() + 1; y < chart.PlotBottom() && hit.x() < 0; ++y)
        for (int x = chart.PlotLeft() + 1; x < chart.PlotRight(); ++x)
            if (chart.Pixel(x, y) == kRed) {
                hit = QPoint(x, y);
                break;
            }
    ASSERT_GE(hit.x(), 0);
    MoveMouse(chart, hit.x(), hit.y());
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_EQ(CurrentTip()->Text().toStdString(), "Calculated");
}

TEST_F(AbsView, GaussianModeReadsTheFixedMarksUnlessItReadsAgain) {
    st.FitMode = 1;
    st.GaussTab.Redim(3, 2);
    st.GaussTab(0, 0) = 2;
    sheet->SetValue(10, 7, CellValue{2.0}); // two bands for CoCl+: parameters in H10..M10
    sheet->SetComment(10, 13, std::string("fixed"));
    st.xlsWatch->Changed = false;
    view.ShowAbsorptionView();
    ASSERT_EQ(st.GaussFixed.UBound(), 6);
    for (int a = 1; a <= 6; ++a) EXPECT_EQ(st.GaussFixed(a), a == 6 ? 1 : 0) << a;
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AbsView, EscapeReachesTheOwner) {
    // The main window turns Esc into the interrupt request; the view hands it on.
    struct Owner : QWidget {
        int escapes = 0;
        void keyPressEvent(QKeyEvent* e) override { escapes += e->key() == Qt::Key_Escape; }
    } owner;
    AbsorptionView owned(st, port, &owner);
    owned.ShowAbsorptionView();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&owned, &esc);
    EXPECT_EQ(owner.escapes, 1);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(&owned, &other);
    EXPECT_EQ(owner.escapes, 1);
}

TEST_F(AbsView, Screenshot) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "screenshots";
    fs::create_directories(dir);
    view.ShowAbsorptionView();
    view.resize(view.width() + 150, view.height() + 60);
    QApplication::processEvents();
    EXPECT_TRUE(
        view.grab().toImage().save(QString::fromStdString((dir / "absorption-all.png").string())));
    view.Combo->setCurrentIndex(4);
    QApplication::processEvents();
    EXPECT_TRUE(
        view.grab().toImage().save(QString::fromStdString((dir / "absorption-one.png").string())));
    // On a real display (xvfb-run with QT_QPA_PLATFORM=xcb) the screen with the tip of
    // the red spectrum as well.
    if (QGuiApplication::platformName() != "offscreen") {
        for (int x = chart.PlotRight() - 2; x > chart.PlotLeft(); --x)
            for (int y = chart.PlotTop() + 1; y < chart.PlotBottom(); ++y)
                if (chart.Pixel(x, y) == kRed) {
                    MoveMouse(chart, x, y);
                    x = 0;
                    break;
                }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_NE(CurrentTip(), nullptr);
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QString::fromStdString((dir / "absorption-screen.png").string()));
    }
}

} // namespace
} // namespace lumora::test
