#pragma once
// Principal-factor analysis of the absorbance matrix: how many absorbing components
// the spectra hold, judged by the reverse of the indicator function and the real
// error of E. R. Malinowski (Anal. Chem. 49 (1977) 612; Factor Analysis in
// Chemistry, 3rd ed., Wiley 2002, ch. 4).

#include "base/Bounded.h"

#include <cstdint>
#include <vector>

namespace lumora {

/// Outcome of one factor analysis.
struct FactorResult {
    /// Number of solutions analysed (order of the covariance matrix)
    int16_t n = 0;
    /// Mean of the valid absorbances of each solution, index 1..n (0 when it has none)
    std::vector<double> mean;
    /// Eigenvalues of the weighted covariance matrix in descending order, index 1..n
    std::vector<double> eigenvalues;
    /// Factor columns that count: n less the eigenvalues that are zero
    int16_t c = 0;
    /// Reverse indicator value of f = 0..c-1 factors, index f (larger is better)
    std::vector<double> indicator;
    /// Real error of f = 0..c-1 factors, index f: the estimated RMS error of one
    /// absorbance when the data are described by f factors (absorbance units)
    std::vector<double> realError;
    /// Number of factors at which the reverse indicator peaks
    int16_t nf = 0;
    /// False when fewer than two factor columns count, so there is nothing to choose
    bool analyzable = false;
};

/// Means of the solutions and the weighted covariance between them, the products of
/// centred absorbances summed over the wavelengths where both are valid (below 1e33),
/// weighted by sqrt(weight(i) * weight(j)) and scaled to nWl wavelengths. cov is
/// redimensioned to (0..nSol, 0..nSol) with row and column 0 zero; mean to 0..nSol.
/// Two solutions without a common valid wavelength (or a zero weight) covary by 0.
/// Raises "Invalid procedure call or argument" for a negative weight product.
void WeightedCovariance(int nSol, int nWl, const Mat<double>& absM, const Vec<float>& solWeight,
                        Vec<double>& mean, Mat<double>& cov);

/// The whole analysis of AbsM(1..nSol, 1..nWl) with SolWeight(1..nSol). Eigenvalues
/// at the level of rounding (1e-12 of their magnitude sum) count as zero.
/// Raises RuntimeError as WeightedCovariance does.
FactorResult AnalyzeFactors(int nSol, int nWl, const Mat<double>& absM,
                            const Vec<float>& solWeight);

} // namespace lumora
