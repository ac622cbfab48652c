// Drawing on the offscreen surface: layout from the font metrics, frame, labels and
// ticks, clipping, breaks, logarithmic axes, the silent failures, and a screenshot.

#include "ChartTestSupport.h"
#include "chart/scale/ChartPalette.h"
#include "chart/scale/ScaleAxis.h"

#include <QDir>
#include <QFontMetricsF>

#include <cmath>
#include <limits>
#include <random>
#include <set>

namespace lumora {
namespace {

using test::ChartMessages;
using test::CountColor;

int Rounded(double v) {
    return static_cast<int>(std::nearbyint(v));
}

// Pixel of an axis value, from the axis record and the frame of the last drawing
int XPixel(const ChartWidget& c, float v) {
    const AxisState& a = c.XAxis();
    return Rounded(double(v - a.AxisLow) * (c.PlotRight() - c.PlotLeft()) /
                       double(a.AxisHigh - a.AxisLow) +
                   c.PlotLeft());
}
int YPixel(const ChartWidget& c, float v) {
    const AxisState& a = c.YAxis();
    return Rounded(double(v - a.AxisHigh) * (c.PlotTop() - c.PlotBottom()) /
                       double(a.AxisHigh - a.AxisLow) +
                   c.PlotTop());
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

int32_t SeriesColour(const ChartWidget& chart, int k) {
    ChartPalette p;
    for (int i = 0; i < kPaletteSize; ++i) p[i] = chart.PaletteEntry(i);
    return SeriesColor(p, k) & 0xFFFFFF;
}

// Pixels of a colour outside the inside of the frame
int OutsideFrame(const ChartWidget& c, int32_t colour) {
    return CountColor(c, colour) - CountColor(c, colour, c.PlotLeft() + 1, c.PlotTop() + 1,
                                              c.PlotRight() - 1, c.PlotBottom() - 1);
}

TEST(ChartDraw, LayoutFrameAndLabels) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(400, 300);
    Fill(chart, {0, 1}, {{0.3f, 0.87f}});
    chart.SetXAxisTitle(QStringLiteral("Wavelength"));
    chart.Refresh();
    ASSERT_TRUE(msgs.texts.empty());

    QFontMetricsF fm(chart.ChartFont(), const_cast<QImage*>(&chart.Surface()));
    auto width = [&](const char* s) {
        return Rounded(fm.horizontalAdvance(QString::fromLatin1(s)));
    };
    const int sh = Rounded(fm.height());
    EXPECT_EQ(chart.SpaceHeight(), sh);
    int w = 0;
    for (const char* t : {"0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9"})
        w = std::max(w, width(t));
    const int L = chart.PlotLeft(), R = chart.PlotRight(), T = chart.PlotTop(),
              B = chart.PlotBottom();
    EXPECT_EQ(L, w + 10);
    EXPECT_EQ(R, Rounded(400 - 5 - width("1") / 2));
    EXPECT_EQ(T, 10);
    EXPECT_EQ(B, 300 - 15 - 2 * sh); // one text line for the labels, one for the title

    const int32_t fg = test::Foreground(chart), bg = test::Background(chart);
    ASSERT_NE(fg, bg);
    // the frame, corners included, and nothing inside
    for (int x = L; x <= R; ++x) {
        EXPECT_EQ(chart.Pixel(x, T), fg);
        EXPECT_EQ(chart.Pixel(x, B), fg);
    }
    for (int y = T; y <= B; ++y) {
        EXPECT_EQ(chart.Pixel(L, y), fg);
        EXPECT_EQ(chart.Pixel(R, y), fg);
    }
    EXPECT_EQ(CountColor(chart, fg, L + 1, T + 1, R - 1, B - 1), 0);
    EXPECT_EQ(CountColor(chart, fg, L - 4, 0, 399, T - 1), 0); // the top Y label may reach higher
    EXPECT_EQ(CountColor(chart, fg, R + 1, 0, 399, B), 0);

    // X labels: 5-pixel ticks, texts centred one pixel below the tick's end
    const AxisState& xa = chart.XAxis();
    ASSERT_EQ(xa.LabelCount, 2);
    for (int i = 1; i <= xa.LabelCount; ++i) {
        const int px = XPixel(chart, xa.LabelValues(i));
        for (int y = B; y <= B + 4; ++y) EXPECT_EQ(chart.Pixel(px, y), fg);
        EXPECT_EQ(chart.Pixel(px, B + 5), bg);
        const int tw = width(xa.LabelTexts(i).c_str());
        const int x0 = px - tw / 2;
        EXPECT_GT(CountColor(chart, fg, x0, B + 6, x0 + tw, B + 5 + sh), 0);
        EXPECT_EQ(CountColor(chart, fg, x0 - 3, B + 6, x0 - 1, B + 5 + sh), 0);
    }
    // X minor ticks: ten intervals, the half-way one 5 pixels long, the others 3
    EXPECT_EQ(xa.MinorParts, 10);
    const int half = XPixel(chart, 0.5f), tenth = XPixel(chart, 0.1f);
    EXPECT_EQ(chart.Pixel(half, B + 4), fg);
    EXPECT_EQ(chart.Pixel(half, B + 5), bg);
    EXPECT_EQ(chart.Pixel(tenth, B + 2), fg);
    EXPECT_EQ(chart.Pixel(tenth, B + 3), bg);

    // the X title centred under the labels
    const int tw = width("Wavelength");
    const int tx = (R + L - tw) / 2, ty = sh + B + 8;
    EXPECT_GT(CountColor(chart, fg, tx, ty, tx + tw, ty + sh - 1), 0);
    EXPECT_EQ(CountColor(chart, fg, 0, ty + sh, 399, 299), 0);

    // Y labels right-aligned two pixels left of their 5-pixel ticks
    const AxisState& ya = chart.YAxis();
    ASSERT_EQ(ya.LabelCount, 7);
    int labelPixels = 0;
    for (int i = 1; i <= ya.LabelCount; ++i) {
        const int py = YPixel(chart, ya.LabelValues(i));
        for (int x = L - 4; x <= L; ++x) EXPECT_EQ(chart.Pixel(x, py), fg);
        EXPECT_EQ(chart.Pixel(L - 5, py), bg);
        const int lw = width(ya.LabelTexts(i).c_str());
        const int top = py - sh / 2;
        const int n = CountColor(chart, fg, L - 7 - lw, top, L - 7, top + sh - 1);
        EXPECT_GT(n, 0);
        labelPixels += n;
    }
    // nothing else left of the ticks, and the columns beside the ticks stay clear
    EXPECT_EQ(CountColor(chart, fg, 0, 0, L - 5, B - 1), labelPixels);
    EXPECT_EQ(CountColor(chart, fg, L - 6, 0, L - 5, B), 0);
    // Y minor ticks: about 37 pixels per label interval leave 2 of the 10 intervals
    EXPECT_EQ(ya.MinorParts, 10);
    const int yHalf = YPixel(chart, 0.35f);
    EXPECT_EQ(chart.Pixel(L - 2, yHalf), fg);
    EXPECT_EQ(chart.Pixel(L - 3, yHalf), bg);
    EXPECT_EQ(chart.Pixel(L - 1, YPixel(chart, 0.32f)), bg);
}

TEST(ChartDraw, NoTitleNoTitleLine) {
    ChartWidget chart;
    chart.resize(300, 200);
    Fill(chart, {0, 1}, {{0, 1}});
    chart.Refresh();
    EXPECT_EQ(chart.PlotBottom(), 200 - 15 - chart.SpaceHeight());
    // a log axis always has a title: "lg ()"
    chart.SetXAxisLogScale(true);
    Fill(chart, {1, 100}, {{0, 1}});
    chart.Refresh();
    EXPECT_EQ(chart.PlotBottom(), 200 - 15 - 2 * chart.SpaceHeight());
    QFontMetricsF fm(chart.ChartFont(), const_cast<QImage*>(&chart.Surface()));
    const int tw = Rounded(fm.horizontalAdvance(QStringLiteral("lg ()")));
    const int tx = (chart.PlotRight() + chart.PlotLeft() - tw) / 2,
              ty = chart.SpaceHeight() + chart.PlotBottom() + 8;
    EXPECT_GT(CountColor(chart, test::Foreground(chart), tx, ty, tx + tw, ty + chart.SpaceHeight()),
              0);
}

TEST(ChartDraw, YTitleIsKeptButNotDrawn) {
    ChartWidget chart;
    chart.resize(300, 200);
    Fill(chart, {0, 1}, {{0, 1}});
    chart.Refresh();
    const QImage without = chart.Surface().copy();
    chart.SetYAxisTitle(QStringLiteral("Absorbance"));
    chart.Refresh();
    EXPECT_EQ(chart.Surface(), without);
    EXPECT_EQ(chart.YAxisTitle(), QStringLiteral("Absorbance"));
}

TEST(ChartDraw, SegmentsAreClippedToTheFrame) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(300, 200);
    chart.SetYAxisMin(0);
    chart.SetYAxisMax(1);
    // the first point lies outside, then the curve leaves through every side
    Fill(chart, {0, 1, 2, 3, 4, 5, 6},
         {{-3, 0.5f, 3, -2, 0.5f, 1e6f, 0.2f}, {0.5f, 0.6f, 0.4f, 0.5f, -7, 0.5f, 9}});
    chart.Refresh();
    ASSERT_TRUE(msgs.texts.empty());
    for (int k = 1; k <= 2; ++k) {
        const int32_t c = SeriesColour(chart, k);
        EXPECT_GT(CountColor(chart, c), 20);
        EXPECT_EQ(OutsideFrame(chart, c), 0);
        // the colour was taken from the first visible segment's end
        EXPECT_EQ(chart.RenderedColor(int16_t(k)), c);
    }
}

TEST(ChartDraw, BreaksInPolylines) {
    ChartMessages msgs;
    struct Case {
        const char* name;
        bool emptyPoint;
        float missing;
        bool series1Broken, series2Broken;
    };
    for (const Case c : {Case{"empty point", true, 0, true, true},
                         Case{"missing value", false, kChartAuto, true, false},
                         Case{"negative missing value", false, -kChartAuto, true, false},
                         Case{"no break", false, 0, false, false}}) {
        SCOPED_TRACE(c.name);
        ChartWidget chart;
        chart.resize(300, 200);
        chart.SetXAxisMin(0);
        chart.SetXAxisMax(4);
        chart.SetYAxisMin(0);
        chart.SetYAxisMax(3);
        Fill(chart, {0, 1, 2, 3, 4}, {{1, 1, 1, 1, 1}, {2, 2, 2, 2, 2}});
        if (c.emptyPoint) chart.SetEmptyPoint(3, true);
        if (c.missing != 0) chart.SetPointData(3, 1, c.missing);
        chart.Refresh();
        ASSERT_TRUE(msgs.texts.empty());
        const int from = XPixel(chart, 1) + 1, to = XPixel(chart, 3) - 1;
        for (int k = 1; k <= 2; ++k) {
            const int n = CountColor(chart, SeriesColour(chart, k), from, 0, to, 199);
            EXPECT_EQ(n == 0, k == 1 ? c.series1Broken : c.series2Broken)
                << "series " << k << ": " << n;
            // the rest of the polyline is there either way
            EXPECT_GT(CountColor(chart, SeriesColour(chart, k), XPixel(chart, 3), 0, 299, 199), 0);
        }
    }
}

TEST(ChartDraw, LogAxesWithTinyValues) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(360, 260);
    chart.SetXAxisLogScale(true);
    chart.SetYAxisLogScale(true);
    // x = 0 and y <= 1E-35 are left out of the ranges and plotted at log value -39;
    // the Y of a point whose X is left out does not count either
    Fill(chart, {0, 2, 10, 100, 1000, 10000}, {{0.05f, 1e-2f, 1e-40f, 0.1f, 1e-35f, 1}});
    chart.Refresh();
    ASSERT_TRUE(msgs.texts.empty());
    EXPECT_EQ(chart.XAxis().DataMin, 2);
    EXPECT_EQ(chart.YAxis().DataMin, 1e-2f);
    EXPECT_EQ(chart.YAxis().DataMax, 1);
    const int32_t c = SeriesColour(chart, 1);
    EXPECT_EQ(OutsideFrame(chart, c), 0);
    // segments to the -39 points end on the lowest visible row
    EXPECT_GT(CountColor(chart, c, 0, chart.PlotBottom() - 1, 359, chart.PlotBottom() - 1), 0);
    // and the segment from x = 0 comes in at the first visible column
    EXPECT_GT(CountColor(chart, c, chart.PlotLeft() + 1, 0, chart.PlotLeft() + 1, 259), 0);

