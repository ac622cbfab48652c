#pragma once
// What every interval phase owes the views: it probes the goal function away from the
// optimum, and leaves the state at the optimum again.

#include "model/State.h"

#include <functional>

namespace lumora {

/// Runs `phase`, which returns whether it ran to its end and sets `moved` once it has left
/// the optimum. Afterwards, also after a run-time error (which goes on to the caller), G0
/// is back at the optimum and, when the phase had moved, evaluated there once more as a
/// probe so that Conc, Eps and AbsC belong to the parameters on the sheet; a code already
/// set (Esc, a failed probe) is kept. RmsErr shows the error as before the phase.
bool AtOptimumAfterwards(State& st, const std::function<bool(bool& moved)>& phase);

} // namespace lumora
