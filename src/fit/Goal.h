#pragma once

#include "app/State.h"

namespace lumora {

/// The goal function: weighted mean-square misfit at the parameters G0. probe != 0
/// marks a probe evaluation that leaves the Gaussian bands unchanged.
double Goal(State& st, int16_t probe);

} // namespace lumora
