// The interval phases on quadratic goals f = f0 + d' A d (d = G - minimum, species 1
// and 3 free, 2 fixed): the Hessian's half-widths against the closed form from the
// Hessian 2A, the profiles' bounds against the closed-form profile.

#include "fit/Intervals.h"
#include "FuzzyCompare.h"
#include "OptimizeFixture.h"
#include "fit/ProfileIntervals.h"
#include "linalg/Chi2Quantile95.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

namespace lumora::test {
namespace {

const double kMin[] = {0.0, -300.25, -250.0, -120.5};

void SetUpQuadratic(OptimizeFixture& fx, const Eigen::Matrix2d& A, double f0) {
    fx.Fix(2, kMin[2]);
    for (int i = 1; i <= 3; ++i) fx.st.G0(i) = kMin[i];
    fx.goal.f = [A, f0](const std::vector<double>& g) {
        const Eigen::Vector2d d(g[1] - kMin[1], g[3] - kMin[3]);
        return f0 + d.dot(A * d);
    };
}

/// Residuals whose squares sum to the quadratic goal: (sqrt(f0), L' d) with A = L L'; a
/// zero second row of A ignores species 3.
void GiveResiduals(OptimizeFixture& fx, const Eigen::Matrix2d& A, double f0) {
    fx.st.AbsM.Redim(fx.st.nSol, fx.st.nWl);
    const Eigen::Matrix2d Lt = (A + 1e-300 * Eigen::Matrix2d::Identity()).llt().matrixU();
    const bool ignores = A(1, 1) == 0.0;
    fx.st.residualsOverride = [&fx, Lt, f0, ignores](const State&, std::vector<double>& r) {
        const std::vector<double>& g = fx.goal.calls.back().g;
        const Eigen::Vector2d v = Lt * Eigen::Vector2d(g[1] - kMin[1], g[3] - kMin[3]);
        r = {std::sqrt(f0), v(0), ignores ? 0.0 : v(1)};
    };
}

/// Every exit goes back to the optimum and evaluates there once more.
void ExpectAtOptimumAfterwards(const OptimizeFixture& fx) {
    ASSERT_FALSE(fx.goal.calls.empty());
    EXPECT_EQ(fx.goal.calls.back().probe, -1);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(std::pair(fx.st.G0(i), fx.goal.calls.back().g[i]), std::pair(kMin[i], kMin[i]));
}

Eigen::Matrix2d M(double a, double b, double d) {
    return (Eigen::Matrix2d() << a, b, b, d).finished();
}

// A Hessian that cannot be inverted (the goal ignores species 3) or gives a negative
// variance clears every interval.
TEST(IntervalsTest, HalfWidthsFromTheKnownHessian) {
    // Bands > 0: the Gaussian mode, 3 linear parameters per band, else nWl per species.
    const struct {
        Eigen::Matrix2d A;
        double f0;
        int bands;
        std::string message;
    } cases[] = {{M(1.5, 0.4, 0.8), 0.5, 0, ""},
                 {M(2.0, -0.5, 1.0), 0.3, 4, ""},
                 {M(1.0, 0.0, 0.0), 2.0, 0,
                  "Could not invert Hessian\nSp3 is not determined by these data  "},
                 {M(1.0, 0.0, -1.0), 2.0, 0,
                  "Could not estimate intervals\nSp3 is not determined by these data  "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.A);
        OptimizeFixture fx({3, 5, 10, 0, 0});
        SetUpQuadratic(fx, c.A, c.f0);
        fx.st.FitMode = c.bands > 0;
        fx.st.GaussTab.Redim(3, c.bands);
        fx.st.GaussTab(0, 0) = c.bands;
        fx.st.RmsErr = std::sqrt(c.f0), fx.st.GErr(1) = 9.0f;
        const bool done = ConfidenceIntervals(fx.st);
        ASSERT_EQ(fx.st.ErrCode, 0);
        EXPECT_DOUBLE_EQ(fx.st.RmsErr, std::sqrt(c.f0)); // shown as the root again
        EXPECT_EQ(fx.st.GErr(2), 0.0f);
        ExpectAtOptimumAfterwards(fx);
        ExpectMessage(fx.ui, c.message, Icon::Exclamation);
        if (!c.message.empty()) {
            EXPECT_EQ(std::pair(fx.st.GErr(1), fx.st.GErr(3)), std::pair(0.0f, 0.0f)); // cleared
            continue;
        }
        EXPECT_TRUE(done);
        Eigen::Matrix2d H = 2.0 * c.A;
        H.diagonal() *= 1.0 + fx.st.RelTol;
        const int linear = c.bands > 0 ? 3 * c.bands : 10 * 3;
        const double f = 2.0 * Chi2Quantile95(2) * 2 * c.f0 / (10 * 5 - linear);
        EXPECT_FUZZY(fx.st.GErr(1), std::sqrt(H.inverse()(0, 0) * f), 1e-6);
        EXPECT_FUZZY(fx.st.GErr(3), std::sqrt(H.inverse()(1, 1) * f), 1e-6);
        const Eigen::Matrix2d cov = H.inverse();
        EXPECT_FUZZY(fx.st.GCorr(1, 2), cov(0, 1) / std::sqrt(cov(0, 0) * cov(1, 1)), 1e-6);
    }
}

// f0 + d' A d = |r|^2 with r = (sqrt(f0), L' d), A = L L': the profile of species 1 is
// f0 + d1^2 (a11 - a12^2 / a22), so its bounds lie at d1 = +-sqrt(f0 F / v / (a11 -
// a12^2 / a22)) with v = 50 absorbances - 30 absorptivities - 2 = 18 and F(0.95; 1, 18)
// = 4.414 (NIST/SEMATECH e-Handbook of Statistical Methods, table 1.3.6.7.3). A species
// that the goal ignores is not determined: no bounds, no half-width, a note.
TEST(IntervalsTest, ProfileBoundsOfAQuadraticGoal) {
    for (const bool ignored : {false, true}) {
        SCOPED_TRACE(ignored);
        OptimizeFixture fx({3, 5, 10, 0, 0});
        const Eigen::Matrix2d A = ignored ? M(1.5, 0.0, 0.0) : M(1.5, -0.9, 0.8);
        SetUpQuadratic(fx, A, 0.5);
        GiveResiduals(fx, A, 0.5);
        fx.st.RmsErr = std::sqrt(0.5);
        ASSERT_TRUE(ProfileIntervals(fx.st));
        ASSERT_EQ(fx.st.ErrCode, 0);
        ExpectAtOptimumAfterwards(fx);
        const double rise = 0.5 * 4.414 / 18;
        const double h1 = std::sqrt(rise / (A(0, 0) - A(0, 1) * A(0, 1) / (ignored ? 1 : A(1, 1))));
        EXPECT_NEAR(*fx.st.GLo(1), kMin[1] - h1, 2e-3 * h1);
        EXPECT_NEAR(*fx.st.GHi(1), kMin[1] + h1, 2e-3 * h1);
        EXPECT_NEAR(fx.st.GErr(1), h1, 2e-3 * h1);
        EXPECT_FALSE(fx.st.GLo(2) || fx.st.GHi(2)); // fixed
        if (!ignored) {
            const double h3 = std::sqrt(rise / (A(1, 1) - A(0, 1) * A(0, 1) / A(0, 0)));
            EXPECT_NEAR(*fx.st.GHi(3) - *fx.st.GLo(3), 2.0 * h3, 4e-3 * h3);
            EXPECT_FUZZY(fx.st.GCorr(1, 2), -A(0, 1) / std::sqrt(A(0, 0) * A(1, 1)), 1e-3);
            EXPECT_EQ(fx.st.IntervalNote, "");
            continue;
        }
        EXPECT_FALSE(fx.st.GLo(3) || fx.st.GHi(3));
        EXPECT_EQ(fx.st.GErr(3), 0.0f);
        EXPECT_FALSE(fx.st.GCorr.Dimensioned());
        EXPECT_TRUE(fx.st.IntervalNote.starts_with("Sp3 is not determined by these data"));
    }
}

TEST(IntervalsTest, ZeroDegreesOfFreedomRaisesDivisionByZero) {
    OptimizeFixture fx({3, 5, 10, 0, 0});
    SetUpQuadratic(fx, Eigen::Matrix2d::Identity(), 0.5);
    fx.st.nSol = fx.st.nSp; // as many extinction coefficients as absorbances
    EXPECT_EQ(ErrorOf([&] { ConfidenceIntervals(fx.st); }), kDivisionByZero);
    ExpectAtOptimumAfterwards(fx);
}

TEST(IntervalsTest, EscDuringEitherPhaseWritesNothingAndReturnsToTheOptimum) {
    for (const auto method : {IntervalMethod::Hessian, IntervalMethod::Profile})
        for (long at : {1L, 2L, 4L, 6L, 9L}) {
            SCOPED_TRACE(at);
            OptimizeFixture fx({3, 5, 10, 0, 0});
            SetUpQuadratic(fx, M(1.0, 0.2, 1.0), 0.5);
            GiveResiduals(fx, M(1.0, 0.2, 1.0), 0.5);
            fx.ui.interruptAtYield = at;
            EXPECT_FALSE(EstimateIntervals(fx.st, method));
            EXPECT_EQ(std::pair(fx.st.ErrCode, fx.st.GErr(1)), std::pair(kInterrupt, 0.0f));
            EXPECT_TRUE(at > 1 || fx.goal.calls.empty());
            if (at > 1) ExpectAtOptimumAfterwards(fx); // stopped after leaving the optimum
        }
}

} // namespace
} // namespace lumora::test
