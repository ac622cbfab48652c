#pragma once
// A value of the shared state as the chart stores it: a 32-bit float, with missing
// values (1e33 and above in magnitude) and values that are no number turned into the
// chart's break marker, so that they interrupt the line instead of spoiling the axes.

#include "model/State.h"

#include <cmath>

namespace lumora {

inline constexpr float kChartBreak = 1e35f;

inline float ChartValue(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= kMissingLimit) return kChartBreak;
    return static_cast<float>(v);
}

} // namespace lumora
