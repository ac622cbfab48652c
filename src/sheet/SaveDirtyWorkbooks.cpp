#include "sheet/SaveDirtyWorkbooks.h"

#include "base/RuntimeError.h"
#include "sheet/Workbook.h"

namespace lumora {

bool SaveDirtyWorkbooks(SpreadsheetApp& app, std::string& message) {
    message.clear();
    bool ok = true;
    // A host that went away answers with errors: a failed save, not the end of the program.
    try {
        for (int i = 1; i <= app.WorkbookCount(); ++i) {
            Workbook* book = app.WorkbookItem(i);
            if (!book || !book->Dirty()) continue;
            std::string error;
            if (!book->Save(error)) {
                ok = false;
                message += (message.empty() ? "" : "\n") + error;
            }
        }
    } catch (const RuntimeError& e) {
        message += (message.empty() ? "" : "\n") + std::string("Cannot save: ") + e.Description();
        return false;
    }
    return ok;
}

} // namespace lumora
