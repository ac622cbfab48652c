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
    if (sheet_ == sheet) return;
    if (sheet_) sheet_->SetChangeHandler({});
    sheet_ = sheet;
    if (sheet_) sheet_->SetChangeHandler([this] { Sheet_Change(); });
}

void xls::SetEvents(bool on) {
    if (sheet_) sheet_->SetEvents(on);
}

void xls::Sheet_Change() {
    Changed = true;
}

bool xls::ChangedOnDisk() const {
    Workbook* book = sheet_ ? sheet_->Parent() : nullptr;
    return book && book->ChangedOnDisk();
}

} // namespace lumora
