#pragma once
// The record of one chart axis: what the host asks for (limits, label interval,
// digits, log scale), what the last drawing found in the data, and what the
// scaling made of both (range, label interval, labels).

#include "base/Bounded.h"

#include <bit>
#include <cstdint>
#include <string>

namespace lumora {

/// The automatic marker of the chart's settings; a value equal to it (as a float)
/// also breaks a polyline.
inline constexpr float kChartAuto = 1E+35f;
static_assert(std::bit_cast<uint32_t>(kChartAuto) == 0x799A130Cu);

struct AxisState {
    /// Smallest plottable data value of the last drawing (data units, also on a log axis)
    float DataMin = kChartAuto;
    /// Largest plottable data value of the last drawing; -1E+35 when it found none
    float DataMax = kChartAuto;
    /// Axis title (UTF-8)
    std::string Title;
    /// Requested lower end (kChartAuto: automatic)
    float Min = kChartAuto;
    /// Requested upper end (kChartAuto: automatic)
    float Max = kChartAuto;
    /// Requested interval between labels (kChartAuto: automatic)
    float Unit = kChartAuto;
    /// Requested minor intervals between two labels (0: automatic)
    uint8_t Parts = 0;
    /// Requested digits after the decimal point in the labels (0: automatic)
    uint8_t Digits = 0;
    /// The axis shows decimal logarithms of the data
    bool LogScale = false;
    /// Upper end as scaled (log10 units on a log axis)
    float AxisHigh = 0;
    /// Lower end as scaled
    float AxisLow = 0;
    /// Interval between labels as scaled
    float Major = 0;
    /// Minor intervals per label interval as scaled (the drawing may use fewer)
    uint8_t MinorParts = 0;
    /// Number of labels
    int16_t LabelCount = 0;
    /// Label positions in axis units, ascending (1..LabelCount used)
    Vec<float> LabelValues{0};
    /// Formatted labels (1..LabelCount used)
    Vec<std::string> LabelTexts{0};
};

/// Resets data range, settings and labels; LogScale and the scaling results stay.
void InitAxis(AxisState& axis);

} // namespace lumora
