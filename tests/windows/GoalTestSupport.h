#pragma once
// The goal-function window over a replaced goal function with a closed form: a
// quadratic bowl goal(G) = c + (G - m)' A (G - m), whose error sqrt(goal) and its
// gradient A (G - m) / sqrt(goal) are the independent reference of every scan.

#include "FuzzyCompare.h"
#include "TestPort.h"
#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "windows/GoalScanWindow.h"
#include "xlsx/GridSheet.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::test {

struct Bowl {
    double c = 0.25;
    std::vector<double> m;              ///< minimum, 1-based (m[0] unused)
    std::vector<std::vector<double>> A; ///< symmetric positive definite, 1-based

    double Goal(const std::vector<double>& g) const {
        double s = c;
        for (size_t i = 1; i < m.size(); ++i)
            for (size_t j = 1; j < m.size(); ++j) s += (g[i] - m[i]) * A[i][j] * (g[j] - m[j]);
        return s;
    }
    double Error(const std::vector<double>& g) const { return std::sqrt(Goal(g)); }
    /// Analytic gradient of sqrt(goal).
    std::vector<double> Gradient(const std::vector<double>& g) const {
        std::vector<double> d(m.size(), 0.0);
        const double e = Error(g);
        for (size_t i = 1; i < m.size(); ++i) {
            for (size_t j = 1; j < m.size(); ++j) d[i] += A[i][j] * (g[j] - m[j]);
            d[i] /= e;
        }
        return d;
    }
};

/// The test Ui with the wiring the application gives the window: a read refreshes its
/// list, and the main window is a real widget whose controls get disabled (the main
/// window switches off its controls, not itself: that would switch off this window).
class GoalPort : public TestPort {
public:
    using TestPort::TestPort;
    void refreshGoalList() override {
        TestPort::refreshGoalList();
        if (window) window->FillParameterList();
    }
    void setMainEnabled(bool enable) override {
        TestPort::setMainEnabled(enable);
        if (mainControls) mainControls->setEnabled(enable);
    }
    void setButtons(bool enable, Command keep) override {
        TestPort::setButtons(enable, keep);
        ui().buttonsOn.fill(enable);
    }
    bool goalWindowVisible() const override { return window && window->isVisible(); }
    GoalScanWindow* window = nullptr;
    QWidget* mainWidget = nullptr;
    QWidget* mainControls = nullptr;
};

class GoalWindowTest : public ::testing::Test {
protected:
    GoalWindowTest() : ui(st), book("goal-test.xlsx") {
        sheet = book.AddSheet("Data");
        bowl.m = {0.0, -101.0, -198.0, -52.5};
        bowl.A = {{0, 0, 0, 0}, {0, 2.0, 0.5, 0.0}, {0, 0.5, 1.0, 0.2}, {0, 0.0, 0.2, 3.0}};
        LoadDataSet({"CoCl+", "CoCl2", "CoCl4-2"}, {-100.5f, -200.25f, -50.0f});
        st.goalOverride = [this](State& s, int16_t probe) { return FakeGoal(s, probe); };
        st.readOverride = [this](State& s) { FakeRead(s); };
        mainWidget = std::make_unique<QWidget>();
        window = new GoalScanWindow(st, port, mainWidget.get());
        port.window = window;
        port.mainWidget = mainWidget.get();
        port.mainControls = new QWidget(mainWidget.get());
        window->FillParameterList();
        SetChartMessageSink([this](const std::string& text) { chartMessages.push_back(text); });
    }
    ~GoalWindowTest() override { SetChartMessageSink({}); }

