#pragma once
// F2: the speciation of every solution at the current Gibbs energies, written as the
// tab-separated table "Solutions.txt" in the working folder (one row per aqueous
// species, one column per solution; full composition less the marked rows only).

#include "model/State.h"

namespace lumora {

/// Writes WorkDir + "Solutions.txt" and reports through message boxes. Does nothing
/// while button 3 ("Optimize") is disabled. An interrupt ends it silently, an engine
/// failure shows the solver's last message (ErrCode -1); neither writes a file. The
/// shared Conc is left as the goal function left it.
void ExportSolutions(State& st);

} // namespace lumora
