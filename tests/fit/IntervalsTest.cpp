// The interval phase: Hessian by central differences, inversion, 95 % half-widths.

#include "fit/Intervals.h"
#include "FuzzyCompare.h"
#include "OptimizeFixture.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>

namespace lumora::test {
namespace {

/// f(G) = f0 + d' A d with d = G - minimum over the listed species.
struct Quadratic {
    double f0;
    std::vector<int> species;
    Eigen::MatrixXd A;
    std::vector<double> minimum; ///< by species number, index 0 unused

    double operator()(const std::vector<double>& g) const {
        double f = f0;
        for (size_t a = 0; a < species.size(); ++a)
            for (size_t b = 0; b < species.size(); ++b)
                f += (g[species[a]] - minimum[species[a]]) * A(a, b) *
                     (g[species[b]] - minimum[species[b]]);
        return f;
    }
};

class IntervalsTest : public ::testing::Test {
protected:
    IntervalsTest() : fx({3, 5, 10, 0, 0}) {}

    /// Species 2 fixed; 1 and 3 free, at the minimum of q.
    void SetUpQuadratic(const Eigen::Matrix2d& A, double f0 = 0.5) {
        fx.Fix(2, -250.0);
        q = Quadratic{f0, {1, 3}, A, {0.0, -300.25, -250.0, -120.5}};
        for (int i = 1; i <= 3; ++i) fx.st.G0(i) = q.minimum[i];
        fx.goal.f = [this](const std::vector<double>& g) { return q(g); };
        fx.sheet.SetEvents(false);
        fx.sheet.SetValue(11, 5, std::string("keep")); // " ±" cell of the fixed species
        fx.sheet.SetEvents(true);
    }
    /// The half-widths from the exact Hessian 2A (diagonal scaled by 1 + RelTol as the
    /// phase does), an independent inverse and the scale factor.
    std::vector<double> Expected(const Eigen::MatrixXd& A, double e0, int linear) const {
        const int m = static_cast<int>(A.rows());
        Eigen::MatrixXd H = 2.0 * A;
        H.diagonal() *= 1.0 + fx.st.RelTol;
        const Eigen::MatrixXd inv = H.inverse();
        const double f = 2.0 * Chi2Quantile95(static_cast<int16_t>(m)) * m * e0 /
                         (fx.st.nWl * fx.st.nSol - linear);
        std::vector<double> out;
        for (int k = 0; k < m; ++k) out.push_back(std::sqrt(inv(k, k) * f));
        return out;
    }
    void ExpectAtOptimumAfterwards() {
        ASSERT_FALSE(fx.goal.calls.empty());
        const GoalCall& last = fx.goal.calls.back();
        EXPECT_EQ(last.probe, -1);
        for (int i = 1; i <= 3; ++i) {
            EXPECT_EQ(fx.st.G0(i), q.minimum[i]);
            EXPECT_EQ(last.g[i], q.minimum[i]);
        }
    }

