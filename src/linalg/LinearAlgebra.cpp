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

} // namespace

void SolveSystem(int16_t& status, int16_t n, Mat<double>& m) {
    if (status != 0 || n <= 0) return;
    CheckOrder(n, m);
    thread_local std::vector<double> scale;
    scale.assign(static_cast<size_t>(n) + 1, 0.0);

    for (int c = 1; c <= n; ++c) m.At(0, c) = c;
    for (int r = 1; r <= n; ++r) scale[r] = std::fabs(m.At(r, 0));

    for (int k = 1; k <= n; ++k) {
        // Pivot row: the equation whose right-hand side is smallest against its row.
        int p = k;
        double best = 1e99;
        for (int r = k; r <= n; ++r) {
            double s = 0.0;
            for (int c = k; c <= n; ++c) s += m.At(r, c) * m.At(r, c);
            CheckFinite(s);
            if (s == 0.0) {
                status = 1;
                return;
            }
            const double q = m.At(r, 0) * m.At(r, 0) / s;
            if (q < best) {
                best = q;
                p = r;
            }
            if (q == 0.0) break;
        }
        if (p > k) {
            SwapValues(m.At(k, 0), m.At(p, 0));
            SwapValues(scale[k], scale[p]);
            for (int c = k; c <= n; ++c) SwapValues(m.At(k, c), m.At(p, c));
        }

        // Pivot column: the unknown that dominates its column below the pivot row.
        int pc = k;
        double bestRatio = 0.0;
        for (int c = k; c <= n; ++c) {
            const double a = m.At(k, c);
            if (a == 0.0) continue;
            const double* col = &m.At(0, c);
            double s = 0.0;
            for (int r = k + 1; r <= n; ++r) s += col[r] * col[r];
            if (s == 0.0) {
                pc = c;
                break;
            }
            const double ratio = a * a / s;
            if (ratio > bestRatio) {
                bestRatio = ratio;
                pc = c;
            }
        }
        if (pc > k) {
            double* a = &m.At(0, k);
            double* b = &m.At(0, pc);
            for (int r = 0; r <= n; ++r) SwapValues(a[r], b[r]);
        }

        const double piv = m.At(k, k);
        m.At(k, 0) /= piv;
        scale[k] /= std::fabs(piv);
        for (int c = k + 1; c <= n; ++c) m.At(k, c) /= piv;

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

    // Back substitution; the diagonal takes the solution in pivot order.
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
    for (int k = 1; k <= n; ++k) m.At(static_cast<int>(std::lrint(m.At(0, k))), 0) = m.At(k, k);
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
    auto V = [&](int r, int c) -> double& { return v[static_cast<size_t>(c) * dim + r]; };

    bool allEqual = true;
    for (int i = 1; i <= n; ++i) {
        V(i, i) = 1.0;
        b[i] = d[i] = m.At(i, i);
        if (i > 1 && m.At(i, i) != m.At(i - 1, i - 1)) allEqual = false;
    }
    // Equal diagonals make every first rotation exactly 45 degrees; a nudge breaks the tie.
    if (allEqual) d[1] *= 1.00000000000001;

    auto rotate = [](double& first, double& second, double s, double tau) {
        const double g = first;
        const double h = second;
        first = g - s * (h + g * tau);
        second = h + s * (g - h * tau);
    };

    for (int sweep = 1; sweep <= 50; ++sweep) {
        double sm = 0.0;
        for (int q = 2; q <= n; ++q)
            for (int p = 1; p < q; ++p) sm += std::fabs(m.At(p, q));
        if (sm == 0.0) break;
        const double thresh = sweep < 4 ? sm / (5.0 * n * n) : 0.0;

        for (int p = 1; p < n; ++p) {
            for (int q = p + 1; q <= n; ++q) {
                const double apq = m.At(p, q);
                const double g = 100.0 * std::fabs(apq);
                if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) &&
                    std::fabs(d[q]) + g == std::fabs(d[q])) {
                    m.At(p, q) = 0.0;
                    continue;
                }
                if (!(std::fabs(apq) > thresh)) continue;
                double h = d[q] - d[p];
                double t;
                if (std::fabs(h) + g == std::fabs(h)) {
                    t = apq / h;
                } else {
                    const double theta = 0.5 * h / apq;
                    // sign(0) = +1: equal diagonals still rotate (by 45 degrees).
                    t = (theta < 0.0 ? -1.0 : 1.0) /
                        (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                }
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                const double tau = s / (1.0 + c);
                h = t * apq;
                z[p] -= h;
                z[q] += h;
                d[p] -= h;
                d[q] += h;
                m.At(p, q) = 0.0;
                for (int j = 1; j < p; ++j) rotate(m.At(j, p), m.At(j, q), s, tau);
                for (int j = p + 1; j < q; ++j) rotate(m.At(p, j), m.At(j, q), s, tau);
                for (int j = q + 1; j <= n; ++j) rotate(m.At(p, j), m.At(q, j), s, tau);
                for (int j = 1; j <= n; ++j) rotate(V(j, p), V(j, q), s, tau);
            }
        }
        for (int i = 1; i <= n; ++i) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0;
        }
    }

    for (int i = 1; i < n; ++i) {
        for (int j = i + 1; j <= n; ++j) {
            if (d[i] < d[j]) {
                SwapValues(d[i], d[j]);
                for (int r = 1; r <= n; ++r) SwapValues(V(r, i), V(r, j));
            }
        }
    }
    for (int j = 1; j <= n; ++j) {
        m.At(0, j) = d[j];
        for (int r = 1; r <= n; ++r) m.At(r, j) = V(r, j);
    }
}

} // namespace lumora
