// The goal-function window against a quadratic bowl: plotted errors, the gradient
// direction, zooming, double clicks that move the Initial values, failures, and the
// hand-over of the main window's controls. Runs offscreen.

#include "GoalTestSupport.h"
#include "base/RuntimeError.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>
#include <QTest>

#include <filesystem>

namespace lumora::test {
namespace {

// ---- Layout and parameter list

TEST_F(GoalWindowTest, LayoutInTwips) {
    EXPECT_EQ(window->windowTitle().toStdString(), "Goal Function");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window->isVisible()) << "hidden until a scan has been drawn";
    // st.TwipsX = st.TwipsY = 15 twips per pixel.
    EXPECT_EQ(window->size(), QSize(313, 257));
    EXPECT_EQ(window->Chart->geometry(), QRect(8, 8, 297, 201));
    EXPECT_EQ(window->cmdMinus->geometry(), QRect(16, 216, 25, 25));
    EXPECT_EQ(window->Combo->geometry(), QRect(104, 216, 105, 21));
    EXPECT_EQ(window->cmdPlus->geometry(), QRect(272, 216, 25, 25));
    EXPECT_EQ(window->cmdMinus->text(), QString(QChar(0x2014)));
    EXPECT_EQ(window->cmdPlus->text(), "+");
    EXPECT_EQ(window->LastGoodSpan, 0.0f);
}

TEST_F(GoalWindowTest, ListHoldsSpeciesThenGradient) {
    ASSERT_EQ(window->Combo->count(), 4);
    EXPECT_EQ(window->Combo->itemText(0), "CoCl+");
    EXPECT_EQ(window->Combo->itemText(2), "CoCl4-2");
    EXPECT_EQ(window->Combo->itemText(3), "Gradient");
    EXPECT_TRUE(window->Combo->isEnabled());
    struct Case {
        int index;
        int16_t k;
    };
    for (const Case c : {Case{0, 1}, Case{1, 2}, Case{2, 3}, Case{3, 0}, Case{-1, 0}}) {
        Select(c.index);
        EXPECT_EQ(window->SelectedParameter(), c.k) << "list index " << c.index;
    }
    EXPECT_TRUE(calls.empty()) << "choosing with the list disabled scans nothing";
}

TEST_F(GoalWindowTest, RefillKeepsTheIndexWhileItExists) {
    Select(2);
    window->FillParameterList();
    EXPECT_EQ(window->Combo->currentIndex(), 2);
    LoadDataSet({"CoCl+"}, {-100.5f});
    window->FillParameterList();
    ASSERT_EQ(window->Combo->count(), 2);
    EXPECT_EQ(window->Combo->currentIndex(), 0) << "index 2 no longer exists";
    EXPECT_EQ(window->Combo->itemText(1), "Gradient");
    Select(1);
    window->FillParameterList();
    EXPECT_EQ(window->SelectedParameter(), 0);
    EXPECT_TRUE(calls.empty()) << "refilling the list starts no scan";
}

// ---- Species scans

TEST_F(GoalWindowTest, SpeciesScanPlotsTheErrorAtEveryOffset) {
    for (int16_t k = 1; k <= 3; ++k) {
        calls.clear();
        window->ScanGoal(k);
        ASSERT_EQ(window->Chart->nPoints(), 21);
        ASSERT_EQ(window->Chart->nSeries(), 1);
        for (int16_t p = 1; p <= 21; ++p) {
            const float x = static_cast<float>(p - 11); // span 10: steps of 1
            EXPECT_EQ(window->Chart->PointData(p, 0), x);
            std::vector<double> g = Initial();
            g[static_cast<size_t>(k)] += x;
            EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(p, 1), bowl.Error(g), 1e-6))
                << "species " << k << " point " << p;
        }
        EXPECT_EQ(window->Chart->XAxisMin(), -10.0f);
        EXPECT_EQ(window->Chart->XAxisMax(), 10.0f);
        EXPECT_EQ(calls.size(), 22u) << "21 points and the closing evaluation";
        EXPECT_EQ(window->DrawnParameter(), k);
        ExpectModelAtInitial();
        ExpectControlsEnabled();
    }
    EXPECT_EQ(window->LastGoodSpan, 10.0f);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(chartMessages.empty()) << "the window uses the chart correctly";
}

