#include "fit/ProfileBound.h"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

/// Largest growth of the offset from one point to the next before the crossing is
/// bracketed: a profile that is flat near the optimum may rise steeply further out.
constexpr double kMostGrowth = 4.0;
/// Secant points are kept this share of the bracket away from its ends.
constexpr double kSafeguard = 0.05;

} // namespace

ProfileBound FindProfileBound(const std::function<bool(double, double&)>& z,
                              const ProfileBoundOptions& o) {
    double lo = 0.0, zlo = 0.0;
    double hi = -1.0, zhi = 0.0; // no point above the threshold yet
    double d = std::clamp(o.firstStep, o.resolution, o.limit);
    for (int point = 0; point < o.maxPoints; ++point) {
        double zd = 0.0;
        if (!z(d, zd)) return {BoundEnd::Stopped, 0.0};
        if (std::fabs(zd - 1.0) <= o.tolerance) return {BoundEnd::Found, d};
        if (zd < 1.0)
            lo = d, zlo = zd;
        else
            hi = d, zhi = zd;
        if (hi < 0.0) {
            if (lo >= o.limit) return {BoundEnd::NotReached, 0.0};
            d = std::min(o.limit, lo * std::min(kMostGrowth, 1.0 / std::max(zlo, 1e-300)));
            continue;
        }
        d = lo + (1.0 - zlo) * (hi - lo) / (zhi - zlo);
        if (hi - lo <= o.resolution) return {BoundEnd::Found, d};
        const double margin = kSafeguard * (hi - lo);
        d = std::clamp(d, lo + margin, hi - margin);
    }
    if (hi < 0.0) return {BoundEnd::NotReached, 0.0};
    return {BoundEnd::Found, lo + (1.0 - zlo) * (hi - lo) / (zhi - zlo)};
}

} // namespace lumora
