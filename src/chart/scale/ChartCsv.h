#pragma once
// The plotted data as comma-separated text for a spreadsheet or a script: a header
// row of column names, then one row per point. Numbers in the shortest form that
// reads back into the same 32-bit float, with a decimal point whatever the locale;
// a missing value is an empty field.

#include <optional>
#include <string>
#include <vector>

namespace lumora {

struct CsvTable {
    /// Column names: the X column first, then one per series
    std::vector<std::string> header;
    /// One row per point, a value per column (nothing where the value is missing)
    std::vector<std::vector<std::optional<float>>> rows;
};

/// The table as CSV text (RFC 4180 quoting, "\n" line ends).
std::string CsvText(const CsvTable& table);

/// A series' column name: "name: quantity (unit)" from its name and the Y axis title,
/// or either alone when the other is empty.
std::string CsvColumnName(const std::string& name, const std::string& quantity);

} // namespace lumora