TEST_F(GoalWindowTest, FirstScanFromTheMainWindowShowsTheWindowAndTakesTheMainWindow) {
    Select(1);
    ui.absorptionVisible = true;
    window->ScanGoal(-1);
    EXPECT_EQ(window->DrawnParameter(), 2) << "k from the list";
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(ui.fileBoxEnabled);
    EXPECT_FALSE(ui.mainEnabled);
    EXPECT_FALSE(port.mainControls->isEnabled());
    EXPECT_NE(
        std::find(ui.buttonCalls.begin(), ui.buttonCalls.end(), std::pair<bool, int>{false, 2}),
        ui.buttonCalls.end());
    // Its parent disabled, the window itself stays usable.
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(window->cmdPlus->isEnabled());
    QTest::mouseClick(window->cmdPlus, Qt::LeftButton);
    EXPECT_EQ(st.ScanSpan, 5.0f) << "the zoom button reacts to a click";
    EXPECT_EQ(ui.absorptionShows, 2) << "the absorption view redrawn after each scan";
}

TEST_F(GoalWindowTest, MainButtonsStayOffWhileTheFirstScanRunsAfterAReread) {
    ui.buttonsOn.fill(false); // the main window disabled them before it started the scan
    st.xlsWatch->Changed = true;
    bool anyOn = false;
    duringGoal = [this, &anyOn](int) {
        for (int i = 1; i <= 6; ++i) anyOn = anyOn || port.buttonEnabled(static_cast<Command>(i));
    };
    window->ScanGoal(1);
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(anyOn) << "no second command may start while the scan yields";
    EXPECT_TRUE(window->isVisible());
}

// ---- Gradient scans

struct GradientCase {
    const char* name;
    std::vector<double> minimum;
    bool flipped; ///< whether the plain sum of the gradient is negative
};
void PrintTo(const GradientCase& c, std::ostream* os) {
    *os << c.name;
}

class GoalGradientTest : public GoalWindowTest,
                         public ::testing::WithParamInterface<GradientCase> {};

TEST_P(GoalGradientTest, DirectionAndPlottedErrorsFollowTheAnalyticGradient) {
    bowl.m = GetParam().minimum;
    const std::vector<double> g0 = Initial();
    std::vector<double> u = bowl.Gradient(g0);
    double sum = 0.0, norm = 0.0;
    for (double d : u) sum += d, norm += d * d;
    ASSERT_EQ(sum < 0.0, GetParam().flipped) << "the case tests what it says";
    norm = std::sqrt(norm);
    for (double& d : u) d = (sum < 0.0 ? -d : d) / norm;

    window->ScanGoal(0);
    ASSERT_EQ(window->DrawnParameter(), 0);
    double n = 0.0;
    for (int i = 1; i <= 3; ++i) n += st.SearchDir(i) * st.SearchDir(i);
    n = std::sqrt(n);
    for (int i = 1; i <= 3; ++i) {
        // Central differences of a smooth function: error of order h^2.
        EXPECT_NEAR(st.SearchDir(i) / n, u[static_cast<size_t>(i)], 1e-5) << "component " << i;
        EXPECT_EQ(st.G0Save(i), g0[static_cast<size_t>(i)]) << "base point is the Initial value";
    }
    for (int16_t p = 1; p <= 21; ++p) {
        const double t = p - 11;
        std::vector<double> g = g0;
        for (size_t i = 1; i < g.size(); ++i) g[i] += t * u[i];
        EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(p, 1), bowl.Error(g), 1e-5))
            << "point " << p;
    }
    EXPECT_EQ(calls.size(), 2u * 3u + 21u + 1u);
    // The probes step 0.01 to either side of one species at a time.
    EXPECT_NEAR(calls[0][1] - g0[1], -0.01, 1e-9);
    EXPECT_NEAR(calls[1][1] - g0[1], 0.01, 1e-9);
    EXPECT_EQ(calls[1][2], g0[2]);
    ExpectModelAtInitial();
}

