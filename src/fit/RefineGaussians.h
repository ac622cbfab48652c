#pragma once
// Damped Gauss-Newton refinement of the bands of one species against its reference
// extinction-coefficient curve (RefEps), step by step in view of the user.

#include "model/State.h"

#include <cstdint>
#include <functional>

namespace lumora {

/// Refines centre, width and log height of every band of species k (1..nSp) until a
/// full step is taken; only in Gaussian mode (FitMode != 0) with bands. Yields before
/// every iteration and calls redraw (may be empty) after it, with Eps(k, .) the
/// current band sum. Converged: the band values are written to the sheet, ErrCode 0.
/// A singular system, a step scaled below 1e-7 or a run-time error: the bands as far
/// as refined are written, "Error while refining Gaussians. Rebuild them" is shown and
/// ErrCode = -1. An interrupt (ErrCode < 0 after a yield): "Cancelled" is shown,
/// nothing is written and ErrCode stays as set.
void RefineGaussians(State& st, int16_t k, const std::function<void()>& redraw);

} // namespace lumora
