#include "linalg/Cholesky.h"

#include <cmath>

namespace lumora {

bool Cholesky(double* a, int n) {
    for (int j = 0; j < n; ++j) {
        double d = a[j * n + j];
        for (int k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
        if (!(d > 0.0)) return false;
        a[j * n + j] = std::sqrt(d);
        for (int i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (int k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / a[j * n + j];
        }
    }
    return true;
}

void CholeskySolve(const double* l, int n, double* b) {
    for (int p = 0; p < n; ++p) {
        double v = b[p];
        for (int q = 0; q < p; ++q) v -= l[p * n + q] * b[q];
        b[p] = v / l[p * n + p];
    }
    for (int p = n - 1; p >= 0; --p) {
        double v = b[p];
        for (int q = p + 1; q < n; ++q) v -= l[q * n + p] * b[q];
        b[p] = v / l[p * n + p];
    }
}

} // namespace lumora
