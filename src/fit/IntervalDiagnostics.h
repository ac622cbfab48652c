#pragma once
// What the curvature of the error at the optimum tells beside the intervals: the
// correlation of the refined energies, and which of them the data cannot tell apart.

#include "model/State.h"

#include <string>
#include <vector>

namespace lumora {

/// "A", "A and B", "A, B and C".
std::string NameList(const std::vector<std::string>& names);

/// The free species in order (numbers 1..nSp).
std::vector<int> FreeSpecies(const State& st);

/// J'J of the goal function's residuals (their squares sum to the goal value) in the
/// Gibbs energies of `free`, at G0, into a(1..n, 1..n): a probe evaluation there and one
/// more per species. G0 stays at the point; the model state is that of the last probe.
/// Needs HasResiduals. False when the goal function failed or Esc was pressed.
bool GaussNewtonMatrix(State& st, const std::vector<int>& free, Mat<double>& a);

/// GCorr from the curvature a of the free species (erased when a is singular).
void SetCorrelation(State& st, const Mat<double>& a, int n);

/// Which combination of the free species the data determine worst, from the eigenvector
/// of the smallest eigenvalue of their curvature a: the species with a component above
/// 0.3 in magnitude, "CoCl+ and CoCl2(aq) cannot be told apart by these data", or for
/// one species "CoCl+ is not determined by these data".
std::string UndeterminedReason(const State& st, const std::vector<int>& free, const Mat<double>& a);

} // namespace lumora
