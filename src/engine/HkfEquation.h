#pragma once
// Standard partial molal Gibbs energy of aqueous species by the revised HKF equation of
// state: Helgeson, Kirkham and Flowers (1981), Tanger and Helgeson (1988, Am. J. Sci.
// 288, 19), Shock and Helgeson (1988, GCA 52, 2009), with the g-function of Shock,
// Oelkers, Johnson, Sverjensky and Helgeson (1992, J. Chem. Soc. Faraday Trans. 88, 803).

#include "engine/Database.h"

namespace lumora {

/// Lowest water density (g/cm3) at which the equation of state holds (Shock et al. 1992:
/// the g-function was fitted at 0.35 g/cm3 and above); below it results are extrapolations.
inline constexpr double kHkfMinDensity = 0.35;

/// The solvent function g (Angstrom) at T (K), P (bar) and water density (g/cm3).
double HkfG(double T, double P, double rho);

/// Effective Born coefficient omega (cal/mol) at the given g: constant for neutral
/// species and H+, from the effective electrostatic radius for other ions.
double HkfOmega(const HkfParams& p, double charge, double g);

/// The model of one species built from its parameters; G0 in J/mol.
class HkfEquation {
public:
    HkfEquation(const HkfParams& p, double charge);
    /// Standard Gibbs energy (J/mol) at T (K), P (bar), density (g/cm3) and dielectric
    /// constant of water.
    double G0(double T, double P, double rho, double eps) const;

private:
    HkfParams p_;
    double charge_;
};

} // namespace lumora
