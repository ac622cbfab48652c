#pragma once
// The goal-function window: the error (square root of the goal function) along one
// species' Gibbs energy or along the gradient of the free ones, around the Initial
// values. A double click on the chart moves the Initial value(s) there.

#include "chart/ChartWidget.h"
#include "model/State.h"
#include "windows/MainWindowPort.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace lumora {

class GoalScanWindow : public QWidget {
    Q_OBJECT

public:
    /// The window starts hidden; mainWindow is its parent (the window stays above it).
    GoalScanWindow(State& st, MainWindowPort& port, QWidget* mainWindow);

    /// Refills the list with the species names and "Gradient" (after every read).
    void FillParameterList();
    /// The species number of the list item, 0 for "Gradient" and for no selection.
    int16_t SelectedParameter() const;
    /// Computes and draws one scan: k < 0 takes k from the list, 0 is the gradient,
    /// 1..nSp one species.
    void ScanGoal(int16_t k);
    /// Moves the Initial value(s) of parameter k to offset x and scans again.
    void ApplyPickedPoint(int16_t k, float x);

    /// Called after a double click wrote into the sheet, so that the application can
    /// save the workbook as it does after a command.
    std::function<void()> afterPick;

    /// Span of the last scan that was drawn completely (0 before the first scan).
    float LastGoodSpan = 0.0f;

    /// Parameter of the scan on the chart, or -1 while no complete scan is drawn.
    int16_t DrawnParameter() const { return drawn_; }
    /// True while ScanGoal or ApplyPickedPoint runs.
    bool Scanning() const { return busy_; }

    // Window events.
    void OnActivate();
    void OnDeactivate();
    /// Returns true when the unload is cancelled (UnloadMode 0: closed by the user).
    bool QueryClose(int UnloadMode);
    void OnListChanged();
    void ZoomIn();
    void ZoomOut();
    void OnChartPick(float X, float Y);

    ChartWidget* chart = nullptr;
    QPushButton* zoomOutButton = nullptr;
    QComboBox* list = nullptr;
    QPushButton* zoomInButton = nullptr;
    /// The Gibbs energy (or step) and the error under the pointer.
    QLabel* readout = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    /// Fills the chart for parameter k and draws it; false when it ended without drawing.
    bool DrawScan(int16_t k);
    bool ScanSpecies(int16_t k);
    /// List index of the first free species (0 when none is free).
    int FirstFreeIndex() const;
    void ShowReadout(bool inside, double X, double Y);
    bool ScanGradient(float step);
    /// The error at the current G0; false (ErrCode set) when the evaluation failed.
    bool ErrorAt(double& err);
    void EnableControls(bool enable);
    /// The last step of every scan: controls back, model state of the Initial values.
    void EndScan(bool drawn);
    /// Restores the main window after a scan it started that showed nothing.
    void GiveMainWindowBack();

    State& st_;
    MainWindowPort& port_;
    int16_t drawn_ = -1;
    bool busy_ = false;
};

} // namespace lumora
