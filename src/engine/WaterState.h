#pragma once
// Properties of water at one temperature and pressure, as the species models and
// the activity model need them.

#include <string>

namespace lumora {

struct WaterState {
    /// Temperature (K)
    double T = 0;
    /// Pressure (bar)
    double P = 0;
    /// Density (g/cm3)
    double rho = 0;
    /// Dielectric constant
    double eps = 0;
    /// Gibbs energy of water on the geochemical convention (J/mol)
    double G = 0;
    /// Debye-Hueckel A (kg^0.5 mol^-0.5) and B (kg^0.5 mol^-0.5 Angstrom^-1)
    double Agamma = 0;
    double Bgamma = 0;
    /// B-dot of the extended Debye-Hueckel model (kg/mol)
    double Bdot = 0;
    /// False when the state could not be computed (no density root, out of range)
    bool ok = false;
};

/// Water at T (K) and P (bar); P = 0 means the saturation pressure (below the critical
/// temperature). T from 273.15 to 1273.15 K, P up to 10000 bar; outside, or without a
/// liquid or supercritical density root, ok is false and `why` (when given) says why.
WaterState WaterAt(double T, double P, std::string* why = nullptr);

/// Water at T (K) and a known density (g/cm3); the pressure is computed.
WaterState WaterAtDensity(double T, double rho);

/// Gibbs energy of water (J/mol) at T (K) and density (g/cm3) on the convention of
/// Helgeson and Kirkham (1974): -237183 J/mol at 25 C and 1 bar.
double WaterGibbsEnergy(double T, double rho);

/// Saturation pressure (bar) at T (K) below the critical temperature; false outside.
bool WaterSaturation(double T, double& Pbar, double& rhoLiquid);

/// Standard Gibbs energy (J/mol) of database species `index` at the water state;
/// false when it cannot be computed (the value is then left unchanged).
class Database;
bool StandardGibbs(const Database& db, int index, const WaterState& w, double& G);

} // namespace lumora
