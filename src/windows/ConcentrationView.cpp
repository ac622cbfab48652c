#include "windows/ConcentrationView.h"

#include "windows/ChartValue.h"
#include "windows/GrowLayout.h"
#include "windows/TipWindow.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

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

/// Concentrations (mol/l) against the solution number, of species s alone unless s is 0.
void PlotConcentrations(ChartWidget& chart, const State& st, int s) {
    chart.SetXAxisTitle("Solution number");
    chart.SetYAxisTitle(QStringLiteral("Concentration (mol/l)"));
    chart.SetXAxisParts(1);
    for (int j = 1; j <= st.nSol; ++j) {
        chart.SetPointData(static_cast<int16_t>(j), 0, static_cast<float>(j));
        for (int k = 1; k <= st.nSp; ++k)
            if (s == 0 || k == s)
                chart.SetPointData(static_cast<int16_t>(j), static_cast<int16_t>(k),
                                   ChartValue(st.Conc(k, 0) * st.Conc(k, j)));
    }
}

/// Extinction coefficients against wavelength, of species s alone unless s is 0.
void PlotExtinctions(ChartWidget& chart, const State& st, int s) {
    chart.SetXAxisMin(st.WlStart);
    chart.SetXAxisMax(st.WlStop);
    chart.SetXAxisTitle(kWavelengthTitle);
    chart.SetYAxisTitle(kAbsorptivityTitle);
    chart.SetYAxisShortTitle(kAbsorptivityShortTitle);
    for (int w = 1; w <= st.nWl; ++w) {
        chart.SetPointData(static_cast<int16_t>(w), 0, ChartValue(st.AbsM(0, w)));
        for (int k = 1; k <= st.nSp; ++k)
            if (s == 0 || k == s)
                chart.SetPointData(static_cast<int16_t>(w), static_cast<int16_t>(k),
                                   ChartValue(st.Eps(k, w)));
    }
}

/// Every series named; with one species chosen the others skipped.
void NameSeries(ChartWidget& chart, const State& st, int s) {
    for (int k = 1; k <= st.nSp; ++k) {
        chart.SetSeriesName(static_cast<int16_t>(k), QString::fromStdString(st.SpName(k)));
        if (s != 0) chart.SetSkipSeries(static_cast<int16_t>(k), k != s);
    }
}
} // namespace

ConcentrationView::ConcentrationView(State& st, MainWindowPort& port, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint),
      st_(st), port_(port) {
    setModal(true);
    setFont(DialogFont());
    resize(TwipsRect(st_, 0, 0, kInnerW, kInnerH).size());

    chart = new ChartWidget(this);
    chart->setGeometry(TwipsRect(st_, 120, 120, 4455, 3015));
    check = new QCheckBox(this);
    check->setGeometry(TwipsRect(st_, 360, 3240, 255, 255));
    logScaleLabel = new QLabel("Logarithmic scale", this);
    logScaleLabel->setGeometry(TwipsRect(st_, 720, 3270, 1575, 255));
    logScaleLabel->setBuddy(check);
    list = new QComboBox(this);
    const QRect listRect = TwipsRect(st_, 2640, 3240, 1575, 0);
    list->setGeometry(listRect.left(), listRect.top(), listRect.width(), list->sizeHint().height());

    connect(list, &QComboBox::currentIndexChanged, this, [this] { OnListChanged(); });
    connect(check, &QCheckBox::toggled, this, [this] { OnCheckToggled(); });
    connect(chart, &ChartWidget::Curve, this, &ConcentrationView::OnCurveHover);
    (new GrowLayout(*this, *chart))->Capture(size());
    RememberPlace(*this, QStringLiteral("SpeciesView"));
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
    if (isVisible()) list->setFocus();
}

void ConcentrationView::RefillList() {
    list->setEnabled(false);
    int index = list->currentIndex();
    list->clear();
    list->addItem("All species");
    for (int k = 1; k <= st_.nSp; ++k) list->addItem(QString::fromStdString(st_.SpName(k)));
    if (index < 0 || index >= list->count()) index = 0;
    list->setCurrentIndex(index);
    list->setEnabled(true);
}

void ConcentrationView::Build(int16_t mode) {
    RefillList();
    const int s = list->currentIndex(); // 0: all species
    const int16_t points = mode == 1 ? st_.nSol : st_.nWl;

    chart->Clear();
    chart->Dimension(st_.nSp, points);
    chart->SetYAxisLogScale(check->checkState() != Qt::Unchecked);
    if (mode == 1) {
        setWindowTitle("Concentrations of species (mol/l)");
        PlotConcentrations(*chart, st_, s);
    } else {
        setWindowTitle("Extinction coefficients");
        PlotExtinctions(*chart, st_, s);
    }
    NameSeries(*chart, st_, s);
    FitCaption(*this);
    chart->Refresh();
}

void ConcentrationView::ShowSpeciesTip(int16_t series, int32_t x, int32_t y) {
    // Series 0 (no curve) names the empty SpName(0): nothing is shown.
    if (series < 0 || series > st_.SpName.UBound()) return;
    ShowTip(st_, x, y, st_.SpName(series), 3);
}

void ConcentrationView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) OnActivate();
}

void ConcentrationView::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // Minimizing the owner hides the dialog too; only its closing unloads it.
    if (!event->spontaneous()) OnUnload();
}

void ConcentrationView::OnActivate() {
    port_.setButtons(false, Command::Speciation);
}

void ConcentrationView::OnUnload() {
    port_.setButtons(true, Command::Speciation);
}

void ConcentrationView::OnListChanged() {
    if (list->isEnabled()) ShowSpeciesView(0);
}

void ConcentrationView::OnCheckToggled() {
    ShowSpeciesView(0);
}

void ConcentrationView::OnCurveHover(qint16 Series, qint16 X, qint16 Y) {
    int32_t x = 0, y = 0;
    ChartPointToScreenTwips(st_, *chart, X, Y, x, y);
    ShowSpeciesTip(Series, x, y);
}

} // namespace lumora
