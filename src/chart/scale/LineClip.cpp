#include "chart/scale/LineClip.h"

#include "chart/scale/ScaleMap.h"

#include <algorithm>

namespace lumora {

namespace {
// (b2 - b1) / (a2 - a1) * (at - from) + fromB, rounded: where the line through
// (a1, b1)-(a2, b2) meets a = at, taken from the end (from, fromB).
int32_t Cut(double a1, double b1, double a2, double b2, double at, double from, double fromB) {
    return PixelRound((b2 - b1) / (a2 - a1) * (at - from) + fromB);
}
} // namespace

std::optional<Segment> ClipSegment(Segment s, const PlotFrame& f) {
    const int32_t L = f.left + 1, R = f.right - 1, T = f.top + 1, B = f.bottom - 1;
    int32_t x1 = s.x1, y1 = s.y1, x2 = s.x2, y2 = s.y2;
    if ((x1 <= f.left && x2 <= f.left) || (x1 >= f.right && x2 >= f.right) ||
        (y1 <= f.top && y2 <= f.top) || (y1 >= f.bottom && y2 >= f.bottom) ||
        (x1 == x2 && y1 == y2))
        return std::nullopt;

    // Start point against the left and right sides (x1 != x2 here: both ends would
    // be on the same side otherwise)
    if (x1 <= f.left) {
        y1 = Cut(x1, y1, x2, y2, L, x1, y1);
        x1 = L;
    } else if (x1 >= f.right) {
        y1 = Cut(x1, y1, x2, y2, R, x1, y1);
        x1 = R;
    }
    if (x1 == x2 && y1 == y2) return std::nullopt;
    if (x2 <= f.left) {
        y2 = Cut(x1, y1, x2, y2, L, x2, y2);
        x2 = L;
    } else if (x2 >= f.right) {
        y2 = Cut(x1, y1, x2, y2, R, x2, y2);
        x2 = R;
    }
    if (x1 == x2 && y1 == y2) return std::nullopt;

    // Top and bottom. Rounding at a side can leave both ends on one horizontal line
    // outside the frame; such a step lies outside and is skipped, not divided by 0.
    if (y1 <= f.top || y1 >= f.bottom) {
        if (y1 == y2) return std::nullopt;
        const int32_t at = y1 <= f.top ? T : B;
        x1 = Cut(y1, x1, y2, x2, at, y1, x1);
        y1 = at;
    }
    if (x1 == x2 && y1 == y2) return std::nullopt;
    if (y2 <= f.top || y2 >= f.bottom) {
        if (y1 == y2) return std::nullopt;
        const int32_t at = y2 <= f.top ? T : B;
        x2 = Cut(y1, x1, y2, x2, at, y2, x2);
        y2 = at;
    }
    if (x1 == x2 && y1 == y2) return std::nullopt;
    return Segment{x1, y1, x2, y2};
}

std::optional<RealSegment> ClipToBox(const RealSegment& s, double left, double top, double right,
                                     double bottom) {
    double t0 = 0, t1 = 1;
    const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    // Per side: the direction across it and the room to it from the start.
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {s.x1 - left, right - s.x1, s.y1 - top, bottom - s.y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return std::nullopt; // parallel and outside
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    if (t0 > t1) return std::nullopt;
    return RealSegment{s.x1 + t0 * dx, s.y1 + t0 * dy, s.x1 + t1 * dx, s.y1 + t1 * dy};
}

} // namespace lumora
