#include "fit/RefineGaussians.h"

#include "base/RuntimeError.h"
#include "linalg/LinearAlgebra.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace lumora {

namespace {

/// The applied step must be at least this fraction of the Gauss-Newton step.
constexpr double kMinStep = 1e-7;
/// A step of at least this fraction counts as the full step: converged.
constexpr double kFullStep = 0.9995;

/// A step that lowers the deviation by less than this part of it gains only rounding.
constexpr double kNoGain = 1e-12;
/// Iterations after which a refinement that has not converged stops.
constexpr int kMaxIterations = 500;

enum class Outcome { Converged, Failed, Cancelled, Stopped };

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

/// Sum of squared deviations of the bands first..last from the reference curve of species k.
double Deviation(const State& st, int k, int first, int last, const std::vector<double>& x) {
    double s = 0.0;
    for (int w = 1; w <= st.nWl; ++w) {
        double r = st.RefEps(k, w);
        for (int g = first; g <= last; ++g) r -= GaussBand(st, static_cast<int16_t>(g), x[w]);
        s += r * r;
    }
    return CheckFinite(s);
}

/// The Gauss-Newton normal equations of the block at its present bands, the step in
/// nrm(., 0) once solved.
void BuildNormal(State& st, int k, int first, int m, const std::vector<double>& x, Mat<double>& jac,
                 Mat<double>& nrm) {
    const int np = 3 * m;
    for (int w = 1; w <= st.nWl; ++w) {
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
            for (int w = 1; w <= st.nWl; ++w) s += jac.At(w, j) * jac.At(w, i);
            if (j == i) s *= 1.0 + st.Damping;
            nrm(i, j) = s;
            if (j > 0 && j < i) nrm(j, i) = s;
        }
    }
    CheckFinite(nrm(np, np));
}

/// Moves the block from `from` by s times the step; false when a centre left [lo, hi].
bool MoveBands(State& st, int first, int m, const std::vector<double>& from, const Mat<double>& nrm,
               double s, double lo, double hi) {
    bool inRange = true;
    for (int b = 1; b <= m; ++b) {
        const int g = first + b - 1;
        for (int i = 1; i <= 3; ++i) {
            const int a = 3 * (b - 1) + i;
            st.GaussTab(i, g) = CheckFinite(from[a] + s * nrm(a, 0));
        }
        const double c = st.GaussTab(1, g);
        if (c < lo || c > hi) inRange = false;
    }
    return inRange;
}

Outcome Iterate(State& st, int k, int first, int last, const RefineProgress& progress) {
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
    double deviation = Deviation(st, k, first, last, x);

    for (int iteration = 1;; ++iteration) {
        st.ui->yield();
        if (st.ErrCode < 0) return Outcome::Cancelled;
        if (iteration > kMaxIterations) return Outcome::Stopped;

        BuildNormal(st, k, first, m, x, jac, nrm);
        SolveSystem(st.ErrCode, static_cast<int16_t>(np), nrm);
        if (st.ErrCode > 0) return Outcome::Failed;
        if (st.ErrCode < 0) return Outcome::Cancelled;

        double s = StepScale(st, first, m, nrm, lo, hi);
        if (!(s >= kMinStep)) return Outcome::Failed;
        for (int b = 1; b <= m; ++b)
            for (int i = 1; i <= 3; ++i) previous[3 * (b - 1) + i] = st.GaussTab(i, first + b - 1);
        // A full step can overshoot, and the next one overshoot back: the bands would
        // cycle for ever. A step that raises the deviation is halved instead.
        for (;;) {
            if (!MoveBands(st, first, m, previous, nrm, s, lo, hi)) {
                // The sheet gets the last bands inside the spectrum, not the stray step.
                MoveBands(st, first, m, previous, nrm, 0.0, lo, hi);
                return Outcome::Failed;
            }
            const double trial = Deviation(st, k, first, last, x);
            if (trial <= deviation) {
                // A step that gains nothing measurable ends at the minimum.
                if (deviation - trial <= kNoGain * deviation) s = 1.0;
                deviation = trial;
                break;
            }
            s /= 2;
            if (s < kMinStep) {
                // No step along the Gauss-Newton direction does better: a minimum.
                MoveBands(st, first, m, previous, nrm, 0.0, lo, hi);
                s = 1.0;
                break;
            }
        }

        for (int w = 1; w <= nWl; ++w) {
            double sum = 0.0;
            for (int g = first; g <= last; ++g) sum += GaussBand(st, static_cast<int16_t>(g), x[w]);
            st.Eps(k, w) = sum;
        }
        if (progress) progress(iteration);
        if (s >= kFullStep) return Outcome::Converged;
    }
}

} // namespace

void RefineGaussians(State& st, int16_t k, const RefineProgress& progress) {
    if (k < 1 || k > st.nSp || st.FitMode == 0 || BandCount(st) == 0) return;
    st.ErrCode = 0;
    Outcome outcome = Outcome::Failed;
    bool haveBlock = false;
    try {
        std::vector<int> first, last;
        FindGaussBlocks(st, first, last);
        haveBlock = first[k] != 0;
        if (haveBlock) outcome = Iterate(st, k, first[k], last[k], progress);
    } catch (const RuntimeError&) {
        outcome = Outcome::Failed;
    }

    if (outcome == Outcome::Cancelled) {
        st.Message("Cancelled (the bands keep their last values, not written to the sheet)  ",
                   Icon::Exclamation);
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
    if (outcome == Outcome::Stopped) {
        // Every step taken lowered the deviation: the bands kept are the best ones seen.
        st.Message("Refining stopped after " + std::to_string(kMaxIterations) +
                       " iterations (the best bands found are kept; refine again to go on)  ",
                   Icon::Exclamation);
        st.ErrCode = -1;
        return;
    }
    st.ErrCode = code;
}

} // namespace lumora
