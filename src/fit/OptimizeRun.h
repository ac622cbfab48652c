#pragma once
// What every optimization method shares with the user: the start from the "Result"
// values, the error sqrt(Goal), the report of an accepted iteration, the staged band
// accuracy of the Gaussian mode, and the way back to the shown parameters after Esc.

#include "fit/Optimize.h"

#include <cstdint>

namespace lumora {

class OptimizeRun {
public:
    OptimizeRun(State& st, const OptimizeOptions& options);
    virtual ~OptimizeRun() = default;
    OptimizeRun(const OptimizeRun&) = delete;
    OptimizeRun& operator=(const OptimizeRun&) = delete;

    /// Start, the method's iterations, and after Esc the model state of the shown
    /// parameters.
    OptimizeResult Run();

protected:
    /// The method's iterations from the evaluated start (RmsErr, the model state).
    virtual OptimizeEnd Iterate() = 0;

    /// sqrt(Goal(probe)); false when the goal function failed or Esc was pressed.
    bool Error(int16_t probe, double& e);
    /// Counts the iteration, shows it, and hands the new parameters to the caller.
    /// False when Esc was pressed before they were shown.
    bool Report();
    /// The normal mode has converged; the Gaussian mode first raises the accuracy of
    /// its band fits in two stages.
    bool ConvergedAtAccuracy();

    State& st_;
    Ui& ui_;
    const OptimizeOptions& options_;

private:
    /// From the "Result" values (the start values where the sheet shows none).
    bool Start();
    /// Esc may stop an evaluation halfway or at a probe point: evaluate once more at the
    /// parameters last shown, so that the model state belongs to them. The code stays
    /// the interrupt's.
    void BackToShownParameters();

    /// The parameters last handed to the caller (the start values before the first).
    Vec<double> shown_;
};

} // namespace lumora
