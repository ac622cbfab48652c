#include "sheet/SaveDirtyWorkbooks.h"

#include "sheet/Workbook.h"

namespace lumora {

bool SaveDirtyWorkbooks(SpreadsheetApp& app, std::string& message) {
    message.clear();
    bool ok = true;
    for (int i = 1; i <= app.WorkbookCount(); ++i) {
        Workbook* book = app.WorkbookItem(i);
        if (!book || !book->Dirty()) continue;
        std::string error;
        if (!book->Save(error)) {
            ok = false;
            message += (message.empty() ? "" : "\n") + error;
        }
    }
    return ok;
}

} // namespace lumora
