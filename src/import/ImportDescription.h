#pragma once
// The description that turns a spectra table into a data set (a TOML file): the
// conditions, the database and system, the species with fixed or free energies, and the
// compositions, given per solution or as a titration.
//
//   title = "Host-guest titration"
//   database = "host-guest.toml"          # as the sheet names it (relative: to the workbook)
//   system = "host-guest-system.toml"
//   options = "/activity=ideal"           # optional
//   T = 25                                # C
//   P = 1                                 # bar, 0 = saturation pressure
//   wl_start = 250                        # optional: the table's first and last wavelength
//   wl_stop = 550
//   corrected = ["NaCl"]                  # optional: rows marked "corrected"
//   [[species]]
//   name = "Host"
//   fixed = true                          # fixed at G (kJ/mol); else refined,
//   G = 0.0                               # from `initial` when given
//   [titration]                           # either this ...
//   cell_volume = 2000                    # titrand in the cell before the first addition
//   titrand = { Host = 1.0e-4 }           # mol/l
//   titrant = { Guest = 0.05 }            # mol/l
//   added = [0, 2, 4]                     # total added before each spectrum (unit of the cell)
//   [[solution]]                          # ... or one per spectrum, in column order
//   composition = { Host = 1.0e-4, Guest = 0.0 }
//   density = 1.0                         # optional (g/cm3)
//   name = "T1"                           # optional: else the table's header name

#include "dataset/DataSetLayout.h"
#include "import/Titration.h"

#include <optional>
#include <string>

namespace lumora {

struct ImportDescription {
    /// Title, database, system, options, T, P and species; no solutions or spectra yet
    DataSetLayout sheet;
    /// The wavelength window when the description gives it
    std::optional<double> wlStart, wlStop;
    /// Per-solution compositions (names may be empty), or a titration
    std::vector<LayoutSolution> solutions;
    std::optional<Titration> titration;
};

/// Reads a description; false with "FILE, line L: problem" in `error`.
bool LoadImportDescription(const std::string& path, ImportDescription& d, std::string& error);

} // namespace lumora
