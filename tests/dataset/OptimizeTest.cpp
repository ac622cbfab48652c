// The optimizer command on goal functions with known minima: the result on the sheet
// (Result, Mean err., intervals, the result table), Esc, the questions and the failures.

#include "ComplexationSet.h"
#include "FuzzyCompare.h"
#include "OptimizeFixture.h"
#include "dataset/OptimizeCommand.h"
#include "fit/GoalResiduals.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace lumora::test {
namespace {

using S = std::string;

/// Deterministic noise in [-1, 1] from the parameters as the engine sees them (floats).
inline double Noise(const std::vector<double>& g) {
    double x = 0.0;
    for (size_t i = 1; i < g.size(); ++i) x += (12.9898 + 65.1 * i) * static_cast<float>(g[i]);
    return std::sin(1e4 * x);
}

/// Species 2 fixed at -250; 1 and 3 free in the valley 0.01 + d' A d around
/// (-300.5, -120.25), seen through float parameters (as the engine sees them) and with a
/// relative noise.
const Eigen::Matrix2d kA = (Eigen::Matrix2d() << 1.0, 0.3, 0.3, 0.5).finished();
const double kGMin[] = {0.0, -300.5, -250.0, -120.25}, kGStart[] = {0.0, -302.0, -250.0, -119.0};
void SetUpValley(OptimizeFixture& fx) {
    fx.Start(1, kGStart[1]), fx.Fix(2, kGStart[2]), fx.Start(3, kGStart[3]);
    fx.goal.f = [=](const std::vector<double>& g) {
        auto x = [&](int i) { return static_cast<float>(g[i]); };
        const Eigen::Vector2d d(x(1) - kGMin[1], x(3) - kGMin[3]);
        return (0.01 + d.dot(kA * d)) * (1.0 + 1e-7 * Noise(g));
    };
}

TEST(Optimize, ConvergesToTheMinimumAndWritesEverything) {
    OptimizeFixture fx({3, 5, 10, 0, 0});
    SetUpValley(fx);
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_TRUE(fx.st.ErrCode == 0 && fx.ui.messages.empty() && fx.ui.questions.empty());
    // "Result" and "Mean err.": the refined values, the fixed one kept.
    for (int i : {1, 2, 3}) EXPECT_NEAR(fx.sheet.Number(9 + i, 4), kGMin[i], i == 2 ? 0 : 2e-3);
    EXPECT_FUZZY(fx.sheet.Number(fx.ErrRow(), 4), std::sqrt(0.01), 1e-4);
    // " ±": the half-widths from the Hessian 2A, none for the fixed species.
    const Eigen::Matrix2d inv = (2.0 * kA).inverse();
    const double f = 2.0 * Chi2Quantile95(2) * 2 * 0.01 / (10 * 5 - 10 * 3);
    EXPECT_FUZZY(fx.sheet.Number(10, 5), std::sqrt(inv(0, 0) * f), 1e-2);
    EXPECT_FUZZY(fx.sheet.Number(12, 5), std::sqrt(inv(1, 1) * f), 1e-2);
    EXPECT_FALSE(fx.sheet.HasNumber(11, 5));
    EXPECT_EQ(fx.sheet.Value(fx.st.RowWave, 8), CellValue{S("Sp1")}); // nSol + 3
    // The status line counts the iterations and ends empty; the host is given back; the
    // program's writes are no edits of the user.
    EXPECT_TRUE(fx.ui.statuses.front().starts_with("Iteration: 1,    Error: ") &&
                fx.ui.statuses.back().empty());
    EXPECT_EQ(fx.statusBar, (std::vector<std::string>{"Optimizing...", ""}));
    for (const GoalCall& c : fx.goal.calls) EXPECT_FALSE(c.interactive);
    EXPECT_TRUE(fx.app->Interactive() && fx.app->ScreenUpdating() && !fx.st.xlsWatch->Changed);
    EXPECT_EQ(fx.sheet.eventWrites, 0);
    // The views see the result: evaluated last where the sheet says.
    EXPECT_EQ(std::pair(fx.goal.calls.back().probe, fx.goal.calls.back().g[1]),
              std::pair(int16_t(-1), fx.sheet.Number(10, 4)));
}

// Profile intervals on the sheet, for a goal that ignores species 3: the half-width of
// species 1 from its closed-form profile (F(0.95; 1, 18) = 4.414, 50 absorbances - 30
// absorptivities - 2), and the old " ±" of the undetermined species 3 cleared.
TEST(Optimize, ProfileIntervalsOnTheSheet) {
    OptimizeFixture fx({3, 5, 10, 0, 0});
    fx.Start(1, kGStart[1]), fx.Fix(2, kGStart[2]), fx.Start(3, kGStart[3]);
    fx.goal.f = [](const std::vector<double>& g) {
        const double d = static_cast<float>(g[1]) - kGMin[1];
        return 0.01 + d * d;
    };
    fx.st.AbsM.Redim(5, 10);
    fx.st.residualsOverride = [&](const State&, std::vector<double>& r) {
        r = {0.1, static_cast<float>(fx.goal.calls.back().g[1]) - kGMin[1]};
    };
    fx.sheet.UserEdit(12, 5, 0.5);
    fx.st.xlsWatch->Changed = false;
    OptimizeCommand(fx.st, ReadRequest{}, {}, FitMethod::LevenbergMarquardt,
                    IntervalMethod::Profile);
    ASSERT_EQ(fx.st.ErrCode, 0);
    EXPECT_FUZZY(fx.sheet.Number(10, 5), std::sqrt(0.01 * 4.414 / 18), 3e-3);
    EXPECT_FALSE(fx.sheet.HasNumber(11, 5) || fx.sheet.HasNumber(12, 5));
    EXPECT_TRUE(fx.st.IntervalNote.starts_with("Sp3 is not determined by these data"));
}

TEST(Optimize, EscAsksWhetherToKeepTheData) {
    // Esc inside a probe and a few iterations in, answered Yes and No.
    for (const long at : {6L, 40L})
        for (const bool keep : {true, false}) {
            SCOPED_TRACE(testing::Message() << at << " " << keep);
            OptimizeFixture fx({3, 5, 10, 0, 0});
            SetUpValley(fx);
            fx.ui.interruptAtYield = at, fx.ui.answers = {keep};
            OptimizeCommand(fx.st, ReadRequest{});
            EXPECT_EQ(fx.ui.questions,
                      std::vector<std::string>{"Optimization interrupted. Keep current data?  "});
            EXPECT_EQ(fx.st.ErrCode, -1);
            // Yes: the iterations so far stay on the sheet and the model is evaluated at
            // them. No: the sheet is as before the run (a "Result" left would fix its
            // species), and the next command reads it again.
            for (int row : {10, 12, fx.ErrRow()})
                EXPECT_EQ(fx.sheet.HasNumber(row, 4), at == 40 && keep) << row;
            EXPECT_EQ(fx.st.xlsWatch->Changed, !keep);
            for (int i : {1, 3}) {
                if (!keep && at == 40) continue; // the state waits for the re-read
                const double shown = at == 40 ? fx.sheet.Number(9 + i, 4) : kGStart[i];
                EXPECT_EQ(std::pair(fx.goal.calls.back().g[i], fx.st.G0(i)),
                          std::pair(shown, shown));
            }
            // The table only with Yes; no intervals either way.
            EXPECT_EQ(fx.sheet.Value(fx.st.RowWave, 8), keep ? CellValue{S("Sp1")} : CellValue{});
            EXPECT_TRUE(!fx.sheet.HasNumber(10, 5) && fx.app->Interactive());
        }
}

TEST(Optimize, EscDuringALevenbergMarquardtRun) {
    // The complexation set behind the sheet, the method named in its options. Esc before the
    // first iteration ends, and one and two iterations in: the same question, and the model
    // state evaluated at the parameters shown.
    for (const auto& [at, iterations] : {std::pair{40L, 0L}, {120L, 1L}, {200L, 2L}})
        for (const bool keep : {true, false}) {
            SCOPED_TRACE(testing::Message() << at << " " << keep);
            OptimizeFixture fx({3, 10, 16, 0, 0});
            SetUpComplexation(fx.st, 10, 16, 0.002, 7);
            fx.st.goalOverride = nullptr;
            fx.sheet.UserEdit(4, 2, S("/method=lm"));
            fx.st.xlsWatch->Changed = false, fx.st.Method = FitMethod::LevenbergMarquardt;
            fx.ui.interruptAtYield = at, fx.ui.answers = {keep};
            OptimizeCommand(fx.st, ReadRequest{});
            EXPECT_EQ(fx.ui.questions,
                      std::vector<std::string>{"Optimization interrupted. Keep current data?  "});
            const long shown = std::count_if(fx.ui.statuses.begin(), fx.ui.statuses.end(),
                                             [](const S& t) { return t.starts_with("Iteration"); });
            EXPECT_EQ(std::pair(fx.st.ErrCode, shown), std::pair(int16_t(-1), iterations));
            for (int row : {11, 12, fx.ErrRow()})
                EXPECT_EQ(fx.sheet.HasNumber(row, 4), shown > 0 && keep) << row;
            EXPECT_EQ(fx.sheet.Value(fx.st.RowWave, 13), keep ? CellValue{S("Sp1")} : CellValue{});
            if (!keep && shown > 0) continue; // the state waits for the re-read
            for (int k : {2, 3})
                EXPECT_EQ(fx.st.G0(k), shown > 0 ? fx.sheet.Number(9 + k, 4) : kStartG[k]);
            std::vector<double> r;
            GoalResiduals(fx.st, r);
            double squares = 0.0;
            for (double v : r) squares += v * v;
            const double error = shown > 0 ? fx.sheet.Number(fx.ErrRow(), 4) : fx.st.RmsErr;
            EXPECT_FUZZY(std::sqrt(squares), error, 1e-9);
        }
}

TEST(Optimize, ZeroCurvatureDirections) {
    // Species 1: a step in the error (slope, no curvature) contributes sign(g) x h;
    // species 2: no effect at all contributes 0; species 3: a parabola in E whose
    // Newton-scaled slope is its distance to the vertex.
    OptimizeFixture fx({3, 4, 5, 0, 0});
    fx.Start(1, -200.0);
    fx.Start(2, -150.0);
    fx.Start(3, -120.48);
    const double vertex = -120.5;
    fx.goal.f = [&](const std::vector<double>& g) {
        const double step = g[1] > -200.0 ? 1.0 : (g[1] < -200.0 ? -1.0 : 0.0);
        const double e = 5.0 + step + (g[3] - vertex) * (g[3] - vertex);
        return e * e;
    };
    fx.goal.failAtCall = 1 + 6 + 1; // stop at the first directional probe
    OptimizeCommand(fx.st, ReadRequest{});
    const double h = 0.01;
    const double d3 = static_cast<double>(fx.st.G0Res(3)) - vertex;
    EXPECT_EQ(fx.st.SearchDir(2), 0.0);
    EXPECT_FUZZY(fx.st.SearchDir(1) / fx.st.SearchDir(3), h / d3, 1e-6);
    EXPECT_FUZZY(std::hypot(fx.st.SearchDir(1), fx.st.SearchDir(3)), 1.0, 1e-12);
    EXPECT_GT(fx.st.SearchDir(1), 0.0);
    // A failed probe leaves the parameters at the start of the step.
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(fx.st.G0(i), static_cast<double>(fx.st.G0Res(i)));
}

TEST(Optimize, DirectionThatGainsNothingEndsTheRun) {
    // Past a bowl the error keeps falling along G by amounts far below RelTol (as for a
    // vanishing species in the Gaussian mode): such steps end the run like a collapse.
    OptimizeFixture fx({1, 3, 4, 0, 0});
    fx.Start(1, -81.0);
    fx.goal.f = [](const std::vector<double>& g) {
        const double d = g[1] + 80.0, e = 1.0 + (d < 0.0 ? 1e-3 * d * d : 0.0) - 1e-10 * d;
        return e * e;
    };
    fx.ui.interruptAtYield = 200000; // a run that never ends fails here, not by hanging
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_TRUE(fx.st.ErrCode == 0 && fx.ui.questions.empty());
    EXPECT_NEAR(fx.st.G0Res(1), -80.0, 0.5) << "down the bowl, then no drift";
}

// Nothing to optimize, answered Yes: with nSol = 3, nSp = 2, Eps in columns 6 and 7, 8
// empty, AbsC in 9..11; the cleared rectangle spans columns 5..14 and ends one row below
// the lowest spectrum row. Answered No: nothing is written.
class ResultBlock : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ResultBlock, ColumnsAndClearedRectangle) {
    const auto [skipBefore, skipAfter] = GetParam();
    OptimizeFixture fx({2, 3, 4, skipBefore, skipAfter});
    fx.Fix(1, -100.0), fx.Fix(2, -200.0);
    fx.goal.f = [](const std::vector<double>&) { return 0.01; };
    State& st = fx.st;
    const int bottom = std::max(st.RowWlLast, st.RowWlSkip) + 1;
    const auto cells = [&] {
        std::vector<CellValue> v;
        for (int r = 1; r <= bottom + 1; ++r)
            for (int c = 1; c <= 15; ++c) v.push_back(fx.sheet.Value(r, c));
        return v;
    };
    fx.sheet.SetEvents(false);
    for (int r = 1; r <= bottom + 1; ++r)
        for (int c = 5; c <= 15; ++c)
            if (IsEmpty(fx.sheet.Value(r, c))) fx.sheet.UserEdit(r, c, S("junk"));
    fx.sheet.SetEvents(true);
    const auto before = cells();
    fx.ui.answers = {true};
    OptimizeCommand(st, ReadRequest{});
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_EQ(fx.ui.questions,
              std::vector<std::string>{"Nothing to optimize. Save data?  \n"
                                       "(fixed by a value in \"Result\": Sp1, Sp2)"});
    EXPECT_FUZZY(fx.sheet.Number(fx.ErrRow(), 4), 0.1, 1e-12);
    EXPECT_FALSE(fx.sheet.HasNumber(10, 5)); // no intervals
    // The block is cleared; outside it everything stays, but the error cell and the mode tag.
    for (int r = 1; r <= bottom + 1; ++r)
        for (int c = 1; c <= 15; ++c) {
            const bool block = r >= st.RowWave - 1 && r <= bottom && c >= 5 && c <= 14;
            const CellValue now = fx.sheet.Value(r, c), was = before[size_t((r - 1) * 15 + c - 1)];
            const bool written = r == fx.ErrRow() && (c == 4 || c == 5);
            EXPECT_TRUE(block ? now != CellValue{S("junk")} : written || now == was)
                << r << "," << c;
        }
    EXPECT_EQ(fx.sheet.Value(st.RowWave, 7), CellValue{S("Sp2")});
    for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(fx.sheet.Value(st.RowWave, 8 + j), CellValue{"S" + std::to_string(j)});
        EXPECT_EQ(fx.sheet.Number(st.RowWave - 1, 8 + j), double(float(0.001 * j)));
    }
    for (int r = st.RowWlFirst; r <= st.RowWlLast; ++r) {
        const int k = r - st.RowWlFirst + 1;
        EXPECT_EQ(fx.sheet.Number(r, 7), 2000.0 + k);
        EXPECT_EQ(fx.sheet.Number(r, 11), double(float(0.3 + 0.01 * k)));
        for (int c : {5, 8, 12, 13, 14})
            EXPECT_TRUE(IsEmpty(fx.sheet.Value(r, c))) << r << "," << c;
    }
    fx.goal.f = [](const std::vector<double>&) { return 0.04; };
    const auto after = cells();
    fx.ui.answers = {false};
    OptimizeCommand(st, ReadRequest{});
    EXPECT_TRUE(cells() == after && st.ErrCode == 0 && !st.xlsWatch->Changed);
}

