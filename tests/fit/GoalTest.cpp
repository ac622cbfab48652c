// The goal function against independent references: the weighted least squares of
// Eigen, an exhaustive subset search for the non-negative least squares, a
// principal-component projection for the factor reconstruction, and the real engine's
// speciation of Co(II) chloride complexes with spectra made from it.

#include "fit/Goal.h"

#include "FuzzyCompare.h"
#include "GoalFixture.h"
#include "engine/EngineFactory.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace lumora {
namespace {

using test::GoalData;

Eigen::MatrixXd ConcMatrix(const GoalData& d) {
    Eigen::MatrixXd c(d.nSol, d.nSp);
    for (int j = 1; j <= d.nSol; ++j)
        for (int k = 1; k <= d.nSp; ++k) c(j - 1, k - 1) = d.conc[k][j];
    return c;
}

void SetAbsorbances(State& st, const Eigen::MatrixXd& a) {
    for (int j = 1; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w) st.AbsM(j, w) = a(j - 1, w - 1);
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
        SetAbsorbances(st, a);
        // A corrected run with half the water: twice its amounts come off (times density).
        for (int j = 1; j <= d.nSol; ++j) {
            st.BulkCorr(0, j) = kWaterMolality / 2;
            st.BulkCorr(1, j) = 2e-4 * j;
            st.Bulk(1, j) += 4e-4 * j;
        }

        double total = 0.0;
        for (int j = 0; j < d.nSol; ++j) total += wv(j) * r.row(j).squaredNorm() / d.nWl;
        const double got = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_FUZZY(got, total / (d.nSol - d.nSp), 1e-7);
        for (int k = 1; k <= d.nSp; ++k) {
            for (int j = 1; j <= d.nSol; ++j)
                EXPECT_FUZZY(st.Conc(k, 0) * st.Conc(k, j), d.conc[k][j], 1e-6);
            for (int w = 1; w <= d.nWl; ++w) EXPECT_FUZZY(st.Eps(k, w), e(k - 1, w - 1), 1e-7);
        }
        for (int j = 1; j <= d.nSol; ++j) {
            EXPECT_FUZZY(st.AbsC(j, 0), std::sqrt(r.row(j - 1).squaredNorm() / d.nWl), 1e-5);
            EXPECT_FUZZY(st.AbsC(j, 3), static_cast<float>(a(j - 1, 2) - r(j - 1, 2)), 1e-5);
        }
        EXPECT_TRUE(ui.messages.empty());
    }
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
        Eigen::MatrixXd cs(c.rows(), idx.size());
        for (size_t i = 0; i < idx.size(); ++i) cs.col(i) = c.col(idx[i]);
        const Eigen::MatrixXd csw = wt.asDiagonal() * cs;
        const Eigen::VectorXd x = (cs.transpose() * csw).fullPivLu().solve(csw.transpose() * a);
        if ((x.array() < 0).any()) continue;
        Eigen::VectorXd full = Eigen::VectorXd::Zero(n);
        for (size_t i = 0; i < idx.size(); ++i) full(idx[i]) = x(i);
        const Eigen::VectorXd res = a - c * full;
        const double obj = (wt.asDiagonal() * res).dot(res);
        if (obj < bestObj * (1 - 1e-12)) {
            best = full;
            bestObj = obj;
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
        for (int j = 0; j < d.nSol; ++j)
            for (int w = 0; w < d.nWl; ++w)
                if (u(rng) < 0.08) a(j, w) = kMissing;
        SetAbsorbances(st, a);

        Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0) << "seed " << seed;
        for (int w = 1; w <= d.nWl; ++w) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " w " << w);
            // A missing value weighs nothing in the reference.
            Eigen::VectorXd av = a.col(w - 1), wv(d.nSol), eps(nSp);
            for (int j = 1; j <= d.nSol; ++j) {
                wv(j - 1) = av(j - 1) < kMissingLimit ? d.weight[j] : 0.0;
                if (wv(j - 1) == 0.0) av(j - 1) = 0.0;
            }
            for (int k = 1; k <= nSp; ++k) eps(k - 1) = st.Eps(k, w);
            const double scale = eps.cwiseAbs().maxCoeff() + 1.0;
            const Eigen::VectorXd ref = ExhaustiveNnls(c, av, wv);
            for (int k = 0; k < nSp; ++k) {
                if (ref(k) == 0.0) {
                    ++activeSeen;
                    EXPECT_EQ(eps(k), 0.0) << "k " << k; // an unneeded species is exactly 0
                } else {
                    EXPECT_NEAR(eps(k), ref(k), 1e-6 * scale);
                }
            }
        }
    }
    EXPECT_GT(activeSeen, 50); // the problems did exercise the constraints
}