    // only values at or below 1E-35: no plottable Y, "Axis limits invalid"
    Fill(chart, {1, 10}, {{1e-35f, 0}});
    chart.Refresh();
    EXPECT_EQ(msgs.texts, std::vector<std::string>{"Axis limits invalid"});
    EXPECT_EQ(CountColor(chart, test::Background(chart)), 360 * 260);
}

TEST(ChartDraw, EmptyCharts) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(300, 200);
    chart.Refresh();
    EXPECT_EQ(msgs.texts, std::vector<std::string>{"Axis limits not defined"});
    EXPECT_EQ(CountColor(chart, test::Background(chart)), 300 * 200);
    // with limits on both axes: a frame with labels
    msgs.texts.clear();
    chart.SetXAxisMin(0);
    chart.SetXAxisMax(10);
    chart.SetYAxisMin(-1);
    chart.SetYAxisMax(1);
    chart.Refresh();
    EXPECT_TRUE(msgs.texts.empty());
    EXPECT_EQ(chart.XAxis().LabelCount, 11);
    EXPECT_GT(CountColor(chart, test::Foreground(chart)),
              2 * (chart.PlotRight() - chart.PlotLeft()));
    // all values zero: an erased surface and no message
    Fill(chart, {0, 0}, {{0, 0}});
    chart.Clear();
    Fill(chart, {0, 0}, {{0, 0}});
    chart.Refresh();
    EXPECT_TRUE(msgs.texts.empty());
    EXPECT_EQ(CountColor(chart, test::Background(chart)), 300 * 200);
}

