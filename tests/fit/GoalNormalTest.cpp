// Normal mode of the goal function: known concentrations and absorptivities,
// the non-negative least squares against its optimality conditions and against
// an exhaustive subset search, and the factor reconstruction against a
// principal-component projection computed with Eigen.

#include "fit/Goal.h"

#include "FuzzyCompare.h"
#include "GoalFixture.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using test::GoalData;

Eigen::MatrixXd ConcMatrix(const GoalData& d) {
    Eigen::MatrixXd c(d.nSol, d.nSp);
    for (int j = 1; j <= d.nSol; ++j)
        for (int k = 1; k <= d.nSp; ++k) c(j - 1, k - 1) = d.conc[k][j];
    return c;
}

// Data = C E + R with R orthogonal to the columns of C in the weighted inner
// product: the least-squares coefficients are E and the misfit is R's.
TEST(GoalNormal, KnownConcentrationsAndAbsorptivitiesGiveTheKnownMisfit) {
    for (bool weights : {false, true}) {
        GoalData d = test::RandomData(3, 9, 7, weights ? 11u : 12u, weights);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        const Eigen::MatrixXd c = ConcMatrix(d);
        Eigen::VectorXd wv(d.nSol);
        for (int j = 1; j <= d.nSol; ++j) wv(j - 1) = d.weight[j];
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        Eigen::MatrixXd e(d.nSp, d.nWl), r0(d.nSol, d.nWl);
        for (int i = 0; i < e.size(); ++i) e.data()[i] = 100.0 + 1000.0 * u(rng);
        for (int i = 0; i < r0.size(); ++i) r0.data()[i] = 0.01 * (u(rng) - 0.5);
        const Eigen::MatrixXd cw = wv.asDiagonal() * c;
        const Eigen::MatrixXd r = r0 - c * (c.transpose() * cw).ldlt().solve(cw.transpose() * r0);
        const Eigen::MatrixXd a = c * e + r;
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = a(j - 1, w - 1);

        double total = 0.0;
        for (int j = 0; j < d.nSol; ++j) total += wv(j) * r.row(j).squaredNorm() / d.nWl;
        const double want = total / (d.nSol - d.nSp);

        const double got = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_FUZZY(got, want, 1e-7);
        for (int k = 1; k <= d.nSp; ++k) {
            EXPECT_FUZZY(st.Conc(k, 0) * st.Conc(k, 1), d.conc[k][1], 1e-6);
            for (int w = 1; w <= d.nWl; ++w) EXPECT_FUZZY(st.Eps(k, w), e(k - 1, w - 1), 1e-7);
        }
        for (int j = 1; j <= d.nSol; ++j) {
            EXPECT_FUZZY(st.AbsC(j, 0), std::sqrt(r.row(j - 1).squaredNorm() / d.nWl), 1e-5);
            EXPECT_FUZZY(st.AbsC(j, 3), static_cast<float>(a(j - 1, 2) - r(j - 1, 2)), 1e-5);
        }
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(st.GoalCalls, 1);
    }
}

