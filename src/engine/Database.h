#pragma once
// The thermodynamic database: elements and species with their models and sources,
// read from a TOML file. Used by the properties component and the solver.
//
// Besides the chemical elements a database may declare components, names that act as
// elements in formulas (components = ["Host", "Guest"] with species formulas such
// as "HostGuest2"), for systems of titrations whose partners are no single element.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumora {

/// One chemical element.
struct ElementInfo {
    /// Symbol ("Co")
    std::string symbol;
    /// Atomic number
    int16_t z = 0;
    /// Molar mass (g/mol)
    double molarMass = 0.0;
};

/// How a species' standard Gibbs energy is found.
enum class SpeciesModel {
    Water,     ///< IAPWS-95 on the geochemical convention
    Proton,    ///< H+, zero by convention
    Hydroxide, ///< OH- from the ionization constant of water
    Hkf,       ///< revised HKF equation of state
    LogK,      ///< formation reaction with log K(T, density)
    Fixed,     ///< a given Gibbs energy, constant or a table in T
    Other      ///< species of other phases (gases, minerals)
};

/// Revised HKF parameters in the SUPCRT scaling (cal, bar, K).
struct HkfParams {
    /// Apparent standard Gibbs energy of formation at 25 C, 1 bar (cal/mol)
    double Gf = 0;
    /// Enthalpy of formation (cal/mol)
    double Hf = 0;
    /// Entropy (cal/(mol K))
    double S = 0;
    /// a1 x 10 (cal/(mol bar)), a2 x 1e-2 (cal/mol), a3 (cal K/(mol bar)), a4 x 1e-4 (cal K/mol)
    double a1 = 0, a2 = 0, a3 = 0, a4 = 0;
    /// c1 (cal/(mol K)), c2 x 1e-4 (cal K/mol)
    double c1 = 0, c2 = 0;
    /// omega x 1e-5 (cal/mol)
    double omega = 0;
};

/// Formation reaction: the species forms from `reactants` (species name, coefficient),
/// which the database file lists before the species;
/// log K(T, rho) = a + b/T + c/T^2 + d/T^3 + (e + f/T + g/T^2) log10(rho), T in K,
/// rho in g/cm3 (a density model of the Anderson et al. 1991 kind).
struct LogKParams {
    std::vector<std::pair<std::string, double>> reactants;
    double a = 0, b = 0, c = 0, d = 0, e = 0, f = 0, g = 0;
};

/// A Gibbs energy given outright: one value for every T and P, or a table of
/// (T, G) points interpolated linearly in T (no value outside the table).
struct FixedParams {
    /// (T in C, G in kJ/mol), T strictly increasing; one point means a constant
    std::vector<std::pair<double, double>> points;
};

/// Codes of components: names that act as elements in formulas ("Host", "Guest"),
/// numbered after every atomic number and within a character, as formula element
/// lists carry them.
inline constexpr int kFirstComponentCode = 128;
inline constexpr int kLastComponentCode = 255;

/// Ion size (Angstrom) of charged species without a published value, the usual choice
/// for complexes in B-dot databases.
inline constexpr double kDefaultIonSize = 4.0;

struct SpeciesRecord {
    /// Name as data sets write it ("CoCl+", "CoCl2(aq)")
    std::string name;
    /// Chemical formula without charge ("CoCl", "CoCl2")
    std::string formula;
    /// Charge
    double charge = 0;
    /// Phase ("aqueous", "gas", "mineral")
    std::string phase = "aqueous";
    /// SpeciesCode: 0 water, 1 H+, 2 OH-, 3..1023 HKF, 1024..2047 log K and fixed,
    /// 2048.. other phases
    int16_t code = -1;
    SpeciesModel model = SpeciesModel::Other;
    HkfParams hkf;
    LogKParams logk;
    FixedParams fixed;
    /// Ion size parameter of the B-dot model (Angstrom); kDefaultIonSize for charged
    /// species whose file entry gives none
    double ionSize = 0;
    /// Literature source of the numbers
    std::string source;
};

class Database {
public:
    /// Reads a TOML database; false with a message naming file, line and problem.
    bool Load(const std::string& path, std::string& message);
    const std::string& Path() const { return path_; }

    /// Number of species; species are numbered 1..Count().
    int Count() const { return static_cast<int>(species_.size()); }
    /// Species by 1-based index.
    const SpeciesRecord& Species(int index) const {
        return species_.at(static_cast<size_t>(index - 1));
    }
    /// 1-based index of the species with this exact name, -1 when absent.
    int Find(const std::string& name) const;

    /// Element or component by symbol or code; nullptr when unknown.
    const ElementInfo* Element(const std::string& symbol) const;
    const ElementInfo* ElementByZ(int z) const;
    /// The chemical elements, then the components (codes from kFirstComponentCode).
    const std::vector<ElementInfo>& Elements() const { return elements_; }

private:
    std::string path_;
    std::vector<ElementInfo> elements_;
    std::vector<SpeciesRecord> species_;
};

} // namespace lumora
