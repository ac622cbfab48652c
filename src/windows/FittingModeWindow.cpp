#include "windows/FittingModeWindow.h"

#include "base/NumText.h"
#include "dataset/Reread.h"
#include "fit/BuildGaussians.h"
#include "fit/CallGoal.h"
#include "fit/RefineGaussians.h"
#include "linalg/LinearAlgebra.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"
#include "windows/ChartValue.h"
#include "windows/GrowLayout.h"
#include "windows/ViewGeometry.h"
#include "windows/WindowPlaces.h"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <exception>

namespace lumora {

namespace {

constexpr const char* kTitle = "Fitting Mode";

// Window geometry in twips. The height is set by the mode (OnModeChosen).
constexpr int kWidth = 5040;
constexpr int kNormalHeight = 1950;
constexpr int kGaussExtra = 4230;
/// Heights above this are the Gaussian mode's.
constexpr int kGaussianHeight = 5000;

const QString kPlaceKey = QStringLiteral("FittingMode");

} // namespace

FittingModeWindow::FittingModeWindow(State& st, MainWindowPort& port, QWidget* parent)
    : QDialog(parent), st_(st), port_(port) {
    setWindowTitle(kTitle);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(DialogFont());

    modeLabel = new QLabel("Define how extinction coefficients should be calculated", this);
    modeButtons[0] = new QRadioButton("Normal  mode (independently for each wavelength)", this);
    modeButtons[1] = new QRadioButton("Use Gaussians (describe them by standard curves)", this);
    bandBox = new QGroupBox(this);
    argumentLabel = new QLabel("...as functions of", bandBox);
    argumentButtons[0] = new QRadioButton("wavenumber", bandBox);
    argumentButtons[1] = new QRadioButton("wavelength", bandBox);
    list = new QComboBox(bandBox);
    check = new QCheckBox(bandBox);
    logScaleLabel = new QLabel("Logarithmic scale", bandBox);
    chart = new ChartWidget(bandBox);
    loadButton = new QPushButton("Load", bandBox);
    buildButton = new QPushButton("Build", bandBox);
    thresholdLabel = new QLabel(" Threshold:", bandBox);
    thresholdEdit = new QLineEdit("33", bandBox);
    bandBox->hide();
    // Enter belongs to the threshold box, never to a default button.
    loadButton->setAutoDefault(false);
    buildButton->setAutoDefault(false);

    for (int i = 0; i < 2; ++i) {
        connect(modeButtons[i], &QRadioButton::clicked, this, [this, i] { OnModeChosen(i); });
        connect(argumentButtons[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) OnArgumentChosen(i);
        });
    }
    connect(check, &QCheckBox::clicked, this, [this] { OnCheckToggled(); });
    connect(list, &QComboBox::currentIndexChanged, this, [this] { OnListChanged(); });
    connect(loadButton, &QPushButton::clicked, this, [this] { LoadBands(); });
    connect(buildButton, &QPushButton::clicked, this, [this] { BuildBands(); });
    connect(chart, &ChartWidget::UserPoint, this, [this](float x, float y) { OnChartPick(x, y); });
    list->installEventFilter(this);
    thresholdEdit->installEventFilter(this);
    windowLayout_ = new GrowLayout(*this, *bandBox);
    boxLayout_ = new GrowLayout(*bandBox, *chart);
    Load();
}

QRect FittingModeWindow::Px(int left, int top, int width, int height) const {
    return TwipsRect(st_, static_cast<int>(std::lround(left * hscale_)), top,
                     static_cast<int>(std::lround(width * hscale_)), height);
}

void FittingModeWindow::Load() {
    // The twips are made for a narrower dialog font than most systems have: when a
    // caption needs more room than its twips give, the whole layout widens with it.
    hscale_ = 1.0;
    PlaceControls();
    double need = 1.0;
    for (QWidget* c : Captions()) need = std::max(need, CaptionWidth(c) / std::max(c->width(), 1));
    if (need > 1.0) {
        hscale_ = need;
        PlaceControls();
    }
    // The Gaussian mode's window can grow; its controls are placed for its first size.
    boxLayout_->Capture(bandBox->size());
    windowLayout_->Capture(BaseSize(kNormalHeight + kGaussExtra));
    SizeWindow();
}

