#pragma once
// Shared pieces of the chart tests: a QApplication for the whole run (offscreen),
// a recorder for the chart's messages, and pixel helpers.

#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::test {

/// Records the chart's messages for its lifetime instead of showing boxes.
class ChartMessages {
public:
    ChartMessages() {
        SetChartMessageSink([this](const std::string& t) { texts.push_back(t); });
    }
    ~ChartMessages() { SetChartMessageSink({}); }
    std::vector<std::string> texts;
};

/// Number of pixels of the given colour value inside [x0, x1] x [y0, y1].
inline int CountColor(const ChartWidget& chart, int32_t colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (chart.Pixel(x, y) == colour) ++n;
    return n;
}

inline int CountColor(const ChartWidget& chart, int32_t colour) {
    return CountColor(chart, colour, 0, 0, chart.width() - 1, chart.height() - 1);
}

/// Colour value of a system colour as the chart draws it.
inline int32_t Background(const ChartWidget& chart) {
    return ColorValueOfRgb(chart.palette().color(QPalette::Base).rgb());
}
inline int32_t Foreground(const ChartWidget& chart) {
    return ColorValueOfRgb(chart.palette().color(QPalette::WindowText).rgb());
}

inline void SendMouse(ChartWidget& chart, QEvent::Type type, QPointF pos,
                      Qt::MouseButton button = Qt::NoButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || button == Qt::NoButton
                                      ? Qt::MouseButtons()
                                      : Qt::MouseButtons(button);
    QMouseEvent ev(type, pos, chart.mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(&chart, &ev);
}

inline void MoveMouse(ChartWidget& chart, int x, int y) {
    SendMouse(chart, QEvent::MouseMove, QPointF(x, y));
}

} // namespace lumora::test
