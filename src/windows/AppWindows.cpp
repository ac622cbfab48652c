#include "windows/AppWindows.h"

#include "windows/Commands.h"
#include "windows/MainWindow.h"
#include "windows/QtUi.h"

#include "export/ExportSolutions.h"
#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"
#include "windows/GoalScanWindow.h"

namespace lumora {

AppWindows::AppWindows(State& st, MainWindow& form, QtUi& ui) : st_(st), form_(form), ui_(ui) {
    goal_ = new GoalScanWindow(st_, &form_);
    form_.goalWindow = goal_;
    // A double click in the scan writes Initial values: save them like a command's.
    goal_->afterPick = [this] {
        if (form_.afterCommand) form_.afterCommand();
    };
    form_.unloadWindows = [this] { Unload(); };

    Commands& cmd = AppCommands();
    cmd.goalScan = [this](State&, int k) { Goal().ScanGoal(static_cast<int16_t>(k)); };
    cmd.speciesView = [this](State&, int mode) {
        Spec().ShowSpeciesView(static_cast<int16_t>(mode));
    };
    cmd.absorptionView = [this](State&) { Abs().ShowAbsorptionView(); };
    cmd.factorAnalysis = [this](State& s, int mode) {
        FactorAnalysis(s, static_cast<int16_t>(mode), &Ind());
    };
    cmd.exportSolutions = [](State& s) { ExportSolutions(s); };
    cmd.fittingMode = [this](State& s) { OpenFittingMode(s, Mode()); };

    ui_.views.refreshGoalList = [this] {
        if (goal_) goal_->FillParameterList();
    };
    ui_.views.absorptionVisible = [this] { return AbsorptionVisible(); };
    ui_.views.unloadAbsorption = [this] {
        if (abs_) abs_->Unload();
    };
    ui_.views.absorptionIndex = [this] { return abs_ ? abs_->ListIndex() : 0; };
    ui_.views.showAbsorption = [this] { Abs().ShowAbsorptionView(); };
}

AppWindows::~AppWindows() {
    AppCommands() = Commands{};
    ui_.views = QtUi::Views{};
    form_.goalWindow = nullptr;
    form_.unloadWindows = nullptr;
}

GoalScanWindow& AppWindows::Goal() {
    return *goal_;
}

ConcentrationView& AppWindows::Spec() {
    if (!spec_) spec_ = new ConcentrationView(st_, &form_);
    return *spec_;
}

AbsorptionView& AppWindows::Abs() {
    if (!abs_) abs_ = new AbsorptionView(st_, &form_);
    return *abs_;
}

FactorWindow& AppWindows::Ind() {
    if (!ind_) ind_ = new FactorWindow(st_, &form_);
    return *ind_;
}

FittingModeWindow& AppWindows::Mode() {
    if (!mode_) mode_ = new FittingModeWindow(st_, &form_);
    return *mode_;
}

bool AppWindows::AbsorptionVisible() const {
    return abs_ && abs_->isVisible();
}

void AppWindows::Unload() {
    if (goal_) goal_->hide();
    if (abs_) abs_->Unload();
}

} // namespace lumora
