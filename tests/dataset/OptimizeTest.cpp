// The optimizer on synthetic goal functions with known minima, kinks and steps.

#include "FuzzyCompare.h"
#include "OptimizeFixture.h"
#include "base/NumText.h"
#include "dataset/OptimizeCommand.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>

namespace lumora::test {
namespace {

/// A smooth valley with a known minimum, seen through float parameters (as the engine
/// sees them) and with a relative noise of 1e-7 unless switched off.
struct NoisyValley {
    double f0 = 0.01;
    std::vector<int> species;
    Eigen::MatrixXd A;
    std::vector<double> minimum; ///< by species number
    double noise = 1e-7;
    bool floats = true;

    double Exact(const std::vector<double>& g) const {
        auto x = [&](int i) { return (floats ? static_cast<float>(g[i]) : g[i]) - minimum[i]; };
        double f = f0;
        for (size_t a = 0; a < species.size(); ++a)
            for (size_t b = 0; b < species.size(); ++b)
                f += x(species[a]) * A(a, b) * x(species[b]);
        return f;
    }
    double operator()(const std::vector<double>& g) const {
        return Exact(g) * (1.0 + noise * Hash01(g));
    }
};

/// E = 1 + |x - x0| - 0.5 (x - x0): every move away from x0 raises the error, so each
/// line search collapses; the goal is E squared.
struct Kink {
    double x0;
    double operator()(const std::vector<double>& g) const {
        const double d = g[1] - x0;
        const double e = 1.0 + std::fabs(d) - 0.5 * d;
        return e * e;
    }
};

/// Three species, 2 fixed; 1 and 3 free in a coupled valley.
class ValleyTest : public ::testing::Test {
protected:
    ValleyTest() : fx({3, 5, 10, 0, 0}) {
        Eigen::Matrix2d A;
        A << 1.0, 0.3, 0.3, 0.5;
        valley = NoisyValley{0.01, {1, 3}, A, {0.0, -300.5, -250.0, -120.25}};
        fx.Start(1, -302.0);
        fx.Fix(2, -250.0);
        fx.Start(3, -119.0);
        fx.app->displayStatusBar = false;
        fx.goal.f = [this](const std::vector<double>& g) { return valley(g); };
    }
    OptimizeFixture fx;
    NoisyValley valley;
};

TEST_F(ValleyTest, ConvergesToTheMinimumAndWritesEverything) {
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_EQ(fx.st.ErrCode, 0);
    ASSERT_TRUE(fx.ui.messages.empty()) << fx.ui.messages[0].text;
    EXPECT_GT(fx.st.IterCount, 0);

    // The "Result" column holds the refined values, the fixed species keeps its cell.
    EXPECT_NEAR(fx.sheet.Number(10, 4), -300.5, 2e-3);
    EXPECT_NEAR(fx.sheet.Number(12, 4), -120.25, 2e-3);
    EXPECT_EQ(fx.sheet.Number(11, 4), -250.0);
    EXPECT_NEAR(fx.st.G0Res(1), -300.5, 2e-3);
    EXPECT_NEAR(fx.st.G0Res(3), -120.25, 2e-3);
    EXPECT_FUZZY(fx.sheet.Number(fx.ErrRow(), 4), std::sqrt(0.01), 1e-4);

    // Intervals from the analytic Hessian 2A at the optimum.
    Eigen::Matrix2d H = 2.0 * valley.A;
    const Eigen::Matrix2d inv = H.inverse();
    const double f = 2.0 * Chi2Quantile95(2) * 2 * 0.01 / (10 * 5 - 10 * 3);
    EXPECT_FUZZY(fx.sheet.Number(10, 5), std::sqrt(inv(0, 0) * f), 1e-2);
    EXPECT_FUZZY(fx.sheet.Number(12, 5), std::sqrt(inv(1, 1) * f), 1e-2);
    EXPECT_FALSE(fx.sheet.HasNumber(11, 5));

    // Status texts: iterations, saving, intervals, then cleared.
    const std::regex iteration(R"(Iteration: \d+,    Error: \d+\.\d{6})");
    ASSERT_FALSE(fx.ui.statuses.empty());
    EXPECT_TRUE(fx.ui.statuses.front().starts_with("Iteration: 1,    Error: "));
    int iterations = 0;
    for (const std::string& s : fx.ui.statuses) iterations += std::regex_match(s, iteration);
    EXPECT_EQ(iterations, fx.st.IterCount);
    const std::string last = "Iteration: " + std::to_string(fx.st.IterCount) + ",    Error: " +
                             Trim(FormatNumber(fx.sheet.Number(fx.ErrRow(), 4), "0.000000"));
    EXPECT_NE(std::find(fx.ui.statuses.begin(), fx.ui.statuses.end(), last), fx.ui.statuses.end());
    EXPECT_NE(std::find(fx.ui.statuses.begin(), fx.ui.statuses.end(), "Saving parameters..."),
              fx.ui.statuses.end());
    EXPECT_NE(std::find(fx.ui.statuses.begin(), fx.ui.statuses.end(),
                        "Calculating confidence intervals..."),
              fx.ui.statuses.end());
    EXPECT_EQ(fx.ui.statuses.back(), "");

    // The host: "Optimizing..." and not interactive during the run, all given back after.
    ASSERT_FALSE(fx.app->statusBarHistory.empty());
    EXPECT_EQ(fx.app->statusBarHistory.front(), "Optimizing...");
    EXPECT_EQ(fx.app->statusBarHistory.back(), "<reset>");
    for (const GoalCall& c : fx.goal.calls) EXPECT_FALSE(c.interactive);
    EXPECT_TRUE(fx.app->interactive);
    EXPECT_TRUE(fx.app->screenUpdating);
    EXPECT_EQ(fx.app->displayStatusBarWrites, 1);
    EXPECT_FALSE(fx.app->displayStatusBar);

    // The program's writes are not user changes.
    EXPECT_EQ(fx.WritesWithEventsOn(), 0);
    EXPECT_FALSE(fx.st.xlsWatch->Changed);
    EXPECT_TRUE(fx.sheet.Events());

    // Mode tag: empty and centred; GaussLimit back to 0.95; the collapse that ended the
    // run raised RelTol, which stays until the next read.
    EXPECT_FALSE(fx.sheet.HasNumber(fx.ErrRow(), 5));
    EXPECT_TRUE(IsEmpty(fx.sheet.Value(fx.ErrRow(), 5)));
    EXPECT_EQ(fx.sheet.alignment[std::make_pair(fx.ErrRow(), 5)], kAlignCenter);
    EXPECT_EQ(fx.st.GaussLimit, 0.95);
    EXPECT_DOUBLE_EQ(fx.st.RelTol, 1e-7);
    EXPECT_FALSE(fx.st.GaussFixed.Dimensioned());
    // The views see the result: G0 where the sheet says, evaluated there last.
    EXPECT_EQ(fx.goal.calls.back().probe, -1);
    EXPECT_EQ(fx.goal.calls.back().g[1], fx.sheet.Number(10, 4));
    EXPECT_EQ(fx.st.G0(3), fx.sheet.Number(12, 4));
    EXPECT_EQ(fx.st.GoalCalls, static_cast<long>(fx.goal.calls.size()));
}

TEST_F(ValleyTest, ExactGoalFunctionsConvergeToo) {
    // Without noise the last steps gain nothing and fall below the collapse length;
    // such a step ends the run instead of repeating until the iteration count overflows.
    for (const bool floats : {true, false}) {
        OptimizeFixture f2({3, 5, 10, 0, 0});
        f2.Start(1, -302.0);
        f2.Fix(2, -250.0);
        f2.Start(3, -119.0);
        NoisyValley exact = valley;
        exact.noise = 0.0;
        exact.floats = floats;
        f2.goal.f = [&](const std::vector<double>& g) { return exact(g); };
        OptimizeCommand(f2.st, ReadRequest{});
        ASSERT_EQ(f2.st.ErrCode, 0) << floats;
        ASSERT_TRUE(f2.ui.messages.empty()) << f2.ui.messages[0].text;
        EXPECT_TRUE(f2.ui.questions.empty()) << f2.ui.questions[0]; // not "Nothing to optimize"
        EXPECT_LT(f2.st.IterCount, 1000) << floats;
        EXPECT_NEAR(f2.sheet.Number(10, 4), -300.5, 2e-3) << floats;
        EXPECT_NEAR(f2.sheet.Number(12, 4), -120.25, 2e-3) << floats;
        EXPECT_TRUE(f2.sheet.HasNumber(10, 5)) << "intervals after convergence";
        EXPECT_DOUBLE_EQ(f2.st.RelTol, 1e-7);
    }
}

TEST_F(ValleyTest, EscAsksWhetherToKeepTheData) {
    // Esc at the start of an iteration, inside a probe, and a few iterations in.
    for (const long at : {3L, 6L, 9L, 40L}) {
        for (const bool keep : {true, false}) {
            OptimizeFixture f2({3, 5, 10, 0, 0});
            f2.Start(1, -302.0);
            f2.Fix(2, -250.0);
            f2.Start(3, -119.0);
            f2.goal.f = [this](const std::vector<double>& g) { return valley(g); };
            f2.ui.interruptAtYield = at;
            f2.ui.answers = {keep};
            OptimizeCommand(f2.st, ReadRequest{});
            const std::string where =
                "Esc at yield " + std::to_string(at) + (keep ? ", Yes" : ", No");
            ASSERT_EQ(f2.ui.questions.size(), 1u) << where;
            EXPECT_EQ(f2.ui.questions[0], "Optimization interrupted. Keep current data?  ");
            EXPECT_EQ(f2.st.ErrCode, -1) << where;
            // The iterations done so far stay on the sheet either way, and the model
            // state was evaluated once more at the values the sheet shows.
            const GoalCall& last = f2.goal.calls.back();
            EXPECT_EQ(last.probe, -1) << where;
            const double start[] = {0.0, -302.0, -250.0, -119.0};
            for (int i : {1, 3}) {
                const double shown =
                    f2.sheet.HasNumber(9 + i, 4) ? f2.sheet.Number(9 + i, 4) : start[i];
                EXPECT_EQ(last.g[i], shown) << where;
                EXPECT_EQ(f2.st.G0(i), shown) << where;
            }
            if (at == 40) {
                EXPECT_TRUE(f2.sheet.HasNumber(10, 4));
                EXPECT_TRUE(f2.sheet.HasNumber(f2.ErrRow(), 4));
            }
            // The table only with Yes; no intervals in either case.
            EXPECT_EQ(f2.sheet.Value(f2.st.RowWave, 8), // nSol + 3
                      keep ? CellValue{std::string("Sp1")} : CellValue{})
                << where;
            EXPECT_FALSE(f2.sheet.HasNumber(10, 5)) << where;
            EXPECT_FALSE(f2.st.xlsWatch->Changed);
            EXPECT_TRUE(f2.app->interactive);
        }
    }
}

TEST(Optimize, NothingToOptimizeWithBothAnswers) {
    for (const bool save : {true, false}) {
        OptimizeFixture fx({2, 3, 4, 0, 0});
        fx.Fix(1, -100.0);
        fx.Fix(2, -200.0);
        fx.goal.f = [](const std::vector<double>& g) { return 0.04 + 1e-6 * (g[1] + g[2] + 300); };
        const auto before = fx.sheet.cells;
        fx.ui.answers = {save};
        OptimizeCommand(fx.st, ReadRequest{});
        ASSERT_EQ(fx.ui.questions.size(), 1u);
        EXPECT_EQ(fx.ui.questions[0], "Nothing to optimize. Save data?  ");
        EXPECT_EQ(fx.st.ErrCode, 0);
        EXPECT_TRUE(fx.ui.messages.empty());
        EXPECT_EQ(fx.st.IterCount, 0);
        if (save) {
            EXPECT_FUZZY(fx.sheet.Number(fx.ErrRow(), 4), 0.2, 1e-12);
            EXPECT_EQ(fx.sheet.Value(fx.st.RowWave, 6), CellValue{std::string("Sp1")});
            EXPECT_FALSE(fx.sheet.HasNumber(10, 5)); // no intervals
            EXPECT_EQ(fx.goal.calls.back().probe, -1);
        } else {
            EXPECT_EQ(fx.sheet.cells, before); // the empty mode tag changes nothing
        }
        EXPECT_FALSE(fx.st.xlsWatch->Changed);
        EXPECT_EQ(fx.WritesWithEventsOn(), 0);
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

TEST(Optimize, LongNewtonStepIsDampedLogarithmically) {
    // Along the probes: slope 1 toward larger x, curvature 0.99 + |g| t = 1: a Newton
    // step of 1 = 100 t, damped to (1 + ln 100) t.
    OptimizeFixture fx({1, 3, 4, 0, 0});
    const double x0 = -100.0;
    fx.Start(1, x0);
    fx.goal.f = [&](const std::vector<double>& g) {
        const double d = g[1] - x0;
        const double e = 10.0 - d + 0.495 * d * d;
        return e * e;
    };
    fx.goal.failAtCall = 1 + 2 + 2 + 1; // the first line-search trial
    OptimizeCommand(fx.st, ReadRequest{});
    const GoalCall& trial = fx.goal.calls.at(5);
    ASSERT_EQ(trial.probe, 0);
    EXPECT_NEAR(trial.g[1] - x0, (1.0 + std::log(100.0)) * 0.01, 1e-9);
    EXPECT_NEAR(trial.g[1] - x0, 0.0561, 1e-4);
    // A goal failure during the iterations still saves the table, without intervals.
    EXPECT_EQ(fx.st.ErrCode, -1);
    EXPECT_TRUE(fx.ui.questions.empty());
    EXPECT_EQ(fx.sheet.Value(fx.st.RowWave, 6), CellValue{std::string("Sp1")});
    EXPECT_FALSE(fx.sheet.HasNumber(10, 4));
    EXPECT_FALSE(fx.sheet.HasNumber(10, 5));
}

TEST(Optimize, CollapseGrowsRelTolAndEndsTheRun) {
    OptimizeFixture fx({1, 3, 4, 0, 0});
    const double x0 = -80.0;
    fx.Start(1, x0);
    fx.goal.f = Kink{x0};
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_EQ(fx.st.ErrCode, 0);
    // The first iteration collapses and, in the ordinary model, ends the run.
    EXPECT_EQ(fx.st.IterCount, 1);
    EXPECT_DOUBLE_EQ(fx.st.RelTol, 1e-7);
    // The parameters stay at the last (rejected) trial; the error at the best value.
    const std::vector<GoalCall> full = fx.goal.Full();
    ASSERT_GE(full.size(), 3u);
    const GoalCall& lastTrial = full[full.size() - 2]; // before the interval phase
    EXPECT_EQ(fx.sheet.Number(10, 4), lastTrial.g[1]);
    EXPECT_GT(Kink{x0}(lastTrial.g), 1.0);
    EXPECT_LE(std::fabs(lastTrial.g[1] - x0), 2e-4);
    EXPECT_EQ(fx.sheet.Number(fx.ErrRow(), 4), 1.0);
    // The interval phase works with the grown tolerance.
    EXPECT_DOUBLE_EQ(full.back().relTol, 1e-7);
    EXPECT_DOUBLE_EQ(fx.goal.calls.back().relTol, 1e-7);

    // A second run without a read starts from the last trial point and grows RelTol again.
    const size_t first = fx.goal.calls.size();
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_EQ(fx.st.ErrCode, 0);
    EXPECT_EQ(fx.goal.calls.at(first).g[1],
              static_cast<double>(static_cast<float>(lastTrial.g[1])));
    EXPECT_DOUBLE_EQ(fx.st.RelTol, 1e-6);
}

TEST(Optimize, DirectionThatGainsNothingEndsTheRun) {
    // Past a bowl the error keeps falling along G by amounts far below RelTol (as when a
    // vanishing species' band height makes up for its falling concentration). Such steps
    // end the run like a collapse instead of drifting until the iteration count overflows.
    OptimizeFixture fx({1, 3, 4, 0, 0});
    const double x0 = -80.0;
    fx.Start(1, x0 - 1.0);
    fx.goal.f = [&](const std::vector<double>& g) {
        const double d = g[1] - x0;
        const double e = 1.0 + (d < 0.0 ? 1e-3 * d * d : 0.0) - 1e-10 * d;
        return e * e;
    };
    fx.ui.interruptAtYield = 200000; // a run that never ends fails here, not by hanging
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_EQ(fx.st.ErrCode, 0);
    EXPECT_TRUE(fx.ui.questions.empty());
    EXPECT_LT(fx.st.IterCount, 1000);
    EXPECT_NEAR(fx.st.G0Res(1), x0, 0.5) << "down the bowl, then no drift";
    EXPECT_GT(fx.st.RelTol, 1e-8);
}

TEST(Optimize, GaussianModeRaisesGaussLimitInStages) {
    OptimizeFixture fx({1, 3, 4, 0, 0});
    const double x0 = -80.0;
    fx.Start(1, x0);
    fx.goal.f = Kink{x0};
    fx.st.FitMode = 1;
    fx.st.MeanWl = 325.0;
    fx.st.GaussTab.Redim(3, 1);
    fx.st.GaussTab(0, 0) = 1;
    fx.st.GaussTab(0, 1) = 1;   // species
    fx.st.GaussTab(1, 1) = 1.0; // center
    fx.st.GaussTab(2, 1) = 0.1; // width
    fx.st.GaussTab(3, 1) = 3.0; // log height
    fx.st.GaussArg = false;     // bands in wavelength
    fx.sheet.SetEvents(false);
    fx.sheet.SetValue(10, 7, 1.0);                    // one band
    fx.sheet.SetComment(10, 9, std::string("fixed")); // its width held fixed
    fx.sheet.SetEvents(true);
    OptimizeCommand(fx.st, ReadRequest{});
    ASSERT_EQ(fx.st.ErrCode, 0);
    ASSERT_TRUE(fx.ui.messages.empty()) << fx.ui.messages[0].text;
    std::vector<double> stages;
    for (const GoalCall& c : fx.goal.calls)
        if (stages.empty() || stages.back() != c.gaussLimit) stages.push_back(c.gaussLimit);
    EXPECT_EQ(stages, (std::vector<double>{0.95, 0.995, 0.9995, 0.99995}));
    EXPECT_DOUBLE_EQ(fx.st.RelTol, 1e-5); // three collapses from 1e-8
    EXPECT_EQ(fx.st.GaussLimit, 0.95);
    EXPECT_EQ(fx.sheet.Value(fx.ErrRow(), 5), CellValue{std::string("Gauss")});
    // The fixed marks were read, and the bands written back with every iteration.
    ASSERT_EQ(fx.st.GaussFixed.UBound(), 3);
    EXPECT_EQ(fx.st.GaussFixed(1), 0);
    EXPECT_EQ(fx.st.GaussFixed(2), 1);
    EXPECT_EQ(fx.st.GaussFixed(3), 0);
    EXPECT_FUZZY(fx.sheet.Number(10, 8), 325.0, 1e-12);
    EXPECT_FUZZY(fx.sheet.Number(10, 9), 32.5, 1e-12);
    EXPECT_FUZZY(fx.sheet.Number(10, 10), std::exp(3.0), 1e-12);
    EXPECT_EQ(fx.WritesWithEventsOn(), 0);
    EXPECT_EQ(fx.sheet.alignment[std::make_pair(fx.ErrRow(), 5)], kAlignCenter);
}

struct BlockCase {
    int skipBefore, skipAfter;
};

class ResultBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ResultBlock, ColumnsAndClearedRectangle) {
    // nSol = 3, nSp = 2: Eps in columns 6 and 7, 8 empty, AbsC in 9..11, the cleared
    // rectangle spans columns 5..14 and ends one row below the lowest spectrum row.
    const BlockCase bc = GetParam();
    OptimizeFixture fx({2, 3, 4, bc.skipBefore, bc.skipAfter});
    fx.Fix(1, -100.0);
    fx.Fix(2, -200.0);
    fx.goal.f = [](const std::vector<double>&) { return 0.01; };
    State& st = fx.st;
    const int bottom = std::max(st.RowWlLast, st.RowWlSkip) + 1;
    fx.sheet.SetEvents(false);
    for (int r = 1; r <= bottom + 1; ++r)
        for (int c = 5; c <= 15; ++c)
            if (IsEmpty(fx.sheet.Value(r, c))) fx.sheet.SetValue(r, c, std::string("junk"));
    fx.sheet.SetValue(10, 5, 1.25); // " ±" of species 1
    fx.sheet.SetEvents(true);
    const auto before = fx.sheet.cells;
    fx.ui.answers = {true};
    OptimizeCommand(st, ReadRequest{});
    ASSERT_EQ(st.ErrCode, 0);

    ASSERT_EQ(fx.sheet.clears.size(), 1u);
    EXPECT_EQ(fx.sheet.clears[0], (std::vector<int>{st.RowWave - 1, 5, bottom, 14}));
    // Above the block: header, species, " ±", mean error and composition marks untouched.
    for (int r = 1; r < st.RowWave - 1; ++r)
        for (int c = 1; c <= 15; ++c)
            if (!(r == fx.ErrRow() && c >= 4 && c <= 5)) { // the error cell and the mode tag
                EXPECT_EQ(fx.sheet.Value(r, c),
                          before.count({r, c}) ? before.at({r, c}) : CellValue{})
                    << r << "," << c;
            }
    EXPECT_EQ(fx.sheet.Value(fx.ErrRow() + 2, 5), CellValue{std::string("*")});
    EXPECT_EQ(fx.sheet.Number(10, 5), 1.25);
    // Below the block and right of it: untouched.
    for (int c = 5; c <= 15; ++c)
        EXPECT_EQ(fx.sheet.Value(bottom + 1, c), CellValue{std::string("junk")}) << c;
    EXPECT_EQ(fx.sheet.Value(st.RowWave, 15), CellValue{std::string("junk")});
    // The data columns of the spectra: untouched.
    for (int r = st.RowWave; r <= bottom; ++r)
        for (int c = 1; c <= 4; ++c)
            EXPECT_EQ(fx.sheet.Value(r, c), before.count({r, c}) ? before.at({r, c}) : CellValue{});

    // Header row and the rms row above it.
    EXPECT_EQ(fx.sheet.Value(st.RowWave, 6), CellValue{std::string("Sp1")});
    EXPECT_EQ(fx.sheet.Value(st.RowWave, 7), CellValue{std::string("Sp2")});
    EXPECT_TRUE(IsEmpty(fx.sheet.Value(st.RowWave, 8)));
    for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(fx.sheet.Value(st.RowWave, 8 + j), CellValue{"S" + std::to_string(j)});
        EXPECT_EQ(fx.sheet.Number(st.RowWave - 1, 8 + j),
                  static_cast<double>(static_cast<float>(0.001 * j)));
    }
    for (int r = st.RowWlFirst; r <= st.RowWlLast; ++r) {
        const int k = r - st.RowWlFirst + 1;
        EXPECT_EQ(fx.sheet.Number(r, 6), 1000.0 + k);
        EXPECT_EQ(fx.sheet.Number(r, 7), 2000.0 + k);
        EXPECT_TRUE(IsEmpty(fx.sheet.Value(r, 8)));
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(fx.sheet.Number(r, 8 + j),
                      static_cast<double>(static_cast<float>(0.1 * j + 0.01 * k)));
        for (int c : {5, 12, 13, 14}) EXPECT_TRUE(IsEmpty(fx.sheet.Value(r, c))) << r << "," << c;
    }
    // Progress per spectrum row, then cleared.
    const std::vector<double> expected = {0.25, 0.5, 0.75, 1.0, -1.0};
    ASSERT_GE(fx.ui.progresses.size(), expected.size());
    EXPECT_EQ(std::vector<double>(fx.ui.progresses.end() - 5, fx.ui.progresses.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(Optimize, ResultBlock,
                         ::testing::Values(BlockCase{0, 0}, // every row inside the window
                                           BlockCase{0, 2}, // rows past wl_stop
                                           BlockCase{2, 0}, // rows before wl_start only
                                           BlockCase{1, 3}));

TEST(Optimize, FailedReReadLeavesTheSheetMarkedChanged) {
    OptimizeFixture fx({1, 3, 4, 0, 0});
    fx.Start(1, -80.0);
    fx.goal.f = Kink{-80.0};
    fx.sheet.UserEdit(30, 30, std::string("edit"));
    ASSERT_TRUE(fx.st.xlsWatch->Changed);
    int reads = 0;
    fx.st.readOverride = [&](State& s) {
        ++reads;
        s.ErrCode = 3;
    };
    fx.sheet.SetEvents(false); // as a failed read leaves them
    OptimizeCommand(fx.st, ReadRequest{});
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(fx.st.ErrCode, 3);
    EXPECT_TRUE(fx.st.xlsWatch->Changed);
    EXPECT_FALSE(fx.sheet.Events());
    EXPECT_TRUE(fx.goal.calls.empty());
    // Settings that were never saved are not "restored".
    EXPECT_TRUE(fx.app->statusBarHistory.empty());
    EXPECT_EQ(fx.app->displayStatusBarWrites, 0);
    EXPECT_TRUE(fx.sheet.writes.empty());
    EXPECT_EQ(fx.st.GaussLimit, 0.95);
}

TEST(Optimize, SuccessfulReReadRunsFirst) {
    OptimizeFixture fx({1, 3, 4, 0, 0});
    fx.Start(1, -80.0);
    fx.goal.f = Kink{-80.0};
    fx.sheet.UserEdit(30, 30, std::string("edit"));
    fx.st.RelTol = 1e-6;
    fx.st.readOverride = [&](State& s) {
        s.ErrCode = 0;
        s.RelTol = 1e-8;
        s.xlsWatch->Changed = false;
    };
    OptimizeCommand(fx.st, ReadRequest{});
    EXPECT_EQ(fx.st.ErrCode, 0);
    EXPECT_DOUBLE_EQ(fx.st.RelTol, 1e-7);
    EXPECT_FALSE(fx.st.xlsWatch->Changed);
}

TEST(Optimize, RunTimeErrorsEndInTheMessageAndTheCleanUp) {
    struct Case {
        const char* name;
        std::function<void(OptimizeFixture&)> arrange;
        std::string message;
    };
    const Case cases[] = {
        {"refused write", [](OptimizeFixture& fx) { fx.sheet.failWrites = true; },
         "Optimization failed: Application-defined or object-defined error"},
        {"negative goal value",
         [](OptimizeFixture& fx) { fx.goal.f = [](const std::vector<double>&) { return -0.5; }; },
         "Optimization failed: Invalid procedure call or argument"},
        {"no degrees of freedom for the intervals",
         [](OptimizeFixture& fx) { fx.st.nSol = fx.st.nSp; },
         "Optimization failed: Division by zero"},
    };
    for (const Case& c : cases) {
        OptimizeFixture fx({1, 3, 4, 0, 0});
        fx.Start(1, -80.0);
        fx.goal.f = Kink{-80.0};
        c.arrange(fx);
        OptimizeCommand(fx.st, ReadRequest{});
        ASSERT_EQ(fx.ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(fx.ui.messages[0].text, c.message) << c.name;
        EXPECT_EQ(fx.ui.messages[0].icon, Icon::Critical) << c.name;
        EXPECT_EQ(fx.st.ErrCode, -1) << c.name;
        EXPECT_TRUE(fx.app->interactive) << c.name;
        EXPECT_EQ(fx.app->statusBarHistory.back(), "<reset>") << c.name;
        EXPECT_FALSE(fx.st.xlsWatch->Changed) << c.name;
        EXPECT_TRUE(fx.sheet.Events()) << c.name;
        EXPECT_EQ(fx.ui.statuses.back(), "") << c.name;
        EXPECT_EQ(fx.st.GaussLimit, 0.95) << c.name;
    }
}

} // namespace
} // namespace lumora::test
