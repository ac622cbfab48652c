#include "MakeSet.h"

#include "engine/EngineFactory.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
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

namespace {

/// The engine's three parts, open on the description's database and system.
struct Engine {
    std::unique_ptr<Solver> solver;
    std::unique_ptr<Props> props;
    std::unique_ptr<SysReader> reader;
    SysRec rec;
    /// System index of the first aqueous species (water)
    int aqFirst = 1;
};

bool OpenEngine(const SetSpec& spec, const std::string& baseDir, Engine& eng, std::string& error) {
    eng.solver = CreateSolver();
    eng.props = CreateProps();
    eng.reader = CreateSysReader();
    if (!eng.solver || !eng.props || !eng.reader) {
        error = "The engine is not available";
        return false;
    }
    Solver& solver = *eng.solver;
    const std::string db = Resolve(spec.database, baseDir);
    const std::string sys = Resolve(spec.system, baseDir);
    solver.OpenDatabase(db);
    if (!solver.LastMessage().empty()) return error = solver.LastMessage(), false;
    eng.props->OpenDatabase(db);
    solver.SetOptions(spec.options + "/mode=1");
    if (!solver.LastMessage().empty()) return error = solver.LastMessage(), false;
    solver.OpenSystem(sys);
    if (solver.LastMessage() != "System file accepted") return error = solver.LastMessage(), false;
    eng.reader->ReadSystem(sys, eng.rec);
    if (eng.rec.nAq == 0) return error = "No aqueous solution in " + sys, false;
    eng.aqFirst = eng.rec.phases.empty() ? 1 : eng.rec.phases.back().offset + 1;
    return true;
}

/// Temperature (K), pressure (bar) and the water properties the model data need.
struct Conditions {
    float TK = 0, P = 0, dens = 0, epsW = 0;
};

Conditions ConditionsOf(const SetSpec& spec, Props& props) {
    Conditions at;
    at.TK = static_cast<float>(spec.T + 273.15);
    at.P = static_cast<float>(spec.P);
    if (at.P == 0) at.P = std::max(1.0f, props.SaturationPressure(at.TK));
    at.dens = props.WaterDensity(at.TK, at.P, 0);
    at.epsW = props.WaterValueA(at.TK, at.dens);
    return at;
}

/// System index of the aqueous species `name` (the last match), -1 when there is none.
int AqueousIndex(const Engine& eng, const std::string& name) {
    int found = -1;
    for (int i = eng.aqFirst; i <= eng.rec.lastAq; ++i)
        if (eng.rec.spName[static_cast<size_t>(i)] == name) found = i;
    return found;
}

/// The database's Gibbs energy of `name` at the conditions; false with the error.
bool DatabaseG(Props& props, const Conditions& at, const std::string& name, double& g,
               std::string& error) {
    const int code = props.SpeciesCode(props.FindSpecies(name));
    if (code >= 3 && code < 1024)
        g = props.StartValueLow(static_cast<int16_t>(code), at.TK, at.P, at.dens, at.epsW);
    else if (code >= 1024 && code < 2048)
        g = props.StartValueHigh(static_cast<int16_t>(code), at.TK, at.P, at.dens, at.epsW, 0);
    else
        return error = name + ": only complexes and ions with model data can be generated", false;
    if (!(std::fabs(g) < 1e33))
        return error = name + ": no Gibbs energy at these conditions", false;
    return true;
}

/// True Gibbs energies: the database value at T, P plus the chosen shift, given to the
/// solver; idx gets the system index of each listed species.
bool SetTrueEnergies(const SetSpec& spec, Engine& eng, const Conditions& at, std::vector<int>& idx,
                     std::vector<double>& trueG, std::string& error) {
    trueG.clear();
    for (const SetSpecies& sp : spec.species) {
        const int found = AqueousIndex(eng, sp.name);
        if (found < 0) return error = sp.name + " is not in the system", false;
        double g = 0;
        if (!DatabaseG(*eng.props, at, sp.name, g, error)) return false;
        g += sp.shift;
        idx.push_back(found);
        trueG.push_back(g);
        eng.solver->SetSpeciesG(static_cast<int16_t>(found), static_cast<float>(g));
    }
    return true;
}

/// The substances of the compositions, and their element amounts in the system's order.
struct Substances {
    std::vector<std::string> names;
    /// Amount of element 1..nElem in one unit of each substance (entry 0 unused)
    std::vector<std::vector<double>> perUnit;

