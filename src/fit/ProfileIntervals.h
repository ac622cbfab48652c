#pragma once

#include "model/State.h"

namespace lumora {

/// Profile-likelihood intervals after a converged optimization. For each free species the
/// two Gibbs energies either side of the optimum where the goal function, minimised over
/// the other free species (Levenberg-Marquardt steps, warm-started from the previous
/// profile point), rises to the F test's threshold of one parameter at 95 %:
/// E0 (1 + F(0.95; 1, n - p) / (n - p)), n the valid absorbances and p the free species
/// plus the linear parameters. GLo and GHi get the bounds (empty where the profile stays
/// below the threshold within 50 kJ/mol), GErr the larger half-width (0 unless both
/// bounds were found), GCorr the correlation of the refined energies from J'J, and
/// IntervalNote names the species left undetermined. Needs HasResiduals. Esc, failures and
/// run-time errors and the return to the optimum as in ConfidenceIntervals. True when the
/// phase ran to its end.
bool ProfileIntervals(State& st);

} // namespace lumora
