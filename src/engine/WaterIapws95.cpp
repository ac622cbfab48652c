#include "engine/WaterIapws95.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lumora::iapws95 {

namespace {

// Ideal-gas part, IAPWS R6-95 (2018) Table 1.
constexpr double kN0[8] = {-8.3204464837497, 6.6832105275932, 3.00632, 0.012436,
                           0.97315,          1.2795,          0.96956, 0.24873};
constexpr double kGamma0[8] = {0, 0, 0, 1.28728967, 3.53734222, 7.74073708, 9.24437796, 27.5075105};

// Residual part, Table 2: terms 1-7 (polynomial) and 8-51 (exponential).
constexpr double kN[51] = {
    0.12533547935523e-1,   0.78957634722828e1,   -0.87803203303561e1,  0.31802509345418,
    -0.26145533859358,     -0.78199751687981e-2, 0.88089493102134e-2,  -0.66856572307965,
    0.20433810950965,      -0.66212605039687e-4, -0.19232721156002,    -0.25709043003438,
    0.16074868486251,      -0.40092828925807e-1, 0.39343422603254e-6,  -0.75941377088144e-5,
    0.56250979351888e-3,   -0.15608652257135e-4, 0.11537996422951e-8,  0.36582165144204e-6,
    -0.13251180074668e-11, -0.62639586912454e-9, -0.10793600908932,    0.17611491008752e-1,
    0.22132295167546,      -0.40247669763528,    0.58083399985759,     0.49969146990806e-2,
    -0.31358700712549e-1,  -0.74315929710341,    0.47807329915480,     0.20527940895948e-1,
    -0.13636435110343,     0.14180634400617e-1,  0.83326504880713e-2,  -0.29052336009585e-1,
    0.38615085574206e-1,   -0.20393486513704e-1, -0.16554050063734e-2, 0.19955571979541e-2,
    0.15870308324157e-3,   -0.16388568342530e-4, 0.43613615723811e-1,  0.34994005463765e-1,
    -0.76788197844621e-1,  0.22446277332006e-1,  -0.62689710414685e-4, -0.55711118565645e-9,
    -0.19905718354408,     0.31777497330738,     -0.11841182425981};
constexpr int kC[51] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                        1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                        2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 6, 6, 6, 6};
constexpr int kD[51] = {1, 1,  1,  2,  2,  3,  4,  1,  1, 1, 2, 2, 3,  4, 4, 5, 7,
                        9, 10, 11, 13, 15, 1,  2,  2,  2, 3, 4, 4, 4,  5, 6, 6, 7,
                        9, 9,  9,  9,  9,  10, 10, 12, 3, 4, 4, 5, 14, 3, 6, 6, 6};
constexpr double kT[51] = {-0.5, 0.875, 1, 0.5, 0.75, 0.375, 1,  4,  6,  12, 1,  5, 4,
                           2,    13,    9, 3,   4,    11,    4,  13, 1,  7,  1,  9, 10,
                           10,   3,     7, 10,  10,   6,     10, 10, 1,  2,  3,  4, 8,
                           6,    9,     8, 16,  22,   23,    23, 10, 50, 44, 46, 50};
// Gaussian terms 52-54.
constexpr double kNg[3] = {-0.31306260323435e2, 0.31546140237781e2, -0.25213154341695e4};
constexpr double kTg[3] = {0, 1, 4};
constexpr double kBetaG[3] = {150, 150, 250};
constexpr double kGammaG[3] = {1.21, 1.21, 1.25};
constexpr double kAlphaG = 20.0, kEpsG = 1.0;
constexpr int kDg = 3;
// Non-analytic terms 55-56.
constexpr double kNn[2] = {-0.14874640856724, 0.31806110878444};
constexpr double kAn = 3.5, kBn[2] = {0.85, 0.95}, kBigB = 0.2, kBigA = 0.32, kBetaN = 0.3;
constexpr double kCn[2] = {28, 32}, kDn[2] = {700, 800};

// Pressure limit of the formulation (MPa).
constexpr double kPmax = 1000.0;
// How far (as a fraction of the saturation pressure) a metastable root is accepted.
constexpr double kMetastable = 0.98;

} // namespace

