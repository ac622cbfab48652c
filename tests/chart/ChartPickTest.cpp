// Mouse handling: the curve under the pointer (by its colour on screen, with the
// neighbour probes), Curve raised only on changes, and double clicks in axis units.

#include "ChartTestSupport.h"
#include "FuzzyCompare.h"

#include <tuple>

namespace lumora {
namespace {

using test::MoveMouse;

struct CurveEvents {
    explicit CurveEvents(ChartWidget& chart) {
        QObject::connect(&chart, &ChartWidget::Curve,
                         [this](qint16 s, qint16 x, qint16 y) { events.emplace_back(s, x, y); });
    }
    std::vector<std::tuple<int, int, int>> events;
};

// A horizontal line for series 1 at y = 1 and a single pixel of series 2 at (2, 2)
// on axes 0..4 x 0..3.
void Prepare(ChartWidget& chart) {
    chart.resize(300, 220);
    chart.SetXAxisMin(0);
    chart.SetXAxisMax(4);
    chart.SetYAxisMin(0);
    chart.SetYAxisMax(3);
    chart.Dimension(2, 5);
    for (int p = 1; p <= 5; ++p) {
        chart.SetPointData(int16_t(p), 0, float(p - 1));
        chart.SetPointData(int16_t(p), 1, 1);
        chart.SetPointData(int16_t(p), 2, p == 3 ? 2.0f : kChartAuto);
    }
    chart.Refresh();
}

int Col(const ChartWidget& c, float v) {
    const AxisState& a = c.XAxis();
    return int(std::nearbyint(double(v - a.AxisLow) * (c.PlotRight() - c.PlotLeft()) /
                                  double(a.AxisHigh - a.AxisLow) +
                              c.PlotLeft()));
}
int Row(const ChartWidget& c, float v) {
    const AxisState& a = c.YAxis();
    return int(std::nearbyint(double(v - a.AxisHigh) * (c.PlotTop() - c.PlotBottom()) /
                                  double(a.AxisHigh - a.AxisLow) +
                              c.PlotTop()));
}

TEST(ChartPick, FirstMoveResolvesReferenceColoursInvisibly) {
    test::ChartMessages msgs;
    ChartWidget chart;
    Prepare(chart);
    const int x = Col(chart, 1.5f), y = Row(chart, 2.5f);
    const int32_t before = chart.Pixel(x, y);
    CurveEvents ev(chart);
    MoveMouse(chart, x, y);
    EXPECT_EQ(chart.Pixel(x, y), before);
    EXPECT_EQ(chart.PaletteEntry(17), test::Background(chart));
    EXPECT_EQ(chart.PaletteEntry(18), test::Foreground(chart));
    EXPECT_EQ(chart.PaletteEntry(16),
              ColorValueOfRgb(chart.palette().color(QPalette::Button).rgb()));
    EXPECT_TRUE(ev.events.empty()); // still no curve
}

TEST(ChartPick, OntoAlongAndOffACurve) {
    ChartWidget chart;
    Prepare(chart);
    CurveEvents ev(chart);
    const int row = Row(chart, 1);
    const int x0 = Col(chart, 0.5f);
    ASSERT_EQ(chart.Pixel(x0, row), chart.RenderedColor(1));

    MoveMouse(chart, x0, row - 10); // background
    EXPECT_TRUE(ev.events.empty());
    MoveMouse(chart, x0, row); // onto the line
    ASSERT_EQ(ev.events.size(), 1u);
    EXPECT_EQ(ev.events[0], std::make_tuple(1, x0, row));
    for (int x = x0 + 1; x < x0 + 40; ++x) MoveMouse(chart, x, row); // along it
    MoveMouse(chart, x0 + 40, row + 1);                              // just below: found above
    MoveMouse(chart, x0 + 41, row - 1); // just above: found below-right
    EXPECT_EQ(ev.events.size(), 1u);
    EXPECT_EQ(chart.LastCurve(), 1);
    MoveMouse(chart, x0 + 41, row - 12); // off
    ASSERT_EQ(ev.events.size(), 2u);
    EXPECT_EQ(ev.events[1], std::make_tuple(0, x0 + 41, row - 12));
    MoveMouse(chart, x0 + 42, row - 12);
    MoveMouse(chart, -5, 10); // outside the surface: nothing
    MoveMouse(chart, 300, 10);
    EXPECT_EQ(ev.events.size(), 2u);

    // to another curve directly
    const int sx = Col(chart, 2), sy = Row(chart, 2);
    MoveMouse(chart, x0, row);
    MoveMouse(chart, sx, sy);
    ASSERT_EQ(ev.events.size(), 4u);
    EXPECT_EQ(ev.events[3], std::make_tuple(2, sx, sy));
    // redrawing or Dimension do not forget the last curve
    chart.Refresh();
    MoveMouse(chart, sx, sy);
    EXPECT_EQ(ev.events.size(), 4u);
}

TEST(ChartPick, NeighbourProbes) {
    ChartWidget chart;
    Prepare(chart);
    CurveEvents ev(chart);
    // the single pixel of series 2
    const int sx = Col(chart, 2), sy = Row(chart, 2);
    ASSERT_EQ(chart.Pixel(sx, sy), chart.RenderedColor(2));
    ASSERT_NE(chart.RenderedColor(2), 0);
    struct Case {
        int dx, dy; // pointer relative to the pixel
        bool found;
    };
    // the pixel directly below the pointer or below-left of it is not searched
    for (const Case c : {Case{0, -1, false}, Case{1, -1, false}, Case{1, 1, true}, Case{0, 1, true},
                         Case{1, 0, true}, Case{-1, 1, true}, Case{-1, 0, true}, Case{-1, -1, true},
                         Case{0, 0, true}, Case{2, 0, false}, Case{0, 2, false}}) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
        MoveMouse(chart, sx - 20, sy - 20);
        ev.events.clear();
        MoveMouse(chart, sx + c.dx, sy + c.dy);
        if (c.found) {
            ASSERT_EQ(ev.events.size(), 1u);
            EXPECT_EQ(ev.events[0], std::make_tuple(2, sx, sy)); // reported where it was found
        } else {
            EXPECT_TRUE(ev.events.empty());
        }
    }
}

TEST(ChartPick, LookalikeSeriesAreNeverReported) {
    ChartWidget chart;
    // series 2 is drawn in entry 1 + 1: make that equal to entry 0
    QString colours = chart.CustomColors();
    const QString entry0 = colours.mid(0, 2);
    const uint32_t v = entry0.at(0).unicode() | (uint32_t(entry0.at(1).unicode()) << 16);
    const uint32_t w = v - 1;
    colours[2] = QChar(char16_t(w & 0xFFFF));
    colours[3] = QChar(char16_t(w >> 16));
    chart.SetCustomColors(colours);
    Prepare(chart);
    ASSERT_EQ(chart.RenderedColor(1), chart.RenderedColor(2));
    CurveEvents ev(chart);
    MoveMouse(chart, Col(chart, 0.5f), Row(chart, 1));
    MoveMouse(chart, Col(chart, 2), Row(chart, 2));
    EXPECT_TRUE(ev.events.empty());
}

TEST(ChartPick, DoubleClickInAxisUnits) {
    ChartWidget chart;
    chart.resize(320, 240);
    chart.SetYAxisLogScale(true);
    chart.Dimension(1, 3);
    const float xs[] = {400, 550, 700}, ys[] = {1e-6f, 1e-4f, 3e-3f};
    for (int p = 0; p < 3; ++p) {
        chart.SetPointData(int16_t(p + 1), 0, xs[p]);
        chart.SetPointData(int16_t(p + 1), 1, ys[p]);
    }
    chart.Refresh();
    std::vector<std::pair<float, float>> points;
    QObject::connect(&chart, &ChartWidget::UserPoint,
                     [&](float x, float y) { points.emplace_back(x, y); });

    const AxisState& xa = chart.XAxis();
    const AxisState& ya = chart.YAxis();
    ASSERT_EQ(ya.LabelTexts(4), "-3");
    // the exact (fractional) pixel of label 500 and of label -3
    const double px = double(500.0f - xa.AxisLow) * (chart.PlotRight() - chart.PlotLeft()) /
                          double(xa.AxisHigh - xa.AxisLow) +
                      chart.PlotLeft();
    const double py = double(-3.0f - ya.AxisHigh) * (chart.PlotTop() - chart.PlotBottom()) /
                          double(ya.AxisHigh - ya.AxisLow) +
                      chart.PlotTop();
    test::SendMouse(chart, QEvent::MouseButtonPress, QPointF(px, py), Qt::LeftButton);
    test::SendMouse(chart, QEvent::MouseButtonRelease, QPointF(px, py), Qt::LeftButton);
    EXPECT_FLOAT_EQ(chart.MouseUpX(), float(px));
    // the double click uses the last release, wherever Qt reports the click itself
    test::SendMouse(chart, QEvent::MouseButtonDblClick, QPointF(5, 5), Qt::LeftButton);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_NEAR(points[0].first, 500, 1e-3);
    EXPECT_NEAR(points[0].second, -3, 1e-5); // a decimal logarithm, not 0.001

    // corners of the frame give the axis ends; outside the frame is not checked
    test::SendMouse(chart, QEvent::MouseButtonRelease,
                    QPointF(chart.PlotLeft(), chart.PlotBottom()), Qt::LeftButton);
    test::SendMouse(chart, QEvent::MouseButtonDblClick, QPointF(0, 0), Qt::LeftButton);
    test::SendMouse(chart, QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton);
    test::SendMouse(chart, QEvent::MouseButtonDblClick, QPointF(0, 0), Qt::LeftButton);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_FLOAT_EQ(points[1].first, xa.AxisLow);
    EXPECT_FLOAT_EQ(points[1].second, ya.AxisLow);
    EXPECT_LT(points[2].first, xa.AxisLow);
    EXPECT_GT(points[2].second, ya.AxisHigh);
}

TEST(ChartPick, DoubleClickOnANeverDrawnChart) {
    ChartWidget chart;
    chart.resize(200, 100);
    int raised = 0;
    QObject::connect(&chart, &ChartWidget::UserPoint, [&](float, float) { ++raised; });
    test::SendMouse(chart, QEvent::MouseButtonRelease, QPointF(50, 50), Qt::LeftButton);
    test::SendMouse(chart, QEvent::MouseButtonDblClick, QPointF(50, 50), Qt::LeftButton);
    EXPECT_EQ(raised, 0);
}

} // namespace
} // namespace lumora
