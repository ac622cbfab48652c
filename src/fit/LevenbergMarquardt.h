#pragma once
// The second path to the minimum of the goal function: Levenberg-Marquardt steps on its
// residual vector. The goal function eliminates the absorptivities by its non-negative
// least squares at every evaluation, so the steps move the Gibbs energies only.

#include "fit/Optimize.h"

namespace lumora {

/// Refines the Gibbs energies G0 of the free species, starting from G0Res: the Jacobian
/// of the residuals by forward differences (steps of 0.01 x GScale), then steps from
/// the damped normal equations until one lowers the error, the damping adapted to how
/// well the linear model foretold the gain. Converged when a full Gauss-Newton step
/// promises less than RelTol of the goal value, or when no step that the goal function
/// can resolve lowers it. In the Gaussian mode the band accuracy is raised in two stages
/// first, as in the descent method. Run-time errors reach the caller.
OptimizeResult LevenbergMarquardt(State& st, const OptimizeOptions& options);

} // namespace lumora
