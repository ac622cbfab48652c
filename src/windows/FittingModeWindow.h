#pragma once
// FittingModeWindow, the "Fitting Mode" window of F12: extinction coefficients computed
// independently at each wavelength (normal mode) or as sums of Gaussian bands. In
// the Gaussian mode it shows one species at a time, its normal-mode reference curve
// (RefEps) and the band sum (Eps), and loads, builds and refines the bands.

#include "chart/ChartWidget.h"
#include "model/State.h"
#include "windows/MainWindowPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <vector>

#include <array>
#include <functional>

namespace lumora {

class GrowLayout;

class FittingModeWindow : public QDialog {
    Q_OBJECT
public:
    explicit FittingModeWindow(State& st, MainWindowPort& port, QWidget* parent = nullptr);
    /// The main window this window was opened from.
    MainWindowPort& Port() { return port_; }

    // Controls, named as the window's controls.
    QLabel* modeLabel = nullptr;
    std::array<QRadioButton*, 2> modeButtons{};
    QGroupBox* bandBox = nullptr;
    QLabel* argumentLabel = nullptr;
    std::array<QRadioButton*, 2> argumentButtons{};
    QComboBox* list = nullptr;
    QCheckBox* check = nullptr;
    QLabel* logScaleLabel = nullptr;
    ChartWidget* chart = nullptr;
    QPushButton* loadButton = nullptr;
    QPushButton* buildButton = nullptr;
    QLabel* thresholdLabel = nullptr;
    QLineEdit* thresholdEdit = nullptr;

    /// Places the controls for the screen's twips per pixel.
    void Load();
    /// Gaussian mode: the focus goes to list, which draws the chart.
    void OnActivate();
    /// FitMode = index; shows the band controls and sizes the window for the mode.
    void OnModeChosen(int index);
    /// Switches the bands between wavenumber (index 0) and wavelength (index 1).
    void OnArgumentChosen(int index);
    void OnCheckToggled();
    void OnListChanged();
    void Combo_GotFocus();
    void LoadBands();
    void BuildBands();
    /// Enter (13) builds with the threshold typed; the key is swallowed (set to 0).
    void txtLevel_KeyPress(int& keyAscii);
    /// The threshold as a whole number within 1..100.
    void txtLevel_LostFocus();
    /// A double click on the chart refines the bands of the selected species.
    void OnChartPick(float X, float Y);
    /// Reference curve and band sum of the selected species.
    void DrawFitChart();
    /// Load and Build together.
    void EnableCommands(bool on);

    /// Window height as last set, in twips.
    int HeightTwips() const { return heightTwips_; }
    /// True while a refinement runs.
    bool Refining() const { return !loadButton->isEnabled(); }
    /// Number of chart drawings so far (tests, focus hand-over).
    long DrawCount() const { return draws_; }

protected:
    /// A close request during a refinement is the interrupt request, and is refused.
    void reject() override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    QRect Px(int left, int top, int width, int height) const;
    void PlaceControls();
    /// The controls whose text must fit, and the width their text needs.
    std::vector<QWidget*> Captions() const;
    static double CaptionWidth(const QWidget* c);
    /// Window size for a height in twips (outer, as the window system counts it).
    QSize BaseSize(int heightTwips) const;
    void SizeWindow();
    void FocusList();
    /// Runs a window action; a sheet or arithmetic failure becomes a message.
    void Guarded(const std::function<void()>& action);

    State& st_;
    MainWindowPort& port_;
    bool argSuppressed_ = false;
    int heightTwips_ = 1950;
    /// Horizontal stretch of the twips layout so that every caption fits (1: none).
    double hscale_ = 1.0;
    long draws_ = 0;
    GrowLayout* windowLayout_ = nullptr;
    GrowLayout* boxLayout_ = nullptr;
};

/// F12: the fitting-mode window, modal. Nothing happens while a command runs (button
/// 3 disabled). A sheet edited since the last read is read again first; a failed
/// re-read, or a failed normal-mode evaluation, is reported and ends the command with
/// its ErrCode. Once the window has closed FitMode holds the mode chosen, Eps its
/// curves and ErrCode 0; RefEps is dropped; the main window's buttons are enabled.
void OpenFittingMode(State& st, FittingModeWindow& w);

} // namespace lumora