std::vector<QWidget*> FittingModeWindow::Captions() const {
    return {modeLabel,          modeButtons[0], modeButtons[1], argumentLabel, argumentButtons[0],
            argumentButtons[1], logScaleLabel,  loadButton,     buildButton,   thresholdLabel};
}

double FittingModeWindow::CaptionWidth(const QWidget* c) {
    // A push button's size hint has a minimum width; its text is what must fit.
    if (const auto* b = qobject_cast<const QPushButton*>(c))
        return b->fontMetrics().horizontalAdvance(b->text()) + 8.0;
    return c->sizeHint().width();
}

void FittingModeWindow::PlaceControls() {
    // At 10 twips per pixel the captions need a little more room.
    const bool large = st_.TwipsX == 10.0f;
    modeLabel->setGeometry(Px(240, 120, 4680, 255));
    for (int i = 0; i < 2; ++i)
        modeButtons[i]->setGeometry(Px(large ? 270 : 360, 480 + 360 * i, large ? 4420 : 4320, 285));
    bandBox->setGeometry(Px(120, 1230, 4800, 4320));
    argumentLabel->setGeometry(Px(large ? 180 : 240, 270, 1500, 255));
    argumentButtons[0]->setGeometry(Px(1800, 240, 1350, 285));
    argumentButtons[1]->setGeometry(Px(3240, 240, 1440, 285));
    list->setGeometry(Px(240, 630, 2400, 315));
    check->setGeometry(Px(2880, 660, 255, 255));
    logScaleLabel->setGeometry(Px(3180, 660, 1500, 255));
    chart->setGeometry(Px(120, 1080, 4560, 2640));
    loadButton->setGeometry(Px(large ? 480 : 360, 3840, 1035, 375));
    buildButton->setGeometry(Px(large ? 1680 : 1560, 3840, 1035, 375));
    thresholdLabel->setGeometry(Px(large ? 2760 : 2700, 3900, large ? 990 : 1050, 255));
    thresholdEdit->setGeometry(Px(3780, 3855, 600, 315));
}

QSize FittingModeWindow::BaseSize(int heightTwips) const {
    // The height counts the caption and the borders, as the window system's does.
    const QRect outer = Px(0, 0, kWidth, heightTwips);
    const int w = outer.width() - 2 * static_cast<int>(st_.FrameW);
    const int h = outer.height() - static_cast<int>(st_.CaptionH) - static_cast<int>(st_.FrameW);
    return QSize(std::max(w, 1), std::max(h, 1));
}

void FittingModeWindow::SizeWindow() {
    const QSize base = BaseSize(heightTwips_);
    if (heightTwips_ <= kGaussianHeight) {
        setFixedSize(base);
        return;
    }
    // The chart's mode: resizable from the first size up, as the user left it last.
    setMinimumSize(base);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(base);
    RestorePlace(*this, kPlaceKey);
}

bool FittingModeWindow::event(QEvent* e) {
    const bool handled = QDialog::event(e);
    // Shown or brought back to the front; some window systems never activate it.
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) OnActivate();
    if (e->type() == QEvent::Hide && heightTwips_ > kGaussianHeight) SavePlace(*this, kPlaceKey);
    return handled;
}

void FittingModeWindow::OnActivate() {
    if (heightTwips_ > kGaussianHeight) FocusList();
}

void FittingModeWindow::FocusList() {
    if (!list->isVisible()) return;
    const long before = draws_;
    list->setFocus();
    // Without a focus change (it had the focus, or the window is not active) there
    // was no GotFocus to draw.
    if (draws_ == before) Combo_GotFocus();
}

void FittingModeWindow::Guarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& e) {
        st_.ErrCode = -1;
        st_.Message(e.Description() + "  ", Icon::Critical);
    } catch (const std::exception& e) {
        st_.ErrCode = -1;
        st_.Message(std::string(e.what()) + "  ", Icon::Critical);
    }
}

