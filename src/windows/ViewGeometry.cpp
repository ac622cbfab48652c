#include "windows/ViewGeometry.h"

#include "model/State.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>

#include <cmath>

namespace lumora {

namespace {
double PerPixel(float twipsPerPixel) {
    return std::isfinite(twipsPerPixel) && twipsPerPixel > 0 ? twipsPerPixel : 15.0;
}
} // namespace

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

int CaptionWidth(const QWidget& window) {
    // Window managers draw captions in a bold system font, with an icon and up to
    // three buttons beside them.
    QFont font = QApplication::font();
    font.setBold(true);
    constexpr int kDecoration = 130;
    return QFontMetrics(font).horizontalAdvance(window.windowTitle()) + kDecoration;
}

void FitCaption(QWidget& window) {
    const int need = CaptionWidth(window);
    if (window.width() >= need) return;
    if (window.minimumWidth() == window.maximumWidth()) window.setFixedWidth(need);
    window.resize(need, window.height());
}

int TwipsToPixels(double twips, float twipsPerPixel) {
    return static_cast<int>(std::lround(twips / PerPixel(twipsPerPixel)));
}

QRect TwipsRect(const State& st, int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left, st.TwipsX), TwipsToPixels(top, st.TwipsY),
                 TwipsToPixels(width, st.TwipsX), TwipsToPixels(height, st.TwipsY));
}

void ChartPointToScreenTwips(const State& st, const QWidget& chart, int X, int Y, int32_t& x,
                             int32_t& y) {
    // Window left + border + chart left, all of which the chart's global origin is.
    const QPoint origin = chart.mapToGlobal(QPoint(0, 0));
    const double tx = PerPixel(st.TwipsX), ty = PerPixel(st.TwipsY);
    x = static_cast<int32_t>(std::nearbyint(origin.x() * tx + X * tx));
    y = static_cast<int32_t>(std::nearbyint(origin.y() * ty + Y * ty));
}

} // namespace lumora
