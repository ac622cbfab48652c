#include "base/RuntimeError.h"

#include <cfloat>
#include <cmath>

namespace lumora {

double CheckFinite(double x) {
    if (!std::isfinite(x)) throw RuntimeError(kOverflow);
    return x;
}

double CheckedDiv(double a, double b) {
    if (b == 0.0) throw RuntimeError(kDivisionByZero);
    return CheckFinite(a / b);
}

double CheckedSqrt(double x) {
    if (x < 0.0 || std::isnan(x)) throw RuntimeError(kInvalidCall);
    return std::sqrt(x);
}

double CheckedExp(double x) {
    return CheckFinite(std::exp(x));
}

double CheckedLog(double x) {
    if (!(x > 0.0)) throw RuntimeError(kInvalidCall);
    return std::log(x);
}

int16_t CInt16(double x) {
    if (std::isnan(x)) throw RuntimeError(kOverflow);
    const double r = std::nearbyint(x); // default rounding mode: ties to even
    if (r < -32768.0 || r > 32767.0) throw RuntimeError(kOverflow);
    return static_cast<int16_t>(r);
}

float CSng(double x) {
    if (std::isnan(x) || std::fabs(x) > static_cast<double>(FLT_MAX)) throw RuntimeError(kOverflow);
    return static_cast<float>(x);
}

} // namespace lumora
