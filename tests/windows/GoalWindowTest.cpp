// The goal-function window against a quadratic bowl goal(G) = c + (G - m)' A (G - m),
// whose error sqrt(goal) and its gradient A (G - m) / sqrt(goal) are the independent
// reference of every scan: plotted errors, the gradient direction, double clicks that move
// the Initial values, failures and the hand-over of the main window. Then the real reader,
// engine and goal function on a copy of the bundled example. Runs offscreen.

#include "FuzzyCompare.h"
#include "TestPort.h"
#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "windows/GoalScanWindow.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridSheet.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <QSignalBlocker>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::test {
namespace {

struct Bowl {
    double c = 0.25;
    std::vector<double> m;              ///< minimum, 1-based (m[0] unused)
    std::vector<std::vector<double>> A; ///< symmetric positive definite, 1-based

    double Error(const std::vector<double>& g) const {
        double s = c;
        for (size_t i = 1; i < m.size(); ++i)
            for (size_t j = 1; j < m.size(); ++j) s += (g[i] - m[i]) * A[i][j] * (g[j] - m[j]);
        return std::sqrt(s);
    }
    /// The gradient of the error, scaled to unit length.
    std::vector<double> Direction(const std::vector<double>& g) const {
        std::vector<double> d(m.size(), 0.0);
        double n = 0.0;
        for (size_t i = 1; i < m.size(); ++i) {
            for (size_t j = 1; j < m.size(); ++j) d[i] += A[i][j] * (g[j] - m[j]);
            n += d[i] * d[i];
        }
        for (double& x : d) x /= std::sqrt(n);
        return d;
    }
};

/// The wiring the application gives the window: a read refreshes its list.
class GoalPort : public TestPort {
public:
    using TestPort::TestPort;
    void refreshGoalList() override {
        if (window) window->FillParameterList();
    }
    bool goalWindowVisible() const override { return window && window->isVisible(); }
    GoalScanWindow* window = nullptr;
};

class GoalWindowTest : public ::testing::Test {
protected:
    GoalWindowTest() : ui(st), book("goal-test.xlsx") {
        bowl.m = {0.0, -101.0, -198.0, -52.5};
        bowl.A = {{0, 0, 0, 0}, {0, 2.0, 0.5, 0.0}, {0, 0.5, 1.0, 0.2}, {0, 0.0, 0.2, 3.0}};
        // Species and Initial values in the state and the sheet's "Initial" column, with an
        // error in the "Mean err.:" row, as a successful read leaves them.
        sheet = book.AddSheet("Data");
        sheet->SetEvents(false);
        st.nSp = 3;
        st.G0Init.Redim(3);
        for (auto* v : {&st.G0, &st.SearchDir, &st.G0Save}) v->Redim(3);
        st.SpName.Redim(3);
        const float g0[] = {-100.5f, -200.25f, -50.0f};
        for (int i = 1; i <= 3; ++i) {
            st.SpName(i) = std::string("CoCl") + char('0' + i);
            st.G0(i) = st.G0Init(i) = g0[i - 1];
            sheet->SetValue(i + 9, 2, CellValue{st.SpName(i)});
            sheet->SetValue(i + 9, 3, CellValue{double(st.G0Init(i))});
        }
        sheet->SetValue(13, 1, CellValue{std::string("Mean err.:")});
        sheet->SetValue(13, 3, CellValue{1.234});
        sheet->SetEvents(true);
        st.xlSheet = sheet;
        st.xlsWatch->SetSheet(sheet);
        st.goalOverride = [this](State& s, int16_t probe) {
            probes.push_back(probe);
            std::vector<double> g(4, 0.0);
            for (int i = 1; i <= 3; ++i) g[size_t(i)] = s.G0(i);
            calls.push_back(g);
            if (duringGoal) duringGoal(int(calls.size()));
            const bool failing = int(calls.size()) == failAt;
            s.ErrCode = failing ? failCode : 0;
            if (failing) return badValue;
            return flat ? 4.0 : std::pow(bowl.Error(g), 2);
        };
        st.readOverride = [this](State& s) { // reads the "Initial" column back
            ++reads;
            for (int i = 1; i <= 3; ++i)
                s.G0Init(i) = float(std::get<double>(sheet->Value(i + 9, 3)));
            s.ErrCode = 0;
            s.xlsWatch->Changed = false;
        };
        window = new GoalScanWindow(st, port, &mainWidget);
        port.window = window;
        window->FillParameterList();
        SetChartMessageSink([this](const std::string& text) { chartMessages.push_back(text); });
    }
    ~GoalWindowTest() override {
        SetChartMessageSink({});
        st.xlsWatch->SetSheet(nullptr);
    }

