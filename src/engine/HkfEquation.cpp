#include "engine/HkfEquation.h"

#include "engine/WaterDielectric.h"
#include "engine/WaterState.h"

#include <cmath>

namespace lumora {

namespace {

constexpr double kCal = 4.184;          // J/cal
constexpr double kTr = 298.15;          // K
constexpr double kPr = 1.0;             // bar
constexpr double kTheta = 228.0;        // K
constexpr double kPsi = 2600.0;         // bar
constexpr double kEta = 1.66027e5;      // Angstrom cal/mol
constexpr double kYr = -5.798650444e-5; // 1/K, Born function Y at Tr, Pr

/// 1/eps of the water model at Tr, Pr: the Born term then vanishes there exactly, so
/// every species returns its tabulated Gf at 25 C and 1 bar.
double InverseEpsRef() {
    static const double value = [] {
        const WaterState w = WaterAt(kTr, kPr);
        return w.ok ? 1.0 / w.eps : 0.01278034682;
    }();
    return value;
}

} // namespace

double HkfG(double T, double P, double rho) {
    if (!(rho < 1.0)) return 0.0;
    const double t = T - 273.15;
    const double ag = -2.037662 + 5.747e-3 * t - 6.557892e-6 * t * t;
    const double bg = 6.107361 - 1.074377e-2 * t + 1.268348e-5 * t * t;
    double g = ag * std::pow(1.0 - rho, bg);
    if (t > 155.0 && t < 355.0 && P < 1000.0) {
        const double x = (t - 155.0) / 300.0;
        const double q = 1000.0 - P;
        g -= (std::pow(x, 4.8) + 36.66666 * std::pow(x, 16)) *
             (-1.504956e-10 * q * q * q + 5.017997e-14 * q * q * q * q);
    }
    return g;
}

double HkfOmega(const HkfParams& p, double charge, double g) {
    const double wr = p.omega * 1e5;
    if (charge == 0 || g == 0) return wr;
    const double z = charge;
    const double rref = z * z / (wr / kEta + z / 3.082);
    const double r = rref + std::fabs(z) * g;
    return kEta * (z * z / r - z / (3.082 + g));
}

HkfEquation::HkfEquation(const HkfParams& p, double charge) : p_(p), charge_(charge) {}

double HkfEquation::G0(double T, double P, double rho, double eps) const {
    const double a1 = p_.a1 * 0.1, a2 = p_.a2 * 1e2, a3 = p_.a3, a4 = p_.a4 * 1e4;
    const double c1 = p_.c1, c2 = p_.c2 * 1e4, wr = p_.omega * 1e5;
    const double w = HkfOmega(p_, charge_, HkfG(T, P, rho));
    const double lnP = std::log((kPsi + P) / (kPsi + kPr));
    const double tT = T - kTheta;
    const double epsRinv = InverseEpsRef();
    const double G = p_.Gf - p_.S * (T - kTr) - c1 * (T * std::log(T / kTr) - T + kTr) +
                     a1 * (P - kPr) + a2 * lnP -
                     c2 * ((1.0 / tT - 1.0 / (kTr - kTheta)) * (kTheta - T) / kTheta -
                           T / (kTheta * kTheta) * std::log(kTr * tT / (T * (kTr - kTheta)))) +
                     (a3 * (P - kPr) + a4 * lnP) / tT + w * (1.0 / eps - 1.0) -
                     wr * (epsRinv - 1.0) + wr * kYr * (T - kTr);
    return G * kCal;
}

} // namespace lumora
