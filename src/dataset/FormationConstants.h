#pragma once
// log K of formation of the data set's species from the system's basis, the numbers
// that titration work quotes, from the Gibbs energies the report holds.

#include "dataset/FitReport.h"
#include "model/State.h"

namespace lumora {

/// Sets logK and logK_pm of every reported species whose formation from the basis of
/// the system is defined (engine/FormationReaction.h), at the data set's T and P:
///   log K = -(G(species) - sum of nu x G(basis species)) / (RT ln 10),
/// with the report's energies for the listed species and the engine's for the others.
/// The half-width propagates the " ±" half-widths of the refined energies in the
/// reaction, with their correlations when the report has them (else as independent);
/// energies that are not refined count as exact.
void AddFormationConstants(State& st, FitReport& report);

} // namespace lumora
