#pragma once
// Loading the contents of an .xlsx package: sheet names, the active sheet, cell
// values (shared and inline strings, numbers, booleans, cached formula results,
// rich text) and the legacy cell comments.

#include "sheet/CellValue.h"

#include <string>
#include <vector>

namespace lumora {

struct XlsxCell {
    int row = 0;
    int col = 0;
    CellValue value;
    /// The cell holds a formula (value is its cached result, maybe empty)
    bool formula = false;
    /// The cell has a format of its own (an s attribute)
    bool styled = false;
};

struct XlsxComment {
    int row = 0;
    int col = 0;
    std::string text;
};

struct XlsxSheet {
    std::string name;
    /// Package part ("xl/worksheets/sheet1.xml")
    std::string part;
    /// False for chart sheets and other non-grid sheets (no cells then)
    bool worksheet = true;
    std::vector<XlsxCell> cells;
    std::vector<XlsxComment> comments;
};

struct XlsxBook {
    std::vector<XlsxSheet> sheets;
    /// 0-based index of the active sheet
    int activeTab = 0;
};

/// Reads a package held in memory; false with a message for anything that is no
/// readable workbook (no zip, missing parts, malformed XML, bad cell references).
bool ReadXlsx(const std::string& bytes, XlsxBook& book, std::string& error);

} // namespace lumora
