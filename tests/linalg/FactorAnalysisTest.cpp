// Factor analysis of absorbance matrices: the weighted covariance by hand, the
// eigenvalues against Eigen, the indicator function against Malinowski's formulas
// written out here, and matrices of known rank with known noise.

#include "linalg/FactorAnalysis.h"

#include "FuzzyCompare.h"
#include "SyntheticAbsorbances.h"
#include "base/RuntimeError.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace lumora::test {
namespace {

/// A copy of the matrix and weights an analysis reads.
struct Data {
    int nSol, nWl;
    Mat<double> abs;
    Vec<float> weight;
};

FactorResult Analyze(const Data& d) {
    return AnalyzeFactors(d.nSol, d.nWl, d.abs, d.weight);
}

Data Spectra(const Synthetic& s) {
    State st;
    MakeSpectra(st, s);
    return {s.nSol, s.nWl, st.AbsM, st.SolWeight};
}

TEST(WeightedCovariance, SmallCaseByHand) {
    // Solution 2 misses wavelength 2 (1e33 and above count as missing) and weighs 4; the
    // sums run over the common wavelengths and are scaled to all four.
    Data d{2, 4, Mat<double>(2, 4), Vec<float>(2)};
    const double a[] = {1, 2, 3, 4}, b[] = {2, kMissingLimit, 4, 8};
    for (int w = 1; w <= 4; ++w) {
        d.abs(1, w) = a[w - 1];
        d.abs(2, w) = b[w - 1];
    }
    d.weight(1) = 1.0f;
    d.weight(2) = 4.0f;
    Vec<double> mean;
    Mat<double> cov;
    WeightedCovariance(2, 4, d.abs, d.weight, mean, cov);
    const double m2 = 14.0 / 3.0;
    EXPECT_FUZZY(mean(1), 2.5, 1e-15);
    EXPECT_FUZZY(mean(2), m2, 1e-15);
    EXPECT_FUZZY(cov(1, 1), 2.25 + 0.25 + 0.25 + 2.25, 1e-15);
    const double s12 = (1 - 2.5) * (2 - m2) + (3 - 2.5) * (4 - m2) + (4 - 2.5) * (8 - m2);
    EXPECT_FUZZY(cov(1, 2), s12 * 2.0 * 4.0 / 3.0, 1e-14);
    EXPECT_EQ(cov(2, 1), cov(1, 2));
    const double s22 = (2 - m2) * (2 - m2) + (4 - m2) * (4 - m2) + (8 - m2) * (8 - m2);
    EXPECT_FUZZY(cov(2, 2), s22 * 4.0 * 4.0 / 3.0, 1e-14);
    // Row and column 0 carry nothing.
    EXPECT_TRUE(cov(0, 0) == 0.0 && cov(0, 1) == 0.0 && cov(1, 0) == 0.0);
    // A negative weight is a run-time error.
    d.weight(2) = -1.0f;
    try {
        Analyze(d);
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
    }
}

/// Malinowski's real error and indicator from eigenvalues sorted descending
/// (lambda[1..n]) of a covariance summed over nWl wavelengths, c columns counting.
struct Malinowski {
    std::vector<double> re, ind;
};
Malinowski Reference(const Eigen::VectorXd& lambda, int c, int nWl) {
    Malinowski m;
    for (int f = 0; f < c; ++f) {
        double s = 0.0;
        for (int j = f + 1; j <= c; ++j) s += lambda(j - 1);
        const double re = std::sqrt(s / (static_cast<double>(nWl) * (c - f)));
        m.re.push_back(re);
        m.ind.push_back(re / ((c - f) * (c - f)));
    }
    return m;
}

TEST(FactorAnalysis, EigenvaluesAndIndicatorAgainstEigenAndTheFormulas) {
    for (unsigned seed : {3u, 17u, 99u}) {
        SCOPED_TRACE(seed);
        Data d = Spectra(Synthetic{9, 60, 3, 2e-3, seed});
        // Weights whose float products are exact.
        const float weights[] = {1.0f, 0.25f, 4.0f, 2.25f, 1.0f, 0.5f, 1.0f, 2.0f, 1.0f};
        for (int j = 1; j <= 9; ++j) d.weight(j) = weights[j - 1];

        // Second implementation: centre, weight by sqrt(w) per solution, multiply.
        Eigen::MatrixXd a(9, 60);
        for (int j = 1; j <= 9; ++j) {
            double mean = 0;
            for (int w = 1; w <= 60; ++w) mean += d.abs(j, w);
            mean /= 60;
            for (int w = 1; w <= 60; ++w)
                a(j - 1, w - 1) =
                    std::sqrt(static_cast<double>(weights[j - 1])) * (d.abs(j, w) - mean);
        }
        const Eigen::MatrixXd cov = a * a.transpose();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(cov);
        Eigen::VectorXd lambda = es.eigenvalues().reverse();

        const FactorResult r = Analyze(d);
        ASSERT_EQ(r.n, 9);
        ASSERT_EQ(r.c, 9);
        for (int k = 1; k <= 9; ++k)
            EXPECT_TRUE(FuzzyEqual(r.eigenvalues[k], lambda(k - 1), 1e-9, 1e-12 * lambda(0))) << k;

        const Malinowski m = Reference(lambda, 9, 60);
        ASSERT_EQ(r.indicator.size(), 9u);
        int best = 0;
        for (int f = 0; f < 9; ++f) {
            EXPECT_FUZZY(r.realError[f], m.re[f], 1e-6);
            EXPECT_FUZZY(r.indicator[f], 1.0 / m.ind[f], 1e-6);
            if (m.ind[f] < m.ind[best]) best = f;
        }
        EXPECT_EQ(r.nf, best);
        EXPECT_EQ(r.nf, 3);
        EXPECT_TRUE(r.analyzable);
    }
}

TEST(FactorAnalysis, KnownRankAndNoiseAreFound) {
    for (const Synthetic& s : {Synthetic{8, 80, 1, 1e-3, 1}, Synthetic{12, 100, 3, 2e-3, 4},
                               Synthetic{15, 120, 4, 5e-4, 5}, Synthetic{20, 60, 2, 1e-4, 6}}) {
        SCOPED_TRACE(testing::Message() << s.species << " species, seed " << s.seed);
        const FactorResult r = Analyze(Spectra(s));
        EXPECT_EQ(r.nf, s.species);
        EXPECT_EQ(r.c, s.nSol);
        EXPECT_TRUE(r.analyzable);
        // The real error estimates the noise of one absorbance.
        EXPECT_FUZZY(r.realError[r.nf], s.noise, 0.15);
        // Fewer factors leave signal in the residual.
        for (int f = 0; f < r.nf; ++f) EXPECT_GT(r.realError[f], 3 * s.noise) << f;
    }
}

TEST(FactorAnalysis, NoiseFreeDataHaveExactlyTheirRankOfColumns) {
    // Rounding leaves eigenvalues of about 1e-16 of the largest where the exact ones
    // are 0: they must not count as columns, nor as a tiny error.
    for (int k = 1; k <= 3; ++k) {
        const FactorResult r =
            Analyze(Spectra(Synthetic{8, 50, k, 0.0, static_cast<unsigned>(10 + k)}));
        EXPECT_EQ(r.c, k) << k;
        EXPECT_EQ(r.analyzable, k >= 2) << k;
        for (double re : r.realError) EXPECT_GT(re, 1e-6) << k;
    }
}

TEST(FactorAnalysis, DegenerateInputs) {
    struct Case {
        const char* name;
        int nSol;
        int nWl;
        double value; ///< every absorbance; NaN: copies of one synthetic spectrum
    };
    const Case cases[] = {
        {"no solutions", 0, 10, 0.5},          {"no wavelengths", 4, 0, 0.5},
        {"one solution", 1, 10, std::nan("")}, {"flat spectra", 5, 10, 0.5},
        {"all missing", 5, 10, kMissing},      {"identical spectra", 6, 40, std::nan("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Data d = Spectra(Synthetic{c.nSol, c.nWl, 2, 1e-3, 8});
        for (int j = 1; j <= c.nSol; ++j)
            for (int w = 1; w <= c.nWl; ++w)
                d.abs(j, w) = std::isnan(c.value) ? d.abs(1, w) : c.value;
        const FactorResult r = Analyze(d);
        EXPECT_FALSE(r.analyzable);
        EXPECT_EQ(r.nf, 0);
        EXPECT_LE(r.c, 1);
        for (double v : r.indicator) EXPECT_TRUE(std::isfinite(v));
        for (double v : r.realError) EXPECT_TRUE(std::isfinite(v));
    }
}

// A solution of weight 0 is a zero eigenvalue that does not count: the real error uses
// one column fewer, Malinowski's formula with c = 9 on the same eigenvalues. Scattered
// missing values leave finite results; just below the limit is a value like any other.
TEST(FactorAnalysis, ZeroWeightAndMissingValues) {
    Data d = Spectra(Synthetic{10, 100, 2, 1e-3, 31});
    d.weight(5) = 0.0f;
    const FactorResult r = Analyze(d);
    EXPECT_EQ(r.eigenvalues[10], 0.0);
    ASSERT_EQ(r.c, 9);
    EXPECT_EQ(r.nf, 2);
    Eigen::VectorXd lambda(10);
    for (int k = 1; k <= 10; ++k) lambda(k - 1) = r.eigenvalues[k];
    const Malinowski m = Reference(lambda, 9, 100);
    for (int f = 0; f < 9; ++f) EXPECT_FUZZY(r.realError[f], m.re[f], 1e-9);

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> sol(1, 10), wl(1, 100);
    for (int i = 0; i < 300; ++i) d.abs(sol(rng), wl(rng)) = kMissing;
    const FactorResult scattered = Analyze(d);
    EXPECT_GE(scattered.c, 1);
    for (int f = 0; f < scattered.c; ++f)
        EXPECT_TRUE(std::isfinite(scattered.realError[f]) && std::isfinite(scattered.indicator[f]));
    d.abs(1, 1) = 9.9e32;
    EXPECT_GT(Analyze(d).eigenvalues[1], 1e60);
}

} // namespace
} // namespace lumora::test
