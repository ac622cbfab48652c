#pragma once
// The cells of a new data-set sheet: the keyword rows, the species block, the
// compositions and the spectra, laid out as the reader expects them. New workbooks
// (generated sets, templates, imports) are written from it.

#include "sheet/CellValue.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora {

struct LayoutSpecies {
    std::string name;
    /// Gibbs energies (kJ/mol) of the "Initial" and "Result" cells (empty when unset)
    std::optional<double> initial, result;
};

struct LayoutSolution {
    std::string name;
    /// Substance formula and molality (mol/kg)
    std::vector<std::pair<std::string, double>> composition;
    /// Density (g/cm3)
    double density = 1.0;
};

struct DataSetLayout {
    std::string title;
    std::string database = "thermo.toml";
    std::string system;
    std::string options;
    /// Temperature (C) and pressure (bar, 0 = saturation)
    double T = 25, P = 1;
    double wlStart = 0, wlStop = 0;
    std::vector<LayoutSpecies> species;
    std::vector<LayoutSolution> solutions;
    /// Substances whose rows are marked "corrected"
    std::vector<std::string> corrected;
    /// Wavelengths (nm) and their absorbances, one per solution (NaN: empty cell)
    std::vector<double> wavelengths;
    std::vector<std::vector<double>> absorbances;
};

/// The sheet's rows from row 1. Substance rows follow the order in which the
/// solutions first name them; the density row appears when a density differs from 1.
std::vector<std::vector<CellValue>> DataSetRows(const DataSetLayout& layout);

} // namespace lumora
