#include "lohost/LibreOfficeWorkbook.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <osl/file.hxx>

namespace lumora::lo {

namespace {

Reference<css::container::XIndexAccess> SheetsOf(const Reference<css::frame::XModel>& model) {
    Reference<css::sheet::XSpreadsheetDocument> doc(model, UNO_QUERY_THROW);
    return Reference<css::container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW);
}

} // namespace

LibreOfficeWorkbook::LibreOfficeWorkbook(Reference<css::frame::XModel> model,
                                         const void* connection, WriteBehind* writes,
                                         std::function<void(LibreOfficeWorkbook*)> onActivate)
    : model_(std::move(model)), connection_(connection), writes_(writes),
      onActivate_(std::move(onActivate)) {}

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
    if (onActivate_) onActivate_(this);
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
    try {
        if (FullName().empty()) {
            error = prefix + "the document has no file yet";
            return false;
        }
        Flush();
        OwnCall own(connection_);
        Reference<css::frame::XStorable> storable(model_, UNO_QUERY_THROW);
        storable->store();
    } catch (const css::uno::Exception& e) {
        error =
            prefix + (e.Message.isEmpty() ? "LibreOffice refused to store it" : FromOU(e.Message));
        return false;
    } catch (const RuntimeError& e) {
        error = prefix + e.Description();
        return false;
    }
    dirty_ = false;
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
