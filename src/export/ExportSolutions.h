#pragma once
// F2: the speciation of every solution at the current Gibbs energies, written as the
// tab-separated table "Solutions.txt" in the working folder (one row per aqueous
// species, one column per solution; full composition less the marked rows only).

#include "model/State.h"

namespace lumora {

/// Writes WorkDir + "Solutions.txt" for the data set as read and reports through
/// message boxes (the caller re-reads an edited sheet first). An interrupt ends it silently, an
/// engine failure shows the solver's last message (ErrCode -1); neither writes a file. The shared
/// Conc is left as the goal function left it.
void ExportSolutions(State& st);

} // namespace lumora
