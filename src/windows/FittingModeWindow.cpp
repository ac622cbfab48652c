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
#include "windows/ViewGeometry.h"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <exception>

namespace lumora {

namespace {

// Window geometry in twips. The height is set by the mode (optMode_Click).
constexpr int kWidth = 5040;
constexpr int kNormalHeight = 1950;
constexpr int kGaussExtra = 4230;
/// Heights above this are the Gaussian mode's.
constexpr int kGaussianHeight = 5000;

/// A value as the chart takes it; what a float cannot show breaks the line.
float ChartValue(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= kMissingLimit) return static_cast<float>(kMissing);
    return static_cast<float>(v);
}

} // namespace

FittingModeWindow::FittingModeWindow(State& st, MainWindowPort& port, QWidget* parent)
    : QDialog(parent), st_(st), port_(port) {
    setWindowTitle("Fitting Mode");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(DialogFont());

    Label1 = new QLabel("Define how extinction coefficients should be calculated", this);
    optMode[0] = new QRadioButton("Normal  mode (independently for each wavelength)", this);
    optMode[1] = new QRadioButton("Use Gaussians (describe them by standard curves)", this);
    Frame = new QGroupBox(this);
    Label5 = new QLabel("...as functions of", Frame);
    Arg[0] = new QRadioButton("wavenumber", Frame);
    Arg[1] = new QRadioButton("wavelength", Frame);
    Combo = new QComboBox(Frame);
    Check = new QCheckBox(Frame);
    Label4 = new QLabel("Logarithmic scale", Frame);
    Chart = new ChartWidget(Frame);
    cmdRead = new QPushButton("Load", Frame);
    cmdBuild = new QPushButton("Build", Frame);
    Label2 = new QLabel(" Threshold:", Frame);
    txtLevel = new QLineEdit("33", Frame);
    Frame->hide();
    // Enter belongs to the threshold box, never to a default button.
    cmdRead->setAutoDefault(false);
    cmdBuild->setAutoDefault(false);

    for (int i = 0; i < 2; ++i) {
        connect(optMode[i], &QRadioButton::clicked, this, [this, i] { optMode_Click(i); });
        connect(Arg[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) Arg_Click(i);
        });
    }
    connect(Check, &QCheckBox::clicked, this, [this] { Check_Click(); });
    connect(Combo, &QComboBox::currentIndexChanged, this, [this] { Combo_Click(); });
    connect(cmdRead, &QPushButton::clicked, this, [this] { cmdRead_Click(); });
    connect(cmdBuild, &QPushButton::clicked, this, [this] { cmdBuild_Click(); });
    connect(Chart, &ChartWidget::UserPoint, this,
            [this](float x, float y) { Chart_UserPoint(x, y); });
    Combo->installEventFilter(this);
    txtLevel->installEventFilter(this);
    Form_Load();
}

QRect FittingModeWindow::Px(int left, int top, int width, int height) const {
    return TwipsRect(st_, static_cast<int>(std::lround(left * hscale_)), top,
                     static_cast<int>(std::lround(width * hscale_)), height);
}

void FittingModeWindow::Form_Load() {
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
    SizeWindow();
}

std::vector<QWidget*> FittingModeWindow::Captions() const {
    return {Label1, optMode[0], optMode[1], Label5,   Arg[0],
            Arg[1], Label4,     cmdRead,    cmdBuild, Label2};
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
    Label1->setGeometry(Px(240, 120, 4680, 255));
    for (int i = 0; i < 2; ++i)
        optMode[i]->setGeometry(Px(large ? 270 : 360, 480 + 360 * i, large ? 4420 : 4320, 285));
    Frame->setGeometry(Px(120, 1230, 4800, 4320));
    Label5->setGeometry(Px(large ? 180 : 240, 270, 1500, 255));
    Arg[0]->setGeometry(Px(1800, 240, 1350, 285));
    Arg[1]->setGeometry(Px(3240, 240, 1440, 285));
    Combo->setGeometry(Px(240, 630, 2400, 315));
    Check->setGeometry(Px(2880, 660, 255, 255));
    Label4->setGeometry(Px(3180, 660, 1500, 255));
    Chart->setGeometry(Px(120, 1080, 4560, 2640));
    cmdRead->setGeometry(Px(large ? 480 : 360, 3840, 1035, 375));
    cmdBuild->setGeometry(Px(large ? 1680 : 1560, 3840, 1035, 375));
    Label2->setGeometry(Px(large ? 2760 : 2700, 3900, large ? 990 : 1050, 255));
    txtLevel->setGeometry(Px(3780, 3855, 600, 315));
}

void FittingModeWindow::SizeWindow() {
    // The height counts the caption and the borders, as the window system's does.
    const QRect outer = Px(0, 0, kWidth, heightTwips_);
    const int w = outer.width() - 2 * static_cast<int>(st_.FrameW);
    const int h = outer.height() - static_cast<int>(st_.CaptionH) - static_cast<int>(st_.FrameW);
    setFixedSize(std::max(w, 1), std::max(h, 1));
}

