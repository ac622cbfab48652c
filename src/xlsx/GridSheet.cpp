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

const GridSheet::Slot* GridSheet::Find(int row, int col) const {
    auto r = rows_.find(row);
    if (r == rows_.end()) return nullptr;
    auto it = std::lower_bound(r->second.begin(), r->second.end(), col,
                               [](const Slot& s, int c) { return s.col < c; });
    return it != r->second.end() && it->col == col ? &*it : nullptr;
}

GridSheet::Slot& GridSheet::Obtain(int row, int col) {
    Row& cells = rows_[row];
    // Loading and writing a block go in column order: the new cell usually ends its row.
    if (cells.empty() || cells.back().col < col) {
        cells.push_back({static_cast<uint16_t>(col)});
        return cells.back();
    }
    auto it = std::lower_bound(cells.begin(), cells.end(), col,
                               [](const Slot& s, int c) { return s.col < c; });
    if (it == cells.end() || it->col != col) it = cells.insert(it, {static_cast<uint16_t>(col)});
    return *it;
}

CellValue GridSheet::ValueOf(const Slot& slot, int row, int col) const {
    switch (slot.kind) {
    case Kind::Number:
        return slot.number;
    case Kind::Boolean:
        return slot.number != 0;
    case Kind::Text:
        return texts_.at(Key(row, col));
    case Kind::Empty:
        break;
    }
    return {};
}

void GridSheet::Store(Slot& slot, int row, int col, const CellValue& value) {
    if (slot.kind == Kind::Text) texts_.erase(Key(row, col));
    slot.kind = Kind::Empty;
    if (const auto* d = std::get_if<double>(&value)) {
        slot.kind = Kind::Number;
        slot.number = *d;
    } else if (const auto* b = std::get_if<bool>(&value)) {
        slot.kind = Kind::Boolean;
        slot.number = *b ? 1 : 0;
    } else if (const auto* t = std::get_if<std::string>(&value)) {
        slot.kind = Kind::Text;
        texts_[Key(row, col)] = *t;
    }
}

CellEdit GridSheet::EditOf(const Slot& slot) {
    CellEdit e;
    e.value = slot.marks & kValueEdited;
    e.dropStyle = slot.marks & kStyleDropped;
    e.align = slot.marks & kAlignEdited ? slot.align : 0;
    e.comment = slot.marks & kCommentEdited;
    return e;
}

CellValue GridSheet::Value(int row, int col) const {
    CheckCell(row, col);
    const Slot* slot = Find(row, col);
    return slot ? ValueOf(*slot, row, col) : CellValue{};
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
    const Slot* found = Find(row, col);
    const CellValue old = found ? ValueOf(*found, row, col) : CellValue{};
    bool same = empty ? IsEmpty(old) : old == value;
    // Writing over a formula replaces it, even with its own result.
    if (found && (found->marks & kFormula)) same = false;
    if (!same) {
        Slot& slot = Obtain(row, col);
        slot.marks = static_cast<uint8_t>((slot.marks & ~kFormula) | kValueEdited);
        Store(slot, row, col, empty ? CellValue{} : value);
        edited_ = true;
        TellListener(row, col, row, col);
    }
    Touched(!same, true);
}

std::optional<std::string> GridSheet::Comment(int row, int col) const {
    CheckCell(row, col);
    auto it = comments_.find(Key(row, col));
    return it == comments_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void GridSheet::SetComment(int row, int col, const std::optional<std::string>& text) {
    CheckCell(row, col);
    const uint64_t key = Key(row, col);
    auto it = comments_.find(key);
    bool same = (it == comments_.end() ? std::optional<std::string>() : it->second) == text;
    if (!same) {
        if (text)
            comments_[key] = *text;
        else
            comments_.erase(it);
        Obtain(row, col).marks |= kCommentEdited;
        edited_ = true;
        TellListener(row, col, row, col);
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
    for (auto r = rows_.lower_bound(row1); r != rows_.end() && r->first <= row2; ++r) {
        for (Slot& slot : r->second) {
            if (slot.col < col1 || slot.col > col2) continue;
            bool hasValue = slot.kind != Kind::Empty;
            bool hasFormat = slot.align != 0 || (slot.marks & kStyled);
            bool hasFormula = slot.marks & kFormula;
            // Only what is there can go: clearing an empty cell changes nothing in the file.
            if (!hasValue && !hasFormula && !(formats && hasFormat)) continue;
            Store(slot, r->first, slot.col, {});
            slot.marks = static_cast<uint8_t>((slot.marks & ~kFormula) | kValueEdited);
            if (formats) {
                slot.align = 0;
                slot.marks = static_cast<uint8_t>((slot.marks & ~kStyled) | kStyleDropped);
            }
            changed = true;
        }
    }
    edited_ = edited_ || changed;
    if (changed) TellListener(row1, col1, row2, col2);
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
            Slot& slot = Obtain(r, c);
            slot.align = align;
            slot.marks |= kAlignEdited | kStyled;
        }
    }
    edited_ = true;
    // A format change is no edit of the data: no change event, as in the spreadsheet.
    Touched(true, false);
}

