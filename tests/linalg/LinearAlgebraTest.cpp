// SolveSystem and SymmetricEigen against Eigen's full-pivoting LU and
// self-adjoint eigen-solver, plus the edge cases of the bordered layout.

#include "linalg/LinearAlgebra.h"

#include "FuzzyCompare.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <random>

namespace lumora {
namespace {

Mat<double> Bordered(const Eigen::MatrixXd& a, const Eigen::VectorXd& b) {
    const int n = static_cast<int>(a.rows());
    Mat<double> m(n, n);
    for (int r = 1; r <= n; ++r) {
        m(r, 0) = b(r - 1);
        for (int c = 1; c <= n; ++c) m(r, c) = a(r - 1, c - 1);
    }
    return m;
}

// Known solutions: random diagonally dominated systems of orders 1..24.
TEST(SolveSystem, AgreesWithFullPivotingLu) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + trial % 24;
        Eigen::MatrixXd a(n, n);
        Eigen::VectorXd b(n);
        for (int r = 0; r < n; ++r) {
            b(r) = 10.0 * u(rng);
            for (int c = 0; c < n; ++c) a(r, c) = u(rng);
            a(r, r) += (u(rng) < 0 ? -1.0 : 1.0) * (n + 1.0);
        }
        const Eigen::VectorXd ref = a.fullPivLu().solve(b);
        Mat<double> m = Bordered(a, b);
        int16_t status = 0;
        SolveSystem(status, static_cast<int16_t>(n), m);
        ASSERT_EQ(status, 0) << "trial " << trial;
        for (int c = 1; c <= n; ++c)
            EXPECT_TRUE(test::FuzzyEqual(m(c, 0), ref(c - 1), 1e-10, 1.0)) << "trial " << trial;
    }
}

TEST(SolveSystem, SymmetricPositiveDefiniteLikeTheNormalEquations) {
    std::mt19937 rng(77);
    std::normal_distribution<double> g(0.0, 1.0);
    for (int trial = 0; trial < 50; ++trial) {
        const int n = 2 + trial % 8;
        Eigen::MatrixXd y(40, n);
        for (int i = 0; i < y.size(); ++i) y.data()[i] = std::fabs(g(rng));
        const Eigen::MatrixXd a = y.transpose() * y;
        Eigen::VectorXd b(n);
        for (int i = 0; i < n; ++i) b(i) = g(rng);
        const Eigen::VectorXd ref = a.fullPivLu().solve(b);
        Mat<double> m = Bordered(a, b);
        int16_t status = 0;
        SolveSystem(status, static_cast<int16_t>(n), m);
        ASSERT_EQ(status, 0);
        for (int c = 1; c <= n; ++c)
            EXPECT_TRUE(test::FuzzyEqual(m(c, 0), ref(c - 1), 1e-7, ref.cwiseAbs().maxCoeff()));
    }
}

// Edge cases.
TEST(SolveSystem, OrderOne) {
    Mat<double> m(1, 1);
    m(1, 1) = 4.0;
    m(1, 0) = 3.0;
    int16_t status = 0;
    SolveSystem(status, 1, m);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m(1, 0), 0.75);

    m(1, 1) = 0.0;
    m(1, 0) = 3.0;
    SolveSystem(status, 1, m);
    EXPECT_EQ(status, 1);
}

TEST(SolveSystem, ZeroRightHandSideRowGivesExactZero) {
    // Row 2 has a zero right-hand side and no coupling: its unknown is exactly 0.
    Mat<double> m(3, 3);
    const double a[3][3] = {{2, 0, 1}, {0, 5, 0}, {1, 0, 3}};
    const double b[3] = {3, 0, 4};
    for (int r = 1; r <= 3; ++r) {
        m(r, 0) = b[r - 1];
        for (int c = 1; c <= 3; ++c) m(r, c) = a[r - 1][c - 1];
    }
    int16_t status = 0;
    SolveSystem(status, 3, m);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(m(2, 0), 0.0);
    EXPECT_DOUBLE_EQ(m(1, 0), 1.0);
    EXPECT_DOUBLE_EQ(m(3, 0), 1.0);
}

