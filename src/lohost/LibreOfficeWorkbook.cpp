#include "lohost/LibreOfficeWorkbook.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/ChangedByOthersRequest.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable2.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/task/InteractionHandler.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>
#include <rtl/ref.hxx>

namespace lumora::lo {

namespace {

constexpr const char* kNewerFile =
    "another program changed the file since LibreOffice loaded it; the newer file is kept";

Reference<css::container::XIndexAccess> SheetsOf(const Reference<css::frame::XModel>& model) {
    Reference<css::sheet::XSpreadsheetDocument> doc(model, UNO_QUERY_THROW);
    return Reference<css::container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW);
}

/// Answers the questions the office asks while it stores a document: a file that another
/// program changed since the office loaded it is never overwritten; every other question
/// goes to the office's own handler, as with a plain store.
class SaveQuestions : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    explicit SaveQuestions(const Reference<css::uno::XComponentContext>& office) {
        if (office.is())
            office_.set(css::task::InteractionHandler::createWithParent(office, {}), UNO_QUERY);
    }
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
        css::document::ChangedByOthersRequest changed;
        if (!(request->getRequest() >>= changed)) {
            if (office_.is()) office_->handle(request);
            return;
        }
        refusedNewer = true;
        for (const auto& choice : request->getContinuations()) {
            Reference<css::task::XInteractionAbort> abort(choice, UNO_QUERY);
            if (abort.is()) return abort->select();
        }
    }
    std::atomic<bool> refusedNewer{false};

private:
    Reference<css::task::XInteractionHandler> office_;
};

} // namespace

LibreOfficeWorkbook::LibreOfficeWorkbook(Reference<css::frame::XModel> model,
                                         const void* connection, WriteBehind* writes,
                                         BookHooks hooks)
    : model_(std::move(model)), connection_(connection), writes_(writes), hooks_(std::move(hooks)) {
}

LibreOfficeWorkbook::~LibreOfficeWorkbook() = default;

void LibreOfficeWorkbook::CheckAlive() const {
    if (!*alive_) throw RuntimeError("LibreOffice: the document has been closed");
}

std::string LibreOfficeWorkbook::FullName() const {
    CheckAlive();
    return Guarded([&] {
        const OUString url = model_->getURL();
        OUString path;
        if (url.isEmpty() ||
            osl::FileBase::getSystemPathFromFileURL(url, path) != osl::FileBase::E_None)
            return std::string();
        return FromOU(path);
    });
}

std::string LibreOfficeWorkbook::Name() const {
    const std::string path = FullName();
    if (!path.empty()) return path.substr(path.rfind('/') + 1);
    return Guarded([&] {
        Reference<css::frame::XTitle> title(model_, UNO_QUERY);
        return title.is() ? FromOU(title->getTitle()) : std::string();
    });
}

LibreOfficeSheet* LibreOfficeWorkbook::SheetFor(const Reference<css::sheet::XSpreadsheet>& sheet) {
    // Calc hands out a new object for every look-up of a sheet: match by name.
    Reference<css::container::XNamed> named(sheet, UNO_QUERY_THROW);
    const std::string name = FromOU(named->getName());
    for (auto& s : sheets_) {
        try {
            if (s->Name() == name) return s.get();
        } catch (const RuntimeError&) {
            // a sheet that was deleted
        }
    }
    sheets_.push_back(std::make_unique<LibreOfficeSheet>(this, sheet, connection_, writes_));
    return sheets_.back().get();
}

Worksheet* LibreOfficeWorkbook::ActiveSheet() {
    CheckAlive();
    return Guarded([&]() -> Worksheet* {
        Reference<css::sheet::XSpreadsheetView> view(model_->getCurrentController(), UNO_QUERY);
        if (!view.is()) return nullptr;
        Reference<css::sheet::XSpreadsheet> sheet = view->getActiveSheet();
        return sheet.is() ? SheetFor(sheet) : nullptr;
    });
}

Worksheet* LibreOfficeWorkbook::Worksheets(int index) {
    CheckAlive();
    return Guarded([&]() -> Worksheet* {
        auto sheets = SheetsOf(model_);
        if (index < 1 || index > sheets->getCount()) return nullptr;
        Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(index - 1), UNO_QUERY);
        return sheet.is() ? SheetFor(sheet) : nullptr;
    });
}

int LibreOfficeWorkbook::WorksheetCount() const {
    CheckAlive();
    return Guarded([&] { return static_cast<int>(SheetsOf(model_)->getCount()); });
}

void LibreOfficeWorkbook::Activate() {
    CheckAlive();
    Guarded([&] {
        Reference<css::frame::XController> controller = model_->getCurrentController();
        if (controller.is() && controller->getFrame().is()) controller->getFrame()->activate();
        return 0;
    });
    if (hooks_.activated) hooks_.activated(this);
}

