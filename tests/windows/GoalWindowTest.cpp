// The goal-function window against a bowl goal(G) = 0.25 + (G - m)' A (G - m) whose error
// sqrt(goal) and gradient A (G - m) are the reference of every scan, double click, failure
// and hand-over of the main window; then the real engine on a copy of the bundled example.

#include "TestPort.h"

#include <QSignalBlocker>

namespace lumora::test {
namespace {

using Vec = std::vector<double>;                  // 1-based
const double kG0[] = {0, -100.5, -200.25, -50.0}; // the Initial values
const double kA[4][4] = {{0, 0, 0, 0}, {0, 2.0, 0.5, 0.0}, {0, 0.5, 1.0, 0.2}, {0, 0.0, 0.2, 3.0}};

void SelectQuietly(GoalScanWindow& w, int index) {
    const QSignalBlocker block(w.list);
    w.list->setCurrentIndex(index);
}

class GoalWindowTest : public ::testing::Test {
protected:
    GoalWindowTest() {
        // Initial values and their error on the sheet, as a successful read leaves them.
        sheet->SetEvents(false);
        st.nSp = 3;
        for (auto* v : {&st.G0, &st.SearchDir, &st.G0Save}) v->Redim(3);
        st.G0Init.Redim(3);
        st.SpName.Redim(3);
        for (int i = 1; i <= 3; ++i) {
            st.G0(i) = st.G0Init(i) = float(kG0[i]);
            sheet->SetValue(i + 9, 3, CellValue{kG0[i]});
        }
        sheet->SetValue(13, 3, CellValue{1.234});
        sheet->SetEvents(true);
        st.xlSheet = sheet;
        st.xlsWatch->SetSheet(sheet);
        st.goalOverride = [this](State& s, int16_t probe) {
            EXPECT_EQ(probe, 0) << "every scan evaluation is a full one";
            calls.push_back({0, s.G0(1), s.G0(2), s.G0(3)});
            if (duringGoal) duringGoal(int(calls.size()));
            const bool failing = int(calls.size()) == failAt;
            s.ErrCode = failing ? failCode : 0;
            return failing ? badValue : flat ? 4.0 : std::pow(Error(calls.back()), 2);
        };
        st.readOverride = [this](State& s) { // reads the "Initial" column back
            ++reads;
            for (int i = 1; i <= 3; ++i)
                s.G0Init(i) = float(std::get<double>(sheet->Value(i + 9, 3)));
            s.xlsWatch->Changed = false;
        };
        port.goal = window;
        window->FillParameterList();
    }
    ~GoalWindowTest() override { st.xlsWatch->SetSheet(nullptr); }

    Vec Gradient(const Vec& g) const {
        Vec d(4, 0.0);
        for (size_t i = 1; i <= 3; ++i)
            for (size_t j = 1; j <= 3; ++j) d[i] += kA[i][j] * (g[j] - m[j]);
        return d;
    }
    double Error(const Vec& g) const {
        const Vec d = Gradient(g);
        return std::sqrt(0.25 + (g[1] - m[1]) * d[1] + (g[2] - m[2]) * d[2] + (g[3] - m[3]) * d[3]);
    }
    Vec Initial() const { return {0, st.G0Init(1), st.G0Init(2), st.G0Init(3)}; }
    /// After every scan the model belongs to the Initial values and the controls are usable.
    void ExpectModelAtInitialAndControlsOn() {
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), Initial());
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(st.G0(i), double(st.G0Init(i)));
        EXPECT_TRUE(window->zoomOutButton->isEnabled() && window->zoomInButton->isEnabled());
        EXPECT_TRUE(window->list->isEnabled());
    }
    /// The scan of parameter k (0: gradient) runs along u over -span..span in 21 points; a
    /// species scan plots the very Gibbs energies it probed.
    void ExpectScan(int16_t k, Vec u, float span, double tolerance) {
        SCOPED_TRACE(testing::Message() << "parameter " << k << ", span " << span);
        ASSERT_EQ(window->DrawnParameter(), k);
        ASSERT_EQ(window->chart->nPoints(), 21);
        const float centre = k > 0 ? st.G0Init(k) : 0.0f;
        EXPECT_EQ(window->chart->XAxisMax(), centre + span);
        ASSERT_GE(calls.size(), 22u);
        if (k > 0) u = Vec(4, 0.0), u[size_t(k)] = 1.0;
        for (int16_t p = 1; p <= 21; ++p) {
            const float x = window->chart->PointData(p, 0);
            EXPECT_NEAR(x - centre, span * (p - 11) / 10.0, 1e-6 * (span + std::fabs(centre)));
            Vec g = Initial();
            if (k > 0) {
                g[size_t(k)] = x;
                EXPECT_EQ(calls[calls.size() - 22 + size_t(p - 1)], g) << "probed at " << p;
            } else {
                for (size_t i = 1; i <= 3; ++i) g[i] += x * u[i];
            }
            EXPECT_TRUE(FuzzyEqual(window->chart->PointData(p, 1), Error(g), tolerance)) << p;
        }
        ExpectModelAtInitialAndControlsOn();
    }

