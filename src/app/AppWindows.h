#pragma once
// The result windows of the desktop program. They are owned by the main window,
// started from its commands, and reached by the commands below the windows (the
// reader, the optimizer) through the Ui's view hooks.

#include "State.h"

#include <QPointer>

namespace lumora {

class Form1;
class QtUi;
class frmGoal;
class frmSpec;
class frmAbs;
class frmInd;
class frmMode;

class AppWindows {
public:
    /// Loads the goal-function window hidden and installs the commands and hooks.
    AppWindows(State& st, Form1& form, QtUi& ui);
    /// Removes the commands and hooks again (the windows go with the main window).
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    frmGoal& Goal();
    /// The other windows are created on first use.
    frmSpec& Spec();
    frmAbs& Abs();
    frmInd& Ind();
    frmMode& Mode();
    /// Whether the absorption view exists and is shown.
    bool AbsorptionVisible() const;

private:
    /// Shutdown: the goal-function window and the absorption view go first.
    void Unload();

    State& st_;
    Form1& form_;
    QtUi& ui_;
    QPointer<frmGoal> goal_;
    QPointer<frmSpec> spec_;
    QPointer<frmAbs> abs_;
    QPointer<frmInd> ind_;
    QPointer<frmMode> mode_;
};

} // namespace lumora