bool FittingModeWindow::event(QEvent* e) {
    const bool handled = QDialog::event(e);
    // Shown or brought back to the front; some window systems never activate it.
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) Form_Activate();
    return handled;
}

void FittingModeWindow::Form_Activate() {
    if (heightTwips_ > kGaussianHeight) FocusCombo();
}

void FittingModeWindow::FocusCombo() {
    if (!Combo->isVisible()) return;
    const long before = draws_;
    Combo->setFocus();
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

void FittingModeWindow::optMode_Click(int index) {
    st_.FitMode = static_cast<int16_t>(index);
    Frame->setVisible(index >= 1);
    heightTwips_ = kNormalHeight + kGaussExtra * index;
    SizeWindow();
    if (index != 0) {
        argSuppressed_ = true;
        Arg[0]->setChecked(st_.GaussArg);
        Arg[1]->setChecked(!st_.GaussArg);
        argSuppressed_ = false;
        FocusCombo();
    }
}

void FittingModeWindow::Arg_Click(int index) {
    if (argSuppressed_) return;
    const bool wavenumber = index == 0;
    Guarded([&] {
        if (BandCount(st_) == 0)
            st_.GaussArg = wavenumber; // the bands built next are of the kind shown
        else
            SetAbscissa(st_, wavenumber ? -1 : 0);
    });
    FocusCombo();
}

void FittingModeWindow::Check_Click() {
    FocusCombo();
}

void FittingModeWindow::Combo_Click() {
    if (Combo->isEnabled()) DrawFitChart();
}

void FittingModeWindow::Combo_GotFocus() {
    DrawFitChart();
}

void FittingModeWindow::cmdRead_Click() {
    Guarded([this] { LoadGaussians(st_, -1); });
    FocusCombo();
}

void FittingModeWindow::cmdBuild_Click() {
    const int threshold = ClampThreshold(Val(txtLevel->text().toStdString()));
    Guarded([&] { BuildGaussians(st_, threshold); });
    FocusCombo();
}

void FittingModeWindow::txtLevel_KeyPress(int& keyAscii) {
    if (keyAscii != 13) return;
    keyAscii = 0;
    txtLevel_LostFocus();
    cmdBuild->setFocus();
    st_.ui->yield();
    cmdBuild_Click();
}

void FittingModeWindow::txtLevel_LostFocus() {
    const int level = ClampThreshold(Val(txtLevel->text().toStdString()));
    txtLevel->setText(QString::number(level));
}

void FittingModeWindow::Chart_UserPoint(float, float) {
    // A second double click while refining must not start a refinement inside it.
    if (st_.FitMode == 0 || Refining()) return;
    EnableCommands(false);
    // The mode and the kind of band must stay while the bands move.
    for (int i = 0; i < 2; ++i) {
        optMode[i]->setEnabled(false);
        Arg[i]->setEnabled(false);
    }
    Guarded([this] {
        RefineGaussians(st_, static_cast<int16_t>(Combo->currentIndex() + 1),
                        [this] { DrawFitChart(); });
    });
    for (int i = 0; i < 2; ++i) {
        optMode[i]->setEnabled(true);
        Arg[i]->setEnabled(true);
    }
    EnableCommands(true);
    FocusCombo();
}

void FittingModeWindow::EnableCommands(bool on) {
    cmdBuild->setEnabled(on);
    cmdRead->setEnabled(on);
}

void FittingModeWindow::DrawFitChart() {
    ++draws_;
    Guarded([this] {
        const int k = Combo->currentIndex() + 1;
        const bool bands = BandCount(st_) != 0;
        Chart->Clear();
        if (k < 1 || k > st_.nSp || !st_.RefEps.Dimensioned()) return;
        const int16_t nWl = st_.nWl;
        Chart->Dimension(2, nWl);
        Chart->SetXAxisMin(st_.WlStart);
        Chart->SetXAxisMax(st_.WlStop);
        for (int16_t i = 1; i <= nWl; ++i) {
            Chart->SetPointData(i, 0, ChartValue(st_.AbsM(0, i)));
            Chart->SetPointData(i, 1, ChartValue(st_.RefEps(k, i)));
            if (bands) Chart->SetPointData(i, 2, ChartValue(st_.Eps(k, i)));
        }
        if (!bands) Chart->SetSkipSeries(2, true);
        Chart->SetYAxisLogScale(Check->isChecked());
        Chart->Refresh();
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
    if (obj == Combo && e->type() == QEvent::FocusIn) {
        Combo_GotFocus();
    } else if (obj == txtLevel && e->type() == QEvent::FocusOut) {
        txtLevel_LostFocus();
    } else if (obj == txtLevel && e->type() == QEvent::KeyPress) {
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

    w.Form_Load();
    w.Combo->setEnabled(false);
    w.Combo->clear();
    for (int k = 1; k <= st.nSp; ++k) w.Combo->addItem(QString::fromStdString(st.SpName(k)));
    w.Combo->setCurrentIndex(0);
    w.Combo->setEnabled(true);

    const int mode = st.FitMode != 0 ? 1 : 0;
    w.optMode[mode]->setChecked(true);
    w.optMode_Click(mode);
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