INSTANTIATE_TEST_SUITE_P(
    Bowls, GoalGradientTest,
    ::testing::Values(GradientCase{"uphill", {0.0, -101.0, -198.0, -52.5}, false},
                      GradientCase{"downhill", {0.0, -99.0, -197.0, -49.0}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoalWindowTest, FlatGoalHasNoGradientAndRestoresTheMainWindow) {
    flat = true;
    ui.fileBoxEnabled = false; // as the main window leaves them
    ui.mainEnabled = true;
    window->ScanGoal(0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "No gradient  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Exclamation);
    EXPECT_FALSE(window->isVisible()) << "nothing drawn, nothing shown";
    EXPECT_EQ(window->DrawnParameter(), -1);
    ExpectMainRestored();
    ExpectControlsEnabled();
    ExpectModelAtInitial();
    EXPECT_EQ(calls.size(), 2u * 3u + 1u);
}

// ---- Zoom

TEST_F(GoalWindowTest, ThreeZoomsInFromTenGiveOnePointTwoFive) {
    window->ScanGoal(1);
    window->cmdPlus_Click();
    window->cmdPlus_Click();
    window->cmdPlus_Click();
    EXPECT_EQ(st.ScanSpan, 1.25f);
    EXPECT_EQ(window->LastGoodSpan, 1.25f);
    EXPECT_EQ(window->Chart->XAxisMin(), -1.25f);
    EXPECT_EQ(window->Chart->XAxisMax(), 1.25f);
    EXPECT_EQ(window->Chart->PointData(1, 0), -1.25f);
    EXPECT_EQ(window->Chart->PointData(21, 0), 1.25f);
    std::vector<double> g = Initial();
    g[1] += 0.125 * 3; // point 14
    EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(14, 1), bowl.Error(g), 1e-6));
    window->cmdMinus_Click();
    EXPECT_EQ(st.ScanSpan, 2.5f);
    EXPECT_EQ(window->Chart->XAxisMax(), 2.5f);
}

TEST_F(GoalWindowTest, ZoomingWithoutEndNeitherCrashesNorPlotsNonsense) {
    window->ScanGoal(1);
    for (int i = 0; i < 140; ++i) window->cmdMinus_Click();
    EXPECT_TRUE(std::isfinite(st.ScanSpan)) << "a span beyond single range is undone";
    EXPECT_EQ(st.ScanSpan, window->LastGoodSpan);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().text, "Overflow  ");
    EXPECT_EQ(ui.messages.back().icon, Icon::Critical);
    for (int16_t p = 1; p <= window->Chart->nPoints(); ++p)
        for (int16_t s = 0; s <= 1; ++s) EXPECT_TRUE(std::isfinite(window->Chart->PointData(p, s)));
    ExpectControlsEnabled();
    ExpectModelAtInitial();

    for (int i = 0; i < 300; ++i) window->cmdPlus_Click();
    EXPECT_GE(st.ScanSpan, 0.0f);
    EXPECT_TRUE(chartMessages.empty()) << chartMessages.front();
    for (int16_t p = 1; p <= window->Chart->nPoints(); ++p)
        EXPECT_TRUE(std::isfinite(window->Chart->PointData(p, 1)));
    ExpectControlsEnabled();
    ExpectModelAtInitial();
}

TEST_F(GoalWindowTest, ScanFailingAfterAZoomRestoresTheSpanAndClearsErrCode) {
    Select(1);
    window->ScanGoal(-1);
    const QImage before = window->Chart->Surface().copy();
    fail = [this](const std::vector<double>& g) { return std::fabs(g[2] - st.G0Init(2)) > 12.0; };
    window->cmdMinus_Click(); // span 20: the first point already fails
    EXPECT_EQ(st.ScanSpan, 10.0f);
    EXPECT_EQ(window->LastGoodSpan, 10.0f);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Chart->Surface(), before) << "the partial data are not drawn";
    EXPECT_EQ(window->DrawnParameter(), -1);
    ExpectControlsEnabled();
    ExpectModelAtInitial();
    // The restored span scans again.
    window->cmdPlus_Click();
    EXPECT_EQ(st.ScanSpan, 5.0f);
    EXPECT_EQ(window->DrawnParameter(), 2);
}

// ---- Failures of the first scan, started from the main window

