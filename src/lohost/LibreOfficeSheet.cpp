#include "lohost/LibreOfficeSheet.h"

#include "lohost/LibreOfficeWorkbook.h"
#include "sheet/CellRef.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetAnnotationAnchor.hpp>
#include <com/sun/star/sheet/XSheetAnnotations.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XSimpleText.hpp>
#include <com/sun/star/util/XModifyBroadcaster.hpp>
#include <com/sun/star/util/XModifyListener.hpp>
#include <cppuhelper/implbase1.hxx>

#include <algorithm>
#include <mutex>

namespace lumora::lo {

namespace {

/// The automation error the spreadsheet raises for a bad cell address.
constexpr const char* kBadCellAccess = "Application-defined or object-defined error";
/// Cells kept in the copy of the used range (a band of rows when the range is larger).
constexpr long kMaxCopiedCells = 1L << 21;

namespace CellFlags = css::sheet::CellFlags;
constexpr sal_Int32 kContents =
    CellFlags::VALUE | CellFlags::DATETIME | CellFlags::STRING | CellFlags::FORMULA;
constexpr sal_Int32 kFormats =
    CellFlags::HARDATTR | CellFlags::STYLES | CellFlags::EDITATTR | CellFlags::FORMATTED;

/// An empty text is an empty cell, as in the spreadsheet; Calc keeps booleans as numbers.
CellValue AsStored(const CellValue& v) {
    if (const auto* s = std::get_if<std::string>(&v); s && s->empty()) return {};
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
    return v;
}

} // namespace

/// Receives the sheet's modify events from the office. The sheet detaches itself
/// before it goes; the mutex keeps a late event from reaching a sheet being destroyed.
class SheetListener : public cppu::WeakImplHelper1<css::util::XModifyListener> {
public:
    explicit SheetListener(LibreOfficeSheet* sheet) : sheet_(sheet) {}
    void Detach() {
        std::lock_guard<std::mutex> lock(mutex_);
        sheet_ = nullptr;
    }
    void SAL_CALL modified(const css::lang::EventObject&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sheet_) sheet_->ChangedByOffice();
    }
    void SAL_CALL disposing(const css::lang::EventObject&) override {}

private:
    std::mutex mutex_;
    LibreOfficeSheet* sheet_;
};

LibreOfficeSheet::LibreOfficeSheet(LibreOfficeWorkbook* parent,
                                   Reference<css::sheet::XSpreadsheet> sheet,
                                   const void* connection, WriteBehind* writes)
    : parent_(parent), sheet_(std::move(sheet)), connection_(connection), writes_(writes) {
    listener_ = new SheetListener(this);
    Guarded([&] {
        Listen(true);
        return 0;
    });
}

LibreOfficeSheet::~LibreOfficeSheet() {
    listener_->Detach();
    try {
        Listen(false);
    } catch (...) {
        // The office or the sheet is gone; nothing to unsubscribe from.
    }
}

void LibreOfficeSheet::Listen(bool on) {
    Reference<css::util::XModifyBroadcaster> b(sheet_, UNO_QUERY);
    if (!b.is()) return;
    if (on)
        b->addModifyListener(listener_.get());
    else
        b->removeModifyListener(listener_.get());
}

void LibreOfficeSheet::Rebind(Reference<css::sheet::XSpreadsheet> sheet) {
    try {
        Listen(false);
    } catch (...) {
        // the old document is closed
    }
    {
        std::lock_guard<std::mutex> lock(writes_->Mutex());
        queued_.clear();
        failure_.clear();
        sheet_ = std::move(sheet);
    }
    known_ = false;
    Guarded([&] {
        Listen(true);
        return 0;
    });
}

std::string LibreOfficeSheet::Name() const {
    return Guarded([&] {
        Reference<css::container::XNamed> named(sheet_, UNO_QUERY_THROW);
        return FromOU(named->getName());
    });
}

Workbook* LibreOfficeSheet::Parent() {
    return parent_;
}

void LibreOfficeSheet::ChangedByOffice() {
    if (OwnCall::Active(connection_)) return;
    ++external_;
    if (events_) pending_ = true;
}

void LibreOfficeSheet::DeliverPending() {
    if (pending_.exchange(false) && handler_) handler_();
}

void LibreOfficeSheet::CheckCell(int row, int col) const {
    if (!ValidCell(row, col)) throw RuntimeError(kBadCellAccess);
}

void LibreOfficeSheet::CheckRange(int row1, int col1, int row2, int col2) const {
    CheckCell(row1, col1);
    CheckCell(row2, col2);
    if (row2 < row1 || col2 < col1) throw RuntimeError(kBadCellAccess);
}