    std::vector<double> Initial() const {
        std::vector<double> g(4, 0.0);
        for (int i = 1; i <= 3; ++i) g[size_t(i)] = st.G0Init(i);
        return g;
    }

    /// After every scan the model state belongs to the Initial values and the window's
    /// controls are usable again.
    void ExpectModelAtInitialAndControlsOn() {
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), Initial());
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(st.G0(i), double(st.G0Init(i)));
        for (int16_t p : probes) EXPECT_EQ(p, 0) << "every scan evaluation is a full one";
        EXPECT_TRUE(window->zoomOutButton->isEnabled() && window->zoomInButton->isEnabled());
        EXPECT_TRUE(window->list->isEnabled());
    }

    /// The main window got back its file box and buttons after a scan that drew nothing.
    void ExpectMainRestored() {
        EXPECT_TRUE(ui.fileBoxEnabled);
        EXPECT_TRUE(ui.mainEnabled);
        ASSERT_FALSE(ui.buttonCalls.empty());
        EXPECT_EQ(ui.buttonCalls.back(), (std::pair<bool, int>{true, 2}));
        EXPECT_EQ(st.ErrCode, 0);
    }

    void Select(int index) {
        const QSignalBlocker block(window->list);
        window->list->setCurrentIndex(index);
    }

    State st;
    TestUi ui;
    GoalPort port{ui};
    GridWorkbook book;
    GridSheet* sheet = nullptr;
    Bowl bowl;
    QWidget mainWidget;
    GoalScanWindow* window = nullptr; // owned by mainWidget
    std::vector<std::vector<double>> calls;
    std::vector<int16_t> probes;
    int failAt = 0;       ///< the evaluation (from 1) that fails
    int16_t failCode = 0; ///< with this ErrCode, or returning badValue
    double badValue = 0.0;
    std::function<void(int)> duringGoal;
    bool flat = false;
    int reads = 0;
    std::vector<std::string> chartMessages; ///< the chart's own misuse messages
};

TEST_F(GoalWindowTest, SpeciesScansPlotTheErrorAtEveryOffset) {
    auto expectScan = [&](int16_t k, float span) {
        SCOPED_TRACE(testing::Message() << "species " << k << ", span " << span);
        ASSERT_EQ(window->DrawnParameter(), k);
        ASSERT_EQ(window->chart->nPoints(), 21);
        EXPECT_EQ(window->chart->XAxisMax(), span);
        for (int16_t p = 1; p <= 21; ++p) {
            const float x = window->chart->PointData(p, 0);
            EXPECT_NEAR(x, span * (p - 11) / 10.0, 1e-6 * span);
            std::vector<double> g = Initial();
            g[size_t(k)] += x;
            EXPECT_TRUE(FuzzyEqual(window->chart->PointData(p, 1), bowl.Error(g), 1e-6)) << p;
        }
        ExpectModelAtInitialAndControlsOn();
    };
    for (int16_t k = 3; k >= 1; --k) {
        window->ScanGoal(k);
        expectScan(k, 10);
    }
    for (float span : {5.0f, 2.5f, 1.25f}) {
        window->ZoomIn();
        expectScan(1, span); // the species of the list
    }
    window->ZoomOut();
    expectScan(1, 2.5f);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(chartMessages.empty()) << "the window uses the chart correctly";
}

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

