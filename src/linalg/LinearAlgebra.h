#pragma once
// Small dense solvers that work in place on one bordered matrix (indices 0..n in
// both directions): row 0 and column 0 carry the right-hand side, the column
// labels or the eigenvalues, so one array holds the system, the bookkeeping and
// the result.

#include "base/Bounded.h"

#include <cstdint>

namespace lumora {

/// Solves M(1..n, 1..n) x = M(1..n, 0) by Gaussian elimination with full pivoting
/// (pivot row: smallest rhs^2 / row norm^2; pivot column: largest a^2 / column
/// norm^2) and a relative cancellation threshold of 1e-8. On return unknown c is
/// in M(c, 0); everything else in M is destroyed.
/// status is the program's status code: the routine returns at once when it is
/// non-zero, sets it to 1 when a remaining row is all zero (M is then partly
/// reduced and useless), and never clears it.
/// Raises "Overflow" when the arithmetic overflows, "Subscript out of range"
/// when M is smaller than n.
void SolveSystem(int16_t& status, int16_t n, Mat<double>& m);

/// Eigenvalues and unit eigenvectors of the symmetric M(1..n, 1..n) (diagonal and
/// upper triangle read) by cyclic Jacobi rotations: M(0, j) eigenvalue j in
/// descending order, M(1..n, j) its eigenvector; column 0 is left alone. Stops
/// after 50 sweeps without complaint.
void SymmetricEigen(int16_t n, Mat<double>& m);

/// Exchanges a and b.
inline void SwapValues(double& a, double& b) {
    const double t = a;
    a = b;
    b = t;
}

} // namespace lumora
