// lumora-thermo equilibrate (--system FILE | --species A,B,...) T P FORMULA=MOLALITY ...
// Speciation of 1 kg of water with the given substances; molalities per kg of the water
// left free (water_kg). With --species the system is the listed aqueous species plus H2O,
// H+ and OH-.

#include "engine/ThermoCommands.h"

#include "engine/EngineSolver.h"
#include "engine/Formula.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

namespace lumora {

namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

/// The command's own options: the system and the remaining words (T, P, terms).
struct EquilibrateArgs {
    std::string systemPath;
    std::vector<std::string> speciesList;
    bool haveSpecies = false;
    std::vector<std::string> rest;
};

/// 0 when the options read, else the exit code after the message.
int ParseEquilibrateArgs(const ThermoArgs& a, EquilibrateArgs& e, std::ostream& err) {
    for (size_t i = 0; i < a.args.size(); ++i) {
        const std::string& s = a.args[i];
        if (s != "--system" && s != "--species") {
            e.rest.push_back(s);
            continue;
        }
        if (i + 1 >= a.args.size()) {
            err << s << " needs a value\n";
            return 2;
        }
        if (s == "--system") {
            e.systemPath = a.args[++i];
        } else {
            e.speciesList = SplitList(a.args[++i]);
            e.haveSpecies = true;
        }
    }
    if (e.systemPath.empty() == !e.haveSpecies) {
        err << "Give either --system FILE or --species A,B,...\n";
        return 2;
    }
    if (e.rest.size() < 2) {
        err << "Expected temperature (C), pressure (bar) and FORMULA=MOLALITY terms\n";
        return 2;
    }
    return 0;
}

/// The listed aqueous species after H2O, with H+ and OH- added where missing.
SystemFile SpeciesSystem(const std::vector<std::string>& speciesList) {
    SystemFile sys;
    sys.path = "--species";
    SystemPhase aq;
    aq.name = aq.kind = "aqueous";
    aq.species = {"H2O"};
    for (const char* ion : {"H+", "OH-"})
        if (std::find(speciesList.begin(), speciesList.end(), std::string(ion)) ==
            speciesList.end())
            aq.species.push_back(ion);
    for (const auto& name : speciesList)
        if (name != "H2O") aq.species.push_back(name);
    sys.phases.push_back(aq);
    return sys;
}

/// 0 when database and system are open, else the exit code after the message.
int OpenSolver(const ThermoArgs& a, const EquilibrateArgs& e, EngineSolver& solver,
               std::ostream& err) {
    solver.OpenDatabase(a.database);
    if (!solver.LastMessage().empty()) {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    if (!e.systemPath.empty())
        solver.OpenSystem(e.systemPath);
    else
        solver.OpenSystemFile(SpeciesSystem(e.speciesList));
    if (solver.LastMessage() != "System file accepted") {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    return 0;
}

/// Adds one FORMULA=MOLALITY term to the bulk composition; 0, or the exit code.
int AddTerm(const std::string& term, const EngineSolver& solver, std::vector<double>& bulk,
            std::ostream& err) {
    const SysRec& rec = solver.System();
    const size_t eq = term.find('=');
    double molality = 0;
    if (eq == std::string::npos || eq == 0 || !ParseNumber(term.substr(eq + 1), molality) ||
        molality < 0) {
        err << "Expected FORMULA=MOLALITY (a number of at least 0): " << term << "\n";
        return 2;
    }
    const std::string formula = term.substr(0, eq);
    std::vector<std::pair<int, double>> elements;
    std::string problem;
    if (!ParseFormula(solver.Db(), formula, elements, problem)) {
        err << "Formula " << formula << ": " << problem << "\n";
        return 2;
    }
    for (const auto& [z, n] : elements) {
        int m = 1;
        while (m <= rec.nElem && rec.elemCode[m] != z) ++m;
        if (m > rec.nElem) {
            const ElementInfo* el = solver.Db().ElementByZ(z);
            err << "Element " << (el ? el->symbol : std::to_string(z)) << " of " << formula
                << " is not in the system\n";
            return 1;
        }
        bulk[m] += molality * n;
    }
    return 0;
}

/// Molality and activity coefficient of every solute, and the pH.
struct Speciation {
    std::vector<std::string> names;
    std::vector<double> molal, gamma;
    double pH = NAN;
    /// Free water (kg): 1 kg less what the solutes took (water split into H+ and OH-), the
    /// base of the molalities
    double waterKg = 0;
};

Speciation Collect(const EngineSolver& solver, const std::vector<double>& amounts) {
    const SysRec& rec = solver.System();
    const int firstAq = rec.phases.back().offset + 1;
    const double water = amounts[firstAq];
    Speciation sp;
    sp.waterKg = water / kWaterMolality;
    for (int i = firstAq + 1; i <= rec.lastAq; ++i) {
        sp.names.push_back(rec.spName[i]);
        sp.molal.push_back(amounts[i] * kWaterMolality / water);
        sp.gamma.push_back(solver.Gamma(i));
        if (sp.names.back() == "H+" && sp.molal.back() > 0)
            sp.pH = -std::log10(sp.molal.back() * sp.gamma.back());
    }
    return sp;
}

std::string SpeciesJson(const Speciation& sp) {
    std::string list = "[";
    for (size_t k = 0; k < sp.names.size(); ++k)
        list += (k ? ", " : "") + std::string("{\"name\": ") + JsonString(sp.names[k]) +
                ", \"molality\": " + FormatNumber(sp.molal[k]) +
                ", \"gamma\": " + FormatNumber(sp.gamma[k]) + "}";
    return list + "]";
}

void PrintSpeciesTable(const Speciation& sp, std::ostream& out) {
    size_t width = 8;
    for (const auto& n : sp.names) width = std::max(width, n.size());
    out << "species" << std::string(width + 2 - 7, ' ') << "molality          gamma\n";
    for (size_t k = 0; k < sp.names.size(); ++k) {
        const std::string m = FormatNumber(sp.molal[k]);
        out << sp.names[k] << std::string(width + 2 - sp.names[k].size(), ' ') << m
            << std::string(m.size() < 18 ? 18 - m.size() : 1, ' ') << FormatNumber(sp.gamma[k])
            << "\n";
    }
}

} // namespace

int ThermoEquilibrate(const ThermoArgs& a, std::ostream& out, std::ostream& err) {
    EquilibrateArgs e;
    if (const int code = ParseEquilibrateArgs(a, e, err)) return code;
    ThermoArgs tp = a;
    tp.args.assign(e.rest.begin(), e.rest.begin() + 2);
    double tC = 0, pBar = 0;
    if (!ParseTP(tp, 0, tC, pBar, err)) return 2;
    // The solver reports water it cannot compute; water too light for the species is ours.
    if (const WaterState w = WaterAt(tC + 273.15, pBar); w.ok && !AqueousRangeOk(a, w, err))
        return 1;

    EngineSolver solver;
    if (const int code = OpenSolver(a, e, solver, err)) return code;
    const SysRec& rec = solver.System();
    std::vector<double> bulk(static_cast<size_t>(rec.nElem) + 1, 0.0);
    bulk[0] = kWaterMolality;
    for (size_t i = 2; i < e.rest.size(); ++i)
        if (const int code = AddTerm(e.rest[i], solver, bulk, err)) return code;

    std::vector<double> amounts(static_cast<size_t>(rec.lastAq) + 1), w1(1), w2(amounts.size());
    int16_t code = 0;
    solver.Equilibrate(static_cast<float>(tC), static_cast<float>(pBar), w1, bulk, amounts, w2,
                       code);
    if (code != 0) {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    const Speciation sp = Collect(solver, amounts);
    ThermoRecord r;
    if (a.json)
        r.fields.emplace_back("species", SpeciesJson(sp));
    else
        PrintSpeciesTable(sp, out);
    r.Add("ionic_strength", solver.LastResult().ionicStrength);
    r.Add("pH", sp.pH);
    r.Add("water_kg", sp.waterKg);
    r.Add("iterations", solver.LastResult().iterations);
    r.Print(out, a.json);
    return 0;
}

} // namespace lumora
