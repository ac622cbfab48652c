// The band value, the scaled abscissa and the evaluation of all extinction
// coefficients from the band table.

#include "model/GaussBand.h"
#include "model/EvaluateGaussians.h"

#include "FuzzyCompare.h"
#include "GaussTableRows.h"
#include "TestUi.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumora {
namespace {

using Band = test::BandRow;

void SetUpBands(State& st, int nSp, const std::vector<Band>& bands) {
    st.nSp = static_cast<int16_t>(nSp);
    st.nWl = 4;
    st.AbsM.Redim(2, 4);
    for (int w = 1; w <= 4; ++w) st.AbsM(0, w) = 400.0 + 50.0 * w;
    st.MeanWl = 525.0;
    st.WlMin = 450.0;
    st.WlMax = 600.0;
    st.Eps.Redim(nSp, 4);
    st.Eps.Fill(-7.0);
    test::FillGaussTab(st, bands);
}

double Reference(const Band& b, double x) {
    const double u = (b.c - x) / b.h;
    return std::exp(b.l - 4.0 * std::log(2.0) * u * u);
}

TEST(GaussBand, HeightAtCentreAndHalfAtHalfWidth) {
    State st;
    SetUpBands(st, 1, {{1, 1.0, 0.2, 0.0}, {1, 0.8, 0.5, std::log(250.0)}});
    EXPECT_EQ(GaussBand(st, 1, 1.0), 1.0);
    EXPECT_NEAR(GaussBand(st, 1, 1.1), 0.5, 1e-13);
    EXPECT_NEAR(GaussBand(st, 1, 0.9), 0.5, 1e-13);
    EXPECT_FUZZY(GaussBand(st, 2, 0.8), 250.0, 1e-14);
    EXPECT_FUZZY(GaussBand(st, 2, 1.05), 125.0, 1e-12);
}

TEST(GaussBand, BadBandsRaiseRunTimeErrors) {
    State st;
    SetUpBands(st, 1, {{1, 1.0, 0.0, 0.0}, {1, 1.0, 0.2, 800.0}});
    EXPECT_THROW(GaussBand(st, 1, 0.9), RuntimeError); // zero width
    EXPECT_THROW(GaussBand(st, 2, 1.0), RuntimeError); // overflow
    EXPECT_THROW(GaussBand(st, 3, 1.0), RuntimeError); // no such band
}

TEST(GaussAbscissa, BothKindsPutTheMeanAtOne) {
    State st;
    st.MeanWl = 500.0;
    st.WlMin = 400.0;
    st.WlMax = 625.0;
    double lo = 0.0, hi = 0.0;
    st.GaussArg = true;
    EXPECT_EQ(GaussAbscissa(st, 500.0), 1.0);
    EXPECT_EQ(GaussAbscissa(st, 400.0), 1.25);
    GaussAbscissaRange(st, lo, hi);
    EXPECT_EQ(lo, 0.8);
    EXPECT_EQ(hi, 1.25);
    st.GaussArg = false;
    EXPECT_EQ(GaussAbscissa(st, 400.0), 0.8);
    GaussAbscissaRange(st, lo, hi);
    EXPECT_EQ(lo, 0.8);
    EXPECT_EQ(hi, 1.25);
}

TEST(EvaluateGaussians, SumsTheBandsOfEachSpecies) {
    const std::vector<Band> bands = {
        {1, 1.0, 0.3, 2.0}, {2, 0.9, 0.2, 1.0}, {2, 1.1, 0.4, 3.0}, {3, 1.05, 0.1, 0.5}};
    for (bool wavenumber : {true, false}) {
        State st;
        test::TestUi ui(st);
        SetUpBands(st, 3, bands);
        st.GaussArg = wavenumber;
        st.ErrCode = 5;
        EvaluateGaussians(st);
        ASSERT_EQ(st.ErrCode, 0);
        for (int w = 1; w <= 4; ++w) {
            const double lambda = 400.0 + 50.0 * w;
            const double x = wavenumber ? 525.0 / lambda : lambda / 525.0;
            EXPECT_FUZZY(st.Eps(1, w), Reference(bands[0], x), 1e-11);
            EXPECT_FUZZY(st.Eps(2, w), Reference(bands[1], x) + Reference(bands[2], x), 1e-11);
            EXPECT_FUZZY(st.Eps(3, w), Reference(bands[3], x), 1e-11);
        }
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST(EvaluateGaussians, SwitchingTheAbscissaChangesTheCurves) {
    State st;
    SetUpBands(st, 1, {{1, 1.05, 0.2, 0.0}});
    st.GaussArg = true;
    EvaluateGaussians(st);
    const double a = st.Eps(1, 1);
    st.GaussArg = false;
    EvaluateGaussians(st);
    EXPECT_NE(st.Eps(1, 1), a);
}

TEST(EvaluateGaussians, NoBandsLeavesEpsAlone) {
    State st;
    test::TestUi ui(st);
    SetUpBands(st, 2, {});
    st.ErrCode = -1;
    EvaluateGaussians(st);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.Eps(1, 1), -7.0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(EvaluateGaussians, SpeciesIdsAreRoundedTiesToEven) {
    State st;
    test::TestUi ui(st);
    SetUpBands(st, 2, {{0.6, 1.0, 0.3, 0.0}, {2.5, 1.0, 0.3, 1.0}});
    EvaluateGaussians(st);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_FUZZY(st.Eps(2, 2), std::exp(1.0) * st.Eps(1, 2), 1e-14);
}

TEST(EvaluateGaussians, TableNotCoveringEverySpeciesIsRefused) {
    struct Case {
        const char* name;
        int nSp;
        std::vector<Band> bands;
    };
    const std::vector<Case> cases = {
        {"species without band", 3, {{1, 1.0, 0.3, 0.0}, {3, 1.0, 0.3, 0.0}}},
        {"block of species 2 before species 1", 2, {{2, 1.0, 0.3, 0.0}, {1, 1.0, 0.3, 0.0}}},
        {"band of an unknown species only", 1, {{4, 1.0, 0.3, 0.0}}},
    };
    for (const Case& c : cases) {
        State st;
        test::TestUi ui(st);
        SetUpBands(st, c.nSp, c.bands);
        EvaluateGaussians(st);
        EXPECT_EQ(st.ErrCode, -1) << c.name;
        ASSERT_EQ(ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(ui.messages[0].text, "Error while evaluating Gaussians. Check them");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        EXPECT_EQ(st.Eps(1, 1), -7.0) << c.name << ": refused before any change";
    }
}

TEST(EvaluateGaussians, RunTimeErrorsAreReported) {
    struct Case {
        const char* name;
        std::vector<Band> bands;
    };
    for (const Case& c :
         {Case{"zero width", {{1, 1.0, 0.0, 0.0}}}, Case{"overflow", {{1, 1.0, 0.3, 1000.0}}}}) {
        State st;
        test::TestUi ui(st);
        SetUpBands(st, 1, c.bands);
        EvaluateGaussians(st);
        EXPECT_EQ(st.ErrCode, -1) << c.name;
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Error while evaluating Gaussians. Check them");
    }
    // A table shorter than its count.
    State st;
    test::TestUi ui(st);
    SetUpBands(st, 1, {{1, 1.0, 0.3, 0.0}});
    st.GaussTab(0, 0) = 3;
    EvaluateGaussians(st);
    EXPECT_EQ(st.ErrCode, -1);
    // A negative count.
    st.GaussTab(0, 0) = -1;
    EvaluateGaussians(st);
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_EQ(ui.messages.size(), 2u);
}

} // namespace
} // namespace lumora
