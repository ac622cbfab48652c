// Bands recovered from data made by known bands, and how the goal function, the builder
// and the refinement fail: the message (or none), the code, what stays, never a NaN.

#include "fit/BuildGaussians.h"
#include "fit/GaussianCheck.h"
#include "fit/Goal.h"
#include "fit/RefineGaussians.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "GoalFixture.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <gtest/gtest.h>

namespace lumora::test {
namespace {

const std::vector<BandRow> kTrue = {{1, 1.15, 0.30, std::log(800.0)},
                                    {2, 0.95, 0.25, std::log(500.0)},
                                    {2, 1.25, 0.40, std::log(300.0)}};

/// Absorbances made from the true bands; the table then starts from perturbed ones
/// (band 1's width and band 3's width untouched).
void SetUpGaussian(State& st, bool wavenumber) {
    GoalData d = RandomData(2, 7, 36, 17u, false);
    SetUpState(st, d);
    st.GaussArg = wavenumber;
    for (int w = 1; w <= d.nWl; ++w) st.AbsM(0, w) = 320.0 + 10.0 * w;
    st.WlMin = 330.0, st.WlMax = 320.0 + 10.0 * d.nWl;
    st.MeanWl = (st.WlMin + st.WlMax) / 2;
    st.FitMode = 1, st.GaussFixed.Redim(9);
    FillGaussTab(st, kTrue);
    for (int w = 1; w <= d.nWl; ++w) {
        const double x = GaussAbscissa(st, st.AbsM(0, w));
        for (int j = 1; j <= d.nSol; ++j) {
            st.AbsM(j, w) = 0.0;
            for (int g = 1; g <= 3; ++g)
                st.AbsM(j, w) += d.conc[static_cast<int>(kTrue[g - 1].species)][j] *
                                 GaussBand(st, static_cast<int16_t>(g), x);
        }
    }
    st.GaussTab(1, 1) += 0.02, st.GaussTab(2, 2) *= 1.08;
    st.GaussTab(3, 3) -= 0.1, st.GaussTab(1, 3) -= 0.015;
}

// One evaluation fits the bands to the data (the goal is a function of G0 alone): it
// recovers the generating bands in both abscissae, with missing values (and values beyond
// the missing limit) left out of the fit; fixed parameters stay bit-identical; a probe
// leaves the table as it was.
TEST(GoalGaussian, MissingAbsorbancesAreLeftOut) {
    for (bool wavenumber : {true, false}) {
        SCOPED_TRACE(wavenumber);
        State st;
        TestUi ui(st);
        SetUpGaussian(st, wavenumber);
        st.AbsM(2, 3) = st.AbsM(5, 20) = kMissing, st.AbsM(7, 36) = 2e33;
        st.GaussFixed(2) = st.GaussFixed(8) = 1; // widths of bands 1 and 3, already true
        const Mat<double> before = st.GaussTab;
        const double probe = Goal(st, -1);
        EXPECT_EQ(st.GaussTab, before);
        EXPECT_EQ(Goal(st, 0), probe); // the full call refines from the same bands
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_LT(probe, 1e-20);
        for (int g = 1; g <= 3; ++g)
            for (int p = 1; p <= 3; ++p) {
                const double want[] = {0, kTrue[g - 1].c, kTrue[g - 1].h, kTrue[g - 1].l};
                EXPECT_NEAR(st.GaussTab(p, g), want[p], 1e-6) << g << "," << p;
            }
        EXPECT_EQ(std::pair(st.GaussTab(2, 1), st.GaussTab(2, 3)),
                  std::pair(before(2, 1), before(2, 3)));
        EXPECT_TRUE(ui.messages.empty() && AllFinite(st));
    }
}

// After a run, bands that fit about as well as the normal mode pass unremarked, energies
// that did not move are reported; the Gaussian mode's coefficients stay.
TEST(GoalGaussian, CheckAfterTheRun) {
    State st;
    TestUi ui(st);
    SetUpGaussian(st, false);
    for (int w = 1; w <= st.nWl; ++w)
        for (int j = 1; j <= st.nSol; ++j) st.AbsM(j, w) += 1e-3 * std::sin(j * w);
    st.SpFree.Redim(2), st.SpFree.Fill(lumora::kTrue);
    st.RmsErr = std::sqrt(Goal(st, 0));
    const Mat<double> eps = st.Eps;
    for (double moved : {0.01, 0.0}) {
        Vec<float> start(2);
        start(1) = CSng(st.G0(1)), start(2) = CSng(st.G0(2) - moved);
        CheckGaussianResult(st, start);
        ExpectMessage(ui, moved ? "" : "Gaussian mode: the energies did not move. ...",
                      Icon::Exclamation);
    }
    EXPECT_EQ(std::pair(st.Eps, st.ErrCode), std::pair(eps, int16_t(0)));
}

constexpr int kWl = 61; // 300..600 nm in 5 nm steps
constexpr double kDx = 5.0 / 450.0;

// A species may have eight bands, never nine: the sheet table holds no more. A failure
// keeps the earlier bands, on the sheet and in memory.
TEST(BuildTest, EightBandsPerSpeciesAtMost) {
    for (int peaks : {8, 9}) {
        SCOPED_TRACE(peaks);
        GaussSpectrum s{2, kWl, false};
        s.SetTable({{1, 1.0, 0.1, 10.0}, {2, 0.9, 0.2, 5.0}});
        WriteGaussianTable(s.st, -1);
        const Mat<double> earlier = s.st.GaussTab;
        std::vector<TrueBand> truth;
        for (int i = 0; i < peaks; ++i)
            truth.push_back({1, s.X(5 + 6 * i), 3 * kDx, 100.0 - 5.0 * i});
        truth.push_back({2, s.X(30), 6 * kDx, 20.0});
        s.SetReference(truth);
        BuildGaussians(s.st, 1);
        if (peaks == 8) {
            ASSERT_EQ(s.st.ErrCode, 0);
            EXPECT_EQ(std::pair(BandCount(s.st), s.Num(10, 7)), std::pair(9, 8.0));
            for (int i = 0; i < peaks; ++i)
                EXPECT_FUZZY(s.st.GaussTab(1, i + 1), truth[i].c, 1e-12);
        } else {
            EXPECT_EQ(std::pair(s.st.ErrCode, s.st.FitMode), std::pair(int16_t(-1), int16_t(0)));
            EXPECT_EQ(s.st.GaussTab, earlier);
            EXPECT_EQ(std::pair(s.Num(10, 7), s.Num(10, 8)), std::pair(1.0, s.st.MeanWl));
            ExpectMessage(s.ui, "Could not build Gaussians (Species1 needs more than 8 bands; "
                                "try a higher threshold)  ");
        }
    }
}

// The builder peels overlapping bands off inexactly; refining each species from there
// recovers the generating bands, in both abscissae, and writes them to the sheet.
TEST(BuildTest, RefinementFromTheBuiltBandsRecoversTheGeneratingOnes) {
    const std::vector<TrueBand> truth = {
        {1, 1.0, 0.2, 300.0}, {2, 0.85, 0.18, 120.0}, {2, 1.08, 0.25, 80.0}};
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        GaussSpectrum s{2, kWl, wavenumber};
        s.st.Damping = 1e-10;
        s.SetReference(truth);
        BuildGaussians(s.st, 10);
        ASSERT_EQ(std::pair(s.st.ErrCode, BandCount(s.st)), std::pair(int16_t(0), 3));
        EXPECT_GT(std::fabs(s.st.GaussTab(1, 2) - truth[1].c), 1e-4); // not exact yet
        for (int16_t k : {1, 2}) RefineGaussians(s.st, k, {});
        ASSERT_EQ(s.st.ErrCode, 0);
        for (int g = 1; g <= 3; ++g) {
            const TrueBand& t = truth[g - 1];
            EXPECT_FUZZY(s.st.GaussTab(1, g), t.c, 1e-5) << g;
            EXPECT_FUZZY(s.st.GaussTab(2, g), t.h, 1e-5) << g;
            EXPECT_FUZZY(std::exp(s.st.GaussTab(3, g)), t.height, 1e-5) << g;
        }
        EXPECT_FUZZY(s.Num(11, 13), 80.0, 1e-5); // species 2, second band's height
        EXPECT_TRUE(s.ui.messages.empty());
    }
}

using Step = std::function<void(GaussSpectrum&)>;

/// A normal-mode data set of nSp species in nSol solutions, spoilt, then evaluated (with
/// bands given, in Gaussian mode as a probe, which must restore them).
Step GoalOn(std::function<void(State&)> spoil, std::vector<BandRow> bands = {}, int nSp = 2,
            int nSol = 5) {
    return [=](GaussSpectrum& s) {
        State& st = s.st;
        SetUpState(st, RandomData(nSp, nSol, 6, 8u, false));
        for (int j = 1; j <= st.nSol; ++j)
            for (int w = 1; w <= st.nWl; ++w) st.AbsM(j, w) = 0.1 * j + 0.03 * w * w;
        st.FitMode = bands.empty() ? 0 : 1;
        FillGaussTab(st, bands), st.GaussFixed.Redim(3 * static_cast<int>(bands.size()));
        spoil(st);
        const Mat<double> before = st.GaussTab;
        EXPECT_EQ(Goal(st, bands.empty() ? 0 : -1), 0.0);
        EXPECT_TRUE(st.GaussTab == before && AllFinite(st));
    };
}
Step SolverFails(long at, std::string message) {
    return GoalOn([=](State& st) { Fake(st).failAtCall = at, Fake(st).failMessage = message; });
}

/// What the user sees ("" nothing; "Cancelled..." with kInterrupt and "Refining stopped..."
/// as warnings) and asked.
void ExpectFailure(const char* name, const Step& act, const std::string& text,
                   const std::string& question = "") {
    SCOPED_TRACE(name);
    GaussSpectrum s{2, 61, false};
    s.st.FitMode = 1, s.st.Damping = 1e-10;
    s.SetReference({{1, 1.0, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}});
    s.SetTable({{1, 1.1, 0.3, 50.0}, {2, 1.0, 0.2, 10.0}});
    WriteGaussianTable(s.st, -1);
    s.ui.interruptAtYield = 100000; // a safety net against a run that never ends
    act(s);
    const bool cancelled = text.starts_with("Cancelled");
    const bool warning = cancelled || text.starts_with("Refining stopped");
    EXPECT_EQ(s.st.ErrCode, cancelled ? kInterrupt : -1);
    ExpectMessage(s.ui, text, warning ? Icon::Exclamation : Icon::Critical);
    EXPECT_EQ(s.ui.questions,
              question.empty() ? std::vector<std::string>{} : std::vector<std::string>{question});
}

TEST(GoalFailure, MessagesAndWhatStays) {
    const BandRow b1{1, 1.0, 0.1, 3.0}, b2{2, 1.05, 0.1, 3.0};
    ExpectFailure("negative weight", GoalOn([](State& st) { st.SolWeight(4) = -1.0f; }),
                  "Cannot calculate goal function: Invalid procedure call or argument");
    ExpectFailure("the solver's message", SolverFails(4, "Mass balance failed"),
                  "Mass balance failed");
    ExpectFailure("the solver says OK", SolverFails(3, "OK"), "");
    ExpectFailure("proportional concentrations, no reduced accuracy", GoalOn([](State& st) {
                      for (int j = 1; j <= st.nSol; ++j) st.Bulk(2, j) = 2.0 * st.Bulk(1, j);
                  }),
                  "", "Too high correlation. Reduce accuracy?  ");
    ExpectFailure("two identical bands", GoalOn([](State&) {}, {b1, b1, b2}),
                  "Cannot refine Gaussians. Try another set  ");
    ExpectFailure(
        "a band narrower than a row sees no data",
        [](GaussSpectrum& s) {
            s.SetTable({{1, 1.00123, 1e-6, 100.0}, {2, 1.0, 0.2, 10.0}}),
                RefineGaussians(s.st, 1, {});
        },
        "Error while refining Gaussians. Rebuild them  ");
    ExpectFailure(
        "refinement cancelled, nothing written",
        [](GaussSpectrum& s) {
            s.ui.interruptAtYield = 2, RefineGaussians(s.st, 1, {});
            EXPECT_EQ(s.Num(10, 8), 1.1 * s.st.MeanWl);
        },
        "Cancelled (the bands keep their last values, not written to the sheet)  ");
    ExpectFailure(
        "a flat curve widens its band for ever: the best bands are kept",
        [](GaussSpectrum& s) {
            for (int w = 1; w <= s.st.nWl; ++w) s.st.RefEps(1, w) = 100.0;
            RefineGaussians(s.st, 1, {});
            EXPECT_EQ(s.ui.yields, 501);
            EXPECT_GT(s.st.GaussTab(2, 1), 100.0);
            EXPECT_FUZZY(s.Num(10, 9), s.st.GaussTab(2, 1) * s.st.MeanWl, 1e-12);
        },
        "Refining stopped after 500 iterations (the best bands found are kept; refine again to "
        "go on)  ");
}

TEST(GoalFailure, AsManySolutionsAsSpeciesDividesByZero) {
    ExpectFailure("3 x 3", GoalOn([](State&) {}, {}, 3, 3),
                  "Cannot calculate goal function: Division by zero");
}

// Nothing to refine (species 0 or beyond nSp, or the normal mode): no yield, no change.
TEST(GoalFailure, RefinementOutsideTheGaussianModeOrRangeDoesNothing) {
    for (int16_t k : {0, 1, 3}) {
        GaussSpectrum s{2, 61, false};
        s.SetTable({{1, 1.1, 0.3, 50.0}, {2, 1.0, 0.2, 10.0}});
        s.st.FitMode = k == 1 ? 0 : 1, s.st.ErrCode = 7;
        const Mat<double> before = s.st.GaussTab;
        RefineGaussians(s.st, k, [](int) { FAIL() << "redrawn"; });
        EXPECT_EQ(std::tuple(s.st.ErrCode, s.ui.yields), std::tuple(int16_t(7), 0L));
        EXPECT_TRUE(s.st.GaussTab == before && s.ui.messages.empty());
    }
}

} // namespace
} // namespace lumora::test
