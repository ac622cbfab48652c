// F12 on a Gaussian-mode data set with the real goal function: the normal-mode curves
// it computes are the extinction coefficients the absorbances were made from, and
// building and refining in the window recover the generating bands.

#include "windows/FittingModeWindow.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "GoalFixture.h"
#include "TestPort.h"
#include "chart/ChartMessage.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <QTimer>

namespace lumora::test {
namespace {

TEST(FittingModeGoal, NormalCurvesBuildAndRefineRecoverTheGeneratingBands) {
    SetChartMessageSink([](const std::string& text) { ADD_FAILURE() << text; });
    State st;
    TestUi ui(st);
    TestPort port{ui};
    const GoalData d = RandomData(2, 8, 61, 20261206u, false);
    SetUpState(st, d);
    GridWorkbook book(std::string(LUMORA_TEST_BUILD_DIR) + "/f12_goal.xlsx");
    st.xlSheet = book.AddSheet("Data");
    st.GaussArg = false;
    st.WlStart = static_cast<float>(st.WlMin);
    st.WlStop = static_cast<float>(st.WlMax);
    st.SpName.Redim(2);
    st.SpName(1) = "A";
    st.SpName(2) = "B";
    // Centres between wavelength rows, so the built bands are only a start.
    const std::vector<TrueBand> truth = {{1, 0.8037, 0.21, 500.0}, {2, 1.1912, 0.26, 300.0}};
    auto eps = [&](int k, int w) { return BandValue(truth[k - 1], st.AbsM(0, w) / st.MeanWl); };
    for (int j = 1; j <= d.nSol; ++j)
        for (int w = 1; w <= d.nWl; ++w)
            st.AbsM(j, w) = d.conc[1][j] * eps(1, w) + d.conc[2][j] * eps(2, w);
    st.Conc.Redim(2, d.nSol);
    st.Eps.Redim(2, d.nWl);
    st.AbsC.Redim(d.nSol, d.nWl);
    st.NormM.Redim(2, 2);
    // The data set is in the Gaussian mode with rough bands.
    st.FitMode = 1;
    st.GaussTab.Redim(3, 2);
    st.GaussTab(0, 0) = 2;
    for (int g = 1; g <= 2; ++g) {
        st.GaussTab(0, g) = g;
        st.GaussTab(1, g) = truth[g - 1].c + 0.05;
        st.GaussTab(2, g) = truth[g - 1].h * 1.3;
        st.GaussTab(3, g) = std::log(truth[g - 1].height) - 0.4;
    }
    EvaluateGaussians(st);
    ASSERT_EQ(st.ErrCode, 0);
    const Mat<double> rough = st.Eps;

    FittingModeWindow w(st, port);
    bool ran = false;
    QTimer::singleShot(0, &w, [&] {
        ran = true;
        // The goal function's normal mode recovered the generating coefficients.
        for (int k = 1; k <= 2; ++k)
            for (int i = 1; i <= d.nWl; ++i)
                EXPECT_TRUE(FuzzyEqual(st.RefEps(k, i), eps(k, i), 1e-7, 10.0)) << k << " " << i;
        EXPECT_EQ(st.Eps, rough);
        EXPECT_EQ(st.FitMode, 1);

        w.txtLevel->setText("100");
        w.cmdBuild->click();
        EXPECT_EQ(BandCount(st), 2);
        for (int k : {0, 1}) {
            w.Combo->setCurrentIndex(k);
            w.Chart_UserPoint(500.0f, 100.0f);
            EXPECT_EQ(st.ErrCode, 0);
        }
        w.close();
    });
    OpenFittingMode(st, w);
    ASSERT_TRUE(ran);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(st.FitMode, 1);
    ASSERT_EQ(BandCount(st), 2);
    // The refinement ends after its first full step, a few parts in a million off.
    for (int g = 1; g <= 2; ++g) {
        SCOPED_TRACE(g);
        EXPECT_EQ(BandSpecies(st, g), g);
        EXPECT_NEAR(st.GaussTab(1, g), truth[g - 1].c, 1e-5);
        EXPECT_NEAR(st.GaussTab(2, g), truth[g - 1].h, 1e-5);
        EXPECT_FUZZY(std::exp(st.GaussTab(3, g)), truth[g - 1].height, 1e-4);
    }
    // Leaving in the Gaussian mode keeps the refined band sums.
    for (int i = 1; i <= d.nWl; ++i) EXPECT_NEAR(st.Eps(1, i), eps(1, i), 1e-4 * truth[0].height);
    // The sheet holds the refined bands (wavelength bands: centre = MeanWl c).
    const CellValue centre = st.xlSheet->Value(11, 8);
    ASSERT_TRUE(std::holds_alternative<double>(centre));
    EXPECT_NEAR(std::get<double>(centre), truth[1].c * st.MeanWl, 1e-5 * st.MeanWl);
    SetChartMessageSink({});
}

} // namespace
} // namespace lumora::test
