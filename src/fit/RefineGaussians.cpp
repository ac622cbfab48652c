#include "fit/RefineGaussians.h"

#include "base/RuntimeError.h"
#include "linalg/LinearAlgebra.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumora {

namespace {

/// The applied step must be at least this fraction of the Gauss-Newton step.
constexpr double kMinStep = 1e-7;
/// A step of at least this fraction counts as the full step: converged.
constexpr double kFullStep = 0.9995;

enum class Outcome { Converged, Failed, Cancelled };

/// Scale of the step delta(1..3m) for the bands first..: long steps are shortened
/// logarithmically, then limited so that a log height moves by at most 1, a width at
/// most halves and a centre covers at most half its distance to the end of the range.
double StepScale(const State& st, int first, int m, const Mat<double>& nrm, double lo, double hi) {
    double big = 0.0;
    for (int i = 1; i <= 3 * m; ++i) big = std::max(big, std::fabs(nrm(i, 0)));
    const double s0 = big == 0.0 ? 1.0 : CheckedDiv(std::log1p(big), big);
    double f = 1.0;
    for (int b = 1; b <= m; ++b) {
        const int g = first + b - 1;
        const int a = 3 * (b - 1) + 1;
        const double c = st.GaussTab(1, g);
        const double h = st.GaussTab(2, g);
        const double dc = s0 * nrm(a, 0);
        const double dh = s0 * nrm(a + 1, 0);
        const double dl = s0 * nrm(a + 2, 0);
        if (std::fabs(dl) > 1.0) f = std::min(f, 1.0 / std::fabs(dl));
        if (dh + h / 2 < 0.0) f = std::min(f, (-h / 2) / dh);
        if (dc > 0.0 && dc > (hi - c) / 2) f = std::min(f, ((hi - c) / 2) / dc);
        if (dc < 0.0 && dc < (lo - c) / 2) f = std::min(f, ((lo - c) / 2) / dc);
    }
    return f * s0;
}

Outcome Iterate(State& st, int k, int first, int last, const std::function<void()>& redraw) {
    const int m = last - first + 1;
    const int np = 3 * m;
    const int nWl = st.nWl;
    double lo = 0.0, hi = 0.0;
    GaussAbscissaRange(st, lo, hi);
    std::vector<double> x(static_cast<size_t>(std::max(nWl, 0)) + 1, 0.0);
    for (int w = 1; w <= nWl; ++w) x[w] = GaussAbscissa(st, st.AbsM(0, w));
    Mat<double> jac(nWl, np);
    Mat<double> nrm(np, np);
    std::vector<double> previous(static_cast<size_t>(np) + 1, 0.0);

    for (;;) {
        st.ui->yield();
        if (st.ErrCode < 0) return Outcome::Cancelled;

        for (int w = 1; w <= nWl; ++w) {
            double r = st.RefEps(k, w);
            for (int b = 1; b <= m; ++b) {
                const int g = first + b - 1;
                const int a = 3 * (b - 1) + 1;
                const double v = GaussBand(st, static_cast<int16_t>(g), x[w]);
                const double h = st.GaussTab(2, g);
                const double u = (x[w] - st.GaussTab(1, g)) / h;
                jac(w, a + 2) = v;
                jac(w, a) = v * 8.0 * kLn2 * u / h;
                jac(w, a + 1) = jac(w, a) * u;
                r -= v;
            }
            jac(w, 0) = r;
        }
        for (int i = 1; i <= np; ++i) {
            for (int j = 0; j <= i; ++j) {
                double s = 0.0;
                for (int w = 1; w <= nWl; ++w) s += jac.At(w, j) * jac.At(w, i);
                if (j == i) s *= 1.0 + st.Damping;
                nrm(i, j) = s;
                if (j > 0 && j < i) nrm(j, i) = s;
            }
        }
        CheckFinite(nrm(np, np));

        SolveSystem(st.ErrCode, static_cast<int16_t>(np), nrm);
        if (st.ErrCode > 0) return Outcome::Failed;
        if (st.ErrCode < 0) return Outcome::Cancelled;

        const double s = StepScale(st, first, m, nrm, lo, hi);
        if (!(s >= kMinStep)) return Outcome::Failed;

        bool inRange = true;
        for (int b = 1; b <= m; ++b) {
            const int g = first + b - 1;
            for (int i = 1; i <= 3; ++i) {
                const int a = 3 * (b - 1) + i;
                previous[a] = st.GaussTab(i, g);
                st.GaussTab(i, g) = CheckFinite(previous[a] + s * nrm(a, 0));
            }
            const double c = st.GaussTab(1, g);
            if (c < lo || c > hi) inRange = false;
        }
        if (!inRange) {
            // The sheet gets the last bands inside the spectrum, not the stray step.
            for (int b = 1; b <= m; ++b)
                for (int i = 1; i <= 3; ++i)
                    st.GaussTab(i, first + b - 1) = previous[3 * (b - 1) + i];
            return Outcome::Failed;
        }

        for (int w = 1; w <= nWl; ++w) {
            double sum = 0.0;
            for (int g = first; g <= last; ++g) sum += GaussBand(st, static_cast<int16_t>(g), x[w]);
            st.Eps(k, w) = sum;
        }
        if (redraw) redraw();
        if (s >= kFullStep) return Outcome::Converged;
    }
}

} // namespace

void RefineGaussians(State& st, int16_t k, const std::function<void()>& redraw) {
    if (k < 1 || k > st.nSp || st.FitMode == 0 || BandCount(st) == 0) return;
    st.ErrCode = 0;
    Outcome outcome = Outcome::Failed;
    bool haveBlock = false;
    try {
        std::vector<int> first, last;
        FindGaussBlocks(st, first, last);
        haveBlock = first[k] != 0;
        if (haveBlock) outcome = Iterate(st, k, first[k], last[k], redraw);
    } catch (const RuntimeError&) {
        outcome = Outcome::Failed;
    }

    if (outcome == Outcome::Cancelled) {
        st.Message("Cancelled  ", Icon::Exclamation);
        return;
    }
    const int16_t code = outcome == Outcome::Converged ? 0 : -1;
    // A species without bands has nothing refined to keep.
    if (haveBlock) {
        try {
            WriteGaussianTable(st, 0);
        } catch (const RuntimeError&) {
            if (outcome == Outcome::Converged) outcome = Outcome::Failed;
        }
    }
    if (outcome == Outcome::Failed) {
        st.Message("Error while refining Gaussians. Rebuild them  ", Icon::Critical);
        st.ErrCode = -1;
        return;
    }
    st.ErrCode = code;
}

} // namespace lumora
