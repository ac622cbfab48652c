#pragma once
// The absorption view: the measured spectra of all solutions, or the measured and
// the calculated spectrum of one, against wavelength. Modeless beside the main
// window, resizable; the optimizer and the goal scan refresh it while it is shown.

#include "chart/ChartWidget.h"
#include "windows/MainWindowPort.h"

#include <QComboBox>
#include <QString>
#include <QWidget>

#include <cstdint>

namespace lumora {

struct State;

class AbsorptionView : public QWidget {
    Q_OBJECT
public:
    AbsorptionView(State& st, MainWindowPort& port, QWidget* owner);

    /// Builds or updates the view and shows it. The data are loaded into the chart on
    /// first use, after the sheet changed and after every successful read; otherwise
    /// only the selection, the calculated spectrum and the colours change.
    void ShowAbsorptionView();
    /// Hides the window and forgets its list, so that the next show reloads the data.
    void Unload();
    /// The selected list entry: 0 all solutions, j solution j, -1 while the list is empty.
    int ListIndex() const { return list->currentIndex(); }
    /// Shows the solution name of `series` ("Calculated" beyond the solutions) at
    /// screen position (x, y) twips for 3 seconds.
    void ShowSolutionTip(int16_t series, int32_t x, int32_t y);

    /// Palette with every measured spectrum blue and the calculated one red.
    const QString& TwoColourPalette() const { return twoColour_; }
    /// The chart's colours read back when the data were last loaded.
    const QString& AllSolutionsPalette() const { return allSolutions_; }

    ChartWidget* chart = nullptr;
    QComboBox* list = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Load();
    void OnResize();
    void OnListChanged();
    void OnCurveHover(qint16 Series, qint16 X, qint16 Y);
    void LoadData();
    void ShowSelection(int sel);
    /// Legend names: the solutions, or the shown one's measured and calculated spectra.
    void NameSeries(int sel, int calc);

    State& st_;
    MainWindowPort& port_;
    QString twoColour_;
    QString allSolutions_;
    long loadedSerial_ = -1; ///< ReadSerial of the data in the chart
    // First size and the distances kept on resizing (pixels).
    int W0_ = 0, H0_ = 0, dW_ = 0, dH_ = 0, dC_ = 0;
    bool loaded_ = false;
};

/// The palette that draws measured spectra blue and the calculated spectrum (series
/// CalculatedSeries) pure red: entry i is blue minus i, so that series k (entry
/// (k - 1) mod 16 plus k - 1) comes out blue, and the calculated spectrum's entry is
/// chosen to give red. With 16 solutions or more the entry of the selected solution is
/// set to give it pure blue as well.
QString TwoColourPaletteFor(int nSol, int selected);

/// The series of the calculated spectrum while solution `selected` is shown: nSol + 1, or
/// the spare nSol + 2 where nSol + 1 would share the selected solution's palette entry
/// (and so its colour).
int CalculatedSeries(int nSol, int selected);

} // namespace lumora
