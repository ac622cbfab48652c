#pragma once
// The search for one end of a profile interval: the offset from the optimum at which the
// profile of the error reaches its threshold.

#include <functional>

namespace lumora {

struct ProfileBoundOptions {
    /// First offset tried (kJ/mol), from the curvature at the optimum
    double firstStep = 1.0;
    /// Farthest offset (kJ/mol); a profile still below the threshold there is not determined
    double limit = 50.0;
    /// Accepted distance of the scaled profile from 1
    double tolerance = 0.002;
    /// A bracket this narrow ends the search (kJ/mol)
    double resolution = 1e-4;
    /// Most profile points of one end
    int maxPoints = 40;
};

enum class BoundEnd {
    Found,
    /// Below the threshold up to the limit
    NotReached,
    /// The profile could not be evaluated (or Esc)
    Stopped,
};

struct ProfileBound {
    BoundEnd end = BoundEnd::Stopped;
    /// Offset from the optimum (kJ/mol, positive)
    double offset = 0;
};

/// z(d, value) evaluates the scaled profile sqrt((P(d) - P(0)) / (threshold - P(0))) at the
/// offset d > 0, false when it cannot. z is d over the half-width for a quadratic error,
/// so secant steps through the origin find its crossing of 1 in very few points; once the
/// crossing is bracketed, safeguarded secant steps inside the bracket.
ProfileBound FindProfileBound(const std::function<bool(double, double&)>& z,
                              const ProfileBoundOptions& options);

} // namespace lumora
