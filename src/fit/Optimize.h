#pragma once

#include "model/State.h"

#include <functional>
#include <optional>
#include <string>

namespace lumora {

/// How a run of the optimizer ended.
enum class OptimizeEnd {
    /// The start could not be evaluated; ErrCode holds the goal function's code.
    StartFailed,
    /// ErrCode became non-zero during the iterations: Esc (kInterrupt) or a failure of
    /// the goal function. After Esc the state is back at the last reported parameters.
    Stopped,
    /// No free species moves the error; G0 holds the start values.
    NothingToOptimize,
    /// The step fell below the resolution of the search at the final accuracy.
    Converged,
};

/// The method a "/method=" switch or a "--method" argument names ("descent" or "lm", any
/// letter case); nothing for another name.
std::optional<FitMethod> MethodNamed(const std::string& name);

struct OptimizeOptions {
    FitMethod method = FitMethod::Descent;
    /// Called after every accepted iteration, with G0, RmsErr and the model state at the
    /// new parameters: the caller shows them (sheet cells, band table, views).
    std::function<void(State&)> onIteration;
};

struct OptimizeResult {
    OptimizeEnd end = OptimizeEnd::StartFailed;
    /// Accepted iterations (also in IterCount)
    int iterations = 0;
};

/// Refines the Gibbs energies G0 of the free species, starting from G0Res, by the chosen
/// method. The descent method is a damped Newton search along a scaled gradient
/// direction of the error sqrt(Goal): coordinate probes give a Newton-scaled slope per
/// species, two probes along the normalised direction a step, and a line search halves
/// it until the error does not rise. In the Gaussian mode the band accuracy GaussLimit is
/// raised in two stages before the run may converge. Run-time errors reach the caller.
OptimizeResult Optimize(State& st, const OptimizeOptions& options);

} // namespace lumora
