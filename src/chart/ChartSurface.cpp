#include "chart/ChartSurface.h"

#include "chart/scale/LineClip.h"

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
        // pixel walk stays short.
        const auto cut =
            ClipToBox({double(x1), double(y1), double(x2), double(y2)}, -2, -2, w + 1, h + 1);
        if (!cut) return;
        const bool endKept = cut->x2 == x2 && cut->y2 == y2;
        const int nx2 = int(std::lround(cut->x2)), ny2 = int(std::lround(cut->y2));
        Line(int(std::lround(cut->x1)), int(std::lround(cut->y1)), nx2, ny2, c);
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

void ChartSurface::VerticalText(int x, int y, const QString& text, const QFont& font, QRgb c) {
    if (text.isEmpty()) return;
    const QFontMetricsF fm(font, const_cast<QImage*>(&image_));
    QPainter p(&image_);
    p.setFont(font);
    p.setPen(QColor(c));
    // Turned a quarter to the left, the text's top edge faces the left of the surface.
    p.translate(x, y + fm.horizontalAdvance(text));
    p.rotate(-90);
    p.drawText(QPointF(0, fm.ascent()), text);
    p.end();
    Attach();
}

} // namespace lumora
