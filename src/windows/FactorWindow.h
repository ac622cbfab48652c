#pragma once
// The factor-analysis window "Reverse Indicator Function" and the F1 command that
// fills and shows it: the reverse indicator against the number of factors, the
// estimated RMS error of the data, and the choice of a number of factors with
// which the goal function reconstructs the data.

#include "model/State.h"
#include "windows/MainWindowPort.h"

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;

namespace lumora {

class ChartWidget;
struct FactorResult;

class FactorWindow : public QDialog {
    Q_OBJECT
public:
    explicit FactorWindow(State& st, QWidget* parent = nullptr);

    ChartWidget* chart = nullptr;
    /// "Try to reduce errors in data matrix"
    QCheckBox* check = nullptr;
    /// Factor counts 1..c-1
    QComboBox* list = nullptr;
    /// "Number of factors"
    QLabel* factorsLabel = nullptr;
    /// The estimated error or "Data are not factor analyzable"
    QLabel* errorLabel = nullptr;

    /// chart, label, list and check box from one analysis (nFactors may be reset).
    void ShowResult(const FactorResult& r);

    void OnActivate();
    void OnCheckToggled();
    void KeyDown(int key);
    /// Any close: nFactors becomes the count shown when Check is ticked, else 0.
    void QueryClose();

    /// The count Combo shows, 0 when it shows none.
    int16_t ShownCount() const;

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

public slots:
    void done(int result) override;

private:
    State& st_;
};

/// F1 (mode 0): re-reads a changed sheet, analyses AbsM and shows `window` modally.
/// Any other mode: analyses only and leaves the number of factors in ErrCode
/// (window may be null). Does nothing while button 3 ("Optimize") is disabled.
void FactorAnalysis(State& st, MainWindowPort& port, int16_t mode, FactorWindow* window);

} // namespace lumora
