// The in-place symmetric inversion and the chi-square quantile table.

#include "linalg/InvertSymmetric.h"
#include "FuzzyCompare.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <random>

namespace lumora {
namespace {

Mat<double> FromEigen(const Eigen::MatrixXd& m) {
    const int n = static_cast<int>(m.rows());
    Mat<double> a(n, n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) a(r + 1, c + 1) = m(r, c);
    return a;
}

TEST(InvertSymmetric, TwoByTwoClosedForm) {
    // [[a, b], [b, c]]^-1 = [[c, -b], [-b, a]] / (ac - b^2), also when indefinite.
    struct Case {
        double a, b, c;
    };
    const Case cases[] = {{2, 1, 3}, {4, -1.5, 0.25}, {-2, 3, 1}, {1e-3, 2e-4, 5e-3}, {-1, 0, -4}};
    for (const Case& k : cases) {
        Mat<double> m(2, 2);
        m(1, 1) = k.a;
        m(1, 2) = m(2, 1) = k.b;
        m(2, 2) = k.c;
        int16_t n = 2;
        InvertSymmetric(n, m);
        ASSERT_EQ(n, 2);
        const double det = k.a * k.c - k.b * k.b;
        EXPECT_FUZZY(m(1, 1), k.c / det, 1e-13);
        EXPECT_FUZZY(m(2, 2), k.a / det, 1e-13);
        EXPECT_FUZZY(m(1, 2), -k.b / det, 1e-13);
        EXPECT_EQ(m(1, 2), m(2, 1));
    }
}

TEST(InvertSymmetric, ExactZeroPivotFails) {
    // Only an exactly zero leading element fails, even for an invertible matrix.
    Mat<double> m(2, 2);
    m(1, 2) = m(2, 1) = 1.0;
    int16_t n = 2;
    InvertSymmetric(n, m);
    EXPECT_EQ(n, 0);

    Mat<double> z(1, 1);
    n = 1;
    InvertSymmetric(n, z);
    EXPECT_EQ(n, 0);

    // A zero pivot that appears in a later cycle ([[1, 1], [1, 1]] is singular).
    Mat<double> s(2, 2);
    s.Fill(1.0);
    n = 2;
    InvertSymmetric(n, s);
    EXPECT_EQ(n, 0);
}

TEST(InvertSymmetric, OneByOneAndIndexZeroUntouched) {
    Mat<double> m(1, 1);
    m(0, 0) = 7.0;
    m(0, 1) = m(1, 0) = -3.0;
    m(1, 1) = 4.0;
    int16_t n = 1;
    InvertSymmetric(n, m);
    EXPECT_EQ(n, 1);
    EXPECT_DOUBLE_EQ(m(1, 1), 0.25);
    EXPECT_EQ(m(0, 0), 7.0);
    EXPECT_EQ(m(0, 1), -3.0);
    EXPECT_EQ(m(1, 0), -3.0);
}

TEST(InvertSymmetric, MatchesEigenOnRandomSpdMatrices) {
    std::mt19937 rng(20240611u);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + trial % 8;
        Eigen::MatrixXd b(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) b(r, c) = normal(rng);
        const double scale = std::pow(10.0, trial % 7 - 3); // Hessians come in any unit
        const Eigen::MatrixXd spd =
            scale * (b * b.transpose() + 0.1 * Eigen::MatrixXd::Identity(n, n));
        const Eigen::MatrixXd ref = spd.inverse();

        Mat<double> a = FromEigen(spd);
        int16_t m = static_cast<int16_t>(n);
        InvertSymmetric(m, a);
        ASSERT_EQ(m, n);
        const double norm = ref.cwiseAbs().maxCoeff();
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                ASSERT_NEAR(a(r + 1, c + 1), ref(r, c), 1e-9 * norm)
                    << "trial " << trial << " at " << r << "," << c;
    }
}

TEST(InvertSymmetric, RebuildsIdentityForSymmetricIndefinite) {
    std::mt19937 rng(7u);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 2; n <= 8; ++n) {
        Eigen::MatrixXd s(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c <= r; ++c) s(r, c) = s(c, r) = u(rng);
        s.diagonal().array() += 3.0; // keep the leading pivots away from zero
        s(n - 1, n - 1) = -5.0;      // but not positive definite
        Mat<double> a = FromEigen(s);
        int16_t m = static_cast<int16_t>(n);
        InvertSymmetric(m, a);
        ASSERT_EQ(m, n);
        Eigen::MatrixXd inv(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) inv(r, c) = a(r + 1, c + 1);
        EXPECT_TRUE((s * inv).isApprox(Eigen::MatrixXd::Identity(n, n), 1e-10)) << "n = " << n;
    }
}

TEST(Chi2Quantile95, Table) {
    // Upper 5 % points of chi-square (Abramowitz and Stegun 1964, table 26.8).
    const float expected[] = {3.841f, 5.991f, 7.815f, 9.488f, 11.07f, 12.59f, 14.07f, 15.51f};
    for (int16_t df = 1; df <= 8; ++df) EXPECT_EQ(Chi2Quantile95(df), expected[df - 1]);
}

TEST(Chi2Quantile95, OutsideTheTableRaises) {
    for (int16_t df : {int16_t(0), int16_t(9), int16_t(-1)}) {
        try {
            Chi2Quantile95(df);
            FAIL() << "df " << df;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), kSubscriptOutOfRange);
        }
    }
}

} // namespace
} // namespace lumora
