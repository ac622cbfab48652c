// One-pass clipping of a polyline step and the value-to-pixel map.

#include "chart/scale/LineClip.h"
#include "base/RuntimeError.h"
#include "chart/scale/ScaleMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace lumora {
namespace {

const PlotFrame kFrame{10, 20, 110, 220}; // visible 11..109 x 21..219

TEST(LineClip, KnownSegments) {
    const std::pair<Segment, std::optional<Segment>> cases[] = {
        {{20, 30, 100, 200}, Segment{20, 30, 100, 200}}, // inside
        {{0, 30, 10, 200}, std::nullopt},                // both ends left
        {{110, 30, 200, 40}, std::nullopt},              // right
        {{20, 20, 100, 0}, std::nullopt},                // above
        {{20, 220, 100, 300}, std::nullopt},             // below
        {{50, 50, 50, 50}, std::nullopt},                // a point
        // horizontal through both sides: cut to the first and last inside column
        {{0, 100, 200, 100}, Segment{11, 100, 109, 100}},
        // from the left side: y at x = 11 is 50 + (150-50)/(60-(-40)) * (11+40) = 101
        {{-40, 50, 60, 150}, Segment{11, 101, 60, 150}},
        // into the bottom: x at y = 219 is 30 + (90-30)/(300-100) * (219-100) = 65.7 -> 66
        {{30, 100, 90, 300}, Segment{30, 100, 66, 219}},
        // exact half: y = 100.5 at x = 11 rounds to the even 100
        {{10, 100, 12, 101}, Segment{11, 100, 12, 101}},
        // rounded at the left side, both ends are on the top line (no division by zero)
        {{-100, 21, 50, 20}, std::nullopt},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ClipSegment(in, kFrame), out)
            << in.x1 << "," << in.y1 << " " << in.x2 << "," << in.y2;
}

// One end strictly inside, the other beyond exactly one side: the inside end stays and
// the other lands inside, on the original line to within a pixel.
TEST(LineClip, OneSideCrossingsStayInside) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> inX(12, 108), inY(22, 218), far(1, 400), side(0, 3);
    for (int i = 0; i < 5000; ++i) {
        const int x1 = inX(rng), y1 = inY(rng), s = side(rng), d = far(rng);
        const int x2 = s == 0 ? 10 - d : s == 1 ? 110 + d : inX(rng);
        const int y2 = s == 2 ? 20 - d : s == 3 ? 220 + d : inY(rng);
        const auto c = ClipSegment({x1, y1, x2, y2}, kFrame);
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(std::make_pair(c->x1, c->y1), std::make_pair(x1, y1));
        EXPECT_TRUE(c->x2 >= 11 && c->x2 <= 109 && c->y2 >= 21 && c->y2 <= 219);
        const double dx = x2 - x1, dy = y2 - y1;
        EXPECT_LT(std::fabs(dy * (c->x2 - x1) - dx * (c->y2 - y1)) / std::hypot(dx, dy), 1.0);
    }
}

TEST(ScaleMap, BothWaysPixelRoundingAndLogUnits) {
    AxisState x, y;
    x.AxisLow = -2, x.AxisHigh = 8;
    y.AxisLow = -6.3f, y.AxisHigh = -2;
    const ScaleMap mx = ScaleMap::X(x, 50, 550), my = ScaleMap::Y(y, 10, 440);
    EXPECT_DOUBLE_EQ(mx.Scale(), 50.0); // 500 pixels for 10 units
    EXPECT_LT(my.Scale(), 0);           // Y grows upwards
    for (const auto& [v, p] :
         {std::pair{-2.0f, 50.0}, {8.0f, 550.0}, {0.0f, 150.0}, {3.5f, 325.0}}) {
        EXPECT_NEAR(mx.ToPixel(v), p, 1e-9);
        EXPECT_NEAR(*mx.ToValue(mx.ToPixel(v)), v, 1e-5);
    }
    for (const auto& [v, p] : {std::pair{-2.0f, 10.0}, {-6.3f, 440.0}, {-4.15f, 225.0}}) {
        EXPECT_NEAR(my.ToPixel(v), p, 1e-3);
        EXPECT_NEAR(*my.ToValue(my.ToPixel(v)), v, 1e-5);
    }
    // a frame without extent (never drawn) has no values and no scale
    const ScaleMap none = ScaleMap::X(AxisState{}, 0, 0);
    EXPECT_FALSE(none.ToValue(10).has_value());
    EXPECT_THROW(none.Scale(), RuntimeError);
    // Pixels round half to even and refuse what 32 bits cannot hold; on a log axis values at
    // or below 1E-35 go to -39.
    for (const auto& [v, p] : {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2147483647.0, 2147483647}})
        EXPECT_EQ(PixelRound(v), p) << v;
    EXPECT_THROW(PixelRound(2147483648.0), RuntimeError);
    EXPECT_THROW(PixelRound(std::nan("")), RuntimeError);
    EXPECT_EQ(AxisUnits(-5, false), -5);
    for (float tiny : {1E-35f, 0.0f, -1.0f}) EXPECT_EQ(AxisUnits(tiny, true), -39) << tiny;
    EXPECT_NEAR(AxisUnits(1E-34f, true), -34, 1e-4);
    EXPECT_NEAR(AxisUnits(100, true), 2, 1e-6);
}

} // namespace
} // namespace lumora
