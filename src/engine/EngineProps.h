#pragma once
// The properties component of the engine: database lookup, element composition of
// formulas, water properties and start values of standard Gibbs energies.

#include "engine/Database.h"
#include "engine/Props.h"

#include <string>
#include <vector>

namespace lumora {

class EngineProps : public Props {
public:
    /// Returned instead of a value that cannot be computed (never NaN).
    static constexpr float kFailed = 1e35f;

    int16_t Version() override;
    void OpenDatabase(const std::string& path) override;
    int16_t FindSpecies(const std::string& name) override;
    int16_t SpeciesCode(int16_t index) override;
    float ElementCoefficient(const std::string& formula, int16_t element) override;
    std::string FormulaElements(const std::string& formula) override;
    float SaturationPressure(float T) override;
    float WaterDensity(float T, float bar, int16_t flag) override;
    float WaterValueA(float T, float density) override;
    float WaterValueB(float T, float bar, float density) override;
    float StartValueCode2(float T, float density, float waterB) override;
    float StartValueLow(int16_t code, float T, float bar, float density, float waterA) override;
    float StartValueHigh(int16_t code, float T, float bar, float density, float waterA,
                         int16_t flag) override;
    Reaction Formation(const std::vector<std::string>& system, const std::string& name) override {
        return FormationReaction(db_, system, name);
    }
    std::string LastMessage() override { return message_; }

    const Database& database() const { return db_; }

private:
    float StartValue(int16_t code, float T, float bar, float density, float waterA);
    /// Gibbs energy of water at (T, density), remembered for the run of species that the
    /// reader asks for at one state.
    double WaterG(float T, float density);

    Database db_;
    std::string message_;
    /// Database index of each species code (0 when the code is not used).
    std::vector<int> indexOfCode_;
    float cachedT_ = -1, cachedRho_ = -1;
    double cachedG_ = 0;
};

} // namespace lumora
