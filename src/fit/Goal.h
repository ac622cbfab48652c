#pragma once
// The goal function: from the Gibbs energies G0 to the weighted misfit between
// measured and calculated absorbances, leaving the concentrations (Conc), the
// extinction coefficients (Eps) and the calculated absorbances (AbsC) behind
// for the views and the optimizer.

#include "model/State.h"

#include <cstdint>

namespace lumora {

/// Weighted mean-square misfit at the parameters G0, divided by the degrees of
/// freedom. ErrCode 0 on success; otherwise the value is meaningless (0) and
/// ErrCode is -1 (after a message as a rule) or -16384 (interrupt, nothing shown).
/// In the Gaussian mode the bands are fitted to the data at G0 on every call, by steps
/// that never raise the misfit. probe != 0 marks a probe evaluation: the band table is
/// then restored on exit and Eps recomputed from it, so a probe never moves the bands.
double Goal(State& st, int16_t probe);

} // namespace lumora
