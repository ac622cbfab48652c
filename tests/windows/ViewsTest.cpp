// The result views on the Co(II) chloride data set read by the real engine, against the model
// (Eps x Conc = AbsC) and the sheet, the spectra read back from the pixels, after edits.

#include "CobaltDataSet.h"
#include "TestPort.h"
#include "fit/Goal.h"
#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/Settings.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

#include <filesystem>

namespace lumora::test {
namespace {

class Views : public ::testing::Test, public Engine {
protected:
    void SetUp() override {
        auto book = std::make_unique<GridWorkbook>(st.WorkDir + "views.xlsx");
        sheet = book->AddSheet("Data");
        WriteCobaltDataSet(*sheet, kSolMax, true); // solution 2 missing at 600 nm
        host->Add(std::move(book));
        ui.fileText = "views.xlsx";
        ReadDataSet(st, ui.request());
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    }
    GridSheet* sheet = nullptr;
};

int CountColor(const ChartWidget& chart, int32_t colour) {
    int n = 0;
    for (int y = 0; y < chart.height(); ++y)
        for (int x = 0; x < chart.width(); ++x) n += chart.Pixel(x, y) == colour;
    return n;
}
constexpr int32_t kBlue = ColorValue(0, 0, 255), kRed = ColorValue(255, 0, 0);

QStringList LegendNames(const ChartWidget& chart) {
    QStringList names;
    for (const LegendEntry& e : chart.LegendEntries()) names << e.name;
    return names;
}

void ExpectTitles(const ChartWidget& chart, const QString& x, const QString& y) {
    EXPECT_EQ(chart.XAxisTitle(), x);
    EXPECT_EQ(chart.YAxisTitle(), y);
}

class AbsView : public Views {
protected:
    void ExpectCalculated(int j, int series) {
        for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, series), st.AbsC(j, w)) << w;
    }
    AbsorptionView view{st, port, nullptr};
    ChartWidget& chart = *view.chart;
};

TEST_F(AbsView, MeasuredBlueCalculatedRedAgainstTheSheetAndTheModel) {
    view.ShowAbsorptionView();
    ASSERT_EQ(view.list->count(), 7); // "All solutions", S1..S6
    ASSERT_EQ(chart.nSeries(), 7);
    ASSERT_EQ(chart.nPoints(), 5);
    for (int w = 1; w <= 5; ++w) // 500..700 nm in rows 20..24, S1..S6 in columns 2..7
        for (int j = 1; j <= 6; ++j) {
            const CellValue cell = sheet->Value(19 + w, 1 + j);
            EXPECT_EQ(chart.PointData(w, j), IsEmpty(cell) ? 1e35f : float(std::get<double>(cell)))
                << "the line breaks at the empty cell";
        }
    EXPECT_TRUE(chart.SkipSeries(7));
    EXPECT_EQ(CountColor(chart, kRed), 0);
    ExpectTitles(chart, "Wavelength (nm)", "Absorbance");
    EXPECT_EQ(LegendNames(chart), (QStringList{"S1", "S2", "S3", "S4", "S5", "S6"}));
    const float allMin = chart.YAxis().DataMin, allMax = chart.YAxis().DataMax;

    view.list->setCurrentIndex(3); // the user picks S3
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(chart.SkipSeries(j), j != 3) << j;
    ExpectCalculated(3, 7);
    EXPECT_GT(CountColor(chart, kBlue), 20);
    EXPECT_GT(CountColor(chart, kRed), 20);
    EXPECT_EQ(LegendNames(chart), (QStringList{"S3 measured", "S3 calculated"}));
    EXPECT_LE(chart.YAxis().DataMin, allMin) << "the range still covers all spectra";
    EXPECT_GE(chart.YAxis().DataMax, allMax);
    st.G0(2) += 5.0; // what the optimizer does between two refreshes
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    view.ShowAbsorptionView();
    EXPECT_EQ(view.ListIndex(), 3) << "the selection stays";
    ExpectCalculated(3, 7);
    EXPECT_TRUE(ui.messages.empty());
}

// However many solutions, the one shown is blue and only the calculated spectrum red.
TEST(AbsViewPalette, OnlyTheCalculatedSpectrumIsRed) {
    for (int nSol : {6, 15, 16, 17, 40})
        for (int sel = 1; sel <= nSol; ++sel) {
            ChartPalette p = DefaultPalette();
            SetCustomColorsText(p, TwoColourPaletteFor(nSol, sel).toStdU16String());
            const int calc = CalculatedSeries(nSol, sel);
            EXPECT_TRUE(calc > nSol && calc <= nSol + (nSol >= 16 ? 2 : 1));
            EXPECT_EQ(std::pair(SeriesColor(p, sel) & 0xFFFFFF, SeriesColor(p, calc) & 0xFFFFFF),
                      std::pair(kBlue, kRed))
                << nSol << " solutions, " << sel << " shown";
        }
}

