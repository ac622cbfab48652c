#pragma once
// Writing a new .xlsx file from cell grids: for the data-set generator, the
// examples and tests that need a workbook on disk.

#include "sheet/CellValue.h"

#include <optional>
#include <string>
#include <vector>

namespace lumora {

struct NewComment {
    int row = 0;
    int col = 0;
    std::string text;
};

struct NewSheet {
    std::string name;
    /// Rows from A1 down; rows[i][j] goes to row i + 1, column j + 1 (empty values stay empty)
    std::vector<std::vector<CellValue>> rows;
    std::vector<NewComment> comments;
};

/// What WriteNewXlsx does with a file already at the path.
enum class ExistingFile { Replace, Refuse };

/// Writes a workbook with these sheets (the first one active) to path, replacing any
/// file there, or (Refuse) only when nothing is there: the new file then appears in one
/// step that fails if another appeared meanwhile, so nothing is ever overwritten. False
/// with a reason when it cannot (no sheets, bad cell, I/O, a file already there).
bool WriteNewXlsx(const std::string& path, const std::vector<NewSheet>& sheets, std::string& error,
                  ExistingFile existing = ExistingFile::Replace);

} // namespace lumora
