#include "fit/Optimize.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "model/ReadFixedMarks.h"

#include <cmath>
#include <string>

namespace lumora {

namespace {

/// Probe step of the coordinate and directional differences (times GScale for a coordinate).
constexpr double kProbeStep = 0.01;
/// A line search whose step falls to this length has collapsed.
constexpr double kMinStep = 0.0001;

double Sign(double x) {
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
}

class Optimizer {
public:
    Optimizer(State& st, const OptimizeOptions& options)
        : st_(st), ui_(*st.ui), options_(options) {}

    OptimizeResult Run() {
        OptimizeResult result;
        result.end = Start() ? Iterate() : OptimizeEnd::StartFailed;
        if (result.end == OptimizeEnd::Stopped && st_.ErrCode == kInterrupt)
            BackToShownParameters();
        result.iterations = st_.IterCount;
        return result;
    }

private:
    /// sqrt(Goal(probe)); false when the goal function failed or Esc was pressed.
    bool Error(int16_t probe, double& e) {
        const double value = CallGoal(st_, probe);
        if (st_.ErrCode != 0) return false;
        e = CheckedSqrt(value);
        return true;
    }

    /// From the "Result" values (the start values where the sheet shows none).
    bool Start() {
        st_.IterCount = 0;
        st_.GaussLimit = 0.95;
        if (st_.FitMode != 0)
            ReadFixedMarks(st_);
        else
            st_.GaussFixed.Erase();
        for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Res(i);
        shown_ = st_.G0;
        return Error(0, st_.RmsErr);
    }

    OptimizeEnd Iterate() {
        for (;;) {
            ui_.yield();
            if (st_.ErrCode != 0) return OptimizeEnd::Stopped; // Esc between two iterations
            double sum = 0.0;
            if (!ProbeCoordinates(sum)) return OptimizeEnd::Stopped;
            if (sum == 0.0) return OptimizeEnd::NothingToOptimize;
            Normalise(std::sqrt(sum));
            if (!ProbeDirection()) return OptimizeEnd::Stopped;
            double s = NewtonStep();
            bool stalled = false;
            if (!LineSearch(s, stalled)) return OptimizeEnd::Stopped;
            if (!Report()) return OptimizeEnd::Stopped;
            if (st_.ErrLo == 0.0 && (std::fabs(s) < kMinStep || stalled) && ConvergedAtAccuracy())
                return OptimizeEnd::Converged;
        }
    }

    /// A Newton-scaled slope per free species from two probes at +-GScale * step;
    /// sum collects the squared slopes. False when a probe failed.
    bool ProbeCoordinates(double& sum) {
        for (int i = 1; i <= st_.nSp; ++i) {
            if (!st_.SpFree(i)) {
                st_.SearchDir(i) = 0.0;
                continue;
            }
            const double h = static_cast<double>(st_.GScale(i)) * kProbeStep;
            if (!ProbeBothSides(i, h)) return false;
            const double g = CheckedDiv(st_.ErrHi - st_.ErrLo, h + h);
            const double c = CheckedDiv((st_.ErrHi - st_.RmsErr) + (st_.ErrLo - st_.RmsErr), h * h);
            const double d = c != 0.0 ? CheckedDiv(g, std::fabs(c)) : Sign(g) * h;
            st_.SearchDir(i) = d;
            sum = CheckFinite(sum + d * d);
        }
        return st_.ErrCode == 0;
    }

    /// ErrLo and ErrHi at G0(i) -+ h; G0(i) is left as it was.
    bool ProbeBothSides(int i, double h) {
        const double x0 = st_.G0(i);
        st_.G0(i) = x0 - h;
        const bool lo = Error(-1, st_.ErrLo);
        st_.G0(i) = x0;
        if (!lo) return false;
        st_.G0(i) = x0 + h;
        const bool hi = Error(-1, st_.ErrHi);
        st_.G0(i) = x0;
        return hi;
    }

    void Normalise(double n) {
        for (int i = 1; i <= st_.nSp; ++i) st_.SearchDir(i) = st_.SearchDir(i) / n;
    }

    /// ErrLo and ErrHi one probe step back and forth along the direction, from G0Save.
    /// A failed probe leaves the parameters where the line search would start.
    bool ProbeDirection() {
        const double t = kProbeStep;
        for (int i = 1; i <= st_.nSp; ++i) {
            st_.G0Save(i) = st_.G0(i);
            st_.G0(i) = st_.G0Save(i) - t * st_.SearchDir(i);
        }
        bool ok = Error(-1, st_.ErrLo);
        if (ok) {
            for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Save(i) + t * st_.SearchDir(i);
            ok = Error(-1, st_.ErrHi);
        }
        if (!ok)
            for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Save(i);
        return ok;
    }