    /// Species names and Initial values into the state and the sheet's "Initial" column,
    /// with an error in the "Mean err.:" row, as a successful read leaves them.
    void LoadDataSet(const std::vector<std::string>& names, const std::vector<float>& g0) {
        sheet->SetEvents(false);
        const int n = static_cast<int>(names.size());
        st.nSp = static_cast<int16_t>(n);
        st.SpName.Redim(n);
        st.G0Init.Redim(n);
        st.G0.Redim(n);
        st.SearchDir.Redim(n);
        st.G0Save.Redim(n);
        for (int i = 1; i <= n; ++i) {
            st.SpName(i) = names[static_cast<size_t>(i - 1)];
            st.G0Init(i) = g0[static_cast<size_t>(i - 1)];
            st.G0(i) = st.G0Init(i);
            sheet->SetValue(i + 9, 2, CellValue{st.SpName(i)});
            sheet->SetValue(i + 9, 3, CellValue{static_cast<double>(st.G0Init(i))});
        }
        sheet->SetValue(n + 10, 1, CellValue{std::string("Mean err.:")});
        sheet->SetValue(n + 10, 3, CellValue{1.234});
        st.xlSheet = sheet;
        st.xlsWatch->SetSheet(sheet);
        st.xlsWatch->Changed = false;
        sheet->SetEvents(true);
    }

    double FakeGoal(State& s, int16_t probe) {
        probes.push_back(probe);
        std::vector<double> g(static_cast<size_t>(s.nSp) + 1, 0.0);
        for (int i = 1; i <= s.nSp; ++i) g[static_cast<size_t>(i)] = s.G0(i);
        calls.push_back(g);
        if (duringGoal) duringGoal(static_cast<int>(calls.size()));
        if (fail && fail(g)) {
            s.ErrCode = failCode;
            return 0.0;
        }
        s.ErrCode = 0;
        return flat ? 4.0 : bowl.Goal(g);
    }

    /// Reads the "Initial" column back, as the reader does, and refreshes the list.
    void FakeRead(State& s) {
        ++reads;
        if (readFails) {
            s.ErrCode = 5;
            s.ErrMsg = "Error in temperature (row=5, col=2)";
            s.xlsWatch->Changed = true;
        } else {
            for (int i = 1; i <= s.nSp; ++i)
                s.G0Init(i) = static_cast<float>(std::get<double>(sheet->Value(i + 9, 3)));
            s.ErrCode = 0;
            s.xlsWatch->Changed = false;
        }
    }

    std::vector<double> Initial() const {
        std::vector<double> g(static_cast<size_t>(st.nSp) + 1, 0.0);
        for (int i = 1; i <= st.nSp; ++i) g[static_cast<size_t>(i)] = st.G0Init(i);
        return g;
    }

    /// The model state belongs to the Initial values: the last evaluation was there.
    void ExpectModelAtInitial() {
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), Initial());
        for (int i = 1; i <= st.nSp; ++i) EXPECT_EQ(st.G0(i), static_cast<double>(st.G0Init(i)));
        for (int16_t p : probes) EXPECT_EQ(p, 0) << "every scan evaluation is a full one";
    }

    void ExpectControlsEnabled() {
        EXPECT_TRUE(window->cmdMinus->isEnabled());
        EXPECT_TRUE(window->cmdPlus->isEnabled());
        EXPECT_TRUE(window->Combo->isEnabled());
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
        const QSignalBlocker block(window->Combo);
        window->Combo->setCurrentIndex(index);
    }

    double Cell(int row, int col) const { return std::get<double>(sheet->Value(row, col)); }

    State st;
    TestUi ui;
    GoalPort port{ui};
    GridWorkbook book;
    GridSheet* sheet = nullptr;
    Bowl bowl;
    std::unique_ptr<QWidget> mainWidget;
    GoalScanWindow* window = nullptr; // owned by mainWidget

    std::vector<std::vector<double>> calls;
    std::vector<int16_t> probes;
    std::function<bool(const std::vector<double>&)> fail;
    int16_t failCode = -1;
    std::function<void(int)> duringGoal;
    bool flat = false;
    bool readFails = false;
    int reads = 0;
    std::vector<std::string> chartMessages; ///< the chart's own misuse messages
};

} // namespace lumora::test
