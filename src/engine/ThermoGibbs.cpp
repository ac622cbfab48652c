#include "engine/ThermoCommands.h"

#include "engine/Database.h"
#include "engine/WaterState.h"

#include <ostream>

namespace lumora {

int ThermoGibbs(const ThermoArgs& a, std::ostream& out, std::ostream& err) {
    if (a.args.empty()) {
        err << "Expected a species name, temperature (C) and pressure (bar)\n";
        return 2;
    }
    double tC = 0, pBar = 0;
    if (!ParseTP(a, 1, tC, pBar, err)) return 2;
    Database db;
    if (!LoadDatabase(a, db, err)) return 1;
    const std::string& name = a.args[0];
    const int index = db.Find(name);
    if (index < 0) {
        err << "Unknown species: " << name << " (not in " << a.database << ")\n";
        return 1;
    }
    std::string why;
    const WaterState w = WaterAt(tC + 273.15, pBar, &why);
    if (!w.ok) {
        err << "No water properties at " << FormatNumber(tC) << " C, " << FormatNumber(pBar)
            << " bar: " << why << "\n";
        return 1;
    }
    const SpeciesModel model = db.Species(index).model;
    if ((model == SpeciesModel::Hkf || model == SpeciesModel::LogK) && !AqueousRangeOk(a, w, err))
        return 1;
    double G = 0;
    if (!StandardGibbs(db, index, w, G)) {
        err << "No standard Gibbs energy for " << name << " at " << FormatNumber(tC) << " C, "
            << FormatNumber(w.P) << " bar\n";
        return 1;
    }
    ThermoRecord r;
    r.AddText("name", name);
    r.Add("code", db.Species(index).code);
    r.Add("G_kJ_mol", G / 1000.0);
    r.Print(out, a.json);
    return 0;
}

} // namespace lumora
