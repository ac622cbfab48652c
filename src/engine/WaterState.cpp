#include "engine/WaterState.h"

#include "engine/WaterDebyeHueckel.h"
#include "engine/WaterDielectric.h"
#include "engine/WaterIapws95.h"
#include "engine/WaterIonization.h"

#include <cmath>

namespace lumora {

namespace {

constexpr double kPmaxBar = 10000.0;

// Helgeson and Kirkham (1974) reference values at the triple point.
constexpr double kStr = 63.312288;  // entropy (J/(mol K))
constexpr double kGtr = -235517.36; // Gibbs energy (J/mol)

bool Fail(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
    return false;
}

void Complete(WaterState& w) {
    w.eps = WaterDielectric(w.T, w.rho);
    w.G = WaterGibbsEnergy(w.T, w.rho);
    w.Agamma = DebyeHueckelA(w.T, w.rho, w.eps);
    w.Bgamma = DebyeHueckelB(w.T, w.rho, w.eps);
    w.Bdot = BDot(w.T);
    w.ok = std::isfinite(w.eps) && std::isfinite(w.G) && std::isfinite(w.Agamma) &&
           std::isfinite(w.Bgamma);
}

} // namespace

double WaterGibbsEnergy(double T, double rho) {
    const iapws95::State s = iapws95::StateAt(T, rho * 1000.0);
    const double H = s.h * iapws95::kMolarMass; // kJ/kg x g/mol = J/mol
    const double S = s.s * iapws95::kMolarMass;
    return H - T * (S + kStr) + iapws95::kTt * kStr + kGtr;
}

bool WaterSaturation(double T, double& Pbar, double& rhoLiquid) {
    double p, rl, rv;
    if (!(T < iapws95::kTc) || !iapws95::Saturation(T, p, rl, rv)) return false;
    Pbar = p * 10.0;
    rhoLiquid = rl / 1000.0;
    return true;
}

WaterState WaterAt(double T, double P, std::string* why) {
    WaterState w;
    w.T = T;
    w.P = P;
    if (!iapws95::InTemperatureRange(T)) {
        Fail(why, "temperature outside 0..1000 C");
        return w;
    }
    if (!(P >= 0 && P <= kPmaxBar)) {
        Fail(why, "pressure outside 0..10000 bar");
        return w;
    }
    if (P == 0) {
        if (!(T < iapws95::kTc)) {
            Fail(why, "no saturation pressure above the critical temperature");
            return w;
        }
        if (!WaterSaturation(T, w.P, w.rho)) {
            Fail(why, "saturation state not found");
            return w;
        }
    } else {
        double rho = 0;
        std::string reason;
        if (!iapws95::Density(T, P / 10.0, iapws95::Root::Liquid, rho, &reason)) {
            Fail(why, reason);
            return w;
        }
        w.rho = rho / 1000.0;
    }
    Complete(w);
    if (!w.ok) Fail(why, "water properties not finite");
    return w;
}

WaterState WaterAtDensity(double T, double rho) {
    WaterState w;
    w.T = T;
    w.rho = rho;
    if (!iapws95::InTemperatureRange(T) || !(rho > 0 && rho < 1.6)) return w;
    w.P = iapws95::Pressure(T, rho * 1000.0) * 10.0;
    Complete(w);
    return w;
}

double DebyeHueckelA(double T, double rho, double eps) {
    return 1.82483e6 * std::sqrt(rho) / std::pow(eps * T, 1.5);
}

double DebyeHueckelB(double T, double rho, double eps) {
    return 50.2916 * std::sqrt(rho) / std::sqrt(eps * T);
}

double BDot(double T) {
    // EQ3/6 B-dot along the saturation curve (Helgeson 1969 as tabulated for EQ3/6).
    static constexpr double tc[] = {0.01, 25, 60, 100, 150, 200, 250, 300};
    static constexpr double bd[] = {0.0374, 0.0410, 0.0438, 0.0460, 0.0470, 0.0470, 0.0340, 0.0};
    const double t = T - 273.15;
    if (t <= tc[0]) return bd[0];
    for (int i = 1; i < 8; ++i)
        if (t <= tc[i])
            return bd[i - 1] + (bd[i] - bd[i - 1]) * (t - tc[i - 1]) / (tc[i] - tc[i - 1]);
    return bd[7];
}

double WaterPKw(double T, double rho) {
    constexpr double n = 6, a0 = -0.864671, a1 = 8659.19, a2 = -22786.2;
    constexpr double b0 = 0.642044, b1 = -56.8534, b2 = -0.375754;
    const double pkwG = 0.61415 + 48251.33 / T - 67707.93 / (T * T) + 10102100.0 / (T * T * T);
    const double Q = rho * std::exp(a0 + a1 / T + a2 / (T * T) * std::cbrt(rho * rho));
    return -2 * n * (std::log10(1 + Q) - Q / (Q + 1) * rho * (b0 + b1 / T + b2 * rho)) + pkwG +
           2 * std::log10(iapws95::kMolarMass / 1000.0);
}

} // namespace lumora