void Residual(double delta, double tau, Helmholtz& h) {
    // Integer powers of delta and tau up to the largest exponents, built by products.
    std::array<double, 16> dp;
    dp[0] = 1.0;
    for (int i = 1; i < 16; ++i) dp[i] = dp[i - 1] * delta;
    std::array<double, 51> tp;
    tp[0] = 1.0;
    for (int i = 1; i < 51; ++i) tp[i] = tp[i - 1] * tau;
    const double expC[7] = {
        1.0, std::exp(-delta), std::exp(-dp[2]), std::exp(-dp[3]), std::exp(-dp[4]),
        0.0, std::exp(-dp[6])};

    double f = 0, fd = 0, fdd = 0, ft = 0, ftt = 0, fdt = 0;
    const double id = 1.0 / delta, it = 1.0 / tau;
    for (int i = 0; i < 7; ++i) {
        const double ti = kT[i];
        const double tt = std::pow(tau, ti);
        const double di = kD[i];
        const double v = kN[i] * dp[kD[i]] * tt;
        f += v;
        fd += v * di * id;
        fdd += v * di * (di - 1) * id * id;
        ft += v * ti * it;
        ftt += v * ti * (ti - 1) * it * it;
        fdt += v * di * ti * id * it;
    }
    for (int i = 7; i < 51; ++i) {
        const int c = kC[i];
        const double ti = kT[i];
        const double di = kD[i];
        const double dc = dp[c];
        const double v = kN[i] * dp[kD[i]] * tp[static_cast<int>(ti)] * expC[c];
        const double q = di - c * dc;
        f += v;
        fd += v * q * id;
        fdd += v * (q * (di - 1 - c * dc) - c * c * dc) * id * id;
        ft += v * ti * it;
        ftt += v * ti * (ti - 1) * it * it;
        fdt += v * ti * q * id * it;
    }
    for (int i = 0; i < 3; ++i) {
        const double ti = kTg[i];
        const double dd = delta - kEpsG, dt = tau - kGammaG[i];
        const double e = std::exp(-kAlphaG * dd * dd - kBetaG[i] * dt * dt);
        const double v = kNg[i] * dp[kDg] * tp[static_cast<int>(ti)] * e;
        const double a = kDg * id - 2 * kAlphaG * dd;
        const double b = ti * it - 2 * kBetaG[i] * dt;
        f += v;
        fd += v * a;
        fdd += kNg[i] * tp[static_cast<int>(ti)] * e *
               (-2 * kAlphaG * dp[kDg] + 4 * kAlphaG * kAlphaG * dp[kDg] * dd * dd -
                4 * kDg * kAlphaG * dp[kDg - 1] * dd + kDg * (kDg - 1) * dp[kDg - 2]);
        ft += v * b;
        ftt += v * (b * b - ti * it * it - 2 * kBetaG[i]);
        fdt += v * a * b;
    }
    // The non-analytic terms are singular in their second density derivative exactly at
    // delta = 1; an offset far below double resolution of any result avoids the 0/0.
    double dm1 = delta - 1.0;
    if (std::fabs(dm1) < 1e-12) dm1 = 1e-12;
    const double dm1sq = dm1 * dm1;
    for (int i = 0; i < 2; ++i) {
        const double b = kBn[i];
        const double theta = (1 - tau) + kBigA * std::pow(dm1sq, 1 / (2 * kBetaN));
        const double Delta = theta * theta + kBigB * std::pow(dm1sq, kAn);
        const double psi = std::exp(-kCn[i] * dm1sq - kDn[i] * (tau - 1) * (tau - 1));
        const double psi_d = -2 * kCn[i] * dm1 * psi;
        const double psi_dd = (2 * kCn[i] * dm1sq - 1) * 2 * kCn[i] * psi;
        const double psi_t = -2 * kDn[i] * (tau - 1) * psi;
        const double psi_tt = (2 * kDn[i] * (tau - 1) * (tau - 1) - 1) * 2 * kDn[i] * psi;
        const double psi_dt = 4 * kCn[i] * kDn[i] * dm1 * (tau - 1) * psi;
        const double p1 = std::pow(dm1sq, 1 / (2 * kBetaN) - 1);
        const double D_d =
            dm1 * (kBigA * theta * 2 / kBetaN * p1 + 2 * kBigB * kAn * std::pow(dm1sq, kAn - 1));
        const double D_dd =
            D_d / dm1 + dm1sq * (4 * kBigB * kAn * (kAn - 1) * std::pow(dm1sq, kAn - 2) +
                                 2 * kBigA * kBigA / (kBetaN * kBetaN) * p1 * p1 +
                                 kBigA * theta * 4 / kBetaN * (1 / (2 * kBetaN) - 1) *
                                     std::pow(dm1sq, 1 / (2 * kBetaN) - 2));
        const double Db = std::pow(Delta, b);
        const double Db1 = Db / Delta;  // Delta^(b-1)
        const double Db2 = Db1 / Delta; // Delta^(b-2)
        const double Db_d = b * Db1 * D_d;
        const double Db_dd = b * (Db1 * D_dd + (b - 1) * Db2 * D_d * D_d);
        const double Db_t = -2 * theta * b * Db1;
        const double Db_tt = 2 * b * Db1 + 4 * theta * theta * b * (b - 1) * Db2;
        const double Db_dt =
            -kBigA * b * 2 / kBetaN * Db1 * dm1 * p1 - 2 * theta * b * (b - 1) * Db2 * D_d;
        const double n = kNn[i];
        f += n * Db * delta * psi;
        fd += n * (Db * (psi + delta * psi_d) + Db_d * delta * psi);
        fdd += n * (Db * (2 * psi_d + delta * psi_dd) + 2 * Db_d * (psi + delta * psi_d) +
                    Db_dd * delta * psi);
        ft += n * delta * (Db_t * psi + Db * psi_t);
        ftt += n * delta * (Db_tt * psi + 2 * Db_t * psi_t + Db * psi_tt);
        fdt += n * (Db * (psi_t + delta * psi_dt) + delta * Db_d * psi_t +
                    Db_t * (psi + delta * psi_d) + Db_dt * delta * psi);
    }
    h.phir = f;
    h.phir_d = fd;
    h.phir_dd = fdd;
    h.phir_t = ft;
    h.phir_tt = ftt;
    h.phir_dt = fdt;
}

