#pragma once
// The fit layer's own switches in the data set's options, which the engine never sees.

#include "fit/Optimize.h"
#include "model/IntervalMethod.h"

#include <optional>
#include <string>

namespace lumora {

struct FitSwitches {
    /// "/method=lm" or "/method=descent"
    FitMethod method = FitMethod::Descent;
    /// "/intervals=hessian" or "/intervals=profile"
    IntervalMethod intervals = IntervalMethod::Hessian;
};

/// The interval method a "/intervals=" switch or an "--intervals" argument names
/// ("hessian" or "profile", any letter case); nothing for another name.
std::optional<IntervalMethod> IntervalMethodNamed(const std::string& name);

/// Takes every "/method=NAME" and "/intervals=NAME" switch (any letter case; the name ends
/// at the next blank or slash) out of the options text, which is then trimmed; the last
/// one of each counts. False when a name is not one the switch knows: `error` then names
/// it and the options keep the switch.
bool TakeFitSwitches(std::string& options, FitSwitches& switches, std::string& error);

} // namespace lumora
