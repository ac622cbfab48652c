#include "fit/NormalEquations.h"

#include "base/RuntimeError.h"
#include "linalg/Cholesky.h"

#include <cmath>

namespace lumora {

void NormalEquations::Build(const std::vector<double>& jac, const std::vector<double>& r, int n) {
    n_ = n;
    const size_t m = r.size();
    a_.assign(static_cast<size_t>(n) * n, 0.0);
    g_.assign(static_cast<size_t>(n), 0.0);
    for (int k = 0; k < n; ++k) {
        const double* ck = &jac[k * m];
        double g = 0.0;
        for (size_t i = 0; i < m; ++i) g += ck[i] * r[i];
        g_[k] = CheckFinite(g);
        for (int l = 0; l <= k; ++l) {
            const double* cl = &jac[l * m];
            double s = 0.0;
            for (size_t i = 0; i < m; ++i) s += ck[i] * cl[i];
            a_[k * n + l] = a_[l * n + k] = CheckFinite(s);
        }
    }
    moving_.clear();
    for (int k = 0; k < n; ++k)
        if (A(k, k) > 0.0) moving_.push_back(k);
}

bool NormalEquations::Solve(double mu, std::vector<double>& d) const {
    const int m = static_cast<int>(moving_.size());
    std::vector<double> s(m), l(static_cast<size_t>(m) * m), y(m);
    for (int p = 0; p < m; ++p) s[p] = std::sqrt(A(moving_[p], moving_[p]));
    for (int p = 0; p < m; ++p)
        for (int q = 0; q <= p; ++q)
            l[p * m + q] = A(moving_[p], moving_[q]) / (s[p] * s[q]) + (p == q ? mu : 0.0);
    if (!Cholesky(l.data(), m)) return false;
    for (int p = 0; p < m; ++p) y[p] = -g_[moving_[p]] / s[p];
    CholeskySolve(l.data(), m, y.data());
    d.assign(static_cast<size_t>(n_), 0.0);
    for (int p = 0; p < m; ++p) d[moving_[p]] = y[p] / s[p];
    return true;
}

double NormalEquations::Predicted(const std::vector<double>& d) const {
    double gain = 0.0;
    for (int k = 0; k < n_; ++k) {
        double ad = 0.0;
        for (int l = 0; l < n_; ++l) ad += A(k, l) * d[l];
        gain -= d[k] * (2.0 * g_[k] + ad);
    }
    return gain;
}

} // namespace lumora
