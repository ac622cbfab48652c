#include "windows/GoalScanWindow.h"

#include "windows/ChartValue.h"
#include "windows/GrowLayout.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

#include "base/RuntimeError.h"
#include "dataset/Reread.h"
#include "fit/CallGoal.h"
#include "sheet/Worksheet.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QShowEvent>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {
constexpr int kClientW = 4695; // twips
constexpr int kClientH = 3855;
constexpr int16_t kPoints = 21;
constexpr int16_t kNone = -1;
/// Half-width of the central difference (single constants, as stored).
constexpr float kProbe = 0.01f;
constexpr float kProbeWidth = 0.02f;

/// A species the optimizer refines (every species while nothing says otherwise).
bool IsFree(const State& st, int i) {
    return !st.SpFree.Dimensioned() || i > st.SpFree.UBound() || st.SpFree(i) != kFalse;
}

/// Label interval of a scan axis of width `range`: 1, 2 or 5 times a power of ten that
/// gives at most five intervals, so that energies of several digits do not collide; and
/// the digits that show it.
std::pair<float, uint8_t> LabelStep(float range) {
    const double least = std::max(double(range) / 5.0, 1e-6);
    double decade = std::pow(10.0, std::floor(std::log10(least)));
    double step = decade;
    for (double f : {1.0, 2.0, 5.0, 10.0})
        if (f * decade >= least * (1 - 1e-9)) {
            step = f * decade;
            break;
        }
    const int digits = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 6);
    return {static_cast<float>(step), static_cast<uint8_t>(digits)};
}

/// Clears a flag when the scope ends, however it ends.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
};
} // namespace

GoalScanWindow::GoalScanWindow(State& st, MainWindowPort& port, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Dialog), st_(st), port_(port) {
    setWindowTitle("Goal Function");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(DialogFont());

    chart = new ChartWidget(this);
    zoomOutButton = new QPushButton(QString::fromUtf8("\u2014"), this);
    list = new QComboBox(this);
    zoomInButton = new QPushButton("+", this);
    readout = new QLabel(this);
    readout->setAlignment(Qt::AlignCenter);

    resize(TwipsRect(st, 0, 0, kClientW, kClientH).size());
    // The readout takes a line off the bottom of the chart.
    chart->setGeometry(TwipsRect(st, 120, 120, 4455, 2775));
    readout->setGeometry(TwipsRect(st, 120, 2925, 4455, 255));
    zoomOutButton->setGeometry(TwipsRect(st, 240, 3240, 375, 375));
    list->setGeometry(TwipsRect(st, 1560, 3240, 1575, 315));
    zoomInButton->setGeometry(TwipsRect(st, 4080, 3240, 375, 375));
    FitCaption(*this);
    (new GrowLayout(*this, *chart))->Capture(TwipsRect(st, 0, 0, kClientW, kClientH).size());
    RememberPlace(*this, QStringLiteral("GoalFunction"));

    connect(list, &QComboBox::currentIndexChanged, this, [this](int) { OnListChanged(); });
    connect(zoomInButton, &QPushButton::clicked, this, [this] { ZoomIn(); });
    connect(zoomOutButton, &QPushButton::clicked, this, [this] { ZoomOut(); });
    connect(chart, &ChartWidget::UserPoint, this, [this](float X, float Y) { OnChartPick(X, Y); });
    connect(chart, &ChartWidget::Pointer, this, &GoalScanWindow::ShowReadout);
}

void GoalScanWindow::ShowReadout(bool inside, double X, double Y) {
    if (!inside || drawn_ == kNone) {
        readout->clear();
        return;
    }
    const QString x = QString::number(X, 'f', chart->XAxisDigits() + 2);
    const QString y = QString::number(Y, 'g', 4);
    readout->setText(drawn_ == 0 ? QStringLiteral("step %1 kJ/mol,  error %2").arg(x, y)
                                 : QStringLiteral("G0 %1 kJ/mol,  error %2").arg(x, y));
}

void GoalScanWindow::FillParameterList() {
    list->setEnabled(false);
    const int index = list->currentIndex();
    list->clear();
    for (int i = 1; i <= st_.nSp; ++i) list->addItem(QString::fromStdString(st_.SpName(i)));
    list->addItem("Gradient");
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : FirstFreeIndex());
    // The chart shows the data set of before the read: no double click may act on it.
    drawn_ = kNone;
    list->setEnabled(!busy_);
}

int GoalScanWindow::FirstFreeIndex() const {
    // A fixed species is not what the user wants to move first.
    for (int i = 1; i <= st_.nSp; ++i)
        if (IsFree(st_, i)) return i - 1;
    return 0;
}

int16_t GoalScanWindow::SelectedParameter() const {
    const int k = list->currentIndex() + 1;
    return static_cast<int16_t>(k == list->count() ? 0 : k);
}