TEST(ChartDraw, CumulativeRange) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(300, 200);
    Fill(chart, {0, 1}, {{0, 1}});
    chart.Refresh();
    Fill(chart, {0, 1}, {{2, 3}});
    chart.Refresh(true);
    EXPECT_EQ(chart.YAxis().DataMin, 0);
    EXPECT_EQ(chart.YAxis().DataMax, 3);
    chart.Refresh(false);
    EXPECT_EQ(chart.YAxis().DataMin, 2);
    // right after Clear the range starts from the reset value: undefined on a linear axis
    chart.Clear();
    Fill(chart, {0, 1}, {{2, 3}});
    chart.Refresh(true);
    EXPECT_EQ(msgs.texts, std::vector<std::string>{"Axis limits not defined"});
}

TEST(ChartDraw, RunTimeFailuresLeaveABlankChartSilently) {
    ChartMessages msgs;
    struct Case {
        const char* name;
        float x, y;
    };
    for (const Case c :
         {Case{"pixel beyond 32 bits", 0.5f, 1e30f}, Case{"NaN x", std::nanf(""), 0.5f},
          Case{"x at the marker", kChartAuto, 0.5f}}) {
        SCOPED_TRACE(c.name);
        ChartWidget chart;
        chart.resize(300, 200);
        chart.SetYAxisMin(0);
        chart.SetYAxisMax(1);
        Fill(chart, {0, c.x, 1}, {{0.2f, c.y, 0.8f}});
        chart.Refresh();
        EXPECT_TRUE(msgs.texts.empty());
        EXPECT_EQ(CountColor(chart, test::Background(chart)), 300 * 200);
        // the same point flagged empty draws normally
        chart.SetEmptyPoint(2, true);
        chart.Refresh();
        EXPECT_GT(CountColor(chart, SeriesColour(chart, 1)), 0);
    }
}

