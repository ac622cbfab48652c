#include "SaveAfterCommand.h"

namespace lumora {

bool SaveAfterCommand(State& st, std::string& error) {
    error.clear();
    if (!st.xlApp) return true;
    bool ok = true;
    for (int i = 1; i <= st.xlApp->WorkbookCount(); ++i) {
        Workbook* wb = st.xlApp->WorkbookItem(i);
        if (!wb || !wb->Dirty()) continue;
        std::string why;
        if (!wb->Save(why)) {
            ok = false;
            if (!error.empty()) error += "\n";
            error += "Could not save " + wb->Name() + ": " + why;
        }
    }
    return ok;
}

} // namespace lumora
