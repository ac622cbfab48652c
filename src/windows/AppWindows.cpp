#include "windows/AppWindows.h"

#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"
#include "windows/GoalScanWindow.h"
#include "windows/MainWindow.h"
#include "windows/QtUi.h"

namespace lumora {

AppWindows::AppWindows(State& st, MainWindow& form, QtUi& ui) : st_(st), form_(form), ui_(ui) {
    goal_ = new GoalScanWindow(st_, ui_, &form_);
    form_.goalWindow = goal_;
    // A double click in the scan writes Initial values: save them like a command's.
    goal_->afterPick = [this] {
        if (form_.afterCommand) form_.afterCommand();
    };
    form_.SetWindows(this);
    ui_.setWindows(this);
}

AppWindows::~AppWindows() {
    ui_.setWindows(nullptr);
    form_.SetWindows(nullptr);
    form_.goalWindow = nullptr;
}

GoalScanWindow& AppWindows::Goal() {
    return *goal_;
}

ConcentrationView& AppWindows::Spec() {
    if (!spec_) spec_ = new ConcentrationView(st_, ui_, &form_);
    return *spec_;
}

AbsorptionView& AppWindows::Abs() {
    if (!abs_) abs_ = new AbsorptionView(st_, ui_, &form_);
    return *abs_;
}

FactorWindow& AppWindows::Ind() {
    if (!ind_) ind_ = new FactorWindow(st_, &form_);
    return *ind_;
}

FittingModeWindow& AppWindows::Mode() {
    if (!mode_) mode_ = new FittingModeWindow(st_, ui_, &form_);
    return *mode_;
}

bool AppWindows::AbsorptionVisible() const {
    return abs_ && abs_->isVisible();
}

int AppWindows::AbsorptionIndex() const {
    return abs_ ? abs_->ListIndex() : 0;
}

void AppWindows::UnloadAbsorption() {
    if (abs_) abs_->Unload();
}

void AppWindows::RefreshGoalList() {
    if (goal_) goal_->FillParameterList();
}

void AppWindows::Unload() {
    if (goal_) goal_->hide();
    if (abs_) abs_->Unload();
}

} // namespace lumora
