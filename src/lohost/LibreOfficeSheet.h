#pragma once
// A Calc sheet as a worksheet. Reads come from a copy of the sheet's used range
// fetched in one call and kept until a change (the program's own writes update
// it in place); writes go out in blocks. Edits made by others arrive from the
// office on its own threads: they only bump a counter and raise a pending flag
// that the main thread turns into the change handler's call.

#include "lohost/LibreOfficeUno.h"
#include "lohost/LibreOfficeWriteBehind.h"
#include "sheet/Worksheet.h"

#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <rtl/ref.hxx>

#include <atomic>
#include <functional>
#include <map>

namespace lumora::lo {

class LibreOfficeWorkbook;
class SheetListener;

class LibreOfficeSheet : public Worksheet {
public:
    LibreOfficeSheet(LibreOfficeWorkbook* parent, Reference<css::sheet::XSpreadsheet> sheet,
                     const void* connection, WriteBehind* writes);
    ~LibreOfficeSheet() override;
    LibreOfficeSheet(const LibreOfficeSheet&) = delete;
    LibreOfficeSheet& operator=(const LibreOfficeSheet&) = delete;

    std::string Name() const override;
    Workbook* Parent() override;

    CellValue Value(int row, int col) const override;
    /// Queues the value (see WriteBehind); raises "Overflow" for a NaN or infinity at once.
    void SetValue(int row, int col, const CellValue& value) override;
    /// Text of the cell's comment (annotation); nothing when it has none or an empty one.
    std::optional<std::string> Comment(int row, int col) const override;
    void SetComment(int row, int col, const std::optional<std::string>& text) override;
    void ClearContents(int row1, int col1, int row2, int col2) override;
    /// Values and formats; comments stay (they are the user's marks).
    void Clear(int row1, int col1, int row2, int col2) override;
    void SetHorizontalAlignment(int row1, int col1, int row2, int col2, int align) override;

    std::vector<std::vector<CellValue>> Block(int row1, int col1, int row2,
                                              int col2) const override;
    void SetBlock(int row1, int col1, const std::vector<std::vector<CellValue>>& rows) override;

    void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
    void SetEvents(bool on) override;
    bool Events() const override { return events_; }

    /// Calls the change handler when an edit arrived since the last call (main thread).
    void DeliverPending();
    /// The office object behind the sheet.
    const Reference<css::sheet::XSpreadsheet>& Uno() const { return sheet_; }
    /// Follows the sheet into a document loaded again: the copy and unsent writes go.
    void Rebind(Reference<css::sheet::XSpreadsheet> sheet);

    // From the listener, on the office's threads.
    void ChangedByOffice();

    /// Sends the queued cells (WriteBehind's mutex held); a failure is kept and raised
    /// by the next operation on the sheet.
    void FlushLocked() const;
    /// Sends the queued cells; raises a failure of this or an earlier sending.
    void Flush() const;

private:
    /// Subscribes the listener to the sheet's edits, or unsubscribes it.
    void Listen(bool on);
    void CheckCell(int row, int col) const;
    void CheckRange(int row1, int col1, int row2, int col2) const;
    /// Brings the copy of the used range up to date for row.
    void Refresh(int row) const;
    /// After a write of the program: keeps the copy when the cells lie inside it.
    void Wrote(int row1, int col1, int row2, int col2, const CellValue* values, size_t stride);
    void WriteBlock(int row1, int col1, const std::vector<std::vector<CellValue>>& rows,
                    size_t first, size_t count, size_t width);
    void ClearFlags(int row1, int col1, int row2, int col2, sal_Int32 flags);

    LibreOfficeWorkbook* parent_;
    Reference<css::sheet::XSpreadsheet> sheet_;
    const void* connection_;
    WriteBehind* writes_;
    /// Cells written but not sent yet, by (row, column); guarded by the WriteBehind's mutex.
    mutable std::map<std::pair<int, int>, CellValue> queued_;
    mutable std::string failure_;
    rtl::Reference<SheetListener> listener_;
    std::function<void()> handler_;
    std::atomic<bool> events_{true};
    std::atomic<bool> pending_{false};
    /// Changes made by others so far; the copy is good while it has not moved.
    std::atomic<unsigned long> external_{0};

    // The copy: a band of rows of the used range (all of it unless it is huge).
    mutable bool known_ = false;
    mutable unsigned long copiedAt_ = 0;
    mutable int usedRows_ = 0, usedCols_ = 0;
    mutable int bandFirst_ = 0, bandRows_ = 0;
    mutable std::vector<CellValue> band_;
};

} // namespace lumora::lo