INSTANTIATE_TEST_SUITE_P(Optimize, ResultBlock,
                         ::testing::Values(std::pair{0, 0}, std::pair{0, 2}, std::pair{2, 0},
                                           std::pair{1, 3}));

TEST(Optimize, FailedReReadLeavesTheSheetMarkedChanged) {
    OptimizeFixture fx({1, 3, 4, 0, 0});
    fx.Start(1, -80.0);
    fx.goal.f = [](const std::vector<double>&) { return 1.0; };
    fx.sheet.UserEdit(30, 30, std::string("edit"));
    fx.st.readOverride = [](State& s) { s.ErrCode = 3; };
    fx.sheet.SetEvents(false); // as a failed read leaves them
    OptimizeCommand(fx.st, ReadRequest{});
    EXPECT_EQ(fx.st.ErrCode, 3);
    EXPECT_TRUE(fx.st.xlsWatch->Changed && !fx.sheet.Events() && fx.goal.calls.empty());
    // Settings that were never saved are not "restored".
    EXPECT_TRUE(fx.statusBar.empty() && fx.sheet.writes == 0);
}

TEST(Optimize, FailuresEndInTheMessageAndTheCleanUp) {
    const std::pair<std::function<void(OptimizeFixture&)>, std::string> cases[] = {
        {[](OptimizeFixture& fx) { fx.sheet.failWrites = true; },
         "Optimization failed: Application-defined or object-defined error"},
        {[](OptimizeFixture& fx) { fx.st.nSol = fx.st.nSp; }, // no degrees of freedom
         "Optimization failed: Division by zero"},
        // A goal failing in the iterations shows its own message; the table is saved.
        {[](OptimizeFixture& fx) { fx.goal.failAtCall = 6; }, ""},
    };
    for (const auto& [arrange, message] : cases) {
        SCOPED_TRACE(message);
        OptimizeFixture fx({3, 5, 10, 0, 0});
        SetUpValley(fx);
        arrange(fx);
        OptimizeCommand(fx.st, ReadRequest{});
        EXPECT_EQ(fx.st.ErrCode, -1);
        EXPECT_TRUE(fx.ui.questions.empty() && !fx.sheet.HasNumber(10, 5)); // no intervals
        ExpectMessage(fx.ui, message);
        EXPECT_TRUE(!message.empty() || fx.sheet.Value(fx.st.RowWave, 8) == CellValue{S("Sp1")});
        EXPECT_TRUE(fx.app->Interactive() && fx.sheet.Events() && !fx.st.xlsWatch->Changed);
        EXPECT_EQ(std::pair(fx.statusBar.back(), fx.ui.statuses.back()), std::pair(S(), S()));
        EXPECT_EQ(fx.st.GaussLimit, 0.95);
    }
}

} // namespace
} // namespace lumora::test
