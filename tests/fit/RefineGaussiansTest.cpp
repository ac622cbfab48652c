// Refining bands against reference curves made from known Gaussians: the generating
// parameters are the reference. Step limits, failures and the cancel path.

#include "fit/RefineGaussians.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumora::test {
namespace {

constexpr int kWl = 61;

class RefineTest : public ::testing::Test {
protected:
    void SetUp() override {
        st.FitMode = 1;
        st.Damping = 1e-10;
    }
    /// Band g of the table as (c, h, height).
    TrueBand Band(int g) const {
        return {BandSpecies(st, g), st.GaussTab(1, g), st.GaussTab(2, g),
                std::exp(st.GaussTab(3, g))};
    }
    void ExpectBand(int g, const TrueBand& t, double rel) {
        SCOPED_TRACE(g);
        EXPECT_EQ(BandSpecies(st, g), t.species);
        EXPECT_FUZZY(st.GaussTab(1, g), t.c, rel);
        EXPECT_FUZZY(st.GaussTab(2, g), t.h, rel);
        EXPECT_FUZZY(std::exp(st.GaussTab(3, g)), t.height, rel);
    }

    GaussSpectrum s{2, kWl, false};
    State& st = s.st;
};

// Overlapping bands of species 2 from a perturbed start, in both kinds of abscissa.
TEST_F(RefineTest, RecoversKnownBandsFromAPerturbedStart) {
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        st.GaussArg = wavenumber;
        const std::vector<TrueBand> truth = {
            {1, 1.0, 0.2, 300.0}, {2, 0.85, 0.18, 120.0}, {2, 1.08, 0.25, 80.0}};
        s.SetReference(truth);
        std::vector<TrueBand> start = truth;
        start[1].c += 0.03;
        start[1].h *= 1.3;
        start[1].height *= 0.7;
        start[2].c -= 0.04;
        start[2].h *= 0.8;
        start[2].height *= 1.5;
        s.SetTable(start);
        WriteGaussianTable(st, -1);
        const Mat<double> before = st.GaussTab;
        int redraws = 0;
        s.ui.messages.clear();
        RefineGaussians(st, 2, [&] { ++redraws; });
        EXPECT_EQ(st.ErrCode, 0);
        EXPECT_TRUE(s.ui.messages.empty());
        EXPECT_GE(redraws, 1);
        for (int i = 0; i <= 3; ++i) EXPECT_EQ(st.GaussTab(i, 1), before(i, 1)); // other species
        ExpectBand(2, truth[1], 1e-6);
        ExpectBand(3, truth[2], 1e-6);
        // The band sum matches the reference curve to a millionth of its peak.
        for (int w = 1; w <= kWl; ++w) EXPECT_NEAR(st.Eps(2, w), st.RefEps(2, w), 1e-4);
        // The sheet holds the refined values (row of species 2, two bands).
        const SheetBand b = TableToSheet({st.GaussTab(1, 3), st.GaussTab(2, 3), st.GaussTab(3, 3)},
                                         st.MeanWl, wavenumber);
        EXPECT_EQ(s.Num(11, 11), b.center);
        EXPECT_EQ(s.Num(11, 12), b.width);
        EXPECT_FUZZY(s.Num(11, 13), 80.0, 1e-6);
        if (!wavenumber) {
            EXPECT_FUZZY(s.Num(11, 11), 1.08 * st.MeanWl, 1e-6);
        }
    }
}

TEST_F(RefineTest, ExactBandConvergesAtOnce) {
    const std::vector<TrueBand> truth = {{1, 1.02, 0.2, 55.0}, {2, 0.9, 0.3, 10.0}};
    s.SetReference(truth);
    s.SetTable(truth);
    int redraws = 0;
    RefineGaussians(st, 1, [&] { ++redraws; });
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(redraws, 1);
    ExpectBand(1, truth[0], 1e-12);
    EXPECT_FUZZY(s.Num(10, 10), 55.0, 1e-12);
}

