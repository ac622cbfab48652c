// The goal function against independent references: an exhaustive subset search with
// Eigen for the non-negative least squares and the misfit, and a principal-component
// projection for the factor reconstruction. The real engine's speciation is fitted end
// to end by the app suite (BatchEndToEnd).

#include "fit/Goal.h"

#include "FuzzyCompare.h"
#include "GoalFixture.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>

namespace lumora {
namespace {

using test::GoalData;

Eigen::MatrixXd ConcMatrix(const GoalData& d) {
    Eigen::MatrixXd c(d.nSol, d.nSp);
    for (int i = 0; i < c.size(); ++i)
        c(i % d.nSol, i / d.nSol) = d.conc[i / d.nSol + 1][i % d.nSol + 1];
    return c;
}
void SetAbsorbances(State& st, const Eigen::MatrixXd& a) {
    for (int i = 0; i < a.size(); ++i) st.AbsM(i % st.nSol + 1, i / st.nSol + 1) = a.data()[i];
}
Eigen::VectorXd Weights(const GoalData& d) {
    return Eigen::Map<const Eigen::VectorXf>(d.weight.data() + 1, d.nSol).cast<double>();
}

// Every subset solved by unconstrained weighted least squares, the best feasible one kept.
Eigen::VectorXd ExhaustiveNnls(const Eigen::MatrixXd& c, const Eigen::VectorXd& a,
                               const Eigen::VectorXd& wt) {
    const int n = static_cast<int>(c.cols());
    Eigen::VectorXd best = Eigen::VectorXd::Zero(n);
    double bestObj = (wt.asDiagonal() * a).dot(a);
    for (unsigned mask = 1; mask < (1u << n); ++mask) {
        std::vector<int> idx;
        for (int k = 0; k < n; ++k)
            if (mask & (1u << k)) idx.push_back(k);
        const Eigen::MatrixXd cs = c(Eigen::all, idx), csw = wt.asDiagonal() * cs;
        const Eigen::VectorXd x = (cs.transpose() * csw).fullPivLu().solve(csw.transpose() * a);
        if ((x.array() < 0).any()) continue;
        Eigen::VectorXd full = Eigen::VectorXd::Zero(n);
        full(idx) = x;
        const Eigen::VectorXd res = a - c * full;
        const double obj = (wt.asDiagonal() * res).dot(res);
        if (obj < bestObj * (1 - 1e-12)) std::tie(best, bestObj) = std::pair(full, obj);
    }
    return best;
}

/// The goal function with the given tuning; the tuning as before afterwards.
double GoalWith(State& st, int threads, bool eliminationOnly) {
    const GoalTuning saved = GoalSettings();
    GoalSettings() = {threads, 0, eliminationOnly}; // threads even for small sets
    const double g = Goal(st, 0);
    GoalSettings() = saved;
    return g;
}

// Against the exhaustive search, and against every wavelength by elimination (the method
// before shared factorizations): the same speciation, coefficients within 1e-10 of the
// largest at their wavelength, bit for bit the same with one thread or two. Seeds from 25
// make species 2 nearly proportional to species 1 (condition numbers up to 1e8), where
// the solutions of the elimination itself take over, found by factors or not.
TEST(GoalNormal, NonNegativeLeastSquaresIsOptimalAndMatchesExhaustiveSearch) {
    int activeSeen = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        const int nSp = 2 + static_cast<int>(seed % 7); // 2..8 species
        GoalData d = test::RandomData(nSp, 14, 70, seed, seed % 2 == 0);
        for (int j = 1; seed > 24 && j <= d.nSol; ++j)
            d.conc[2][j] = d.conc[1][j] * (1.0 + std::pow(10.0, -1.0 - 0.5 * (seed - 24)) * j);
        State st, two, ref;
        test::TestUi ui(st), twoUi(two), refUi(ref);
        const Eigen::MatrixXd c = ConcMatrix(d);
        std::mt19937 rng(1000 + seed);
        std::normal_distribution<double> g(0.0, 1.0);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        // Absorptivities of both signs force active constraints; some values are missing.
        auto normal = [&](int rows, int cols) {
            return Eigen::MatrixXd::NullaryExpr(rows, cols, [&] { return g(rng); }).eval();
        };
        Eigen::MatrixXd a = 500.0 * c * normal(nSp, d.nWl) + 0.05 * normal(d.nSol, d.nWl);
        a = a.unaryExpr([&](double v) { return u(rng) < 0.08 ? kMissing : v; }).eval();
        for (State* s : {&st, &two, &ref}) {
            test::SetUpState(*s, d);
            SetAbsorbances(*s, a);
            // A corrected run with half the water: twice its amounts come off (times density).
            for (int j = 1; j <= d.nSol; ++j) {
                s->BulkCorr(0, j) = kWaterMolality / 2;
                s->BulkCorr(1, j) = 2e-4 * j;
                s->Bulk(1, j) += 4e-4 * j;
            }
        }

        const double got = GoalWith(st, 1, false), refGot = GoalWith(ref, 1, true);
        ASSERT_EQ(st.ErrCode, 0) << "seed " << seed;
        EXPECT_EQ(GoalWith(two, 2, false), got);
        EXPECT_TRUE(two.Eps == st.Eps && two.AbsC == st.AbsC && ref.Conc == st.Conc);
        EXPECT_FUZZY(got, refGot, 1e-10);
        for (int w = 1; w <= d.nWl; ++w) {
            double top = 0.0;
            for (int k = 1; k <= nSp; ++k) top = std::max(top, std::fabs(ref.Eps(k, w)));
            for (int k = 1; k <= nSp; ++k)
                EXPECT_TRUE(test::FuzzyEqual(st.Eps(k, w), ref.Eps(k, w), 1e-10, top))
                    << "seed " << seed << " w " << w;
        }
        if (seed > 24) continue; // too ill-conditioned for the search's own tolerance
        // The misfit: the weighted mean over the solutions of their mean squares over
        // the values present, per degree of freedom.
        Eigen::ArrayXd sq = Eigen::ArrayXd::Zero(d.nSol), n = sq;
        for (int w = 1; w <= d.nWl; ++w) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " w " << w);
            // A missing value weighs nothing in the reference.
            const Eigen::ArrayXd present = (a.col(w - 1).array() < kMissingLimit).cast<double>();
            const Eigen::VectorXd av = a.col(w - 1).array() * present,
                                  wv = Weights(d).array() * present;
            Eigen::VectorXd eps(nSp);
            for (int k = 1; k <= nSp; ++k) eps(k - 1) = st.Eps(k, w);
            const double scale = eps.cwiseAbs().maxCoeff() + 1.0;
            const Eigen::VectorXd ref = ExhaustiveNnls(c, av, wv), res = av - c * ref;
            for (int j = 0; j < d.nSol; ++j)
                if (a(j, w - 1) < kMissingLimit) sq(j) += res(j) * res(j), n(j) += 1;
            for (int k = 0; k < nSp; ++k) { // an unneeded species is exactly 0
                activeSeen += ref(k) == 0.0;
                EXPECT_NEAR(eps(k), ref(k), ref(k) == 0.0 ? 0.0 : 1e-6 * scale) << "k " << k;
            }
        }
        EXPECT_FUZZY(got, (Weights(d).array() * sq / n).sum() / (d.nSol - nSp), 1e-6);
        for (int j = 1; j <= d.nSol; ++j)
            EXPECT_FUZZY(st.AbsC(j, 0), std::sqrt(sq(j - 1) / n(j - 1)), 1e-5);
    }
    EXPECT_GT(activeSeen, 50); // the problems did exercise the constraints
}

