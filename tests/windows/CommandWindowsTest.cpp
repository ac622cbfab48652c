// The F1 and F12 windows, offscreen: factor analysis of seeded data of known rank, and the
// fitting modes with the real goal function recovering the bands the data were made from.

#include "GaussFixture.h"
#include "GoalFixture.h"
#include "SyntheticAbsorbances.h"
#include "TestPort.h"
#include "dataset/OptimizeCommand.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

namespace lumora::test {
namespace {

class FactorWindowTest : public ::testing::Test {
protected:
    FactorWindowTest() { MakeSpectra(st, Synthetic{10, 80, 2, 1e-3, 2}); }

    bool RunF1(const std::function<void(FactorWindow&)>& inside) {
        return WhileShown(
            window, [&] { FactorAnalysis(st, port, 0, &window); }, [&] { inside(window); });
    }

    ChartMisuseFails charts;
    State st;
    TestUi ui{st};
    TestPort port{ui};
    FactorWindow window{st};
};

// Rank 2 with noise of 1E-3: two factors, the error to one digit, R peaking at 2 and ending at
// 0. A stored choice beyond the list (made for a larger data set) gives way to the estimate.
TEST_F(FactorWindowTest, ShowsTheIndicatorTheErrorAndTheCounts) {
    st.nFactors = 10;
    EXPECT_TRUE(RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.errorLabel->text().toStdString(), "Estimated RMS error is 1E-3");
        ASSERT_EQ(w.list->count(), 9); // " 1" .. " 9"
        EXPECT_EQ(w.list->currentText().toStdString(), " 2");
        EXPECT_FALSE(w.check->isChecked());
        ASSERT_EQ(w.chart->nPoints(), 11);
        EXPECT_EQ(w.chart->PointData(11, 1), 0.0f);
        EXPECT_GT(w.chart->PointData(3, 1), w.chart->PointData(2, 1));
        EXPECT_GT(w.chart->PointData(3, 1), w.chart->PointData(4, 1));
        // Ticking the box and pressing Esc stores the count shown
        w.check->setChecked(true);
        w.list->setCurrentIndex(2);
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(st.nFactors, 3);
    EXPECT_TRUE(ui.messages.empty());
    // Shown again, the stored choice is ticked; unticking drops it.
    EXPECT_TRUE(RunF1([&](FactorWindow& w) {
        EXPECT_TRUE(w.check->isChecked());
        EXPECT_EQ(w.list->currentText().toStdString(), " 3");
        w.check->setChecked(false);
    }));
    EXPECT_EQ(st.nFactors, 0);
}

// Identical spectra are shown as not analysable; a negative weight ends the command with a
// message. Neither stores a number of factors.
TEST_F(FactorWindowTest, DataThatCannotBeAnalyzed) {
    st.nFactors = 2;
    for (int j = 2; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w) st.AbsM(j, w) = st.AbsM(1, w);
    EXPECT_TRUE(RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.errorLabel->text().toStdString(), "Data are not factor analyzable");
        EXPECT_EQ(w.list->count(), 0);
        w.check->setChecked(true); // ticked, but no count to show
    }));
    EXPECT_EQ(st.nFactors, 0);
    ExpectMessage(ui, "");
    MakeSpectra(st, Synthetic{10, 80, 2, 1e-3, 2});
    st.nFactors = 2;
    st.SolWeight(3) = -0.5f;
    EXPECT_FALSE(RunF1([](FactorWindow&) {}));
    EXPECT_EQ(st.nFactors, 2);
    ExpectMessage(ui, "Factor analysis failed: Invalid procedure call or argument  ");
}

