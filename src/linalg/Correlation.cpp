#include "linalg/Correlation.h"

#include "linalg/LinearAlgebra.h"

#include <cmath>
#include <limits>

namespace lumora {

namespace {

/// Eigenvalues below this share of the largest count as zero: the combination is not
/// determined in double precision.
constexpr double kRankTolerance = 1e3 * std::numeric_limits<double>::epsilon();

} // namespace

bool InverseCorrelation(const Mat<double>& a, int n, Mat<double>& c) {
    // Scaled to a unit diagonal first: the correlation does not depend on the scale, and
    // the eigenvalues then tell how near the parameters come to being interchangeable.
    std::vector<double> s(static_cast<size_t>(n) + 1, 0.0);
    for (int k = 1; k <= n; ++k) {
        if (!(a(k, k) > 0.0)) return false;
        s[k] = 1.0 / std::sqrt(a(k, k));
    }
    Mat<double> e(n, n);
    for (int k = 1; k <= n; ++k)
        for (int l = 1; l <= n; ++l) e(k, l) = a(k, l) * s[k] * s[l];
    SymmetricEigen(static_cast<int16_t>(n), e);
    if (!(e(0, n) > kRankTolerance * e(0, 1))) return false;
    // The inverse from the eigen decomposition, then its own diagonal scaled away.
    Mat<double> inv(n, n);
    for (int k = 1; k <= n; ++k)
        for (int l = 1; l <= n; ++l)
            for (int j = 1; j <= n; ++j) inv(k, l) += e(k, j) * e(l, j) / e(0, j);
    c.Redim(n, n);
    for (int k = 1; k <= n; ++k)
        for (int l = 1; l <= n; ++l) c(k, l) = inv(k, l) / std::sqrt(inv(k, k) * inv(l, l));
    return true;
}

std::vector<double> SmallestEigenvector(const Mat<double>& a, int n) {
    Mat<double> e(n, n);
    for (int k = 1; k <= n; ++k)
        for (int l = 1; l <= n; ++l) e(k, l) = a(k, l);
    SymmetricEigen(static_cast<int16_t>(n), e);
    std::vector<double> v(static_cast<size_t>(n));
    for (int k = 1; k <= n; ++k) v[k - 1] = e(k, n);
    return v;
}

} // namespace lumora