void LibreOfficeSheet::Refresh(int row) const {
    const unsigned long now = external_;
    if (!known_ || copiedAt_ != now) {
        Flush();
        Guarded([&] {
            Reference<css::sheet::XSheetCellCursor> cursor = sheet_->createCursor();
            Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
            used->gotoEndOfUsedArea(false);
            Reference<css::sheet::XCellRangeAddressable> addr(cursor, UNO_QUERY_THROW);
            const css::table::CellRangeAddress a = addr->getRangeAddress();
            usedRows_ = a.EndRow + 1;
            usedCols_ = a.EndColumn + 1;
            return 0;
        });
        known_ = true;
        copiedAt_ = now;
        bandRows_ = 0;
        band_.clear();
    }
    if (row > usedRows_ || (bandRows_ > 0 && row >= bandFirst_ && row < bandFirst_ + bandRows_))
        return;
    const long perBand = std::max(1L, kMaxCopiedCells / usedCols_);
    const int first = static_cast<int>((row - 1) / perBand * perBand + 1);
    const int last = static_cast<int>(std::min<long>(usedRows_, first + perBand - 1));
    Flush();
    Guarded([&] {
        Reference<css::sheet::XCellRangeData> data(
            sheet_->getCellRangeByPosition(0, first - 1, usedCols_ - 1, last - 1), UNO_QUERY_THROW);
        const Sequence<Sequence<Any>> rows = data->getDataArray();
        band_.assign(static_cast<size_t>(last - first + 1) * static_cast<size_t>(usedCols_), {});
        for (sal_Int32 r = 0; r < rows.getLength() && r <= last - first; ++r) {
            const Sequence<Any>& cells = rows[r];
            for (sal_Int32 c = 0; c < cells.getLength() && c < usedCols_; ++c)
                band_[static_cast<size_t>(r) * static_cast<size_t>(usedCols_) +
                      static_cast<size_t>(c)] = FromAny(cells[c]);
        }
        return 0;
    });
    bandFirst_ = first;
    bandRows_ = last - first + 1;
}

CellValue LibreOfficeSheet::Value(int row, int col) const {
    CheckCell(row, col);
    Refresh(row);
    if (row > usedRows_ || col > usedCols_) return {};
    return band_[static_cast<size_t>(row - bandFirst_) * static_cast<size_t>(usedCols_) +
                 static_cast<size_t>(col - 1)];
}

void LibreOfficeSheet::Wrote(int row1, int col1, int row2, int col2, const CellValue* values,
                             size_t stride) {
    parent_->MarkDirty();
    if (!known_) return;
    if (!values) { // a clear never grows the used range
        row2 = std::min(row2, usedRows_);
        col2 = std::min(col2, usedCols_);
    } else if (row2 > usedRows_ || col2 > usedCols_) {
        known_ = false; // the used range grew
        return;
    }
    for (int r = std::max(row1, bandFirst_); r <= row2 && r < bandFirst_ + bandRows_; ++r)
        for (int c = col1; c <= col2; ++c) {
            CellValue& cell =
                band_[static_cast<size_t>(r - bandFirst_) * static_cast<size_t>(usedCols_) +
                      static_cast<size_t>(c - 1)];
            cell = values ? AsStored(values[static_cast<size_t>(r - row1) * stride +
                                            static_cast<size_t>(c - col1)])
                          : CellValue{};
        }
}

void LibreOfficeSheet::WriteBlock(int row1, int col1,
                                  const std::vector<std::vector<CellValue>>& rows, size_t first,
                                  size_t count, size_t width) {
    if (count == 0 || width == 0) return;
    const int r1 = row1 + static_cast<int>(first);
    const int r2 = r1 + static_cast<int>(count) - 1;
    const int c2 = col1 + static_cast<int>(width) - 1;
    CheckRange(r1, col1, r2, c2);
    Flush();
    Sequence<Sequence<Any>> data(static_cast<sal_Int32>(count));
    std::vector<CellValue> flat;
    flat.reserve(count * width);
    auto* out = data.getArray();
    for (size_t i = 0; i < count; ++i) {
        const auto& row = rows[first + i];
        Sequence<Any> cells(static_cast<sal_Int32>(width));
        auto* c = cells.getArray();
        for (size_t j = 0; j < width; ++j) {
            c[j] = ToAny(row[j]);
            flat.push_back(row[j]);
        }
        out[i] = cells;
    }
    Guarded([&] {
        OwnCall own(connection_);
        Reference<css::sheet::XCellRangeData> range(
            sheet_->getCellRangeByPosition(col1 - 1, r1 - 1, c2 - 1, r2 - 1), UNO_QUERY_THROW);
        range->setDataArray(data);
        return 0;
    });
    Wrote(r1, col1, r2, c2, flat.data(), width);
}

