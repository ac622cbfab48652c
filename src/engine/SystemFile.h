#pragma once
// System files: the database species of one chemical system, grouped by phase.
//
//   database = "thermo.toml"     # optional: relative to this file, then as given, then the
//                                # bundled data folders; without it the bundled thermo.toml
//   components = ["Host"]        # optional: the database's components that the species
//                                # use; a species using another one is refused
//   [[phase]]
//   name = "aqueous"             # kind "aqueous"; water must be its first species
//   species = ["H2O", "H+", "OH-", "Na+", "Cl-", "NaCl(aq)"]
//
//   [[phase]]
//   name = "Halite"
//   kind = "mineral"             # "aqueous", "gas" or "mineral"; default: the database
//   species = ["Halite"]         # phase of its species. A mineral phase of one species
//                                # is a pure mineral component.
//
// Exactly one aqueous phase. In the system record the other phases come first, in file
// order, and the aqueous phase last. Elements are numbered in order of first appearance
// in the formulas of the aqueous species (water first, so H and O lead), then of the
// other phases.

#include "engine/DataPath.h"
#include "engine/SysRec.h"

#include <string>
#include <vector>

namespace lumora {

class Database;

/// One phase as a system file lists it.
struct SystemPhase {
    /// Name ("aqueous", "gas", a mineral name)
    std::string name;
    /// "aqueous", "gas" or "mineral"; empty: the database phase of its species
    std::string kind;
    /// Species names in file order
    std::vector<std::string> species;
    /// Line of each species name, and of the phase table (0 when unknown)
    std::vector<int> lines;
    int line = 0;
};

struct SystemFile {
    /// Path of the file (for messages and relative paths); may be a label for built systems
    std::string path;
    /// Database as the file names it; empty when it names none
    std::string database;
    /// Components the system declares, and the line of each
    std::vector<std::string> components;
    std::vector<int> componentLines;
    std::vector<SystemPhase> phases;
};

/// Reads a system file; false with "FILE, line N: problem" in `message`.
bool ReadSystemFile(const std::string& path, SystemFile& sys, std::string& message);

/// The database file a system uses: the one it names, else the bundled thermo.toml.
std::string SystemDatabasePath(const SystemFile& sys);

/// The system record of `sys` against `db`; dbIndex[i] is the database index of system
/// species i (entry 0 unused). False with a message naming file, line and problem.
bool BuildSystem(const SystemFile& sys, const Database& db, SysRec& rec, std::vector<int>& dbIndex,
                 std::string& message);

} // namespace lumora
