#pragma once
// Ionization constant of water, Bandura and Lvov (2006), J. Phys. Chem. Ref. Data 35, 15
// (IAPWS release R11-07): H2O = H+ + OH- on the molal scale.

namespace lumora {

/// -log10 Kw at T (K) and density rho (g/cm3).
double WaterPKw(double T, double rho);

} // namespace lumora
