#include "engine/WaterState.h"

#include "engine/Database.h"
#include "engine/HkfEquation.h"
#include "engine/WaterIonization.h"

#include <cmath>

namespace lumora {

namespace {

constexpr double kGasConstant = 8.31446261815324; // J/(mol K)
constexpr double kLn10 = 2.302585092994046;

/// G (kJ/mol) of a fixed species at t (C): its constant, or the table interpolated
/// linearly; false outside the table (a rounding of the ends still counts as inside).
bool FixedGibbs(const FixedParams& f, double t, double& G) {
    const auto& p = f.points;
    if (p.size() == 1) {
        G = p.front().second;
        return true;
    }
    constexpr double kSlack = 1e-6;
    if (p.empty() || t < p.front().first - kSlack || t > p.back().first + kSlack) return false;
    size_t i = 1;
    while (i + 1 < p.size() && t > p[i].first) ++i;
    const auto& [t0, g0] = p[i - 1];
    const auto& [t1, g1] = p[i];
    G = g0 + (g1 - g0) * (t - t0) / (t1 - t0);
    return true;
}

bool Gibbs(const Database& db, int index, const WaterState& w, double& G, int depth) {
    if (!w.ok || index < 1 || index > db.Count() || depth > 16) return false;
    const SpeciesRecord& s = db.Species(index);
    double value = 0;
    switch (s.model) {
    case SpeciesModel::Water:
        value = w.G;
        break;
    case SpeciesModel::Proton:
        value = 0.0;
        break;
    case SpeciesModel::Hydroxide:
        // H2O = H+ + OH-: G(OH-) = G(H2O) - G(H+) - RT ln Kw, with G(H+) = 0.
        value = w.G + kGasConstant * w.T * kLn10 * WaterPKw(w.T, w.rho);
        break;
    case SpeciesModel::Hkf:
        value = HkfEquation(s.hkf, s.charge).G0(w.T, w.P, w.rho, w.eps);
        break;
    case SpeciesModel::LogK: {
        // sum(nu_i A_i) = species with K: G = sum(nu_i G_i) - RT ln K.
        const LogKParams& k = s.logk;
        const double T = w.T;
        const double logK = k.a + k.b / T + k.c / (T * T) + k.d / (T * T * T) +
                            (k.e + k.f / T + k.g / (T * T)) * std::log10(w.rho);
        double sum = 0;
        for (const auto& [name, nu] : k.reactants) {
            double gi = 0;
            if (!Gibbs(db, db.Find(name), w, gi, depth + 1)) return false;
            sum += nu * gi;
        }
        value = sum - kGasConstant * T * kLn10 * logK;
        break;
    }
    case SpeciesModel::Fixed:
        if (!FixedGibbs(s.fixed, w.T - 273.15, value)) return false;
        value *= 1000.0;
        break;
    case SpeciesModel::Other:
        return false; // no standard-state model for other phases yet
    }
    if (!std::isfinite(value)) return false;
    G = value;
    return true;
}

} // namespace

bool StandardGibbs(const Database& db, int index, const WaterState& w, double& G) {
    return Gibbs(db, index, w, G, 0);
}

} // namespace lumora
