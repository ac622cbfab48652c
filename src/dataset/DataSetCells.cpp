#include "dataset/DataSetCells.h"

#include "base/RuntimeError.h"
#include "sheet/Worksheet.h"

#include <array>
#include <string>

namespace lumora {

namespace {

constexpr int kSpeciesRow = 9;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

CellValue QuietValue(const Worksheet& sheet, int row, int col) {
    try {
        return sheet.Value(row, col);
    } catch (const RuntimeError&) {
        return {};
    }
}

bool IsLayoutKeyword(int row, int col, const CellValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return false;
    const std::string& t = *text;
    static const std::array<const char*, 9> kColumnA{
        "Database:", "System:",  "Options:", "T, C:",     "P, bar:",
        "wl_start:", "wl_stop:", "Species:", "Mean err.:"};
    if (col == 1) {
        for (const char* k : kColumnA)
            if (t == k) return true;
        return StartsWith(t, "Wave");
    }
    if (col == 2) return t.find("molality") != std::string::npos || StartsWith(t, "Absorption");
    return row == kSpeciesRow && (t == "Initial" || t == "Result" || t == " \u00b1");
}

SpeciesRows FindSpeciesRows(const Worksheet& sheet) {
    SpeciesRows rows;
    rows.first = kSpeciesRow + 1;
    const CellValue key = QuietValue(sheet, kSpeciesRow, 1);
    const CellValue n = QuietValue(sheet, kSpeciesRow, 2);
    const auto* count = std::get_if<double>(&n);
    if (key != CellValue{std::string("Species:")} || !count) return rows;
    if (*count >= 1 && *count <= kMaxSpeciesRows && *count == static_cast<int>(*count))
        rows.count = static_cast<int>(*count);
    return rows;
}

bool SpeciesFixed(const Worksheet& sheet, int row) {
    return !IsEmpty(QuietValue(sheet, row, kResultCol));
}

} // namespace lumora