TEST(FittingModeGoal, NormalCurvesBuildAndRefineRecoverTheGeneratingBands) {
    ChartMisuseFails charts;
    State st;
    TestUi ui(st);
    TestPort port{ui};
    const GoalData d = RandomData(2, 8, 61, 20261206u, false);
    SetUpState(st, d);
    GridSheet sheet{nullptr, "Data"};
    st.xlSheet = &sheet;
    st.GaussArg = false;
    st.SpName.Redim(2);
    // Centres between wavelength rows, so the built bands are only a start.
    const std::vector<TrueBand> truth = {{1, 0.8037, 0.21, 500.0}, {2, 1.1912, 0.26, 300.0}};
    auto eps = [&](int k, int w) { return BandValue(truth[k - 1], st.AbsM(0, w) / st.MeanWl); };
    for (int j = 1; j <= d.nSol; ++j)
        for (int w = 1; w <= d.nWl; ++w)
            st.AbsM(j, w) = d.conc[1][j] * eps(1, w) + d.conc[2][j] * eps(2, w);
    st.Eps.Redim(2, d.nWl);
    st.FitMode = 1; // the data set is in the Gaussian mode with rough bands
    FillGaussTab(
        st, {{1, 0.8537, 0.273, std::log(500.0) - 0.4}, {2, 1.2412, 0.338, std::log(300.0) - 0.4}});
    EvaluateGaussians(st);
    ASSERT_EQ(st.ErrCode, 0);
    const Mat<double> rough = st.Eps;

    FittingModeWindow w(st, port);
    ASSERT_TRUE(WhileShown(
        w, [&] { OpenFittingMode(st, w); },
        [&] {
            // The goal function's normal mode recovered the generating coefficients.
            for (int k = 1; k <= 2; ++k)
                for (int i = 1; i <= d.nWl; ++i)
                    EXPECT_TRUE(FuzzyEqual(st.RefEps(k, i), eps(k, i), 1e-7, 10.0))
                        << k << " " << i;
            EXPECT_EQ(st.Eps, rough);
            w.thresholdEdit->setText("100");
            w.buildButton->click();
            EXPECT_EQ(BandCount(st), 2);
            for (int k : {0, 1}) {
                w.list->setCurrentIndex(k);
                w.OnChartPick(500.0f, 100.0f);
                EXPECT_EQ(st.ErrCode, 0);
            }
        }));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(st.FitMode, 1);
    ASSERT_EQ(BandCount(st), 2);
    // The refined band sums (the generating curves: BuildTest checks the bands themselves)
    // stay, and the sheet holds the refined bands (centre = MeanWl c).
    for (int k = 1; k <= 2; ++k)
        for (int i = 1; i <= d.nWl; ++i)
            EXPECT_NEAR(st.Eps(k, i), eps(k, i), 1e-4 * truth[k - 1].height) << k << " " << i;
    EXPECT_NEAR(std::get<double>(sheet.Value(11, 8)), truth[1].c * st.MeanWl, 1e-5 * st.MeanWl);
}

// The bundled example (bands Gaussian in wavelength, 2 + 2 + 3) with 6 bands built in
// wavenumber at threshold 10: refining CoCl4-2 ends, counted in the title. The run reaches the
// least misfit these bands allow (0.011882 at about -187.12 and -563.38 kJ/mol: a separate fit
// of energies and bands together) and says it is far worse than the normal mode's.
TEST(FittingModeGoal, BandsThatCannotDescribeTheExampleAreReported) {
    Engine e("gauss-e2e");
    e.ui.interruptAtYield = 200000; // a refinement that never ends fails instead of hanging
    ReadDataSet(e.st, e.ui.request());
    ASSERT_EQ(e.st.ErrCode, 0) << e.st.ErrMsg;
    FittingModeWindow w(e.st, e.port);
    std::vector<std::string> titles;
    QObject::connect(&w, &QWidget::windowTitleChanged,
                     [&](const QString& t) { titles.push_back(t.toStdString()); });
    ASSERT_TRUE(WhileShown(
        w, [&] { OpenFittingMode(e.st, w); },
        [&] {
            w.modeButtons[1]->click();
            w.thresholdEdit->setText("10");
            w.buildButton->click();
            w.list->setCurrentIndex(2);
            w.OnChartPick(650.0f, 100.0f);
        }));
    ExpectMessage(e.ui, "");
    ASSERT_GT(titles.size(), 3u);
    const std::string refining = "Refining... (Esc to stop)";
    EXPECT_EQ(std::tuple(titles[0], titles[1], titles.back()),
              std::tuple(refining, refining + "  Iteration: 1", "Fitting Mode"));

    OptimizeCommand(e.st, e.ui.request());
    EXPECT_NEAR(e.st.RmsErr, 0.011882, 1e-6);
    EXPECT_NEAR(e.st.G0(2), -187.12, 0.2);
    EXPECT_NEAR(e.st.G0(3), -563.38, 0.4);
    ExpectMessage(
        e.ui, "Gaussian mode: the mean error 0.011882 is 20.8 times the normal mode's 0.00057...",
        Icon::Exclamation);
}

