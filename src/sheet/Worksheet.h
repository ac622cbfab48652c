#pragma once
// One worksheet as the program uses it: cells by 1-based row and column, comments,
// clearing of blocks, and a change notification for edits made by the user.

#include "sheet/CellValue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora {

class Workbook;

/// Horizontal alignment value "centred" of the spreadsheet's object model.
inline constexpr int kAlignCenter = -4108;

/// Told about every change of values or comments in rows row1..row2, columns col1..col2,
/// by anyone (the program, the user, a reload from disk), so that a view can follow.
using CellListener = std::function<void(int row1, int col1, int row2, int col2)>;

class Worksheet {
public:
    virtual ~Worksheet() = default;

    virtual std::string Name() const = 0;
    virtual Workbook* Parent() = 0;

    /// Value of cell (row, col); an empty cell gives std::monostate. May raise RuntimeError.
    virtual CellValue Value(int row, int col) const = 0;
    /// True for a formula cell whose result the file does not hold (saved by a program that
    /// does not calculate): Value() reads it as empty, yet it is no empty cell. Hosts that
    /// calculate have none. May raise RuntimeError.
    virtual bool FormulaWithoutValue(int row, int col) const {
        (void)row, (void)col;
        return false;
    }
    /// True for a cell holding a formula (its value is the cached result). Hosts whose
    /// view is their own may say false.
    virtual bool HasFormula(int row, int col) const {
        (void)row, (void)col;
        return false;
    }
    /// Largest row and column holding a value or comment (0, 0 for an empty sheet, and
    /// for hosts that do not tell).
    virtual std::pair<int, int> UsedExtent() const { return {0, 0}; }
    /// Writes one cell. Raises RuntimeError when the write fails.
    virtual void SetValue(int row, int col, const CellValue& value) = 0;
    /// Comment text of a cell, nothing when it has none.
    virtual std::optional<std::string> Comment(int row, int col) const = 0;
    virtual void SetComment(int row, int col, const std::optional<std::string>& text) = 0;
    /// Values only.
    virtual void ClearContents(int row1, int col1, int row2, int col2) = 0;
    /// Values and formats.
    virtual void Clear(int row1, int col1, int row2, int col2) = 0;
    virtual void SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) = 0;

    /// Block read of rows row1..row2, columns col1..col2 (hosts with costly calls override).
    virtual std::vector<std::vector<CellValue>> Block(int row1, int col1, int row2,
                                                      int col2) const {
        std::vector<std::vector<CellValue>> rows;
        for (int r = row1; r <= row2; ++r) {
            rows.emplace_back();
            for (int c = col1; c <= col2; ++c) rows.back().push_back(Value(r, c));
        }
        return rows;
    }
    /// Block write starting at (row1, col1).
    virtual void SetBlock(int row1, int col1, const std::vector<std::vector<CellValue>>& rows) {
        for (size_t i = 0; i < rows.size(); ++i)
            for (size_t j = 0; j < rows[i].size(); ++j)
                SetValue(row1 + static_cast<int>(i), col1 + static_cast<int>(j), rows[i][j]);
    }

    /// Called after every edit made by someone else than the program while events are on.
    virtual void SetChangeHandler(std::function<void()> handler) = 0;
    /// One listener for every change (empty: none); hosts without a view of their own
    /// ignore it.
    virtual void SetCellListener(CellListener listener) { (void)listener; }
    /// Expires when this sheet object is destroyed, so that a watcher never calls a
    /// sheet that is gone (its workbook closed or its file reloaded without it).
    std::weak_ptr<const void> Lifetime() const { return alive_; }

    /// Event delivery switch; the program's own writes happen with events off.
    virtual void SetEvents(bool on) = 0;
    virtual bool Events() const = 0;

private:
    std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
};

} // namespace lumora
