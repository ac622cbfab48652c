// Building bands from reference curves that are exact sums of known Gaussians: the
// generating parameters are the reference. Failures leave table, curves and sheet.

#include "fit/BuildGaussians.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

namespace lumora::test {
namespace {

constexpr int kWl = 61; // 300..600 nm

/// Scaled abscissa of row w of the fixture (wavelength kind).
double Xw(int w) {
    return (300.0 + 5.0 * (w - 1)) / 450.0;
}
/// Scaled step between rows.
constexpr double kDx = 5.0 / 450.0;

TEST(ClampThreshold, RoundsAndLimits) {
    struct Case {
        double in;
        int out;
    } cases[] = {{33, 33},
                 {150, 100},
                 {100.4, 100},
                 {0, 1},
                 {-7, 1},
                 {0.4, 1},
                 {2.5, 2},
                 {3.5, 4},
                 {1, 1},
                 {99.5, 100},
                 {std::numeric_limits<double>::quiet_NaN(), 1}};
    for (const Case& c : cases) EXPECT_EQ(ClampThreshold(c.in), c.out) << c.in;
}

class BuildTest : public ::testing::Test {
protected:
    GaussSpectrum s{2, kWl, false};
    State& st = s.st;
};

// A band centred on a row is recovered exactly: its log is the parabola the builder fits.
TEST_F(BuildTest, RecoversOneBandPerSpeciesAtThreshold100) {
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        st.GaussArg = wavenumber;
        const std::vector<TrueBand> truth = {{1, s.X(21), 0.08, 250.0}, {2, s.X(40), 0.15, 40.0}};
        s.SetReference(truth);
        s.ui.messages.clear();
        BuildGaussians(st, 100);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_TRUE(s.ui.messages.empty());
        EXPECT_EQ(st.FitMode, 1);
        ASSERT_EQ(BandCount(st), 2);
        for (int g = 1; g <= 2; ++g) {
            const TrueBand& t = truth[g - 1];
            EXPECT_EQ(BandSpecies(st, g), t.species);
            EXPECT_FUZZY(st.GaussTab(1, g), t.c, 1e-12);
            EXPECT_FUZZY(st.GaussTab(2, g), t.h, 1e-9);
            EXPECT_FUZZY(st.GaussTab(3, g), std::log(t.height), 1e-12);
        }
        // Eps holds the band sums, here the reference itself.
        for (int k = 1; k <= 2; ++k)
            for (int w = 1; w <= kWl; ++w) EXPECT_NEAR(st.Eps(k, w), st.RefEps(k, w), 1e-9);
    }
}

// The log-parabola through the peak uses the rows within a factor e of it, walking
// out at most ten rows and stopping at the first row below; curvature a = S1 / S2 by
// hand gives the width sqrt(-4 ln 2 / a).
TEST_F(BuildTest, PeakFitUsesTheNeighboursWithinAFactorEAndTenRows) {
    const double ln2 = std::log(2.0);
    struct Case {
        const char* name;
        std::function<double(int)> logAt; ///< log of the curve i rows from the peak
        double width;                     ///< expected, in rows
    } cases[] = {
        // Rows 2 away are more than 1 below the top: the walk stops, rows 3 away are
        // not used although they are high again. S1 = 2 (-0.5), S2 = 2, a = -0.5.
        {"StopsAtTheFirstLowRow",
         [](int i) {
             const int d = std::abs(i);
             return d == 0 ? 4.0 : d == 1 ? 3.5 : d == 2 ? 2.5 : d <= 5 ? 3.8 : -50.0;
         },
         std::sqrt(4 * ln2 / 0.5)},
        // A parabola of curvature -0.001 out to ten rows, then a shoulder within e of
        // the top that the fit must not reach.
        {"TenRowsAtMost",
         [](int i) {
             const int d = std::abs(i);
             return d <= 10 ? 4.0 - 0.001 * d * d : d <= 14 ? 3.5 : -50.0;
         },
         std::sqrt(4 * ln2 / 0.001)},
        // Only one side has neighbours within e: S1 = -0.25, S2 = 1.
        {"OneSidedPeak", [](int i) { return i == 0   ? 4.0
                                            : i == 1 ? 3.75
                                                     : -50.0; },
         std::sqrt(4 * ln2 / 0.25)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int p = 30;
        for (int w = 1; w <= kWl; ++w) {
            st.RefEps(1, w) = std::exp(c.logAt(w - p));
            st.RefEps(2, w) = std::exp(4.0 - 0.05 * (w - 20) * (w - 20));
        }
        BuildGaussians(st, 100);
        ASSERT_EQ(st.ErrCode, 0);
        EXPECT_EQ(BandSpecies(st, 1), 1);
        EXPECT_FUZZY(st.GaussTab(1, 1), Xw(p), 1e-12);
        EXPECT_FUZZY(st.GaussTab(2, 1), c.width * kDx, 1e-9);
        EXPECT_FUZZY(st.GaussTab(3, 1), 4.0, 1e-12);
    }
}

// Two separated bands of one species: how many are built depends on the threshold.
TEST_F(BuildTest, LowerThresholdGivesMoreBands) {
    const std::vector<TrueBand> truth = {
        {1, Xw(15), 4 * kDx, 100.0}, {1, Xw(45), 5 * kDx, 60.0}, {2, Xw(30), 6 * kDx, 20.0}};
    s.SetReference(truth);
    struct Case {
        int threshold;
        int bands1;
    } cases[] = {{100, 1}, {70, 1}, {61, 1}, {59, 2}, {33, 2}, {1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        BuildGaussians(st, c.threshold);
        ASSERT_EQ(st.ErrCode, 0);
        ASSERT_EQ(BandCount(st), c.bands1 + 1);
        EXPECT_FUZZY(st.GaussTab(1, 1), truth[0].c, 1e-12);
        EXPECT_FUZZY(st.GaussTab(2, 1), truth[0].h, 1e-4);
        EXPECT_FUZZY(std::exp(st.GaussTab(3, 1)), truth[0].height, 1e-6);
        if (c.bands1 == 2) {
            // The second peak, fitted to what the first band left.
            EXPECT_FUZZY(st.GaussTab(1, 2), truth[1].c, 1e-12);
            EXPECT_FUZZY(st.GaussTab(2, 2), truth[1].h, 1e-4);
            EXPECT_FUZZY(std::exp(st.GaussTab(3, 2)), truth[1].height, 1e-6);
        }
        EXPECT_EQ(BandSpecies(st, BandCount(st)), 2);
        EXPECT_EQ(st.FitMode, 1);
    }
}

// A species may have eight bands, never nine: the sheet table holds no more.
TEST_F(BuildTest, EightBandsPerSpeciesAtMost) {
    for (int peaks : {8, 9}) {
        SCOPED_TRACE(peaks);
        std::vector<TrueBand> truth;
        for (int i = 0; i < peaks; ++i)
            truth.push_back({1, Xw(5 + 6 * i), 3 * kDx, 100.0 - 5.0 * i});
        truth.push_back({2, Xw(30), 6 * kDx, 20.0});
        s.SetReference(truth);
        s.ui.messages.clear();
        BuildGaussians(st, 1);
        if (peaks == 8) {
            ASSERT_EQ(st.ErrCode, 0);
            EXPECT_EQ(BandCount(st), 9);
            EXPECT_EQ(s.Num(10, 7), 8.0);
            for (int i = 0; i < peaks; ++i) EXPECT_FUZZY(st.GaussTab(1, i + 1), truth[i].c, 1e-12);
        } else {
            EXPECT_EQ(st.ErrCode, -1);
            EXPECT_EQ(st.FitMode, 0);
            ASSERT_EQ(s.ui.messages.size(), 1u);
            EXPECT_EQ(s.ui.messages[0].text, "Could not build Gaussians  ");
        }
    }
}

// Curves the builder cannot start from or fit: a defined failure, nothing changed.
TEST_F(BuildTest, FailuresKeepTableCurvesAndSheet) {
    struct Case {
        const char* name;
        std::function<void(State&)> curve1; ///< species 1's reference
    } cases[] = {
        {"OneRowSpike",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = w == 30 ? 50.0 : 0.0;
         }},
        {"SpikeAtTheEnd",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = w == kWl ? 50.0 : 1.0;
         }},
        {"Flat",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = 7.0;
         }},
        {"FlatTop",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = (w >= 20 && w <= 40) ? 7.0 : 1.0;
         }},
        {"AllZero",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = 0.0;
         }},
        {"AllNegative",
         [](State& t) {
             for (int w = 1; w <= kWl; ++w) t.RefEps(1, w) = -3.0;
         }},
    };
    // A valid table of earlier bands, on the sheet and in memory.
    const std::vector<TrueBand> earlier = {{1, 1.0, 0.1, 10.0}, {2, 0.9, 0.2, 5.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.SetTable(earlier);
        WriteGaussianTable(st, -1);
        const Mat<double> table = st.GaussTab;
        const double sheetCentre = s.Num(10, 8);
        s.SetReference({{2, Xw(30), 6 * kDx, 20.0}});
        c.curve1(st);
        st.Eps.Fill(3.0);
        st.FitMode = 1;
        s.ui.messages.clear();
        BuildGaussians(st, 33);
        EXPECT_EQ(st.ErrCode, -1);
        EXPECT_EQ(st.FitMode, 0);
        ASSERT_EQ(s.ui.messages.size(), 1u);
        EXPECT_EQ(s.ui.messages[0].text, "Could not build Gaussians  ");
        EXPECT_EQ(s.ui.messages[0].icon, Icon::Critical);
        EXPECT_EQ(st.GaussTab, table);
        EXPECT_EQ(st.Eps(1, 1), 3.0);
        EXPECT_EQ(s.Num(10, 8), sheetCentre);
        EXPECT_EQ(s.Num(10, 7), 1.0);
        EXPECT_EQ(s.Text(9, 7), "wL");
    }
}

// A failure in a later species stops the build: the earlier species' bands are not kept.
TEST_F(BuildTest, FailureOfSecondSpeciesWritesNothing) {
    s.SetReference({{1, Xw(21), 0.08, 250.0}});
    for (int w = 1; w <= kWl; ++w) st.RefEps(2, w) = 0.0;
    BuildGaussians(st, 50);
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_EQ(BandCount(st), 0);
    EXPECT_EQ(s.sheet->CellCount(), 0u);
}

// Built bands go to the sheet, and a saved file loads back to the same bands.

} // namespace
} // namespace lumora::test
