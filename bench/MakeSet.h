#pragma once
// The data-set generator: from a description of a chemical system, "true" Gibbs
// energies, absorptivity bands and solution compositions, it computes the speciation
// with the engine and lays out a complete data-set sheet with noisy spectra.

#include "dataset/DataSetLayout.h"

#include <string>
#include <utility>
#include <vector>

namespace lumora {

/// One Gaussian absorption band in wavelength: height exp(-4 ln 2 ((wl - center)/width)^2).
struct Band {
    /// Center (nm)
    double center = 0;
    /// Full width at half maximum (nm)
    double width = 0;
    /// Molar absorptivity at the center (l/(mol cm))
    double height = 0;
};

struct SetSpecies {
    std::string name;
    /// Shift of the true Gibbs energy from the database value (kJ/mol)
    double shift = 0;
    /// Refined (the "Result" cell left empty) or fixed at its true value
    bool refine = true;
    std::vector<Band> bands;
};

using SetSolution = LayoutSolution;

struct SetSpec {
    std::string title;
    std::string database = "thermo.toml";
    std::string system;
    std::string options;
    /// Temperature (C) and pressure (bar, 0 = saturation)
    double T = 25, P = 1;
    double wlStart = 0, wlStop = 0, wlStep = 1;
    /// Wavelengths written outside the window on each side
    int extraRows = 0;
    /// Standard deviation of the absorbance noise
    double noise = 0;
    unsigned seed = 1;
    /// Substances whose rows are marked "corrected"
    std::vector<std::string> corrected;
    std::vector<SetSpecies> species;
    std::vector<SetSolution> solutions;
};

/// Reads a generator description (TOML); false with a message.
bool LoadSetSpec(const std::string& path, SetSpec& spec, std::string& error);

/// Result of a generation: the sheet's rows from row 1, and the true Gibbs energies.
struct GeneratedSet {
    std::vector<std::vector<CellValue>> rows;
    /// True Gibbs energies (kJ/mol) of the listed species at T, P
    std::vector<double> trueG;
};

/// Computes the speciation and spectra. Relative database and system paths resolve
/// against `baseDir`, then the bundled data folder. False with a message.
bool GenerateSet(const SetSpec& spec, const std::string& baseDir, GeneratedSet& out,
                 std::string& error);

} // namespace lumora
