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

FactorResult Analyze(const State& st) {
    return AnalyzeFactors(st.nSol, st.nWl, st.AbsM, st.SolWeight);
}

TEST(WeightedCovariance, SmallCaseByHand) {
    // Solution 2 misses wavelength 2 and weighs 4; the sums run over the common
    // wavelengths and are scaled to all four.
    State st;
    st.AbsM.Redim(2, 4);
    const double a[] = {1, 2, 3, 4}, b[] = {2, kMissing, 4, 8};
    for (int w = 1; w <= 4; ++w) {
        st.AbsM(1, w) = a[w - 1];
        st.AbsM(2, w) = b[w - 1];
    }
    st.SolWeight.Redim(2);
    st.SolWeight(1) = 1.0f;
    st.SolWeight(2) = 4.0f;
    Vec<double> mean;
    Mat<double> cov;
    WeightedCovariance(2, 4, st.AbsM, st.SolWeight, mean, cov);
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
    EXPECT_EQ(cov(0, 0), 0.0);
    EXPECT_EQ(cov(0, 1), 0.0);
    EXPECT_EQ(cov(1, 0), 0.0);
}

TEST(WeightedCovariance, EdgeCases) {
    State st;
    st.AbsM.Redim(4, 4);
    st.SolWeight.Redim(4);
    st.SolWeight.Fill(1.0f);
    for (int w = 1; w <= 4; ++w) {
        st.AbsM(1, w) = w <= 2 ? 0.1 * w : kMissing; // valid at 1, 2
        st.AbsM(2, w) = w >= 3 ? 0.3 * w : kMissing; // valid at 3, 4
        st.AbsM(3, w) = kMissing;                    // nothing valid
        st.AbsM(4, w) = 0.2 * w * w;                 // complete
    }
    st.SolWeight(4) = 0.0f;
    Vec<double> mean;
    Mat<double> cov;
    WeightedCovariance(4, 4, st.AbsM, st.SolWeight, mean, cov);
    // No common wavelength: no covariance (and no division by a zero count).
    EXPECT_EQ(cov(1, 2), 0.0);
    // A solution without data has mean 0 and covaries with nothing.
    EXPECT_EQ(mean(3), 0.0);
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(cov(3, j), 0.0);
    // Weight 0: no covariance with anything, itself included.
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(cov(4, j), 0.0);
    EXPECT_GT(cov(1, 1), 0.0);
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j) EXPECT_TRUE(std::isfinite(cov(i, j)));
}

