#include "engine/ThermoCommands.h"

#include "engine/DataPath.h"
#include "engine/Database.h"
#include "engine/HkfEquation.h"
#include "engine/WaterState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>

namespace lumora {

const std::vector<ThermoCommandEntry>& ThermoCommands() {
    static const std::vector<ThermoCommandEntry> table = {
        {"water", "T P", ThermoWater},
        {"species", "NAME T P", ThermoGibbs},
        {"equilibrate", "(--system FILE | --species A,B,...) T P FORMULA=MOLALITY ...",
         ThermoEquilibrate},
    };
    return table;
}

namespace {

void Usage(std::ostream& err) {
    err << "Usage: lumora-thermo [--db FILE] [--json] [--extrapolate] COMMAND ARGS\n"
           "Temperatures in C, pressures in bar (0 = saturation pressure).\n"
           "--extrapolate: aqueous species also below 0.35 g/cm3, outside the HKF model.\n";
    for (const ThermoCommandEntry& c : ThermoCommands())
        err << "  lumora-thermo " << c.name << " " << c.usage << "\n";
}

} // namespace

int ThermoMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ThermoArgs a;
    std::string command;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (s == "--json") {
            a.json = true;
        } else if (s == "--extrapolate") {
            a.extrapolate = true;
        } else if (s == "--db") {
            if (i + 1 >= args.size()) {
                err << "--db needs a file name\n";
                return 2;
            }
            a.database = args[++i];
        } else if (s == "--help" || s == "-h") {
            Usage(out);
            return 0;
        } else if (command.empty()) {
            command = s;
        } else {
            a.args.push_back(s);
        }
    }
    if (command.empty()) {
        Usage(err);
        return 2;
    }
    if (a.database.empty()) a.database = BundledDatabase();
    for (const ThermoCommandEntry& c : ThermoCommands())
        if (command == c.name) return c.run(a, out, err);
    err << "Unknown command: " << command << "\n";
    Usage(err);
    return 2;
}

std::string BundledDatabase() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const std::string& dir : BundledDataFolders()) {
        const fs::path candidate = fs::path(dir) / "thermo.toml";
        if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    return std::string(LUMORA_DATA_DIR) + "/thermo.toml";
}

bool ParseNumber(const std::string& text, double& value) {
    try {
        size_t used = 0;
        const double v = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(v)) return false;
        value = v;
        return true;
    } catch (...) {
        return false;
    }
}

bool ParseTP(const ThermoArgs& a, size_t first, double& tC, double& pBar, std::ostream& err) {
    if (a.args.size() != first + 2) {
        err << "Expected temperature (C) and pressure (bar)\n";
        return false;
    }
    if (!ParseNumber(a.args[first], tC)) {
        err << "Invalid temperature: " << a.args[first] << "\n";
        return false;
    }
    if (!ParseNumber(a.args[first + 1], pBar)) {
        err << "Invalid pressure: " << a.args[first + 1] << "\n";
        return false;
    }
    return true;
}

bool LoadDatabase(const ThermoArgs& a, Database& db, std::ostream& err) {
    std::string msg;
    if (db.Load(a.database, msg)) return true;
    err << msg << "\n";
    return false;
}

bool AqueousRangeOk(const ThermoArgs& a, const WaterState& w, std::ostream& err) {
    if (a.extrapolate || !(w.rho < kHkfMinDensity)) return true;
    err << "Outside the HKF model's range: water density " << FormatNumber(w.rho) << " g/cm3 at "
        << FormatNumber(w.T - 273.15) << " C, " << FormatNumber(w.P) << " bar is below "
        << kHkfMinDensity << " g/cm3 (--extrapolate computes it anyway)\n";
    return false;
}

std::string FormatNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void ThermoRecord::Print(std::ostream& out, bool json) const {
    if (json) {
        out << "{";
        for (size_t i = 0; i < fields.size(); ++i)
            out << (i ? ", " : "") << JsonString(fields[i].first) << ": " << fields[i].second;
        out << "}\n";
        return;
    }
    size_t width = 0;
    for (const auto& f : fields) width = std::max(width, f.first.size());
    for (const auto& [key, value] : fields) {
        std::string shown = value;
        if (shown.size() >= 2 && shown.front() == '"') shown = shown.substr(1, shown.size() - 2);
        out << key << std::string(width + 2 - key.size(), ' ') << shown << "\n";
    }
}

} // namespace lumora
