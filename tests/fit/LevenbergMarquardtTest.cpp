// The Levenberg-Marquardt method on a complexation set whose speciation the test writes
// out: the residuals against the goal value, the projected Jacobian against central
// differences of the residuals, the generating energies from exact data, and on noisy data
// the descent method's minimum with intervals that hold the generating energies.

#include "ComplexationSet.h"
#include "GaussTableRows.h"
#include "fit/Goal.h"
#include "fit/GoalResiduals.h"
#include "fit/Intervals.h"
#include "fit/Optimize.h"
#include "fit/ProjectedJacobian.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace lumora::test {
namespace {

TEST(GoalResiduals, SquaresSumToTheGoalAndTheProjectedJacobianIsTheirSlope) {
    State st;
    TestUi ui(st);
    SetUpComplexation(st, 10, 16, 0.002, 3);
    st.SolWeight(4) = 2.5f; // one missing value (solution 2), one weight
    std::vector<double> r, up, down, column;
    const auto residuals = [&](int k, double g, std::vector<double>& out) {
        st.G0(k) = g;
        const double f = Goal(st, -1);
        GoalResiduals(st, out);
        return f;
    };
    for (int k = 1; k <= 3; ++k) st.G0(k) = kStartG[k];
    const double f = residuals(1, 0.0, r);
    ASSERT_EQ(r.size(), 10u * 16u - 1u);
    double squares = 0.0;
    for (double v : r) squares += v * v;
    EXPECT_NEAR(squares, f, 1e-12 * f);
    ProjectedJacobian projection;
    projection.At(st);
    for (int k : {2, 3}) {
        const double h = 1e-3;
        residuals(k, kStartG[k] + h, up), projection.Column(st, h, column);
        residuals(k, kStartG[k] - h, down), residuals(k, kStartG[k], r);
        double largest = 0.0, off = 0.0;
        for (size_t p = 0; p < r.size(); ++p) {
            const double slope = (up[p] - down[p]) / (2.0 * h);
            largest = std::max(largest, std::fabs(slope));
            off = std::max(off, std::fabs(column[p] - slope));
        }
        EXPECT_LT(off, 1e-3 * largest) << k;
    }
}

struct Fit {
    double err;
    long evaluations;
    double g[4], pm[4];
};

/// In the Gaussian mode one band per species, on the wavelength.
Fit FitSet(FitMethod method, double noise, bool gauss = false) {
    State st;
    TestUi ui(st);
    SetUpComplexation(st, 10, 16, noise, 7);
    std::vector<BandRow> bands;
    for (int k = 1; gauss && k <= 3; ++k)
        bands.push_back({double(k), (295.0 + 25.0 * k) / st.MeanWl, 40.0 / st.MeanWl, 4.4});
    if (gauss) st.FitMode = 1, st.GaussArg = false, FillGaussTab(st, bands);
    OptimizeOptions options;
    options.method = method;
    EXPECT_EQ(Optimize(st, options).end, OptimizeEnd::Converged);
    EXPECT_EQ(st.GaussLimit, gauss ? 0.9995 : 0.95); // the bands' accuracy raised in stages
    Fit fit{st.RmsErr, st.GoalCalls, {}, {}};
    EXPECT_TRUE(noise == 0.0 || ConfidenceIntervals(st));
    for (int k = 2; k <= 3; ++k) fit.g[k] = st.G0(k), fit.pm[k] = st.GErr(k);
    return fit;
}

TEST(LevenbergMarquardt, ExactDataGiveTheGeneratingEnergies) {
    const Fit lm = FitSet(FitMethod::LevenbergMarquardt, 0.0);
    EXPECT_LT(lm.err, 1e-7);
    for (int k = 2; k <= 3; ++k) EXPECT_NEAR(lm.g[k], kTrueG[k], 1e-3) << k;
}

TEST(LevenbergMarquardt, SameMinimumAsTheDescentMethodAndIntervalsHoldTheTruth) {
    for (const bool gauss : {false, true}) {
        SCOPED_TRACE(gauss);
        const Fit lm = FitSet(FitMethod::LevenbergMarquardt, 0.002, gauss);
        const Fit descent = FitSet(FitMethod::Descent, 0.002, gauss);
        EXPECT_LE(lm.err, descent.err * (1.0 + 1e-9));
        EXPECT_LT(lm.evaluations, descent.evaluations);
        for (int k = 2; k <= 3; ++k) {
            EXPECT_NEAR(lm.g[k], descent.g[k], 0.05 * descent.pm[k]) << k;
            EXPECT_NEAR(lm.pm[k], descent.pm[k], 0.05 * descent.pm[k]) << k;
            // The bands cannot draw these spectra: the truth is no test of them.
            EXPECT_TRUE(gauss || std::fabs(lm.g[k] - kTrueG[k]) <= lm.pm[k]) << k;
        }
    }
}

} // namespace
} // namespace lumora::test
