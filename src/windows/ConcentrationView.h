#pragma once
// The speciation and extinction-coefficient view: the concentrations of the refined
// species in every solution, or their extinction coefficients against wavelength,
// for all species or one, on a linear or logarithmic Y axis. A modal dialog over the
// main window; changing the list or the check box rebuilds the chart in place.

#include "chart/ChartWidget.h"
#include "windows/MainWindowPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>

#include <cstdint>

namespace lumora {

struct State;

class ConcentrationView : public QDialog {
    Q_OBJECT
public:
    ConcentrationView(State& st, MainWindowPort& port, QWidget* owner);

    /// 1 concentrations, 2 extinction coefficients, 0 the mode used last. Re-reads a
    /// changed sheet first; shows the window modally unless it is shown already.
    void ShowSpeciesView(int16_t mode);
    /// Shows the name of species `series` at screen position (x, y) twips for 3 seconds.
    void ShowSpeciesTip(int16_t series, int32_t x, int32_t y);

    /// The mode of the last drawing (0 before the first).
    int16_t LastMode() const { return lastMode_; }

    ChartWidget* chart = nullptr;
    QCheckBox* check = nullptr;
    QLabel* logScaleLabel = nullptr;
    QComboBox* list = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnActivate();
    void OnUnload();
    void OnListChanged();
    void OnCheckToggled();
    void OnCurveHover(qint16 Series, qint16 X, qint16 Y);
    void Build(int16_t mode);
    void RefillList();

    State& st_;
    MainWindowPort& port_;
    int16_t lastMode_ = 0;
};

} // namespace lumora