// The scan runs along the gradient turned so that its plain sum is positive; a double click
// at t moves every Initial value by t along it.
TEST_P(GoalGradientTest, DirectionPlottedErrorsAndDoubleClickFollowTheAnalyticGradient) {
    bowl.m = GetParam().minimum;
    const std::vector<double> g0 = Initial();
    std::vector<double> u = bowl.Direction(g0);
    double sum = 0.0;
    for (double d : u) sum += d;
    ASSERT_EQ(sum < 0.0, GetParam().flipped) << "the case tests what it says";
    for (double& d : u) d = sum < 0.0 ? -d : d;
    Select(3);
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 0);
    double n = 0.0;
    for (int i = 1; i <= 3; ++i) n += st.SearchDir(i) * st.SearchDir(i);
    for (int i = 1; i <= 3; ++i) {
        // Central differences of a smooth function: error of order h^2.
        EXPECT_NEAR(st.SearchDir(i) / std::sqrt(n), u[size_t(i)], 1e-5) << "component " << i;
        EXPECT_EQ(st.G0Save(i), g0[size_t(i)]) << "base point is the Initial value";
    }
    for (int16_t p = 1; p <= 21; ++p) {
        std::vector<double> g = g0;
        for (size_t i = 1; i < g.size(); ++i) g[i] += (p - 11) * u[i];
        EXPECT_TRUE(FuzzyEqual(window->chart->PointData(p, 1), bowl.Error(g), 1e-5)) << p;
    }
    ExpectModelAtInitialAndControlsOn();

    emit window->chart->UserPoint(3.0f, 0.0f);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NEAR(st.G0Init(i), g0[size_t(i)] + 3.0 * u[size_t(i)], 1e-4) << "species " << i;
        EXPECT_EQ(float(std::get<double>(sheet->Value(i + 9, 3))), st.G0Init(i));
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(13, 3))) << "the error of the old Initial values is gone";
    EXPECT_EQ(reads, 1) << "the write marked the sheet changed, so the scan re-read it";
    EXPECT_EQ(window->DrawnParameter(), 0);
    ExpectModelAtInitialAndControlsOn();
}

