// Linear algebra against Eigen, chi-square quantiles against their published table; factor
// analysis against a hand case, Eigen, Malinowski's formulas and known rank and noise.

#include "linalg/LinearAlgebra.h"
#include "linalg/Chi2Quantile95.h"
#include "linalg/Correlation.h"
#include "linalg/FQuantile.h"
#include "linalg/FactorAnalysis.h"
#include "linalg/InvertSymmetric.h"

#include "FuzzyCompare.h"
#include "SyntheticAbsorbances.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace lumora::test {
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

/// Row-major entries of a square matrix.
Eigen::MatrixXd Square(const std::vector<double>& a) {
    const auto n = static_cast<Eigen::Index>(std::sqrt(a.size()));
    return Eigen::Map<const Eigen::MatrixXd>(a.data(), n, n).transpose();
}

// A zero right-hand side without coupling gives exactly 0; a remaining row all zero or
// cancelled below 1e-8 of the subtracted term sets status 1; a status set on entry is kept
// and nothing solved; overflow and a matrix smaller than n raise run-time errors.
TEST(SolveSystem, HandCasesStatusesAndErrors) {
    const struct {
        std::vector<double> a, b, x;
        int16_t status, statusOut;
    } cases[] = {
        {{2, 0, 1, 0, 5, 0, 1, 0, 3}, {3, 0, 4}, {1, 0, 1}, 0, 0},
        {{1, 2, 3, 2, 4, 6, 0, 1, 1}, {1, 2, 3}, {}, 0, 1},
        {{1, 1, 1, 1 + 1e-9}, {2, 2 + 1e-9}, {}, 0, 1},
        {{2, 0, 0, 4}, {2, 4}, {2, 4}, -16384, -16384},
    };
    for (const auto& cs : cases) {
        const auto n = static_cast<int16_t>(cs.b.size());
        Mat<double> m = Bordered(Square(cs.a), Eigen::Map<const Eigen::VectorXd>(cs.b.data(), n));
        int16_t status = cs.status;
        SolveSystem(status, n, m);
        EXPECT_EQ(status, cs.statusOut) << cs.a.size() << " " << cs.status;
        for (size_t c = 0; c < cs.x.size(); ++c)
            EXPECT_DOUBLE_EQ(m(static_cast<int>(c) + 1, 0), cs.x[c]) << cs.a.size();
    }
    int16_t status = 0;
    Mat<double> big = Bordered(Eigen::Vector2d(1e200, 1).asDiagonal(), Eigen::Vector2d(1, 1));
    EXPECT_EQ(ErrorOf([&] { SolveSystem(status, 2, big); }), "Overflow");
    Mat<double> small(2, 2);
    EXPECT_EQ(ErrorOf([&] { SolveSystem(status, 3, small); }), kSubscriptOutOfRange);
}

// Symmetric matrices as the fit builds them (Hessians in any unit, ill-conditioned normal
// equations, indefinite ones with leading pivots away from 0) against Eigen's LU, inverse
// and eigenvalues (descending, orthonormal vectors with A = V diag(l) V^T). SymmetricEigen
// and InvertSymmetric keep column 0, the right-hand side.
TEST(SymmetricMatrices, SolveEigenAndInverseAgreeWithEigen) {
    std::mt19937 rng(20240611u);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 300; ++trial) {
        const int family = trial / 150 + trial / 250; // 0: definite, 1: normal, 2: indefinite
        const int n = family == 0 ? 1 + trial % 12 : 2 + trial % 8;
        Eigen::MatrixXd b(n, n), y(40, n), v(n, n);
        for (int i = 0; i < b.size(); ++i) b.data()[i] = normal(rng);
        for (int i = 0; i < y.size(); ++i) y.data()[i] = std::fabs(normal(rng));
        Eigen::MatrixXd s = std::pow(10.0, trial % 7 - 3) *
                            (b * b.transpose() + 0.1 * Eigen::MatrixXd::Identity(n, n));
        if (family == 1) s = y.transpose() * y;
        if (family == 2) {
            s = b + b.transpose();
            s.diagonal().array() += 6.0;
            s(n - 1, n - 1) = -5.0;
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const Eigen::VectorXd rhs = b.col(0), x = s.fullPivLu().solve(rhs);
        Mat<double> e = Bordered(s, rhs), inv = e;
        int16_t status = 0;
        SolveSystem(status, static_cast<int16_t>(n), e);
        ASSERT_EQ(status, 0);
        for (int r = 1; r <= n; ++r)
            EXPECT_TRUE(FuzzyEqual(e(r, 0), x(r - 1), 1e-9, x.cwiseAbs().maxCoeff()));

        e = Bordered(s, rhs);
        SymmetricEigen(static_cast<int16_t>(n), e);
        Eigen::VectorXd lambda(n);
        for (int j = 1; j <= n; ++j) {
            lambda(j - 1) = e(0, j);
            for (int r = 1; r <= n; ++r) v(r - 1, j - 1) = e(r, j);
        }
        const Eigen::VectorXd ref =
            Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(s).eigenvalues().reverse();
        const double tol = 1e-9 * std::max(1.0, ref.cwiseAbs().maxCoeff());
        EXPECT_LE((lambda - ref).cwiseAbs().maxCoeff(), tol) << lambda.transpose();
        for (int j = 1; j < n; ++j) EXPECT_GE(lambda(j - 1), lambda(j));
        EXPECT_LE((v.transpose() * v - Eigen::MatrixXd::Identity(n, n)).cwiseAbs().maxCoeff(),
                  1e-10);
        EXPECT_LE((v * lambda.asDiagonal() * v.transpose() - s).cwiseAbs().maxCoeff(), tol);

        int16_t m = static_cast<int16_t>(n);
        InvertSymmetric(m, inv);
        ASSERT_EQ(m, n);
        const Eigen::MatrixXd sInv = s.inverse();
        for (int r = 1; r <= n; ++r) {
            ASSERT_TRUE(e(r, 0) == rhs(r - 1) && inv(r, 0) == rhs(r - 1) && inv(0, r) == 0.0);
            for (int c = 1; c <= n; ++c)
                ASSERT_NEAR(inv(r, c), sInv(r - 1, c - 1), 1e-9 * sInv.cwiseAbs().maxCoeff());
        }
    }
}