void FittingModeWindow::OnModeChosen(int index) {
    st_.FitMode = static_cast<int16_t>(index);
    bandBox->setVisible(index >= 1);
    heightTwips_ = kNormalHeight + kGaussExtra * index;
    SizeWindow();
    if (index != 0) {
        argSuppressed_ = true;
        argumentButtons[0]->setChecked(st_.GaussArg);
        argumentButtons[1]->setChecked(!st_.GaussArg);
        argSuppressed_ = false;
        FocusList();
    }
}

void FittingModeWindow::OnArgumentChosen(int index) {
    if (argSuppressed_) return;
    const bool wavenumber = index == 0;
    Guarded([&] {
        if (BandCount(st_) == 0)
            st_.GaussArg = wavenumber; // the bands built next are of the kind shown
        else
            SetAbscissa(st_, wavenumber ? -1 : 0);
    });
    FocusList();
}

void FittingModeWindow::OnCheckToggled() {
    FocusList();
}

void FittingModeWindow::OnListChanged() {
    if (list->isEnabled()) DrawFitChart();
}

void FittingModeWindow::Combo_GotFocus() {
    DrawFitChart();
}

void FittingModeWindow::LoadBands() {
    Guarded([this] { LoadGaussians(st_, -1); });
    FocusList();
}

void FittingModeWindow::BuildBands() {
    const int threshold = ClampThreshold(Val(thresholdEdit->text().toStdString()));
    Guarded([&] { BuildGaussians(st_, threshold); });
    FocusList();
}

void FittingModeWindow::txtLevel_KeyPress(int& keyAscii) {
    if (keyAscii != 13) return;
    keyAscii = 0;
    txtLevel_LostFocus();
    buildButton->setFocus();
    st_.ui->yield();
    BuildBands();
}

void FittingModeWindow::txtLevel_LostFocus() {
    const int level = ClampThreshold(Val(thresholdEdit->text().toStdString()));
    thresholdEdit->setText(QString::number(level));
}

void FittingModeWindow::OnChartPick(float, float) {
    // A second double click while refining must not start a refinement inside it.
    if (st_.FitMode == 0 || Refining()) return;
    EnableCommands(false);
    // The mode and the kind of band must stay while the bands move.
    for (int i = 0; i < 2; ++i) {
        modeButtons[i]->setEnabled(false);
        argumentButtons[i]->setEnabled(false);
    }
    const QString refining = "Refining... (Esc to stop)";
    setWindowTitle(refining);
    Guarded([&] {
        RefineGaussians(st_, static_cast<int16_t>(list->currentIndex() + 1), [&](int iteration) {
            setWindowTitle(refining + QString("  Iteration: %1").arg(iteration));
            DrawFitChart();
        });
    });
    setWindowTitle(kTitle);
    for (int i = 0; i < 2; ++i) {
        modeButtons[i]->setEnabled(true);
        argumentButtons[i]->setEnabled(true);
    }
    EnableCommands(true);
    FocusList();
}

void FittingModeWindow::EnableCommands(bool on) {
    buildButton->setEnabled(on);
    loadButton->setEnabled(on);
}

void FittingModeWindow::DrawFitChart() {
    ++draws_;
    Guarded([this] {
        const int k = list->currentIndex() + 1;
        const bool bands = BandCount(st_) != 0;
        chart->Clear();
        if (k < 1 || k > st_.nSp || !st_.RefEps.Dimensioned()) return;
        const int16_t nWl = st_.nWl;
        chart->Dimension(2, nWl);
        chart->SetXAxisMin(st_.WlStart);
        chart->SetXAxisMax(st_.WlStop);
        for (int16_t i = 1; i <= nWl; ++i) {
            chart->SetPointData(i, 0, ChartValue(st_.AbsM(0, i)));
            chart->SetPointData(i, 1, ChartValue(st_.RefEps(k, i)));
            if (bands) chart->SetPointData(i, 2, ChartValue(st_.Eps(k, i)));
        }
        if (!bands) chart->SetSkipSeries(2, true);
        chart->SetSeriesName(1, QStringLiteral("per wavelength"));
        chart->SetSeriesName(2, QStringLiteral("Gaussian bands"));
        chart->SetXAxisTitle(kWavelengthTitle);
        chart->SetYAxisTitle(kAbsorptivityTitle);
        chart->SetYAxisShortTitle(kAbsorptivityShortTitle);
        chart->SetYAxisLogScale(check->isChecked());
        chart->Refresh();
    });
}

