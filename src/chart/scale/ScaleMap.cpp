#include "chart/scale/ScaleMap.h"

#include "base/RuntimeError.h"
#include "chart/scale/ScaleAxis.h"

#include <cmath>

namespace lumora {

int32_t PixelRound(double v) {
    if (!(std::fabs(v) < 2147483648.0)) throw RuntimeError(kOverflow);
    const double r = std::nearbyint(v);
    if (r < -2147483648.0 || r > 2147483647.0) throw RuntimeError(kOverflow);
    return static_cast<int32_t>(r);
}

float AxisUnits(float v, bool logScale) {
    if (!logScale) return v;
    return v > 1E-35f ? ChartLog10(v) : -39.0f;
}

ScaleMap::ScaleMap(float v0, float v1, int32_t p0, int32_t p1)
    : v0_(v0), v1_(v1), p0_(p0), p1_(p1) {
    const float span = v1 - v0;
    valid_ = span != 0.0f && std::isfinite(span);
    scale_ = valid_ ? static_cast<double>(p1 - p0) / static_cast<double>(span) : 0.0;
}

ScaleMap ScaleMap::X(const AxisState& axis, int32_t plotLeft, int32_t plotRight) {
    return ScaleMap(axis.AxisLow, axis.AxisHigh, plotLeft, plotRight);
}

ScaleMap ScaleMap::Y(const AxisState& axis, int32_t plotTop, int32_t plotBottom) {
    return ScaleMap(axis.AxisHigh, axis.AxisLow, plotTop, plotBottom);
}

double ScaleMap::Scale() const {
    if (!valid_) throw RuntimeError(kDivisionByZero);
    return scale_;
}

std::optional<float> ScaleMap::ToValue(double pixel) const {
    if (p1_ == p0_) return std::nullopt;
    const double v =
        static_cast<double>(v0_) + static_cast<double>(v1_ - v0_) * (pixel - p0_) / (p1_ - p0_);
    if (!std::isfinite(v) || std::fabs(v) > 3.4e38) return std::nullopt;
    return static_cast<float>(v);
}

} // namespace lumora
