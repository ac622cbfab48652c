#include "linalg/LinearAlgebra.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumora {

namespace {

constexpr double kCancel = 1e-8;

void CheckOrder(int n, const Mat<double>& m) {
    if (n > 0 && (m.UBound1() < n || m.UBound2() < n)) throw RuntimeError(kSubscriptOutOfRange);
}

// ---- Gaussian elimination --------------------------------------------------------------
// scale[r] is the largest magnitude the right-hand side of row r has had, the yardstick of
// the cancellation test in the back substitution.

/// The equation among rows k..n whose right-hand side is smallest against its row; 0 when
/// one of them is all zero.
inline int PivotRow(const Mat<double>& m, int k, int n) {
    int p = k;
    double best = 1e99;
    for (int r = k; r <= n; ++r) {
        double s = 0.0;
        for (int c = k; c <= n; ++c) s += m.At(r, c) * m.At(r, c);
        CheckFinite(s);
        if (s == 0.0) return 0;
        const double q = m.At(r, 0) * m.At(r, 0) / s;
        if (q < best) {
            best = q;
            p = r;
        }
        if (q == 0.0) break;
    }
    return p;
}

inline void SwapRows(Mat<double>& m, double* scale, int k, int p, int n) {
    SwapValues(m.At(k, 0), m.At(p, 0));
    SwapValues(scale[k], scale[p]);
    for (int c = k; c <= n; ++c) SwapValues(m.At(k, c), m.At(p, c));
}

/// The unknown that dominates its column below the pivot row k.
inline int PivotColumn(const Mat<double>& m, int k, int n) {
    int pc = k;
    double bestRatio = 0.0;
    for (int c = k; c <= n; ++c) {
        const double a = m.At(k, c);
        if (a == 0.0) continue;
        const double* col = &m.At(0, c);
        double s = 0.0;
        for (int r = k + 1; r <= n; ++r) s += col[r] * col[r];
        if (s == 0.0) return c;
        const double ratio = a * a / s;
        if (ratio > bestRatio) {
            bestRatio = ratio;
            pc = c;
        }
    }
    return pc;
}

/// Swaps whole columns, row 0 included: the labels follow their unknowns.
inline void SwapColumns(Mat<double>& m, int k, int pc, int n) {
    double* a = &m.At(0, k);
    double* b = &m.At(0, pc);
    for (int r = 0; r <= n; ++r) SwapValues(a[r], b[r]);
}

inline void DivideByPivot(Mat<double>& m, double* scale, int k, int n) {
    const double piv = m.At(k, k);
    m.At(k, 0) /= piv;
    scale[k] /= std::fabs(piv);
    for (int c = k + 1; c <= n; ++c) m.At(k, c) /= piv;
}

/// Takes the pivot row k out of the rows below it; differences that are only rounding of
/// the subtracted term become exact zeros.
inline void EliminateBelow(Mat<double>& m, double* scale, int k, int n) {
    for (int r = k + 1; r <= n; ++r) {
        const double f = m.At(r, k);
        if (f == 0.0) continue;
        for (int c = k + 1; c <= n; ++c) {
            const double t = f * m.At(k, c);
            const double d = m.At(r, c) - t;
            m.At(r, c) = kCancel * std::fabs(t) > std::fabs(d) ? 0.0 : d;
        }
        m.At(r, 0) -= f * m.At(k, 0);
        scale[r] = std::max(scale[r], std::fabs(m.At(r, 0)));
    }
}

/// The diagonal takes the solution in pivot order.
inline void BackSubstitute(Mat<double>& m, const double* scale, int n) {
    for (int k = n; k >= 1; --k) {
        double s = 0.0;
        double big = 0.0;
        for (int c = k + 1; c <= n; ++c) {
            s += m.At(k, c) * m.At(c, c);
            big = std::max(big, std::fabs(s));
        }
        if (kCancel * big > std::fabs(s)) s = 0.0;
        double d = m.At(k, 0) - s;
        if (kCancel * scale[k] > std::fabs(d)) d = 0.0;
        m.At(k, k) = CheckFinite(d);
    }
}

/// Moves the solution into column 0 in the order of the unknowns (their labels in row 0).
inline void UnscrambleSolution(Mat<double>& m, int n) {
    for (int k = 1; k <= n; ++k) m.At(static_cast<int>(std::lrint(m.At(0, k))), 0) = m.At(k, k);
}

// ---- Jacobi rotations ------------------------------------------------------------------

/// Work of the Jacobi method: the eigenvectors V (by columns), the eigenvalue estimates d,
/// their values at the start of the sweep b and the sweep's accumulated changes z.
struct Jacobi {
    int n;
    size_t dim;
    double* v;
    double* b;
    double* d;
    double* z;
    double& V(int r, int c) const { return v[static_cast<size_t>(c) * dim + r]; }
};

inline void StartJacobi(const Mat<double>& m, const Jacobi& j) {
    bool allEqual = true;
    for (int i = 1; i <= j.n; ++i) {
        j.V(i, i) = 1.0;
        j.b[i] = j.d[i] = m.At(i, i);
        if (i > 1 && m.At(i, i) != m.At(i - 1, i - 1)) allEqual = false;
    }
    // Equal diagonals make every first rotation exactly 45 degrees; a nudge breaks the tie.
    if (allEqual) j.d[1] *= 1.00000000000001;
}

inline double OffDiagonalSum(const Mat<double>& m, int n) {
    double sm = 0.0;
    for (int q = 2; q <= n; ++q)
        for (int p = 1; p < q; ++p) sm += std::fabs(m.At(p, q));
    return sm;
}

/// True when g does not change |x| in floating point.
inline bool Negligible(double g, double x) {
    return std::fabs(x) + g == std::fabs(x);
}

/// tan of the angle that zeroes apq, for h = d[q] - d[p] and g = 100 |apq|.
inline double RotationTangent(double h, double g, double apq) {
    if (Negligible(g, h)) return apq / h;
    const double theta = 0.5 * h / apq;
    // sign(0) = +1: equal diagonals still rotate (by 45 degrees).
    return (theta < 0.0 ? -1.0 : 1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
}

inline void Rotate(double& first, double& second, double s, double tau) {
    const double g = first;
    const double h = second;
    first = g - s * (h + g * tau);
    second = h + s * (g - h * tau);
}

/// Rotates rows and columns p and q (upper triangle only) and the eigenvectors by the
/// angle of tangent t, which zeroes apq = M(p, q).
inline void ApplyRotation(Mat<double>& m, const Jacobi& j, int p, int q, double t, double apq) {
    const double c = 1.0 / std::sqrt(t * t + 1.0);
    const double s = t * c;
    const double tau = s / (1.0 + c);
    const double h = t * apq;
    j.z[p] -= h;
    j.z[q] += h;
    j.d[p] -= h;
    j.d[q] += h;
    m.At(p, q) = 0.0;
    for (int i = 1; i < p; ++i) Rotate(m.At(i, p), m.At(i, q), s, tau);
    for (int i = p + 1; i < q; ++i) Rotate(m.At(p, i), m.At(i, q), s, tau);
    for (int i = q + 1; i <= j.n; ++i) Rotate(m.At(p, i), m.At(q, i), s, tau);
    for (int i = 1; i <= j.n; ++i) Rotate(j.V(i, p), j.V(i, q), s, tau);
}

/// One pass over the upper triangle. From the fifth sweep on, elements too small to change
/// either diagonal are set to zero without a rotation; in the first three, elements below
/// thresh are left for later.
inline void Sweep(Mat<double>& m, const Jacobi& j, int sweep, double thresh) {
    for (int p = 1; p < j.n; ++p) {
        for (int q = p + 1; q <= j.n; ++q) {
            const double apq = m.At(p, q);
            const double g = 100.0 * std::fabs(apq);
            if (sweep > 4 && Negligible(g, j.d[p]) && Negligible(g, j.d[q])) {
                m.At(p, q) = 0.0;
                continue;
            }
            if (!(std::fabs(apq) > thresh)) continue;
            ApplyRotation(m, j, p, q, RotationTangent(j.d[q] - j.d[p], g, apq), apq);
        }
    }
}

/// Folds the sweep's changes into the eigenvalues (summed apart to limit rounding).
inline void EndSweep(const Jacobi& j) {
    for (int i = 1; i <= j.n; ++i) {
        j.b[i] += j.z[i];
        j.d[i] = j.b[i];
        j.z[i] = 0.0;
    }
}

inline void SortDescending(const Jacobi& j) {
    for (int i = 1; i < j.n; ++i) {
        for (int k = i + 1; k <= j.n; ++k) {
            if (j.d[i] < j.d[k]) {
                SwapValues(j.d[i], j.d[k]);
                for (int r = 1; r <= j.n; ++r) SwapValues(j.V(r, i), j.V(r, k));
            }
        }
    }
}

inline void WriteEigenpairs(Mat<double>& m, const Jacobi& j) {
    for (int c = 1; c <= j.n; ++c) {
        m.At(0, c) = j.d[c];
        for (int r = 1; r <= j.n; ++r) m.At(r, c) = j.V(r, c);
    }
}

} // namespace

void SolveSystem(int16_t& status, int16_t n, Mat<double>& m) {
    if (status != 0 || n <= 0) return;
    CheckOrder(n, m);
    thread_local std::vector<double> scaleStore;
    scaleStore.assign(static_cast<size_t>(n) + 1, 0.0);
    double* scale = scaleStore.data();

    for (int c = 1; c <= n; ++c) m.At(0, c) = c;
    for (int r = 1; r <= n; ++r) scale[r] = std::fabs(m.At(r, 0));

    for (int k = 1; k <= n; ++k) {
        const int p = PivotRow(m, k, n);
        if (p == 0) {
            status = 1;
            return;
        }
        if (p > k) SwapRows(m, scale, k, p, n);
        const int pc = PivotColumn(m, k, n);
        if (pc > k) SwapColumns(m, k, pc, n);
        DivideByPivot(m, scale, k, n);
        EliminateBelow(m, scale, k, n);
    }
    BackSubstitute(m, scale, n);
    UnscrambleSolution(m, n);
}

void SymmetricEigen(int16_t n, Mat<double>& m) {
    if (n <= 0) return;
    CheckOrder(n, m);
    const size_t dim = static_cast<size_t>(n) + 1;
    thread_local std::vector<double> v, b, d, z;
    v.assign(dim * dim, 0.0);
    b.assign(dim, 0.0);
    d.assign(dim, 0.0);
    z.assign(dim, 0.0);
    const Jacobi j{n, dim, v.data(), b.data(), d.data(), z.data()};

    StartJacobi(m, j);
    for (int sweep = 1; sweep <= 50; ++sweep) {
        const double sm = OffDiagonalSum(m, n);
        if (sm == 0.0) break;
        const double thresh = sweep < 4 ? sm / (5.0 * n * n) : 0.0;
        Sweep(m, j, sweep, thresh);
        EndSweep(j);
    }
    SortDescending(j);
    WriteEigenpairs(m, j);
}

} // namespace lumora