// The reference: the weighted covariance of the centred rows, and the projection of
// the centred data on its leading eigenvectors (all of them when more factors are
// asked for than the data have: the data themselves).
TEST(GoalFactors, ReconstructionMatchesPrincipalComponentProjection) {
    struct Case {
        unsigned seed;
        int nFactors;
        bool weights;
    } cases[] = {{21, 1, false}, {22, 2, false},  {23, 3, true},
                 {24, 2, true},  {31, 10, false}, {32, 50, false}};
    for (const Case& fc : cases) {
        SCOPED_TRACE(fc.seed);
        GoalData d = test::RandomData(3, 10, 16, fc.seed, fc.weights);
        std::mt19937 rng(fc.seed);
        std::normal_distribution<double> g(0.0, 1.0);
        Eigen::MatrixXd a(d.nSol, d.nWl);
        for (int i = 0; i < a.size(); ++i) a.data()[i] = 1.0 + 0.3 * g(rng);

        const Eigen::VectorXd mean = a.rowwise().mean();
        const Eigen::MatrixXd ac = a.colwise() - mean;
        Eigen::VectorXd sw(d.nSol);
        for (int j = 1; j <= d.nSol; ++j) sw(j - 1) = std::sqrt(static_cast<double>(d.weight[j]));
        const Eigen::MatrixXd cov = sw.asDiagonal() * ac * ac.transpose() * sw.asDiagonal();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(cov);
        const Eigen::MatrixXd v = es.eigenvectors().rightCols(std::min(fc.nFactors, d.nSol));
        const Eigen::MatrixXd z = (v * v.transpose() * ac).colwise() + mean;

        State ref, st;
        test::TestUi refUi(ref), ui(st);
        test::SetUpState(ref, d);
        test::SetUpState(st, d);
        SetAbsorbances(ref, z);
        SetAbsorbances(st, a);
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
        EXPECT_TRUE(ui.messages.empty());
    }
}

const std::string kData = LUMORA_DATA_DIR;

// Gibbs energies of formation at 25 C, 1 bar (cal/mol in the bundled database:
// Shock et al. 1997 for Co+2, Liu et al. 2011, GCA 75, 1227, for the chloride complexes).
const char* const kSpecies[] = {"Co+2", "CoCl+", "CoCl2(aq)", "CoCl4-2"};
const double kG0[] = {-13000 * 4.184e-3, -45107.8 * 4.184e-3, -75781.9 * 4.184e-3,
                      -134150 * 4.184e-3};

// Co(II) in ten NaCl-HCl solutions at 25 C, all four cobalt species refined.
TEST(GoalEngine, CobaltMassBalanceAndPerfectFitAtTheTrueEnergies) {
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, test::RandomData(4, 10, 30, 1u, false)); // sizes only
    const std::string system = kData + "/systems/co-na-cl.toml";
    st.solver = CreateSolver();
    st.solver->SetOptions("/mode=1");
    st.solver->OpenDatabase(kData + "/thermo.toml");
    st.solver->OpenSystem(system);
    ASSERT_EQ(st.solver->LastMessage(), "System file accepted");
    CreateSysReader()->ReadSystem(system, st.sysRec);
    const SysRec& rec = st.sysRec;
    std::map<int, int> el; // atomic number -> element index
    for (int m = 1; m <= rec.nElem; ++m) el[rec.elemCode[static_cast<size_t>(m)]] = m;
    const int h = el[1], na = el[11], cl = el[17], co = el[27];
    ASSERT_GT(std::min({h, na, cl, co}), 0);
    st.nEl = rec.nElem;
    st.AqFirst = static_cast<int16_t>(rec.phases.back().offset + 1);
    for (int k = 1; k <= 4; ++k) {
        const auto it = std::find(rec.spName.begin(), rec.spName.end(), kSpecies[k - 1]);
        ASSERT_NE(it, rec.spName.end()) << kSpecies[k - 1];
        st.SpIdx(k) = static_cast<int16_t>(it - rec.spName.begin());
        st.G0(k) = kG0[k - 1];
    }
    st.Bulk.Redim(st.nEl, st.nSol);
    st.BulkCorr.Redim(st.nEl, st.nSol);
    const double coCl2 = 0.01, hcl = 0.01;
    for (int j = 1; j <= st.nSol; ++j) {
        const double nacl = 0.5 * (j - 1);
        st.Bulk(0, j) = st.BulkCorr(0, j) = kWaterMolality;
        st.Bulk(co, j) = coCl2;
        st.Bulk(na, j) = nacl;
        st.Bulk(h, j) = hcl;
        st.Bulk(cl, j) = 2 * coCl2 + nacl + hcl;
        st.SolDens(j) = static_cast<float>(1.0 + 0.035 * nacl);
    }
    st.WAmt.Redim(rec.lastAq);
    st.WArr2.Redim(rec.lastAq);

    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0) << (ui.messages.empty() ? "" : ui.messages[0].text);
    // Every cobalt species is refined: their concentrations add up to the cobalt
    // concentration (molality times density).
    for (int j = 1; j <= st.nSol; ++j) {
        double sum = 0.0;
        for (int k = 1; k <= st.nSp; ++k) sum += st.Conc(k, 0) * st.Conc(k, j);
        EXPECT_FUZZY(sum, coCl2 * st.SolDens(j), 1e-6) << "solution " << j;
    }
    // Spectra from those concentrations and known bands are fitted perfectly.
    for (int w = 1; w <= st.nWl; ++w)
        for (int j = 1; j <= st.nSol; ++j) {
            double a = 0.0;
            for (int k = 1; k <= st.nSp; ++k)
                a += 50.0 * k * std::exp(-std::pow((w - 6.0 * k) / 6.0, 2)) * st.Conc(k, 0) *
                     st.Conc(k, j);
            st.AbsM(j, w) = a;
        }
    const double atTruth = Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_LT(atTruth, 1e-12);

    // Moving one Gibbs energy by 2 kJ/mol spoils the fit.
    st.G0(2) += 2.0;
    const double shifted = Goal(st, -1);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_GT(shifted, std::max(1e3 * atTruth, 1e-8));
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace
} // namespace lumora
