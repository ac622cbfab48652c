#include "fit/Intervals.h"

#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/GoalResiduals.h"
#include "fit/IntervalDiagnostics.h"
#include "fit/IntervalPhase.h"
#include "fit/ProfileIntervals.h"
#include "linalg/Chi2Quantile95.h"
#include "linalg/InvertSymmetric.h"

#include <cmath>

namespace lumora {

namespace {

/// Largest step of the difference quotients: doubling stops once h reaches 100,
/// so the last step used is 0.01 x 2^14 = 163.84.
constexpr double kStepLimit = 100.0;

struct Phase {
    State& st;
    /// The goal function ran away from the optimum, or was stopped there by Esc.
    bool& moved;
    double e0 = 0.0;
    /// The phase reached its end: GErr holds the intervals (or zeros after a failure).
    bool done = false;
    int count = 0;
    int total = 0;

    /// Goal(-1) at the current G0; false when the goal function failed or Esc was pressed.
    bool Probe(double& e) {
        moved = true;
        e = CallGoal(st, -1);
        return st.ErrCode == 0;
    }
    bool Significant(double e) const { return std::fabs(e0 - e) > e0 * st.RelTol; }

    /// One more Hessian element: progress box and a chance for Esc.
    bool Step() {
        ++count;
        st.ui->progress(static_cast<double>(count) / total);
        st.ui->yield();
        return st.ErrCode == 0;
    }

    bool Diagonal(int i, Mat<double>& H, int k) {
        const double x0 = st.G0(i);
        double h = 0.01;
        double eHi = 0.0, eLo = 0.0;
        for (;;) {
            st.G0(i) = x0 + h;
            if (!Probe(eHi)) return false;
            st.G0(i) = x0 - h;
            if (!Probe(eLo)) return false;
            if (Significant(eHi) || Significant(eLo) || h >= kStepLimit) break;
            h += h;
        }
        st.G0(i) = x0;
        H(k, k) = CheckedDiv((eLo + eHi) - 2.0 * e0, h * h) * (1.0 + st.RelTol);
        return true;
    }

    bool OffDiagonal(int i, int j, Mat<double>& H, int k, int l) {
        const double x0 = st.G0(i);
        const double y0 = st.G0(j);
        static constexpr int kSign[4][3] = {{1, 1, 1}, {-1, -1, 1}, {1, -1, -1}, {-1, 1, -1}};
        double h = 0.01;
        double s = 0.0;
        for (;;) {
            s = 0.0;
            bool significant = false;
            for (const auto& c : kSign) {
                st.G0(i) = x0 + c[0] * h;
                st.G0(j) = y0 + c[1] * h;
                double e = 0.0;
                if (!Probe(e)) return false;
                s += c[2] * e;
                significant = significant || Significant(e);
            }
            if (significant || h >= kStepLimit) break;
            h += h;
        }
        st.G0(i) = x0;
        st.G0(j) = y0;
        H(k, l) = CheckedDiv(s, h * h * 4.0);
        H(l, k) = H(k, l);
        return true;
    }

    void Run() {
        st.ui->progress(-1.0);
        st.ui->yield();
        if (st.ErrCode != 0) return;

        const int m = CountFree();
        st.GaussLimit = 0.99995;
        total = m * (m + 1) / 2;

        e0 = CallGoal(st, 0);
        if (st.ErrCode != 0) {
            // A half-done evaluation leaves half-updated results; a failure has
            // already been reported and would only be repeated.
            moved = st.ErrCode == kInterrupt;
            return;
        }
        st.RmsErr = e0;

        Mat<double> H(m, m);
        if (!FillHessian(H)) return;
        const Mat<double> hessian = H;
        InvertSymmetric(st.nFree, H);
        if (st.nFree == 0) {
            Fail("Could not invert Hessian", hessian);
            return;
        }
        if (!SetIntervals(H, hessian, m)) return;
        SetCorrelation(st, hessian, m);
        done = true;
    }

