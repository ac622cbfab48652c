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

bool Degenerate(const Segment& s) {
    return s.x1 == s.x2 && s.y1 == s.y2;
}

/// Both ends on or beyond the same side, or no step at all.
bool Misses(const Segment& s, const PlotFrame& f) {
    return (s.x1 <= f.left && s.x2 <= f.left) || (s.x1 >= f.right && s.x2 >= f.right) ||
           (s.y1 <= f.top && s.y2 <= f.top) || (s.y1 >= f.bottom && s.y2 >= f.bottom) ||
           Degenerate(s);
}

/// Moves the start (or the end) of s that is on or beyond the left or right side to the
/// first pixel inside it.
void ToLeftRight(Segment& s, bool start, const PlotFrame& f) {
    int32_t& x = start ? s.x1 : s.x2;
    int32_t& y = start ? s.y1 : s.y2;
    if (x <= f.left) {
        const int32_t L = f.left + 1;
        y = Cut(s.x1, s.y1, s.x2, s.y2, L, x, y);
        x = L;
    } else if (x >= f.right) {
        const int32_t R = f.right - 1;
        y = Cut(s.x1, s.y1, s.x2, s.y2, R, x, y);
        x = R;
    }
}

/// The same against the top and bottom; false when the step lies outside. Rounding at a
/// side can leave both ends on one horizontal line outside the frame; such a step is
/// skipped, not divided by 0.
bool ToTopBottom(Segment& s, bool start, const PlotFrame& f) {
    int32_t& x = start ? s.x1 : s.x2;
    int32_t& y = start ? s.y1 : s.y2;
    if (y <= f.top || y >= f.bottom) {
        if (s.y1 == s.y2) return false;
        const int32_t at = y <= f.top ? f.top + 1 : f.bottom - 1;
        x = Cut(s.y1, s.x1, s.y2, s.x2, at, y, x);
        y = at;
    }
    return true;
}
} // namespace

std::optional<Segment> ClipSegment(Segment s, const PlotFrame& f) {
    if (Misses(s, f)) return std::nullopt;
    // Left and right first (x1 != x2 here: both ends would be on the same side
    // otherwise), then top and bottom.
    ToLeftRight(s, true, f);
    if (Degenerate(s)) return std::nullopt;
    ToLeftRight(s, false, f);
    if (Degenerate(s)) return std::nullopt;
    if (!ToTopBottom(s, true, f) || Degenerate(s)) return std::nullopt;
    if (!ToTopBottom(s, false, f) || Degenerate(s)) return std::nullopt;
    return s;
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
