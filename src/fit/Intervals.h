#pragma once

#include "model/State.h"

namespace lumora {

/// The interval phase after a converged optimization: the Hessian of the goal
/// function at the optimum by central differences (the step doubles from 0.01 until
/// the probes move the goal by more than RelTol), its inverse, and the 95 %
/// half-widths in GErr (0 for fixed species and after a failure), with the correlation
/// of the refined energies in GCorr. Failures of the goal function (or Esc) leave ErrCode
/// set; an exactly zero pivot gives "Could not invert Hessian" and a negative variance
/// "Could not estimate intervals", each followed on a new line by the species the data
/// cannot tell apart (also kept in IntervalNote). On every exit G0 is back at the optimum
/// and the goal function has been evaluated there once more (probe), so the views show
/// the result rather than the last probe. Run-time errors (zero degrees of freedom:
/// "Division by zero") reach the caller. True when the phase ran to its end, so that the
/// non-zero GErr belong on the sheet.
bool ConfidenceIntervals(State& st);

/// The intervals of the chosen method; profile intervals need the residuals of the fit
/// (HasResiduals), and without them the Hessian's are estimated, with a note.
bool EstimateIntervals(State& st, IntervalMethod method);

} // namespace lumora
