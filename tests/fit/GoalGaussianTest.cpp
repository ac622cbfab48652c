// Gaussian mode of the goal function: refinement of known bands, probes that
// leave the band table untouched, fixed parameters, missing absorbances.

#include "fit/Goal.h"

#include "FuzzyCompare.h"
#include "GaussTableRows.h"
#include "GoalFixture.h"
#include "model/GaussBand.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using Band = test::BandRow;

const std::vector<Band> kTrue = {{1, 1.15, 0.30, std::log(800.0)},
                                 {2, 0.95, 0.25, std::log(500.0)},
                                 {2, 1.25, 0.40, std::log(300.0)}};

void SetTable(State& st, const std::vector<Band>& bands) {
    test::FillGaussTab(st, bands);
    st.GaussFixed.Redim(3 * static_cast<int>(bands.size()));
}

std::vector<Band> Perturbed() {
    std::vector<Band> b = kTrue;
    b[0].c += 0.02;
    b[1].h *= 1.08;
    b[2].l -= 0.1;
    b[2].c -= 0.015;
    return b;
}

/// Absorbances made from the true bands with the fixture's concentrations.
void SetUpGaussian(State& st, bool wavenumber) {
    test::GoalData d = test::RandomData(2, 7, 36, 17u, false);
    test::SetUpState(st, d);
    st.GaussArg = wavenumber;
    for (int w = 1; w <= d.nWl; ++w) st.AbsM(0, w) = 320.0 + 10.0 * w;
    st.WlMin = 330.0;
    st.WlMax = 320.0 + 10.0 * d.nWl;
    st.MeanWl = (st.WlMin + st.WlMax) / 2;
    st.FitMode = 1;
    SetTable(st, kTrue);
    for (int w = 1; w <= d.nWl; ++w) {
        const double x = GaussAbscissa(st, st.AbsM(0, w));
        for (int j = 1; j <= d.nSol; ++j) {
            double a = 0.0;
            for (int g = 1; g <= 3; ++g)
                a += d.conc[kTrue[g - 1].species][j] * GaussBand(st, static_cast<int16_t>(g), x);
            st.AbsM(j, w) = a;
        }
    }
    SetTable(st, Perturbed());
}

TEST(GoalGaussian, RefinementRecoversTheBandsInBothAbscissae) {
    for (bool wavenumber : {true, false}) {
        State st;
        test::TestUi ui(st);
        SetUpGaussian(st, wavenumber);
        const double first = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        double last = first;
        for (int i = 0; i < 40 && last > 1e-20; ++i) last = Goal(st, 0);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_LT(last, 1e-6 * first);
        for (int g = 1; g <= 3; ++g) {
            EXPECT_NEAR(st.GaussTab(1, g), kTrue[g - 1].c, 1e-6) << g;
            EXPECT_NEAR(st.GaussTab(2, g), kTrue[g - 1].h, 1e-6) << g;
            EXPECT_NEAR(st.GaussTab(3, g), kTrue[g - 1].l, 1e-6) << g;
        }
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST(GoalGaussian, ResultUsesDegreesOfFreedomPerWavelength) {
    State st;
    test::TestUi ui(st);
    SetUpGaussian(st, true);
    const double got = Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    double total = 0.0;
    for (int j = 1; j <= st.nSol; ++j) {
        double s = 0.0;
        for (int w = 1; w <= st.nWl; ++w) {
            double calc = 0.0;
            for (int k = 1; k <= st.nSp; ++k) calc += st.Eps(k, w) * st.Conc(k, 0) * st.Conc(k, j);
            s += (calc - st.AbsM(j, w)) * (calc - st.AbsM(j, w));
        }
        total += st.SolWeight(j) * s / st.nWl;
    }
    EXPECT_FUZZY(got, total / (st.nSol - 3.0 * 3 / st.nWl), 1e-12);
    // Eps holds the refined bands.
    const double x = GaussAbscissa(st, st.AbsM(0, 5));
    EXPECT_FUZZY(st.Eps(2, 5), GaussBand(st, 2, x) + GaussBand(st, 3, x), 1e-14);
}

TEST(GoalGaussian, ProbeLeavesTheTableBitIdentical) {
    State st;
    test::TestUi ui(st);
    SetUpGaussian(st, true);
    const Mat<double> before = st.GaussTab;
    const double probe = Goal(st, -1);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(st.GaussTab == before);
    // Eps belongs to the restored bands.
    for (int w = 1; w <= st.nWl; ++w) {
        const double x = GaussAbscissa(st, st.AbsM(0, w));
        EXPECT_EQ(st.Eps(1, w), GaussBand(st, 1, x));
    }
    // The same call without probe refines from the same bands to the same value.
    const double full = Goal(st, 0);
    EXPECT_EQ(full, probe);
    EXPECT_FALSE(st.GaussTab == before);
}

TEST(GoalGaussian, FixedParametersDoNotMove) {
    State st;
    test::TestUi ui(st);
    SetUpGaussian(st, true);
    st.GaussFixed(1) = 1; // centre of band 1
    st.GaussFixed(5) = 1; // width of band 2
    st.GaussFixed(9) = 1; // log height of band 3
    const Mat<double> before = st.GaussTab;
    for (int i = 0; i < 3; ++i) Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.GaussTab(1, 1), before(1, 1));
    EXPECT_EQ(st.GaussTab(2, 2), before(2, 2));
    EXPECT_EQ(st.GaussTab(3, 3), before(3, 3));
    EXPECT_NE(st.GaussTab(2, 1), before(2, 1));
    EXPECT_NE(st.GaussTab(1, 2), before(1, 2));
    EXPECT_NE(st.GaussTab(1, 3), before(1, 3));
}

TEST(GoalGaussian, MissingAbsorbancesAreLeftOut) {
    State st;
    test::TestUi ui(st);
    SetUpGaussian(st, true);
    st.AbsM(2, 3) = kMissing;
    st.AbsM(5, 20) = kMissing;
    st.AbsM(7, 36) = 2e33;
    double last = 0.0;
    for (int i = 0; i < 40; ++i) last = Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_LT(last, 1e-12);
    for (int g = 1; g <= 3; ++g) EXPECT_NEAR(st.GaussTab(1, g), kTrue[g - 1].c, 1e-6);
    EXPECT_TRUE(test::AllFinite(st));
}

TEST(GoalGaussian, SingularSystemIsRefusedAndAProbeStillRestores) {
    for (int16_t probe : {int16_t(0), int16_t(-1)}) {
        State st;
        test::TestUi ui(st);
        SetUpGaussian(st, true);
        // Two identical bands cannot be told apart.
        std::vector<Band> bands = Perturbed();
        bands.insert(bands.begin() + 1, bands[0]);
        SetTable(st, bands);
        const Mat<double> before = st.GaussTab;
        Goal(st, probe);
        EXPECT_EQ(st.ErrCode, -1);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Cannot refine Gaussians. Try another set  ");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        if (probe != 0) {
            EXPECT_TRUE(st.GaussTab == before);
        }
    }
}

} // namespace
} // namespace lumora