// The reference peak lies beyond the end of the spectrum: the centre walks toward
// the end, each step covering at most half the rest, and never passes it.
TEST_F(RefineTest, CentreApproachesButNeverPassesTheRangeEnd) {
    const double hi = s.Hi();
    s.SetReference({{1, hi + 0.15, 0.3, 100.0}, {2, 1.0, 0.2, 10.0}});
    s.SetTable({{1, hi - 0.2, 0.3, 60.0}, {2, 1.0, 0.2, 10.0}});
    std::vector<double> centres{st.GaussTab(1, 1)};
    RefineGaussians(st, 1, [&] {
        centres.push_back(st.GaussTab(1, 1));
        if (centres.size() > 400) st.ErrCode = kInterrupt; // end a slow approach
    });
    ASSERT_GT(centres.size(), 2u);
    for (size_t i = 1; i < centres.size(); ++i) {
        EXPECT_LT(centres[i], hi);
        EXPECT_GE(hi - centres[i], (hi - centres[i - 1]) / 2 - 1e-14) << i;
    }
    EXPECT_GT(centres.back(), centres.front());
    // Whatever the end, no centre outside the spectrum reached the table or the sheet.
    EXPECT_LE(st.GaussTab(1, 1), hi);
    if (s.Num(10, 8) != 0.0) {
        EXPECT_LE(s.Num(10, 8), st.WlMax);
    }
}

// A width far too large shrinks, but by at most half per iteration.
TEST_F(RefineTest, WidthAtMostHalvesPerIteration) {
    const std::vector<TrueBand> truth = {{1, 1.0, 0.05, 100.0}, {2, 1.0, 0.2, 10.0}};
    s.SetReference(truth);
    s.SetTable({{1, 1.0, 0.6, 100.0}, {2, 1.0, 0.2, 10.0}});
    std::vector<double> widths{st.GaussTab(2, 1)};
    RefineGaussians(st, 1, [&] { widths.push_back(st.GaussTab(2, 1)); });
    EXPECT_EQ(st.ErrCode, 0);
    ASSERT_GE(widths.size(), 3u);
    bool halved = false;
    for (size_t i = 1; i < widths.size(); ++i) {
        EXPECT_GE(widths[i], widths[i - 1] / 2 * (1 - 1e-12)) << i;
        if (widths[i] < widths[i - 1] * 0.5001) halved = true;
    }
    EXPECT_TRUE(halved) << "the limit was never reached";
    ExpectBand(1, truth[0], 1e-6);
}

// A log height moves by at most 1 per iteration.
TEST_F(RefineTest, LogHeightMovesAtMostOnePerIteration) {
    const std::vector<TrueBand> truth = {{1, 1.0, 0.2, 5000.0}, {2, 1.0, 0.2, 10.0}};
    s.SetReference(truth);
    s.SetTable({{1, 1.0, 0.2, 1.0}, {2, 1.0, 0.2, 10.0}});
    std::vector<double> logs{st.GaussTab(3, 1)};
    RefineGaussians(st, 1, [&] { logs.push_back(st.GaussTab(3, 1)); });
    EXPECT_EQ(st.ErrCode, 0);
    for (size_t i = 1; i < logs.size(); ++i)
        EXPECT_LE(std::fabs(logs[i] - logs[i - 1]), 1.0 + 1e-12);
    EXPECT_FUZZY(std::exp(st.GaussTab(3, 1)), 5000.0, 1e-6);
}

