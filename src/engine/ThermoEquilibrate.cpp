// lumora-thermo equilibrate (--system FILE | --species A,B,...) T P FORMULA=MOLALITY ...
// Speciation of 1 kg of water with the given substances. With --species the system is the
// listed aqueous species plus H2O, H+ and OH-.

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

} // namespace

int ThermoEquilibrate(const ThermoArgs& a, std::ostream& out, std::ostream& err) {
    std::string systemPath;
    std::vector<std::string> speciesList;
    bool haveSpecies = false;
    std::vector<std::string> rest;
    for (size_t i = 0; i < a.args.size(); ++i) {
        const std::string& s = a.args[i];
        if (s == "--system" || s == "--species") {
            if (i + 1 >= a.args.size()) {
                err << s << " needs a value\n";
                return 2;
            }
            if (s == "--system")
                systemPath = a.args[++i];
            else {
                speciesList = SplitList(a.args[++i]);
                haveSpecies = true;
            }
        } else {
            rest.push_back(s);
        }
    }
    if (systemPath.empty() == !haveSpecies) {
        err << "Give either --system FILE or --species A,B,...\n";
        return 2;
    }
    if (rest.size() < 2) {
        err << "Expected temperature (C), pressure (bar) and FORMULA=MOLALITY terms\n";
        return 2;
    }
    ThermoArgs tp = a;
    tp.args.assign(rest.begin(), rest.begin() + 2);
    double tC = 0, pBar = 0;
    if (!ParseTP(tp, 0, tC, pBar, err)) return 2;

    EngineSolver solver;
    solver.OpenDatabase(a.database);
    if (!solver.LastMessage().empty()) {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    if (!systemPath.empty()) {
        solver.OpenSystem(systemPath);
    } else {
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
        solver.OpenSystemFile(sys);
    }
    if (solver.LastMessage() != "System file accepted") {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    const SysRec& rec = solver.System();
    std::vector<double> bulk(static_cast<size_t>(rec.nElem) + 1, 0.0);
    bulk[0] = kWaterMolality;
    for (size_t i = 2; i < rest.size(); ++i) {
        const std::string& term = rest[i];
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
    }
    std::vector<double> amounts(static_cast<size_t>(rec.lastAq) + 1), w1(1), w2(amounts.size());
    int16_t code = 0;
    solver.Equilibrate(static_cast<float>(tC), static_cast<float>(pBar), w1, bulk, amounts, w2,
                       code);
    if (code != 0) {
        err << solver.LastMessage() << "\n";
        return 1;
    }
    const int firstAq = rec.phases.back().offset + 1;
    const double water = amounts[firstAq];
    std::vector<std::string> names;
    std::vector<double> molal, gamma;
    double pH = NAN;
    for (int i = firstAq + 1; i <= rec.lastAq; ++i) {
        names.push_back(rec.spName[i]);
        molal.push_back(amounts[i] * kWaterMolality / water);
        gamma.push_back(solver.Gamma(i));
        if (names.back() == "H+" && molal.back() > 0) pH = -std::log10(molal.back() * gamma.back());
    }
    ThermoRecord r;
    if (a.json) {
        std::string list = "[";
        for (size_t k = 0; k < names.size(); ++k)
            list += (k ? ", " : "") + std::string("{\"name\": ") + JsonString(names[k]) +
                    ", \"molality\": " + FormatNumber(molal[k]) +
                    ", \"gamma\": " + FormatNumber(gamma[k]) + "}";
        r.fields.emplace_back("species", list + "]");
    } else {
        size_t width = 8;
        for (const auto& n : names) width = std::max(width, n.size());
        out << "species" << std::string(width + 2 - 7, ' ') << "molality          gamma\n";
        for (size_t k = 0; k < names.size(); ++k) {
            const std::string m = FormatNumber(molal[k]);
            out << names[k] << std::string(width + 2 - names[k].size(), ' ') << m
                << std::string(m.size() < 18 ? 18 - m.size() : 1, ' ') << FormatNumber(gamma[k])
                << "\n";
        }
    }
    r.Add("ionic_strength", solver.LastResult().ionicStrength);
    r.Add("pH", pH);
    r.Add("iterations", solver.LastResult().iterations);
    r.Print(out, a.json);
    return 0;
}

} // namespace lumora
