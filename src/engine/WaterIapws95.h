#pragma once
// Water and steam from the IAPWS-95 Helmholtz function: Wagner and Pruss (2002),
// J. Phys. Chem. Ref. Data 31, 387; IAPWS release R6-95 (2018). Valid from the
// melting curve to 1273 K and 1000 MPa. SI units of the release: K, kg/m3, MPa, kJ/kg.

#include <string>

namespace lumora::iapws95 {

/// Critical temperature (K), density (kg/m3) and pressure (MPa)
inline constexpr double kTc = 647.096;
inline constexpr double kRhoc = 322.0;
inline constexpr double kPc = 22.064;
/// Specific gas constant (kJ/(kg K)) and molar mass (g/mol)
inline constexpr double kR = 0.46151805;
inline constexpr double kMolarMass = 18.015268;
/// Triple-point temperature (K)
inline constexpr double kTt = 273.16;
/// Temperatures served (K): 0 to 1000 C, 0.01 K below the triple point so that 0 C, where
/// liquid water is stable at 1 bar, is inside.
inline constexpr double kTmin = 273.15, kTmax = 1273.15;

/// Whether T (K) is within kTmin..kTmax. Callers convert C to K in single precision
/// (1000 C + 273.15 is 1273.1500244 K, 0 C is 273.1499939 K), so the ends have a margin
/// of 1e-4 K, below any difference a property shows.
inline bool InTemperatureRange(double T) {
    constexpr double kMargin = 1e-4;
    return T >= kTmin - kMargin && T <= kTmax + kMargin;
}

/// Dimensionless Helmholtz energy phi = f/(RT) of delta = rho/rhoc and tau = Tc/T with
/// its derivatives; ideal-gas part (0) and residual part (r).
struct Helmholtz {
    double phi0 = 0, phi0_t = 0, phi0_tt = 0;
    double phir = 0, phir_d = 0, phir_dd = 0, phir_t = 0, phir_tt = 0, phir_dt = 0;
};

/// Residual part only (all a density inversion needs).
void Residual(double delta, double tau, Helmholtz& h);
/// Both parts.
Helmholtz Evaluate(double delta, double tau);

/// Properties of one state given by T and density.
struct State {
    /// Temperature (K)
    double T = 0;
    /// Density (kg/m3)
    double rho = 0;
    /// Pressure (MPa)
    double p = 0;
    /// Specific entropy (kJ/(kg K)), enthalpy and Gibbs energy (kJ/kg); zero internal energy
    /// and entropy of the saturated liquid at the triple point
    double s = 0, h = 0, g = 0;
    /// Isochoric and isobaric heat capacity (kJ/(kg K)), speed of sound (m/s)
    double cv = 0, cp = 0, w = 0;
    /// Derivative of pressure with density at constant T (MPa m3/kg)
    double dpdrho = 0;
};

State StateAt(double T, double rho);

/// Pressure (MPa) at T (K) and density (kg/m3).
double Pressure(double T, double rho);

/// Which density root a pressure inversion looks for.
enum class Root {
    Liquid, ///< liquid (stable or slightly superheated) or supercritical fluid
    Vapour  ///< vapour (stable or slightly subcooled) or supercritical fluid
};

/// Density (kg/m3) at T (K) and p (MPa) by safeguarded Newton iteration on a bracket.
/// False with a reason when the state is outside the formulation or has no such root.
bool Density(double T, double p, Root root, double& rho, std::string* why = nullptr);

/// Saturation pressure (MPa) and densities (kg/m3) of the coexisting phases at
/// T (K) < Tc, from the equality of pressure and Gibbs energy of both phases.
bool Saturation(double T, double& psat, double& rhoLiquid, double& rhoVapour,
                std::string* why = nullptr);

/// Auxiliary equations of Wagner and Pruss (2002, eqs 2.5-2.7), good to about 1e-4:
/// start values of the saturation solver and of the liquid-density inversion.
double SaturationPressureEstimate(double T);
double SaturatedLiquidDensityEstimate(double T);
double SaturatedVapourDensityEstimate(double T);

} // namespace lumora::iapws95
