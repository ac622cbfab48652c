#pragma once
// A value of the shared state as the chart stores it: a 32-bit float, with missing
// values (1e33 and above in magnitude) and values that are no number turned into the
// chart's break marker, so that they interrupt the line instead of spoiling the axes.
// Also the axis titles the views share.

#include "model/State.h"

#include <QString>

#include <cmath>

namespace lumora {

inline constexpr float kChartBreak = 1e35f;

// Axis titles the views share.
inline const QString kWavelengthTitle = QStringLiteral("Wavelength (nm)");
inline const QString kAbsorptivityTitle =
    QStringLiteral("Molar absorptivity (l mol\u207B\u00B9 cm\u207B\u00B9)");
/// The symbol, where the words do not fit.
inline const QString kAbsorptivityShortTitle =
    QStringLiteral("\u03B5 (l mol\u207B\u00B9 cm\u207B\u00B9)");

inline float ChartValue(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= kMissingLimit) return kChartBreak;
    return static_cast<float>(v);
}

} // namespace lumora
