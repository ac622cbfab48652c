#include "sheet/SheetWatcher.h"

#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

namespace lumora {

ChangedFlag::operator bool() const {
    if (!value_ && owner_->ChangedOnDisk()) value_ = true;
    return value_;
}

SheetWatcher::~SheetWatcher() {
    SetSheet(nullptr);
}

void SheetWatcher::SetSheet(Worksheet* sheet) {
    if (Sheet() == sheet && sheet) return;
    if (Worksheet* old = Sheet()) old->SetChangeHandler({});
    sheet_ = sheet;
    alive_ = sheet ? sheet->Lifetime() : std::weak_ptr<const void>();
    if (sheet_) sheet_->SetChangeHandler([this] { Sheet_Change(); });
}

void SheetWatcher::SetEvents(bool on) {
    if (Worksheet* sheet = Sheet()) sheet->SetEvents(on);
}

void SheetWatcher::Sheet_Change() {
    Changed = true;
}

bool SheetWatcher::ChangedOnDisk() const {
    Worksheet* sheet = Sheet();
    Workbook* book = sheet ? sheet->Parent() : nullptr;
    return book && book->ChangedOnDisk();
}

} // namespace lumora
