#include "dataset/FormationConstants.h"

#include "base/Constants.h"
#include "dataset/StartValue.h"

#include <cmath>
#include <optional>

namespace lumora {

namespace {

constexpr double kGasConstant = 8.31446261815324e-3; // kJ/(mol K)

std::vector<std::string> AqueousSpecies(const State& st) {
    std::vector<std::string> names;
    for (int i = st.AqFirst; i <= st.AqLast; ++i)
        names.push_back(st.sysRec.spName.at(static_cast<size_t>(i)));
    return names;
}

/// The report's species of this name, or nullptr.
const FitReport::Species* Listed(const FitReport& report, const std::string& name) {
    for (const auto& sp : report.species)
        if (sp.name == name) return &sp;
    return nullptr;
}

/// G (kJ/mol) of a basis species: the report's value when it is listed, else the
/// engine's at the data set's conditions.
std::optional<double> BasisGibbs(State& st, const FitReport& report, const std::string& name) {
    if (const auto* sp = Listed(report, name)) return sp->result;
    const float g = StartValue(st, st.props->SpeciesCode(st.props->FindSpecies(name)));
    if (!(std::fabs(static_cast<double>(g)) < kMissingLimit)) return std::nullopt;
    return g;
}

/// The half-width (kJ/mol) of sum of c x G over the refined species, c by species name;
/// none when a refined species in the sum has no interval (a zero is no exact value).
std::optional<double> PropagatedHalfWidth(const FitReport& report,
                                          const std::vector<std::pair<std::string, double>>& c) {
    std::vector<std::pair<double, size_t>> terms; // c x pm, position among the free species
    size_t k = 0;
    for (const auto& sp : report.species) {
        if (!sp.free) continue;
        for (const auto& [name, coef] : c) {
            if (name != sp.name) continue;
            if (sp.pm == 0 || !sp.determined) return std::nullopt;
            terms.emplace_back(coef * sp.pm, k);
        }
        ++k;
    }
    const bool correlated = report.correlation.size() == k;
    double var = 0;
    for (const auto& [a, i] : terms)
        for (const auto& [b, j] : terms)
            var += a * b * (i == j ? 1.0 : correlated ? report.correlation[i].at(j) : 0.0);
    return std::sqrt(std::max(var, 0.0));
}

} // namespace

void AddFormationConstants(State& st, FitReport& report) {
    if (!st.props || st.AqLast < st.AqFirst || st.AqFirst < 1) return;
    const std::vector<std::string> system = AqueousSpecies(st);
    const double rtLn10 = kGasConstant * (static_cast<double>(st.TC) + 273.15) * std::log(10.0);
    for (auto& sp : report.species) {
        const Reaction reaction = st.props->Formation(system, sp.name);
        if (reaction.empty()) continue;
        double dG = sp.result;
        std::vector<std::pair<std::string, double>> c{{sp.name, 1.0}};
        bool known = true;
        for (const auto& [name, nu] : reaction) {
            const std::optional<double> g = BasisGibbs(st, report, name);
            known = known && g.has_value();
            dG -= nu * g.value_or(0.0);
            c.emplace_back(name, -nu);
        }
        if (!known) continue;
        sp.logK = -dG / rtLn10;
        if (const auto pm = PropagatedHalfWidth(report, c)) sp.logK_pm = *pm / rtLn10;
    }
}

} // namespace lumora