bool LibreOfficeWorkbook::Save(std::string& error) {
    error.clear();
    std::string name = "workbook";
    try {
        if (Alive()) name = Name();
    } catch (const RuntimeError&) {
        // the office has gone
    }
    const std::string prefix = "Cannot save " + name + ": ";
    if (!Alive()) {
        error = prefix + "the document has been closed in LibreOffice";
        return false;
    }
    rtl::Reference<SaveQuestions> questions;
    try {
        const std::string path = FullName();
        if (path.empty()) {
            error = prefix + "the document has no file yet";
            return false;
        }
        // The office compares the file's date to the second only; the stamp sees more.
        if (FileReplaced(path)) {
            error = prefix + kNewerFile;
            return false;
        }
        Flush();
        questions = new SaveQuestions(hooks_.office);
        Sequence<css::beans::PropertyValue> args(1);
        args.getArray()[0].Name = "InteractionHandler";
        args.getArray()[0].Value <<= Reference<css::task::XInteractionHandler>(questions.get());
        OwnCall own(connection_);
        Reference<css::frame::XStorable2> storable(model_, UNO_QUERY_THROW);
        storable->storeSelf(args);
        stamp_ = FileStamp::Of(path);
    } catch (const css::uno::Exception& e) {
        if (questions.is() && questions->refusedNewer)
            error = prefix + kNewerFile;
        else
            error = prefix +
                    (e.Message.isEmpty() ? "LibreOffice refused to store it" : FromOU(e.Message));
        return false;
    } catch (const RuntimeError& e) {
        error = prefix + e.Description();
        return false;
    }
    dirty_ = false;
    return true;
}

void LibreOfficeWorkbook::LoadedHere(std::optional<FileStamp> stamp) {
    openedHere_ = true;
    stamp_ = stamp;
}

void LibreOfficeWorkbook::Close() {
    if (!Alive()) return;
    Guarded([&] {
        Reference<css::util::XCloseable> closeable(model_, UNO_QUERY_THROW);
        closeable->close(true);
        return 0;
    });
    MarkDead();
}

bool LibreOfficeWorkbook::Modified() const {
    if (dirty_) return true;
    return Guarded([&] {
        Reference<css::util::XModifiable> modifiable(model_, UNO_QUERY);
        return modifiable.is() && modifiable->isModified();
    });
}

bool LibreOfficeWorkbook::FileReplaced(const std::string& path) {
    if (stored_->exchange(false)) stamp_ = FileStamp::Of(path);
    const auto now = FileStamp::Of(path);
    return stamp_ && now && *now != *stamp_;
}

ReloadResult LibreOfficeWorkbook::ReloadIfChangedOnDisk(std::string& error) {
    error.clear();
    if (!Alive()) return ReloadResult::Unchanged;
    try {
        const std::string path = FullName();
        if (path.empty() || !FileStamp::Of(path)) return ReloadResult::Unchanged;
        const bool replaced = FileReplaced(path);
        if (stamp_ && !replaced) return ReloadResult::Unchanged;
        if (Modified()) {
            // A document found open with unsaved edits holds the user's live work, and how
            // old its copy is nobody knows: it is read as it is (a save still refuses to
            // overwrite a newer file).
            if (!stamp_) return ReloadResult::Unchanged;
            error = Name() + " has unsaved changes in LibreOffice, and another program changed "
                             "its file since";
            return ReloadResult::Failed;
        }
        return Reload(error) ? ReloadResult::Reloaded : ReloadResult::Failed;
    } catch (const css::uno::Exception& e) {
        error = OfficeError(e).Description();
    } catch (const RuntimeError& e) {
        error = e.Description();
    }
    return ReloadResult::Failed;
}

bool LibreOfficeWorkbook::Reload(std::string& error) {
    // Where each sheet was, to find it again by name, else at its position.
    std::vector<std::pair<OUString, sal_Int32>> places;
    for (const auto& s : sheets_) {
        try {
            Reference<css::container::XNamed> named(s->Uno(), UNO_QUERY_THROW);
            Reference<css::sheet::XCellRangeAddressable> at(s->Uno(), UNO_QUERY_THROW);
            places.emplace_back(named->getName(), at->getRangeAddress().Sheet);
        } catch (const css::uno::Exception&) {
            places.emplace_back(OUString(), -1); // a sheet that was deleted
        }
    }
    const std::string path = FullName();
    const auto stamp = FileStamp::Of(path);
    // The old document's closing is not this workbook's end.
    alive_ = std::make_shared<std::atomic<bool>>(true);
    stored_ = std::make_shared<std::atomic<bool>>(false);
    Reference<css::frame::XModel> fresh =
        hooks_.reopen ? hooks_.reopen(this, error) : Reference<css::frame::XModel>();
    if (!fresh.is()) {
        MarkDead();
        return false;
    }
    model_ = fresh;
    dirty_ = false;
    stamp_ = stamp;
    Reference<css::sheet::XSpreadsheetDocument> doc(model_, UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheets> byName = doc->getSheets();
    Reference<css::container::XIndexAccess> byIndex(byName, UNO_QUERY_THROW);
    for (size_t i = 0; i < sheets_.size(); ++i) {
        const auto& [name, index] = places[i];
        Reference<css::sheet::XSpreadsheet> sheet;
        if (!name.isEmpty() && byName->hasByName(name))
            byName->getByName(name) >>= sheet;
        else if (index >= 0 && index < byIndex->getCount())
            byIndex->getByIndex(index) >>= sheet;
        if (sheet.is()) sheets_[i]->Rebind(sheet); // else it answers with errors
    }
    return true;
}

void LibreOfficeWorkbook::Flush() {
    for (auto& s : sheets_) s->Flush();
}

void LibreOfficeWorkbook::DeliverPending() {
    for (auto& s : sheets_) s->DeliverPending();
}

bool LibreOfficeWorkbook::ChangedOnDisk() {
    DeliverPending();
    return false;
}

} // namespace lumora::lo