// An interrupt at a yield: "Cancelled", nothing written, bands as far as refined.
TEST_F(RefineTest, CancelAtAYieldWritesNothing) {
    const std::vector<TrueBand> truth = {{1, 1.0, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}};
    s.SetReference(truth);
    s.SetTable({{1, 1.1, 0.3, 50.0}, {2, 1.0, 0.2, 10.0}});
    WriteGaussianTable(st, -1);
    const double sheetCentre = s.Num(10, 8);
    s.ui.interruptAtYield = 2;
    Mat<double> shown;
    RefineGaussians(st, 1, [&] { shown = st.GaussTab; });
    EXPECT_EQ(st.ErrCode, kInterrupt);
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Cancelled  ");
    EXPECT_EQ(s.ui.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(s.Num(10, 8), sheetCentre);
    // One iteration ran: the table keeps its result, the one that was drawn.
    EXPECT_EQ(st.GaussTab, shown);
    EXPECT_NE(st.GaussTab(1, 1), 1.1);
}

// Bands that see no data give a singular system: the failure writes what it has.
TEST_F(RefineTest, SingularSystemFailsAndWritesTheBands) {
    s.SetReference({{1, 1.0, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}});
    // Narrower than a hundredth of a row: zero at every wavelength.
    s.SetTable({{1, 1.00123, 1e-6, 100.0}, {2, 1.0, 0.2, 10.0}});
    RefineGaussians(st, 1, {});
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Error while refining Gaussians. Rebuild them  ");
    EXPECT_EQ(s.ui.messages[0].icon, Icon::Critical);
    EXPECT_FUZZY(s.Num(10, 8), 1.00123 * st.MeanWl, 1e-12);
    EXPECT_FUZZY(s.Num(10, 10), 100.0, 1e-12);
}

// Tables the refinement cannot work on take the failure path, never a crash.
TEST_F(RefineTest, UnusableTablesFail) {
    struct Case {
        const char* name;
        std::function<void(GaussSpectrum&)> damage;
    } cases[] = {
        {"NoReferenceCurves", [](GaussSpectrum& g) { g.st.RefEps.Erase(); }},
        {"SpeciesWithoutBands",
         [](GaussSpectrum& g) {
             g.SetTable({{2, 1.0, 0.2, 10.0}});
         }},
        {"ZeroWidth", [](GaussSpectrum& g) { g.st.GaussTab(2, 1) = 0.0; }},
        {"FewerWavelengthsThanRows",
         [](GaussSpectrum& g) { g.st.RefEps.Redim(g.st.nSp, g.st.nWl - 5); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.SetReference({{1, 1.0, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}});
        s.SetTable({{1, 1.1, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}});
        c.damage(s);
        s.ui.messages.clear();
        RefineGaussians(st, 1, {});
        EXPECT_EQ(st.ErrCode, -1);
        ASSERT_EQ(s.ui.messages.size(), 1u);
        EXPECT_EQ(s.ui.messages[0].text, "Error while refining Gaussians. Rebuild them  ");
        EXPECT_EQ(s.ui.messages[0].icon, Icon::Critical);
    }
}

// Nothing to refine: no yield, no message, nothing changed.
TEST_F(RefineTest, DoesNothingOutsideTheGaussianModeOrRange) {
    const std::vector<TrueBand> start = {{1, 1.1, 0.3, 50.0}, {2, 1.0, 0.2, 10.0}};
    s.SetReference({{1, 1.0, 0.2, 100.0}, {2, 1.0, 0.2, 10.0}});
    struct Case {
        const char* name;
        int16_t k;
        int16_t fitMode;
        bool bands;
    } cases[] = {{"SpeciesZero", 0, 1, true},
                 {"SpeciesBeyond", 3, 1, true},
                 {"NormalMode", 1, 0, true},
                 {"NoBands", 1, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.SetTable(start);
        if (!c.bands) st.GaussTab(0, 0) = 0;
        const Mat<double> before = st.GaussTab;
        st.FitMode = c.fitMode;
        st.ErrCode = 7;
        s.ui.yields = 0;
        RefineGaussians(st, c.k, [] { FAIL() << "redrawn"; });
        EXPECT_EQ(st.ErrCode, 7);
        EXPECT_EQ(s.ui.yields, 0);
        EXPECT_TRUE(s.ui.messages.empty());
        EXPECT_EQ(st.GaussTab, before);
    }
}

} // namespace
} // namespace lumora::test
