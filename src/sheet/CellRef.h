#pragma once
// Cell positions in A1 notation and the grid limits of a workbook.

#include <string>
#include <string_view>

namespace lumora {

/// Rows and columns a worksheet can hold (the .xlsx grid).
inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxCols = 16384;

inline bool ValidCell(int row, int col) {
    return row >= 1 && row <= kMaxRows && col >= 1 && col <= kMaxCols;
}

/// Column letters: 1 gives "A", 28 gives "AB".
std::string ColumnName(int col);
/// "B3" for row 3, column 2.
std::string CellName(int row, int col);
/// Parses "B3" (upper-case letters, then digits, no '$'); false for anything outside the grid.
bool ParseCellRef(std::string_view ref, int& row, int& col);

} // namespace lumora
