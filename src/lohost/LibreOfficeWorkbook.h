#pragma once
// A Calc document as a workbook. The object stays valid after the document is
// closed (the program may still hold it); it then answers with errors.

#include "lohost/LibreOfficeSheet.h"
#include "lohost/LibreOfficeUno.h"
#include "sheet/FileStamp.h"
#include "sheet/Workbook.h"

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace lumora::lo {

class LibreOfficeWorkbook;

/// What a workbook needs from its host.
struct BookHooks {
    /// Called when the workbook is made the active one.
    std::function<void(LibreOfficeWorkbook*)> activated;
    /// Closes the workbook's document unsaved and loads its file again, watched through
    /// the workbook's flags; the new document, or an empty reference with the reason.
    std::function<Reference<css::frame::XModel>(LibreOfficeWorkbook*, std::string&)> reopen;
    /// The office, whose own handler answers the questions of a save not about a newer file.
    Reference<css::uno::XComponentContext> office;
};

class LibreOfficeWorkbook : public Workbook {
public:
    LibreOfficeWorkbook(Reference<css::frame::XModel> model, const void* connection,
                        WriteBehind* writes, BookHooks hooks);
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
    /// Stores the document in its file and format; refuses when another program wrote
    /// the file since the office loaded or stored it (the newer file is kept).
    bool Save(std::string& error) override;
    /// Edits arrive live; this hands those that came in to the sheets' handlers.
    bool ChangedOnDisk() override;
    /// Loads the file again, when the document holds no unsaved changes, if the file
    /// changed since this host or the office last loaded or stored it, or if the document
    /// was open before the host came (how old its copy is nobody knows). Fails, keeping
    /// the document, when it has unsaved changes and the file changed.
    ReloadResult ReloadIfChangedOnDisk(std::string& error) override;

    const Reference<css::frame::XModel>& Model() const { return model_; }
    /// False after the document was closed or the office went away.
    bool Alive() const { return *alive_; }
    void MarkDead() { *alive_ = false; }
    /// The flag behind Alive(), for listeners that may outlive this object.
    std::shared_ptr<std::atomic<bool>> AliveFlag() const { return alive_; }
    /// Raised by a listener when the office stored the document.
    std::shared_ptr<std::atomic<bool>> StoredFlag() const { return stored_; }
    void MarkDirty() { dirty_ = true; }
    /// The host loaded the document; stamp is the file as it was just before.
    void LoadedHere(std::optional<FileStamp> stamp);
    /// True when the host loaded the document (it was not open before).
    bool OpenedHere() const { return openedHere_; }
    /// Closes the document, dropping what was not saved.
    void Close();
    void DeliverPending();
    /// Sends the cells its sheets queued; raises the first failure.
    void Flush();

private:
    LibreOfficeSheet* SheetFor(const Reference<css::sheet::XSpreadsheet>& sheet);
    void CheckAlive() const;
    /// True when the office's copy has changes its file does not have.
    bool Modified() const;
    /// True when the file is not the one this host or the office last loaded or stored.
    bool FileReplaced(const std::string& path);
    /// Closes the document and loads its file again; the sheets follow by name, else by
    /// position; what the program wrote and did not save is dropped.
    bool Reload(std::string& error);

    Reference<css::frame::XModel> model_;
    const void* connection_;
    WriteBehind* writes_;
    BookHooks hooks_;
    std::vector<std::unique_ptr<LibreOfficeSheet>> sheets_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<bool>> stored_ = std::make_shared<std::atomic<bool>>(false);
    bool dirty_ = false;
    bool openedHere_ = false;
    /// The file as this host or the office last loaded or stored it; nothing for a
    /// document found open and not stored since.
    std::optional<FileStamp> stamp_;
};

} // namespace lumora::lo
