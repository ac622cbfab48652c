#pragma once
// A Calc document as a workbook. The object stays valid after the document is
// closed (the program may still hold it); it then answers with errors.

#include "lohost/LibreOfficeSheet.h"
#include "lohost/LibreOfficeUno.h"
#include "sheet/Workbook.h"

#include <com/sun/star/frame/XModel.hpp>

#include <atomic>
#include <memory>
#include <vector>

namespace lumora::lo {

class LibreOfficeWorkbook : public Workbook {
public:
    LibreOfficeWorkbook(Reference<css::frame::XModel> model, const void* connection,
                        WriteBehind* writes, std::function<void(LibreOfficeWorkbook*)> onActivate);
    ~LibreOfficeWorkbook() override;

    /// File name of the document ("" folder part), or its title when it has no file yet.
    std::string Name() const override;
    /// Path of the document's file, "" when it has none.
    std::string FullName() const override;
    Worksheet* ActiveSheet() override;
    Worksheet* Worksheets(int index) override;
    int WorksheetCount() const override;
    /// Brings the document's window to the front and makes it the current document.
    void Activate() override;
    bool Dirty() const override { return dirty_; }
    void SetDirty(bool dirty) override { dirty_ = dirty; }
    /// Stores the document in its file and format.
    bool Save(std::string& error) override;
    /// Edits arrive live; this hands those that came in to the sheets' handlers.
    bool ChangedOnDisk() override;

    const Reference<css::frame::XModel>& Model() const { return model_; }
    /// False after the document was closed or the office went away.
    bool Alive() const { return *alive_; }
    void MarkDead() { *alive_ = false; }
    /// The flag behind Alive(), for listeners that may outlive this object.
    std::shared_ptr<std::atomic<bool>> AliveFlag() const { return alive_; }
    void MarkDirty() { dirty_ = true; }
    void DeliverPending();
    /// Sends the cells its sheets queued; raises the first failure.
    void Flush();

private:
    LibreOfficeSheet* SheetFor(const Reference<css::sheet::XSpreadsheet>& sheet);
    void CheckAlive() const;

    Reference<css::frame::XModel> model_;
    const void* connection_;
    WriteBehind* writes_;
    std::function<void(LibreOfficeWorkbook*)> onActivate_;
    std::vector<std::unique_ptr<LibreOfficeSheet>> sheets_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    bool dirty_ = false;
};

} // namespace lumora::lo