// Species 2 is twice species 1 but in solution 4, missing at wavelength 40 only: there the
// elimination asks to damp harder, and the raised damping holds for the wavelengths after
// it, whichever way the others are fitted.
TEST(GoalNormal, DampingRaisedAtOneWavelengthHoldsForTheRest) {
    GoalData d = test::RandomData(3, 8, 70, 7, true);
    for (int j = 1; j <= d.nSol; ++j) d.conc[2][j] = 2.0 * d.conc[1][j];
    d.conc[2][4] = 0.1e-3;
    const Eigen::MatrixXd a =
        300.0 * ConcMatrix(d) * (Eigen::MatrixXd::Random(3, d.nWl).array() + 1.0).matrix() +
        0.01 * Eigen::MatrixXd::Random(d.nSol, d.nWl);
    State st, ref;
    test::TestUi ui(st), refUi(ref);
    for (auto [s, u] : {std::pair{&st, &ui}, {&ref, &refUi}}) {
        test::SetUpState(*s, d), SetAbsorbances(*s, a);
        s->AbsM(4, 40) = kMissing;
        u->answers = {true, true, true, true};
    }
    EXPECT_FUZZY(GoalWith(st, 2, false), GoalWith(ref, 1, true), 1e-10);
    EXPECT_EQ(std::pair(st.ErrCode, st.Damping), std::pair(ref.ErrCode, ref.Damping));
    EXPECT_GT(st.Damping, 1e-10);
    EXPECT_EQ(ui.questions, refUi.questions);
    for (int w = 1; w <= d.nWl; ++w)
        for (int k = 1; k <= d.nSp; ++k)
            EXPECT_TRUE(test::FuzzyEqual(st.Eps(k, w), ref.Eps(k, w), 1e-10, 1.0)) << w;
}

