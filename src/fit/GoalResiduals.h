#pragma once
// The residual vector behind the goal value, for methods that fit residuals rather
// than their sum of squares.

#include "model/State.h"

#include <vector>

namespace lumora {

/// Whether the goal function shows its residuals: not in the factor mode, which fits a
/// reconstruction of the data that it keeps to itself, nor with a stand-in goal function
/// of a test that gives none.
bool HasResiduals(const State& st);

/// The residuals of the last goal evaluation: calculated minus measured (AbsM) absorbance
/// of every valid measurement, solution after solution, each scaled by ResidualScales,
/// so that their squares add up to the goal value; not for the factor mode, where the
/// goal function fits a reconstruction of the data that it keeps to itself. Run-time
/// errors (no degrees of freedom) reach the caller.
void GoalResiduals(const State& st, std::vector<double>& r);

/// The factor of each solution's residuals, index 1..nSol: sqrt(weight / (valid values
/// of the solution x degrees of freedom)); 0 for a solution without valid values.
std::vector<double> ResidualScales(const State& st);

/// The number of valid measured absorbances (AbsM) over every solution and wavelength.
int ValidAbsorbances(const State& st);

/// The plain root-mean-square of calculated minus measured absorbances over every valid
/// measurement (unweighted, without degrees of freedom): what other programs call the
/// RMS of a fit. Run-time errors (no valid value) reach the caller.
double PlainRms(const State& st);

/// The calculated absorbance of solution j at wavelength w, from Eps and Conc in double
/// precision as the goal function sums it; in the Gaussian mode AbsC (single precision),
/// since a probe leaves Eps at the bands it restored.
double CalculatedAbsorbance(const State& st, int j, int w);

} // namespace lumora
