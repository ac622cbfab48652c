#pragma once
// First Gaussian bands of every refined species, peeled off its reference
// extinction-coefficient curve (RefEps, the normal-mode curve) peak by peak.

#include "model/State.h"

namespace lumora {

/// Most bands one species may have: the sheet's band table holds no more.
inline constexpr int kMaxBandsPerSpecies = 8;

/// A threshold as the "Threshold:" box holds it: rounded to a whole number (ties to
/// even) and kept within 1..100.
int ClampThreshold(double value);

/// Fits a band to the highest remaining peak of each species' RefEps on a log scale,
/// subtracts it and repeats while the remaining maximum is above threshold percent
/// (1..100) of the species' maximum. On success GaussTab holds the new bands, the
/// sheet table is rewritten, FitMode = 1 and Eps holds the band sums (FitMode back
/// to 0 when they cannot be evaluated). A species without a positive coefficient, a
/// peak without neighbours or with a flat top, or more than kMaxBandsPerSpecies bands
/// (the message then names the species) show "Could not build Gaussians" and give
/// ErrCode = -1 and FitMode = 0 with the band table, Eps and the sheet as they were (a
/// sheet that fails while the table is written keeps what was written before the failure).
void BuildGaussians(State& st, int threshold);

} // namespace lumora
