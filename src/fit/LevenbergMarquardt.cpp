#include "fit/LevenbergMarquardt.h"

#include "base/RuntimeError.h"
#include "fit/IntervalDiagnostics.h"
#include "fit/MarquardtSteps.h"
#include "fit/OptimizeRun.h"

#include <cmath>
#include <optional>
#include <vector>

namespace lumora {

namespace {

class Marquardt : public OptimizeRun {
public:
    using OptimizeRun::OptimizeRun;

private:
    using Outcome = MarquardtSteps::Outcome;

    OptimizeEnd Iterate() override {
        const std::vector<int> free = FreeSpecies(st_);
        MarquardtSteps steps(st_, free, true);
        steps.onAccept = [&] {
            for (size_t k = 0; k < free.size(); ++k) st_.G0Res(free[k]) = CSng(steps.Best()[k]);
        };
        steps.Start(st_.RmsErr * st_.RmsErr);
        for (;;)
            if (const std::optional<OptimizeEnd> end = Iteration(steps)) return *end;
    }

    /// One Jacobian and a damped step down from it, or, when no step pays, the check for
    /// convergence. Nothing while the run goes on.
    std::optional<OptimizeEnd> Iteration(MarquardtSteps& steps) {
        ui_.yield();
        if (st_.ErrCode != 0) return OptimizeEnd::Stopped; // Esc between two iterations
        if (!steps.Jacobian()) return OptimizeEnd::Stopped;
        if (!steps.AnyMoves()) return OptimizeEnd::NothingToOptimize;
        if (steps.ExpectedGain() > st_.RelTol * steps.Value()) {
            const Outcome outcome = steps.Descend();
            if (outcome == Outcome::Stopped) return OptimizeEnd::Stopped;
            if (outcome == Outcome::Lowered) return Lowered(steps);
        }
        return AtMinimum(steps);
    }

    /// The step lowered the goal: report the new error.
    std::optional<OptimizeEnd> Lowered(const MarquardtSteps& steps) {
        st_.RmsErr = CheckedSqrt(steps.Value());
        if (!Report()) return OptimizeEnd::Stopped;
        return std::nullopt;
    }

    /// At the minimum as far as the goal function resolves it: converged, or in the
    /// Gaussian mode on with finer band fits.
    std::optional<OptimizeEnd> AtMinimum(MarquardtSteps& steps) {
        const bool converged = ConvergedAtAccuracy();
        if (!steps.EvaluateAtBest(converged ? -1 : 0)) return OptimizeEnd::Stopped;
        if (converged) return OptimizeEnd::Converged;
        st_.RmsErr = CheckedSqrt(steps.Value());
        steps.ResetDamping(); // the bands' finer fit is a new problem
        return std::nullopt;
    }
};

} // namespace

OptimizeResult LevenbergMarquardt(State& st, const OptimizeOptions& options) {
    return Marquardt(st, options).Run();
}

} // namespace lumora
