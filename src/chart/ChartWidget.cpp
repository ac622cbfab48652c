#include "chart/ChartWidget.h"

#include "base/RuntimeError.h"
#include "chart/ChartCanvas.h"
#include "chart/ChartMessage.h"
#include "chart/scale/LineClip.h"
#include "chart/scale/ScaleAxis.h"
#include "chart/scale/ScaleMap.h"
#include "chart/scale/SeriesPolylines.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {
constexpr const char* kInvalidValue = "Invalid value";
constexpr const char* kBadSetData = "Incorrect SetData call";
constexpr const char* kBadPointData = "Incorrect PointData call";
constexpr const char* kBadEmptyPoint = "Incorrect EmptyPoint call";
constexpr const char* kBadSkipSeries = "Incorrect SkipSeries call";

// Neighbours searched, in this order, when the pointer is on background, frame or
// text. The pixels straight below and below-left are not among them.
constexpr int kProbes[6][2] = {{-1, -1}, {0, -1}, {-1, 0}, {1, -1}, {1, 0}, {1, 1}};

// Legend: a line sample, a gap, the name.
constexpr int kSampleLength = 20;
constexpr int kSampleGap = 4;

/// Minor intervals per label interval: fewer where ticks would come closer than 8 pixels.
int MinorParts(int parts, double pixelsPerLabel) {
    int p = parts;
    if (p > 1 && pixelsPerLabel / p < 8) {
        if (p < 10)
            p = 1;
        else
            p = pixelsPerLabel >= 40 ? 5 : (pixelsPerLabel >= 16 ? 2 : 1);
    }
    return p;
}

/// Length of minor tick k of p per label: 0 at a label, 5 half-way, else 3.
int MinorTickLength(int k, int p) {
    const int rem = k % p; // negative left of zero, so half-way ticks there are short
    return rem == 5 ? 5 : (rem != 0 ? 3 : 0);
}

/// The persistent screen surface in the chart's font, its line height as measured once.
class SurfaceCanvas final : public ChartCanvas {
public:
    SurfaceCanvas(ChartSurface& surface, QFont font, int lineHeight)
        : surface_(surface), font_(std::move(font)), lineHeight_(lineHeight) {}
    int Width() const override { return surface_.Width(); }
    int Height() const override { return surface_.Height(); }
    int LineHeight() const override { return lineHeight_; }
    int TextWidth(const QString& text) const override { return surface_.TextWidth(text, font_); }
    void Line(int x1, int y1, int x2, int y2, QRgb c) override { surface_.Line(x1, y1, x2, y2, c); }
    void Text(int x, int y, const QString& text, QRgb c) override {
        surface_.Text(x, y, text, font_, c);
    }
    void VerticalText(int x, int y, const QString& text, QRgb c) override {
        surface_.VerticalText(x, y, text, font_, c);
    }

private:
    ChartSurface& surface_;
    QFont font_;
    int lineHeight_;
};

/// An axis title as drawn: a log axis says it shows decimal logarithms.
QString TitleText(const AxisState& axis) {
    const QString title = QString::fromStdString(axis.Title);
    return axis.LogScale ? QStringLiteral("lg (") + title + QStringLiteral(")") : title;
}
} // namespace

ChartWidget::ChartWidget(QWidget* parent)
    : QWidget(parent), surface_(width(), height(), qRgb(255, 255, 255)) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    InitAxis(x_);
    InitAxis(y_);
    Dimension(0, 0);
    palette_ = DefaultPalette();
    Erase();
    spaceHeight_ = static_cast<int16_t>(surface_.TextHeight(QStringLiteral(" "), ChartFont()));
}

