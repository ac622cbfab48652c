#pragma once
// The cell cursor with which every reader walks the data-set sheet, and the one
// conversion of a cell's value to the text the readers compare and convert.

#include "sheet/CellValue.h"

#include <string>

namespace lumora {

struct State;
class Worksheet;

/// A cell's value as text: numbers with up to 15 significant digits and the locale's
/// decimal separator, booleans as "True" / "False", an empty cell as "".
std::string CellText(const CellValue& value);
/// The text of cell (row, col); a failing access raises to the caller.
std::string CellText(const Worksheet& sheet, int row, int col);

/// Moves the cursor (CurRow, CurCol) and returns the text of the cell it lands on:
/// rewind goes back before A1, newRow starts the next row, then the cursor steps one
/// column right. (true, true) reads A1, (true, false) column A of the next row,
/// (false, false) the next cell to the right. A failing access gives "".
std::string ReadCell(State& st, bool newRow, bool rewind);

} // namespace lumora