TEST(GoalNormal, ConcentrationsComeFromFullMinusCorrectedBulkTimesDensity) {
    GoalData d = test::RandomData(2, 4, 3, 3u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    for (int j = 1; j <= d.nSol; ++j) {
        st.SolDens(j) = 1.25f;
        st.Bulk(1, j) = 2e-3 * j;
        st.BulkCorr(1, j) = 5e-4 * j;
        st.Bulk(2, j) = 1e-3;
        // A different water amount in the corrected run changes its factor.
        st.BulkCorr(0, j) = kWaterMolality / 2;
        for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = 0.1 * j + 0.01 * w;
    }
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    for (int j = 1; j <= d.nSol; ++j) {
        const double c1 = 1.25 * 2e-3 * j - 2.0 * 1.25 * 5e-4 * j;
        const double c2 = 1.25 * 1e-3;
        EXPECT_FUZZY(st.Conc(1, 0) * st.Conc(1, j), c1, 1e-12);
        EXPECT_FUZZY(st.Conc(2, 0) * st.Conc(2, j), c2, 1e-12);
    }
    double n1 = 0.0;
    for (int j = 1; j <= d.nSol; ++j) n1 += st.Conc(1, j) * st.Conc(1, j);
    EXPECT_FUZZY(n1, 1.0, 1e-14);
    // The Gibbs energies reach the solver as floats.
    const auto& g = test::Fake(st).G();
    EXPECT_EQ(g.at(2), static_cast<float>(st.G0(1)));
    EXPECT_EQ(test::Fake(st).calls, 2 * d.nSol);
}

// The exhaustive reference: every subset solved by unconstrained weighted least
// squares, the best feasible one kept (fewer species win a tie).
Eigen::VectorXd ExhaustiveNnls(const Eigen::MatrixXd& c, const Eigen::VectorXd& a,
                               const Eigen::VectorXd& wt) {
    const int n = static_cast<int>(c.cols());
    Eigen::VectorXd best = Eigen::VectorXd::Zero(n);
    double bestObj = (wt.asDiagonal() * a).dot(a);
    int bestSize = 0;
    for (unsigned mask = 1; mask < (1u << n); ++mask) {
        std::vector<int> idx;
        for (int k = 0; k < n; ++k)
            if (mask & (1u << k)) idx.push_back(k);
        Eigen::MatrixXd cs(c.rows(), idx.size());
        for (size_t i = 0; i < idx.size(); ++i) cs.col(i) = c.col(idx[i]);
        const Eigen::MatrixXd csw = wt.asDiagonal() * cs;
        const Eigen::VectorXd x = (cs.transpose() * csw).fullPivLu().solve(csw.transpose() * a);
        if ((x.array() < 0).any()) continue;
        Eigen::VectorXd full = Eigen::VectorXd::Zero(n);
        for (size_t i = 0; i < idx.size(); ++i) full(idx[i]) = x(i);
        const Eigen::VectorXd res = a - c * full;
        const double obj = (wt.asDiagonal() * res).dot(res);
        const bool better =
            obj < bestObj * (1 - 1e-12) ||
            (obj <= bestObj * (1 + 1e-12) && static_cast<int>(idx.size()) < bestSize);
        if (better) {
            best = full;
            bestObj = obj;
            bestSize = static_cast<int>(idx.size());
        }
    }
    return best;
}

TEST(GoalNormal, NonNegativeLeastSquaresIsOptimalAndMatchesExhaustiveSearch) {
    int activeSeen = 0;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        const int nSp = 2 + static_cast<int>(seed % 7); // 2..8 species
        GoalData d = test::RandomData(nSp, 14, 12, seed, seed % 2 == 0);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        const Eigen::MatrixXd c = ConcMatrix(d);
        std::mt19937 rng(1000 + seed);
        std::normal_distribution<double> g(0.0, 1.0);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        // Absorptivities of both signs force active constraints; some values are missing.
        Eigen::MatrixXd a(d.nSol, d.nWl);
        for (int w = 0; w < d.nWl; ++w) {
            Eigen::VectorXd e(nSp);
            for (int k = 0; k < nSp; ++k) e(k) = 500.0 * g(rng);
            a.col(w) = c * e;
            for (int j = 0; j < d.nSol; ++j) a(j, w) += 0.05 * g(rng);
        }
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w)
                st.AbsM(j, w) = u(rng) < 0.08 ? kMissing : a(j - 1, w - 1);

        Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0) << "seed " << seed;
        for (int w = 1; w <= d.nWl; ++w) {
            std::vector<int> rows;
            for (int j = 1; j <= d.nSol; ++j)
                if (st.AbsM(j, w) < kMissingLimit) rows.push_back(j);
            Eigen::MatrixXd cv(rows.size(), nSp);
            Eigen::VectorXd av(rows.size()), wv(rows.size());
            for (size_t i = 0; i < rows.size(); ++i) {
                cv.row(i) = c.row(rows[i] - 1);
                av(i) = st.AbsM(rows[i], w);
                wv(i) = d.weight[rows[i]];
            }
            Eigen::VectorXd eps(nSp);
            for (int k = 1; k <= nSp; ++k) eps(k - 1) = st.Eps(k, w);
            const double scale = eps.cwiseAbs().maxCoeff() + 1.0;

            // Optimality: feasible, zero gradient on the free set, non-negative multipliers.
            const Eigen::VectorXd grad = cv.transpose() * (wv.asDiagonal() * (cv * eps - av));
            const double gscale = (cv.transpose() * (wv.asDiagonal() * av)).cwiseAbs().maxCoeff();
            for (int k = 0; k < nSp; ++k) {
                EXPECT_GE(eps(k), 0.0) << "seed " << seed;
                if (eps(k) > 0.0)
                    EXPECT_NEAR(grad(k), 0.0, 1e-6 * gscale) << "seed " << seed << " w " << w;
                else
                    EXPECT_GE(grad(k), -1e-6 * gscale) << "seed " << seed << " w " << w;
            }

            const Eigen::VectorXd ref = ExhaustiveNnls(cv, av, wv);
            for (int k = 0; k < nSp; ++k) {
                if (ref(k) == 0.0) {
                    ++activeSeen;
                    EXPECT_EQ(eps(k), 0.0) << "seed " << seed << " w " << w << " k " << k;
                } else {
                    EXPECT_NEAR(eps(k), ref(k), 1e-6 * scale) << "seed " << seed << " w " << w;
                }
            }
        }
    }
    EXPECT_GT(activeSeen, 50); // the problems did exercise the constraints
}

