#pragma once
// Extinction coefficients from the Gaussian band table.

#include "model/State.h"

#include <vector>

namespace lumora {

/// The contiguous band block of each species 1..nSp, found by a forward-only
/// search (a block placed before the previous species' block is not seen).
/// first[k] = last[k] = 0 for a species without a block; returns whether every
/// species has one. Raises run-time errors for a malformed table.
bool FindGaussBlocks(const State& st, std::vector<int>& first, std::vector<int>& last);

/// Eps(k, w) = sum of the bands of species k at the abscissa of wavelength w.
/// ErrCode 0 on success; with no bands Eps is left as it is. A table that leaves
/// a refined species without bands, or a run-time error (zero width, overflow),
/// shows "Error while evaluating Gaussians. Check them" and sets ErrCode = -1.
void EvaluateGaussians(State& st);

} // namespace lumora
