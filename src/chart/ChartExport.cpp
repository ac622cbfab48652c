// The chart leaves the screen: copied or saved as an image (PNG, or SVG through Qt's
// SVG generator) drawn afresh as vectors at any size, or its plotted data as CSV.
// All of it uses the scale of the last drawing on screen.

#include "chart/ChartWidget.h"

#include "base/AtomicTextFile.h"
#include "base/RuntimeError.h"
#include "chart/ChartCanvas.h"
#include "chart/ChartMessage.h"
#include "chart/scale/LineClip.h"
#include "chart/scale/ScaleMap.h"
#include "chart/scale/SeriesPolylines.h"

#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

constexpr int kLargestImage = 20000; // pixels per side

/// A painter in a plain (anti-aliased) font, black on white as on paper.
class PainterCanvas final : public ChartCanvas {
public:
    PainterCanvas(QPainter& p, QSize size, const QFont& font) : p_(p), size_(size), fm_(font) {
        p_.setFont(font);
    }
    int Width() const override { return size_.width(); }
    int Height() const override { return size_.height(); }
    int LineHeight() const override { return static_cast<int>(std::nearbyint(fm_.height())); }
    int TextWidth(const QString& text) const override {
        return static_cast<int>(std::nearbyint(fm_.horizontalAdvance(text)));
    }
    void Line(int x1, int y1, int x2, int y2, QRgb c) override {
        p_.setPen(QPen(QColor(c), 1.0));
        p_.drawLine(QPointF(x1, y1), QPointF(x2, y2));
    }
    void Text(int x, int y, const QString& text, QRgb c) override {
        p_.setPen(QColor(c));
        p_.drawText(QPointF(x, y + fm_.ascent()), text);
    }
    void VerticalText(int x, int y, const QString& text, QRgb c) override {
        p_.save();
        p_.setPen(QColor(c));
        p_.translate(x, y + fm_.horizontalAdvance(text));
        p_.rotate(-90);
        p_.drawText(QPointF(0, fm_.ascent()), text);
        p_.restore();
    }

private:
    QPainter& p_;
    QSize size_;
    QFontMetricsF fm_;
};

/// "1200 x 800" (also "1200x800", "1200*800") as a size within the limits.
std::optional<QSize> ParseImageSize(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d+)\\s*[xX*\\x{00D7}]\\s*(\\d+)\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const int w = m.captured(1).toInt(), h = m.captured(2).toInt();
    if (w < 16 || h < 16 || w > kLargestImage || h > kLargestImage) return std::nullopt;
    return QSize(w, h);
}

/// The folder the last save went to, for the next dialog.
QString& LastFolder() {
    static QString folder;
    return folder;
}

QString SavePath(QWidget* parent, const QString& title, const QString& name, const QString& filters,
                 const QString& defaultSuffix) {
    QString chosen;
    QString path =
        QFileDialog::getSaveFileName(parent, title, LastFolder() + name, filters, &chosen);
    if (path.isEmpty()) return path;
    if (QFileInfo(path).suffix().isEmpty())
        path += chosen.contains(QStringLiteral("*.svg")) ? QStringLiteral(".svg") : defaultSuffix;
    LastFolder() = QFileInfo(path).absolutePath() + QLatin1Char('/');
    return path;
}

bool WriteAtomically(const QString& path, const QByteArray& bytes, QString& error) {
    std::string reason;
    if (WriteTextFileAtomically(path.toStdString(), bytes.toStdString(), reason)) return true;
    error = QString::fromStdString(reason);
    return false;
}

} // namespace

// ---- Drawing as vectors

double ChartWidget::ExportScale(QSize size) const {
    // Beyond the size on screen, text and lines grow with the image, as a printout would.
    const double s = std::min(size.width() / double(std::max(1, width())),
                              size.height() / double(std::max(1, height())));
    return std::max(1.0, s);
}

void ChartWidget::Render(QPainter& p, QSize size) const {
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    if (!drawn_) return;
    try {
        PainterCanvas canvas(p, size, font());
        const ChartFrame f = LayOut(canvas);
        DrawDecorations(canvas, f, qRgb(0, 0, 0));
        PaintSeries(p, f);
    } catch (const RuntimeError&) {
        p.fillRect(QRect(QPoint(0, 0), size), Qt::white); // as on screen: blank
    }
}

void ChartWidget::PaintSeries(QPainter& p, const ChartFrame& f) const {
    const ScaleMap xmap = ScaleMap::X(x_, f.left, f.right);
    const ScaleMap ymap = ScaleMap::Y(y_, f.top, f.bottom);
    p.setBrush(Qt::NoBrush);
    for (int k = 1; k <= nSeries_; ++k) {
        if (skip_(k)) continue;
        // One path per series, cut to the frame; a break or a cut starts a new subpath.
        QPainterPath path;
        for (const auto& line :
             SeriesPolylines(data_, k, nPoints_, emptyPoint_, x_.LogScale, y_.LogScale)) {
            QPointF last(std::nan(""), 0);
            for (size_t i = 1; i < line.size(); ++i) {
                const RealSegment s{xmap.ToPixel(line[i - 1].x), ymap.ToPixel(line[i - 1].y),
                                    xmap.ToPixel(line[i].x), ymap.ToPixel(line[i].y)};
                const auto c = ClipToBox(s, f.left, f.top, f.right, f.bottom);
                if (!c) continue;
                if (QPointF(c->x1, c->y1) != last) path.moveTo(c->x1, c->y1);
                path.lineTo(c->x2, c->y2);
                last = QPointF(c->x2, c->y2);
            }
        }
        if (path.isEmpty()) continue;
        p.setPen(QPen(QColor(Rgb(SeriesColor(palette_, k))), 1.0));
        p.drawPath(path);
    }
}

