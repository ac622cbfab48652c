#include "Xls.h"

#include "Worksheet.h"

namespace lumora {

xls::~xls() { SetSheet(nullptr); }

void xls::SetSheet(Worksheet* sheet) {
    if (sheet_ == sheet) return;
    if (sheet_) sheet_->SetChangeHandler({});
    sheet_ = sheet;
    if (sheet_) sheet_->SetChangeHandler([this] { Sheet_Change(); });
}

void xls::SetEvents(bool on) {
    if (sheet_) sheet_->SetEvents(on);
}

void xls::Sheet_Change() { Changed = true; }

} // namespace lumora
