#pragma once
// The fit layer's own switches in the data set's options, which the engine never sees.

#include "fit/Optimize.h"

#include <string>

namespace lumora {

struct FitSwitches {
    /// "/method=lm" or "/method=descent"
    FitMethod method = FitMethod::Descent;
};

/// Takes every "/method=NAME" switch (any letter case; the name ends at the next blank
/// or slash) out of the options text, which is then trimmed; the last one counts. False
/// when a name is none of "lm" and "descent": `error` then names it and the options
/// keep the switch.
bool TakeFitSwitches(std::string& options, FitSwitches& switches, std::string& error);

} // namespace lumora
