// The fitting-mode window and its F12 command, offscreen: the guards of F12, the
// re-read of an edited sheet, the curves each mode leaves behind, the threshold box,
// the buttons, the layout, and a close request during a refinement.

#include "windows/FittingModeWindow.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "TestPort.h"
#include "chart/ChartMessage.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace lumora::test {
namespace {

constexpr int kWl = 61;

/// Bands of the tests: two for species 1, one for species 2.
const std::vector<TrueBand> kBands = {
    {1, 0.8, 0.06, 100.0}, {1, 1.15, 0.08, 60.0}, {2, 1.0, 0.15, 20.0}};

/// A Ui whose yield can act like the user (closing the window during a refinement).
class ActingUi : public TestUi {
public:
    using TestUi::TestUi;
    void yield() override {
        TestUi::yield();
        if (onYield) onYield();
    }
    std::function<void()> onYield;
};

class FittingModeTest : public ::testing::Test {
protected:
    FittingModeTest() {
        SetChartMessageSink([this](const std::string& text) { chartMessages.push_back(text); });
        st.xlsWatch = std::make_unique<SheetWatcher>();
        st.xlsWatch->SetSheet(s.sheet);
        // Normal-mode curves: the band sums with a ripple, so the two modes differ.
        s.SetReference(kBands);
        for (int k = 1; k <= 2; ++k)
            for (int w = 1; w <= kWl; ++w) st.RefEps(k, w) *= 1.0 + 0.05 * std::sin(w);
        normal = st.RefEps;
        st.Eps = normal;
        st.RefEps.Erase();
    }
    ~FittingModeTest() override { SetChartMessageSink({}); }

    /// The bands' curves as a Gaussian-mode Eps.
    Mat<double> BandSums() {
        s.SetTable(kBands);
        const Mat<double> keep = st.Eps;
        EvaluateGaussians(st);
        Mat<double> sums = st.Eps;
        st.Eps = keep;
        return sums;
    }
    /// Writes kBands to the sheet and forgets them in memory.
    void BandsOnSheetOnly() {
        s.SetTable(kBands);
        WriteGaussianTable(st, -1);
        st.GaussTab.Redim(3, 0);
    }
    /// F12 with inside() run in the window's event loop, then a close; false when the
    /// window never opened.
    bool Open(const std::function<void()>& inside) {
        bool ran = false;
        QTimer::singleShot(0, &w, [&] {
            ran = true;
            inside();
            w.close();
        });
        OpenFittingMode(st, w);
        return ran;
    }
    /// Shows the window outside F12, in the given mode, on the reference curves.
    void ShowDirect(int mode) {
        st.RefEps = st.Eps;
        for (int k = 1; k <= st.nSp; ++k) w.Combo->addItem(QString::fromStdString(st.SpName(k)));
        w.show();
        w.optMode[mode]->setChecked(true);
        w.optMode_Click(mode);
    }

