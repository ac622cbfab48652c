#pragma once
// After an optimization in the Gaussian mode: whether its result can be trusted. Bands
// that cannot describe the spectra give energies and intervals that look precise and are
// wrong; the normal mode at the same energies shows how much of the misfit the bands add.

#include "model/State.h"

namespace lumora {

/// A Gaussian-mode mean error above this multiple of the normal mode's at the same
/// energies is the bands' misfit, not the measurements' noise.
inline constexpr double kGaussClearlyWorse = 1.5;

/// In the Gaussian mode, shows a warning when the mean error RmsErr is clearly worse than
/// the normal mode's at the energies G0, or when no free energy moved from `start`.
/// Nothing in the normal mode. The model state (Gaussian mode), ErrCode and Damping stay.
void CheckGaussianResult(State& st, const Vec<float>& start);

} // namespace lumora
