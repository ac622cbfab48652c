#pragma once
// What a cell of a data-set sheet is, for a view of the sheet: the keyword cells that
// the reader looks for, and the species rows whose "Result" cell frees or fixes them.

#include "sheet/CellValue.h"

namespace lumora {

class Worksheet;

/// Columns of the species block.
inline constexpr int kSpeciesNameCol = 2;
inline constexpr int kResultCol = 4;
/// Most species a data set refines.
inline constexpr int kMaxSpeciesRows = 8;

/// The value of cell (row, col); empty when the sheet cannot give it.
CellValue QuietValue(const Worksheet& sheet, int row, int col);

/// True when value, standing at (row, col), is one of the layout's keywords there
/// ("Database:" in A2, "Result" in D9, the "molality" line, "Wavelength, nm", ...).
bool IsLayoutKeyword(int row, int col, const CellValue& value);

/// The species rows of the sheet (from row 10, count 0 when the sheet has no valid
/// "Species:" line); a species is fixed when its "Result" cell holds something.
struct SpeciesRows {
    int first = 10;
    int count = 0;
    bool Contains(int row) const { return row >= first && row < first + count; }
};
SpeciesRows FindSpeciesRows(const Worksheet& sheet);
bool SpeciesFixed(const Worksheet& sheet, int row);

} // namespace lumora
