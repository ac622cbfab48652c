#pragma once
// The map between axis units and pixels of the plot frame, used both ways: the
// drawing turns values into pixels, a double click turns a pixel back into values.

#include "chart/scale/AxisState.h"

#include <cstdint>
#include <optional>

namespace lumora {

/// Nearest integer (ties to even) of a pixel coordinate; raises "Overflow" when it
/// does not fit 32 bits (also for NaN).
int32_t PixelRound(double v);

/// A data value in axis units: its decimal logarithm on a log axis, where values at
/// or below 1E-35 go to -39, far below any axis.
float AxisUnits(float v, bool logScale);

/// Axis values v0..v1 laid on pixels p0..p1.
class ScaleMap {
public:
    ScaleMap(float v0, float v1, int32_t p0, int32_t p1);
    /// AxisLow at PlotLeft to AxisHigh at PlotRight.
    static ScaleMap X(const AxisState& axis, int32_t plotLeft, int32_t plotRight);
    /// AxisHigh at PlotTop to AxisLow at PlotBottom (pixels grow downwards).
    static ScaleMap Y(const AxisState& axis, int32_t plotTop, int32_t plotBottom);

    /// Pixels per axis unit; raises "Division by zero" for an axis without extent.
    double Scale() const;
    /// Pixel (unrounded) of an axis value.
    double ToPixel(float v) const { return static_cast<double>(v - v0_) * Scale() + p0_; }
    /// Axis value at a pixel; nothing when the frame has no extent (never drawn).
    std::optional<float> ToValue(double pixel) const;

private:
    float v0_, v1_;
    int32_t p0_, p1_;
    double scale_;
    bool valid_;
};

} // namespace lumora
