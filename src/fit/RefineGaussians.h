#pragma once
// Damped Gauss-Newton refinement of the bands of one species against its reference
// extinction-coefficient curve (RefEps), step by step in view of the user.

#include "model/State.h"

#include <cstdint>
#include <functional>

namespace lumora {

/// Called after each iteration with its number (from 1), Eps(k, .) the current band sum.
using RefineProgress = std::function<void(int iteration)>;

/// Refines centre, width and log height of every band of species k (1..nSp) until a
/// full step is taken; only in Gaussian mode (FitMode != 0) with bands. A step that
/// would raise the deviation from RefEps is halved until it does not. Yields before
/// every iteration and calls progress (may be empty) after it. Converged: the band
/// values are written to the sheet, ErrCode 0. A singular system, a step scaled below
/// 1e-7 or a run-time error: the bands as far as refined are written, "Error while
/// refining Gaussians. Rebuild them" is shown and ErrCode = -1. Not converged after
/// 500 iterations: the bands are written, a warning says so and ErrCode = -1. An
/// interrupt (ErrCode < 0 after a yield): "Cancelled" is shown, nothing is written
/// and ErrCode stays as set.
void RefineGaussians(State& st, int16_t k, const RefineProgress& progress);

} // namespace lumora