    size_t IndexOf(const std::string& f) const {
        return static_cast<size_t>(std::find(names.begin(), names.end(), f) - names.begin());
    }
};

/// Every substance of the compositions once, in order of first appearance.
std::vector<std::string> SubstanceNames(const SetSpec& spec) {
    std::vector<std::string> substances;
    for (const auto& sol : spec.solutions)
        for (const auto& [f, m] : sol.composition)
            if (std::find(substances.begin(), substances.end(), f) == substances.end())
                substances.push_back(f);
    return substances;
}

/// Element amounts of one unit of substance f; false with the error for an element that
/// is unknown or not in the system.
bool UnitAmounts(Engine& eng, const std::string& f, std::vector<double>& e, std::string& error) {
    const int nEl = eng.rec.nElem;
    e.assign(static_cast<size_t>(nEl) + 1, 0.0);
    for (const unsigned char c : eng.props->FormulaElements(f)) {
        if (c == 0) return error = "Unknown element in " + f, false;
        bool known = false;
        for (int m = 1; m <= nEl; ++m)
            if (eng.rec.elemCode[static_cast<size_t>(m)] == c) {
                e[static_cast<size_t>(m)] =
                    eng.props->ElementCoefficient(f, static_cast<int16_t>(c));
                known = true;
            }
        if (!known) return error = f + " contains an element the system lacks", false;
    }
    return true;
}

bool ReadSubstances(const SetSpec& spec, Engine& eng, Substances& subs, std::string& error) {
    subs.names = SubstanceNames(spec);
    for (const std::string& f : subs.names) {
        std::vector<double> e;
        if (!UnitAmounts(eng, f, e, error)) return false;
        subs.perUnit.push_back(e);
    }
    return true;
}

bool Corrected(const SetSpec& spec, const std::string& f) {
    return std::find(spec.corrected.begin(), spec.corrected.end(), f) != spec.corrected.end();
}

/// Bulk element amounts of a solution: water and all its substances, or on the
/// correction pass water and only its "corrected" ones. False when that pass finds none.
bool FillBulk(const SetSpec& spec, const SetSolution& sol, bool correction, const Substances& subs,
              int nEl, std::vector<double>& bulk) {
    std::fill(bulk.begin(), bulk.end(), 0.0);
    bulk[0] = kWater;
    bool any = false;
    for (const auto& [f, m] : sol.composition) {
        if (correction && !Corrected(spec, f)) continue;
        any = true;
        const size_t s = subs.IndexOf(f);
        for (int e = 1; e <= nEl; ++e)
            bulk[static_cast<size_t>(e)] += m * subs.perUnit[s][static_cast<size_t>(e)];
    }
    return any;
}

/// Concentrations (mol/l) of the listed species, conc[species][solution]. What the
/// "corrected" substances of a solution make on their own is taken off again.
bool Concentrations(const SetSpec& spec, Engine& eng, float P, const std::vector<int>& idx,
                    const Substances& subs, std::vector<std::vector<double>>& conc,
                    std::string& error) {
    const size_t nSol = spec.solutions.size();
    const int nEl = eng.rec.nElem;
    const size_t nAmounts = static_cast<size_t>(eng.rec.lastAq) + 1;
    conc.assign(spec.species.size(), std::vector<double>(nSol, 0.0));
    // The work vectors carry over from one solution to the next, as the solver left them.
    std::vector<double> bulk(static_cast<size_t>(nEl) + 1), amounts(nAmounts), w1(1), w2(nAmounts);
    for (size_t j = 0; j < nSol; ++j) {
        const SetSolution& sol = spec.solutions[j];
        for (int pass = 0; pass < 2; ++pass) {
            const bool any = FillBulk(spec, sol, pass == 1, subs, nEl, bulk);
            if (pass == 1 && !any) break;
            int16_t code = 0;
            eng.solver->Equilibrate(static_cast<float>(spec.T), P, w1, bulk, amounts, w2, code);
            if (code != 0)
                return error =
                           "Speciation failed for " + sol.name + ": " + eng.solver->LastMessage(),
                       false;
            const double f = kWater / amounts[static_cast<size_t>(eng.aqFirst)] * sol.density;
            for (size_t k = 0; k < idx.size(); ++k)
                conc[k][j] += (pass == 0 ? 1.0 : -1.0) * f * amounts[static_cast<size_t>(idx[k])];
        }
    }
    return true;
}

/// The sheet without its spectra; fixed species carry their true energy as the result.
DataSetLayout LayoutHead(const SetSpec& spec, const std::vector<double>& trueG) {
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
             spec.species[k].refine ? std::nullopt : std::optional<double>(trueG[k])});
    layout.solutions = spec.solutions;
    layout.corrected = spec.corrected;
    return layout;
}

/// Beer's law absorbance of solution j at wl, without noise.
double Absorbance(const SetSpec& spec, const std::vector<std::vector<double>>& conc, size_t j,
                  double wl) {
    double a = 0;
    for (size_t k = 0; k < spec.species.size(); ++k)
        a += Absorptivity(spec.species[k], wl) * conc[k][j];
    return a;
}

/// The spectra, extraRows steps beyond the window on each side, with seeded noise and
/// rounded to 1e-6.
void AddSpectra(const SetSpec& spec, const std::vector<std::vector<double>>& conc,
                DataSetLayout& layout) {
    std::mt19937 rng(spec.seed);
    std::normal_distribution<double> noise(0.0, spec.noise > 0 ? spec.noise : 1.0);
    const double first = spec.wlStart - spec.extraRows * spec.wlStep;
    const double last = spec.wlStop + spec.extraRows * spec.wlStep;
    for (int i = 0;; ++i) {
        const double wl = first + i * spec.wlStep;
        if (wl > last + 1e-9) break;
        std::vector<double> r;
        for (size_t j = 0; j < spec.solutions.size(); ++j) {
            double a = Absorbance(spec, conc, j, wl);
            if (spec.noise > 0) a += noise(rng);
            r.push_back(std::round(a * 1e6) / 1e6);
        }
        layout.wavelengths.push_back(wl);
        layout.absorbances.push_back(r);
    }
}

} // namespace

bool GenerateSet(const SetSpec& spec, const std::string& baseDir, GeneratedSet& out,
                 std::string& error) {
    Engine eng;
    if (!OpenEngine(spec, baseDir, eng, error)) return false;
    const Conditions at = ConditionsOf(spec, *eng.props);
    std::vector<int> idx;
    if (!SetTrueEnergies(spec, eng, at, idx, out.trueG, error)) return false;
    Substances subs;
    if (!ReadSubstances(spec, eng, subs, error)) return false;
    std::vector<std::vector<double>> conc;
    if (!Concentrations(spec, eng, at.P, idx, subs, conc, error)) return false;
    DataSetLayout layout = LayoutHead(spec, out.trueG);
    AddSpectra(spec, conc, layout);
    out.rows = DataSetRows(layout);
    return true;
}

} // namespace lumora
