#include "engine/EngineProps.h"

#include "engine/EngineFactory.h"
#include "engine/Formula.h"
#include "engine/WaterDielectric.h"
#include "engine/WaterIapws95.h"
#include "engine/WaterIonization.h"
#include "engine/WaterState.h"

#include <cctype>
#include <cmath>

namespace lumora {

namespace {

constexpr double kGasConstant = 8.31446261815324; // J/(mol K)
constexpr double kLn10 = 2.302585092994046;
constexpr double kMissing = 1e33; // inputs from here on are failed values of a caller

bool ValidT(float T) {
    return std::isfinite(T) && iapws95::InTemperatureRange(T);
}
bool ValidRho(float rho) {
    return std::isfinite(rho) && rho > 0 && rho < 1.6f;
}

/// A finite double as a float, or the failure value.
float ToFloat(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= kMissing) return EngineProps::kFailed;
    return static_cast<float>(v);
}

} // namespace

int16_t EngineProps::Version() {
    return kEngineVersion;
}

void EngineProps::OpenDatabase(const std::string& path) {
    indexOfCode_.clear();
    if (!db_.Load(path, message_)) {
        // A data set naming a database that cannot be read must not go on with the
        // previous one: every lookup now fails and the reader reports it.
        db_ = Database();
        return;
    }
    for (int i = 1; i <= db_.Count(); ++i) {
        const int code = db_.Species(i).code;
        if (code < 0) continue;
        if (indexOfCode_.size() <= static_cast<size_t>(code)) indexOfCode_.resize(code + 1, 0);
        indexOfCode_[code] = i;
    }
}

int16_t EngineProps::FindSpecies(const std::string& name) {
    return static_cast<int16_t>(db_.Find(name));
}

int16_t EngineProps::SpeciesCode(int16_t index) {
    if (index < 1 || index > db_.Count()) return -1;
    return db_.Species(index).code;
}

float EngineProps::ElementCoefficient(const std::string& formula, int16_t element) {
    std::vector<std::pair<int, double>> elements;
    if (!ParseFormula(db_, formula, elements, message_)) return 0.0f;
    for (const auto& [z, n] : elements)
        if (z == element) return static_cast<float>(n);
    return 0.0f;
}

std::string EngineProps::FormulaElements(const std::string& formula) {
    std::vector<std::pair<int, double>> elements;
    std::string out;
    if (ParseFormula(db_, formula, elements, message_)) {
        for (const auto& e : elements) out += static_cast<char>(e.first);
        return out;
    }
    // The known elements up to the first unknown symbol (or the syntax fault), then the
    // character of code 0 that marks the failure.
    for (size_t i = 0; i < formula.size();) {
        if (!std::isupper(static_cast<unsigned char>(formula[i]))) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < formula.size() && std::islower(static_cast<unsigned char>(formula[j]))) ++j;
        const ElementInfo* el = db_.Element(formula.substr(i, j - i));
        if (el == nullptr) break;
        if (out.find(static_cast<char>(el->z)) == std::string::npos)
            out += static_cast<char>(el->z);
        i = j;
    }
    out += '\0';
    return out;
}

float EngineProps::SaturationPressure(float T) {
    double P = 0, rho = 0;
    if (!ValidT(T) || !WaterSaturation(T, P, rho)) return kFailed;
    return ToFloat(P);
}

float EngineProps::WaterDensity(float T, float bar, int16_t flag) {
    if (!ValidT(T) || !std::isfinite(bar) || bar < 0 || bar > 10000) return kFailed;
    if (bar == 0) {
        double p, rl, rv;
        if (!(T < iapws95::kTc) || !iapws95::Saturation(T, p, rl, rv)) return kFailed;
        return ToFloat((flag == 0 ? rl : rv) / 1000.0);
    }
    double rho = 0;
    const auto root = flag == 0 ? iapws95::Root::Liquid : iapws95::Root::Vapour;
    if (!iapws95::Density(T, bar / 10.0, root, rho, &message_)) return kFailed;
    return ToFloat(rho / 1000.0);
}

float EngineProps::WaterValueA(float T, float density) {
    if (!ValidT(T) || !ValidRho(density)) return kFailed;
    return ToFloat(WaterDielectric(T, density));
}

float EngineProps::WaterValueB(float T, float bar, float density) {
    (void)bar; // the density fixes the state
    if (!ValidT(T) || !ValidRho(density)) return kFailed;
    return ToFloat(WaterG(T, density));
}

double EngineProps::WaterG(float T, float density) {
    if (T != cachedT_ || density != cachedRho_) {
        cachedG_ = WaterGibbsEnergy(T, density);
        cachedT_ = T;
        cachedRho_ = density;
    }
    return cachedG_;
}

float EngineProps::StartValueCode2(float T, float density, float waterB) {
    if (!ValidT(T) || !ValidRho(density) || !std::isfinite(waterB) || std::fabs(waterB) >= kMissing)
        return kFailed;
    // H2O = H+ + OH- with G(H+) = 0: G(OH-) = G(H2O) - RT ln Kw.
    return ToFloat(waterB + kGasConstant * T * kLn10 * WaterPKw(T, density));
}

float EngineProps::StartValue(int16_t code, float T, float bar, float density, float waterA) {
    if (code < 0 || static_cast<size_t>(code) >= indexOfCode_.size() || indexOfCode_[code] == 0)
        return kFailed;
    if (!ValidT(T) || !ValidRho(density) || !std::isfinite(bar) || bar < 0 || bar > 10000 ||
        !std::isfinite(waterA) || waterA <= 1 || waterA >= kMissing)
        return kFailed;
    WaterState w;
    w.T = T;
    w.rho = density;
    w.P = bar > 0 ? static_cast<double>(bar) : iapws95::Pressure(T, density * 1000.0) * 10.0;
    w.eps = waterA;
    w.G = WaterG(T, density);
    w.ok = std::isfinite(w.P) && std::isfinite(w.G);
    double G = 0;
    if (!StandardGibbs(db_, indexOfCode_[code], w, G)) return kFailed;
    return ToFloat(G / 1000.0);
}

float EngineProps::StartValueLow(int16_t code, float T, float bar, float density, float waterA) {
    if (code < 0 || code > 1023) return kFailed;
    return StartValue(code, T, bar, density, waterA);
}

float EngineProps::StartValueHigh(int16_t code, float T, float bar, float density, float waterA,
                                  int16_t flag) {
    (void)flag;
    if (code < 1024 || code > 2047) return kFailed;
    return StartValue(code, T, bar, density, waterA);
}

} // namespace lumora
