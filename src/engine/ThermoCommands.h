#pragma once

#include "engine/JsonText.h"
// The subcommands of lumora-thermo. Each is a function in a file of its own (ThermoWater.cpp,
// ThermoGibbs.cpp, ...), declared at the end of this header and listed in the dispatch
// table of ThermoCommands.cpp; ThermoArgs carries --db, --json and the arguments.

#include <iosfwd>
#include <string>
#include <vector>

namespace lumora {

class Database;
struct WaterState;

/// What the command line gives every subcommand.
struct ThermoArgs {
    /// Database file (--db), or the bundled one
    std::string database;
    /// --json: print one JSON object instead of a table
    bool json = false;
    /// --extrapolate: aqueous species also in water lighter than the HKF model's range
    bool extrapolate = false;
    /// Arguments after the subcommand name
    std::vector<std::string> args;
};

/// A subcommand: 0 on success; messages go to err.
using ThermoCommand = int (*)(const ThermoArgs& a, std::ostream& out, std::ostream& err);

struct ThermoCommandEntry {
    const char* name;
    /// Arguments as the usage text shows them
    const char* usage;
    ThermoCommand run;
};

/// The dispatch table.
const std::vector<ThermoCommandEntry>& ThermoCommands();

/// Runs lumora-thermo with its arguments (argv[0] excluded); the exit code.
int ThermoMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// The bundled database: thermo.toml in the first bundled data folder that has one.
std::string BundledDatabase();

// Helpers shared by the subcommands.

/// Text to number; false unless the whole text is a finite number.
bool ParseNumber(const std::string& text, double& value);
/// Temperature (C) and pressure (bar) arguments at args[first], args[first + 1]; false
/// with a message on err.
bool ParseTP(const ThermoArgs& a, size_t first, double& tC, double& pBar, std::ostream& err);
/// Loads the database named in the arguments; false with the loader's message on err.
bool LoadDatabase(const ThermoArgs& a, Database& db, std::ostream& err);
/// Whether aqueous species may be computed in water w: within the HKF model's density
/// range or extrapolating on request; false with a message on err.
bool AqueousRangeOk(const ThermoArgs& a, const WaterState& w, std::ostream& err);
/// A number as JSON and table output write it (up to 10 significant digits).
std::string FormatNumber(double v);

/// Ordered (name, value) pairs printed as an aligned table or one JSON object.
struct ThermoRecord {
    std::vector<std::pair<std::string, std::string>> fields; // value already formatted
    void Add(const std::string& key, double v) { fields.emplace_back(key, FormatNumber(v)); }
    void AddText(const std::string& key, const std::string& v) {
        fields.emplace_back(key, JsonString(v));
    }
    void Print(std::ostream& out, bool json) const;
};

int ThermoWater(const ThermoArgs& a, std::ostream& out, std::ostream& err);
int ThermoGibbs(const ThermoArgs& a, std::ostream& out, std::ostream& err);
int ThermoEquilibrate(const ThermoArgs& a, std::ostream& out, std::ostream& err);

} // namespace lumora
