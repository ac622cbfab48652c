#pragma once
// The result windows of the desktop program. They are owned by the main window and
// started from its commands; the goal-function window exists from the start, the
// others from their first use.

#include "model/State.h"

#include <QPointer>

namespace lumora {

class MainWindow;
class QtUi;
class GoalScanWindow;
class ConcentrationView;
class AbsorptionView;
class FactorWindow;
class FittingModeWindow;

class AppWindows {
public:
    /// Loads the goal-function window hidden and hands the windows to the main window
    /// and the Ui.
    AppWindows(State& st, MainWindow& form, QtUi& ui);
    /// Takes them back (the windows go with the main window).
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    GoalScanWindow& Goal();
    ConcentrationView& Spec();
    AbsorptionView& Abs();
    FactorWindow& Ind();
    FittingModeWindow& Mode();

    /// Whether the absorption view exists and is shown; its list index; its closing.
    bool AbsorptionVisible() const;
    int AbsorptionIndex() const;
    void UnloadAbsorption();
    /// The goal-function window's parameter list follows a new data set.
    void RefreshGoalList();
    /// Shutdown: the goal-function window and the absorption view go first.
    void Unload();

private:
    State& st_;
    MainWindow& form_;
    QtUi& ui_;
    QPointer<GoalScanWindow> goal_;
    QPointer<ConcentrationView> spec_;
    QPointer<AbsorptionView> abs_;
    QPointer<FactorWindow> ind_;
    QPointer<FittingModeWindow> mode_;
};

} // namespace lumora
