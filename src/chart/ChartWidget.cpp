#include "chart/ChartWidget.h"

#include "base/RuntimeError.h"
#include "chart/ChartMessage.h"
#include "chart/scale/LineClip.h"
#include "chart/scale/ScaleAxis.h"
#include "chart/scale/ScaleMap.h"

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
    // A hidden control gets its resize events only when shown; draw at its size now.
    if (surface_.Width() != std::max(1, width()) || surface_.Height() != std::max(1, height()))
        surface_.Resize(width(), height(), Rgb(kSysWindow));
    try {
        FindDataRanges(Cumulatively);
        for (AxisState* axis : {&x_, &y_}) {
            const ScaleOutcome out = ScaleAxis(*axis);
            if (out.failed) {
                Erase();
                update();
                if (!out.message.empty()) Say(out.message.c_str());
                return;
            }
        }
        LayOut();
        Erase();
        DrawAxes();
        DrawSeries();
    } catch (const RuntimeError&) {
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

void ChartWidget::LayOut() {
    const QFont font = ChartFont();
    int w = 0;
    for (int i = 1; i <= y_.LabelCount; ++i)
        w = std::max(w, surface_.TextWidth(QString::fromStdString(y_.LabelTexts(i)), font));
    frameLeft_ = w + 10;
    const int lastX =
        surface_.TextWidth(QString::fromStdString(x_.LabelTexts(x_.LabelCount)), font);
    frameRight_ = PixelRound(surface_.Width() - 5.0 - lastX / 2);
    frameTop_ = 10;
    frameBottom_ = PixelRound(surface_.Height() - 15.0 - spaceHeight_);
    if (!x_.Title.empty() || x_.LogScale) frameBottom_ -= spaceHeight_;
}

void ChartWidget::DrawAxes() {
    const QFont font = ChartFont();
    const QRgb fg = Rgb(kSysWindowText);
    const int l = frameLeft_, r = frameRight_, t = frameTop_, b = frameBottom_;

    // Frame, corners included
    surface_.Line(l, t, r, t, fg);
    surface_.Line(r, t, r, b, fg);
    surface_.Line(r, b, l, b, fg);
    surface_.Line(l, b, l, t, fg);

    // X labels, each centred under its tick
    const ScaleMap xmap = ScaleMap::X(x_, l, r);
    for (int i = 1; i <= x_.LabelCount; ++i) {
        const double px = xmap.ToPixel(x_.LabelValues(i));
        const int ix = PixelRound(px);
        surface_.Line(ix, b, ix, b + 5, fg);
        const QString text = QString::fromStdString(x_.LabelTexts(i));
        surface_.Text(PixelRound(px - surface_.TextWidth(text, font) / 2), b + 6, text, font, fg);
    }
    DrawMinorTicks(x_, xmap, xmap.Scale() * x_.Major, true);

    QString title = QString::fromStdString(x_.Title);
    if (x_.LogScale) title = QStringLiteral("lg (") + title + QStringLiteral(")");
    const int tw = surface_.TextWidth(title, font);
    if (tw != 0) surface_.Text((r + l - tw) / 2, spaceHeight_ + b + 8, title, font, fg);

    // Y labels, right-aligned beside their ticks
    const ScaleMap ymap = ScaleMap::Y(y_, t, b);
    for (int i = 1; i <= y_.LabelCount; ++i) {
        const double py = ymap.ToPixel(y_.LabelValues(i));
        const int iy = PixelRound(py);
        surface_.Line(l, iy, l - 5, iy, fg);
        const QString text = QString::fromStdString(y_.LabelTexts(i));
        surface_.Text(l - 5 - surface_.TextWidth(text, font) - 2, PixelRound(py - spaceHeight_ / 2),
                      text, font, fg);
    }
    DrawMinorTicks(y_, ymap, -static_cast<double>(y_.Major) * ymap.Scale(), false);
}

void ChartWidget::DrawMinorTicks(const AxisState& axis, const ScaleMap& map, double pixelsPerLabel,
                                 bool xAxis) {
    int p = axis.MinorParts;
    // Fewer minor intervals where they would come closer than 8 pixels
    if (p > 1 && pixelsPerLabel / p < 8) {
        if (p < 10)
            p = 1;
        else
            p = pixelsPerLabel >= 40 ? 5 : (pixelsPerLabel >= 16 ? 2 : 1);
    }
    if (p <= 1) return;
    const QRgb fg = Rgb(kSysWindowText);
    const float step = axis.Major / static_cast<float>(p);
    // 16-bit tick counter, as the label counts
    const int first = CInt16(std::nearbyint(static_cast<double>(axis.AxisLow / step)) - 1.0);
    const int last = CInt16(std::nearbyint(static_cast<double>(axis.AxisHigh / step)) + 1.0);
    for (int k = first; k <= last; ++k) {
        const float v = static_cast<float>(k) * step;
        if (!(axis.AxisLow <= v && v <= axis.AxisHigh)) continue;
        const int rem = k % p; // negative left of zero, so half-way ticks there are short
        const int len = rem == 5 ? 5 : (rem != 0 ? 3 : 0);
        if (len == 0) continue; // a label position
        const int pos = PixelRound(map.ToPixel(v));
        if (xAxis)
            surface_.Line(pos, frameBottom_, pos, frameBottom_ + len, fg);
        else
            surface_.Line(frameLeft_, pos, frameLeft_ - len, pos, fg);
    }
}

void ChartWidget::DrawSeries() {
    const ScaleMap xmap = ScaleMap::X(x_, frameLeft_, frameRight_);
    const ScaleMap ymap = ScaleMap::Y(y_, frameTop_, frameBottom_);
    bool columnsKnown = false;
    for (int k = 1; k <= nSeries_; ++k) {
        if (skip_(k)) continue;
        if (!columnsKnown) {
            // The pixel column of a point is the same for every series.
            pointX_.assign(static_cast<size_t>(nPoints_) + 1, 0);
            for (int p = 1; p <= nPoints_; ++p)
                if (!emptyPoint_(p))
                    pointX_[p] = PixelRound(xmap.ToPixel(AxisUnits(data_(0, p), x_.LogScale)));
            columnsKnown = true;
        }
        const int32_t colour = SeriesColor(palette_, k);
        bool penUp = true;
        for (int p = 1; p <= nPoints_; ++p) {
            if (emptyPoint_(p)) {
                penUp = true;
                continue;
            }
            const float y = data_(k, p);
            if (std::fabs(y) == kChartAuto) { // a missing value breaks this series only
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
    if (nPoints_ != 0) DrawChart(false);
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
    MouseMoved(static_cast<int>(std::floor(event->position().x())),
               static_cast<int>(std::floor(event->position().y())));
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