void FittingModeWindow::reject() {
    if (Refining()) {
        st_.ErrCode = kInterrupt;
        return;
    }
    QDialog::reject();
}

bool FittingModeWindow::eventFilter(QObject* obj, QEvent* e) {
    if (obj == list && e->type() == QEvent::FocusIn) {
        Combo_GotFocus();
    } else if (obj == thresholdEdit && e->type() == QEvent::FocusOut) {
        txtLevel_LostFocus();
    } else if (obj == thresholdEdit && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            int keyAscii = 13;
            txtLevel_KeyPress(keyAscii);
            return true;
        }
    }
    return QDialog::eventFilter(obj, e);
}

namespace {

/// RefEps = the normal-mode curves, Eps = the band sums (when there are bands). False,
/// with Eps as it was and RefEps dropped, when the normal-mode curves cannot be had.
bool TakeReferenceCurves(State& st) {
    try {
        st.RefEps = st.Eps;
        if (st.FitMode == 0) {
            try {
                LoadGaussians(st, 0);
            } catch (const RuntimeError&) {
                st.GaussTab.Redim(3, 0); // the quiet load finds no table it cannot read
            }
            st.FitMode = 0;
            return true;
        }
        st.FitMode = 0;
        CallGoal(st, 0);
        st.FitMode = 1;
        if (st.ErrCode == 0) {
            for (int k = 1; k <= st.nSp; ++k)
                for (int i = 1; i <= st.nWl; ++i) SwapValues(st.RefEps(k, i), st.Eps(k, i));
            return true;
        }
        // The goal function has said why.
    } catch (const RuntimeError& e) {
        st.Message(e.Description() + "  ", Icon::Critical);
        st.ErrCode = -1;
    }
    // Nothing to show or build from: the coefficients stay those of the data set's mode.
    if (st.RefEps.Dimensioned()) st.Eps = st.RefEps;
    st.RefEps.Erase();
    return false;
}

} // namespace

void OpenFittingMode(State& st, FittingModeWindow& w) {
    MainWindowPort& port = w.Port();
    if (!port.buttonEnabled(Command::Optimize)) return;
    port.setButtons(false, Command::None);
    // A sheet edited since the last read could be shorter now: the band table of stale
    // species would be written over its composition rows.
    const RereadResult reread = port.reread(st);
    if (reread == RereadResult::Failed || !TakeReferenceCurves(st)) {
        port.setButtons(true, Command::None);
        return;
    }
    // A read enables the buttons; they stay off while the window is open.
    if (reread == RereadResult::Reread) port.setButtons(false, Command::None);

    w.Load();
    w.list->setEnabled(false);
    w.list->clear();
    for (int k = 1; k <= st.nSp; ++k) w.list->addItem(QString::fromStdString(st.SpName(k)));
    w.list->setCurrentIndex(0);
    w.list->setEnabled(true);

    const int mode = st.FitMode != 0 ? 1 : 0;
    w.modeButtons[mode]->setChecked(true);
    w.OnModeChosen(mode);
    w.exec();

    if (BandCount(st) == 0) st.FitMode = 0;
    if (st.FitMode == 0) st.Eps = st.RefEps;
    st.RefEps.Erase();
    // A refinement cancelled or failed in the window has been reported there; its code
    // must not end the next command silently.
    st.ErrCode = 0;
    port.setButtons(true, Command::None);
}

} // namespace lumora