INSTANTIATE_TEST_SUITE_P(
    Bowls, GoalGradientTest,
    ::testing::Values(GradientCase{"uphill", {0.0, -101.0, -198.0, -52.5}, false},
                      GradientCase{"downhill", {0.0, -99.0, -197.0, -49.0}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoalWindowTest, FlatGoalHasNoGradientAndRestoresTheMainWindow) {
    flat = true;
    ui.fileBoxEnabled = false; // as the main window leaves them
    window->ScanGoal(0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "No gradient  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Exclamation);
    EXPECT_FALSE(window->isVisible()) << "nothing drawn, nothing shown";
    EXPECT_EQ(window->DrawnParameter(), -1);
    ExpectMainRestored();
    ExpectModelAtInitialAndControlsOn();
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
    failAt = 4;
    failCode = c.code;
    badValue = c.value;
    window->ScanGoal(3);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->DrawnParameter(), -1);
    EXPECT_EQ(st.ScanSpan, 10.0f) << "back to the last good span (10 before the first)";
    ExpectMainRestored();
    ExpectModelAtInitialAndControlsOn();
    if (*c.message) {
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, std::string(c.message) + "  ");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    } else {
        EXPECT_TRUE(ui.messages.empty());
    }
    for (int16_t p = 1; p <= window->chart->nPoints(); ++p)
        EXPECT_TRUE(std::isfinite(window->chart->PointData(p, 1)));
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

TEST_F(GoalWindowTest, DoubleClickBeforeTheScanIsCompleteDoesNothing) {
    const auto cells = [this] {
        std::vector<CellValue> v;
        for (int r = 10; r <= 13; ++r) v.push_back(sheet->Value(r, 3));
        return v;
    };
    const auto before = cells();
    const std::vector<double> g0 = Initial();
    emit window->chart->UserPoint(2.5f, 0.0f); // no scan yet
    window->ScanGoal(0);
    const size_t undisturbed = calls.size();
    // A species scan drawn, then the gradient chosen and clicked while it is computed: the
    // direction is half-updated.
    window->ScanGoal(1);
    Select(3);
    duringGoal = [this](int call) {
        if (call == 3) emit window->chart->UserPoint(2.5f, 0.0f);
    };
    calls.clear();
    window->ScanGoal(-1);
    duringGoal = nullptr;
    EXPECT_EQ(calls.size(), undisturbed) << "no scan started from inside the scan";
    // A gradient scan ending in "No gradient" leaves nothing to act on either.
    flat = true;
    window->ZoomIn();
    EXPECT_EQ(window->DrawnParameter(), -1);
    emit window->chart->UserPoint(2.5f, 0.0f);
    // A species scan drawn while the list shows another parameter.
    flat = false;
    window->ScanGoal(1);
    Select(1);
    emit window->chart->UserPoint(2.5f, 0.0f);
    EXPECT_EQ(Initial(), g0);
    EXPECT_EQ(cells(), before);
    EXPECT_EQ(reads, 0);
}

namespace fs = std::filesystem;

TEST(GoalEndToEnd, ScanAndDoubleClickOnTheBundledExample) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "goal-e2e";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");

    State st;
    TestUi ui(st);
    GoalPort port{ui};
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    auto host = std::make_shared<EmbeddedHost>();
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = dir.string() + "/";
    ui.fileText = "co.xlsx";
    QWidget mainWidget;
    auto* window = new GoalScanWindow(st, port, &mainWidget);
    port.window = window;

    ReadDataSet(st, ui.request());
    port.afterRead(st);
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    ASSERT_EQ(st.nSp, 3);
    ASSERT_EQ(window->list->count(), 4) << "the read refilled the list";
    const int errRow = st.nSp + 10;
    const double rms0 = std::get<double>(st.xlSheet->Value(errRow, 3));

    {
        const QSignalBlocker block(window->list); // CoCl+ from the list
        window->list->setCurrentIndex(1);
    }
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 2) << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_TRUE(window->isVisible());
    // Offset 0 is the error the reader wrote for the Initial values.
    EXPECT_TRUE(FuzzyEqual(window->chart->PointData(11, 1), rms0, 1e-5));
    EXPECT_GT(std::fabs(window->chart->PointData(1, 1) - rms0) +
                  std::fabs(window->chart->PointData(21, 1) - rms0),
              1e-3 * rms0)
        << "the energy of CoCl+ matters";

    // A double click at +2 moves CoCl+ there; the re-read writes the error of the new
    // Initial values, which the scan had plotted at that offset.
    const double old = st.G0Init(2);
    const float plottedAtTwo = window->chart->PointData(13, 1);
    emit window->chart->UserPoint(2.0f, 0.0f);
    EXPECT_EQ(std::get<double>(st.xlSheet->Value(11, 3)), old + 2.0);
    EXPECT_EQ(st.G0Init(2), static_cast<float>(old + 2.0));
    ASSERT_TRUE(std::holds_alternative<double>(st.xlSheet->Value(errRow, 3)));
    const double rms1 = std::get<double>(st.xlSheet->Value(errRow, 3));
    EXPECT_TRUE(FuzzyEqual(rms1, plottedAtTwo, 1e-5));
    EXPECT_TRUE(FuzzyEqual(window->chart->PointData(11, 1), rms1, 1e-5));
    EXPECT_EQ(window->DrawnParameter(), 2);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;

    // Saved and loaded again, the file holds the new Initial value and its error.
    std::string why;
    ASSERT_TRUE(SaveDirtyWorkbooks(*host, why)) << why;
    std::string error;
    auto again = GridWorkbook::Load((dir / "co.xlsx").string(), error);
    ASSERT_TRUE(again) << error;
    Worksheet* sh = again->Worksheets(1);
    EXPECT_EQ(std::get<double>(sh->Value(11, 3)), old + 2.0);
    EXPECT_EQ(std::get<double>(sh->Value(errRow, 3)), rms1);
    EXPECT_EQ(std::get<std::string>(sh->Value(12, 2)), "CoCl4-2") << "the rest is kept";

    st.xlsWatch->SetSheet(nullptr);
    st.xlSheet = nullptr;
    st.xlBook = nullptr;
}

} // namespace
} // namespace lumora::test
