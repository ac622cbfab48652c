#pragma once
// The chart's tick engine: turns an axis's data range and settings into its
// range, label interval, labels and minor count. All arithmetic is in 32-bit
// floats so that charts come out the same on every machine.

#include "chart/scale/AxisState.h"

#include <string>

namespace lumora {

inline constexpr const char* kAxisLimitsNotDefined = "Axis limits not defined";
inline constexpr const char* kAxisLimitsInvalid = "Axis limits invalid";
inline constexpr const char* kTooManyDigits = "Too many digits in labels";
inline constexpr const char* kInconsistentLabelFormat = "Inconsistent label format";
inline constexpr const char* kInvalidMajorUnit = "Invalid major unit";
inline constexpr const char* kInternalError = "Internal error";

struct ScaleOutcome {
    /// The axis could not be scaled
    bool failed = false;
    /// What to tell the user; empty for the silent failure (all values 0)
    std::string message;
};

/// Scales one axis in place. A run-time failure (a float overflow, more labels
/// than a 16-bit count) raises RuntimeError; the drawing treats it as its own.
ScaleOutcome ScaleAxis(AxisState& axis);

/// Decimal logarithm as the chart takes it: ln(v) / 2.302585 in float.
/// Raises "Invalid procedure call or argument" for v <= 0.
float ChartLog10(float v);

/// A label: v rounded to `digits` decimals, at least one integer digit, no grouping,
/// the locale's decimal separator.
std::string LabelText(float v, int digits);
/// A label text read back as a float (the same separator convention).
float ReadLabel(const std::string& text);

} // namespace lumora
