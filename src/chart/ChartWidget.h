#pragma once
// ChartWidget: the plotting control of every chart window. Series of (x, y) points as
// polylines on linear or decimal-logarithmic axes that scale themselves, on a
// persistent image; a double click reports its point in axis units (UserPoint) and
// the curve under the mouse is recognised by its colour on screen (Curve).
//
// Hosts drive it with Clear, Dimension, the axis settings, PointData or SetData,
// EmptyPoint, SkipSeries, CustomColors and Refresh. Misuse shows a message box and
// the call returns normally (ChartMessage.h). The Y axis title is stored and
// returned but not drawn, so that the frame's layout depends on the X title only.

#include "base/Bounded.h"
#include "chart/ChartSurface.h"
#include "chart/scale/AxisState.h"
#include "chart/scale/ChartPalette.h"

#include <QWidget>

#include <cstdint>
#include <span>

namespace lumora {

class ScaleMap;

class ChartWidget : public QWidget {
    Q_OBJECT

public:
    explicit ChartWidget(QWidget* parent = nullptr);

    // ---- Public members

    /// Series colours 0..15 as 32 UTF-16 code units (two per colour value).
    QString CustomColors() const;
    void SetCustomColors(const QString& value);
    /// Resets both axes (log scales stay) and the data; nothing is redrawn.
    void Clear();
    /// Draws the plot; Cumulatively keeps the Y range of the previous drawing in view.
    void Refresh(bool Cumulatively = false);

    float XAxisMin() const { return x_.Min; }
    void SetXAxisMin(float Value) { x_.Min = Value; }
    float XAxisMax() const { return x_.Max; }
    void SetXAxisMax(float Value) { x_.Max = Value; }
    float XAxisUnit() const { return x_.Unit; }
    /// Values <= 0 show "Invalid value" and keep the previous one.
    void SetXAxisUnit(float Value) { SetUnit(x_, Value); }
    uint8_t XAxisParts() const { return x_.Parts; }
    void SetXAxisParts(uint8_t Value) { x_.Parts = Value; }
    uint8_t XAxisDigits() const { return x_.Digits; }
    void SetXAxisDigits(uint8_t Value) { x_.Digits = Value; }
    bool XAxisLogScale() const { return x_.LogScale; }
    void SetXAxisLogScale(bool Value) { x_.LogScale = Value; }
    QString XAxisTitle() const { return QString::fromStdString(x_.Title); }
    void SetXAxisTitle(const QString& Value) { x_.Title = Value.toStdString(); }

    float YAxisMin() const { return y_.Min; }
    void SetYAxisMin(float Value) { y_.Min = Value; }
    float YAxisMax() const { return y_.Max; }
    void SetYAxisMax(float Value) { y_.Max = Value; }
    float YAxisUnit() const { return y_.Unit; }
    void SetYAxisUnit(float Value) { SetUnit(y_, Value); }
    uint8_t YAxisParts() const { return y_.Parts; }
    void SetYAxisParts(uint8_t Value) { y_.Parts = Value; }
    uint8_t YAxisDigits() const { return y_.Digits; }
    void SetYAxisDigits(uint8_t Value) { y_.Digits = Value; }
    bool YAxisLogScale() const { return y_.LogScale; }
    void SetYAxisLogScale(bool Value) { y_.LogScale = Value; }
    QString YAxisTitle() const { return QString::fromStdString(y_.Title); }
    void SetYAxisTitle(const QString& Value) { y_.Title = Value.toStdString(); }

    /// Series 1..Series of Points points, all zero (negative counts as 0); discards the data.
    void Dimension(int16_t Series, int16_t Points);
    int16_t nSeries() const { return nSeries_; }
    int16_t nPoints() const { return nPoints_; }
    /// Values[0] is X, Values[s] series s of point Index; needs nSeries + 1 values.
    void SetData(int16_t Index, std::span<const float> Values);
    /// Series 0 is X. Outside the data: a message, and 0 on reading.
    float PointData(int16_t Point, int16_t Series);
    void SetPointData(int16_t Point, int16_t Series, float Value);
    /// An empty point is not drawn and breaks every polyline.
    bool EmptyPoint(int16_t Point);
    void SetEmptyPoint(int16_t Point, bool Value);
    /// A skipped series (1..nSeries) is hidden and left out of the Y range.
    bool SkipSeries(int16_t Series);
    void SetSkipSeries(int16_t Series, bool Value);

    // ---- Read-only state for hosts and tests

    const AxisState& XAxis() const { return x_; }
    const AxisState& YAxis() const { return y_; }
    int32_t PlotLeft() const { return frameLeft_; }
    int32_t PlotRight() const { return frameRight_; }
    int32_t PlotTop() const { return frameTop_; }
    int32_t PlotBottom() const { return frameBottom_; }
    int16_t SpaceHeight() const { return spaceHeight_; }
    /// Screen colour recorded for a series; 0 while unknown or out of range.
    int32_t RenderedColor(int16_t Series) const;
    /// Palette entry 0..18 (colour value or system-colour code).
    int32_t PaletteEntry(int i) const { return palette_.at(static_cast<size_t>(i)); }
    int16_t LastCurve() const { return lastCurve_; }
    float MouseUpX() const { return mouseUpX_; }
    float MouseUpY() const { return mouseUpY_; }
    /// Colour value of a pixel of the drawing surface; -1 outside it.
    int32_t Pixel(int x, int y) const { return surface_.Pixel(x, y); }
    const QImage& Surface() const { return surface_.Image(); }
    /// The font the labels are measured and drawn in.
    QFont ChartFont() const;

signals:
    /// A double click, at the last release position, in axis units (decimal logs on log axes).
    void UserPoint(float X, float Y);
    /// The series under the mouse changed (0: none); X, Y the pixel where it was found.
    void Curve(qint16 Series, qint16 X, qint16 Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void SetUnit(AxisState& axis, float value);
    void Say(const char* text);

    void DrawChart(bool Cumulatively);
    void FindDataRanges(bool cumulatively);
    void LayOut();
    void DrawAxes();
    void DrawMinorTicks(const AxisState& axis, const ScaleMap& map, double pixelsPerLabel,
                        bool xAxis);
    void DrawSeries();
    void StartSeries(int32_t x, int32_t y, int32_t colour, int k);
    void LineToClipped(int32_t x, int32_t y, int32_t colour, int k);
    void Record(int k, int x, int y);
    void Erase();

    void MouseMoved(int X, int Y);

    /// Screen RGB of a colour value or system-colour code.
    QRgb Rgb(int32_t colour) const;
    QRgb SystemRgb(int index) const;

    AxisState x_, y_;
    float mouseUpX_ = 0, mouseUpY_ = 0;
    int16_t nSeries_ = 0, nPoints_ = 0;
    Mat<float> data_;         // (series, point); series 0 is X
    Vec<uint8_t> emptyPoint_; // per point
    Vec<uint8_t> skip_;       // per series
    Vec<int32_t> rendered_;   // per series
    int32_t frameLeft_ = 0, frameRight_ = 0, frameTop_ = 0, frameBottom_ = 0;
    int32_t penX_ = 0, penY_ = 0;
    int16_t spaceHeight_ = 0;
    ChartPalette palette_;
    int16_t lastCurve_ = 0;
    ChartSurface surface_;
    std::vector<int32_t> pointX_; // pixel column of each point while drawing
};

} // namespace lumora
