#include "linalg/InvertSymmetric.h"

namespace lumora {

void InvertSymmetric(int16_t& n, Mat<double>& A) {
    const int m = n;
    Vec<double> w(m);
    for (int cycle = 1; cycle <= m; ++cycle) {
        double p = A(1, 1);
        if (p == 0.0) {
            n = 0;
            return;
        }
        p = -1.0 / p;
        for (int i = 1; i <= m - 1; ++i) w(i) = A(1, i + 1);
        for (int i = 1; i <= m - 1; ++i) {
            const double q = p * w(i);
            A(i, m) = q;
            for (int j = i; j <= m - 1; ++j) A(i, j) = A(i + 1, j + 1) + q * w(j);
        }
        A(m, m) = p;
    }
    for (int i = 1; i <= m; ++i) {
        for (int j = i; j <= m; ++j) {
            A(i, j) = -A(i, j);
            if (j > i) A(j, i) = A(i, j);
        }
    }
}

} // namespace lumora
