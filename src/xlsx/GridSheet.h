#pragma once
// A worksheet held in memory: a sparse grid of cells with comments, plus the
// record of what the program changed since the last save, so that saving
// rewrites only those cells of the file.

#include "sheet/Worksheet.h"

#include <cstdint>
#include <map>
#include <unordered_map>

namespace lumora {

class GridWorkbook;

/// What happened to one cell since the last save.
struct CellEdit {
    /// The value was written or cleared.
    bool value = false;
    /// The cell's format was removed (Clear).
    bool dropStyle = false;
    /// Horizontal alignment set by the program (0: left as it was).
    int align = 0;
    /// The comment was set or removed.
    bool comment = false;
};

class GridSheet : public Worksheet {
public:
    GridSheet(GridWorkbook* parent, std::string name);

    std::string Name() const override { return name_; }
    Workbook* Parent() override;

    CellValue Value(int row, int col) const override;
    bool FormulaWithoutValue(int row, int col) const override;
    /// Raises RuntimeError outside the grid, for a NaN or infinite number and for a
    /// text longer than a cell holds (32767 characters).
    void SetValue(int row, int col, const CellValue& value) override;
    std::optional<std::string> Comment(int row, int col) const override;
    void SetComment(int row, int col, const std::optional<std::string>& text) override;
    void ClearContents(int row1, int col1, int row2, int col2) override;
    /// Values and formats; comments stay (they are the user's marks).
    void Clear(int row1, int col1, int row2, int col2) override;
    void SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) override;

    void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
    void SetEvents(bool on) override { events_ = on; }
    bool Events() const override { return events_; }

    /// Alignment the program gave the cell since it was loaded, 0 when none.
    int HorizontalAlignment(int row, int col) const;
    /// Number of cells held (with a value, a comment or an alignment).
    size_t CellCount() const { return cells_.size(); }
    /// Largest row and column holding a value or comment (0, 0 for an empty sheet).
    std::pair<int, int> UsedExtent() const;

    // Used by the workbook while loading and saving.
    static uint64_t Key(int row, int col) {
        return (uint64_t(uint32_t(row)) << 16) | uint32_t(col);
    }
    static int RowOf(uint64_t key) { return int(key >> 16); }
    static int ColOf(uint64_t key) { return int(key & 0xFFFF); }
    /// Stores a loaded cell without marking an edit: its value, whether the file has a
    /// formula there and whether the cell has a format of its own.
    void LoadValue(int row, int col, CellValue value, bool formula = false, bool styled = false);
    /// True when the cell holds a formula from the file that the program has not overwritten.
    bool HasFormula(int row, int col) const;
    void LoadComment(int row, int col, std::string text);
    /// Edits since the last save, in row-major order.
    const std::map<uint64_t, CellEdit>& Edits() const { return edits_; }
    void ForgetEdits() { edits_.clear(); }
    /// Replaces the cells by those of a freshly loaded copy (handler and events stay).
    void TakeCells(GridSheet& fresh);
    void Rename(std::string name) { name_ = std::move(name); }
    void Detach() { parent_ = nullptr; }

private:
    struct Cell {
        CellValue value;
        std::optional<std::string> comment;
        int align = 0;
        bool Empty() const { return IsEmpty(value) && !comment && align == 0; }
    };
    void CheckRange(int& row1, int& col1, int& row2, int& col2) const;
    void ClearBlock(int row1, int col1, int row2, int col2, bool formats);
    /// Marks the workbook dirty when something changed, and tells the handler about an
    /// edit when events are on.
    void Touched(bool changed, bool notify);

    GridWorkbook* parent_;
    std::string name_;
    std::unordered_map<uint64_t, Cell> cells_;
    /// What the file has in a cell besides its value: writes that would change nothing
    /// (the same value again, clearing an empty cell) are then no edit of the file.
    struct FileMark {
        bool formula = false;
        bool styled = false;
    };
    std::unordered_map<uint64_t, FileMark> marks_;
    std::map<uint64_t, CellEdit> edits_;
    std::function<void()> handler_;
    bool events_ = true;
};

} // namespace lumora
