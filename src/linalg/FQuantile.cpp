#include "linalg/FQuantile.h"

#include "base/RuntimeError.h"

#include <cmath>

namespace lumora {

namespace {

/// The continued fraction of I_x(a, b) (Abramowitz and Stegun 26.5.8), evaluated by the
/// modified Lentz method; it converges fast for x < (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x) {
    constexpr double kTiny = 1e-300;
    const auto guard = [](double v) { return std::fabs(v) < kTiny ? kTiny : v; };
    double c = 1.0;
    double d = 1.0 / guard(1.0 - (a + b) * x / (a + 1.0));
    double h = d;
    for (int m = 1; m <= 500; ++m) {
        const double m2 = 2.0 * m;
        const double even = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
        d = 1.0 / guard(1.0 + even * d);
        c = guard(1.0 + even / c);
        h *= d * c;
        const double odd = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
        d = 1.0 / guard(1.0 + odd * d);
        c = guard(1.0 + odd / c);
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < 1e-15) break;
    }
    return h;
}

} // namespace

double IncompleteBeta(double a, double b, double x) {
    if (!(a > 0.0 && b > 0.0 && x >= 0.0 && x <= 1.0)) throw RuntimeError(kInvalidCall);
    if (x == 0.0 || x == 1.0) return x;
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                  a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaFraction(a, b, x) / a;
    return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

double FQuantile(double p, double d1, double d2) {
    if (!(p > 0.0 && p < 1.0 && d1 > 0.0 && d2 > 0.0)) throw RuntimeError(kInvalidCall);
    // P(F <= f) = I_x(d1/2, d2/2) with x = d1 f / (d1 f + d2), increasing in x: bisect
    // on x down to the resolution of a double.
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 200 && hi - lo > 1e-17; ++i) {
        const double mid = 0.5 * (lo + hi);
        (IncompleteBeta(0.5 * d1, 0.5 * d2, mid) < p ? lo : hi) = mid;
    }
    const double x = 0.5 * (lo + hi);
    return d2 * x / (d1 * (1.0 - x));
}

} // namespace lumora