// The user shortens the sheet to three solutions and types a value while S5 is shown: the
// view reads the sheet again, goes back to all solutions and never indexes a gone one.
TEST_F(AbsView, EditedSheetIsReadAgainAndReloaded) {
    view.ShowAbsorptionView();
    const QString allColours = chart.CustomColors();
    view.list->setCurrentIndex(5);
    const long serial = st.ReadSerial;
    WriteCobaltDataSet(*sheet, 3, true);
    sheet->SetValue(19 + 1, 2, CellValue{0.5}); // S1 at 500 nm
    ASSERT_TRUE(st.xlsWatch->Changed);
    view.ShowAbsorptionView();
    EXPECT_EQ(st.ReadSerial, serial + 1);
    EXPECT_FALSE(st.xlsWatch->Changed);
    ExpectMessage(ui, "");
    EXPECT_EQ(view.ListIndex(), 0);
    EXPECT_EQ(chart.CustomColors(), allColours) << "not the two colours of one solution";
    ASSERT_EQ(view.list->count(), 4);
    EXPECT_EQ(chart.nSeries(), 4);
    EXPECT_EQ(chart.PointData(1, 1), 0.5f);
    view.list->setCurrentIndex(3);
    ExpectCalculated(3, 4);
}

// A window left larger opens so in the next session; the main window's rewrite of the
// working folder keeps the place.
TEST_F(AbsView, PlaceIsKeptInTheSettingsFile) {
    const auto dir = std::filesystem::path(LUMORA_TEST_BUILD_DIR) / "places";
    std::filesystem::remove_all(dir);
    SetWindowPlacesFolder(dir.string());
    view.ShowAbsorptionView();
    view.resize(700, 500);
    view.hide();
    ASSERT_TRUE(WriteWorkDir(dir.string(), "/data/"));
    SetWindowPlacesFolder(dir.string()); // forgets what the session knew
    AbsorptionView again{st, port, nullptr};
    again.ShowAbsorptionView();
    EXPECT_EQ(again.size(), QSize(700, 500));
    EXPECT_EQ(again.chart->size(), chart.size());
    EXPECT_EQ(ReadWorkDir(dir.string()), "/data/");
    SetWindowPlacesFolder("");
}

TEST_F(Views, ExtinctionCoefficientsTimesConcentrationsGiveTheCalculatedSpectra) {
    ConcentrationView view{st, port, nullptr};
    ChartWidget& chart = *view.chart;
    const auto Show = [&](int16_t mode, const std::function<void()>& inside) {
        EXPECT_TRUE(WhileShown(
            view, [&] { view.ShowSpeciesView(mode); }, inside));
    };
    std::vector<std::vector<float>> conc(3, std::vector<float>(7)), eps(3, std::vector<float>(6));
    Show(1, [&] {
        ASSERT_EQ(chart.nSeries(), 2);
        ASSERT_EQ(chart.nPoints(), 6);
        ExpectTitles(chart, "Solution number", "Concentration (mol/l)");
        EXPECT_EQ(LegendNames(chart), (QStringList{"CoCl+", "CoCl4-2"}));
        EXPECT_GE(view.width(), CaptionWidth(view)) << "the caption is not cut";
        // Larger by 200 x 100 pixels: the chart takes them, the list keeps to its side.
        const QSize chartSize = chart.size();
        const int listRight = view.width() - view.list->x();
        view.resize(view.size() + QSize(200, 100));
        EXPECT_EQ(chart.size(), chartSize + QSize(200, 100));
        EXPECT_EQ(view.width() - view.list->x(), listRight);
        for (int k = 1; k <= 2; ++k)
            for (int j = 1; j <= 6; ++j) conc[k][j] = chart.PointData(j, k);
    });
    Show(2, [&] {
        ASSERT_EQ(chart.nPoints(), 5);
        ExpectTitles(chart, "Wavelength (nm)",
                     "Molar absorptivity (l mol\u207B\u00B9 cm\u207B\u00B9)");
        for (int k = 1; k <= 2; ++k)
            for (int w = 1; w <= 5; ++w) eps[k][w] = chart.PointData(w, k);
    });
    for (int j = 1; j <= 6; ++j)
        for (int w = 1; w <= 5; ++w) {
            const double a = double(eps[1][w]) * conc[1][j] + double(eps[2][w]) * conc[2][j];
            EXPECT_NEAR(a, st.AbsC(j, w), 1e-5 + 1e-5 * std::fabs(a)) << j << "," << w;
        }
    // Chloride complexes grow with NaCl; the cobalt in them never exceeds the cobalt in the
    // solution (0.05 mol/kg at a density of at most about 1.2 g/cm3).
    for (int j = 1; j < 6; ++j) EXPECT_GT(conc[2][j + 1], conc[2][j]) << j;
    for (int j = 1; j <= 6; ++j) EXPECT_LT(conc[1][j] + conc[2][j], 0.05 * 1.2);
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace
} // namespace lumora::test
