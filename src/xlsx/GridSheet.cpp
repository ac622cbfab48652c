#include "xlsx/GridSheet.h"

#include "base/RuntimeError.h"
#include "sheet/CellRef.h"
#include "xlsx/GridWorkbook.h"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

/// The automation error the spreadsheet raises for a bad cell address.
constexpr const char* kBadCellAccess = "Application-defined or object-defined error";
constexpr size_t kMaxTextLength = 32767;

void CheckCell(int row, int col) {
    if (!ValidCell(row, col)) throw RuntimeError(kBadCellAccess);
}

} // namespace

GridSheet::GridSheet(GridWorkbook* parent, std::string name)
    : parent_(parent), name_(std::move(name)) {}

Workbook* GridSheet::Parent() {
    return parent_;
}

CellValue GridSheet::Value(int row, int col) const {
    CheckCell(row, col);
    auto it = cells_.find(Key(row, col));
    return it == cells_.end() ? CellValue{} : it->second.value;
}

void GridSheet::SetValue(int row, int col, const CellValue& value) {
    CheckCell(row, col);
    if (auto* d = std::get_if<double>(&value); d && !std::isfinite(*d))
        throw RuntimeError(kOverflow);
    if (auto* s = std::get_if<std::string>(&value); s && s->size() > kMaxTextLength)
        throw RuntimeError(kBadCellAccess);
    // An empty text is an empty cell, as in the spreadsheet.
    bool empty = IsEmpty(value) || (std::holds_alternative<std::string>(value) &&
                                    std::get<std::string>(value).empty());
    uint64_t key = Key(row, col);
    auto it = cells_.find(key);
    const CellValue& old = it == cells_.end() ? CellValue{} : it->second.value;
    bool same = empty ? IsEmpty(old) : old == value;
    auto mark = marks_.find(key);
    // Writing over a formula replaces it, even with its own result.
    if (mark != marks_.end() && mark->second.formula) {
        same = false;
        mark->second.formula = false;
    }
    if (!same) {
        if (empty) {
            if (it != cells_.end()) {
                it->second.value = {};
                if (it->second.Empty()) cells_.erase(it);
            }
        } else {
            cells_[key].value = value;
        }
        edits_[key].value = true;
    }
    Touched(!same, true);
}

std::optional<std::string> GridSheet::Comment(int row, int col) const {
    CheckCell(row, col);
    auto it = cells_.find(Key(row, col));
    return it == cells_.end() ? std::nullopt : it->second.comment;
}

void GridSheet::SetComment(int row, int col, const std::optional<std::string>& text) {
    CheckCell(row, col);
    uint64_t key = Key(row, col);
    auto it = cells_.find(key);
    bool same = (it == cells_.end() ? std::optional<std::string>() : it->second.comment) == text;
    if (!same) {
        if (text) {
            cells_[key].comment = *text;
        } else {
            it->second.comment.reset();
            if (it->second.Empty()) cells_.erase(it);
        }
        edits_[key].comment = true;
    }
    Touched(!same, true);
}

void GridSheet::CheckRange(int& row1, int& col1, int& row2, int& col2) const {
    CheckCell(row1, col1);
    CheckCell(row2, col2);
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);
}

void GridSheet::ClearBlock(int row1, int col1, int row2, int col2, bool formats) {
    CheckRange(row1, col1, row2, col2);
    bool changed = false;
    for (int r = row1; r <= row2; ++r) {
        for (int c = col1; c <= col2; ++c) {
            uint64_t key = Key(r, c);
            auto it = cells_.find(key);
            auto mark = marks_.find(key);
            bool hasValue = it != cells_.end() && !IsEmpty(it->second.value);
            bool hasFormat = (it != cells_.end() && it->second.align != 0) ||
                             (mark != marks_.end() && mark->second.styled);
            bool hasFormula = mark != marks_.end() && mark->second.formula;
            // Only what is there can go: clearing an empty cell changes nothing in the file.
            if (!hasValue && !hasFormula && !(formats && hasFormat)) continue;
            if (it != cells_.end()) {
                it->second.value = {};
                if (formats) it->second.align = 0;
                if (it->second.Empty()) cells_.erase(it);
            }
            if (mark != marks_.end()) {
                mark->second.formula = false;
                if (formats) mark->second.styled = false;
            }
            CellEdit& e = edits_[key];
            e.value = true;
            if (formats) {
                e.dropStyle = true;
                e.align = 0;
            }
            changed = true;
        }
    }
    Touched(changed, true);
}

void GridSheet::ClearContents(int row1, int col1, int row2, int col2) {
    ClearBlock(row1, col1, row2, col2, false);
}

void GridSheet::Clear(int row1, int col1, int row2, int col2) {
    ClearBlock(row1, col1, row2, col2, true);
}

void GridSheet::SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) {
    CheckRange(row1, col1, row2, col2);
    for (int r = row1; r <= row2; ++r) {
        for (int c = col1; c <= col2; ++c) {
            cells_[Key(r, c)].align = align;
            edits_[Key(r, c)].align = align;
            marks_[Key(r, c)].styled = true;
        }
    }
    // A format change is no edit of the data: no change event, as in the spreadsheet.
    Touched(true, false);
}

bool GridSheet::FormulaWithoutValue(int row, int col) const {
    return IsEmpty(Value(row, col)) && HasFormula(row, col);
}

bool GridSheet::HasFormula(int row, int col) const {
    auto it = marks_.find(Key(row, col));
    return it != marks_.end() && it->second.formula;
}

int GridSheet::HorizontalAlignment(int row, int col) const {
    auto it = cells_.find(Key(row, col));
    return it == cells_.end() ? 0 : it->second.align;
}

std::pair<int, int> GridSheet::UsedExtent() const {
    int rows = 0, cols = 0;
    for (const auto& [key, cell] : cells_) {
        if (IsEmpty(cell.value) && !cell.comment) continue;
        rows = std::max(rows, RowOf(key));
        cols = std::max(cols, ColOf(key));
    }
    return {rows, cols};
}

void GridSheet::LoadValue(int row, int col, CellValue value, bool formula, bool styled) {
    uint64_t key = Key(row, col);
    if (formula || styled) marks_[key] = {formula, styled};
    if (!IsEmpty(value)) cells_[key].value = std::move(value);
}

void GridSheet::LoadComment(int row, int col, std::string text) {
    cells_[Key(row, col)].comment = std::move(text);
}

void GridSheet::TakeCells(GridSheet& fresh) {
    cells_ = std::move(fresh.cells_);
    marks_ = std::move(fresh.marks_);
    edits_.clear();
}

void GridSheet::Touched(bool changed, bool notify) {
    if (changed && parent_) parent_->MarkDirty();
    if (notify && events_ && handler_) handler_();
}

} // namespace lumora