struct FailureCase {
    const char* name;
    int16_t code;        ///< ErrCode the goal function leaves (0: it returns a bad value)
    double value;        ///< value returned when code is 0
    const char* message; ///< the window's own message, "" for none
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class GoalFailureTest : public GoalWindowTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GoalFailureTest, EndsWithoutDrawingAndGivesTheMainWindowBack) {
    const FailureCase c = GetParam();
    st.ScanSpan = 2.5f;
    ui.fileBoxEnabled = false;
    int n = 0;
    if (c.code != 0) {
        failCode = c.code;
        fail = [&n](const std::vector<double>&) { return ++n == 4; };
    } else {
        st.goalOverride = [this, &n, c](State& s, int16_t probe) {
            const double v = FakeGoal(s, probe);
            return ++n == 4 ? c.value : v;
        };
    }
    window->ScanGoal(3);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->DrawnParameter(), -1);
    EXPECT_EQ(st.ScanSpan, 10.0f) << "back to the last good span (10 before the first)";
    ExpectMainRestored();
    ExpectControlsEnabled();
    ExpectModelAtInitial();
    if (*c.message) {
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, std::string(c.message) + "  ");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    } else {
        EXPECT_TRUE(ui.messages.empty());
    }
    for (int16_t p = 1; p <= window->Chart->nPoints(); ++p)
        EXPECT_TRUE(std::isfinite(window->Chart->PointData(p, 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, GoalFailureTest,
    ::testing::Values(
        FailureCase{"GoalFails", -1, 0.0, ""}, FailureCase{"Interrupt", kInterrupt, 0.0, ""},
        FailureCase{"NegativeGoal", 0, -0.5,
                    "Cannot calculate goal function: Invalid procedure call or argument"},
        FailureCase{"NaNGoal", 0, std::nan(""),
                    "Cannot calculate goal function: Invalid procedure call or argument"},
        FailureCase{"ErrorBeyondSingle", 0, 1e80, "Cannot calculate goal function: Overflow"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoalWindowTest, FailedRereadFromTheMainWindowShowsTheReaderMessage) {
    readFails = true;
    st.xlsWatch->Changed = true;
    ui.fileBoxEnabled = false;
    window->ScanGoal(-1);
    EXPECT_EQ(reads, 1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Source data: Error in temperature (row=5, col=2)  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    EXPECT_TRUE(calls.empty()) << "nothing is evaluated on a failed re-read";
    EXPECT_FALSE(window->isVisible());
    ExpectMainRestored();
    ExpectControlsEnabled();
}

TEST_F(GoalWindowTest, FailedRereadInTheShownWindowKeepsTheReaderCode) {
    window->ScanGoal(1);
    calls.clear();
    readFails = true;
    st.xlsWatch->Changed = true;
    window->cmdPlus_Click();
    EXPECT_EQ(st.ErrCode, 5);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(ui.mainEnabled) << "the shown window keeps the main window";
    ExpectControlsEnabled();
    EXPECT_EQ(window->DrawnParameter(), -1);
}

// ---- Double clicks

TEST_F(GoalWindowTest, DoubleClickOnASpeciesScanMovesItsInitialValue) {
    int saves = 0;
    window->afterPick = [&saves] { ++saves; };
    Select(1);
    window->ScanGoal(-1);
    const double old = st.G0Init(2);
    const double other1 = Cell(10, 3), other3 = Cell(12, 3);
    emit window->Chart->UserPoint(2.5f, 7.0f);
    EXPECT_EQ(st.G0Init(2), static_cast<float>(old + 2.5));
    EXPECT_EQ(Cell(11, 3), old + 2.5) << "column 3 of its row";
    EXPECT_TRUE(IsEmpty(sheet->Value(13, 3))) << "the error of the old Initial values is gone";
    EXPECT_EQ(Cell(10, 3), other1);
    EXPECT_EQ(Cell(12, 3), other3);
    EXPECT_EQ(reads, 1) << "the write marked the sheet changed, so the scan re-read it";
    EXPECT_EQ(saves, 1);
    // Redrawn around the new value.
    ASSERT_EQ(window->DrawnParameter(), 2);
    for (int16_t p : {1, 11, 21}) {
        std::vector<double> g = Initial();
        g[2] += p - 11;
        EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(p, 1), bowl.Error(g), 1e-6));
    }
    ExpectModelAtInitial();
    ExpectControlsEnabled();
}

TEST_F(GoalWindowTest, DoubleClickOnAGradientScanMovesEveryInitialValue) {
    const std::vector<double> g0 = Initial();
    std::vector<double> u = bowl.Gradient(g0);
    double n = 0.0;
    for (double d : u) n += d * d;
    for (double& d : u) d /= std::sqrt(n); // sum positive: not flipped
    Select(3);
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 0);
    emit window->Chart->UserPoint(3.0f, 0.0f);
    for (int i = 1; i <= 3; ++i) {
        const size_t s = static_cast<size_t>(i);
        EXPECT_NEAR(st.G0Init(i), g0[s] + 3.0 * u[s], 1e-4) << "species " << i;
        EXPECT_EQ(static_cast<float>(Cell(i + 9, 3)), st.G0Init(i));
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(13, 3)));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(window->DrawnParameter(), 0);
    ExpectModelAtInitial();
}

TEST_F(GoalWindowTest, GradientDoubleClickWithoutUsableDirectionKeepsTheBasePoint) {
    Select(3);
    window->ScanGoal(-1);
    const std::vector<double> g0 = Initial();
    st.Damping = 1e6; // no direction is longer than this
    emit window->Chart->UserPoint(3.0f, 0.0f);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(st.G0Init(i), static_cast<float>(g0[static_cast<size_t>(i)]));
        EXPECT_EQ(Cell(i + 9, 3), g0[static_cast<size_t>(i)]);
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(13, 3)));
}