QImage ChartWidget::RenderImage(QSize size) const {
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = ExportScale(size);
    p.scale(s, s);
    Render(p, QSize(int(std::lround(size.width() / s)), int(std::lround(size.height() / s))));
    return image;
}

QByteArray ChartWidget::RenderSvg(QSize size) const {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(window()->windowTitle());
    svg.setDescription(QStringLiteral("Lumora chart"));
    {
        QPainter p(&svg);
        const double s = ExportScale(size);
        p.scale(s, s);
        Render(p, QSize(int(std::lround(size.width() / s)), int(std::lround(size.height() / s))));
    }
    return buffer.data();
}

// ---- Data

CsvTable ChartWidget::DataTable() const {
    CsvTable t;
    t.header.push_back(x_.Title.empty() ? std::string("X") : x_.Title);
    std::vector<int> shown;
    for (int k = 1; k <= nSeries_; ++k) {
        if (skip_(k)) continue;
        shown.push_back(k);
        const QString name = names_[static_cast<size_t>(k)];
        t.header.push_back(CsvColumnName(
            name.isEmpty() ? "Series " + std::to_string(k) : name.toStdString(), y_.Title));
    }
    auto value = [](float v) -> std::optional<float> {
        if (std::fabs(v) == kChartAuto || !std::isfinite(v)) return std::nullopt;
        return v;
    };
    for (int p = 1; p <= nPoints_; ++p) {
        if (emptyPoint_(p)) continue;
        std::vector<std::optional<float>> row{value(data_(0, p))};
        for (int k : shown) row.push_back(value(data_(k, p)));
        t.rows.push_back(std::move(row));
    }
    return t;
}

bool ChartWidget::SaveData(const QString& path, QString& error) const {
    return WriteAtomically(path, QByteArray::fromStdString(CsvText(DataTable())), error);
}

bool ChartWidget::SaveImage(const QString& path, QSize size, QString& error) const {
    if (size.width() < 1 || size.height() < 1 || size.width() > kLargestImage ||
        size.height() > kLargestImage) {
        error = QStringLiteral("invalid image size");
        return false;
    }
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0)
        return WriteAtomically(path, RenderSvg(size), error);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!RenderImage(size).save(&buffer, "PNG")) {
        error = QStringLiteral("the image cannot be encoded");
        return false;
    }
    return WriteAtomically(path, png, error);
}

void ChartWidget::CopyImage() const {
    QGuiApplication::clipboard()->setImage(RenderImage(size()));
}

// ---- Context menu

void ChartWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("Copy image"));
    QAction* saveImage = menu.addAction(QStringLiteral("Save image..."));
    QAction* saveData = menu.addAction(QStringLiteral("Save data..."));
    for (QAction* a : {copy, saveImage, saveData}) a->setEnabled(drawn_);
    menu.addSeparator();
    QAction* legend = menu.addAction(QStringLiteral("Show legend"));
    legend->setCheckable(true);
    legend->setChecked(legendVisible_);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == copy)
        CopyImage();
    else if (chosen == saveImage)
        SaveImageAs();
    else if (chosen == saveData)
        SaveDataAs();
    else if (chosen == legend)
        SetLegendVisible(legend->isChecked());
}

void ChartWidget::SaveImageAs() {
    const QString path =
        SavePath(this, QStringLiteral("Save image"), QStringLiteral("chart.png"),
                 QStringLiteral("PNG image (*.png);;SVG image (*.svg)"), QStringLiteral(".png"));
    if (path.isEmpty()) return;
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, QStringLiteral("Save image"), QStringLiteral("Size in pixels (width x height):"),
        QLineEdit::Normal, QStringLiteral("%1 x %2").arg(width()).arg(height()), &ok);
    if (!ok) return;
    const auto size = ParseImageSize(text);
    QString error = QStringLiteral("the size must be two whole numbers from 16 to 20000");
    if (!size || !SaveImage(path, *size, error))
        ShowChartMessage(this, ("Cannot save " + path + ": " + error).toStdString());
}

void ChartWidget::SaveDataAs() {
    const QString path = SavePath(this, QStringLiteral("Save data"), QStringLiteral("chart.csv"),
                                  QStringLiteral("CSV file (*.csv)"), QStringLiteral(".csv"));
    if (path.isEmpty()) return;
    QString error;
    if (!SaveData(path, error))
        ShowChartMessage(this, ("Cannot save " + path + ": " + error).toStdString());
}

} // namespace lumora
