// The speciation and extinction-coefficient view on a data set read with the real engine:
// what the two modes show multiplies out to the model's absorbances, also after the sheet
// lost a species.

#include "windows/ConcentrationView.h"
#include "ViewsFixture.h"

#include <QTimer>

namespace lumora::test {
namespace {

class SpecView : public ViewsFixture {
protected:
    /// Shows the view in mode `mode` and runs `inside` once it is open, then closes it.
    void Show(int16_t mode, std::function<void()> inside) {
        bool ran = false;
        QTimer::singleShot(0, &spec, [&] {
            ran = spec.isVisible();
            inside();
            spec.close();
        });
        spec.ShowSpeciesView(mode);
        QCoreApplication::processEvents(); // a timer that found no view fires here
        EXPECT_TRUE(ran);
    }
    ConcentrationView spec{st, port, nullptr};
    ChartWidget& chart = *spec.Chart;
};

TEST_F(SpecView, ExtinctionCoefficientsTimesConcentrationsGiveTheCalculatedSpectra) {
    std::vector<std::vector<float>> conc(3, std::vector<float>(7)), eps(3, std::vector<float>(6));
    Show(1, [&] {
        ASSERT_EQ(chart.nSeries(), 2);
        ASSERT_EQ(chart.nPoints(), 6);
        for (int k = 1; k <= 2; ++k)
            for (int j = 1; j <= 6; ++j) conc[k][j] = chart.PointData(j, k);
    });
    Show(2, [&] {
        ASSERT_EQ(chart.nPoints(), 5);
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
    EXPECT_TRUE(chartMessages.empty());
}

TEST_F(SpecView, ChosenSpeciesThatNoLongerExistsFallsBackToAllSpecies) {
    Show(1, [&] { spec.Combo->setCurrentIndex(2); });
    WriteDataSet(*sheet, 6, 1); // the user removes the second species from the sheet
    ASSERT_TRUE(st.xlsWatch->Changed);
    Show(1, [&] {
        EXPECT_EQ(st.nSp, 1);
        ASSERT_EQ(spec.Combo->count(), 2);
        EXPECT_EQ(spec.Combo->currentIndex(), 0);
        EXPECT_EQ(chart.nSeries(), 1);
        EXPECT_FALSE(chart.SkipSeries(1));
    });
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
}

} // namespace
} // namespace lumora::test
