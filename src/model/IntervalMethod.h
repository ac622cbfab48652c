#pragma once
// How the uncertainty of the refined Gibbs energies is estimated after a converged run.

namespace lumora {

enum class IntervalMethod {
    /// Half-widths from the inverse Hessian of the error at the optimum, projected from
    /// the joint region of all refined energies.
    Hessian,
    /// One-parameter profile-likelihood bounds: where the error minimised over the other
    /// refined energies reaches the F-test threshold; asymmetric in general.
    Profile,
};

} // namespace lumora
