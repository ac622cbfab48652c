#pragma once
// The Cholesky factor of a small dense symmetric matrix, in place.

namespace lumora {

/// Lower triangle of a (order n, row stride n) replaced by its Cholesky factor; the
/// upper triangle is not touched. False when a is not positive definite in working
/// precision (a is then partly overwritten).
bool Cholesky(double* a, int n);

/// Solves L L' x = b with the factor Cholesky left in l; b is replaced by x.
void CholeskySolve(const double* l, int n, double* b);

} // namespace lumora
