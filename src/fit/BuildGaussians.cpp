#include "fit/BuildGaussians.h"

#include "base/RuntimeError.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace lumora {

namespace {

/// Log of a curve value; kNoLog for values that are not positive.
constexpr double kNoLog = -1e35;

/// Neighbours used on each side of a peak.
constexpr int kPeakReach = 10;

/// Why a build failed, shown after the message in parentheses (empty: nothing to add).
struct BuildFailed {
    std::string detail;
};

struct Peak {
    double top = kNoLog;
    int p = 0;
};

/// Highest value of lambda(1..nWl); the first one wins ties.
Peak Highest(const std::vector<double>& lambda) {
    Peak pk;
    for (size_t w = 1; w < lambda.size(); ++w) {
        if (lambda[w] > pk.top) {
            pk.top = lambda[w];
            pk.p = static_cast<int>(w);
        }
    }
    return pk;
}

double LogOrNone(double v) {
    CheckFinite(v);
    return v > 0.0 ? std::log(v) : kNoLog;
}

/// Appends band n (growing the table, keeping its contents).
void AppendBand(State& st, int n, int k, double c, double h, double lnHeight) {
    if (st.GaussTab.UBound2() < n) st.GaussTab.RedimPreserve(3, n);
    st.GaussTab(0, n) = k;
    st.GaussTab(1, n) = c;
    st.GaussTab(2, n) = h;
    st.GaussTab(3, n) = lnHeight;
}

/// Peels the bands of species k off its reference curve, appending them from band
/// n + 1 on; returns the new band count.
int BuildSpecies(State& st, int k, double theta, int n, const std::vector<double>& x) {
    const int nWl = st.nWl;
    std::vector<double> lambda(static_cast<size_t>(nWl) + 1, kNoLog);
    for (int w = 1; w <= nWl; ++w) lambda[w] = LogOrNone(st.RefEps(k, w));
    Peak pk = Highest(lambda);
    if (pk.p == 0) throw BuildFailed{}; // nothing positive to start from
    const double stop = pk.top + theta;
    const int firstBand = n + 1;

    for (;;) {
        const double x0 = x[pk.p];
        double s1 = 0.0, s2 = 0.0;
        for (int d : {-1, 1}) {
            for (int q = pk.p + d, i = 0; i < kPeakReach; q += d, ++i) {
                if (q < 1 || q > nWl || lambda[q] < pk.top - 1.0) break;
                const double u = (x[q] - x0) * (x[q] - x0);
                s1 += (lambda[q] - pk.top) * u;
                s2 += u * u;
            }
        }
        if (s2 == 0.0) throw BuildFailed{};
        const double a = CheckedDiv(s1, s2);
        // A flat top has no curvature, and so no width.
        if (!(a < 0.0)) throw BuildFailed{};
        if (n + 1 - firstBand >= kMaxBandsPerSpecies)
            throw BuildFailed{st.SpName(k) + " needs more than " +
                              std::to_string(kMaxBandsPerSpecies) +
                              " bands; try a higher threshold"};
        ++n;
        AppendBand(st, n, k, x0, CheckedSqrt(-kGaussShape / a), pk.top);

        for (int w = 1; w <= nWl; ++w) {
            double r = st.RefEps(k, w);
            for (int g = n; g >= firstBand; --g) r -= GaussBand(st, static_cast<int16_t>(g), x[w]);
            lambda[w] = LogOrNone(r);
        }
        pk = Highest(lambda);
        if (!(pk.top > stop)) return n;
    }
}

} // namespace

int ClampThreshold(double value) {
    if (!(value >= 1.0)) return 1; // NaN too
    if (value >= 100.0) return 100;
    return static_cast<int>(std::nearbyint(value));
}

void BuildGaussians(State& st, int threshold) {
    const double theta = std::log(ClampThreshold(threshold) / 100.0);
    st.ErrCode = 0;
    Mat<double> before = st.GaussTab;
    std::string detail;
    try {
        if (!st.GaussTab.Dimensioned()) st.GaussTab.Redim(3, 0);
        std::vector<double> x(static_cast<size_t>(std::max<int>(st.nWl, 0)) + 1, 0.0);
        for (int w = 1; w <= st.nWl; ++w) x[w] = GaussAbscissa(st, st.AbsM(0, w));
        int n = 0;
        for (int k = 1; k <= st.nSp; ++k) n = BuildSpecies(st, k, theta, n, x);
        if (n == 0) throw BuildFailed{}; // no species at all
        st.GaussTab(0, 0) = n;
        WriteGaussianTable(st, -1);
    } catch (const BuildFailed& e) {
        st.ErrCode = -1;
        detail = e.detail;
    } catch (const RuntimeError&) {
        st.ErrCode = -1;
    }
    if (st.ErrCode != 0) {
        st.GaussTab = std::move(before);
        st.FitMode = 0;
        st.Message("Could not build Gaussians" + (detail.empty() ? "" : " (" + detail + ")") + "  ",
                   Icon::Critical);
        return;
    }
    st.FitMode = 1;
    EvaluateGaussians(st);
    if (st.ErrCode != 0) st.FitMode = 0;
}

} // namespace lumora
