#pragma once
// Which path the optimizer takes to the minimum.

namespace lumora {

/// The path to the minimum; everything the user sees of a run is the same for both.
enum class FitMethod {
    /// Damped Newton steps along a scaled gradient direction of the error.
    Descent,
    /// Levenberg-Marquardt steps on the residual vector of the goal function (the descent
    /// method in the factor mode, whose residuals the goal function keeps to itself).
    LevenbergMarquardt,
};

} // namespace lumora
