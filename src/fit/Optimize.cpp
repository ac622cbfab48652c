#include "fit/Optimize.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "fit/LevenbergMarquardt.h"
#include "fit/OptimizeRun.h"

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

/// The damped Newton search along a scaled gradient direction.
class Descent : public OptimizeRun {
public:
    using OptimizeRun::OptimizeRun;

private:
    OptimizeEnd Iterate() override {
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
};

} // namespace

std::optional<FitMethod> MethodNamed(const std::string& name) {
    const std::string n = LCase(name);
    if (n == "descent") return FitMethod::Descent;
    if (n == "lm") return FitMethod::LevenbergMarquardt;
    return std::nullopt;
}

OptimizeResult Optimize(State& st, const OptimizeOptions& options) {
    // The factor mode fits a reconstruction of the data that the goal function keeps to
    // itself: there are no residuals to take steps on.
    if (options.method == FitMethod::LevenbergMarquardt && st.nFactors == 0)
        return LevenbergMarquardt(st, options);
    return Descent(st, options).Run();
}

} // namespace lumora
