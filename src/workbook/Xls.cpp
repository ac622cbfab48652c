#include "Xls.h"

#include "Workbook.h"
#include "Worksheet.h"

namespace lumora {

ChangedFlag::operator bool() const {
    if (!value_ && owner_->ChangedOnDisk()) value_ = true;
    return value_;
}

xls::~xls() {
    SetSheet(nullptr);
}

void xls::SetSheet(Worksheet* sheet) {
    if (Sheet() == sheet && sheet) return;
    if (Worksheet* old = Sheet()) old->SetChangeHandler({});
    sheet_ = sheet;
    alive_ = sheet ? sheet->Lifetime() : std::weak_ptr<const void>();
    if (sheet_) sheet_->SetChangeHandler([this] { Sheet_Change(); });
}

void xls::SetEvents(bool on) {
    if (Worksheet* sheet = Sheet()) sheet->SetEvents(on);
}

void xls::Sheet_Change() {
    Changed = true;
}

bool xls::ChangedOnDisk() const {
    Worksheet* sheet = Sheet();
    Workbook* book = sheet ? sheet->Parent() : nullptr;
    return book && book->ChangedOnDisk();
}

} // namespace lumora
