#pragma once
// The Jacobian of the goal function's residuals with respect to the Gibbs energies from
// the derivatives of the concentrations alone: the absorptivities' non-negative least
// squares is differentiated with its active set held (variable projection, Golub and
// Pereyra, SIAM J. Numer. Anal. 10 (1973) 413). Differences of the smooth concentrations
// then stand in for differences of residuals across the kinks where an absorptivity
// reaches zero.

#include "model/State.h"

#include <vector>

namespace lumora {

class ProjectedJacobian {
public:
    /// Whether the goal function fits the data by per-wavelength non-negative least
    /// squares (the normal mode).
    static bool Applies(const State& st);

    /// Keeps the concentrations, absorptivities and residuals of the evaluation just
    /// made, the point the columns belong to.
    void At(const State& st);

    /// d r / d G of one parameter, in the order of GoalResiduals, from the concentrations
    /// of an evaluation at the point moved by h in that parameter.
    void Column(const State& st, double h, std::vector<double>& column);

private:
    /// Solves the normal matrix of wavelength w for rhs in place.
    void SolveAt(int w, std::vector<double>& rhs) const;

    int nSp_ = 0, nSol_ = 0, nWl_ = 0;
    std::vector<double> conc_;    ///< concentrations (species, solution), solution fastest
    std::vector<double> eps_;     ///< absorptivities (wavelength, species), species fastest
    std::vector<double> resid_;   ///< data minus model (solution, wavelength), wavelength fastest
    std::vector<double> weight_;  ///< solution weights of the least squares
    std::vector<double> scale_;   ///< factor of each solution's residuals
    std::vector<uint8_t> valid_;  ///< (solution, wavelength)
    std::vector<int> free_;       ///< species with a non-zero absorptivity, per wavelength
    std::vector<int> freeCount_;  ///< their number per wavelength
    std::vector<uint8_t> solved_; ///< whether the least squares of a wavelength is regular
    std::vector<double> chol_;    ///< Cholesky factor of the normal matrix of the free species
    std::vector<double> dConc_;   ///< the concentrations' derivatives of one column
};

} // namespace lumora
