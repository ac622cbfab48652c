#include "dataset/DataSetLayout.h"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

using Rows = std::vector<std::vector<CellValue>>;

CellValue Text(const std::string& s) {
    return CellValue{s};
}
CellValue Num(double x) {
    return CellValue{x};
}
CellValue Optional(const std::optional<double>& x) {
    return x ? Num(*x) : CellValue{};
}

bool Contains(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

void AddHeader(const DataSetLayout& d, Rows& rows) {
    rows.push_back({Text(d.title)});
    rows.push_back({Text("Database:"), Text(d.database)});
    rows.push_back({Text("System:"), Text(d.system)});
    rows.push_back({Text("Options:"), d.options.empty() ? CellValue{} : Text(d.options)});
    rows.push_back({Text("T, C:"), Num(d.T)});
    rows.push_back({Text("P, bar:"), Num(d.P)});
    rows.push_back({Text("wl_start:"), Num(d.wlStart)});
    rows.push_back({Text("wl_stop:"), Num(d.wlStop)});
}

void AddSpecies(const DataSetLayout& d, Rows& rows) {
    rows.push_back({Text("Species:"), Num(static_cast<double>(d.species.size())), Text("Initial"),
                    Text("Result"), Text(" \u00b1")});
    for (const LayoutSpecies& sp : d.species)
        rows.push_back({CellValue{}, Text(sp.name), Optional(sp.initial), Optional(sp.result)});
    rows.push_back({Text("Mean err.:")});
}

void AddCompositions(const DataSetLayout& d, Rows& rows) {
    rows.push_back({CellValue{}, Text("Composition, molality")});
    std::vector<std::string> substances;
    for (const auto& sol : d.solutions)
        for (const auto& [f, m] : sol.composition)
            if (!Contains(substances, f)) substances.push_back(f);
    for (const std::string& f : substances) {
        std::vector<CellValue> r{Text(f)};
        for (const auto& sol : d.solutions) {
            double m = 0;
            for (const auto& [g, v] : sol.composition)
                if (g == f) m = v;
            r.push_back(Num(m));
        }
        if (Contains(d.corrected, f)) r.push_back(Text("corrected"));
        rows.push_back(r);
    }
    const bool densities = std::any_of(d.solutions.begin(), d.solutions.end(),
                                       [](const LayoutSolution& s) { return s.density != 1.0; });
    if (densities) {
        std::vector<CellValue> r{Text("Density, g/cm3")};
        for (const auto& sol : d.solutions) r.push_back(Num(sol.density));
        rows.push_back(r);
    }
}

void AddSpectra(const DataSetLayout& d, Rows& rows) {
    rows.push_back({CellValue{}, Text("Absorption spectra")});
    std::vector<CellValue> names{Text("Wavelength, nm")};
    for (const auto& sol : d.solutions) names.push_back(Text(sol.name));
    rows.push_back(names);
    for (size_t i = 0; i < d.wavelengths.size(); ++i) {
        std::vector<CellValue> r{Num(d.wavelengths[i])};
        if (i < d.absorbances.size())
            for (const double a : d.absorbances[i])
                r.push_back(std::isnan(a) ? CellValue{} : Num(a));
        rows.push_back(r);
    }
}

} // namespace

std::vector<std::vector<CellValue>> DataSetRows(const DataSetLayout& layout) {
    Rows rows;
    AddHeader(layout, rows);
    AddSpecies(layout, rows);
    AddCompositions(layout, rows);
    AddSpectra(layout, rows);
    return rows;
}

} // namespace lumora