    /// Counts the refined species into st.nFree.
    int CountFree() {
        int16_t free = 0;
        for (int i = 1; i <= st.nSp; ++i)
            if (st.SpFree(i)) ++free;
        st.nFree = free;
        return free;
    }

    /// The Hessian of the refined species by difference quotients, row by row; false
    /// when the goal function failed or Esc was pressed.
    bool FillHessian(Mat<double>& H) {
        int k = 0;
        for (int i = 1; i <= st.nSp; ++i) {
            if (!st.SpFree(i)) continue;
            ++k;
            if (!Step() || !Diagonal(i, H, k)) return false;
            int l = k;
            for (int j = i + 1; j <= st.nSp; ++j) {
                if (!st.SpFree(j)) continue;
                ++l;
                if (!Step() || !OffDiagonal(i, j, H, k, l)) return false;
            }
        }
        return true;
    }

    /// GErr from the diagonal of the inverted Hessian; false (after Fail) when a
    /// diagonal element is negative.
    bool SetIntervals(const Mat<double>& inverse, const Mat<double>& hessian, int m) {
        // Linear parameters: three per Gaussian band, else one extinction
        // coefficient per species and wavelength.
        const double linear =
            st.FitMode == 1 ? 3.0 * st.GaussTab(0, 0) : static_cast<double>(st.nWl) * st.nSp;
        const double absorbances = static_cast<double>(st.nWl) * st.nSol;
        const double q = Chi2Quantile95(static_cast<int16_t>(m));
        const double f = CheckedDiv(2.0 * q * m * e0, absorbances - linear);

        int k = 0;
        for (int i = 1; i <= st.nSp; ++i) {
            if (!st.SpFree(i)) {
                st.GErr(i) = 0.0f;
                continue;
            }
            ++k;
            const double v = inverse(k, k);
            if (v < 0.0) {
                Fail("Could not estimate intervals", hessian);
                return false;
            }
            st.GErr(i) = CSng(CheckedSqrt(v * f));
        }
        return true;
    }

    /// The curvature that explains the intervals: J'J of the residuals when the goal
    /// function shows them (positive semi-definite, unlike a Hessian spoilt by noise),
    /// else the Hessian. False when the goal function failed or Esc was pressed.
    bool Curvature(const Mat<double>& hessian, Mat<double>& a) {
        if (!HasResiduals(st)) {
            a = hessian;
            return true;
        }
        const Vec<double> optimum = st.G0;
        const bool ok = GaussNewtonMatrix(st, FreeSpecies(st), a);
        st.G0 = optimum;
        return ok;
    }

    /// No intervals: the message names the species the data cannot tell apart, and the
    /// correlation is kept where the curvature still gives one.
    void Fail(const std::string& what, const Mat<double>& hessian) {
        st.GErr.Fill(0.0f);
        st.IntervalNote = what;
        Mat<double> a;
        if (Curvature(hessian, a)) {
            const std::vector<int> free = FreeSpecies(st);
            SetCorrelation(st, a, static_cast<int>(free.size()));
            st.IntervalNote += "\n" + UndeterminedReason(st, free, a);
        }
        if (st.ErrCode == 0) st.Message(st.IntervalNote + "  ", Icon::Exclamation);
        done = st.ErrCode == 0;
    }
};

} // namespace

bool ConfidenceIntervals(State& st) {
    st.GCorr.Erase();
    st.GLo.Erase(), st.GHi.Erase();
    st.IntervalNote.clear();
    return AtOptimumAfterwards(st, [&](bool& moved) {
        Phase phase{st, moved};
        phase.Run();
        return phase.done;
    });
}

bool EstimateIntervals(State& st, IntervalMethod method) {
    if (method == IntervalMethod::Hessian) return ConfidenceIntervals(st);
    if (HasResiduals(st)) return ProfileIntervals(st);
    const bool done = ConfidenceIntervals(st);
    if (st.IntervalNote.empty())
        st.IntervalNote = "Hessian intervals: the profiles need the residuals of the fit, "
                          "which the factor mode keeps to itself";
    return done;
}

} // namespace lumora