Helmholtz Evaluate(double delta, double tau) {
    Helmholtz h;
    Residual(delta, tau, h);
    h.phi0 = std::log(delta) + kN0[0] + kN0[1] * tau + kN0[2] * std::log(tau);
    h.phi0_t = kN0[1] + kN0[2] / tau;
    h.phi0_tt = -kN0[2] / (tau * tau);
    for (int i = 3; i < 8; ++i) {
        const double e = std::exp(-kGamma0[i] * tau);
        h.phi0 += kN0[i] * std::log1p(-e);
        h.phi0_t += kN0[i] * kGamma0[i] * (1 / (1 - e) - 1);
        h.phi0_tt -= kN0[i] * kGamma0[i] * kGamma0[i] * e / ((1 - e) * (1 - e));
    }
    return h;
}

State StateAt(double T, double rho) {
    const double delta = rho / kRhoc, tau = kTc / T;
    const Helmholtz h = Evaluate(delta, tau);
    State s;
    s.T = T;
    s.rho = rho;
    const double RT = kR * T;
    s.p = rho * RT * (1 + delta * h.phir_d) / 1000.0;
    s.s = kR * (tau * (h.phi0_t + h.phir_t) - h.phi0 - h.phir);
    s.h = RT * (1 + tau * (h.phi0_t + h.phir_t) + delta * h.phir_d);
    s.g = RT * (1 + h.phi0 + h.phir + delta * h.phir_d);
    s.cv = -kR * tau * tau * (h.phi0_tt + h.phir_tt);
    const double a = 1 + delta * h.phir_d - delta * tau * h.phir_dt;
    const double b = 1 + 2 * delta * h.phir_d + delta * delta * h.phir_dd;
    s.cp = s.cv + kR * a * a / b;
    s.w =
        std::sqrt(std::max(0.0, 1000.0 * RT * (b - a * a / (tau * tau * (h.phi0_tt + h.phir_tt)))));
    s.dpdrho = RT * b / 1000.0;
    return s;
}