// A sheet whose "Initial" cell of the first species refuses writes, as a host that
// went away does.
class RefusingSheet : public GridSheet {
public:
    using GridSheet::GridSheet;
    void SetValue(int row, int col, const CellValue& value) override {
        if (refuse && row == 10 && col == 3) throw RuntimeError("Automation error");
        GridSheet::SetValue(row, col, value);
    }
    bool refuse = false;
};

TEST_F(GoalWindowTest, RefusedWriteIsReportedAndTheSheetReadBackBeforeTheNextScan) {
    RefusingSheet refusing(&book, "Refusing");
    for (int r = 10; r <= 13; ++r) refusing.SetValue(r, 3, sheet->Value(r, 3));
    sheet = &refusing;
    st.xlSheet = &refusing;
    st.xlsWatch->SetSheet(&refusing);
    st.xlsWatch->Changed = false;
    Select(3);
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 0);
    const std::vector<double> g0 = Initial();
    refusing.refuse = true;
    emit window->Chart->UserPoint(3.0f, 0.0f);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Automation error  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    ExpectControlsEnabled();
    EXPECT_EQ(Cell(10, 3), g0[1]);
    refusing.refuse = false;
    window->cmdPlus_Click();
    EXPECT_EQ(reads, 1) << "the next scan reads back what the sheet holds";
    EXPECT_EQ(Initial(), g0) << "the refused value is not kept";
    EXPECT_EQ(window->DrawnParameter(), 0);
    st.xlsWatch->SetSheet(nullptr);
}

TEST_F(GoalWindowTest, DoubleClickBeforeTheScanIsCompleteDoesNothing) {
    const auto cellsBefore = [this] {
        return std::vector<CellValue>{sheet->Value(10, 3), sheet->Value(11, 3), sheet->Value(12, 3),
                                      sheet->Value(13, 3)};
    };
    const auto before = cellsBefore();
    const std::vector<double> g0 = Initial();

    // No scan yet.
    emit window->Chart->UserPoint(2.5f, 0.0f);
    // A species scan drawn, then the gradient chosen and clicked while it is computed:
    // the direction is half-updated.
    window->ScanGoal(1);
    Select(3);
    duringGoal = [this](int call) {
        if (call == 3) emit window->Chart->UserPoint(2.5f, 0.0f);
    };
    calls.clear();
    window->ScanGoal(-1);
    duringGoal = nullptr;
    EXPECT_EQ(Initial(), g0);
    EXPECT_EQ(cellsBefore(), before);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(calls.size(), 2u * 3u + 21u + 1u) << "no scan started from inside the scan";

    // A gradient scan ending in "No gradient" leaves nothing to act on either.
    flat = true;
    window->cmdPlus_Click();
    EXPECT_EQ(window->DrawnParameter(), -1);
    emit window->Chart->UserPoint(2.5f, 0.0f);
    EXPECT_EQ(Initial(), g0);
    EXPECT_EQ(cellsBefore(), before);

    // A species scan drawn while the list shows another parameter.
    flat = false;
    window->ScanGoal(1);
    Select(1);
    emit window->Chart->UserPoint(2.5f, 0.0f);
    EXPECT_EQ(Initial(), g0);
    EXPECT_EQ(cellsBefore(), before);
}