    /// Newton step along the direction, long steps damped logarithmically.
    double NewtonStep() const {
        const double t = kProbeStep;
        const double g = (st_.ErrHi - st_.ErrLo) / (t + t);
        const double c =
            std::fabs(((st_.ErrHi - st_.RmsErr) + (st_.ErrLo - st_.RmsErr)) / (t * t)) +
            std::fabs(g) * t;
        double s = c != 0.0 ? CheckFinite(-g / c) : -t;
        if (std::fabs(s) > t) s = (1.0 + std::log(std::fabs(s) / t)) * Sign(s) * t;
        return s;
    }

    /// Halves s until the error does not rise by more than RelTol. A step that gains
    /// less than RelTol of the error ends the run like a collapse: the minimum is as
    /// close as the search resolves. Otherwise a direction along which the error does
    /// not change (a vanishing species whose band height makes up for its
    /// concentration) is followed for ever. False when the goal function failed.
    bool LineSearch(double& s, bool& stalled) {
        for (;;) {
            MoveTo(s);
            if (!Error(0, st_.ErrHi)) return false;
            if (st_.ErrHi < st_.RmsErr) {
                stalled = st_.RmsErr - st_.ErrHi <= st_.RelTol * st_.RmsErr;
                st_.RmsErr = st_.ErrHi;
                break;
            }
            if (WithinTolerance(st_.ErrHi, st_.RmsErr)) {
                stalled = true;
                break;
            }
            s = s / 2.0;
            st_.ErrLo = 0.0;
            if (std::fabs(s) > kMinStep) continue;
            // Collapsed: keep the rejected trial point and loosen the tolerance.
            st_.RelTol = st_.RelTol * 10.0;
            break;
        }
        if (stalled) {
            st_.ErrLo = 0.0;
            st_.RelTol = st_.RelTol * 10.0;
        }
        return true;
    }

    void MoveTo(double s) {
        for (int i = 1; i <= st_.nSp; ++i) {
            if (!st_.SpFree(i)) continue;
            st_.G0(i) = st_.G0Save(i) + s * st_.SearchDir(i);
            st_.G0Res(i) = CSng(st_.G0(i));
        }
    }

    /// ErrHi / RmsErr <= 1 + RelTol, read as "no worse than" when RmsErr is 0.
    bool WithinTolerance(double err, double best) const {
        if (best == 0.0) return err <= 0.0;
        return err / best <= 1.0 + st_.RelTol;
    }

    /// Counts the iteration, shows it, and hands the new parameters to the caller.
    /// False when Esc was pressed before they were shown.
    bool Report() {
        st_.IterCount = CInt16(st_.IterCount + 1.0);
        ui_.status("Iteration: " + std::to_string(st_.IterCount) +
                   ",    Error: " + Trim(FormatNumber(st_.RmsErr, "0.000000")));
        ui_.yield();
        if (st_.ErrCode != 0) return false;
        shown_ = st_.G0;
        if (options_.onIteration) options_.onIteration(st_);
        return true;
    }

    /// The normal mode has converged; the Gaussian mode first raises the accuracy of
    /// its band fits in two stages.
    bool ConvergedAtAccuracy() {
        if (st_.FitMode == 0 || st_.GaussLimit == 0.9995) return true;
        if (st_.GaussLimit < 0.995)
            st_.GaussLimit = 0.995;
        else if (st_.GaussLimit < 0.9995)
            st_.GaussLimit = 0.9995;
        return false;
    }

    /// Esc may stop an evaluation halfway or at a probe point: evaluate once more at the
    /// parameters last shown, so that the model state belongs to them. The code stays
    /// the interrupt's.
    void BackToShownParameters() {
        st_.G0 = shown_;
        CallGoal(st_, -1);
        st_.ErrCode = kInterrupt;
    }

    State& st_;
    Ui& ui_;
    const OptimizeOptions& options_;
    /// The parameters last handed to the caller (the start values before the first).
    Vec<double> shown_;
};

} // namespace

OptimizeResult Optimize(State& st, const OptimizeOptions& options) {
    return Optimizer(st, options).Run();
}

} // namespace lumora
