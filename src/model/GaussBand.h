#pragma once
// One Gaussian band of the band table and the scaled abscissa bands live on.
//
// Band table GaussTab (0..3, 0..nG): (0, 0) the band count nG; for band g,
// (0, g) its species (stored as a double, read back rounded), (1, g) centre c,
// (2, g) full width at half maximum h, (3, g) natural log of the height L.
// Centre and width are in scaled abscissa units. The bands of one species are
// contiguous and the species blocks follow in increasing species order.

#include "model/State.h"

#include <cstdint>

namespace lumora {

/// 4 ln 2: makes h the full width at half maximum.
inline constexpr double kGaussShape = 2.7725887222396;
/// ln 2 as the band derivatives use it.
inline constexpr double kLn2 = 0.6931471805599;

/// Number of bands in GaussTab (0 when the table is undimensioned); a negative
/// count raises "Subscript out of range".
int BandCount(const State& st);
/// Species (1..nSp) of band g.
int BandSpecies(const State& st, int g);

/// exp(L - 4 ln 2 ((c - x) / h)^2) for band g. Raises "Division by zero" for a
/// zero width and "Overflow" when the exponential overflows.
double GaussBand(const State& st, int16_t g, double x);

/// Scaled abscissa of wavelength lambda: MeanWl / lambda when GaussArg (bands in
/// wavenumber), lambda / MeanWl otherwise. Both put x near 1 mid-spectrum.
double GaussAbscissa(const State& st, double lambda);

/// Abscissa range [lo, hi] of the spectrum (WlMin..WlMax) in the current kind.
void GaussAbscissaRange(const State& st, double& lo, double& hi);

} // namespace lumora