QFont ChartWidget::ChartFont() const {
    // Plain pixels: anti-aliased text would leave colours that are neither text
    // nor background, and the curve search must tell them apart.
    QFont f = font();
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

// ---- Properties and data

void ChartWidget::Say(const char* text) {
    ShowChartMessage(this, text);
}

void ChartWidget::SetUnit(AxisState& axis, float value) {
    if (value <= 0.0f) {
        Say(kInvalidValue);
        return;
    }
    axis.Unit = value;
}

QString ChartWidget::CustomColors() const {
    return QString::fromStdU16String(CustomColorsText(palette_));
}

void ChartWidget::SetCustomColors(const QString& value) {
    SetCustomColorsText(palette_, value.toStdU16String());
}

void ChartWidget::Clear() {
    InitAxis(x_);
    InitAxis(y_);
    yShortTitle_.clear();
    Dimension(0, 0);
}

void ChartWidget::Refresh(bool Cumulatively) {
    DrawChart(Cumulatively);
}

void ChartWidget::Dimension(int16_t Series, int16_t Points) {
    nSeries_ = std::max<int16_t>(Series, 0);
    nPoints_ = std::max<int16_t>(Points, 0);
    data_.Redim(nSeries_, nPoints_);
    emptyPoint_.Redim(nPoints_);
    skip_.Redim(nSeries_);
    rendered_.Redim(nSeries_);
    names_.assign(static_cast<size_t>(nSeries_) + 1, QString());
}

void ChartWidget::SetData(int16_t Index, std::span<const float> Values) {
    // A too short array is misuse like a bad index, not a crash.
    if (Index < 1 || Index > nPoints_ || Values.size() < static_cast<size_t>(nSeries_) + 1) {
        Say(kBadSetData);
        return;
    }
    for (int s = 0; s <= nSeries_; ++s) data_(s, Index) = Values[static_cast<size_t>(s)];
}

float ChartWidget::PointData(int16_t Point, int16_t Series) {
    if (Point < 1 || Point > nPoints_ || Series < 0 || Series > nSeries_) {
        Say(kBadPointData);
        return 0.0f;
    }
    return data_(Series, Point);
}

void ChartWidget::SetPointData(int16_t Point, int16_t Series, float Value) {
    if (Point < 1 || Point > nPoints_ || Series < 0 || Series > nSeries_) {
        Say(kBadPointData);
        return;
    }
    data_(Series, Point) = Value;
}

bool ChartWidget::EmptyPoint(int16_t Point) {
    if (Point < 1 || Point > nPoints_) {
        Say(kBadEmptyPoint);
        return false;
    }
    return emptyPoint_(Point) != 0;
}

void ChartWidget::SetEmptyPoint(int16_t Point, bool Value) {
    if (Point < 1 || Point > nPoints_) {
        Say(kBadEmptyPoint);
        return;
    }
    emptyPoint_(Point) = Value ? 1 : 0;
}

bool ChartWidget::SkipSeries(int16_t Series) {
    if (Series < 1 || Series > nSeries_) {
        Say(kBadSkipSeries);
        return false;
    }
    return skip_(Series) != 0;
}

void ChartWidget::SetSkipSeries(int16_t Series, bool Value) {
    if (Series < 1 || Series > nSeries_) {
        Say(kBadSkipSeries);
        return;
    }
    skip_(Series) = Value ? 1 : 0;
}

QString ChartWidget::SeriesName(int16_t Series) const {
    return Series >= 1 && Series <= nSeries_ ? names_[static_cast<size_t>(Series)] : QString();
}

void ChartWidget::SetSeriesName(int16_t Series, const QString& Name) {
    if (Series >= 1 && Series <= nSeries_) names_[static_cast<size_t>(Series)] = Name;
}

void ChartWidget::SetLegendVisible(bool on) {
    legendVisible_ = on;
    Redraw();
}

std::vector<LegendEntry> ChartWidget::LegendEntries() const {
    std::vector<LegendEntry> entries;
    if (!legendVisible_) return entries;
    for (int k = 1; k <= nSeries_; ++k)
        if (!skip_(k) && !names_[static_cast<size_t>(k)].isEmpty())
            entries.push_back({static_cast<int16_t>(k), names_[static_cast<size_t>(k)]});
    if (entries.size() > static_cast<size_t>(kLegendMax)) entries.clear(); // unreadable
    return entries;
}

int32_t ChartWidget::RenderedColor(int16_t Series) const {
    return Series >= 0 && Series <= nSeries_ ? rendered_(Series) : 0;
}

// ---- Colours

QRgb ChartWidget::SystemRgb(int index) const {
    const QPalette& pal = palette();
    switch (index) {
    case 5:
        return pal.color(QPalette::Base).rgb(); // window background
    case 8:
        return pal.color(QPalette::WindowText).rgb(); // window text
    case 15:
        return pal.color(QPalette::Button).rgb(); // button face
    case 13:
        return pal.color(QPalette::Highlight).rgb();
    case 14:
        return pal.color(QPalette::HighlightedText).rgb();
    case 16:
        return pal.color(QPalette::Dark).rgb(); // button shadow
    case 18:
        return pal.color(QPalette::ButtonText).rgb();
    case 20:
        return pal.color(QPalette::Light).rgb(); // button highlight
    default:
        return pal.color(QPalette::Window).rgb();
    }
}

QRgb ChartWidget::Rgb(int32_t colour) const {
    return colour < 0 ? SystemRgb(colour & 0xFF) : RgbOfColorValue(colour);
}

void ChartWidget::Erase() {
    surface_.Erase(Rgb(kSysWindow));
}

// ---- Drawing

void ChartWidget::DrawChart(bool Cumulatively) {
    drawn_ = false;
    try {
        FindDataRanges(Cumulatively);
        for (AxisState* axis : {&x_, &y_}) {
            const ScaleOutcome out = ScaleAxis(*axis);
            if (out.failed) {
                FitSurface();
                Erase();
                update();
                if (!out.message.empty()) Say(out.message.c_str());
                return;
            }
        }
    } catch (const RuntimeError&) {
        FitSurface();
        Erase(); // a chart that cannot be drawn stays blank, without a message
        update();
        return;
    }
    drawn_ = true;
    Redraw();
}

void ChartWidget::FitSurface() {
    // A hidden control gets its resize events only when shown; draw at its size now.
    if (surface_.Width() != std::max(1, width()) || surface_.Height() != std::max(1, height()))
        surface_.Resize(width(), height(), Rgb(kSysWindow));
}

void ChartWidget::Redraw() {
    if (!drawn_) return;
    FitSurface();
    try {
        SurfaceCanvas canvas(surface_, ChartFont(), spaceHeight_);
        const ChartFrame f = LayOut(canvas);
        frameLeft_ = f.left;
        frameRight_ = f.right;
        frameTop_ = f.top;
        frameBottom_ = f.bottom;
        Erase();
        DrawDecorations(canvas, f, Rgb(kSysWindowText));
        DrawSeries();
    } catch (const RuntimeError&) {
        drawn_ = false;
        Erase(); // a chart that cannot be drawn stays blank, without a message
    }
    update();
}

void ChartWidget::FindDataRanges(bool cumulatively) {
    float xmin = kChartAuto, xmax = -kChartAuto, ymin = kChartAuto, ymax = -kChartAuto;
    if (cumulatively) {
        ymin = y_.DataMin;
        ymax = y_.DataMax;
    }
    for (int p = 1; p <= nPoints_; ++p) {
        if (emptyPoint_(p)) continue;
        const float x = data_(0, p);
        if (!(std::fabs(x) < kChartAuto && (!x_.LogScale || x > 1E-35f))) continue;
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        for (int s = 1; s <= nSeries_; ++s) {
            if (skip_(s)) continue;
            const float y = data_(s, p);
            if (std::fabs(y) < kChartAuto && (!y_.LogScale || y > 1E-35f)) {
                ymin = std::min(ymin, y);
                ymax = std::max(ymax, y);
            }
        }
    }
    x_.DataMin = xmin;
    x_.DataMax = xmax;
    y_.DataMin = ymin;
    y_.DataMax = ymax;
}

ChartFrame ChartWidget::LayOut(const ChartCanvas& canvas) const {
    const int space = canvas.LineHeight();
    ChartFrame f;
    int w = 0;
    for (int i = 1; i <= y_.LabelCount; ++i)
        w = std::max(w, canvas.TextWidth(QString::fromStdString(y_.LabelTexts(i))));
    f.left = w + 10;
    if (!y_.Title.empty()) f.left += space + 4; // the turned Y title left of the labels
    const int lastX = canvas.TextWidth(QString::fromStdString(x_.LabelTexts(x_.LabelCount)));
    double right = canvas.Width() - 5.0 - lastX / 2;
    const std::vector<LegendEntry> entries = LegendEntries();
    const int legend = entries.empty() ? 0 : LegendWidth(canvas, entries);
    // A legend that would squeeze the plot is left out.
    if (legend > 0 && legend * 5 < canvas.Width() * 2) {
        right = std::min(right, canvas.Width() - 5.0 - legend - 10);
        f.legendLeft = PixelRound(right) + 10;
    }
    f.right = PixelRound(right);
    f.top = 10;
    f.bottom = PixelRound(canvas.Height() - 15.0 - space);
    if (!x_.Title.empty() || x_.LogScale) f.bottom -= space;
    return f;
}

int ChartWidget::LegendWidth(const ChartCanvas& canvas,
                             const std::vector<LegendEntry>& entries) const {
    int w = 0;
    for (const LegendEntry& e : entries) w = std::max(w, canvas.TextWidth(e.name));
    return kSampleLength + kSampleGap + w;
}

void ChartWidget::DrawDecorations(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const {
    // Frame, corners included
    canvas.Line(f.left, f.top, f.right, f.top, fg);
    canvas.Line(f.right, f.top, f.right, f.bottom, fg);
    canvas.Line(f.right, f.bottom, f.left, f.bottom, fg);
    canvas.Line(f.left, f.bottom, f.left, f.top, fg);
    DrawXAxis(canvas, f, fg);
    DrawYAxis(canvas, f, fg);
    DrawLegend(canvas, f, fg);
}

void ChartWidget::DrawXAxis(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const {
    // Labels, each centred under its tick
    const ScaleMap xmap = ScaleMap::X(x_, f.left, f.right);
    for (int i = 1; i <= x_.LabelCount; ++i) {
        const double px = xmap.ToPixel(x_.LabelValues(i));
        const int ix = PixelRound(px);
        canvas.Line(ix, f.bottom, ix, f.bottom + 5, fg);
        const QString text = QString::fromStdString(x_.LabelTexts(i));
        canvas.Text(PixelRound(px - canvas.TextWidth(text) / 2), f.bottom + 6, text, fg);
    }
    DrawMinorTicks(canvas, f, x_, xmap, xmap.Scale() * x_.Major, true, fg);
    const QString title = TitleText(x_);
    const int tw = canvas.TextWidth(title);
    if (tw != 0)
        canvas.Text((f.right + f.left - tw) / 2, canvas.LineHeight() + f.bottom + 8, title, fg);
}

void ChartWidget::DrawYAxis(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const {
    // Labels, right-aligned beside their ticks
    const int space = canvas.LineHeight();
    const ScaleMap ymap = ScaleMap::Y(y_, f.top, f.bottom);
    for (int i = 1; i <= y_.LabelCount; ++i) {
        const double py = ymap.ToPixel(y_.LabelValues(i));
        const int iy = PixelRound(py);
        canvas.Line(f.left, iy, f.left - 5, iy, fg);
        const QString text = QString::fromStdString(y_.LabelTexts(i));
        canvas.Text(f.left - 5 - canvas.TextWidth(text) - 2, PixelRound(py - space / 2), text, fg);
    }
    DrawMinorTicks(canvas, f, y_, ymap, -static_cast<double>(y_.Major) * ymap.Scale(), false, fg);
    if (y_.Title.empty()) return;
    QString title = TitleText(y_);
    if (canvas.TextWidth(title) > f.bottom - f.top && !yShortTitle_.isEmpty()) {
        AxisState shortened = y_;
        shortened.Title = yShortTitle_.toStdString();
        title = TitleText(shortened);
    }
    canvas.VerticalText(2, (f.top + f.bottom - canvas.TextWidth(title)) / 2, title, fg);
}

void ChartWidget::DrawLegend(ChartCanvas& canvas, const ChartFrame& f, QRgb fg) const {
    if (f.legendLeft == 0) return;
    const std::vector<LegendEntry> entries = LegendEntries();
    const int row = canvas.LineHeight() + 2;
    const size_t fit = static_cast<size_t>(std::max(1, (f.bottom - f.top) / row));
    for (size_t i = 0; i < entries.size() && i < fit; ++i) {
        const int y = f.top + static_cast<int>(i) * row;
        const QRgb c = Rgb(SeriesColor(palette_, entries[i].series));
        const int mid = y + canvas.LineHeight() / 2;
        canvas.Line(f.legendLeft, mid, f.legendLeft + kSampleLength, mid, c);
        const bool cut = i + 1 == fit && fit < entries.size();
        canvas.Text(f.legendLeft + kSampleLength + kSampleGap, y,
                    cut ? QStringLiteral("\u2026") : entries[i].name, fg);
    }
}

void ChartWidget::DrawMinorTicks(ChartCanvas& canvas, const ChartFrame& f, const AxisState& axis,
                                 const ScaleMap& map, double pixelsPerLabel, bool xAxis,
                                 QRgb fg) const {
    const int p = MinorParts(axis.MinorParts, pixelsPerLabel);
    if (p <= 1) return;
    const float step = axis.Major / static_cast<float>(p);
    // 16-bit tick counter, as the label counts
    const int first = CInt16(std::nearbyint(static_cast<double>(axis.AxisLow / step)) - 1.0);
    const int last = CInt16(std::nearbyint(static_cast<double>(axis.AxisHigh / step)) + 1.0);
    for (int k = first; k <= last; ++k) {
        const float v = static_cast<float>(k) * step;
        if (!(axis.AxisLow <= v && v <= axis.AxisHigh)) continue;
        const int len = MinorTickLength(k, p);
        if (len == 0) continue; // a label position
        const int pos = PixelRound(map.ToPixel(v));
        if (xAxis)
            canvas.Line(pos, f.bottom, pos, f.bottom + len, fg);
        else
            canvas.Line(f.left, pos, f.left - len, pos, fg);
    }
}

void ChartWidget::DrawSeries() {
    const ScaleMap xmap = ScaleMap::X(x_, frameLeft_, frameRight_);
    const ScaleMap ymap = ScaleMap::Y(y_, frameTop_, frameBottom_);
    // A point off a log X axis breaks every series, like an empty one.
    auto gap = [this](int p) { return emptyPoint_(p) || OffLogAxis(data_(0, p), x_.LogScale); };
    bool columnsKnown = false;
    for (int k = 1; k <= nSeries_; ++k) {
        if (skip_(k)) continue;
        if (!columnsKnown) {
            // The pixel column of a point is the same for every series.
            pointX_.assign(static_cast<size_t>(nPoints_) + 1, 0);
            for (int p = 1; p <= nPoints_; ++p)
                if (!gap(p))
                    pointX_[p] = PixelRound(xmap.ToPixel(AxisUnits(data_(0, p), x_.LogScale)));
            columnsKnown = true;
        }
        const int32_t colour = SeriesColor(palette_, k);
        bool penUp = true;
        for (int p = 1; p <= nPoints_; ++p) {
            const float y = data_(k, p);
            // A missing value, or one a log axis cannot show, breaks this series only.
            if (gap(p) || BreaksSeries(y, y_.LogScale)) {
                penUp = true;
                continue;
            }
            const int32_t py = PixelRound(ymap.ToPixel(AxisUnits(y, y_.LogScale)));
            if (penUp)
                StartSeries(pointX_[p], py, colour, k);
            else
                LineToClipped(pointX_[p], py, colour, k);
            penUp = false;
        }
    }
}

void ChartWidget::Record(int k, int x, int y) {
    // Off-surface pixels read back as -1 and never identify a curve; wait for a real one.
    if (rendered_(k) == 0) {
        const int32_t c = surface_.Pixel(x, y);
        if (c >= 0) rendered_(k) = c;
    }
}

void ChartWidget::StartSeries(int32_t x, int32_t y, int32_t colour, int k) {
    if (frameLeft_ < x && x < frameRight_ && frameTop_ < y && y < frameBottom_) {
        surface_.SetPixel(x, y, Rgb(colour));
        Record(k, x, y);
    }
    penX_ = x;
    penY_ = y;
}

void ChartWidget::LineToClipped(int32_t x, int32_t y, int32_t colour, int k) {
    const Segment from{penX_, penY_, x, y};
    penX_ = x;
    penY_ = y;
    const auto s = ClipSegment(from, PlotFrame{frameLeft_, frameTop_, frameRight_, frameBottom_});
    if (!s) return;
    const QRgb c = Rgb(colour);
    surface_.Line(s->x1, s->y1, s->x2, s->y2, c);
    surface_.SetPixel(s->x2, s->y2, c);
    Record(k, s->x2, s->y2);
}

// ---- Window events

void ChartWidget::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.drawImage(event->rect(), surface_.Image(), event->rect());
}

void ChartWidget::resizeEvent(QResizeEvent* event) {
    surface_.Resize(event->size().width(), event->size().height(), Rgb(kSysWindow));
    // A drawn chart keeps its scale at the new size (a range kept in view on purpose,
    // as the absorption view's, must not narrow).
    if (drawn_)
        Redraw();
    else if (nPoints_ != 0)
        DrawChart(false);
}

void ChartWidget::mouseReleaseEvent(QMouseEvent* event) {
    mouseUpX_ = static_cast<float>(event->position().x());
    mouseUpY_ = static_cast<float>(event->position().y());
}

void ChartWidget::mouseDoubleClickEvent(QMouseEvent*) {
    // A chart never drawn has a frame without extent: no point to report.
    const auto x = ScaleMap::X(x_, frameLeft_, frameRight_).ToValue(mouseUpX_);
    const auto y = ScaleMap::Y(y_, frameTop_, frameBottom_).ToValue(mouseUpY_);
    if (x && y) emit UserPoint(*x, *y);
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    MouseMoved(static_cast<int>(std::floor(pos.x())), static_cast<int>(std::floor(pos.y())));
    const bool inside = pos.x() >= frameLeft_ && pos.x() <= frameRight_ && pos.y() >= frameTop_ &&
                        pos.y() <= frameBottom_;
    const auto v = ValueAt(pos.x(), pos.y());
    if (inside && v)
        emit Pointer(true, v->first, v->second);
    else
        emit Pointer(false, 0, 0);
}

void ChartWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit Pointer(false, 0, 0);
}

std::optional<std::pair<double, double>> ChartWidget::ValueAt(double x, double y) const {
    if (!drawn_) return std::nullopt;
    const auto vx = ScaleMap::X(x_, frameLeft_, frameRight_).ToValue(x);
    const auto vy = ScaleMap::Y(y_, frameTop_, frameBottom_).ToValue(y);
    if (!vx || !vy) return std::nullopt;
    auto data = [](float v, bool log) { return log ? std::pow(10.0, double(v)) : double(v); };
    return std::pair{data(*vx, x_.LogScale), data(*vy, y_.LogScale)};
}

void ChartWidget::MouseMoved(int X, int Y) {
    int32_t c = surface_.Pixel(X, Y);
    int px = X, py = Y;
    if (c < 0) return;

    // Resolve the reference colours once, through the surface itself, so they are
    // compared exactly as drawn pixels read back.
    bool replaced = false;
    for (int i : {kRefFrame, kRefBackground, kRefText}) {
        if (palette_[i] < 0) {
            surface_.SetPixel(X, Y, Rgb(palette_[i]));
            palette_[i] = surface_.Pixel(X, Y);
            replaced = true;
        }
    }
    if (replaced) surface_.SetPixel(X, Y, RgbOfColorValue(c));

    auto isReference = [this](int32_t v) {
        return v == palette_[kRefBackground] || v == palette_[kRefFrame] || v == palette_[kRefText];
    };
    int16_t found = 0;
    bool onCurve = true;
    if (isReference(c)) {
        onCurve = false;
        for (const auto& d : kProbes) {
            c = surface_.Pixel(X + d[0], Y + d[1]);
            if (c >= 0 && !isReference(c)) {
                px = X + d[0];
                py = Y + d[1];
                onCurve = true;
                break;
            }
        }
    }
    if (onCurve) {
        for (int i = 1; i <= nSeries_; ++i) {
            if (rendered_(i) == 0 || c != rendered_(i)) continue; // 0: not drawn yet
            if (found != 0) { // two series look alike: name neither
                found = 0;
                break;
            }
            found = static_cast<int16_t>(i);
        }
    }
    if (found != lastCurve_) {
        lastCurve_ = found;
        emit Curve(found, static_cast<qint16>(std::clamp(px, -32768, 32767)),
                   static_cast<qint16>(std::clamp(py, -32768, 32767)));
    }
}

} // namespace lumora
