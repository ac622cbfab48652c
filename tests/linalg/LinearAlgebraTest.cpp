// SolveSystem, SymmetricEigen and InvertSymmetric against Eigen's full-pivoting LU,
// self-adjoint eigen-solver and inverse, plus the edge cases of the bordered layout; the
// chi-square quantile table against its published values.

#include "linalg/LinearAlgebra.h"
#include "linalg/Chi2Quantile95.h"
#include "linalg/InvertSymmetric.h"

#include "FuzzyCompare.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <random>

namespace lumora {
namespace {

/// A(1..n, 1..n) with b in column 0 (row 0 unused).
Mat<double> Bordered(const Eigen::MatrixXd& a, const Eigen::VectorXd& b) {
    const int n = static_cast<int>(a.rows());
    Mat<double> m(n, n);
    for (int r = 1; r <= n; ++r) {
        m(r, 0) = b.size() ? b(r - 1) : 0.0;
        for (int c = 1; c <= n; ++c) m(r, c) = a(r - 1, c - 1);
    }
    return m;
}

// Random diagonally dominated systems of orders 1..24, and symmetric positive definite
// ones like the normal equations.
TEST(SolveSystem, AgreesWithFullPivotingLu) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 250; ++trial) {
        const bool normal = trial >= 200;
        const int n = normal ? 2 + trial % 8 : 1 + trial % 24;
        Eigen::MatrixXd a(n, n);
        Eigen::VectorXd b(n);
        if (normal) {
            Eigen::MatrixXd y(40, n);
            for (int i = 0; i < y.size(); ++i) y.data()[i] = std::fabs(u(rng));
            a = y.transpose() * y;
            for (int i = 0; i < n; ++i) b(i) = u(rng);
        } else {
            for (int r = 0; r < n; ++r) {
                b(r) = 10.0 * u(rng);
                for (int c = 0; c < n; ++c) a(r, c) = u(rng);
                a(r, r) += (u(rng) < 0 ? -1.0 : 1.0) * (n + 1.0);
            }
        }
        const Eigen::VectorXd ref = a.fullPivLu().solve(b);
        Mat<double> m = Bordered(a, b);
        int16_t status = 0;
        SolveSystem(status, static_cast<int16_t>(n), m);
        ASSERT_EQ(status, 0) << "trial " << trial;
        const double floor = normal ? ref.cwiseAbs().maxCoeff() : 1.0;
        for (int c = 1; c <= n; ++c)
            EXPECT_TRUE(test::FuzzyEqual(m(c, 0), ref(c - 1), normal ? 1e-7 : 1e-10, floor))
                << "trial " << trial;
    }
}

