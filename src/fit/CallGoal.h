#pragma once

#include "model/State.h"

#include <cstdint>

namespace lumora {

/// Goal(probe), or the replacement installed in st.hooks.goal (tests drive the
/// optimizer and the intervals with synthetic goal functions through it).
double CallGoal(State& st, int16_t probe);

} // namespace lumora
