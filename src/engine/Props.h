#pragma once
// The properties component: species lookup, start values of Gibbs energies,
// element composition of formulas and water properties. T in kelvin, P in bar.

#include "engine/FormationReaction.h"

#include <cstdint>
#include <string>

namespace lumora {

class Props {
public:
    virtual ~Props() = default;

    virtual int16_t Version() = 0;
    virtual void OpenDatabase(const std::string& path) = 0;
    /// 1-based index of the species in the database, -1 when absent.
    virtual int16_t FindSpecies(const std::string& name) = 0;
    /// -1 not found, 0 water, 1 H+, 2 OH-, 3..1023 HKF species, 1024..2047 log K and
    /// fixed species, 2048 and above other phases.
    virtual int16_t SpeciesCode(int16_t index) = 0;
    /// Moles of element (atomic number) per mole of the formula.
    virtual float ElementCoefficient(const std::string& formula, int16_t element) = 0;
    /// One character per element, its code the atomic number; an unknown symbol ends
    /// the text with the character of code 0.
    virtual std::string FormulaElements(const std::string& formula) = 0;
    /// Saturation pressure (bar) at T.
    virtual float SaturationPressure(float T) = 0;
    /// Density of water (g/cm3) at T, bar (0 = saturation pressure); flag 0 selects the
    /// liquid (or supercritical) root, 1 the vapour root.
    virtual float WaterDensity(float T, float bar, int16_t flag) = 0;
    /// Dielectric constant of water.
    virtual float WaterValueA(float T, float density) = 0;
    /// Gibbs energy of water (J/mol).
    virtual float WaterValueB(float T, float bar, float density) = 0;
    /// Gibbs energy of OH- (J/mol).
    virtual float StartValueCode2(float T, float density, float waterB) = 0;
    /// Gibbs energy (kJ/mol) of an HKF species (codes 3..1023); magnitude >= 1e33 on failure.
    virtual float StartValueLow(int16_t code, float T, float bar, float density, float waterA) = 0;
    /// Gibbs energy (kJ/mol) of a log K or fixed species (codes 1024..2047); magnitude >= 1e33
    /// on failure.
    virtual float StartValueHigh(int16_t code, float T, float bar, float density, float waterA,
                                 int16_t flag) = 0;
    /// Formation of species `name` from the basis of the aqueous species `system` (water
    /// first), see FormationReaction.h; empty when not defined.
    virtual Reaction Formation(const std::vector<std::string>& system, const std::string& name) {
        (void)system;
        (void)name;
        return {};
    }
    /// Why the last OpenDatabase or formula failed ("" after success).
    virtual std::string LastMessage() { return {}; }
};

} // namespace lumora
