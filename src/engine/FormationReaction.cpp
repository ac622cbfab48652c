#include "engine/FormationReaction.h"

#include "engine/Database.h"
#include "engine/Formula.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace lumora {

namespace {

constexpr int kHydrogen = 1, kOxygen = 8;
/// Balances closer than this count as met (formula counts are small rational numbers).
constexpr double kTolerance = 1e-9;

struct Composition {
    std::vector<std::pair<int, double>> elements;
    double charge = 0;

    double Amount(int z) const {
        for (const auto& [e, n] : elements)
            if (e == z) return n;
        return 0;
    }
    /// True when every element is `z` or, with `withWater`, H or O.
    bool OnlyOf(int z, bool withWater) const {
        return std::all_of(elements.begin(), elements.end(), [&](const auto& e) {
            return e.first == z || (withWater && (e.first == kHydrogen || e.first == kOxygen));
        });
    }
};

std::optional<Composition> CompositionOf(const Database& db, const std::string& name) {
    const int i = db.Find(name);
    if (i <= 0) return std::nullopt;
    Composition c;
    std::string problem;
    if (!ParseFormula(db, db.Species(i).formula, c.elements, problem)) return std::nullopt;
    c.charge = db.Species(i).charge;
    return c;
}

/// The reference species of element z: made of z alone, else of z with H and O.
std::optional<std::string> ReferenceSpecies(const Database& db,
                                            const std::vector<std::string>& system, int z) {
    for (const bool withWater : {false, true})
        for (size_t s = 1; s < system.size(); ++s) {
            const auto c = CompositionOf(db, system[s]);
            if (c && c->Amount(z) > 0 && c->OnlyOf(z, withWater)) return system[s];
        }
    return std::nullopt;
}

std::optional<std::string> Proton(const Database& db, const std::vector<std::string>& system) {
    for (const std::string& s : system)
        if (const int i = db.Find(s); i > 0 && db.Species(i).model == SpeciesModel::Proton)
            return s;
    return std::nullopt;
}

double Snapped(double v) {
    const double r = std::nearbyint(v);
    return std::fabs(v - r) < kTolerance ? r : v;
}

/// Water and H+ close the H, O and charge balances of `rest` (what the reference species
/// leave); false when they cannot.
bool CloseWithWater(const Composition& rest, const std::vector<std::string>& system,
                    const std::optional<std::string>& proton, Reaction& r) {
    const double water = rest.Amount(kOxygen);
    const double protons = rest.Amount(kHydrogen) - 2.0 * water;
    if (std::fabs(rest.charge - protons) > kTolerance) return false;
    if (!proton && std::fabs(protons) > kTolerance) return false;
    if (std::fabs(water) > kTolerance) r.emplace_back(system.front(), Snapped(water));
    if (std::fabs(protons) > kTolerance) r.emplace_back(*proton, Snapped(protons));
    return true;
}

} // namespace

Reaction FormationReaction(const Database& db, const std::vector<std::string>& system,
                           const std::string& name) {
    if (system.empty() || name == system.front()) return {};
    const auto target = CompositionOf(db, name);
    const auto proton = Proton(db, system);
    if (!target || name == proton || std::find(system.begin(), system.end(), name) == system.end())
        return {};
    Reaction r;
    // What is left of H, O and the charge once the reference species are taken.
    Composition rest{{{kHydrogen, target->Amount(kHydrogen)}, {kOxygen, target->Amount(kOxygen)}},
                     target->charge};
    for (const auto& [z, n] : target->elements) {
        if (z == kHydrogen || z == kOxygen) continue;
        const auto ref = ReferenceSpecies(db, system, z);
        if (!ref || *ref == name) return {};
        const Composition c = *CompositionOf(db, *ref);
        const double moles = n / c.Amount(z);
        r.emplace_back(*ref, Snapped(moles));
        rest.elements[0].second -= moles * c.Amount(kHydrogen);
        rest.elements[1].second -= moles * c.Amount(kOxygen);
        rest.charge -= moles * c.charge;
    }
    if (!CloseWithWater(rest, system, proton, r)) return {};
    return r;
}

} // namespace lumora
