#include "windows/AbsorptionView.h"

#include "windows/ChartValue.h"
#include "windows/TipWindow.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

#include "chart/scale/ChartPalette.h"
#include "dataset/Reread.h"
#include "model/ReadFixedMarks.h"
#include "model/State.h"

#include <QApplication>
#include <QKeyEvent>
#include <QResizeEvent>

#include <algorithm>
#include <exception>

namespace lumora {

namespace {
constexpr int kInnerW = 4695; // twips
constexpr int kInnerH = 3645;
constexpr int32_t kBlue = ColorValue(0, 0, 255);
constexpr int32_t kRed = ColorValue(255, 0, 0);
// The display takes the low 24 bits of a colour value; a bit above them keeps an
// entry positive (a negative value would be a system-colour code).
constexpr int32_t kHighBit = 0x01000000;

// From 16 solutions on, a spare series for the calculated spectrum (see CalculatedSeries).
int SeriesCount(int nSol) {
    return nSol >= 16 ? nSol + 2 : nSol + 1;
}
} // namespace

int CalculatedSeries(int nSol, int selected) {
    return selected >= 1 && (selected - 1) % 16 == nSol % 16 ? nSol + 2 : nSol + 1;
}

QString TwoColourPaletteFor(int nSol, int selected) {
    ChartPalette p = DefaultPalette();
    for (int i = 0; i < 16; ++i) p[static_cast<size_t>(i)] = kBlue - i;
    if (nSol >= 16 && selected >= 1) {
        // Series above 16 would come out blue plus a multiple of 16: make the one shown pure.
        p[static_cast<size_t>((selected - 1) % 16)] = kBlue - (selected - 1);
    }
    // Series k takes entry (k - 1) mod 16 plus k - 1.
    const int k = CalculatedSeries(nSol, selected);
    int32_t calc = kRed - (k - 1);
    if (calc < 0) calc += kHighBit;
    p[static_cast<size_t>((k - 1) % 16)] = calc;
    return QString::fromStdU16String(CustomColorsText(p));
}

AbsorptionView::AbsorptionView(State& st, MainWindowPort& port, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint), st_(st), port_(port) {
    setWindowTitle("Absorption Spectra");
    setFont(DialogFont());
    resize(TwipsRect(st_, 0, 0, kInnerW, kInnerH).size());
    chart = new ChartWidget(this);
    chart->setGeometry(TwipsRect(st_, 120, 120, 4455, 2895));
    // Taken once: later the chart holds the two-colour palette of a single solution.
    allSolutions_ = chart->CustomColors();
    list = new QComboBox(this);
    const QRect listRect = TwipsRect(st_, 1440, 3120, 1815, 0);
    list->setGeometry(listRect.left(), listRect.top(), listRect.width(), list->sizeHint().height());

    connect(list, &QComboBox::currentIndexChanged, this, [this] { OnListChanged(); });
    connect(chart, &ChartWidget::Curve, this, &AbsorptionView::OnCurveHover);
    FitCaption(*this);
    Load();
    RememberPlace(*this, QStringLiteral("AbsorptionView"));
}

void AbsorptionView::Load() {
    W0_ = width();
    H0_ = height();
    dW_ = W0_ - chart->width();
    dH_ = H0_ - chart->height();
    dC_ = H0_ - list->y();
    setMinimumSize(W0_, H0_); // window managers that honour it never go below the first size
    loaded_ = true;
}

void AbsorptionView::ShowAbsorptionView() {
    int sel = list->currentIndex();
    try {
        const RereadResult reread = port_.reread(st_);
        if (reread == RereadResult::Failed) return;
        if (reread == RereadResult::Unchanged && st_.FitMode != 0) ReadFixedMarks(st_);
        // Every successful read (here or by another command) reloads the data, so that
        // no solution that has gone since is indexed.
        if (st_.ReadSerial != loadedSerial_) sel = -1;
        if (sel < 0) {
            LoadData();
            sel = 0;
        }
        ShowSelection(sel);
    } catch (const std::exception& e) {
        st_.Message(std::string(e.what()) + "  ", Icon::Critical);
        return;
    }
    QApplication::processEvents();
    show();
    QApplication::processEvents();
    raise();
    activateWindow();
}

void AbsorptionView::LoadData() {
    const int nSol = st_.nSol, nWl = st_.nWl;
    twoColour_ = TwoColourPaletteFor(nSol, 0);

    list->setEnabled(false);
    list->clear();
    list->addItem("All solutions");
    for (int j = 1; j <= nSol; ++j) list->addItem(QString::fromStdString(st_.SolName(j)));
    list->setCurrentIndex(0);
    list->setEnabled(true);

    chart->Clear();
    chart->Dimension(static_cast<int16_t>(SeriesCount(nSol)), static_cast<int16_t>(nWl));
    chart->SetXAxisMin(st_.WlStart);
    chart->SetXAxisMax(st_.WlStop);
    chart->SetXAxisTitle(kWavelengthTitle);
    chart->SetYAxisTitle(QStringLiteral("Absorbance"));
    for (int w = 1; w <= nWl; ++w) {
        const auto p = static_cast<int16_t>(w);
        chart->SetPointData(p, 0, ChartValue(st_.AbsM(0, w)));
        for (int j = 1; j <= nSol; ++j)
            chart->SetPointData(p, static_cast<int16_t>(j), ChartValue(st_.AbsM(j, w)));
    }
    for (int k = nSol + 1; k <= SeriesCount(nSol); ++k)
        chart->SetSkipSeries(static_cast<int16_t>(k), true);
    loadedSerial_ = st_.ReadSerial;
}

void AbsorptionView::ShowSelection(int sel) {
    const int nSol = st_.nSol;
    const int calc = sel != 0 ? CalculatedSeries(nSol, sel) : 0;
    for (int k = 1; k <= SeriesCount(nSol); ++k)
        chart->SetSkipSeries(static_cast<int16_t>(k), sel == 0 ? k > nSol : k != sel && k != calc);
    QString palette = allSolutions_;
    if (sel != 0) {
        for (int w = 1; w <= st_.nWl; ++w)
            chart->SetPointData(static_cast<int16_t>(w), static_cast<int16_t>(calc),
                                ChartValue(st_.AbsC(sel, w)));
        palette = TwoColourPaletteFor(nSol, sel);
    }
    NameSeries(sel, calc);
    chart->SetCustomColors(palette);
    chart->Refresh(sel > 0);
    QApplication::processEvents();
}

void AbsorptionView::NameSeries(int sel, int calc) {
    for (int j = 1; j <= st_.nSol; ++j)
        chart->SetSeriesName(static_cast<int16_t>(j), QString::fromStdString(st_.SolName(j)));
    if (sel == 0) return;
    const QString name = QString::fromStdString(st_.SolName(sel));
    chart->SetSeriesName(static_cast<int16_t>(sel), name + QStringLiteral(" measured"));
    chart->SetSeriesName(static_cast<int16_t>(calc), name + QStringLiteral(" calculated"));
}

void AbsorptionView::Unload() {
    hide();
    list->setEnabled(false);
    list->clear();
    list->setEnabled(true);
    loadedSerial_ = -1;
}

void AbsorptionView::ShowSolutionTip(int16_t series, int32_t x, int32_t y) {
    if (series < 0) return;
    if (series > st_.nSol) {
        ShowTip(st_, x, y, "Calculated", 3);
        return;
    }
    // Series 0 (no curve) names the empty SolName(0): nothing is shown.
    if (series > st_.SolName.UBound()) return;
    ShowTip(st_, x, y, st_.SolName(series), 3);
}

void AbsorptionView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    OnResize();
}