TEST(SolveSystem, SingularRowsSetStatusOne) {
    struct Case {
        const char* name;
        std::vector<double> a; // row major, n x n
        std::vector<double> b;
    };
    const std::vector<Case> cases = {
        {"zero row", {1, 2, 0, 0}, {1, 0}},
        {"equal rows", {1, 2, 1, 2}, {1, 1}},
        {"dependent row", {1, 2, 3, 2, 4, 6, 0, 1, 1}, {1, 2, 3}},
        {"all zero", {0, 0, 0, 0}, {0, 0}},
    };
    for (const Case& cs : cases) {
        const int n = static_cast<int>(cs.b.size());
        Mat<double> m(n, n);
        for (int r = 1; r <= n; ++r) {
            m(r, 0) = cs.b[r - 1];
            for (int c = 1; c <= n; ++c) m(r, c) = cs.a[(r - 1) * n + c - 1];
        }
        int16_t status = 0;
        SolveSystem(status, static_cast<int16_t>(n), m);
        EXPECT_EQ(status, 1) << cs.name;
    }
}

TEST(SolveSystem, StatusSetOnEntryIsKeptAndNothingIsSolved) {
    for (int16_t code : {int16_t(-16384), int16_t(1), int16_t(-1)}) {
        Mat<double> m(2, 2);
        m(1, 1) = 2.0;
        m(2, 2) = 4.0;
        m(1, 0) = 2.0;
        m(2, 0) = 4.0;
        int16_t status = code;
        SolveSystem(status, 2, m);
        EXPECT_EQ(status, code);
        EXPECT_NE(m(1, 0), 1.0);
    }
}

TEST(SolveSystem, CancellationBelowThresholdBecomesZero) {
    // x + y = 2 and x + (1 + 1e-9) y = 2 + 1e-9: the difference 1e-9 is below
    // 1e-8 of the subtracted term, so the second row cancels and is singular.
    Mat<double> m(2, 2);
    m(1, 1) = 1.0;
    m(1, 2) = 1.0;
    m(2, 1) = 1.0;
    m(2, 2) = 1.0 + 1e-9;
    m(1, 0) = 2.0;
    m(2, 0) = 2.0 + 1e-9;
    int16_t status = 0;
    SolveSystem(status, 2, m);
    EXPECT_EQ(status, 1);
}

TEST(SolveSystem, OverflowRaisesTheRunTimeError) {
    Mat<double> m(2, 2);
    m(1, 1) = 1e200;
    m(2, 2) = 1.0;
    m(1, 0) = 1.0;
    m(2, 0) = 1.0;
    int16_t status = 0;
    try {
        SolveSystem(status, 2, m);
        FAIL() << "no error raised";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Description(), "Overflow");
    }
}

TEST(SolveSystem, TooSmallMatrixRaisesSubscriptOutOfRange) {
    Mat<double> m(2, 2);
    int16_t status = 0;
    EXPECT_THROW(SolveSystem(status, 3, m), RuntimeError);
}

// SymmetricEigen
void ExpectEigenAgrees(const Eigen::MatrixXd& a, const Mat<double>& m, double tol) {
    const int n = static_cast<int>(a.rows());
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(a);
    for (int j = 1; j <= n; ++j) {
        const double ref = es.eigenvalues()(n - j); // Eigen sorts ascending
        EXPECT_TRUE(test::FuzzyEqual(m(0, j), ref, tol, es.eigenvalues().cwiseAbs().maxCoeff()));
        if (j > 1) {
            EXPECT_GE(m(0, j - 1), m(0, j));
        }
        // Vectors up to sign, only where the eigenvalue is well separated.
        const double gapLo = j < n ? m(0, j) - m(0, j + 1) : 1e300;
        const double gapHi = j > 1 ? m(0, j - 1) - m(0, j) : 1e300;
        if (std::min(gapLo, gapHi) < 1e-3 * (1.0 + std::fabs(m(0, j)))) continue;
        const Eigen::VectorXd rv = es.eigenvectors().col(n - j);
        double dot = 0.0;
        double norm = 0.0;
        for (int r = 1; r <= n; ++r) {
            dot += m(r, j) * rv(r - 1);
            norm += m(r, j) * m(r, j);
        }
        EXPECT_NEAR(norm, 1.0, 1e-10);
        EXPECT_NEAR(std::fabs(dot), 1.0, tol);
    }
}

