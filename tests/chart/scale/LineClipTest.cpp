// One-pass clipping of a polyline step and the value-to-pixel map.

#include "chart/scale/LineClip.h"
#include "FuzzyCompare.h"
#include "base/RuntimeError.h"
#include "chart/scale/ScaleMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace lumora {
namespace {

const PlotFrame kFrame{10, 20, 110, 220}; // visible 11..109 x 21..219

TEST(LineClip, KnownSegments) {
    struct Case {
        const char* name;
        Segment in;
        std::optional<Segment> out;
    };
    const std::vector<Case> cases = {
        {"inside", {20, 30, 100, 200}, Segment{20, 30, 100, 200}},
        {"both left", {0, 30, 10, 200}, std::nullopt},
        {"both right", {110, 30, 200, 40}, std::nullopt},
        {"both above", {20, 20, 100, 0}, std::nullopt},
        {"both below", {20, 220, 100, 300}, std::nullopt},
        {"a point", {50, 50, 50, 50}, std::nullopt},
        // horizontal through both sides: cut to the first and last inside column
        {"across", {0, 100, 200, 100}, Segment{11, 100, 109, 100}},
        // from the left side: y at x = 11 is 50 + (150-50)/(60-(-40)) * (11+40) = 101
        {"from the left", {-40, 50, 60, 150}, Segment{11, 101, 60, 150}},
        // into the bottom: x at y = 219 is 30 + (90-30)/(300-100) * (219-100) = 65.7 -> 66
        {"into the bottom", {30, 100, 90, 300}, Segment{30, 100, 66, 219}},
        // exact half: y = 100.5 at x = 11 rounds to the even 100
        {"tie to even", {10, 100, 12, 101}, Segment{11, 100, 12, 101}},
        // rounding at the left side puts both ends on the top line: nothing to draw
        // (and no division by zero in the top/bottom step)
        {"flat on the top", {-100, 21, 50, 20}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ClipSegment(c.in, kFrame), c.out);
    }
}

// Segments with one end strictly inside and the other beyond exactly one side keep the inside
// end and get the other on that side, on the original line.
TEST(LineClip, OneSideCrossingsStayInside) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> inX(12, 108), inY(22, 218), far(1, 400), side(0, 3);
    for (int i = 0; i < 5000; ++i) {
        const int x1 = inX(rng), y1 = inY(rng);
        int x2 = inX(rng), y2 = inY(rng);
        switch (side(rng)) {
        case 0:
            x2 = 10 - far(rng);
            break;
        case 1:
            x2 = 110 + far(rng);
            break;
        case 2:
            y2 = 20 - far(rng);
            break;
        default:
            y2 = 220 + far(rng);
            break;
        }
        const auto s = ClipSegment({x1, y1, x2, y2}, kFrame);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->x1, x1);
        EXPECT_EQ(s->y1, y1);
        EXPECT_GE(s->x2, 11);
        EXPECT_LE(s->x2, 109);
        EXPECT_GE(s->y2, 21);
        EXPECT_LE(s->y2, 219);
        // distance of the new end from the original line below one pixel
        const double dx = x2 - x1, dy = y2 - y1;
        const double dist = std::fabs(dy * (s->x2 - x1) - dx * (s->y2 - y1)) / std::hypot(dx, dy);
        EXPECT_LT(dist, 1.0);
    }
}

TEST(ScaleMap, BothWays) {
    AxisState x;
    x.AxisLow = -2;
    x.AxisHigh = 8;
    const ScaleMap mx = ScaleMap::X(x, 50, 550);
    EXPECT_DOUBLE_EQ(mx.Scale(), 50.0);
    EXPECT_DOUBLE_EQ(mx.ToPixel(-2), 50);
    EXPECT_DOUBLE_EQ(mx.ToPixel(8), 550);
    EXPECT_DOUBLE_EQ(mx.ToPixel(0), 150);
    AxisState y;
    y.AxisLow = -6.3f;
    y.AxisHigh = -2;
    const ScaleMap my = ScaleMap::Y(y, 10, 440);
    EXPECT_DOUBLE_EQ(my.ToPixel(-2), 10);
    EXPECT_NEAR(my.ToPixel(-6.3f), 440, 1e-9);
    EXPECT_LT(my.Scale(), 0);
    // the inverse gives back the values
    for (float v : {-6.3f, -5.0f, -3.0f, -2.0f}) EXPECT_NEAR(*my.ToValue(my.ToPixel(v)), v, 1e-5);
    for (float v : {-2.0f, 0.0f, 3.5f, 8.0f}) EXPECT_NEAR(*mx.ToValue(mx.ToPixel(v)), v, 1e-5);
    // a frame without extent (never drawn) has no values and no scale
    const ScaleMap none = ScaleMap::X(AxisState{}, 0, 0);
    EXPECT_FALSE(none.ToValue(10).has_value());
    EXPECT_THROW(none.Scale(), RuntimeError);
}

TEST(ScaleMap, PixelRoundAndAxisUnits) {
    EXPECT_EQ(PixelRound(2.5), 2);
    EXPECT_EQ(PixelRound(3.5), 4);
    EXPECT_EQ(PixelRound(-2.5), -2);
    EXPECT_EQ(PixelRound(2147483647.0), 2147483647);
    EXPECT_THROW(PixelRound(2147483648.0), RuntimeError);
    EXPECT_THROW(PixelRound(std::nan("")), RuntimeError);
    EXPECT_EQ(AxisUnits(-5, false), -5);
    EXPECT_EQ(AxisUnits(1E-35f, true), -39);
    EXPECT_EQ(AxisUnits(0, true), -39);
    EXPECT_EQ(AxisUnits(-1, true), -39);
    EXPECT_NEAR(AxisUnits(1E-34f, true), -34, 1e-4);
    EXPECT_NEAR(AxisUnits(100, true), 2, 1e-6);
}

} // namespace
} // namespace lumora
