#pragma once
// Writing into an existing .xlsx package: only the cells, comments and
// alignments given are rewritten. Everything else (other sheets, styles,
// formulas, charts, parts unknown to the program) keeps its bytes. New texts
// are inline strings; the workbook is marked for recalculation on open; a
// calculation chain that would name overwritten formulas is dropped.

#include "sheet/CellValue.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

struct CellWrite {
    int row = 0;
    int col = 0;
    /// The value is replaced by newValue (empty: the cell's value is removed)
    bool writeValue = false;
    CellValue newValue;
    /// The cell's format goes too (Clear)
    bool dropStyle = false;
    /// Horizontal alignment to set (the spreadsheet's constants), 0 to leave it
    int align = 0;
};

struct CommentWrite {
    int row = 0;
    int col = 0;
    /// New text; nothing removes the comment
    std::optional<std::string> text;
};

struct SheetPatch {
    /// Package part of the sheet
    std::string part;
    /// Rows with cell writes, ascending
    std::vector<int> rows;
    /// The cell writes of one of those rows in column order, asked for once per row in
    /// order while the sheet is written (a data set's block never sits in memory twice)
    std::function<std::vector<CellWrite>(int row)> cells;
    std::vector<CommentWrite> comments;
};

struct SkeletonSheet {
    std::string name;
    std::string part;
};

/// Writes a minimal valid package (content types, relationships, workbook, empty
/// sheets, styles) to path.
bool WriteXlsxSkeleton(const std::string& path, const std::vector<SkeletonSheet>& sheets,
                       int activeTab, std::string& error);

/// Applies the patches to the package file at path.
bool PatchXlsx(const std::string& path, const std::vector<SheetPatch>& patches, std::string& error);

} // namespace lumora