bool GridSheet::FormulaWithoutValue(int row, int col) const {
    return IsEmpty(Value(row, col)) && HasFormula(row, col);
}

bool GridSheet::HasFormula(int row, int col) const {
    const Slot* slot = Find(row, col);
    return slot && (slot->marks & kFormula);
}

int GridSheet::HorizontalAlignment(int row, int col) const {
    const Slot* slot = Find(row, col);
    return slot ? slot->align : 0;
}

size_t GridSheet::CellCount() const {
    size_t n = 0;
    for (const auto& [row, cells] : rows_)
        for (const Slot& slot : cells) n += slot.kind != Kind::Empty || slot.align != 0;
    // Comments of cells not counted yet.
    for (const auto& [key, text] : comments_) {
        const Slot* slot = Find(RowOf(key), ColOf(key));
        n += !slot || (slot->kind == Kind::Empty && slot->align == 0);
    }
    return n;
}

std::pair<int, int> GridSheet::UsedExtent() const {
    int rows = 0, cols = 0;
    for (const auto& [row, cells] : rows_) {
        for (const Slot& slot : cells) {
            if (slot.kind == Kind::Empty) continue;
            rows = std::max(rows, row);
            cols = std::max(cols, int(slot.col));
        }
    }
    for (const auto& [key, text] : comments_) {
        rows = std::max(rows, RowOf(key));
        cols = std::max(cols, ColOf(key));
    }
    return {rows, cols};
}

void GridSheet::LoadValue(int row, int col, CellValue value, bool formula, bool styled) {
    if (!formula && !styled && IsEmpty(value)) return;
    Slot& slot = Obtain(row, col);
    if (formula || styled)
        slot.marks = static_cast<uint8_t>((slot.marks & kEditMarks) | (formula ? kFormula : 0) |
                                          (styled ? kStyled : 0));
    if (!IsEmpty(value)) Store(slot, row, col, value);
}

void GridSheet::LoadComment(int row, int col, std::string text) {
    comments_[Key(row, col)] = std::move(text);
}

std::vector<int> GridSheet::EditedRows() const {
    std::vector<int> rows;
    for (const auto& [row, cells] : rows_)
        for (const Slot& slot : cells)
            if (slot.marks & kEditMarks) {
                rows.push_back(row);
                break;
            }
    return rows;
}

std::vector<std::pair<int, CellEdit>> GridSheet::RowEdits(int row) const {
    std::vector<std::pair<int, CellEdit>> edits;
    auto r = rows_.find(row);
    if (r == rows_.end()) return edits;
    for (const Slot& slot : r->second)
        if (slot.marks & kEditMarks) edits.emplace_back(slot.col, EditOf(slot));
    return edits;
}

std::vector<std::pair<uint64_t, CellEdit>> GridSheet::Edits() const {
    std::vector<std::pair<uint64_t, CellEdit>> edits;
    for (int row : EditedRows())
        for (const auto& [col, edit] : RowEdits(row)) edits.emplace_back(Key(row, col), edit);
    return edits;
}

void GridSheet::ForgetEdits() {
    for (auto r = rows_.begin(); r != rows_.end();) {
        Row& cells = r->second;
        for (Slot& slot : cells) slot.marks &= static_cast<uint8_t>(~kEditMarks);
        std::erase_if(cells, [](const Slot& s) { return s.Unused(); });
        r = cells.empty() ? rows_.erase(r) : std::next(r);
    }
    edited_ = false;
}

void GridSheet::TakeCells(GridSheet& fresh) {
    rows_ = std::move(fresh.rows_);
    texts_ = std::move(fresh.texts_);
    comments_ = std::move(fresh.comments_);
    edited_ = false;
    TellListener(1, 1, kMaxRows, kMaxCols);
}

void GridSheet::Touched(bool changed, bool notify) {
    if (changed && parent_) parent_->MarkDirty();
    if (notify && events_ && handler_) handler_();
}

} // namespace lumora
