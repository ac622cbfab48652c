#pragma once
// Spectra as instruments and spreadsheet programs export them: a text table with a
// wavelength column and one absorbance column per solution. Comma, semicolon or tab
// separated (the first line decides), decimal point or, when the separator is not a
// comma, decimal comma; wavelengths growing or falling; an optional header row with the
// solutions' names; empty cells are missing values.

#include <string>
#include <vector>

namespace lumora {

struct AbsorbanceTable {
    /// Solution names from the header row, else "S1", "S2", ...
    std::vector<std::string> names;
    /// Wavelengths (nm), growing
    std::vector<double> wavelengths;
    /// absorbances[i][j]: solution j at wavelengths[i] (NaN: missing)
    std::vector<std::vector<double>> absorbances;
};

/// Reads the table from CSV text; false with "line L, column C: problem" in `error`.
bool ReadAbsorbanceCsv(const std::string& text, AbsorbanceTable& table, std::string& error);

/// Reads a CSV file; false with "FILE, line L, column C: problem" in `error`.
bool LoadAbsorbanceCsv(const std::string& path, AbsorbanceTable& table, std::string& error);

} // namespace lumora