void GoalScanWindow::ScanGoal(int16_t k) {
    if (busy_) return; // an event handled while a scan yields
    BusyScope scope(busy_);
    drawn_ = kNone;
    if (LastGoodSpan == 0.0f) LastGoodSpan = 10.0f;
    const RereadResult reread = port_.reread(st_);
    if (reread == RereadResult::Reread && !isVisible()) {
        // The reader hands the buttons back; the command started from the main window
        // still runs until the window shows.
        port_.setButtons(false, Command::GoalFunction);
    }
    if (reread == RereadResult::Failed) {
        EnableControls(true);
        if (!isVisible()) GiveMainWindowBack();
        return;
    }
    bool drawn = false;
    try {
        for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Init(i);
        EnableControls(false);
        if (k < 0) k = SelectedParameter();
        if (k <= st_.nSp) drawn = DrawScan(k);
    } catch (const RuntimeError& e) {
        st_.Message(e.Description() + "  ", Icon::Critical);
        st_.ErrCode = -1;
    }
    EndScan(drawn);
}

bool GoalScanWindow::DrawScan(int16_t k) {
    // Zooming out again and again ends here rather than in offsets of infinity.
    if (!std::isfinite(st_.ScanSpan)) throw RuntimeError(kOverflow);
    chart->Dimension(1, kPoints);
    const float step = st_.ScanSpan / 10.0f;
    // A species scan runs over the species' Gibbs energy itself, a gradient scan over
    // the step from the Initial values.
    const float centre = k >= 1 ? st_.G0Init(k) : 0.0f;
    for (int16_t p = 1; p <= kPoints; ++p)
        chart->SetPointData(p, 0, centre + step * static_cast<float>(p - 11));
    chart->SetXAxisMin(centre - st_.ScanSpan);
    chart->SetXAxisMax(centre + st_.ScanSpan);
    const auto [unit, digits] = LabelStep(2 * st_.ScanSpan);
    chart->SetXAxisUnit(unit);
    chart->SetXAxisDigits(digits);
    chart->SetXAxisTitle(
        k >= 1 ? QStringLiteral("G0 of %1 (kJ/mol)").arg(QString::fromStdString(st_.SpName(k)))
               : QStringLiteral("Step along the gradient (kJ/mol)"));
    chart->SetYAxisTitle(QStringLiteral("Mean error (absorbance)"));
    if (!(k >= 1 ? ScanSpecies(k) : ScanGradient(step))) return false;
    chart->Refresh();
    st_.ui->yield();
    LastGoodSpan = st_.ScanSpan;
    drawn_ = k;
    if (!isVisible()) show();
    return true;
}

bool GoalScanWindow::ScanSpecies(int16_t k) {
    const double x0 = st_.G0(k);
    for (int16_t p = 1; p <= chart->nPoints(); ++p) {
        st_.G0(k) = chart->PointData(p, 0); // the energy plotted is the one probed
        for (int16_t s = 1; s <= chart->nSeries(); ++s) {
            double err = 0.0;
            if (!ErrorAt(err)) return false;
            chart->SetPointData(p, s, static_cast<float>(err));
        }
    }
    st_.G0(k) = x0;
    return true;
}

bool GoalScanWindow::ScanGradient(float step) {
    const int n = st_.nSp;
    for (int i = 1; i <= n; ++i) {
        st_.SearchDir(i) = 0.0; // fixed species stay where they are
        if (!IsFree(st_, i)) continue;
        const double x0 = st_.G0(i);
        st_.G0(i) = x0 - kProbe;
        if (!ErrorAt(st_.ErrLo)) return false;
        st_.G0(i) = x0 + kProbe;
        if (!ErrorAt(st_.ErrHi)) return false;
        st_.G0(i) = x0;
        st_.SearchDir(i) = (st_.ErrHi - st_.ErrLo) / kProbeWidth;
    }
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) sum += st_.SearchDir(i);
    if (sum < 0.0)
        for (int i = 1; i <= n; ++i) st_.SearchDir(i) = -st_.SearchDir(i);
    st_.G0Save = st_.G0;
    double norm = 0.0;
    for (int i = 1; i <= n; ++i) norm += st_.SearchDir(i) * st_.SearchDir(i);
    norm = std::sqrt(norm);
    if (norm < 1e-8) {
        st_.Message("No gradient  ", Icon::Exclamation);
        return false;
    }
    for (int16_t p = 1; p <= chart->nPoints(); ++p) {
        const float t = step * static_cast<float>(p - 11);
        for (int i = 1; i <= n; ++i) st_.G0(i) = st_.G0Save(i) + t * st_.SearchDir(i) / norm;
        double err = 0.0;
        if (!ErrorAt(err)) return false;
        chart->SetPointData(p, 1, static_cast<float>(err));
    }
    st_.G0 = st_.G0Save;
    return true;
}

bool GoalScanWindow::ErrorAt(double& err) {
    const double g = CallGoal(st_, 0);
    if (st_.ErrCode != 0) return false;
    try {
        // A value the chart cannot hold is a failure of the evaluation, never a NaN drawn.
        err = CSng(CheckedSqrt(g));
        return true;
    } catch (const RuntimeError& e) {
        st_.Message("Cannot calculate goal function: " + e.Description() + "  ", Icon::Critical);
        st_.ErrCode = -1;
        return false;
    }
}

