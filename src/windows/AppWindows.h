#pragma once
// The result windows of the desktop program. They are owned by the main window,
// started from its commands, and reached by the commands below the windows (the
// reader, the optimizer) through the Ui's view hooks.

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
    /// Loads the goal-function window hidden and installs the commands and hooks.
    AppWindows(State& st, MainWindow& form, QtUi& ui);
    /// Removes the commands and hooks again (the windows go with the main window).
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    GoalScanWindow& Goal();
    /// The other windows are created on first use.
    ConcentrationView& Spec();
    AbsorptionView& Abs();
    FactorWindow& Ind();
    FittingModeWindow& Mode();
    /// Whether the absorption view exists and is shown.
    bool AbsorptionVisible() const;

private:
    /// Shutdown: the goal-function window and the absorption view go first.
    void Unload();

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
