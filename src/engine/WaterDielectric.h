#pragma once
// Static dielectric constant of water, Johnson and Norton (1991), Am. J. Sci. 291, 541.

namespace lumora {

/// Dielectric constant at T (K) and density rho (g/cm3).
inline double WaterDielectric(double T, double rho) {
    constexpr double a1 = 14.70333593, a2 = 212.8462733, a3 = -115.4445173, a4 = 19.55210915,
                     a5 = -83.30347980, a6 = 32.13240048, a7 = -6.694098645, a8 = -37.86202045,
                     a9 = 68.87359646, a10 = -27.29401652;
    const double t = T / 298.15;
    const double k1 = a1 / t;
    const double k2 = a2 / t + a3 + a4 * t;
    const double k3 = a5 / t + a6 * t + a7 * t * t;
    const double k4 = a8 / (t * t) + a9 / t + a10;
    return 1.0 + rho * (k1 + rho * (k2 + rho * (k3 + rho * k4)));
}

} // namespace lumora
