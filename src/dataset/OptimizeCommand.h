#pragma once
// The "Optimize" command around the optimizer: the re-read, the host's status bar and
// the sheet's events, the "Result" column and the "Mean err.:" row after each
// iteration, the table of extinction coefficients and calculated absorbances beside
// the spectra, and the confidence intervals after convergence.

#include "dataset/ReadDataSet.h"
#include "fit/Optimize.h"
#include "model/State.h"

#include <functional>
#include <optional>

namespace lumora {

/// What the windows do around a run (unset: nothing).
struct OptimizeViews {
    /// Before a re-read of an edited sheet (the absorption view closes).
    std::function<void()> beforeReread;
    /// After a re-read, good or failed.
    std::function<void()> afterReread;
    /// After each iteration has been written (the absorption view follows it).
    std::function<void()> afterIteration;
};

/// Runs the command and tells how the optimizer ended (StartFailed also when the
/// command stopped before it). The method is `method` when given, otherwise the one the
/// data set's options name ("/method="); likewise the interval method (`intervals`,
/// "/intervals="). Outcome in ErrCode: 0 after a normal end, -1
/// after Esc or a run-time error (its message shown), otherwise the code left by the
/// reader or the goal function.
OptimizeEnd OptimizeCommand(State& st, const ReadRequest& request, const OptimizeViews& views = {},
                            std::optional<FitMethod> method = std::nullopt,
                            std::optional<IntervalMethod> intervals = std::nullopt);

/// Why there is nothing to optimize: the species fixed by a "Result" value, or that no
/// free species moves the error.
std::string NothingToOptimizeReason(const State& st);

} // namespace lumora
