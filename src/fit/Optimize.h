#pragma once

#include "model/State.h"

namespace lumora {

/// The "Optimize" command: refines the Gibbs energies G0 of the free species by a
/// damped Newton search along a scaled gradient direction of the error
/// sqrt(Goal), writing each iteration into the "Result" column and the "Mean err.:"
/// row, then the table of extinction coefficients and calculated absorbances beside
/// the spectra, and after convergence the confidence intervals. Outcome in ErrCode:
/// 0 after a normal end, -1 after Esc or a run-time error, otherwise the code left
/// by the reader or the goal function.
void Optimize(State& st);

} // namespace lumora