TEST(ChartDraw, RenderedColoursAndDimension) {
    ChartWidget chart;
    chart.resize(400, 300);
    const int n = 17;
    std::vector<std::vector<float>> ys(n);
    for (int k = 0; k < n; ++k) ys[k] = {float(k), float(k) + 0.5f, float(k)};
    Fill(chart, {0, 1, 2}, ys);
    chart.SetSkipSeries(5, true);
    chart.Refresh();
    for (int k = 1; k <= n; ++k) {
        SCOPED_TRACE(k);
        if (k == 5)
            EXPECT_EQ(chart.RenderedColor(int16_t(k)), 0); // hidden
        else
            EXPECT_EQ(chart.RenderedColor(int16_t(k)), SeriesColour(chart, k));
    }
    EXPECT_NE(chart.RenderedColor(17), chart.RenderedColor(1));
    EXPECT_EQ(CountColor(chart, SeriesColour(chart, 5)), 0);
    chart.Dimension(17, 3);
    for (int k = 0; k <= n; ++k) EXPECT_EQ(chart.RenderedColor(int16_t(k)), 0);
}

TEST(ChartDraw, ResizeRedrawsOnlyWithPoints) {
    ChartWidget chart;
    chart.resize(300, 200);
    chart.show();
    QApplication::processEvents();
    Fill(chart, {0, 1}, {{0, 1}});
    chart.Refresh();
    const int right = chart.PlotRight();
    chart.resize(500, 260);
    QApplication::processEvents();
    EXPECT_EQ(chart.Surface().width(), 500);
    EXPECT_EQ(chart.PlotRight(), right + 200);
    EXPECT_EQ(chart.PlotBottom(), 260 - 15 - chart.SpaceHeight());
    chart.Clear();
    chart.resize(400, 260);
    QApplication::processEvents();
    EXPECT_EQ(chart.PlotRight(), right + 200); // not redrawn
    EXPECT_EQ(chart.Surface().width(), 400);
}

