#include "import/Titration.h"

#include <algorithm>

namespace lumora {

namespace {

double Amount(const Concentrations& list, const std::string& name) {
    for (const auto& [n, c] : list)
        if (n == name) return c;
    return 0;
}

} // namespace

std::vector<Concentrations> TitrationCompositions(const Titration& t) {
    std::vector<std::string> substances;
    for (const Concentrations* list : {&t.titrand, &t.titrant})
        for (const auto& [name, c] : *list)
            if (std::find(substances.begin(), substances.end(), name) == substances.end())
                substances.push_back(name);
    std::vector<Concentrations> out;
    for (const double v : t.added) {
        Concentrations sol;
        const double total = t.cellVolume + v;
        for (const std::string& name : substances)
            sol.emplace_back(
                name,
                (Amount(t.titrand, name) * t.cellVolume + Amount(t.titrant, name) * v) / total);
        out.push_back(std::move(sol));
    }
    return out;
}

} // namespace lumora
