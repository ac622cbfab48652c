#pragma once
// Parameters of the extended Debye-Hueckel (B-dot) activity model, Helgeson (1969),
// Am. J. Sci. 267, 729: log gamma = -A z^2 sqrt(I) / (1 + a B sqrt(I)) + Bdot I.

namespace lumora {

/// Debye-Hueckel A (kg^0.5 mol^-0.5) from T (K), density (g/cm3) and dielectric constant.
double DebyeHueckelA(double T, double rho, double eps);
/// Debye-Hueckel B (kg^0.5 mol^-0.5 Angstrom^-1).
double DebyeHueckelB(double T, double rho, double eps);
/// B-dot (kg/mol) along the saturation curve, interpolated linearly in T from the EQ3/6
/// table (0.01..300 C); below it the 0.01 C value, above 300 C its 300 C value (0), as
/// the table ends there and B-dot is small at high temperature.
double BDot(double T);

} // namespace lumora
