// The in-place symmetric inversion and the chi-square quantile table.

#include "linalg/InvertSymmetric.h"
#include "FuzzyCompare.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <random>

namespace lumora {
namespace {

TEST(InvertSymmetric, ExactZeroPivotFails) {
    // Only an exactly zero leading element fails, even for an invertible matrix; and a
    // zero pivot that appears in a later cycle ([[1, 1], [1, 1]] is singular).
    const std::vector<std::vector<double>> cases = {{0, 1, 1, 0}, {0}, {1, 1, 1, 1}};
    for (const auto& a : cases) {
        auto n = static_cast<int16_t>(std::sqrt(a.size()));
        Mat<double> m(n, n);
        for (int r = 1; r <= n; ++r)
            for (int c = 1; c <= n; ++c) m(r, c) = a[(r - 1) * n + c - 1];
        InvertSymmetric(n, m);
        EXPECT_EQ(n, 0) << a.size();
    }
}

// Random positive definite matrices in any unit, as Hessians come, and symmetric
// indefinite ones whose leading pivots stay away from zero.
TEST(InvertSymmetric, MatchesEigen) {
    std::mt19937 rng(20240611u);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 250; ++trial) {
        const bool indefinite = trial >= 200;
        const int n = indefinite ? 2 + trial % 7 : 1 + trial % 8;
        Eigen::MatrixXd b(n, n);
        for (int i = 0; i < b.size(); ++i) b.data()[i] = normal(rng);
        Eigen::MatrixXd s;
        if (indefinite) {
            s = b + b.transpose();
            s.diagonal().array() += 6.0;
            s(n - 1, n - 1) = -5.0;
        } else {
            s = std::pow(10.0, trial % 7 - 3) *
                (b * b.transpose() + 0.1 * Eigen::MatrixXd::Identity(n, n));
        }
        const Eigen::MatrixXd ref = s.inverse();
        Mat<double> a(n, n);
        a.Fill(-3.0); // row and column 0 are left alone
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) a(r + 1, c + 1) = s(r, c);
        int16_t m = static_cast<int16_t>(n);
        InvertSymmetric(m, a);
        ASSERT_EQ(m, n);
        const double norm = ref.cwiseAbs().maxCoeff();
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                ASSERT_NEAR(a(r + 1, c + 1), ref(r, c), 1e-9 * norm)
                    << "trial " << trial << " at " << r << "," << c;
        for (int i = 0; i <= n; ++i) ASSERT_TRUE(a(0, i) == -3.0 && a(i, 0) == -3.0) << trial;
    }
}

TEST(Chi2Quantile95, AbramowitzStegunTable26_8AndNothingOutside) {
    // Upper 5 % points of chi-square (Abramowitz and Stegun 1964, table 26.8).
    const float expected[] = {3.841f, 5.991f, 7.815f, 9.488f, 11.07f, 12.59f, 14.07f, 15.51f};
    for (int16_t df = 1; df <= 8; ++df) EXPECT_EQ(Chi2Quantile95(df), expected[df - 1]);
    for (int16_t df : {int16_t(0), int16_t(9), int16_t(-1)}) {
        try {
            Chi2Quantile95(df);
            ADD_FAILURE() << "df " << df;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), kSubscriptOutOfRange);
        }
    }
}

} // namespace
} // namespace lumora