namespace {

/// Pressure (MPa) and its density derivative from the residual part only.
void PressureAndSlope(double T, double rho, double& p, double& dpdrho) {
    const double delta = rho / kRhoc;
    Helmholtz h;
    Residual(delta, kTc / T, h);
    const double RT = kR * T;
    p = rho * RT * (1 + delta * h.phir_d) / 1000.0;
    dpdrho = RT * (1 + 2 * delta * h.phir_d + delta * delta * h.phir_dd) / 1000.0;
}

bool Fail(std::string* why, const char* text) {
    if (why != nullptr) *why = text;
    return false;
}

/// Root of p(rho) = target in [lo, hi] where p(lo) <= target <= p(hi): Newton steps,
/// bisection whenever a step leaves the bracket or the slope is not positive.
bool SolveBracketed(double T, double target, double lo, double hi, double guess, double& rho) {
    double x = guess;
    if (!(x > lo && x < hi)) x = 0.5 * (lo + hi);
    for (int it = 0; it < 200; ++it) {
        double p, dp;
        PressureAndSlope(T, x, p, dp);
        const double f = p - target;
        if (f < 0)
            lo = x;
        else
            hi = x;
        double next = (dp > 0) ? x - f / dp : 0.5 * (lo + hi);
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (std::fabs(next - x) <= 1e-13 * x || hi - lo <= 1e-13 * x) {
            rho = next;
            return true;
        }
        x = next;
    }
    return false;
}

} // namespace

double Pressure(double T, double rho) {
    double p, dp;
    PressureAndSlope(T, rho, p, dp);
    return p;
}

double SaturationPressureEstimate(double T) {
    const double th = 1 - T / kTc;
    const double s = -7.85951783 * th + 1.84408259 * std::pow(th, 1.5) - 11.7866497 * th * th * th +
                     22.6807411 * std::pow(th, 3.5) - 15.9618719 * th * th * th * th +
                     1.80122502 * std::pow(th, 7.5);
    return kPc * std::exp(kTc / T * s);
}

double SaturatedLiquidDensityEstimate(double T) {
    const double th = 1 - T / kTc;
    const double c = std::cbrt(th);
    return kRhoc * (1 + 1.99274064 * c + 1.09965342 * c * c - 0.510839303 * std::pow(c, 5) -
                    1.75493479 * std::pow(c, 16) - 45.5170352 * std::pow(c, 43) -
                    6.74694450e5 * std::pow(c, 110));
}

double SaturatedVapourDensityEstimate(double T) {
    const double th = 1 - T / kTc;
    const double c = std::pow(th, 1.0 / 6.0);
    return kRhoc * std::exp(-2.03150240 * c * c - 2.68302940 * std::pow(c, 4) -
                            5.38626492 * std::pow(c, 8) - 17.2991605 * std::pow(c, 18) -
                            44.7586581 * std::pow(c, 37) - 63.9201063 * std::pow(c, 71));
}

bool Saturation(double T, double& psat, double& rhoL, double& rhoV, std::string* why) {
    if (!(InTemperatureRange(T) && T <= kTc))
        return Fail(why, "temperature outside the saturation curve");
    if (T >= kTc - 1e-9) {
        psat = kPc;
        rhoL = rhoV = kRhoc;
        return true;
    }
    double dl = SaturatedLiquidDensityEstimate(T), dv = SaturatedVapourDensityEstimate(T);
    // Newton on p(rhoL) = p(rhoV), g(rhoL) = g(rhoV); dg/drho = (dp/drho)/rho at constant T.
    for (int it = 0; it < 100; ++it) {
        const State l = StateAt(T, dl), v = StateAt(T, dv);
        const double f1 = l.p - v.p;
        const double f2 = (l.g - v.g) / 1000.0; // kJ/kg -> MPa m3/kg
        const double j11 = l.dpdrho, j12 = -v.dpdrho;
        const double j21 = l.dpdrho / l.rho, j22 = -v.dpdrho / v.rho;
        const double det = j11 * j22 - j12 * j21;
        if (!(std::fabs(det) > 0) || !std::isfinite(det)) break;
        const double sl = (f1 * j22 - f2 * j12) / det;
        const double sv = (j11 * f2 - j21 * f1) / det;
        dl -= sl;
        dv -= sv;
        if (!(dl > kRhoc && dv > 0 && dv < kRhoc)) break;
        if (std::fabs(sl) <= 1e-12 * dl && std::fabs(sv) <= 1e-12 * dv) {
            // The vapour pressure is the well-conditioned one: the liquid's pressure
            // moves by MPa per kg/m3.
            psat = Pressure(T, dv);
            rhoL = dl;
            rhoV = dv;
            return true;
        }
    }
    // Within a few mK of the critical point the system is too flat for Newton; the
    // auxiliary equations are then as good as the formulation itself.
    if (T > kTc - 0.05) {
        psat = SaturationPressureEstimate(T);
        rhoL = SaturatedLiquidDensityEstimate(T);
        rhoV = SaturatedVapourDensityEstimate(T);
        return true;
    }
    return Fail(why, "saturation state not found");
}

