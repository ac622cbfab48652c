#include "windows/ConcentrationView.h"

#include "windows/ChartValue.h"
#include "windows/TipWindow.h"
#include "windows/ViewGeometry.h"

#include "base/RuntimeError.h"
#include "dataset/Reread.h"
#include "model/ReadFixedMarks.h"
#include "model/State.h"

#include <QCoreApplication>
#include <QHideEvent>
#include <QShowEvent>

#include <exception>

namespace lumora {

namespace {
constexpr int kInnerW = 4695; // twips
constexpr int kInnerH = 3855;
} // namespace

ConcentrationView::ConcentrationView(State& st, MainWindowPort& port, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      st_(st), port_(port) {
    setModal(true);
    setFont(DialogFont());
    setFixedSize(TwipsRect(st_, 0, 0, kInnerW, kInnerH).size());

    Chart = new ChartWidget(this);
    Chart->setGeometry(TwipsRect(st_, 120, 120, 4455, 3015));
    Check = new QCheckBox(this);
    Check->setGeometry(TwipsRect(st_, 360, 3240, 255, 255));
    Label1 = new QLabel("Logarithmic scale", this);
    Label1->setGeometry(TwipsRect(st_, 720, 3270, 1575, 255));
    Label1->setBuddy(Check);
    Combo = new QComboBox(this);
    const QRect list = TwipsRect(st_, 2640, 3240, 1575, 0);
    Combo->setGeometry(list.left(), list.top(), list.width(), Combo->sizeHint().height());

    connect(Combo, &QComboBox::currentIndexChanged, this, [this] { Combo_Click(); });
    connect(Check, &QCheckBox::toggled, this, [this] { Check_Click(); });
    connect(Chart, &ChartWidget::Curve, this, &ConcentrationView::Chart_Curve);
}

void ConcentrationView::ShowSpeciesView(int16_t mode) {
    if (mode == 0) mode = lastMode_;
    if (mode != 1 && mode != 2) return; // nothing drawn yet to redraw
    try {
        if (port_.reread(st_) == RereadResult::Failed) return;
        if (st_.FitMode != 0) ReadFixedMarks(st_);
        Build(mode);
    } catch (const std::exception& e) {
        // A sheet or state that cannot be shown: say why and show nothing.
        st_.Message(std::string(e.what()) + "  ", Icon::Critical);
        return;
    }
    lastMode_ = mode;
    QCoreApplication::processEvents();

    // From the window's own list or check box the dialog is open already: the chart
    // has just been rebuilt in place, and a second modal loop must not start.
    if (!isVisible()) exec();
    if (isVisible()) Combo->setFocus();
}

void ConcentrationView::RefillList() {
    Combo->setEnabled(false);
    int index = Combo->currentIndex();
    Combo->clear();
    Combo->addItem("All species");
    for (int k = 1; k <= st_.nSp; ++k) Combo->addItem(QString::fromStdString(st_.SpName(k)));
    if (index < 0 || index >= Combo->count()) index = 0;
    Combo->setCurrentIndex(index);
    Combo->setEnabled(true);
}

void ConcentrationView::Build(int16_t mode) {
    RefillList();
    const int s = Combo->currentIndex(); // 0: all species
    const int16_t points = mode == 1 ? st_.nSol : st_.nWl;

    Chart->Clear();
    Chart->Dimension(st_.nSp, points);
    Chart->SetYAxisLogScale(Check->checkState() != Qt::Unchecked);
    if (mode == 1) {
        setWindowTitle("Concentrations of species (mol/l)");
        Chart->SetXAxisTitle("Solution number");
        Chart->SetXAxisParts(1);
        for (int j = 1; j <= st_.nSol; ++j) {
            Chart->SetPointData(static_cast<int16_t>(j), 0, static_cast<float>(j));
            for (int k = 1; k <= st_.nSp; ++k)
                if (s == 0 || k == s)
                    Chart->SetPointData(static_cast<int16_t>(j), static_cast<int16_t>(k),
                                        ChartValue(st_.Conc(k, 0) * st_.Conc(k, j)));
        }
    } else {
        setWindowTitle("Extinction coefficients");
        Chart->SetXAxisMin(st_.WlStart);
        Chart->SetXAxisMax(st_.WlStop);
        for (int w = 1; w <= st_.nWl; ++w) {
            Chart->SetPointData(static_cast<int16_t>(w), 0, ChartValue(st_.AbsM(0, w)));
            for (int k = 1; k <= st_.nSp; ++k)
                if (s == 0 || k == s)
                    Chart->SetPointData(static_cast<int16_t>(w), static_cast<int16_t>(k),
                                        ChartValue(st_.Eps(k, w)));
        }
    }
    if (s != 0)
        for (int k = 1; k <= st_.nSp; ++k) Chart->SetSkipSeries(static_cast<int16_t>(k), k != s);
    Chart->Refresh();
}

void ConcentrationView::ShowSpeciesTip(int16_t series, int32_t x, int32_t y) {
    // Series 0 (no curve) names the empty SpName(0): nothing is shown.
    if (series < 0 || series > st_.SpName.UBound()) return;
    ShowTip(st_, x, y, st_.SpName(series), 3);
}

void ConcentrationView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Form_Activate();
}

void ConcentrationView::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // Minimizing the owner hides the dialog too; only its closing unloads it.
    if (!event->spontaneous()) Form_Unload();
}

void ConcentrationView::Form_Activate() {
    port_.setButtons(false, Command::Speciation);
}

void ConcentrationView::Form_Unload() {
    port_.setButtons(true, Command::Speciation);
}

void ConcentrationView::Combo_Click() {
    if (Combo->isEnabled()) ShowSpeciesView(0);
}

void ConcentrationView::Check_Click() {
    ShowSpeciesView(0);
}

void ConcentrationView::Chart_Curve(qint16 Series, qint16 X, qint16 Y) {
    int32_t x = 0, y = 0;
    ChartPointToScreenTwips(st_, *Chart, X, Y, x, y);
    ShowSpeciesTip(Series, x, y);
}

} // namespace lumora