void AbsorptionView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) OnResize();
}

void AbsorptionView::OnResize() {
    if (!loaded_ || isMinimized()) return; // a minimized window has no size to keep
    if (height() < H0_ || width() < W0_) {
        resize(std::max(width(), W0_), std::max(height(), H0_)); // resized again from there
        return;
    }
    chart->setGeometry(chart->x(), chart->y(), width() - dW_, height() - dH_);
    list->move((width() - list->width()) / 2, height() - dC_);
}

void AbsorptionView::keyPressEvent(QKeyEvent* event) {
    // The view stays open beside the main window while commands run and takes the
    // focus when they redraw it: Esc still has to reach the main window's interrupt.
    if (event->key() == Qt::Key_Escape && parentWidget()) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, event->modifiers());
        QApplication::sendEvent(parentWidget(), &esc);
        return;
    }
    QWidget::keyPressEvent(event);
}

void AbsorptionView::OnListChanged() {
    if (list->isEnabled()) ShowAbsorptionView();
}

void AbsorptionView::OnCurveHover(qint16 Series, qint16 X, qint16 Y) {
    int32_t x = 0, y = 0;
    ChartPointToScreenTwips(st_, *chart, X, Y, x, y);
    ShowSolutionTip(Series, x, y);
}

} // namespace lumora