class FittingModeTest : public ::testing::Test {
protected:
    FittingModeTest() {
        st.xlsWatch->SetSheet(s.sheet);
        // Normal-mode curves: band sums with a ripple, so that the two modes differ.
        s.SetReference({{1, 0.8, 0.06, 100.0}, {1, 1.15, 0.08, 60.0}, {2, 1.0, 0.15, 20.0}});
        for (int k = 1; k <= 2; ++k)
            for (int w = 1; w <= 61; ++w) st.RefEps(k, w) *= 1.0 + 0.05 * std::sin(w);
        normal = st.Eps = st.RefEps;
        st.RefEps.Erase();
        st.xlsWatch->Changed = true;
    }
    ChartMisuseFails charts;
    GaussSpectrum s{2, 61, false};
    State& st = s.st;
    Mat<double> normal;
    TestPort port{s.ui};
    FittingModeWindow w{st, port};
};

// A failed re-read of the edited sheet is reported and nothing of the stale data set is used;
// a good one comes before the reference curves are taken.
TEST_F(FittingModeTest, EditedSheetIsReadAgainFirst) {
    s.SetTable({{1, 0.8, 0.06, 100.0}, {2, 1.0, 0.15, 20.0}}); // bands on the sheet only
    WriteGaussianTable(st, -1);
    st.GaussTab.Redim(3, 0);
    st.readOverride = [](State& t) {
        t.ErrCode = 4;
        t.ErrMsg = "Incorrect keyword (row=3, col=1)";
    };
    EXPECT_FALSE(WhileShown(
        w, [&] { OpenFittingMode(st, w); }, [] {}));
    ExpectMessage(s.ui, "Source data: Incorrect keyword (row=3, col=1)  ");
    EXPECT_EQ(st.ErrCode, 4);
    EXPECT_EQ(BandCount(st), 0);
    EXPECT_FALSE(st.RefEps.Dimensioned());
    EXPECT_EQ(st.Eps, normal);
    EXPECT_EQ(port.buttonCalls, (std::vector<std::pair<bool, int>>{{false, 0}, {true, 0}}));

    st.ErrCode = 0;
    s.ui.messages.clear();
    st.readOverride = [](State& t) {
        for (int i = 1; i <= 61; ++i) t.Eps(1, i) *= 2;
        t.xlsWatch->Changed = false;
    };
    Mat<double> reference;
    EXPECT_TRUE(WhileShown(
        w, [&] { OpenFittingMode(st, w); },
        [&] {
            reference = st.RefEps;
            EXPECT_EQ(port.buttonCalls.back(), (std::pair<bool, int>{false, 0}))
                << "the main window stays off while the window is open";
        }));
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_FUZZY(reference(1, 10), 2 * normal(1, 10), 1e-15);
    ExpectMessage(s.ui, "");
}

TEST_F(FittingModeTest, GaussianModeWithoutBandsFallsBackToNormal) {
    st.xlsWatch->Changed = false;
    EXPECT_TRUE(WhileShown(
        w, [&] { OpenFittingMode(st, w); },
        [&] {
            w.modeButtons[1]->click();
            EXPECT_EQ(st.FitMode, 1);
            EXPECT_TRUE(w.chart->SkipSeries(2)) << "no band sum to show";
        }));
    EXPECT_EQ(st.FitMode, 0);
    EXPECT_EQ(st.Eps, normal);
    EXPECT_FALSE(st.RefEps.Dimensioned());
}

} // namespace
} // namespace lumora::test
