#pragma once
// Quantiles of the F distribution, for the F test of a profile interval.

namespace lumora {

/// The regularized incomplete beta function I_x(a, b) (a, b > 0, 0 <= x <= 1).
double IncompleteBeta(double a, double b, double x);

/// The p quantile (0 < p < 1) of the F distribution with d1 and d2 degrees of freedom
/// (both > 0): the f with P(F <= f) = p. Raises "Invalid procedure call or argument"
/// outside that domain.
double FQuantile(double p, double d1, double d2);

} // namespace lumora
