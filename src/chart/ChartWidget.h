#pragma once
// ChartWidget: the plotting control of every chart window. Series of (x, y) points as
// polylines on linear or decimal-logarithmic axes that scale themselves, on a
// persistent image; a double click reports its point in axis units (UserPoint) and
// the curve under the mouse is recognised by its colour on screen (Curve).
//
// Hosts drive it with Clear, Dimension, the axis settings, PointData or SetData,
// EmptyPoint, SkipSeries, CustomColors and Refresh. Misuse shows a message box and
// the call returns normally (ChartMessage.h). Both axis titles are drawn; named
// series get a legend beside the frame, which the user can hide. The context menu
// copies the chart as an image, saves it (PNG or SVG, any size) or saves the plotted
// data as CSV.

#include "base/Bounded.h"
#include "chart/ChartSurface.h"
#include "chart/scale/AxisState.h"
#include "chart/scale/ChartCsv.h"
#include "chart/scale/ChartPalette.h"

#include <QWidget>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QPainter;

namespace lumora {

class ChartCanvas;
class ScaleMap;

/// The legend lists at most this many series; with more it is left out.
inline constexpr int kLegendMax = 16;

/// One line of the legend.
struct LegendEntry {
    int16_t series = 0;
    QString name;
    bool operator==(const LegendEntry&) const = default;
};

/// The plot frame of one drawing, in pixels of its surface.
struct ChartFrame {
    int32_t left = 0, right = 0, top = 0, bottom = 0;
    /// Left edge of the legend; 0 without one
    int32_t legendLeft = 0;
};

class ChartWidget : public QWidget {
    Q_OBJECT

public:
    explicit ChartWidget(QWidget* parent = nullptr);

    // ---- Public members

    /// Series colours 0..15 as 32 UTF-16 code units (two per colour value).
    QString CustomColors() const;
    void SetCustomColors(const QString& value);
    /// Resets both axes (log scales stay; titles go) and the data; nothing is redrawn.
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
    /// Drawn instead of the Y title where that is longer than the frame is high.
    void SetYAxisShortTitle(const QString& Value) { yShortTitle_ = Value; }

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
    /// Name of a series (1..nSeries) in the legend and the saved data; "" unnamed.
    /// Dimension forgets the names.
    QString SeriesName(int16_t Series) const;
    void SetSeriesName(int16_t Series, const QString& Name);

    // ---- Legend, readout and export

    /// The user's choice (context menu); shown by default.
    bool LegendVisible() const { return legendVisible_; }
    void SetLegendVisible(bool on);
    /// The named series that are shown, in order: empty when the legend is hidden or
    /// would list more than kLegendMax.
    std::vector<LegendEntry> LegendEntries() const;
    /// True when the last Refresh drew the chart (not a failed or blank drawing).
    bool Drawn() const { return drawn_; }
    /// The data value (logs undone on a log axis) at a pixel of the control; nothing
    /// before the first drawing.
    std::optional<std::pair<double, double>> ValueAt(double x, double y) const;
    /// The shown series as a table: X, then one column per shown series.
    CsvTable DataTable() const;
    /// The chart at `size` pixels, text enlarged with the size beyond the control's.
    QImage RenderImage(QSize size) const;
    /// The chart as SVG at `size` (one path per shown series).
    QByteArray RenderSvg(QSize size) const;
    /// Saves DataTable as CSV; false with the reason.
    bool SaveData(const QString& path, QString& error) const;
    /// Saves the image as SVG (".svg") or PNG (any other name); false with the reason.
    bool SaveImage(const QString& path, QSize size, QString& error) const;
    /// Puts the chart as it is on screen on the clipboard.
    void CopyImage() const;

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
    /// The data value under the pointer (inside false: it left the plot frame).
    void Pointer(bool inside, double X, double Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void SetUnit(AxisState& axis, float value);
    void Say(const char* text);

    void DrawChart(bool Cumulatively);
    /// Lays out and draws again at the scale of the last drawing (resize, legend).
    void Redraw();
    void FitSurface();
    void FindDataRanges(bool cumulatively);
    ChartFrame LayOut(const ChartCanvas& canvas) const;
    int LegendWidth(const ChartCanvas& canvas, const std::vector<LegendEntry>& entries) const;
    void DrawDecorations(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const;
    void DrawXAxis(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const;
    void DrawYAxis(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const;
    void DrawLegend(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const;
    void DrawMinorTicks(ChartCanvas& canvas, const ChartFrame& f, const AxisState& axis,
                        const ScaleMap& map, double pixelsPerLabel, bool xAxis, QRgb fg) const;
    void DrawSeries();
    /// The shown series as paths on a painter (saved and copied images).
    void PaintSeries(QPainter& p, const ChartFrame& f) const;
    /// The whole chart on a painter at `size` logical pixels.
    void Render(QPainter& p, QSize size) const;
    /// Export size and the scale that enlarges text for sizes beyond the control's.
    double ExportScale(QSize size) const;
    void SaveImageAs();
    void SaveDataAs();
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
    Mat<float> data_;            // (series, point); series 0 is X
    Vec<uint8_t> emptyPoint_;    // per point
    Vec<uint8_t> skip_;          // per series
    Vec<int32_t> rendered_;      // per series
    std::vector<QString> names_; // per series
    QString yShortTitle_;
    bool legendVisible_ = true;
    bool drawn_ = false;
    int32_t frameLeft_ = 0, frameRight_ = 0, frameTop_ = 0, frameBottom_ = 0;
    int32_t penX_ = 0, penY_ = 0;
    int16_t spaceHeight_ = 0;
    ChartPalette palette_;
    int16_t lastCurve_ = 0;
    ChartSurface surface_;
    std::vector<int32_t> pointX_; // pixel column of each point while drawing
};

} // namespace lumora
