#pragma once
// Cell values as the sheet window shows and takes them: numbers without float noise,
// typed text to a value, and rectangles as tab-separated text (the clipboard form of
// spreadsheets and instrument software).

#include "sheet/CellValue.h"

#include <string>
#include <vector>

namespace lumora {

using CellBlock = std::vector<std::vector<CellValue>>;

/// The text a cell shows: a number with up to 15 significant digits, or with 7 when it
/// is a single-precision value whose exact form would show float noise; TRUE, FALSE.
std::string CellDisplayText(const CellValue& value);
/// The value of typed or pasted text: empty for blanks, a number in the locale's form
/// or with a decimal point, else the text as it is.
CellValue CellFromText(const std::string& text);

/// Rows split at line ends, cells at tabs; a final line end ends the last row.
CellBlock BlockFromTabText(const std::string& text);
/// The block as tab-separated lines, each ended by a line end.
std::string TabTextFromBlock(const CellBlock& block);

} // namespace lumora
