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

/// What the goal function divides the weighted sum of the solutions' mean squares by:
/// the solutions less the species, in the Gaussian mode less the band parameters per
/// wavelength.
double GoalDegreesOfFreedom(const State& st);

/// How the normal mode spends its effort. No setting changes a bit of the results but
/// eliminationOnly, which changes them by rounding.
struct GoalTuning {
    int threads = 0;              ///< 0: one per core (at most 8)
    long parallelWork = 100000;   ///< solutions x wavelengths x species from which threads help
    bool eliminationOnly = false; ///< every wavelength by elimination from scratch (slower)
};

/// The process's tuning; set it before evaluating.
GoalTuning& GoalSettings();

} // namespace lumora
