#pragma once
// The chart's persistent drawing surface: an image that keeps what is drawn until
// it is erased, with single pixels, one-pixel lines, texts placed by their top-left
// corner, and read-back of any pixel as a colour value.

#include <QFont>
#include <QImage>
#include <QString>

#include <cstdint>

namespace lumora {

/// Colour value (R + 256 G + 65536 B) to an opaque RGB; only the low 24 bits count.
inline QRgb RgbOfColorValue(int32_t v) {
    return qRgb(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}
inline int32_t ColorValueOfRgb(QRgb c) {
    return qRed(c) + 256 * qGreen(c) + 65536 * qBlue(c);
}

class ChartSurface {
public:
    ChartSurface(int width, int height, QRgb fill);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const QImage& Image() const { return image_; }

    /// New size; the old picture stays at the top-left, new area filled.
    void Resize(int width, int height, QRgb fill);
    void Erase(QRgb fill) { image_.fill(fill); }

    /// Pixels outside the surface are ignored.
    void SetPixel(int x, int y, QRgb c) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            reinterpret_cast<QRgb*>(bits_ + static_cast<ptrdiff_t>(y) * stride_)[x] =
                c | 0xFF000000u;
    }
    /// Colour value of a pixel; -1 outside the surface.
    int32_t Pixel(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
        return ColorValueOfRgb(
            reinterpret_cast<const QRgb*>(bits_ + static_cast<ptrdiff_t>(y) * stride_)[x]);
    }

    /// One-pixel line from (x1, y1) towards (x2, y2); the last pixel is not drawn.
    void Line(int x1, int y1, int x2, int y2, QRgb c);

    /// Rounded advance width and height of a text in the given font.
    int TextWidth(const QString& text, const QFont& font) const;
    int TextHeight(const QString& text, const QFont& font) const;
    /// Text with its top-left corner at (x, y).
    void Text(int x, int y, const QString& text, const QFont& font, QRgb c);
    /// Text turned to read upwards; (x, y) is the top-left corner of its turned box.
    void VerticalText(int x, int y, const QString& text, const QFont& font, QRgb c);

private:
    void Attach();

    QImage image_;
    uchar* bits_ = nullptr;
    qsizetype stride_ = 0;
    int width_ = 0, height_ = 0;
};

} // namespace lumora