    OptimizeFixture fx;
    Quadratic q;
};

TEST_F(IntervalsTest, HalfWidthsFromTheKnownHessian) {
    Eigen::Matrix2d A;
    A << 1.5, 0.4, 0.4, 0.8;
    SetUpQuadratic(A);
    fx.st.RmsErr = std::sqrt(0.5);
    EXPECT_TRUE(ConfidenceIntervals(fx.st));

    ASSERT_EQ(fx.st.ErrCode, 0);
    const std::vector<double> e = Expected(A, 0.5, fx.st.nWl * fx.st.nSp);
    EXPECT_FUZZY(fx.st.GErr(1), e[0], 1e-6);
    EXPECT_FUZZY(fx.st.GErr(3), e[1], 1e-6);
    EXPECT_EQ(fx.st.GErr(2), 0.0f);
    // No doubling was needed: every probe within 0.01 of the optimum.
    for (const GoalCall& c : fx.goal.calls)
        for (int i : {1, 3}) EXPECT_LE(std::fabs(c.g[i] - q.minimum[i]), 0.0100001);
    // Progress: cleared, then one step per Hessian element (3 of them).
    ASSERT_EQ(fx.ui.progresses.size(), 4u);
    EXPECT_LT(fx.ui.progresses[0], 0.0);
    EXPECT_DOUBLE_EQ(fx.ui.progresses[1], 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(fx.ui.progresses[2], 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(fx.ui.progresses[3], 1.0);
    // The evaluation at the optimum is full, and the phase raises GaussLimit for it.
    EXPECT_EQ(fx.goal.calls.front().probe, 0);
    EXPECT_EQ(fx.goal.calls.front().gaussLimit, 0.99995);
    // 2 probes per diagonal element and 4 per off-diagonal one, plus the two at the optimum.
    EXPECT_EQ(fx.goal.calls.size(), 1u + 2 + 2 + 4 + 1);
    ExpectAtOptimumAfterwards();
    // The shown error is the square root again once the phase is over.
    EXPECT_DOUBLE_EQ(fx.st.RmsErr, std::sqrt(0.5));
}

TEST_F(IntervalsTest, OneFreeSpeciesAndEveryCount) {
    // One free species: q = 3.841, F = 2 q E0 / (nWl nSol - nWl nSp).
    OptimizeFixture one({1, 4, 6, 0, 0});
    one.st.G0(1) = -50.0;
    one.goal.f = [](const std::vector<double>& g) { return 0.2 + 2.0 * (g[1] + 50) * (g[1] + 50); };
    ConfidenceIntervals(one.st);
    const double h = 4.0 * (1.0 + 1e-8);
    const double f = 2.0 * 3.841f * 0.2 / (6 * 4 - 6 * 1);
    EXPECT_FUZZY(one.st.GErr(1), std::sqrt(f / h), 1e-6);
}

TEST_F(IntervalsTest, GaussianModeCountsThreeParametersPerBand) {
    Eigen::Matrix2d A;
    A << 2.0, -0.5, -0.5, 1.0;
    SetUpQuadratic(A, 0.3);
    fx.st.FitMode = 1;
    fx.st.GaussTab.Redim(3, 4);
    fx.st.GaussTab(0, 0) = 4; // 12 band parameters
    ConfidenceIntervals(fx.st);
    const std::vector<double> e = Expected(A, 0.3, 12);
    EXPECT_FUZZY(fx.st.GErr(1), e[0], 1e-6);
    EXPECT_FUZZY(fx.st.GErr(3), e[1], 1e-6);
}

TEST_F(IntervalsTest, WeakSpeciesDoublesItsStep) {
    // Curvature 1e-6: the probes only move the goal by more than E0 x RelTol once the
    // step reaches 0.08 (0.01, 0.02, 0.04 are not significant).
    Eigen::Matrix2d A;
    A << 1.0, 0.0, 0.0, 1e-6;
    SetUpQuadratic(A);
    ConfidenceIntervals(fx.st);
    double largest = 0.0;
    for (const GoalCall& c : fx.goal.calls)
        largest = std::max(largest, std::fabs(c.g[3] - q.minimum[3]));
    EXPECT_NEAR(largest, 0.08, 1e-12);
    const std::vector<double> e = Expected(A, 0.5, fx.st.nWl * fx.st.nSp);
    EXPECT_FUZZY(fx.st.GErr(3), e[1], 1e-5);
}

TEST_F(IntervalsTest, InsensitiveSpeciesCannotBeInverted) {
    // The goal ignores species 3: its step doubles up to 163.84, H(2, 2) stays 0,
    // and with H diagonal the second pivot is exactly zero.
    Eigen::Matrix2d A;
    A << 1.0, 0.0, 0.0, 0.0;
    SetUpQuadratic(A);
    fx.st.GErr(1) = 9.0f;
    ConfidenceIntervals(fx.st);
    double largest = 0.0;
    for (const GoalCall& c : fx.goal.calls)
        largest = std::max(largest, std::fabs(c.g[3] - q.minimum[3]));
    EXPECT_DOUBLE_EQ(largest, 163.84);
    ASSERT_EQ(fx.ui.messages.size(), 1u);
    EXPECT_EQ(fx.ui.messages[0].text, "Could not invert Hessian  ");
    EXPECT_EQ(fx.ui.messages[0].icon, Icon::Exclamation);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(fx.st.GErr(i), 0.0f);
    EXPECT_FALSE(fx.sheet.HasNumber(10, 5));
    EXPECT_EQ(fx.st.nFree, 0); // until the next read
    ExpectAtOptimumAfterwards();
}

TEST_F(IntervalsTest, NegativeVarianceClearsEveryInterval) {
    // Species 1 has a proper interval, species 3 a negative variance: all cleared.
    Eigen::Matrix2d A;
    A << 1.0, 0.0, 0.0, -1.0;
    SetUpQuadratic(A, 2.0);
    ConfidenceIntervals(fx.st);
    ASSERT_EQ(fx.ui.messages.size(), 1u);
    EXPECT_EQ(fx.ui.messages[0].text, "Could not estimate intervals  ");
    EXPECT_EQ(fx.ui.messages[0].icon, Icon::Exclamation);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(fx.st.GErr(i), 0.0f);
    EXPECT_FALSE(fx.sheet.HasNumber(10, 5));
    EXPECT_FALSE(fx.sheet.HasNumber(12, 5));
    ExpectAtOptimumAfterwards();
}

TEST_F(IntervalsTest, ZeroDegreesOfFreedomRaisesDivisionByZero) {
    Eigen::Matrix2d A;
    A << 1.0, 0.0, 0.0, 1.0;
    SetUpQuadratic(A);
    fx.st.nSol = fx.st.nSp; // as many extinction coefficients as absorbances
    try {
        ConfidenceIntervals(fx.st);
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Description(), kDivisionByZero);
    }
    ExpectAtOptimumAfterwards();
}

TEST_F(IntervalsTest, EscDuringTheHessianWritesNothingAndReturnsToTheOptimum) {
    Eigen::Matrix2d A;
    A << 1.0, 0.2, 0.2, 1.0;
    for (long at : {1L, 2L, 4L, 6L, 9L}) {
        OptimizeFixture f2({3, 5, 10, 0, 0});
        f2.Fix(2, -250.0);
        q = Quadratic{0.5, {1, 3}, A, {0.0, -300.25, -250.0, -120.5}};
        for (int i = 1; i <= 3; ++i) f2.st.G0(i) = q.minimum[i];
        f2.goal.f = [this](const std::vector<double>& g) { return q(g); };
        f2.ui.interruptAtYield = at;
        ConfidenceIntervals(f2.st);
        EXPECT_EQ(f2.st.ErrCode, kInterrupt) << at;
        EXPECT_FALSE(f2.sheet.HasNumber(10, 5)) << at;
        EXPECT_FALSE(f2.sheet.HasNumber(12, 5)) << at;
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(f2.st.G0(i), q.minimum[i]) << at;
        if (at > 1) { // stopped after leaving the optimum: evaluated there once more
            ASSERT_FALSE(f2.goal.calls.empty());
            EXPECT_EQ(f2.goal.calls.back().probe, -1) << at;
            for (int i = 1; i <= 3; ++i) EXPECT_EQ(f2.goal.calls.back().g[i], q.minimum[i]) << at;
        } else {
            EXPECT_TRUE(f2.goal.calls.empty());
        }
    }
}

} // namespace
} // namespace lumora::test
