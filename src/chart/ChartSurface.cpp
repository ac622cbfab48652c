#include "chart/ChartSurface.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lumora {

ChartSurface::ChartSurface(int width, int height, QRgb fill)
    : image_(std::max(1, width), std::max(1, height), QImage::Format_RGB32) {
    image_.fill(fill);
    Attach();
}

void ChartSurface::Attach() {
    bits_ = image_.bits(); // the image is never shared, so this does not copy
    stride_ = image_.bytesPerLine();
    width_ = image_.width();
    height_ = image_.height();
}

void ChartSurface::Resize(int width, int height, QRgb fill) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (width == width_ && height == height_) return;
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(fill);
    {
        QPainter p(&next);
        p.drawImage(0, 0, image_);
    }
    image_ = std::move(next);
    Attach();
}

void ChartSurface::Line(int x1, int y1, int x2, int y2, QRgb c) {
    const int w = width_, h = height_;
    if ((x1 < 0 && x2 < 0) || (y1 < 0 && y2 < 0) || (x1 >= w && x2 >= w) || (y1 >= h && y2 >= h))
        return;
    const int64_t dx = std::llabs(static_cast<int64_t>(x2) - x1),
                  dy = std::llabs(static_cast<int64_t>(y2) - y1);
    if (std::max(dx, dy) > 4 * static_cast<int64_t>(w + h)) {
        // Far-reaching segments: cut to a margin around the surface first so the
        // pixel walk stays short (Liang-Barsky in double).
        double t0 = 0, t1 = 1;
        const double fx = x1, fy = y1, ddx = double(x2) - x1, ddy = double(y2) - y1;
        const double p[4] = {-ddx, ddx, -ddy, ddy};
        const double q[4] = {fx + 2, double(w) + 1 - fx, fy + 2, double(h) + 1 - fy};
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0) return;
            } else {
                const double r = q[i] / p[i];
                if (p[i] < 0)
                    t0 = std::max(t0, r);
                else
                    t1 = std::min(t1, r);
            }
        }
        if (t0 > t1) return;
        const bool endKept = t1 >= 1;
        const int nx1 = int(std::lround(fx + t0 * ddx)), ny1 = int(std::lround(fy + t0 * ddy));
        const int nx2 = int(std::lround(fx + t1 * ddx)), ny2 = int(std::lround(fy + t1 * ddy));
        Line(nx1, ny1, nx2, ny2, c);
        if (!endKept) SetPixel(nx2, ny2, c);
        return;
    }
    // Bresenham, stopping before the end point.
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int64_t err = dx - dy;
    int x = x1, y = y1;
    while (x != x2 || y != y2) {
        SetPixel(x, y, c);
        const int64_t e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
}

int ChartSurface::TextWidth(const QString& text, const QFont& font) const {
    return static_cast<int>(
        std::nearbyint(QFontMetricsF(font, const_cast<QImage*>(&image_)).horizontalAdvance(text)));
}

int ChartSurface::TextHeight(const QString& text, const QFont& font) const {
    (void)text; // every line of the font has the same height
    return static_cast<int>(
        std::nearbyint(QFontMetricsF(font, const_cast<QImage*>(&image_)).height()));
}

void ChartSurface::Text(int x, int y, const QString& text, const QFont& font, QRgb c) {
    if (text.isEmpty()) return;
    QPainter p(&image_);
    p.setFont(font);
    p.setPen(QColor(c));
    p.drawText(QPointF(x, y + QFontMetricsF(font, const_cast<QImage*>(&image_)).ascent()), text);
    p.end();
    Attach();
}

} // namespace lumora
