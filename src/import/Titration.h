#pragma once
// The compositions of a titration's solutions: a cell holding a volume of the titrand,
// to which the titrant is added before each spectrum; every substance is diluted by
// the growing volume.

#include <string>
#include <utility>
#include <vector>

namespace lumora {

/// Substance formula and concentration (mol/l).
using Concentrations = std::vector<std::pair<std::string, double>>;

struct Titration {
    /// Volume of titrand in the cell before the first addition
    double cellVolume = 0;
    /// Concentrations of the titrand (the cell's first solution) and of the titrant
    Concentrations titrand, titrant;
    /// Total volume of titrant added before each spectrum, in the unit of cellVolume
    std::vector<double> added;
};

/// The composition of the cell at each spectrum: for a substance X and added volume v,
/// (c_titrand(X) V0 + c_titrant(X) v) / (V0 + v). Substances in order of first mention,
/// titrand first.
std::vector<Concentrations> TitrationCompositions(const Titration& t);

} // namespace lumora