// Random sizes, data and settings, including values no chart can show: every
// drawing ends normally, with one of the chart's own messages at most.
TEST(ChartDraw, RobustAgainstAnyInput) {
    ChartMessages msgs;
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> unit(0, 1);
    const std::vector<float> odd = {0,
                                    -0.0f,
                                    1e-40f,
                                    1e-35f,
                                    -1e-30f,
                                    1e30f,
                                    -3e38f,
                                    kChartAuto,
                                    -kChartAuto,
                                    std::numeric_limits<float>::infinity(),
                                    std::nanf("")};
    auto value = [&]() -> float {
        const float r = unit(rng);
        if (r < 0.15f) return odd[size_t(unit(rng) * odd.size()) % odd.size()];
        return (unit(rng) - 0.3f) * std::pow(10.0f, float(int(unit(rng) * 12) - 6));
    };
    const std::set<std::string> known = {kAxisLimitsNotDefined, kAxisLimitsInvalid,
                                         kTooManyDigits,        kInconsistentLabelFormat,
                                         kInvalidMajorUnit,     kInternalError};
    ChartWidget chart;
    for (int round = 0; round < 300; ++round) {
        chart.Clear();
        chart.resize(1 + int(unit(rng) * 500), 1 + int(unit(rng) * 400));
        const int series = int(unit(rng) * 4), points = int(unit(rng) * 30);
        chart.Dimension(int16_t(series), int16_t(points));
        for (int p = 1; p <= points; ++p)
            for (int k = 0; k <= series; ++k) chart.SetPointData(int16_t(p), int16_t(k), value());
        chart.SetXAxisLogScale(unit(rng) < 0.3f);
        chart.SetYAxisLogScale(unit(rng) < 0.3f);
        if (unit(rng) < 0.3f) chart.SetYAxisMin(value());
        if (unit(rng) < 0.3f) chart.SetYAxisMax(value());
        if (unit(rng) < 0.2f) chart.SetXAxisUnit(std::fabs(value()) + 1e-3f);
        chart.SetYAxisParts(uint8_t(unit(rng) * 12));
        chart.SetXAxisDigits(uint8_t(unit(rng) * 11));
        msgs.texts.clear();
        chart.Refresh(unit(rng) < 0.5f);
        for (const std::string& m : msgs.texts) {
            EXPECT_TRUE(known.count(m)) << m;
        }
        for (int i = 0; i < 20; ++i)
            test::MoveMouse(chart, int(unit(rng) * 520) - 10, int(unit(rng) * 420) - 10);
    }
}

