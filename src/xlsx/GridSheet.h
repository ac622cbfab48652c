#pragma once
// A worksheet held in memory: a sparse grid of cells with comments, plus the
// record of what the program changed since the last save, so that saving
// rewrites only those cells of the file. A data set holds hundreds of thousands
// of numbers, so a cell takes 16 bytes in its row; texts and comments sit apart.

#include "sheet/Worksheet.h"

#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

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
    void SetCellListener(CellListener listener) override { listener_ = std::move(listener); }
    void SetEvents(bool on) override { events_ = on; }
    bool Events() const override { return events_; }

    /// Alignment the program gave the cell since it was loaded, 0 when none.
    int HorizontalAlignment(int row, int col) const;
    /// Number of cells held (with a value, a comment or an alignment).
    size_t CellCount() const;
    /// Largest row and column holding a value or comment (0, 0 for an empty sheet).
    std::pair<int, int> UsedExtent() const override;

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
    bool HasFormula(int row, int col) const override;
    void LoadComment(int row, int col, std::string text);
    /// Edits since the last save, in row-major order.
    std::vector<std::pair<uint64_t, CellEdit>> Edits() const;
    bool HasEdits() const { return edited_; }
    /// Rows with edits since the last save, ascending.
    std::vector<int> EditedRows() const;
    /// Edits of one row since the last save by column, in column order.
    std::vector<std::pair<int, CellEdit>> RowEdits(int row) const;
    void ForgetEdits();
    /// Replaces the cells by those of a freshly loaded copy (handler and events stay).
    void TakeCells(GridSheet& fresh);
    void Rename(std::string name) { name_ = std::move(name); }
    void Detach() { parent_ = nullptr; }

private:
    enum class Kind : uint8_t { Empty, Number, Boolean, Text };
    /// What the file has in a cell besides its value (writes that would change nothing,
    /// the same value again or clearing an empty cell, are then no edit of the file), and
    /// what the program changed since the last save.
    enum Mark : uint8_t {
        kFormula = 1,
        kStyled = 2,
        kValueEdited = 4,
        kStyleDropped = 8,
        kAlignEdited = 16,
        kCommentEdited = 32,
    };
    static constexpr uint8_t kEditMarks =
        kValueEdited | kStyleDropped | kAlignEdited | kCommentEdited;
    /// One cell of a row; a text value lives in texts_.
    struct Slot {
        uint16_t col = 0;
        Kind kind = Kind::Empty;
        uint8_t marks = 0;
        /// Alignment the program gave the cell since it was loaded (0: none)
        int32_t align = 0;
        /// The number, or 1 and 0 for a boolean
        double number = 0;
        bool Unused() const { return kind == Kind::Empty && marks == 0 && align == 0; }
    };
    using Row = std::vector<Slot>;

    const Slot* Find(int row, int col) const;
    /// The cell's slot, made when it has none.
    Slot& Obtain(int row, int col);
    CellValue ValueOf(const Slot& slot, int row, int col) const;
    void Store(Slot& slot, int row, int col, const CellValue& value);
    static CellEdit EditOf(const Slot& slot);
    void CheckRange(int& row1, int& col1, int& row2, int& col2) const;
    void ClearBlock(int row1, int col1, int row2, int col2, bool formats);
    /// Marks the workbook dirty when something changed, and tells the handler about an
    /// edit when events are on.
    void Touched(bool changed, bool notify);
    void TellListener(int row1, int col1, int row2, int col2) const {
        if (listener_) listener_(row1, col1, row2, col2);
    }

    GridWorkbook* parent_;
    std::string name_;
    std::map<int, Row> rows_;
    std::unordered_map<uint64_t, std::string> texts_;
    std::map<uint64_t, std::string> comments_;
    bool edited_ = false;
    std::function<void()> handler_;
    CellListener listener_;
    bool events_ = true;
};

} // namespace lumora
