#pragma once
// What the curvature matrix of a least-squares fit says about its parameters.

#include "base/Bounded.h"

#include <vector>

namespace lumora {

/// The correlation matrix of the inverse of the symmetric A(1..n, 1..n) (the covariance
/// up to a factor) into c(1..n, 1..n). False, c untouched, when A is not positive definite
/// to working precision once scaled to a unit diagonal.
bool InverseCorrelation(const Mat<double>& a, int n, Mat<double>& c);

/// The unit eigenvector (index 0..n-1) of the smallest eigenvalue of the symmetric
/// A(1..n, 1..n): the combination of parameters that the data determine worst.
std::vector<double> SmallestEigenvector(const Mat<double>& a, int n);

} // namespace lumora