    State st;
    TestUi ui{st};
    TestPort port{ui};
    ChartMisuseFails charts;
    GridWorkbook book{"goal-test.xlsx"};
    GridSheet* sheet = book.AddSheet("Data");
    Vec m = {0.0, -101.0, -198.0, -52.5}; ///< the bowl's minimum
    QWidget mainWidget;
    GoalScanWindow* window = new GoalScanWindow(st, port, &mainWidget);
    std::vector<Vec> calls;
    int failAt = 0;       ///< the evaluation (from 1) that fails
    int16_t failCode = 0; ///< with this ErrCode, returning badValue
    double badValue = 0.0;
    std::function<void(int)> duringGoal;
    bool flat = false;
    int reads = 0;
};

TEST_F(GoalWindowTest, SpeciesScansPlotTheErrorAtEveryOffset) {
    for (int16_t k = 3; k >= 1; --k) {
        window->ScanGoal(k);
        ExpectScan(k, {}, 10, 1e-6);
    }
    for (float span : {5.0f, 2.5f, 1.25f}) {
        window->ZoomIn();
        ExpectScan(1, {}, span, 1e-6); // the species of the list
    }
    window->ZoomOut();
    ExpectScan(1, {}, 2.5f, 1e-6);
}

class GoalGradientTest : public GoalWindowTest, public ::testing::WithParamInterface<bool> {};

// The scan runs along the gradient turned so that its plain sum is positive (downhill: the
// gradient's sum is negative); a double click at t moves every Initial value by t along it.
TEST_P(GoalGradientTest, DirectionPlottedErrorsAndDoubleClickFollowTheAnalyticGradient) {
    if (GetParam()) m = {0.0, -99.0, -197.0, -49.0};
    const Vec g0 = Initial();
    Vec u = Gradient(g0);
    double sum = 0.0, norm = 0.0, n = 0.0;
    for (double d : u) sum += d, norm += d * d;
    ASSERT_EQ(sum < 0.0, GetParam()) << "the case tests what it says";
    for (double& d : u) d *= (sum < 0.0 ? -1.0 : 1.0) / std::sqrt(norm);
    SelectQuietly(*window, 3);
    window->ScanGoal(-1);
    for (int i = 1; i <= 3; ++i) n += st.SearchDir(i) * st.SearchDir(i);
    for (int i = 1; i <= 3; ++i) // central differences: error of order h^2
        EXPECT_NEAR(st.SearchDir(i) / std::sqrt(n), u[size_t(i)], 1e-5) << "component " << i;
    ExpectScan(0, u, 10, 1e-5);
    window->ZoomIn();
    ExpectScan(0, u, 5, 1e-5);

    emit window->chart->UserPoint(1.5f, 0.0f);
    for (int i = 1; i <= 3; ++i)
        EXPECT_NEAR(st.G0Init(i), g0[size_t(i)] + 1.5 * u[size_t(i)], 1e-4) << "species " << i;
    EXPECT_TRUE(IsEmpty(sheet->Value(13, 3))) << "the error of the old Initial values is gone";
    EXPECT_EQ(reads, 1) << "the write marked the sheet changed, so the scan re-read it";
}
INSTANTIATE_TEST_SUITE_P(UphillDownhill, GoalGradientTest, ::testing::Bool());

// With the first species fixed, the list opens on the second; the gradient neither probes
// nor moves the fixed one, in the scan or on a double click.
TEST_F(GoalWindowTest, FixedSpeciesStayOutOfTheDefaultAndTheGradient) {
    st.SpFree.Redim(3);
    st.SpFree.Fill(kTrue);
    st.SpFree(1) = kFalse;
    window->list->clear();
    window->FillParameterList();
    EXPECT_EQ(window->SelectedParameter(), 2);
    SelectQuietly(*window, 3);
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 0);
    EXPECT_EQ(st.SearchDir(1), 0.0);
    for (const Vec& g : calls) EXPECT_EQ(g[1], kG0[1]);
    const Vec g0 = Initial();
    emit window->chart->UserPoint(1.5f, 0.0f);
    EXPECT_EQ(st.G0Init(1), float(kG0[1]));
    EXPECT_EQ(std::get<double>(sheet->Value(10, 3)), kG0[1]);
    EXPECT_GT(std::fabs(st.G0Init(2) - g0[2]) + std::fabs(st.G0Init(3) - g0[3]), 1.0);
}

