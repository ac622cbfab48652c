#pragma once
// Clipping of one polyline step to the inside of the plot frame, in a single pass
// over the four sides on whole pixels. A segment that only cuts a corner region can
// keep an end outside; the pass is kept simple because series are dense polylines.

#include <cstdint>
#include <optional>

namespace lumora {

/// The plot frame in pixels; the frame lines themselves are not inside.
struct PlotFrame {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Segment {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool operator==(const Segment&) const = default;
};

/// The part of the segment to draw, or nothing. Raises "Overflow" when a computed
/// coordinate does not fit 32 bits.
std::optional<Segment> ClipSegment(Segment s, const PlotFrame& frame);

/// A segment in real coordinates.
struct RealSegment {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

/// The part of the segment inside the box [left, right] x [top, bottom] (Liang and
/// Barsky's parametric clipping), or nothing when it misses the box.
std::optional<RealSegment> ClipToBox(const RealSegment& s, double left, double top, double right,
                                     double bottom);

} // namespace lumora