// Hand cases: an unknown whose row has a zero right-hand side and no coupling is exactly
// 0; a remaining row that is all zero sets status 1; a status set on entry is kept and
// nothing is solved; overflow and a matrix smaller than n raise run-time errors.
TEST(SolveSystem, HandCasesStatusesAndErrors) {
    const struct {
        const char* name;
        std::vector<double> a; // row major, n x n
        std::vector<double> b, x;
        int16_t status, statusOut;
    } cases[] = {
        {"zero rhs", {2, 0, 1, 0, 5, 0, 1, 0, 3}, {3, 0, 4}, {1, 0, 1}, 0, 0},
        {"zero 1 x 1", {0}, {3}, {}, 0, 1},
        {"zero row", {1, 2, 0, 0}, {1, 0}, {}, 0, 1},
        {"equal rows", {1, 2, 1, 2}, {1, 1}, {}, 0, 1},
        {"dependent row", {1, 2, 3, 2, 4, 6, 0, 1, 1}, {1, 2, 3}, {}, 0, 1},
        {"all zero", {0, 0, 0, 0}, {0, 0}, {}, 0, 1},
        // The difference 1e-9 is below 1e-8 of the subtracted term: the row cancels.
        {"cancellation", {1, 1, 1, 1 + 1e-9}, {2, 2 + 1e-9}, {}, 0, 1},
        {"status -16384 on entry", {2, 0, 0, 4}, {2, 4}, {2, 4}, -16384, -16384},
        {"status 1 on entry", {2, 0, 0, 4}, {2, 4}, {2, 4}, 1, 1},
        {"status -1 on entry", {2, 0, 0, 4}, {2, 4}, {2, 4}, -1, -1},
    };
    for (const auto& cs : cases) {
        const int n = static_cast<int>(cs.b.size());
        const Eigen::MatrixXd a = Eigen::Map<const Eigen::MatrixXd>(cs.a.data(), n, n).transpose();
        Mat<double> m = Bordered(a, Eigen::Map<const Eigen::VectorXd>(cs.b.data(), n));
        int16_t status = cs.status;
        SolveSystem(status, static_cast<int16_t>(n), m);
        EXPECT_EQ(status, cs.statusOut) << cs.name;
        for (size_t c = 0; c < cs.x.size(); ++c)
            EXPECT_DOUBLE_EQ(m(static_cast<int>(c) + 1, 0), cs.x[c]) << cs.name;
    }
    auto errorOf = [](int16_t n, Mat<double> m) {
        int16_t status = 0;
        try {
            SolveSystem(status, n, m);
        } catch (const RuntimeError& e) {
            return e.Description();
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf(2, Bordered(Eigen::Vector2d(1e200, 1).asDiagonal(), Eigen::Vector2d(1, 1))),
              "Overflow");
    EXPECT_EQ(errorOf(3, Mat<double>(2, 2)), kSubscriptOutOfRange);
}

/// Eigenvalues as Eigen's, in descending order, and orthonormal vectors that rebuild the
/// input, A = V diag(lambda) V^T (so that each column is an eigenvector).
void ExpectEigenAgrees(const Eigen::MatrixXd& a, const Mat<double>& m, double tol) {
    const int n = static_cast<int>(a.rows());
    Eigen::MatrixXd v(n, n);
    Eigen::VectorXd lambda(n);
    for (int j = 1; j <= n; ++j) {
        lambda(j - 1) = m(0, j);
        for (int r = 1; r <= n; ++r) v(r - 1, j - 1) = m(r, j);
    }
    const Eigen::VectorXd ref =
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(a).eigenvalues().reverse();
    const double scale = std::max(1.0, ref.cwiseAbs().maxCoeff());
    EXPECT_LE((lambda - ref).cwiseAbs().maxCoeff(), tol * scale) << lambda.transpose();
    for (int j = 1; j < n; ++j) EXPECT_GE(lambda(j - 1), lambda(j));
    EXPECT_LE((v.transpose() * v - Eigen::MatrixXd::Identity(n, n)).cwiseAbs().maxCoeff(), 1e-10);
    EXPECT_LE((v * lambda.asDiagonal() * v.transpose() - a).cwiseAbs().maxCoeff(), tol * scale);
}

// Random symmetric matrices of orders 1..20; column 0 is not touched.
TEST(SymmetricEigen, AgreesWithSelfAdjointSolver) {
    std::mt19937 rng(424242);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 100; ++trial) {
        const int n = 1 + trial % 20;
        Eigen::MatrixXd a(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c <= r; ++c) a(r, c) = a(c, r) = u(rng);
        Mat<double> m = Bordered(a, Eigen::VectorXd::LinSpaced(n, 101, 100 + n));
        SymmetricEigen(static_cast<int16_t>(n), m);
        ExpectEigenAgrees(a, m, 1e-9);
        for (int r = 1; r <= n; ++r) EXPECT_EQ(m(r, 0), 100.0 + r);
    }
    // All diagonals equal, with coupling.
    Eigen::MatrixXd a(4, 4);
    a << 3, 1, 0.5, 0.25, 1, 3, 1, 0.5, 0.5, 1, 3, 1, 0.25, 0.5, 1, 3;
    Mat<double> m = Bordered(a, Eigen::VectorXd());
    SymmetricEigen(4, m);
    ExpectEigenAgrees(a, m, 1e-10);
}

TEST(SymmetricEigen, EqualDiagonalPairRotatesBy45Degrees) {
    // [[1, .5, 0], [.5, 1, 0], [0, 0, 2]]: 2, 1.5, 0.5, not 2, 1, 1.
    Mat<double> m(3, 3);
    m(1, 1) = m(2, 2) = 1.0;
    m(3, 3) = 2.0;
    m(1, 2) = m(2, 1) = 0.5;
    SymmetricEigen(3, m);
    EXPECT_NEAR(m(0, 1), 2.0, 1e-12);
    EXPECT_NEAR(m(0, 2), 1.5, 1e-12);
    EXPECT_NEAR(m(0, 3), 0.5, 1e-12);
    const double h = std::sqrt(0.5);
    EXPECT_NEAR(std::fabs(m(1, 2)), h, 1e-12);
    EXPECT_NEAR(m(1, 2) * m(2, 2), 0.5, 1e-12);  // same signs
    EXPECT_NEAR(m(1, 3) * m(2, 3), -0.5, 1e-12); // opposite signs
    EXPECT_NEAR(std::fabs(m(3, 1)), 1.0, 1e-12);
}

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