// The reference: the weighted covariance of the centred rows, and the projection of
// the centred data on its leading eigenvectors (all of them when more factors are
// asked for than the data have: the data themselves).
TEST(GoalFactors, ReconstructionMatchesPrincipalComponentProjection) {
    const struct {
        unsigned seed;
        int nFactors;
        bool weights;
    } cases[] = {{21, 1, false}, {23, 3, true}, {24, 2, true}, {31, 10, false}, {32, 50, false}};
    for (const auto& fc : cases) {
        SCOPED_TRACE(fc.seed);
        GoalData d = test::RandomData(3, 10, 16, fc.seed, fc.weights);
        std::mt19937 rng(fc.seed);
        std::normal_distribution<double> g(1.0, 0.3);
        const Eigen::MatrixXd a =
            Eigen::MatrixXd::NullaryExpr(d.nSol, d.nWl, [&] { return g(rng); });

        const Eigen::VectorXd mean = a.rowwise().mean();
        const Eigen::MatrixXd ac = a.colwise() - mean;
        const Eigen::VectorXd sw = Weights(d).cwiseSqrt();
        const Eigen::MatrixXd cov = sw.asDiagonal() * ac * ac.transpose() * sw.asDiagonal();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(cov);
        const Eigen::MatrixXd v = es.eigenvectors().rightCols(std::min(fc.nFactors, d.nSol));
        const Eigen::MatrixXd z = (v * v.transpose() * ac).colwise() + mean;

        State ref, st;
        test::TestUi refUi(ref), ui(st);
        for (auto [s, x] : {std::pair{&ref, &z}, {&st, &a}})
            test::SetUpState(*s, d), SetAbsorbances(*s, *x);
        st.nFactors = static_cast<int16_t>(fc.nFactors);
        EXPECT_FUZZY(Goal(st, 0), Goal(ref, 0), 1e-6);
        ASSERT_EQ(std::pair(st.ErrCode, ref.ErrCode), std::pair(int16_t(0), int16_t(0)));
        // The solver's 1e-8 cancellation threshold bounds the agreement.
        double top = 0.0;
        for (int k = 1; k <= d.nSp; ++k)
            for (int w = 1; w <= d.nWl; ++w) top = std::max(top, std::fabs(ref.Eps(k, w)));
        for (int k = 1; k <= d.nSp; ++k)
            for (int w = 1; w <= d.nWl; ++w)
                EXPECT_TRUE(test::FuzzyEqual(st.Eps(k, w), ref.Eps(k, w), 1e-6, top));
        EXPECT_TRUE(ui.messages.empty());
    }
}

} // namespace
} // namespace lumora