    GaussSpectrum s{2, kWl, false};
    State& st = s.st;
    Mat<double> normal;
    TestPort port{s.ui};
    FittingModeWindow w{st, port};
    std::vector<std::string> chartMessages;
};

TEST_F(FittingModeTest, NothingWhileACommandRuns) {
    s.ui.buttonsOn[2] = false;
    EXPECT_FALSE(Open([] {}));
    EXPECT_TRUE(s.ui.buttonCalls.empty());
    EXPECT_FALSE(st.RefEps.Dimensioned());
    EXPECT_EQ(st.Eps, normal);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(FittingModeTest, EditedSheetIsReadAgainFirst) {
    st.xlsWatch->Changed = true;
    int reads = 0;
    st.readOverride = [&](State& t) {
        ++reads;
        for (int w = 1; w <= kWl; ++w) t.Eps(1, w) *= 2;
        t.xlsWatch->Changed = false;
        t.ErrCode = 0;
    };
    Mat<double> reference;
    EXPECT_TRUE(Open([&] {
        reference = st.RefEps;
        EXPECT_EQ(s.ui.buttonCalls.back(), (std::pair<bool, int>{false, 0}))
            << "the main window stays off while the window is open";
    }));
    EXPECT_EQ(reads, 1);
    EXPECT_FUZZY(reference(1, 10), 2 * normal(1, 10), 1e-15);
    EXPECT_TRUE(s.ui.messages.empty());
}

TEST_F(FittingModeTest, FailedReReadIsReportedAndEndsTheCommand) {
    BandsOnSheetOnly();
    st.xlsWatch->Changed = true;
    st.readOverride = [](State& t) {
        t.ErrCode = 4;
        t.ErrMsg = "Incorrect keyword (row=3, col=1)";
    };
    EXPECT_FALSE(Open([] {}));
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Source data: Incorrect keyword (row=3, col=1)  ");
    EXPECT_EQ(s.ui.messages[0].icon, Icon::Critical);
    EXPECT_EQ(st.ErrCode, 4);
    // Nothing of the stale data set was used: no bands loaded, no curves swapped.
    EXPECT_EQ(BandCount(st), 0);
    EXPECT_FALSE(st.RefEps.Dimensioned());
    EXPECT_EQ(st.Eps, normal);
    EXPECT_EQ(s.ui.buttonCalls, (std::vector<std::pair<bool, int>>{{false, 0}, {true, 0}}));
}

// Bands on the sheet are shown, but leaving in the normal mode brings its curves back.
TEST_F(FittingModeTest, NormalModeExitRestoresTheNormalCurves) {
    BandsOnSheetOnly();
    const Mat<double> sums = BandSums();
    st.GaussTab.Redim(3, 0);
    st.FitMode = 0;
    EXPECT_TRUE(Open([&] {
        EXPECT_EQ(w.windowTitle().toStdString(), "Fitting Mode");
        EXPECT_TRUE(w.isModal());
        EXPECT_TRUE(w.optMode[0]->isChecked());
        EXPECT_FALSE(w.Frame->isVisible());
        EXPECT_EQ(w.HeightTwips(), 1950);
        EXPECT_EQ(st.FitMode, 0);
        EXPECT_EQ(BandCount(st), 3);
        EXPECT_EQ(st.RefEps, normal);
        EXPECT_NEAR(st.Eps(1, 20), sums(1, 20), 1e-9);
        ASSERT_EQ(w.Combo->count(), 2);
        EXPECT_EQ(w.Combo->itemText(1).toStdString(), "Species2");

        w.optMode[1]->click();
        EXPECT_EQ(st.FitMode, 1);
        EXPECT_TRUE(w.Frame->isVisible());
        EXPECT_EQ(w.HeightTwips(), 6180);
        ASSERT_EQ(w.Chart->nPoints(), kWl);
        EXPECT_FALSE(w.Chart->SkipSeries(2));
        EXPECT_EQ(w.Chart->PointData(7, 0), 330.0f);
        EXPECT_EQ(w.Chart->PointData(7, 1), static_cast<float>(normal(1, 7)));
        EXPECT_EQ(w.Chart->PointData(7, 2), static_cast<float>(st.Eps(1, 7)));
        EXPECT_EQ(w.Chart->XAxisMin(), 300.0f);
        EXPECT_EQ(w.Chart->XAxisMax(), 600.0f);
        w.Combo->setCurrentIndex(1);
        EXPECT_EQ(w.Chart->PointData(7, 1), static_cast<float>(normal(2, 7)));

        w.optMode[0]->click();
        EXPECT_EQ(st.FitMode, 0);
        EXPECT_FALSE(w.Frame->isVisible());
        st.ErrCode = kInterrupt; // as a cancelled refinement leaves it
    }));
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.FitMode, 0);
    EXPECT_EQ(st.Eps, normal);
    EXPECT_FALSE(st.RefEps.Dimensioned());
    ASSERT_FALSE(s.ui.buttonCalls.empty());
    EXPECT_EQ(s.ui.buttonCalls.front(), (std::pair<bool, int>{false, 0}));
    EXPECT_EQ(s.ui.buttonCalls.back(), (std::pair<bool, int>{true, 0}));
    EXPECT_TRUE(chartMessages.empty());
}

// In the Gaussian mode F12 shows the normal-mode curves beside the band sums, and
// leaving keeps the band sums.
TEST_F(FittingModeTest, GaussianModeShowsBothCurvesAndKeepsTheBands) {
    const Mat<double> sums = BandSums();
    st.Eps = sums;
    st.FitMode = 1;
    int goals = 0;
    st.goalOverride = [&](State& t, int16_t probe) {
        ++goals;
        EXPECT_EQ(probe, 0);
        EXPECT_EQ(t.FitMode, 0);
        t.Eps = normal;
        t.ErrCode = 0;
        return 1.0;
    };
    EXPECT_TRUE(Open([&] {
        EXPECT_TRUE(w.optMode[1]->isChecked());
        EXPECT_TRUE(w.Frame->isVisible());
        EXPECT_TRUE(w.Arg[1]->isChecked()) << "bands in wavelength";
        EXPECT_EQ(st.RefEps, normal);
        EXPECT_EQ(st.Eps, sums);
        // Opening in the Gaussian mode draws the selected species.
        EXPECT_GT(w.DrawCount(), 0);
        ASSERT_EQ(w.Chart->nPoints(), kWl);
        EXPECT_EQ(w.Chart->PointData(30, 2), static_cast<float>(sums(1, 30)));
    }));
    EXPECT_EQ(goals, 1);
    EXPECT_EQ(st.FitMode, 1);
    EXPECT_EQ(st.Eps, sums);
    EXPECT_FALSE(st.RefEps.Dimensioned());
}

TEST_F(FittingModeTest, FailedNormalModeEvaluationEndsTheCommand) {
    const Mat<double> sums = BandSums();
    st.Eps = sums;
    st.FitMode = 1;
    st.goalOverride = [&](State& t, int16_t) {
        t.Eps.Fill(0.0); // half computed
        t.ErrCode = -1;
        return 0.0;
    };
    EXPECT_FALSE(Open([] {}));
    EXPECT_EQ(st.FitMode, 1);
    EXPECT_EQ(st.Eps, sums);
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_FALSE(st.RefEps.Dimensioned());
    EXPECT_EQ(s.ui.buttonCalls.back(), (std::pair<bool, int>{true, 0}));
}

// Leaving the Gaussian mode without any bands is the normal mode.
TEST_F(FittingModeTest, GaussianModeWithoutBandsFallsBackToNormal) {
    st.FitMode = 0;
    EXPECT_TRUE(Open([&] {
        w.optMode[1]->click();
        EXPECT_EQ(st.FitMode, 1);
        EXPECT_TRUE(w.Chart->SkipSeries(2)) << "no band sum to show";
    }));
    EXPECT_EQ(st.FitMode, 0);
    EXPECT_EQ(st.Eps, normal);
}

TEST_F(FittingModeTest, ThresholdBoxKeepsAWholeNumberFrom1To100) {
    EXPECT_EQ(w.txtLevel->text().toStdString(), "33");
    struct Case {
        const char* typed;
        const char* shown;
    } cases[] = {{"150", "100"}, {"0", "1"},   {"-4", "1"},   {"abc", "1"},
                 {"2.5", "2"},   {"3.5", "4"}, {" 42", "42"}, {"100", "100"}};
    for (const Case& c : cases) {
        w.txtLevel->setText(c.typed);
        w.txtLevel_LostFocus();
        EXPECT_EQ(w.txtLevel->text().toStdString(), c.shown) << c.typed;
    }
}

// Enter in the threshold box builds with the value it keeps.
TEST_F(FittingModeTest, EnterInTheThresholdBoxBuilds) {
    st.Eps = BandSums();
    ShowDirect(1);
    w.txtLevel->setText("150");
    QTest::keyClick(w.txtLevel, Qt::Key_Return);
    EXPECT_EQ(w.txtLevel->text().toStdString(), "100");
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(BandCount(st), 2) << "threshold 100: one band per species";
    EXPECT_EQ(st.FitMode, 1);
    EXPECT_EQ(s.Num(10, 7), 1.0);
}

// Build, then Load the table back from the sheet; a damaged header is reported.
TEST_F(FittingModeTest, BuildAndLoadButtons) {
    st.Eps = BandSums();
    ShowDirect(1);
    w.txtLevel->setText("33");
    w.cmdBuild->click();
    ASSERT_EQ(BandCount(st), 3);
    EXPECT_EQ(s.Num(10, 7), 2.0);
    EXPECT_FALSE(w.Chart->SkipSeries(2));
    EXPECT_EQ(w.Chart->PointData(12, 2), static_cast<float>(st.Eps(1, 12)));
    const Mat<double> built = st.GaussTab;

    st.GaussTab.Redim(3, 0);
    w.cmdRead->click();
    ASSERT_EQ(BandCount(st), 3);
    for (int g = 1; g <= 3; ++g)
        for (int i = 0; i <= 3; ++i) EXPECT_FUZZY(st.GaussTab(i, g), built(i, g), 1e-12);
    EXPECT_TRUE(s.ui.messages.empty());

    s.sheet->SetValue(9, 9, std::string("w"));
    w.cmdRead->click();
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Gaussians not found");
    EXPECT_EQ(BandCount(st), 0);
}

TEST_F(FittingModeTest, AbscissaChoice) {
    ShowDirect(1);
    // No bands yet: the choice is what the next build uses.
    st.GaussArg = false;
    w.Arg[0]->click();
    EXPECT_TRUE(st.GaussArg);
    w.Arg[1]->click();
    EXPECT_FALSE(st.GaussArg);

    // With bands the sheet's values are read as bands of the other kind.
    s.SetTable(kBands);
    WriteGaussianTable(st, -1);
    st.FitMode = 1;
    w.Arg[0]->click();
    EXPECT_TRUE(st.GaussArg);
    EXPECT_EQ(s.Text(9, 7), "wN");
    ASSERT_EQ(BandCount(st), 3);
    EXPECT_FUZZY(st.GaussTab(1, 1), 1.0 / 0.8, 1e-12);
    // Setting the buttons from the state does not switch anything.
    w.optMode_Click(1);
    EXPECT_EQ(s.Text(9, 7), "wN");
}

// A close request while refining cancels the refinement; the window stays open.
TEST_F(FittingModeTest, CloseDuringRefinementCancels) {
    ActingUi acting(st);
    std::vector<TrueBand> start = kBands;
    start[0].c += 0.02;
    start[0].h *= 1.2;
    st.RefEps = st.Eps;
    s.SetReference(kBands); // refine toward the generating bands
    const Mat<double> reference = st.RefEps;
    s.SetTable(start);
    st.FitMode = 1;
    for (int k = 1; k <= st.nSp; ++k) w.Combo->addItem(QString::fromStdString(st.SpName(k)));
    w.show();
    w.optMode[1]->setChecked(true);
    w.optMode_Click(1);
    st.RefEps = reference;
    bool refused = false;
    acting.onYield = [&] {
        if (acting.yields != 2) return;
        EXPECT_FALSE(w.cmdRead->isEnabled());
        EXPECT_FALSE(w.cmdBuild->isEnabled());
        w.close();
        refused = w.isVisible();
    };
    w.Chart_UserPoint(400.0f, 50.0f);
    EXPECT_TRUE(refused);
    EXPECT_EQ(st.ErrCode, kInterrupt);
    ASSERT_EQ(acting.messages.size(), 1u);
    EXPECT_EQ(acting.messages[0].text, "Cancelled  ");
    EXPECT_EQ(acting.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.cmdRead->isEnabled());
    EXPECT_EQ(s.Num(10, 8), 0.0) << "nothing written";

    // Refining to the end writes the bands; then the window closes normally.
    acting.onYield = {};
    acting.messages.clear();
    w.Chart_UserPoint(400.0f, 50.0f);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(acting.messages.empty());
    EXPECT_FUZZY(st.GaussTab(1, 1), 0.8, 1e-6);
    EXPECT_FUZZY(s.Num(10, 8), 0.8 * st.MeanWl, 1e-6);
    w.close();
    EXPECT_FALSE(w.isVisible());
}

TEST_F(FittingModeTest, DoubleClickInNormalModeDoesNothing) {
    s.SetTable(kBands);
    ShowDirect(0);
    const Mat<double> before = st.GaussTab;
    w.Chart_UserPoint(400.0f, 50.0f);
    EXPECT_EQ(s.ui.yields, 0);
    EXPECT_EQ(st.GaussTab, before);
    EXPECT_TRUE(s.ui.messages.empty());
}

TEST_F(FittingModeTest, LogarithmicScaleFollowsTheCheckBox) {
    ShowDirect(1);
    w.Check->click();
    EXPECT_TRUE(w.Chart->YAxisLogScale());
    w.Check->click();
    EXPECT_FALSE(w.Chart->YAxisLogScale());
}

/// Sibling controls do not overlap and stay inside their parent.
void ExpectTidy(const QWidget* parent, const QRect& area) {
    std::vector<const QWidget*> kids;
    for (const QObject* o : parent->children())
        if (const auto* wd = qobject_cast<const QWidget*>(o); wd && !wd->isWindow())
            kids.push_back(wd);
    for (size_t i = 0; i < kids.size(); ++i) {
        const QRect r = kids[i]->geometry();
        // A caption is never cut off, whatever the system's font.
        if (const auto* b = qobject_cast<const QPushButton*>(kids[i])) {
            EXPECT_GT(r.width(), b->fontMetrics().horizontalAdvance(b->text()));
        } else if (qobject_cast<const QLabel*>(kids[i]) ||
                   qobject_cast<const QAbstractButton*>(kids[i])) {
            EXPECT_GE(r.width(), kids[i]->sizeHint().width()) << kids[i]->metaObject()->className();
        }
        EXPECT_TRUE(area.contains(r)) << kids[i]->metaObject()->className() << " " << r.x() << ","
                                      << r.y() << " " << r.width() << "x" << r.height();
        for (size_t j = i + 1; j < kids.size(); ++j)
            EXPECT_FALSE(r.intersects(kids[j]->geometry()))
                << kids[i]->metaObject()->className() << " and "
                << kids[j]->metaObject()->className();
    }
}

TEST_F(FittingModeTest, LayoutFitsBothModesWithoutOverlaps) {
    for (float twips : {15.0f, 10.0f}) {
        for (float caption : {0.0f, 30.0f}) {
            SCOPED_TRACE(testing::Message() << twips << " " << caption);
            st.TwipsX = st.TwipsY = twips;
            st.CaptionH = caption;
            st.FrameW = caption > 0 ? 4.0f : 0.0f;
            w.Form_Load();
            w.optMode_Click(0);
            if (caption == 0) {
                EXPECT_GE(w.width(), std::lround(5040 / twips)); // wider when captions need it
                EXPECT_EQ(w.height(), std::lround(1950 / twips));
            }
            // No caption is cut off, whatever the system's font.
            for (QWidget* c : {static_cast<QWidget*>(w.Label1), static_cast<QWidget*>(w.optMode[0]),
                               static_cast<QWidget*>(w.optMode[1])}) {
                EXPECT_GE(c->width(), c->sizeHint().width());
                EXPECT_LE(c->geometry().right(), w.width());
            }
            // The normal mode shows the two choices.
            EXPECT_LE(w.optMode[1]->geometry().bottom(), w.height());
            w.optMode_Click(1);
            if (caption == 0) {
                EXPECT_EQ(w.height(), std::lround(6180 / twips));
            }
            ExpectTidy(&w, w.rect());
            ExpectTidy(w.Frame, w.Frame->contentsRect());
        }
    }
    // At 10 twips per pixel the wider captions get their room.
    EXPECT_EQ(w.optMode[0]->geometry().left(), 27);
    EXPECT_EQ(w.optMode[0]->geometry().width(), 442);
    EXPECT_EQ(w.cmdBuild->geometry().left(), 168);
    EXPECT_EQ(w.Label2->geometry().width(), 99);
}

} // namespace
} // namespace lumora::test