TEST(SymmetricEigen, EqualDiagonalPairRotatesBy45Degrees) {
    // [[1, .5, 0], [.5, 1, 0], [0, 0, 2]]: 2, 1.5, 0.5, not 2, 1, 1.
    Mat<double> m = Bordered(Square({1, 0.5, 0, 0.5, 1, 0, 0, 0, 2}), Eigen::VectorXd());
    SymmetricEigen(3, m);
    const double want[] = {2.0, 1.5, 0.5};
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(m(0, j), want[j - 1], 1e-12);
    EXPECT_NEAR(std::fabs(m(1, 2)), std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(m(1, 2) * m(2, 2), 0.5, 1e-12);  // same signs
    EXPECT_NEAR(m(1, 3) * m(2, 3), -0.5, 1e-12); // opposite signs
    EXPECT_NEAR(std::fabs(m(3, 1)), 1.0, 1e-12);
}

TEST(InvertSymmetric, ExactZeroPivotFails) {
    // Only an exactly zero pivot fails, even of an invertible matrix, or in a later cycle.
    for (const auto& a : std::vector<std::vector<double>>{{0, 1, 1, 0}, {0}, {1, 1, 1, 1}}) {
        Mat<double> m = Bordered(Square(a), Eigen::VectorXd());
        auto n = static_cast<int16_t>(m.UBound1());
        InvertSymmetric(n, m);
        EXPECT_EQ(n, 0) << a.size();
    }
}

TEST(Chi2Quantile95, AbramowitzStegunTable26_8AndNothingOutside) {
    // Upper 5 % points of chi-square (Abramowitz and Stegun 1964, table 26.8).
    const float expected[] = {3.841f, 5.991f, 7.815f, 9.488f, 11.07f, 12.59f, 14.07f, 15.51f};
    for (int16_t df = 1; df <= 8; ++df) EXPECT_EQ(Chi2Quantile95(df), expected[df - 1]);
    for (int16_t df : {int16_t(0), int16_t(9), int16_t(-1)})
        EXPECT_EQ(ErrorOf([df] { Chi2Quantile95(df); }), kSubscriptOutOfRange) << df;
}

// Upper 5 % (and one 1 %) points of F from the NIST/SEMATECH e-Handbook of Statistical
// Methods, table 1.3.6.7.3; F(1, v) is t(0.975; v)^2 and v F(v, 1e9) the chi-square point.
TEST(FQuantile, PublishedTablesAndTheirLimits) {
    const struct {
        double p, d1, d2, f;
    } table[] = {{0.95, 1, 1, 161.448}, {0.95, 1, 10, 4.965},  {0.95, 1, 18, 4.414},
                 {0.95, 1, 30, 4.171},  {0.95, 1, 100, 3.936}, {0.95, 2, 10, 4.103},
                 {0.95, 5, 20, 2.711},  {0.95, 10, 10, 2.978}, {0.99, 1, 10, 10.044}};
    for (const auto& t : table) EXPECT_NEAR(FQuantile(t.p, t.d1, t.d2), t.f, 6e-4) << t.d2;
    EXPECT_NEAR(FQuantile(0.95, 1, 12), 2.179 * 2.179, 2e-3); // t(0.975; 12) = 2.179
    for (int16_t df = 1; df <= 8; ++df)
        EXPECT_NEAR(df * FQuantile(0.95, df, 1e9), Chi2Quantile95(df), 6e-3) << df;
    EXPECT_DOUBLE_EQ(IncompleteBeta(2.0, 1.0, 0.3), 0.09); // I_x(a, 1) = x^a
    for (const auto& bad : {std::pair(0.0, 10.0), {1.0, 10.0}, {0.5, 0.0}})
        EXPECT_EQ(ErrorOf([&] { FQuantile(bad.first, 1.0, bad.second); }), kInvalidCall);
}

// The correlation of the inverse against Eigen; a singular matrix has none, and its
// smallest eigenvector is its null space.
TEST(Correlation, InverseCorrelationAndWorstDeterminedCombination) {
    Eigen::Matrix3d a;
    a << 4.0, 1.9, -0.5, 1.9, 1.0, 0.2, -0.5, 0.2, 9.0;
    Mat<double> c;
    ASSERT_TRUE(InverseCorrelation(Bordered(a, {}), 3, c));
    const Eigen::Matrix3d inv = a.inverse();
    for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l)
            EXPECT_FUZZY(c(k + 1, l + 1), inv(k, l) / std::sqrt(inv(k, k) * inv(l, l)), 1e-10);
    Eigen::Matrix3d singular;
    singular << 1.0, 1.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 2.0; // G1 and G2 only as their sum
    EXPECT_FALSE(InverseCorrelation(Bordered(singular, {}), 3, c));
    const std::vector<double> v = SmallestEigenvector(Bordered(singular, {}), 3);
    EXPECT_NEAR(std::fabs(v[0]), std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(v[0] + v[1], 0.0, 1e-12);
    EXPECT_NEAR(v[2], 0.0, 1e-12);
}

struct Data {
    int nSol, nWl;
    Mat<double> abs;
    Vec<float> weight;
    FactorResult Analyze() const { return AnalyzeFactors(nSol, nWl, abs, weight); }
};

Data Spectra(const Synthetic& s) {
    State st;
    MakeSpectra(st, s);
    return {s.nSol, s.nWl, st.AbsM, st.SolWeight};
}

TEST(WeightedCovariance, SmallCaseByHand) {
    // Solution 2 misses wavelength 2 (1e33 and above count as missing) and weighs 4; the
    // sums run over the common wavelengths and are scaled to all four.
    Data d{2, 4, Mat<double>(2, 4), Vec<float>(2)};
    const double a[] = {1, 2, 3, 4}, b[] = {2, kMissingLimit, 4, 8}, m2 = 14.0 / 3.0;
    for (int w = 1; w <= 4; ++w) d.abs(1, w) = a[w - 1], d.abs(2, w) = b[w - 1];
    d.weight(1) = 1.0f, d.weight(2) = 4.0f;
    Vec<double> mean;
    Mat<double> cov;
    WeightedCovariance(2, 4, d.abs, d.weight, mean, cov);
    EXPECT_FUZZY(cov(1, 1), 2.25 + 0.25 + 0.25 + 2.25, 1e-15);
    const double s12 = (1 - 2.5) * (2 - m2) + (3 - 2.5) * (4 - m2) + (4 - 2.5) * (8 - m2);
    EXPECT_FUZZY(cov(1, 2), s12 * 2.0 * 4.0 / 3.0, 1e-14);
    const double s22 = (2 - m2) * (2 - m2) + (4 - m2) * (4 - m2) + (8 - m2) * (8 - m2);
    EXPECT_FUZZY(cov(2, 2), s22 * 4.0 * 4.0 / 3.0, 1e-14);
    EXPECT_TRUE(cov(2, 1) == cov(1, 2) && cov(0, 0) == 0.0 && cov(0, 1) == 0.0);
    d.weight(2) = -1.0f;
    EXPECT_EQ(ErrorOf([&] { d.Analyze(); }), "Invalid procedure call or argument");
}

/// Malinowski's real error of f factors from descending eigenvalues lambda(0..) of a
/// covariance summed over nWl wavelengths, c columns counting.
double RealError(const Eigen::VectorXd& lambda, int c, int nWl, int f) {
    return std::sqrt(lambda.segment(f, c - f).sum() / (static_cast<double>(nWl) * (c - f)));
}

// The indicator is RE / (c - f)^2, reported reversed; its minimum is the factor count.
TEST(FactorAnalysis, EigenvaluesAndIndicatorAgainstEigenAndTheFormulas) {
    for (unsigned seed : {3u, 17u, 99u}) {
        SCOPED_TRACE(seed);
        Data d = Spectra(Synthetic{9, 60, 3, 2e-3, seed});
        const float weights[] = {1.0f, 0.25f, 4.0f, 2.25f, 1.0f, 0.5f, 1.0f, 2.0f, 1.0f};
        Eigen::MatrixXd a(9, 60); // centred, scaled by sqrt(weight) per solution
        for (int j = 1; j <= 9; ++j) {
            d.weight(j) = weights[j - 1];
            double mean = 0;
            for (int w = 1; w <= 60; ++w) mean += d.abs(j, w) / 60;
            for (int w = 1; w <= 60; ++w)
                a(j - 1, w - 1) = std::sqrt(double{weights[j - 1]}) * (d.abs(j, w) - mean);
        }
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(a * a.transpose());
        const Eigen::VectorXd lambda = es.eigenvalues().reverse();
        const FactorResult r = d.Analyze();
        ASSERT_TRUE(r.n == 9 && r.c == 9 && r.indicator.size() == 9u);
        for (int k = 1; k <= 9; ++k)
            EXPECT_TRUE(FuzzyEqual(r.eigenvalues[k], lambda(k - 1), 1e-9, 1e-12 * lambda(0))) << k;
        std::vector<double> ind(9);
        for (int f = 0; f < 9; ++f) {
            const double re = RealError(lambda, 9, 60, f);
            ind[f] = re / ((9 - f) * (9 - f));
            EXPECT_FUZZY(r.realError[f], re, 1e-6);
            EXPECT_FUZZY(r.indicator[f], 1.0 / ind[f], 1e-6);
        }
        const long best = std::min_element(ind.begin(), ind.end()) - ind.begin();
        EXPECT_TRUE(r.nf == best && r.nf == 3 && r.analyzable) << r.nf << " " << best;
    }
}

// The real error estimates the noise of one absorbance; fewer factors leave signal in it.
// Without noise, rounding leaves eigenvalues of about 1e-16 of the largest where the exact
// ones are 0: they count neither as columns nor as a tiny error.
TEST(FactorAnalysis, KnownRankAndNoiseAreFound) {
    for (const Synthetic& s : {Synthetic{8, 80, 1, 1e-3, 1}, Synthetic{12, 100, 3, 2e-3, 4},
                               Synthetic{15, 120, 4, 5e-4, 5}, Synthetic{20, 60, 2, 1e-4, 6},
                               Synthetic{8, 50, 1, 0.0, 11}, Synthetic{8, 50, 3, 0.0, 13}}) {
        SCOPED_TRACE(testing::Message() << s.species << " species, seed " << s.seed);
        const FactorResult r = Spectra(s).Analyze();
        EXPECT_EQ(r.analyzable, r.c >= 2);
        if (s.noise == 0) {
            EXPECT_EQ(r.c, s.species);
            for (double re : r.realError) EXPECT_GT(re, 1e-6);
            continue;
        }
        EXPECT_TRUE(r.nf == s.species && r.c == s.nSol) << r.nf << " " << r.c;
        EXPECT_FUZZY(r.realError[r.nf], s.noise, 0.15);
        for (int f = 0; f < r.nf; ++f) EXPECT_GT(r.realError[f], 3 * s.noise) << f;
    }
}

// A solution of weight 0 is a zero eigenvalue that does not count: the real error uses one
// column fewer. Scattered missing values leave finite results, and so do all missing or no
// solutions, with no factors; just below the limit is a value like any other.
TEST(FactorAnalysis, ZeroWeightAndMissingValues) {
    Data d = Spectra(Synthetic{10, 100, 2, 1e-3, 31});
    d.weight(5) = 0.0f;
    const FactorResult r = d.Analyze();
    ASSERT_TRUE(r.eigenvalues[10] == 0.0 && r.c == 9 && r.nf == 2) << r.c << " " << r.nf;
    const Eigen::VectorXd lambda = Eigen::Map<const Eigen::VectorXd>(&r.eigenvalues[1], 10);
    for (int f = 0; f < 9; ++f) EXPECT_FUZZY(r.realError[f], RealError(lambda, 9, 100, f), 1e-9);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> sol(1, 10), wl(1, 100);
    for (int i = 0; i < 300; ++i) d.abs(sol(rng), wl(rng)) = kMissing;
    const FactorResult scattered = d.Analyze();
    d.abs(1, 1) = 9.9e32;
    EXPECT_GT(d.Analyze().eigenvalues[1], 1e60);
    d.abs.Fill(kMissing);
    const FactorResult none = d.Analyze();
    EXPECT_TRUE(scattered.c >= 1 && !none.analyzable && none.nf == 0 && none.c <= 1);
    for (const FactorResult& f : {scattered, none, Spectra(Synthetic{0, 10, 2, 0, 8}).Analyze()})
        for (size_t i = 0; i < f.indicator.size(); ++i)
            EXPECT_TRUE(std::isfinite(f.realError[i]) && std::isfinite(f.indicator[i]));
}

} // namespace
} // namespace lumora::test
