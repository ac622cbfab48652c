#include "fit/LevenbergMarquardt.h"

#include "base/RuntimeError.h"
#include "fit/MarquardtSteps.h"
#include "fit/OptimizeRun.h"

#include <cmath>
#include <vector>

namespace lumora {

namespace {

class Marquardt : public OptimizeRun {
public:
    using OptimizeRun::OptimizeRun;

private:
    using Outcome = MarquardtSteps::Outcome;

    OptimizeEnd Iterate() override {
        std::vector<int> free;
        for (int i = 1; i <= st_.nSp; ++i)
            if (st_.SpFree(i)) free.push_back(i);
        MarquardtSteps steps(st_, free, true);
        steps.onAccept = [&] {
            for (size_t k = 0; k < free.size(); ++k) st_.G0Res(free[k]) = CSng(steps.Best()[k]);
        };
        steps.Start(st_.RmsErr * st_.RmsErr);
        for (;;) {
            ui_.yield();
            if (st_.ErrCode != 0) return OptimizeEnd::Stopped; // Esc between two iterations
            if (!steps.Jacobian()) return OptimizeEnd::Stopped;
            if (!steps.AnyMoves()) return OptimizeEnd::NothingToOptimize;
            if (steps.ExpectedGain() > st_.RelTol * steps.Value()) {
                const Outcome outcome = steps.Descend();
                if (outcome == Outcome::Stopped) return OptimizeEnd::Stopped;
                if (outcome == Outcome::Lowered) {
                    st_.RmsErr = CheckedSqrt(steps.Value());
                    if (!Report()) return OptimizeEnd::Stopped;
                    continue;
                }
            }
            // At the minimum as far as the goal function resolves it.
            const bool converged = ConvergedAtAccuracy();
            if (!steps.EvaluateAtBest(converged ? -1 : 0)) return OptimizeEnd::Stopped;
            if (converged) return OptimizeEnd::Converged;
            st_.RmsErr = CheckedSqrt(steps.Value());
            steps.ResetDamping(); // the bands' finer fit is a new problem
        }
    }
};

} // namespace

OptimizeResult LevenbergMarquardt(State& st, const OptimizeOptions& options) {
    return Marquardt(st, options).Run();
}

} // namespace lumora
