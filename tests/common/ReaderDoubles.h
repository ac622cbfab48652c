#pragma once
// The three engine components as the reader sees them, each able to refuse or fail
// where a reader code needs it (database, options, system, no aqueous phase, p.m.c.,
// a start value). The sheet side is the real embedded host.

#include "model/State.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace lumora::test {

/// Records the database and options it is given; each step can be refused.
class ReaderSolver : public Solver {
public:
    void Shutdown() override {}
    void SetOptions(const std::string& text) override {
        options = text, last_ = refuseOptions ? "Unknown switch" : "";
    }
    void OpenDatabase(const std::string& path) override {
        database = path, last_ = refuseDatabase ? "Cannot read database" : "";
    }
    void OpenSystem(const std::string&) override {
        last_ = refuseSystem ? "Cannot read system" : "System file accepted";
    }
    void SetSpeciesG(int16_t, float) override {}
    std::string LastMessage() override { return last_; }
    void SetControl(int, int) override {}
    void Equilibrate(float, float, std::span<double>, std::span<const double>, std::span<double>,
                     std::span<double>, int16_t& code) override {
        code = 1;
    }
    int16_t Version() override { return 70; }

    std::string database, options;
    bool refuseDatabase = false, refuseOptions = false, refuseSystem = false;

private:
    std::string last_;
};

/// Species by name with their codes (HKF below 1024, log K below 2048, gases above),
/// formulas by element (atomic number, coefficient), and known start values:
/// -(100 + code / 8) for HKF and -(200 + code / 16) for log K species.
class ReaderProps : public Props {
public:
    int16_t Version() override { return 70; }
    void OpenDatabase(const std::string&) override {}
    int16_t FindSpecies(const std::string& name) override {
        for (size_t i = 0; i < species.size(); ++i)
            if (species[i].first == name) return static_cast<int16_t>(i);
        return -1;
    }
    int16_t SpeciesCode(int16_t i) override { return i < 0 ? -1 : species[size_t(i)].second; }
    float ElementCoefficient(const std::string& formula, int16_t z) override {
        for (const auto& [element, n] : formulas.at(formula))
            if (element == z) return n;
        return 0.0f;
    }
    std::string FormulaElements(const std::string& formula) override {
        const auto it = formulas.find(formula);
        if (it == formulas.end()) return std::string(1, '\0'); // an unknown symbol
        std::string out;
        for (const auto& e : it->second) out += static_cast<char>(e.first);
        return out;
    }
    float SaturationPressure(float) override { return 0.0317f; }
    float WaterDensity(float, float, int16_t) override { return 0.997f; }
    float WaterValueA(float, float) override { return 78.4f; }
    float WaterValueB(float, float, float) override { return -237183.0f; }
    float StartValueCode2(float, float, float) override { return -157250.0f; }
    float StartValueLow(int16_t c, float, float, float, float) override {
        return c == failingCode ? 1e35f : -(100.0f + c / 8.0f);
    }
    float StartValueHigh(int16_t c, float, float, float, float, int16_t) override {
        return c == failingCode ? 1e35f : -(200.0f + c / 16.0f);
    }

    std::vector<std::pair<std::string, int16_t>> species{
        {"H2O", 0}, {"OH-", 2}, {"CoCl+", 500}, {"CoCl2", 1500}, {"HCl(g)", 2100}, {"Fe+2", 400}};
    std::map<std::string, std::vector<std::pair<int16_t, float>>> formulas{
        {"NaCl", {{11, 1.0f}, {17, 1.0f}}},
        {"CoCl2", {{27, 1.0f}, {17, 2.0f}}},
        {"HCl", {{1, 1.0f}, {17, 1.0f}}},
        {"density, g/cm3", {}},
        {"weight", {}}};
    int16_t failingCode = -1;
};

/// System: one gas species, then the aqueous phase H2O .. NaCl (species 2..10), the
/// elements H, O, Na, Cl, Co.
class ReaderSysReader : public SysReader {
public:
    int16_t Version() override { return 70; }
    void ReadSystem(const std::string&, SysRec& rec) override { rec = record; }
    std::string LastMessage() override { return ""; }

    SysRec record = [] {
        SysRec r;
        r.nElem = 5, r.nPmc = 0, r.nAq = 9, r.lastAq = 10;
        r.phases = {{1, 0, "gas"}, {9, 1, "aqueous"}};
        r.elemCode = {0, 1, 8, 11, 17, 27};
        r.spName = {"",    "HCl(g)", "H2O",   "H+",    "OH-", "Na+",
                    "Cl-", "Co+2",   "CoCl+", "CoCl2", "NaCl"};
        return r;
    }();
};

} // namespace lumora::test