// Three spectra-like series on a logarithmic Y axis, one broken by an empty point
// and one by a missing value, saved for a look by eye.
TEST(ChartDraw, Screenshot) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(640, 420);
    const int n = 120;
    chart.Dimension(3, n);
    for (int p = 1; p <= n; ++p) {
        const float wl = 300.0f + 3.0f * p;
        chart.SetPointData(int16_t(p), 0, wl);
        for (int k = 1; k <= 3; ++k) {
            const float centre = 330.0f + 110.0f * k, width = 30.0f + 10.0f * k;
            const float g = std::exp(-0.5f * ((wl - centre) / width) * ((wl - centre) / width));
            chart.SetPointData(int16_t(p), int16_t(k), 2000.0f * k * g + 5.0f);
        }
    }
    chart.SetEmptyPoint(40, true);
    for (int p = 70; p <= 75; ++p) chart.SetPointData(int16_t(p), 2, kChartAuto);
    chart.SetYAxisLogScale(true);
    chart.SetXAxisTitle(QStringLiteral("Wavelength (nm)"));
    chart.Refresh();
    ASSERT_TRUE(msgs.texts.empty());
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(chart.RenderedColor(int16_t(k)), SeriesColour(chart, k));
    const QString path = QDir(QStringLiteral(LUMORA_TEST_BUILD_DIR))
                             .filePath(QStringLiteral("chart_screenshot.png"));
    ASSERT_TRUE(chart.Surface().save(path, "PNG")) << path.toStdString();
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// Seventeen series on linear axes across zero (short half-way ticks left of zero),
// saved beside the first screenshot.
TEST(ChartDraw, ScreenshotLinear) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(520, 360);
    const int n = 60, series = 17;
    chart.Dimension(series, n);
    for (int p = 1; p <= n; ++p) {
        const float x = -3.0f + 0.1f * p;
        chart.SetPointData(int16_t(p), 0, x);
        for (int k = 1; k <= series; ++k)
            chart.SetPointData(int16_t(p), int16_t(k),
                               std::sin(x + 0.35f * k) * (0.2f + 0.05f * k) - 0.1f);
    }
    chart.SetXAxisTitle(QStringLiteral("Parameter"));
    chart.Refresh();
    ASSERT_TRUE(msgs.texts.empty());
    for (int k = 1; k <= series; ++k) EXPECT_NE(chart.RenderedColor(int16_t(k)), 0);
    const QString path = QDir(QStringLiteral(LUMORA_TEST_BUILD_DIR))
                             .filePath(QStringLiteral("chart_screenshot_linear.png"));
    ASSERT_TRUE(chart.Surface().save(path, "PNG"));
}

} // namespace
} // namespace lumora
