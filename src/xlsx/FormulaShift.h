#pragma once
// Moving the cell references of a formula, for a shared formula that passes from
// its first cell to another one.

#include <string>

namespace lumora {

/// Moves the relative A1 references of a formula by rows and columns ("A1+$B2" by
/// (1, 1) gives "B2+$B3"); references pushed off the grid become "#REF!".
std::string ShiftFormula(const std::string& formula, int rows, int cols);

} // namespace lumora
