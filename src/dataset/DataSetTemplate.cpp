#include "dataset/DataSetTemplate.h"

#include "dataset/DataSetLayout.h"

#include <cmath>
#include <string>

namespace lumora {

namespace {

using Rows = std::vector<std::vector<CellValue>>;

DataSetLayout ExampleLayout() {
    DataSetLayout d;
    d.title = "New data set (example values: replace them with yours)";
    d.database = "thermo.toml";
    d.system = "systems/co-na-cl.toml";
    d.T = 25;
    d.P = 1;
    d.wlStart = 450;
    d.wlStop = 750;
    d.species = {{"CoCl+", std::nullopt, std::nullopt}};
    d.solutions = {{"S1", {{"CoCl2", 0.05}, {"NaCl", 0.5}, {"HCl", 0.01}}, 1.0},
                   {"S2", {{"CoCl2", 0.05}, {"NaCl", 2.0}, {"HCl", 0.01}}, 1.0}};
    for (double wl = 450; wl <= 750; wl += 50) {
        d.wavelengths.push_back(wl);
        d.absorbances.push_back({NAN, NAN});
    }
    return d;
}

/// The first row whose cell in column col is text starting with prefix (1-based, 0: none).
int RowStarting(const Rows& rows, size_t col, const std::string& prefix) {
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].size() <= col) continue;
        const auto* t = std::get_if<std::string>(&rows[r][col]);
        if (t && t->rfind(prefix, 0) == 0) return static_cast<int>(r) + 1;
    }
    return 0;
}

void PutNote(Rows& rows, int row, int col, const std::string& text) {
    auto& cells = rows.at(static_cast<size_t>(row - 1));
    if (cells.size() < static_cast<size_t>(col)) cells.resize(static_cast<size_t>(col));
    cells[static_cast<size_t>(col - 1)] = "Note: " + text;
}

} // namespace

std::vector<std::vector<CellValue>> DataSetTemplateRows() {
    Rows rows = DataSetRows(ExampleLayout());
    // The reader takes columns A and B of the keyword rows only; C of the "Absorption"
    // line lies left of the table the optimizer writes, and F of the "Species:" line
    // left of the Gaussian table.
    PutNote(rows, RowStarting(rows, 0, "Database:"), 4,
            "database and system files, found beside this workbook or among Lumora's "
            "bundled data (data/, data/systems/). Options: solver switches, may stay empty.");
    PutNote(rows, RowStarting(rows, 0, "T, C:"), 4,
            "temperature (C) and pressure (bar, 0 = saturation). Only wavelengths from "
            "wl_start to wl_stop (nm) are fitted.");
    PutNote(rows, RowStarting(rows, 0, "Species:"), 6,
            "one row per absorbing species, their count in B. An empty Result frees the "
            "species (Optimize refines it), a number there fixes it. An empty Initial "
            "takes the database value.");
    PutNote(rows, RowStarting(rows, 1, "Composition"), 4,
            "molality (mol/kg) of each substance, one column per solution. \"corrected\" "
            "after a row's last value marks it; optional rows \"Density, g/cm3\" and "
            "\"weight\".");
    PutNote(rows, RowStarting(rows, 1, "Absorption"), 3,
            "paste the spectra below: wavelengths (nm, rising) in A, one absorbance "
            "column per solution, its name on top; the cell after the last solution "
            "stays empty.");
    return rows;
}

} // namespace lumora