TEST(WeightedCovariance, NegativeWeightIsARunTimeError) {
    State st;
    Synthetic s;
    s.nSol = 3;
    MakeSpectra(st, s);
    st.SolWeight(2) = -1.0f;
    try {
        Analyze(st);
        FAIL() << "no error";
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
        State st;
        Synthetic s;
        s.nSol = 9;
        s.nWl = 60;
        s.species = 3;
        s.noise = 2e-3;
        s.seed = seed;
        MakeSpectra(st, s);
        // Weights whose float products are exact.
        const float weights[] = {1.0f, 0.25f, 4.0f, 2.25f, 1.0f, 0.5f, 1.0f, 2.0f, 1.0f};
        for (int j = 1; j <= 9; ++j) st.SolWeight(j) = weights[j - 1];

        // Second implementation: centre, weight by sqrt(w) per solution, multiply.
        Eigen::MatrixXd a(9, 60);
        for (int j = 1; j <= 9; ++j) {
            double mean = 0;
            for (int w = 1; w <= 60; ++w) mean += st.AbsM(j, w);
            mean /= 60;
            for (int w = 1; w <= 60; ++w)
                a(j - 1, w - 1) =
                    std::sqrt(static_cast<double>(weights[j - 1])) * (st.AbsM(j, w) - mean);
        }
        const Eigen::MatrixXd cov = a * a.transpose();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(cov);
        Eigen::VectorXd lambda = es.eigenvalues().reverse();

        const FactorResult r = Analyze(st);
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

struct RankCase {
    int species;
    int nSol;
    int nWl;
    double noise;
    unsigned seed;
};

class KnownRank : public ::testing::TestWithParam<RankCase> {};

TEST_P(KnownRank, FindsTheSpeciesAndTheNoise) {
    const RankCase& p = GetParam();
    State st;
    MakeSpectra(st, Synthetic{p.nSol, p.nWl, p.species, p.noise, p.seed});
    const FactorResult r = Analyze(st);
    EXPECT_EQ(r.nf, p.species);
    EXPECT_EQ(r.c, p.nSol);
    EXPECT_TRUE(r.analyzable);
    // The real error estimates the noise of one absorbance.
    EXPECT_FUZZY(r.realError[r.nf], p.noise, 0.15);
    // Fewer factors leave signal in the residual; more leave less than the noise.
    for (int f = 0; f < r.nf; ++f) EXPECT_GT(r.realError[f], 3 * p.noise) << f;
}

INSTANTIATE_TEST_SUITE_P(
    Synthetic, KnownRank,
    ::testing::Values(RankCase{1, 8, 80, 1e-3, 1}, RankCase{2, 10, 80, 1e-3, 2},
                      RankCase{3, 12, 100, 5e-4, 3}, RankCase{3, 12, 100, 2e-3, 4},
                      RankCase{4, 15, 120, 5e-4, 5}, RankCase{2, 20, 60, 1e-4, 6}),
    [](const auto& info) {
        const RankCase& c = info.param;
        return "Rank" + std::to_string(c.species) + "Of" + std::to_string(c.nSol) + "Seed" +
               std::to_string(c.seed);
    });

TEST(FactorAnalysis, NoiseFreeDataHaveExactlyTheirRankOfColumns) {
    // Rounding leaves eigenvalues of about 1e-16 of the largest where the exact ones
    // are 0: they must not count as columns, nor as a tiny error.
    for (int k = 1; k <= 3; ++k) {
        State st;
        MakeSpectra(st, Synthetic{8, 50, k, 0.0, static_cast<unsigned>(10 + k)});
        const FactorResult r = Analyze(st);
        EXPECT_EQ(r.c, k) << k;
        EXPECT_EQ(r.analyzable, k >= 2) << k;
        for (double re : r.realError) EXPECT_GT(re, 1e-6) << k;
    }
}

TEST(FactorAnalysis, IdenticalSpectraAreNotFactorAnalyzable) {
    State st;
    MakeSpectra(st, Synthetic{6, 40, 2, 0.0, 5});
    for (int j = 2; j <= 6; ++j)
        for (int w = 1; w <= 40; ++w) st.AbsM(j, w) = st.AbsM(1, w);
    const FactorResult r = Analyze(st);
    EXPECT_EQ(r.c, 1);
    EXPECT_EQ(r.nf, 0);
    EXPECT_FALSE(r.analyzable);
}

TEST(FactorAnalysis, ZeroWeightGivesAZeroEigenvalueThatDoesNotCount) {
    State st;
    MakeSpectra(st, Synthetic{8, 60, 2, 1e-3, 21});
    const FactorResult all = Analyze(st);
    st.SolWeight(5) = 0.0f;
    const FactorResult r = Analyze(st);
    EXPECT_EQ(r.eigenvalues[8], 0.0);
    EXPECT_EQ(r.c, 7);
    EXPECT_EQ(r.indicator.size(), 7u);
    EXPECT_EQ(r.realError.size(), 7u);
    EXPECT_EQ(all.c, 8);
    EXPECT_EQ(r.nf, 2);
    // With one solution left out, the real error uses one column fewer: Malinowski's
    // formula with c = 7 on the same eigenvalues.
    Eigen::VectorXd lambda(8);
    for (int k = 1; k <= 8; ++k) lambda(k - 1) = r.eigenvalues[k];
    const Malinowski m = Reference(lambda, 7, 60);
    for (int f = 0; f < 7; ++f) EXPECT_FUZZY(r.realError[f], m.re[f], 1e-9);
}

TEST(FactorAnalysis, DegenerateInputs) {
    struct Case {
        const char* name;
        int nSol;
        int nWl;
        double value; ///< every absorbance; NaN: synthetic data
    };
    const Case cases[] = {
        {"no solutions", 0, 10, 0.5},          {"no wavelengths", 4, 0, 0.5},
        {"one solution", 1, 10, std::nan("")}, {"flat spectra", 5, 10, 0.5},
        {"all missing", 5, 10, kMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        State st;
        if (std::isnan(c.value)) {
            MakeSpectra(st, Synthetic{c.nSol, c.nWl, 1, 1e-3, 8});
        } else {
            st.AbsM.Redim(c.nSol, c.nWl);
            st.AbsM.Fill(c.value);
            st.SolWeight.Redim(c.nSol);
            st.SolWeight.Fill(1.0f);
        }
        const FactorResult r = AnalyzeFactors(c.nSol, c.nWl, st.AbsM, st.SolWeight);
        EXPECT_FALSE(r.analyzable);
        EXPECT_EQ(r.nf, 0);
        EXPECT_LE(r.c, 1);
        for (double v : r.indicator) EXPECT_TRUE(std::isfinite(v));
        for (double v : r.realError) EXPECT_TRUE(std::isfinite(v));
    }
}

TEST(FactorAnalysis, AWavelengthMissingEverywhereIsAsIfItWereNotThere) {
    // 1e33 and above count as missing. Without wavelength 7 the sums run over one
    // wavelength fewer and are scaled back up, so the real errors stay those of the
    // matrix without that wavelength.
    State st;
    MakeSpectra(st, Synthetic{10, 100, 2, 1e-3, 31});
    State cut;
    cut.nSol = 10;
    cut.nWl = 99;
    cut.AbsM.Redim(10, 99);
    cut.SolWeight = st.SolWeight;
    for (int j = 1; j <= 10; ++j)
        for (int w = 1, v = 1; w <= 100; ++w)
            if (w != 7) cut.AbsM(j, v++) = st.AbsM(j, w);
    for (int j = 1; j <= 10; ++j) st.AbsM(j, 7) = j % 2 ? kMissing : kMissingLimit;
    const FactorResult r = Analyze(st);
    const FactorResult ref = Analyze(cut);
    EXPECT_EQ(r.nf, 2);
    EXPECT_EQ(r.nf, ref.nf);
    ASSERT_EQ(r.c, ref.c);
    for (int f = 0; f < r.c; ++f) EXPECT_FUZZY(r.realError[f], ref.realError[f], 1e-9);
    for (int k = 1; k <= 10; ++k)
        EXPECT_FUZZY(r.eigenvalues[k], ref.eigenvalues[k] * 100.0 / 99.0, 1e-9);
}

TEST(FactorAnalysis, ScatteredMissingValuesGiveFiniteResults) {
    State st;
    MakeSpectra(st, Synthetic{10, 100, 2, 1e-3, 41});
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> sol(1, 10), wl(1, 100);
    for (int i = 0; i < 300; ++i) st.AbsM(sol(rng), wl(rng)) = kMissing;
    const FactorResult r = Analyze(st);
    EXPECT_GE(r.c, 1);
    for (int f = 0; f < r.c; ++f) {
        EXPECT_TRUE(std::isfinite(r.realError[f]));
        EXPECT_TRUE(std::isfinite(r.indicator[f]));
    }
    // Just below the limit is a value like any other.
    st.AbsM(1, 1) = 9.9e32;
    EXPECT_GT(Analyze(st).eigenvalues[1], 1e60);
}

} // namespace
} // namespace lumora::test