void LibreOfficeSheet::SetValue(int row, int col, const CellValue& value) {
    CheckCell(row, col);
    ToAny(value); // a value the office cannot take fails here, not later
    {
        std::lock_guard<std::mutex> lock(writes_->Mutex());
        if (!failure_.empty()) {
            const std::string why = std::move(failure_);
            failure_.clear();
            throw RuntimeError(why);
        }
        const bool first = queued_.empty();
        queued_[{row, col}] = value;
        if (first) writes_->Queued(this);
    }
    Wrote(row, col, row, col, &value, 1);
}

void LibreOfficeSheet::SetEvents(bool on) {
    // The queue goes out first, so that the switch covers it; a failure waits for the
    // next operation on the sheet (switching never fails).
    {
        std::lock_guard<std::mutex> lock(writes_->Mutex());
        FlushLocked();
    }
    events_ = on;
}

void LibreOfficeSheet::Flush() const {
    std::string why;
    {
        std::lock_guard<std::mutex> lock(writes_->Mutex());
        FlushLocked();
        std::swap(why, failure_);
    }
    if (!why.empty()) throw RuntimeError(why);
}

namespace {

/// A rectangle of queued cells, row by row.
struct Rect {
    int row1 = 0, row2 = 0, col1 = 0, col2 = 0;
    std::vector<const CellValue*> cells;
};

/// The queued cells as few rectangles: runs of adjacent columns in each row, joined
/// with the runs of the same columns in the rows below.
std::vector<Rect> Rectangles(const std::map<std::pair<int, int>, CellValue>& queued) {
    std::vector<Rect> done;
    std::map<std::pair<int, int>, Rect> open; // by (col1, col2)
    auto it = queued.begin();
    while (it != queued.end()) {
        const int row = it->first.first;
        for (auto o = open.begin(); o != open.end();) {
            if (o->second.row2 < row - 1) {
                done.push_back(std::move(o->second));
                o = open.erase(o);
            } else {
                ++o;
            }
        }
        while (it != queued.end() && it->first.first == row) {
            Rect run;
            run.row1 = run.row2 = row;
            run.col1 = run.col2 = it->first.second;
            run.cells.push_back(&it->second);
            for (++it;
                 it != queued.end() && it->first.first == row && it->first.second == run.col2 + 1;
                 ++it) {
                ++run.col2;
                run.cells.push_back(&it->second);
            }
            auto o = open.find({run.col1, run.col2});
            if (o != open.end() && o->second.row2 == row - 1) {
                o->second.row2 = row;
                o->second.cells.insert(o->second.cells.end(), run.cells.begin(), run.cells.end());
            } else {
                if (o != open.end()) {
                    done.push_back(std::move(o->second));
                    open.erase(o);
                }
                open.emplace(std::make_pair(run.col1, run.col2), std::move(run));
            }
        }
    }
    for (auto& o : open) done.push_back(std::move(o.second));
    return done;
}

} // namespace

void LibreOfficeSheet::FlushLocked() const {
    if (queued_.empty()) return;
    try {
        OwnCall own(connection_);
        for (const Rect& r : Rectangles(queued_)) {
            const sal_Int32 width = r.col2 - r.col1 + 1;
            Sequence<Sequence<Any>> data(r.row2 - r.row1 + 1);
            auto* rows = data.getArray();
            size_t k = 0;
            for (sal_Int32 i = 0; i < data.getLength(); ++i) {
                Sequence<Any> cells(width);
                auto* c = cells.getArray();
                for (sal_Int32 j = 0; j < width; ++j) c[j] = ToAny(*r.cells[k++]);
                rows[i] = cells;
            }
            Reference<css::sheet::XCellRangeData> range(
                sheet_->getCellRangeByPosition(r.col1 - 1, r.row1 - 1, r.col2 - 1, r.row2 - 1),
                UNO_QUERY_THROW);
            range->setDataArray(data);
        }
    } catch (const css::uno::Exception& e) {
        failure_ = OfficeError(e).Description();
    } catch (const std::exception& e) {
        failure_ = e.what();
    }
    queued_.clear();
}

void LibreOfficeSheet::SetBlock(int row1, int col1,
                                const std::vector<std::vector<CellValue>>& rows) {
    // One call per run of rows of equal length.
    size_t i = 0;
    while (i < rows.size()) {
        size_t j = i + 1;
        while (j < rows.size() && rows[j].size() == rows[i].size()) ++j;
        WriteBlock(row1, col1, rows, i, j - i, rows[i].size());
        i = j;
    }
}