void GoalScanWindow::EnableControls(bool enable) {
    zoomOutButton->setEnabled(enable);
    zoomInButton->setEnabled(enable);
    list->setEnabled(enable);
}

void GoalScanWindow::EndScan(bool drawn) {
    EnableControls(true);
    if (isVisible()) list->setFocus();
    if (st_.ErrCode != 0) {
        st_.ScanSpan = LastGoodSpan;
        st_.ErrCode = 0;
    }
    try {
        // The views show the model of the Initial values, not of the last probe.
        for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Init(i);
        CallGoal(st_, 0);
    } catch (const RuntimeError& e) {
        st_.Message(e.Description() + "  ", Icon::Critical);
        st_.ErrCode = -1;
    }
    if (port_.absorptionViewVisible()) {
        port_.showAbsorptionView();
        activateWindow();
    }
    if (!drawn && !isVisible()) GiveMainWindowBack();
}

void GoalScanWindow::GiveMainWindowBack() {
    // The main window left its controls and ErrCode to this window, which never showed.
    port_.setFileBoxEnabled(true);
    port_.setButtons(true, Command::GoalFunction);
    port_.setMainEnabled(true);
    st_.ErrCode = 0;
}

void GoalScanWindow::ApplyPickedPoint(int16_t k, float x) {
    // Only a completely drawn scan of this parameter leaves a direction and base point.
    if (busy_ || k != drawn_ || k < 0 || k > st_.nSp || !st_.xlSheet) return;
    {
        BusyScope scope(busy_);
        EnableControls(false);
        try {
            if (k == 0) {
                double norm = 0.0;
                for (int i = 1; i <= st_.nSp; ++i) norm += st_.SearchDir(i) * st_.SearchDir(i);
                norm = std::sqrt(norm);
                for (int i = 1; i <= st_.nSp; ++i) {
                    if (!IsFree(st_, i)) continue;
                    double v = st_.G0Save(i);
                    if (std::fabs(norm) > st_.Damping) v += x * st_.SearchDir(i) / norm;
                    st_.G0Init(i) = CSng(v);
                    st_.xlSheet->SetValue(i + 9, 3, CellValue{v});
                }
            } else {
                const double v = st_.G0(k) + x;
                st_.G0Init(k) = CSng(v);
                st_.xlSheet->SetValue(k + 9, 3, CellValue{v});
            }
            // The error of the Initial values no longer matches them.
            st_.xlSheet->ClearContents(st_.nSp + 10, 3, st_.nSp + 10, 3);
        } catch (const RuntimeError& e) {
            st_.Message(e.Description() + "  ", Icon::Critical);
            // The sheet may hold part of the move: the next scan reads it back first.
            st_.xlsWatch->Changed = true;
            EnableControls(true);
            return;
        }
    }
    ScanGoal(k);
    if (afterPick) afterPick();
}

void GoalScanWindow::OnActivate() {
    port_.setFileBoxEnabled(false);
    port_.setButtons(false, Command::GoalFunction);
    port_.setMainEnabled(false);
}

void GoalScanWindow::OnDeactivate() {
    if (isVisible()) return;
    // However the window went away, the main window must not stay disabled.
    port_.setMainEnabled(true);
    port_.setFileBoxEnabled(true);
    port_.setButtons(true, Command::GoalFunction);
    port_.focusButton(Command::GoalFunction);
}

bool GoalScanWindow::QueryClose(int UnloadMode) {
    if (UnloadMode != 0) return false;
    // A running scan finishes first; hiding now would hand the main window back mid-scan.
    if (busy_) return true;
    port_.setMainEnabled(true);
    st_.ui->yield();
    hide();
    return true;
}

void GoalScanWindow::OnListChanged() {
    if (!list->isEnabled() || busy_) return;
    ScanGoal(SelectedParameter());
}

void GoalScanWindow::ZoomIn() {
    if (busy_) return;
    st_.ScanSpan = st_.ScanSpan / 2;
    ScanGoal(SelectedParameter());
}

void GoalScanWindow::ZoomOut() {
    if (busy_) return;
    st_.ScanSpan = st_.ScanSpan * 2;
    ScanGoal(SelectedParameter());
}

void GoalScanWindow::OnChartPick(float X, float /*Y*/) {
    // A species scan plots the Gibbs energy; the move is its offset from the Initial value.
    const int16_t k = SelectedParameter();
    const bool species = k >= 1 && k <= st_.nSp && k == drawn_;
    ApplyPickedPoint(k, species ? static_cast<float>(double(X) - st_.G0Init(k)) : X);
}

void GoalScanWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous()) OnActivate();
}

void GoalScanWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    OnDeactivate();
}

void GoalScanWindow::closeEvent(QCloseEvent* e) {
    // The program never closes this window itself: a close is the user's.
    if (QueryClose(0))
        e->ignore();
    else
        e->accept();
}

void GoalScanWindow::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && isVisible()) OnActivate();
}

} // namespace lumora