bool Density(double T, double p, Root root, double& rho, std::string* why) {
    if (!InTemperatureRange(T)) return Fail(why, "temperature outside 273.15..1273.15 K");
    if (!(p > 0 && p <= kPmax)) return Fail(why, "pressure outside 0..1000 MPa");
    constexpr double kRhoMax = 1600.0;
    double pHi, dpHi;
    PressureAndSlope(T, kRhoMax, pHi, dpHi);
    if (!(pHi >= p)) return Fail(why, "no density root below 1600 kg/m3");

    if (T >= kTc) {
        // One fluid phase: p(rho) rises monotonically from 0.
        const double lo = 1e-8;
        const double ideal = 1000.0 * p / (kR * T);
        const double guess = p > kPc ? std::min(1000.0, 2 * ideal) : ideal;
        if (SolveBracketed(T, p, lo, kRhoMax, guess, rho)) return true;
        return Fail(why, "density iteration did not converge");
    }

    if (root == Root::Liquid) {
        // The liquid branch rises from the spinodal through the saturated liquid.
        const double start = SaturatedLiquidDensityEstimate(T);
        double p0, dp0;
        PressureAndSlope(T, start, p0, dp0);
        if (p >= p0) {
            if (SolveBracketed(T, p, start, kRhoMax, start * (1 + (p - p0) / (start * dp0)), rho))
                return true;
            return Fail(why, "density iteration did not converge");
        }
        // Below the saturation pressure the stable phase is steam. Slightly superheated
        // liquid is still accepted, so that 100 C at 1 bar (psat 1.014 bar) works.
        if (p < kMetastable * p0)
            return Fail(why, "pressure below the saturation pressure: water is steam");
        double x = start;
        for (int it = 0; it < 100; ++it) {
            double px, dpx;
            PressureAndSlope(T, x, px, dpx);
            if (!(dpx > 0)) break;
            const double next = x - (px - p) / dpx;
            if (!(next > kRhoc)) break;
            if (std::fabs(next - x) <= 1e-13 * x) {
                PressureAndSlope(T, next, px, dpx);
                if (!(dpx > 0)) break;
                rho = next;
                return true;
            }
            x = next;
        }
        return Fail(why, "no liquid root: the pressure is below the liquid spinodal");
    }

    // Vapour branch: rises from zero density to the saturated vapour.
    const double top = SaturatedVapourDensityEstimate(T);
    double pt, dpt;
    PressureAndSlope(T, top, pt, dpt);
    if (p <= pt) {
        if (SolveBracketed(T, p, 1e-8, top, 1000.0 * p / (kR * T), rho)) return true;
        return Fail(why, "density iteration did not converge");
    }
    if (p * kMetastable > pt)
        return Fail(why, "pressure above the saturation pressure: water is liquid");
    double x = top;
    for (int it = 0; it < 100; ++it) {
        double px, dpx;
        PressureAndSlope(T, x, px, dpx);
        if (!(dpx > 0)) break;
        const double next = x - (px - p) / dpx;
        if (!(next > 0 && next < kRhoc)) break;
        if (std::fabs(next - x) <= 1e-13 * x) {
            rho = next;
            return true;
        }
        x = next;
    }
    return Fail(why, "no vapour root: the pressure is above the vapour spinodal");
}

} // namespace lumora::iapws95