// A first scan whose fourth evaluation fails, or a gradient scan of a flat goal.
using GoalFailureTest = GoalWindowTest;
TEST_F(GoalFailureTest, EndsWithoutDrawingAndGivesTheMainWindowBack) {
    const std::string bad = "Cannot calculate goal function: ", invalid = "Invalid procedure";
    // the ErrCode the goal function leaves, the value it returns, the message, a flat goal
    const std::tuple<int16_t, double, std::string, bool> cases[] = {
        {-1, 0.0, "", false},
        {kInterrupt, 0.0, "", false},
        {0, -0.5, bad + invalid + " call or argument  ", false},
        {0, std::nan(""), bad + invalid + " call or argument  ", false},
        {0, 1e80, bad + "Overflow  ", false},
        {0, 4.0, "No gradient  ", true}};
    for (const auto& [code, value, message, flatGoal] : cases) {
        SCOPED_TRACE(testing::Message() << code << " " << value);
        calls.clear();
        ui.messages.clear();
        st.ScanSpan = 2.5f;
        port.fileBoxEnabled = port.mainEnabled = false;
        std::tie(failAt, failCode, badValue, flat) =
            std::tuple(flatGoal ? 0 : 4, code, value, flatGoal);
        window->ScanGoal(flatGoal ? 0 : 3);
        EXPECT_EQ(st.ScanSpan, flatGoal ? 2.5f : 10.0f)
            << "the last good span (10 before the first)";
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->DrawnParameter(), -1);
        EXPECT_TRUE(port.fileBoxEnabled && port.mainEnabled);
        EXPECT_EQ(port.buttonCalls.back(), (std::pair<bool, int>{true, 2}));
        EXPECT_EQ(st.ErrCode, 0);
        ExpectModelAtInitialAndControlsOn();
        ExpectMessage(ui, message, flatGoal ? Icon::Exclamation : Icon::Critical);
    }
}

TEST_F(GoalWindowTest, DoubleClickBeforeTheScanIsCompleteDoesNothing) {
    const auto cells = [this] {
        std::vector<CellValue> v;
        for (int r = 10; r <= 13; ++r) v.push_back(sheet->Value(r, 3));
        return v;
    };
    const auto before = cells();
    emit window->chart->UserPoint(2.5f, 0.0f); // no scan yet
    window->ScanGoal(0);
    const size_t undisturbed = calls.size();
    // The gradient chosen and clicked while its direction is half computed.
    window->ScanGoal(1);
    SelectQuietly(*window, 3);
    duringGoal = [this](int call) {
        if (call == 3) emit window->chart->UserPoint(2.5f, 0.0f);
    };
    calls.clear();
    window->ScanGoal(-1);
    duringGoal = nullptr;
    EXPECT_EQ(calls.size(), undisturbed) << "no scan started from inside the scan";
    flat = true; // a gradient scan ending in "No gradient" leaves nothing to act on either
    window->ZoomIn();
    EXPECT_EQ(window->DrawnParameter(), -1);
    emit window->chart->UserPoint(2.5f, 0.0f);
    flat = false; // a species scan drawn while the list shows another parameter
    window->ScanGoal(1);
    SelectQuietly(*window, 1);
    emit window->chart->UserPoint(2.5f, 0.0f);
    EXPECT_EQ(cells(), before) << "Initial values and their error stay";
    EXPECT_EQ(reads, 0);
}

// A double click at Initial + 2 on the scan of CoCl+ moves it there; the re-read writes the error
// of the new Initial values, which the scan had plotted at that offset.
TEST(GoalEndToEnd, ScanAndDoubleClickOnTheBundledExample) {
    Engine e("goal-e2e");
    QWidget mainWidget;
    GoalScanWindow& window = *(e.port.goal = new GoalScanWindow(e.st, e.port, &mainWidget));
    ChartWidget& chart = *window.chart;
    ReadDataSet(e.st, e.ui.request());
    e.port.afterRead(e.st);
    ASSERT_EQ(e.st.ErrCode, 0) << e.st.ErrMsg;
    ASSERT_EQ(window.list->count(), 4) << "the read refilled the list";
    const int errRow = e.st.nSp + 10;
    const double rms0 = std::get<double>(e.st.xlSheet->Value(errRow, 3)), old = e.st.G0Init(2);
    SelectQuietly(window, 1); // CoCl+
    window.ScanGoal(-1);
    ASSERT_EQ(window.DrawnParameter(), 2) << (e.ui.messages.empty() ? "" : e.ui.messages[0].text);
    EXPECT_TRUE(FuzzyEqual(chart.PointData(11, 1), rms0, 1e-5)) << "the error the reader wrote";
    EXPECT_GT(std::fabs(chart.PointData(1, 1) - rms0) + std::fabs(chart.PointData(21, 1) - rms0),
              1e-3 * rms0)
        << "the energy of CoCl+ matters";
    const float atTwo = chart.PointData(13, 0), plottedAtTwo = chart.PointData(13, 1);
    EXPECT_EQ(atTwo, float(old) + 2.0f) << "the axis shows the Gibbs energy";
    emit chart.UserPoint(atTwo, 0.0f);
    EXPECT_EQ(std::get<double>(e.st.xlSheet->Value(11, 3)), atTwo);
    const double rms1 = std::get<double>(e.st.xlSheet->Value(errRow, 3));
    EXPECT_TRUE(FuzzyEqual(rms1, plottedAtTwo, 1e-5));
    EXPECT_TRUE(FuzzyEqual(chart.PointData(11, 1), rms1, 1e-5));
    EXPECT_EQ(window.DrawnParameter(), 2);
    ExpectMessage(e.ui, "");
}

} // namespace
} // namespace lumora::test
