#pragma once
// Properties of water at one temperature and pressure, as the species models and
// the activity model need them.

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

/// Water at T (K) and P (bar); P = 0 means the saturation pressure.
WaterState WaterAt(double T, double P);

/// Standard Gibbs energy (J/mol) of database species `index` at the water state;
/// false when it cannot be computed (the value is then left unchanged).
class Database;
bool StandardGibbs(const Database& db, int index, const WaterState& w, double& G);

} // namespace lumora
