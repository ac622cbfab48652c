#include "MakeSet.h"

#include "engine/EngineFactory.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

namespace lumora {

namespace fs = std::filesystem;

namespace {

constexpr double kWater = 55.50843;

std::string Resolve(const std::string& p, const std::string& baseDir) {
    if (p.empty() || fs::path(p).is_absolute()) return p;
    const fs::path local = fs::path(baseDir) / p;
    if (fs::exists(local)) return local.string();
    const fs::path bundled = fs::path(LUMORA_DATA_DIR) / p;
    if (fs::exists(bundled)) return bundled.string();
    return local.string();
}

double Absorptivity(const SetSpecies& sp, double wl) {
    double e = 0;
    for (const Band& b : sp.bands) {
        const double u = (wl - b.center) / b.width;
        e += b.height * std::exp(-4.0 * std::log(2.0) * u * u);
    }
    return e;
}

} // namespace

bool LoadSetSpec(const std::string& path, SetSpec& spec, std::string& error) {
    toml::table t;
    try {
        t = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        error = path + ", line " + std::to_string(e.source().begin.line) + ": " +
                std::string(e.description());
        return false;
    }
    spec.title = t["title"].value_or(std::string());
    spec.database = t["database"].value_or(std::string("thermo.toml"));
    spec.system = t["system"].value_or(std::string());
    spec.options = t["options"].value_or(std::string());
    spec.T = t["T"].value_or(25.0);
    spec.P = t["P"].value_or(1.0);
    spec.wlStart = t["wl_start"].value_or(0.0);
    spec.wlStop = t["wl_stop"].value_or(0.0);
    spec.wlStep = t["wl_step"].value_or(1.0);
    spec.extraRows = t["extra_rows"].value_or(0);
    spec.noise = t["noise"].value_or(0.0);
    spec.seed = static_cast<unsigned>(t["seed"].value_or(1));
    if (auto* arr = t["corrected"].as_array())
        for (auto& v : *arr)
            if (auto s = v.value<std::string>()) spec.corrected.push_back(*s);
    if (auto* arr = t["species"].as_array())
        for (auto& node : *arr) {
            auto* s = node.as_table();
            if (!s) continue;
            SetSpecies sp;
            sp.name = (*s)["name"].value_or(std::string());
            sp.shift = (*s)["shift"].value_or(0.0);
            sp.refine = (*s)["refine"].value_or(true);
            if (auto* bands = (*s)["bands"].as_array())
                for (auto& b : *bands)
                    if (auto* ba = b.as_array(); ba && ba->size() == 3)
                        sp.bands.push_back({(*ba)[0].value_or(0.0), (*ba)[1].value_or(1.0),
                                            (*ba)[2].value_or(0.0)});
            spec.species.push_back(sp);
        }
    if (auto* arr = t["solutions"].as_array())
        for (auto& node : *arr) {
            auto* s = node.as_table();
            if (!s) continue;
            SetSolution sol;
            sol.name = (*s)["name"].value_or(std::string());
            sol.density = (*s)["density"].value_or(1.0);
            if (auto* comp = (*s)["composition"].as_table())
                for (auto&& [k, v] : *comp)
                    sol.composition.push_back({std::string(k.str()), v.value_or(0.0)});
            spec.solutions.push_back(sol);
        }
    if (spec.system.empty() || spec.species.empty() || spec.solutions.empty() || spec.wlStep <= 0 ||
        spec.wlStop < spec.wlStart) {
        error = path + ": system, species, solutions and a wavelength window are needed";
        return false;
    }
    return true;
}

bool GenerateSet(const SetSpec& spec, const std::string& baseDir, GeneratedSet& out,
                 std::string& error) {
    auto solver = CreateSolver();
    auto props = CreateProps();
    auto reader = CreateSysReader();
    if (!solver || !props || !reader) {
        error = "The engine is not available";
        return false;
    }
    const std::string db = Resolve(spec.database, baseDir);
    const std::string sys = Resolve(spec.system, baseDir);
    solver->OpenDatabase(db);
    if (!solver->LastMessage().empty()) return error = solver->LastMessage(), false;
    props->OpenDatabase(db);
    solver->SetOptions(spec.options + "/mode=1");
    if (!solver->LastMessage().empty()) return error = solver->LastMessage(), false;
    solver->OpenSystem(sys);
    if (solver->LastMessage() != "System file accepted")
        return error = solver->LastMessage(), false;
    SysRec rec;
    reader->ReadSystem(sys, rec);
    if (rec.nAq == 0) return error = "No aqueous solution in " + sys, false;

    const float TK = static_cast<float>(spec.T + 273.15);
    float P = static_cast<float>(spec.P);
    if (P == 0) P = std::max(1.0f, props->SaturationPressure(TK));
    const float dens = props->WaterDensity(TK, P, 0);
    const float epsW = props->WaterValueA(TK, dens);
    const int aqFirst = rec.phases.empty() ? 1 : rec.phases.back().offset + 1;

    // True Gibbs energies: the database value at T, P plus the chosen shift.
    std::vector<int> idx;
    out.trueG.clear();
    for (const SetSpecies& sp : spec.species) {
        int found = -1;
        for (int i = aqFirst; i <= rec.lastAq; ++i)
            if (rec.spName[static_cast<size_t>(i)] == sp.name) found = i;
        if (found < 0) return error = sp.name + " is not in the system", false;
        const int code = props->SpeciesCode(props->FindSpecies(sp.name));
        double g = 0;
        if (code >= 3 && code < 1024)
            g = props->StartValueLow(static_cast<int16_t>(code), TK, P, dens, epsW);
        else if (code >= 1024 && code < 2048)
            g = props->StartValueHigh(static_cast<int16_t>(code), TK, P, dens, epsW, 0);
        else
            return error = sp.name + ": only complexes and ions with model data can be generated",
                   false;
        if (!(std::fabs(g) < 1e33))
            return error = sp.name + ": no Gibbs energy at these conditions", false;
        g += sp.shift;
        idx.push_back(found);
        out.trueG.push_back(g);
        solver->SetSpeciesG(static_cast<int16_t>(found), static_cast<float>(g));
    }

    // Substance rows: their element amounts in the system's element order.
    std::vector<std::string> substances;
    for (const auto& sol : spec.solutions)
        for (const auto& [f, m] : sol.composition)
            if (std::find(substances.begin(), substances.end(), f) == substances.end())
                substances.push_back(f);
    const int nEl = rec.nElem;
    std::vector<std::vector<double>> perUnit;
    for (const std::string& f : substances) {
        std::vector<double> e(static_cast<size_t>(nEl) + 1, 0.0);
        for (const unsigned char c : props->FormulaElements(f)) {
            if (c == 0) return error = "Unknown element in " + f, false;
            bool known = false;
            for (int m = 1; m <= nEl; ++m)
                if (rec.elemCode[static_cast<size_t>(m)] == c) {
                    e[static_cast<size_t>(m)] =
                        props->ElementCoefficient(f, static_cast<int16_t>(c));
                    known = true;
                }
            if (!known) return error = f + " contains an element the system lacks", false;
        }
        perUnit.push_back(e);
    }

    // Concentrations (mol/l) of the listed species in every solution.
    const size_t nSol = spec.solutions.size();
    std::vector<std::vector<double>> conc(spec.species.size(), std::vector<double>(nSol, 0.0));
    std::vector<double> bulk(static_cast<size_t>(nEl) + 1),
        amounts(static_cast<size_t>(rec.lastAq) + 1), w1(1),
        w2(static_cast<size_t>(rec.lastAq) + 1);
    for (size_t j = 0; j < nSol; ++j) {
        for (int pass = 0; pass < 2; ++pass) {
            std::fill(bulk.begin(), bulk.end(), 0.0);
            bulk[0] = kWater;
            bool any = false;
            for (const auto& [f, m] : spec.solutions[j].composition) {
                const bool marked = std::find(spec.corrected.begin(), spec.corrected.end(), f) !=
                                    spec.corrected.end();
                if (pass == 1 && !marked) continue;
                any = true;
                const size_t s = static_cast<size_t>(
                    std::find(substances.begin(), substances.end(), f) - substances.begin());
                for (int e = 1; e <= nEl; ++e)
                    bulk[static_cast<size_t>(e)] += m * perUnit[s][static_cast<size_t>(e)];
            }
            if (pass == 1 && !any) break;
            int16_t code = 0;
            solver->Equilibrate(static_cast<float>(spec.T), P, w1, bulk, amounts, w2, code);
            if (code != 0)
                return error = "Speciation failed for " + spec.solutions[j].name + ": " +
                               solver->LastMessage(),
                       false;
            const double f =
                kWater / amounts[static_cast<size_t>(aqFirst)] * spec.solutions[j].density;
            for (size_t k = 0; k < idx.size(); ++k)
                conc[k][j] += (pass == 0 ? 1.0 : -1.0) * f * amounts[static_cast<size_t>(idx[k])];
        }
    }

    // The sheet.
    DataSetLayout layout;
    layout.title = spec.title;
    layout.database = spec.database;
    layout.system = spec.system;
    layout.options = spec.options;
    layout.T = spec.T;
    layout.P = spec.P;
    layout.wlStart = spec.wlStart;
    layout.wlStop = spec.wlStop;
    for (size_t k = 0; k < spec.species.size(); ++k)
        layout.species.push_back(
            {spec.species[k].name, std::nullopt,
             spec.species[k].refine ? std::nullopt : std::optional<double>(out.trueG[k])});
    layout.solutions = spec.solutions;
    layout.corrected = spec.corrected;
    std::mt19937 rng(spec.seed);
    std::normal_distribution<double> noise(0.0, spec.noise > 0 ? spec.noise : 1.0);
    const double first = spec.wlStart - spec.extraRows * spec.wlStep;
    const double last = spec.wlStop + spec.extraRows * spec.wlStep;
    for (int i = 0;; ++i) {
        const double wl = first + i * spec.wlStep;
        if (wl > last + 1e-9) break;
        std::vector<double> r;
        for (size_t j = 0; j < nSol; ++j) {
            double a = 0;
            for (size_t k = 0; k < spec.species.size(); ++k)
                a += Absorptivity(spec.species[k], wl) * conc[k][j];
            if (spec.noise > 0) a += noise(rng);
            r.push_back(std::round(a * 1e6) / 1e6);
        }
        layout.wavelengths.push_back(wl);
        layout.absorbances.push_back(r);
    }
    out.rows = DataSetRows(layout);
    return true;
}

} // namespace lumora