std::vector<std::vector<CellValue>> LibreOfficeSheet::Block(int row1, int col1, int row2,
                                                            int col2) const {
    CheckRange(row1, col1, row2, col2);
    Flush();
    return Guarded([&] {
        Reference<css::sheet::XCellRangeData> range(
            sheet_->getCellRangeByPosition(col1 - 1, row1 - 1, col2 - 1, row2 - 1),
            UNO_QUERY_THROW);
        const Sequence<Sequence<Any>> data = range->getDataArray();
        std::vector<std::vector<CellValue>> rows(static_cast<size_t>(row2 - row1 + 1));
        for (size_t r = 0; r < rows.size(); ++r) {
            rows[r].resize(static_cast<size_t>(col2 - col1 + 1));
            if (static_cast<sal_Int32>(r) >= data.getLength()) continue;
            const Sequence<Any>& cells = data[static_cast<sal_Int32>(r)];
            for (size_t c = 0; c < rows[r].size() && static_cast<sal_Int32>(c) < cells.getLength();
                 ++c)
                rows[r][c] = FromAny(cells[static_cast<sal_Int32>(c)]);
        }
        return rows;
    });
}

std::optional<std::string> LibreOfficeSheet::Comment(int row, int col) const {
    CheckCell(row, col);
    return Guarded([&]() -> std::optional<std::string> {
        Reference<css::sheet::XSheetAnnotationAnchor> anchor(
            sheet_->getCellByPosition(col - 1, row - 1), UNO_QUERY_THROW);
        Reference<css::text::XSimpleText> text(anchor->getAnnotation(), UNO_QUERY_THROW);
        const OUString s = text->getString();
        if (s.isEmpty()) return std::nullopt;
        return FromOU(s);
    });
}

void LibreOfficeSheet::SetComment(int row, int col, const std::optional<std::string>& text) {
    CheckCell(row, col);
    Flush();
    Guarded([&] {
        OwnCall own(connection_);
        Reference<css::table::XCellRange> cell(
            sheet_->getCellRangeByPosition(col - 1, row - 1, col - 1, row - 1));
        Reference<css::sheet::XSheetOperation> op(cell, UNO_QUERY_THROW);
        op->clearContents(CellFlags::ANNOTATION);
        if (text) {
            Reference<css::sheet::XCellAddressable> addr(
                sheet_->getCellByPosition(col - 1, row - 1), UNO_QUERY_THROW);
            Reference<css::sheet::XSheetAnnotationsSupplier> supplier(sheet_, UNO_QUERY_THROW);
            supplier->getAnnotations()->insertNew(addr->getCellAddress(), ToOU(*text));
        }
        return 0;
    });
    parent_->MarkDirty();
}

void LibreOfficeSheet::ClearFlags(int row1, int col1, int row2, int col2, sal_Int32 flags) {
    CheckRange(row1, col1, row2, col2);
    Flush();
    Guarded([&] {
        OwnCall own(connection_);
        Reference<css::sheet::XSheetOperation> op(
            sheet_->getCellRangeByPosition(col1 - 1, row1 - 1, col2 - 1, row2 - 1),
            UNO_QUERY_THROW);
        op->clearContents(flags);
        return 0;
    });
    Wrote(row1, col1, row2, col2, nullptr, 0);
}

void LibreOfficeSheet::ClearContents(int row1, int col1, int row2, int col2) {
    ClearFlags(row1, col1, row2, col2, kContents);
}

void LibreOfficeSheet::Clear(int row1, int col1, int row2, int col2) {
    ClearFlags(row1, col1, row2, col2, kContents | kFormats);
}

void LibreOfficeSheet::SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) {
    CheckRange(row1, col1, row2, col2);
    // The spreadsheet's alignment constants: centred, left, right; anything else is standard.
    css::table::CellHoriJustify j = css::table::CellHoriJustify_STANDARD;
    if (align == kAlignCenter)
        j = css::table::CellHoriJustify_CENTER;
    else if (align == -4131)
        j = css::table::CellHoriJustify_LEFT;
    else if (align == -4152)
        j = css::table::CellHoriJustify_RIGHT;
    Flush();
    Guarded([&] {
        OwnCall own(connection_);
        Reference<css::beans::XPropertySet> props(
            sheet_->getCellRangeByPosition(col1 - 1, row1 - 1, col2 - 1, row2 - 1),
            UNO_QUERY_THROW);
        props->setPropertyValue("HoriJustify", Any(j));
        return 0;
    });
    parent_->MarkDirty();
}

} // namespace lumora::lo
