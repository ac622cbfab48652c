#include "chart/scale/SeriesPolylines.h"

#include "chart/scale/AxisState.h"
#include "chart/scale/ScaleMap.h"

#include <cmath>

namespace lumora {

bool BreaksSeries(float y, bool logScale) {
    return std::fabs(y) == kChartAuto || OffLogAxis(y, logScale);
}

std::vector<std::vector<AxisPoint>> SeriesPolylines(const Mat<float>& data, int k, int nPoints,
                                                    const Vec<uint8_t>& emptyPoint, bool logX,
                                                    bool logY) {
    std::vector<std::vector<AxisPoint>> lines;
    bool penUp = true;
    for (int p = 1; p <= nPoints; ++p) {
        const float x = data(0, p), y = data(k, p);
        if (emptyPoint(p) || OffLogAxis(x, logX) || BreaksSeries(y, logY)) {
            penUp = true;
            continue;
        }
        if (penUp) lines.emplace_back();
        lines.back().push_back({AxisUnits(x, logX), AxisUnits(y, logY)});
        penUp = false;
    }
    return lines;
}

} // namespace lumora
