// The chart on the offscreen surface: curves clipped to the frame and broken at gaps (read
// back from real pixels), and the messages of misuse and of failed drawings.

#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace lumora {
namespace {

/// Records the chart's messages for its lifetime instead of showing boxes.
struct ChartMessages {
    ChartMessages() {
        SetChartMessageSink([this](const std::string& t) { texts.push_back(t); });
    }
    ~ChartMessages() { SetChartMessageSink({}); }
    std::vector<std::string> texts;
};

/// Number of pixels of the given colour value inside [x0, x1] x [y0, y1] (default: all).
int CountColor(const ChartWidget& chart, int32_t colour, int x0 = 0, int y0 = 0, int x1 = -1,
               int y1 = -1) {
    if (x1 < 0) x1 = chart.width() - 1, y1 = chart.height() - 1;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += chart.Pixel(x, y) == colour;
    return n;
}

void Fill(ChartWidget& chart, const std::vector<float>& x,
          const std::vector<std::vector<float>>& ys) {
    chart.Dimension(static_cast<int16_t>(ys.size()), static_cast<int16_t>(x.size()));
    for (size_t p = 0; p < x.size(); ++p) {
        chart.SetPointData(int16_t(p + 1), 0, x[p]);
        for (size_t s = 0; s < ys.size(); ++s)
            chart.SetPointData(int16_t(p + 1), int16_t(s + 1), ys[s][p]);
    }
}

// Series 1 starts below the frame and leaves it through every side; series 2 is a flat
// line. An empty point breaks both, a missing value only its own series.
TEST(ChartDraw, CurvesStayInsideTheFrameAndBreakAtGaps) {
    ChartMessages msgs;
    // Empty point 3?, series 2 at x = 2 (0: as the others), series 1 and 2 broken.
    const std::tuple<bool, float, bool, bool> cases[] = {{true, 0, true, true},
                                                         {false, kChartAuto, false, true},
                                                         {false, -kChartAuto, false, true},
                                                         {false, 0, false, false}};
    for (const auto& [emptyPoint, missing, broken1, broken2] : cases) {
        SCOPED_TRACE(testing::Message() << emptyPoint << " " << missing);
        ChartWidget chart;
        chart.resize(300, 200);
        chart.SetXAxisMin(0), chart.SetXAxisMax(6), chart.SetYAxisMin(0), chart.SetYAxisMax(3);
        Fill(chart, {0, 1, 2, 3, 4, 5, 6},
             {{-3, 1, 9, -2, 1, 1e6f, 0.5f}, {2, 2, missing == 0 ? 2 : missing, 2, 2, 2, 2}});
        if (emptyPoint) chart.SetEmptyPoint(3, true);
        chart.Refresh();
        ASSERT_TRUE(msgs.texts.empty());
        const int L = chart.PlotLeft(), R = chart.PlotRight(), T = chart.PlotTop(),
                  B = chart.PlotBottom();
        const int32_t fg = ColorValueOfRgb(chart.palette().color(QPalette::WindowText).rgb());
        for (const auto& [x, y] : {std::pair{L, T}, {R, T}, {L, B}, {R, B}, {(L + R) / 2, B}})
            EXPECT_EQ(chart.Pixel(x, y), fg) << "frame at " << x << "," << y;
        auto column = [&](float v) { return int(std::nearbyint(L + v * (R - L) / 6.0)); };
        for (int k = 1; k <= 2; ++k) {
            const int32_t colour = chart.RenderedColor(int16_t(k));
            ASSERT_TRUE(colour != 0 && colour != fg) << colour;
            const int all = CountColor(chart, colour);
            EXPECT_GT(all, 20);
            EXPECT_EQ(CountColor(chart, colour, L + 1, T + 1, R - 1, B - 1), all) << "clipped";
            const int gap = CountColor(chart, colour, column(1) + 1, 0, column(3) - 1, 199);
            EXPECT_EQ(gap == 0, k == 1 ? broken1 : broken2) << "series " << k << ": " << gap;
        }
        EXPECT_NE(chart.RenderedColor(1), chart.RenderedColor(2));
    }
}

// Drawings that fail leave an erased surface, with the axis message or silently for values
// no pixel can hold: point 2 of one series on axes 0..1 gets the odd x or y.
TEST(ChartDraw, FailedDrawingsLeaveAnErasedSurface) {
    // x and y of point 2, log y axis, digits of the x labels, message.
    const std::tuple<float, float, bool, int, std::string> cases[] = {
        {0.5f, 1e30f, false, 0, ""},         // a pixel beyond 32 bits
        {std::nanf(""), 0.5f, false, 0, ""}, // NaN x
        {kChartAuto, 0.5f, false, 0, ""},    // x at the missing marker
        {0.5f, 0.5f, false, 12, "Too many digits in labels"},
        {0.5f, 0, true, 0, "Axis limits invalid"}}; // a log axis with nothing plottable
    for (const auto& [x, y, logY, digits, message] : cases) {
        SCOPED_TRACE(message + " " + std::to_string(x) + " " + std::to_string(y));
        ChartMessages msgs;
        ChartWidget chart;
        chart.resize(300, 200);
        chart.SetYAxisMin(0), chart.SetYAxisMax(1), chart.SetYAxisLogScale(logY);
        chart.SetXAxisDigits(uint8_t(digits));
        Fill(chart, {0, x, 1}, {{logY ? 1e-35f : 0.2f, y, logY ? 0 : 0.8f}});
        chart.Refresh();
        EXPECT_EQ(msgs.texts, std::vector<std::string>(!message.empty(), message));
        EXPECT_EQ(CountColor(chart, ColorValueOfRgb(chart.palette().color(QPalette::Base).rgb())),
                  300 * 200);
    }
}

// Misuse shows its message and changes nothing; a too short array is not read past.
TEST(ChartDraw, MisuseMessages) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.Refresh(); // nothing to draw
    Fill(chart, {0, 0.5f, 1}, {{0.2f, 0.5f, 0.8f}});
    EXPECT_EQ(chart.PointData(0, 1), 0.0f);
    chart.SetPointData(4, 1, 99);
    chart.SetPointData(1, -1, 99);
    chart.SetSkipSeries(2, true);
    chart.SetEmptyPoint(4, true);
    const std::array<float, 2> nines{99, 99};
    const std::array<float, 1> shortArray{99};
    for (int16_t p : {0, 4}) chart.SetData(p, nines);
    chart.SetData(1, shortArray);
    chart.SetYAxisUnit(0);
    chart.SetXAxisUnit(-1);
    EXPECT_EQ(chart.XAxisUnit(), kChartAuto);
    std::vector<std::string> expected = {"Axis limits not defined"};
    for (const auto& [text, n] : {std::pair{"Incorrect PointData call", 3},
                                  {"Incorrect SkipSeries call", 1},
                                  {"Incorrect EmptyPoint call", 1},
                                  {"Incorrect SetData call", 3},
                                  {"Invalid value", 2}})
        expected.insert(expected.end(), size_t(n), text);
    EXPECT_EQ(msgs.texts, expected);
    for (int16_t p = 1; p <= 3; ++p)
        for (int16_t s : {0, 1}) EXPECT_NE(chart.PointData(p, s), 99.0f);
}

} // namespace
} // namespace lumora
