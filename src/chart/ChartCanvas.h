#pragma once
// What the chart's frame, labels, titles and legend are drawn on: the persistent
// screen surface (pixel-exact, colours read back) or a painter for a saved or copied
// image (PNG or SVG, any size). One layout and one drawing serve both.

#include <QFont>
#include <QRgb>
#include <QString>

namespace lumora {

class ChartCanvas {
public:
    virtual ~ChartCanvas() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    /// Text height of a line in the canvas font (pixels).
    virtual int LineHeight() const = 0;
    /// Rounded advance width of a text (pixels).
    virtual int TextWidth(const QString& text) const = 0;
    /// One-pixel line; the screen leaves out its last pixel.
    virtual void Line(int x1, int y1, int x2, int y2, QRgb c) = 0;
    /// Text with its top-left corner at (x, y).
    virtual void Text(int x, int y, const QString& text, QRgb c) = 0;
    /// Text reading upwards, its box's top-left corner (after turning) at (x, y).
    virtual void VerticalText(int x, int y, const QString& text, QRgb c) = 0;
};

} // namespace lumora