TEST(SymmetricEigen, AgreesWithSelfAdjointSolver) {
    std::mt19937 rng(424242);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 100; ++trial) {
        const int n = 1 + trial % 20;
        Eigen::MatrixXd a(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c <= r; ++c) a(r, c) = a(c, r) = u(rng);
        Mat<double> m(n, n);
        for (int r = 1; r <= n; ++r) {
            m(r, 0) = 100.0 + r; // column 0 is not touched
            for (int c = 1; c <= n; ++c) m(r, c) = a(r - 1, c - 1);
        }
        SymmetricEigen(static_cast<int16_t>(n), m);
        ExpectEigenAgrees(a, m, 1e-9);
        for (int r = 1; r <= n; ++r) EXPECT_EQ(m(r, 0), 100.0 + r);
    }
}

TEST(SymmetricEigen, CovarianceMatricesRebuildTheirInput) {
    std::mt19937 rng(99);
    std::normal_distribution<double> g(0.0, 1.0);
    const int n = 12;
    Eigen::MatrixXd y(n, 30);
    for (int i = 0; i < y.size(); ++i) y.data()[i] = g(rng);
    const Eigen::MatrixXd a = y * y.transpose();
    Mat<double> m(n, n);
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) m(r, c) = a(r - 1, c - 1);
    SymmetricEigen(n, m);
    ExpectEigenAgrees(a, m, 1e-9);
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) {
            double s = 0.0;
            for (int j = 1; j <= n; ++j) s += m(r, j) * m(0, j) * m(c, j);
            EXPECT_NEAR(s, a(r - 1, c - 1), 1e-9 * a.norm());
        }
}

TEST(SymmetricEigen, DiagonalInputIsSortedWithUnitVectors) {
    Mat<double> m(4, 4);
    const double diag[4] = {2.0, -1.0, 7.0, 3.0};
    for (int i = 1; i <= 4; ++i) m(i, i) = diag[i - 1];
    SymmetricEigen(4, m);
    const double want[4] = {7.0, 3.0, 2.0, -1.0};
    const int row[4] = {3, 4, 1, 2};
    for (int j = 1; j <= 4; ++j) {
        EXPECT_EQ(m(0, j), want[j - 1]);
        for (int r = 1; r <= 4; ++r) EXPECT_EQ(m(r, j), r == row[j - 1] ? 1.0 : 0.0);
    }
}

TEST(SymmetricEigen, EqualDiagonalsAreNudged) {
    // Identity: no rotation is needed, so the nudged first element shows.
    Mat<double> m(3, 3);
    for (int i = 1; i <= 3; ++i) m(i, i) = 1.0;
    SymmetricEigen(3, m);
    EXPECT_EQ(m(0, 1), 1.00000000000001);
    EXPECT_EQ(m(0, 2), 1.0);
    EXPECT_EQ(m(0, 3), 1.0);
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

TEST(SymmetricEigen, AllEqualDiagonalsWithCoupling) {
    Eigen::MatrixXd a(4, 4);
    a << 3, 1, 0.5, 0.25, 1, 3, 1, 0.5, 0.5, 1, 3, 1, 0.25, 0.5, 1, 3;
    Mat<double> m(4, 4);
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) m(r, c) = a(r - 1, c - 1);
    SymmetricEigen(4, m);
    ExpectEigenAgrees(a, m, 1e-10);
}

TEST(SwapValues, Exchanges) {
    double a = 1.5;
    double b = -2.0;
    SwapValues(a, b);
    EXPECT_EQ(a, -2.0);
    EXPECT_EQ(b, 1.5);
}

} // namespace
} // namespace lumora
