#pragma once
// The commands the main window and batch mode start. Subsystems that own a command
// install it here; an empty entry is a command that is not built yet.

#include "model/State.h"

#include <functional>

namespace lumora {

struct Commands {
    /// Goal-function scan window with its argument (-1 from the main window).
    std::function<void(State&, int)> goalScan;
    /// Species view: 1 concentrations, 2 extinction coefficients.
    std::function<void(State&, int)> speciesView;
    /// Measured and calculated spectra.
    std::function<void(State&)> absorptionView;
    /// Factor analysis with its argument (0 from F1).
    std::function<void(State&, int)> factorAnalysis;
    /// "Solutions.txt" export.
    std::function<void(State&)> exportSolutions;
    /// Fitting-mode window (F12).
    std::function<void(State&)> fittingMode;
};

/// The process-wide command table.
Commands& AppCommands();

} // namespace lumora
