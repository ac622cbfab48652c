#pragma once
// Where a series' polyline breaks: at empty points, at missing values, and on a
// logarithmic axis at values of zero or below, which have no place on it (a line
// dropped to the axis floor would read as a real minimum).

#include "base/Bounded.h"

#include <cstdint>
#include <vector>

namespace lumora {

/// A value a log axis cannot show: at or below 1E-35, or no number.
inline bool OffLogAxis(float v, bool logScale) {
    return logScale && !(v > 1E-35f);
}

/// A Y value that breaks its series: the missing marker (+-1E+35) or off a log axis.
bool BreaksSeries(float y, bool logScale);

/// One point of a polyline in axis units (decimal logs on a log axis).
struct AxisPoint {
    float x = 0, y = 0;
};

/// The polylines of series k of data (series, point; series 0 holds X) over points
/// 1..nPoints, in axis units: a new polyline starts after every break.
std::vector<std::vector<AxisPoint>> SeriesPolylines(const Mat<float>& data, int k, int nPoints,
                                                    const Vec<uint8_t>& emptyPoint, bool logX,
                                                    bool logY);

} // namespace lumora