TEST(GoalNormal, UnneededSpeciesEndsWithExactZero) {
    // Species 2 only adds negative absorbance if used: it must be exactly 0.
    GoalData d = test::RandomData(2, 8, 4, 7u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    for (int j = 1; j <= d.nSol; ++j)
        for (int w = 1; w <= d.nWl; ++w)
            st.AbsM(j, w) = 300.0 * w * d.conc[1][j] - 50.0 * d.conc[2][j];
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    for (int w = 1; w <= d.nWl; ++w) {
        EXPECT_EQ(st.Eps(2, w), 0.0);
        EXPECT_GT(st.Eps(1, w), 0.0);
    }
}

TEST(GoalNormal, ReducedAccuracyQuestionRaisesDampingUntilSolvable) {
    // Two species with proportional concentrations make the normal matrix singular.
    GoalData d = test::RandomData(2, 6, 3, 9u, false);
    for (int j = 1; j <= d.nSol; ++j) d.conc[2][j] = 2.0 * d.conc[1][j];
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    for (int j = 1; j <= d.nSol; ++j)
        for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = 100.0 * d.conc[1][j] + 0.01 * w;

    ui.defaultAnswer = true;
    const double got = Goal(st, 0);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_GE(ui.questions.size(), 1u);
    for (const std::string& q : ui.questions)
        EXPECT_EQ(q, "Too high correlation. Reduce accuracy?  ");
    EXPECT_GT(st.Damping, 1e-10);
    EXPECT_TRUE(std::isfinite(got));
    EXPECT_TRUE(ui.messages.empty());

    // The raised damping stays; answering No at the first question fails silently
    // (the solver has nothing to report).
    State st2;
    test::TestUi ui2(st2);
    test::SetUpState(st2, d);
    st2.AbsM = st.AbsM;
    ui2.answers = {false};
    Goal(st2, 0);
    EXPECT_EQ(st2.ErrCode, -1);
    EXPECT_EQ(ui2.questions.size(), 1u);
    EXPECT_TRUE(ui2.messages.empty());
    EXPECT_EQ(st2.Damping, 1e-10);
}

TEST(GoalNormal, QuestionIsNotRepeatedWhenDampingCannotHelp) {
    // Species 2 is present only in solution 1, whose value is missing at wavelength
    // 2: its diagonal there is zero and no damping changes that.
    GoalData d = test::RandomData(2, 5, 3, 4u, false);
    for (int j = 2; j <= d.nSol; ++j) d.conc[2][j] = 0.0;
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    for (int j = 1; j <= d.nSol; ++j)
        for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = 0.1 * j + 0.02 * w;
    st.AbsM(1, 2) = kMissing;
    ui.defaultAnswer = true;
    Goal(st, 0);
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_EQ(ui.questions.size(), 1u);
}

// Factor reconstruction
struct FactorCase {
    unsigned seed;
    int nFactors;
    bool weights;
};

TEST(GoalFactors, ReconstructionMatchesPrincipalComponentProjection) {
    const FactorCase cases[] = {{21, 1, false}, {22, 2, false}, {23, 3, true}, {24, 2, true}};
    for (const FactorCase& fc : cases) {
        GoalData d = test::RandomData(3, 10, 16, fc.seed, fc.weights);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        std::mt19937 rng(fc.seed);
        std::normal_distribution<double> g(0.0, 1.0);
        Eigen::MatrixXd a(d.nSol, d.nWl);
        for (int i = 0; i < a.size(); ++i) a.data()[i] = 1.0 + 0.3 * g(rng);
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = a(j - 1, w - 1);

        // Reference: weighted covariance of the centred rows, projection of the
        // centred data on its leading eigenvectors.
        Eigen::VectorXd mean = a.rowwise().mean();
        Eigen::MatrixXd ac = a.colwise() - mean;
        Eigen::VectorXd sw(d.nSol);
        for (int j = 1; j <= d.nSol; ++j) sw(j - 1) = std::sqrt(static_cast<double>(d.weight[j]));
        const Eigen::MatrixXd cov = sw.asDiagonal() * ac * ac.transpose() * sw.asDiagonal();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(cov);
        const Eigen::MatrixXd v = es.eigenvectors().rightCols(fc.nFactors);
        const Eigen::MatrixXd z = (v * v.transpose() * ac).colwise() + mean;

        State ref;
        test::TestUi refUi(ref);
        test::SetUpState(ref, d);
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w) ref.AbsM(j, w) = z(j - 1, w - 1);
        const double want = Goal(ref, 0);
        ASSERT_EQ(ref.ErrCode, 0);

        st.nFactors = static_cast<int16_t>(fc.nFactors);
        const double got = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_FUZZY(got, want, 1e-6);
        // The solver's 1e-8 cancellation threshold bounds the agreement.
        double top = 0.0;
        for (int k = 1; k <= d.nSp; ++k)
            for (int w = 1; w <= d.nWl; ++w) top = std::max(top, std::fabs(ref.Eps(k, w)));
        for (int k = 1; k <= d.nSp; ++k)
            for (int w = 1; w <= d.nWl; ++w)
                EXPECT_TRUE(test::FuzzyEqual(st.Eps(k, w), ref.Eps(k, w), 1e-6, top));
    }
}

TEST(GoalFactors, AllFactorsReproduceTheData) {
    // More factors than the data have (a count chosen for a larger data set) is
    // cut at the positive eigenvalues, and all of them rebuild the data.
    for (int nFactors : {10, 50}) {
        GoalData d = test::RandomData(2, 10, 20, 31u, false);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        std::mt19937 rng(8);
        std::normal_distribution<double> g(0.0, 1.0);
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w) st.AbsM(j, w) = 0.5 + 0.1 * g(rng);
        const double plain = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        Mat<float> absC = st.AbsC;
        st.nFactors = static_cast<int16_t>(nFactors);
        const double reduced = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0) << nFactors;
        EXPECT_FUZZY(reduced, plain, 1e-9);
        for (int j = 1; j <= d.nSol; ++j)
            for (int w = 1; w <= d.nWl; ++w) EXPECT_FUZZY(st.AbsC(j, w), absC(j, w), 1e-5);
        EXPECT_TRUE(ui.messages.empty());
    }
}

} // namespace
} // namespace lumora