TEST_F(GoalWindowTest, RealDoubleClickOnTheChartPicksItsAbscissa) {
    window->ScanGoal(1);
    ASSERT_TRUE(window->isVisible());
    const QPoint at((window->Chart->PlotLeft() * 3 + window->Chart->PlotRight()) / 4,
                    (window->Chart->PlotTop() + window->Chart->PlotBottom()) / 2);
    const double old = st.G0Init(1);
    QTest::mouseClick(window->Chart, Qt::LeftButton, {}, at);
    QTest::mouseDClick(window->Chart, Qt::LeftButton, {}, at);
    // A quarter across the plot from -10 to +10: about -5 (one pixel is 0.1 here).
    const double x = Cell(10, 3) - old;
    EXPECT_NEAR(x, -5.0, 0.25);
    EXPECT_EQ(static_cast<double>(static_cast<float>(x)), x) << "the picked offset is a single";
    EXPECT_EQ(st.G0Init(1), static_cast<float>(Cell(10, 3)));
    EXPECT_EQ(reads, 1);
}

// ---- The list and the window's own events

TEST_F(GoalWindowTest, ChoosingFromTheListScansThatParameter) {
    window->ScanGoal(1);
    window->Combo->setCurrentIndex(3);
    EXPECT_EQ(window->DrawnParameter(), 0);
    window->Combo->setCurrentIndex(1);
    EXPECT_EQ(window->DrawnParameter(), 2);
    calls.clear();
    window->Combo->setEnabled(false);
    window->Combo->setCurrentIndex(2);
    EXPECT_TRUE(calls.empty()) << "a disabled list starts nothing";
}

TEST_F(GoalWindowTest, ClosingHidesAndGivesTheMainWindowBack) {
    window->ScanGoal(1);
    ASSERT_TRUE(window->isVisible());
    ASSERT_FALSE(port.mainControls->isEnabled());

    // A close while a scan runs waits for it.
    duringGoal = [this](int call) {
        if (call == 2) window->close();
    };
    window->cmdPlus_Click();
    duringGoal = nullptr;
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(ui.mainEnabled);

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(ui.mainEnabled);
    EXPECT_TRUE(port.mainControls->isEnabled());
    EXPECT_TRUE(ui.fileBoxEnabled);
    EXPECT_EQ(ui.buttonCalls.back(), (std::pair<bool, int>{true, 2}));
    EXPECT_EQ(ui.focusedButton, 2);
    EXPECT_EQ(window->LastGoodSpan, 5.0f) << "the span survives hiding";
    EXPECT_EQ(st.ScanSpan, 5.0f);

    // The next scan from the main window shows it again.
    window->ScanGoal(-1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(ui.mainEnabled);
}

TEST_F(GoalWindowTest, ScreenshotShowsTheCurve) {
    mainWidget->resize(400, 200);
    mainWidget->show();
    window->ScanGoal(2);
    QCoreApplication::processEvents();
    const std::filesystem::path dir(LUMORA_TEST_BUILD_DIR);
    const QImage shot = window->grab().toImage();
    ASSERT_TRUE(shot.save(QString::fromStdString((dir / "goal-window.png").string())));
    // On a real display (xvfb-run with QT_QPA_PLATFORM=xcb) the whole screen as well.
    if (QGuiApplication::platformName() != "offscreen") {
        QTest::qWait(200);
        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
        screen.save(QString::fromStdString((dir / "goal-screen.png").string()));
    }
    // The series was drawn in its colour inside the plot frame.
    const int32_t colour = window->Chart->RenderedColor(1);
    ASSERT_NE(colour, 0);
    int hits = 0;
    for (int x = window->Chart->PlotLeft() + 1; x < window->Chart->PlotRight(); ++x)
        for (int y = window->Chart->PlotTop() + 1; y < window->Chart->PlotBottom(); ++y)
            hits += window->Chart->Pixel(x, y) == colour;
    EXPECT_GT(hits, 50);
}

} // namespace
} // namespace lumora::test
