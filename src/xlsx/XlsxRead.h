#pragma once
// Loading the contents of an .xlsx package: sheet names, the active sheet, cell
// values (shared and inline strings, numbers, booleans, cached formula results,
// rich text) and the legacy cell comments.

#include "sheet/CellValue.h"

#include <cstdint>
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

/// What a package may hold. A zip of a few MB can unpack to GB of blank sheets; the
/// limits refuse that at once, and leave room for data sets four times the size of 200
/// solutions by 10,000 wavelengths (2 million cells, about 90 MB unpacked).
struct XlsxLimits {
    /// All parts together, unpacked
    uint64_t unpackedBytes = 512ull * 1024 * 1024;
    /// Cells of all worksheets, empty formatted cells included
    uint64_t cells = 8'000'000;
};

/// Reads a package held in memory; false with a message for anything that is no
/// readable workbook (no zip, a part twice, a damaged part even one that is not read,
/// missing parts, malformed XML, bad cell references) or larger than the limits.
bool ReadXlsx(const std::string& bytes, XlsxBook& book, std::string& error,
              const XlsxLimits& limits = {});

} // namespace lumora
