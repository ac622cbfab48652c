#include "windows/AbsorptionView.h"

#include "windows/ChartValue.h"
#include "windows/TipWindow.h"
#include "windows/ViewGeometry.h"

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
} // namespace

QString TwoColourPaletteFor(int nSol, int selected) {
    ChartPalette p = DefaultPalette();
    for (int i = 0; i < 16; ++i) p[static_cast<size_t>(i)] = kBlue - i;
    if (nSol >= 16 && selected >= 1) {
        // Series above 16 would come out blue plus a multiple of 16: make the one shown pure.
        p[static_cast<size_t>((selected - 1) % 16)] = kBlue - (selected - 1);
    }
    // The calculated spectrum, series nSol + 1, uses entry nSol mod 16 plus nSol.
    int32_t calc = kRed - nSol;
    if (calc < 0) calc += kHighBit;
    p[static_cast<size_t>(nSol % 16)] = calc;
    return QString::fromStdU16String(CustomColorsText(p));
}

AbsorptionView::AbsorptionView(State& st, MainWindowPort& port, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint), st_(st), port_(port) {
    setWindowTitle("Absorption Spectra");
    setFont(DialogFont());
    resize(TwipsRect(st_, 0, 0, kInnerW, kInnerH).size());
    Chart = new ChartWidget(this);
    Chart->setGeometry(TwipsRect(st_, 120, 120, 4455, 2895));
    Combo = new QComboBox(this);
    const QRect list = TwipsRect(st_, 1440, 3120, 1815, 0);
    Combo->setGeometry(list.left(), list.top(), list.width(), Combo->sizeHint().height());

    connect(Combo, &QComboBox::currentIndexChanged, this, [this] { Combo_Click(); });
    connect(Chart, &ChartWidget::Curve, this, &AbsorptionView::Chart_Curve);
    Form_Load();
}

void AbsorptionView::Form_Load() {
    W0_ = width();
    H0_ = height();
    dW_ = W0_ - Chart->width();
    dH_ = H0_ - Chart->height();
    dC_ = H0_ - Combo->y();
    setMinimumSize(W0_, H0_); // window managers that honour it never go below the first size
    loaded_ = true;
}

void AbsorptionView::ShowAbsorptionView() {
    int sel = Combo->currentIndex();
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

    Combo->setEnabled(false);
    Combo->clear();
    Combo->addItem("All solutions");
    for (int j = 1; j <= nSol; ++j) Combo->addItem(QString::fromStdString(st_.SolName(j)));
    Combo->setCurrentIndex(0);
    Combo->setEnabled(true);

    Chart->Clear();
    Chart->Dimension(static_cast<int16_t>(nSol + 1), static_cast<int16_t>(nWl));
    Chart->SetXAxisMin(st_.WlStart);
    Chart->SetXAxisMax(st_.WlStop);
    for (int w = 1; w <= nWl; ++w) {
        const auto p = static_cast<int16_t>(w);
        Chart->SetPointData(p, 0, ChartValue(st_.AbsM(0, w)));
        for (int j = 1; j <= nSol; ++j)
            Chart->SetPointData(p, static_cast<int16_t>(j), ChartValue(st_.AbsM(j, w)));
    }
    Chart->SetSkipSeries(static_cast<int16_t>(nSol + 1), true);
    allSolutions_ = Chart->CustomColors();
    loadedSerial_ = st_.ReadSerial;
}

void AbsorptionView::ShowSelection(int sel) {
    const int nSol = st_.nSol;
    const auto calc = static_cast<int16_t>(nSol + 1);
    QString palette;
    if (sel != 0) {
        for (int j = 1; j <= nSol; ++j) Chart->SetSkipSeries(static_cast<int16_t>(j), j != sel);
        for (int w = 1; w <= st_.nWl; ++w)
            Chart->SetPointData(static_cast<int16_t>(w), calc, ChartValue(st_.AbsC(sel, w)));
        Chart->SetSkipSeries(calc, false);
        palette = TwoColourPaletteFor(nSol, sel);
    } else {
        for (int j = 1; j <= nSol; ++j) Chart->SetSkipSeries(static_cast<int16_t>(j), false);
        Chart->SetSkipSeries(calc, true);
        palette = allSolutions_;
    }
    Chart->SetCustomColors(palette);
    Chart->Refresh(sel > 0);
    QApplication::processEvents();
}

void AbsorptionView::Unload() {
    hide();
    Combo->setEnabled(false);
    Combo->clear();
    Combo->setEnabled(true);
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
    Form_Resize();
}

void AbsorptionView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void AbsorptionView::Form_Resize() {
    if (!loaded_ || isMinimized()) return; // a minimized window has no size to keep
    if (height() < H0_ || width() < W0_) {
        resize(std::max(width(), W0_), std::max(height(), H0_)); // resized again from there
        return;
    }
    Chart->setGeometry(Chart->x(), Chart->y(), width() - dW_, height() - dH_);
    Combo->move((width() - Combo->width()) / 2, height() - dC_);
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

void AbsorptionView::Combo_Click() {
    if (Combo->isEnabled()) ShowAbsorptionView();
}

void AbsorptionView::Chart_Curve(qint16 Series, qint16 X, qint16 Y) {
    int32_t x = 0, y = 0;
    ChartPointToScreenTwips(st_, *Chart, X, Y, x, y);
    ShowSolutionTip(Series, x, y);
}

} // namespace lumora
