#include "windows/MainWindowPort.h"

#include "model/State.h"

namespace lumora {

ReadRequest MainWindowPort::readRequest() {
    ReadRequest request;
    request.fileName = fileText();
    request.openDialog = [this](const std::string& title, const std::string& filterName,
                                const std::string& filterPattern, std::string& folder,
                                std::string& fileName, bool save) {
        return fileDialog(title, filterName, filterPattern, folder, fileName, save);
    };
    return request;
}

RereadResult MainWindowPort::reread(State& st) {
    const RereadResult result = RereadIfChanged(st, readRequest());
    if (result == RereadResult::Unchanged) return result;
    afterRead(st);
    return result;
}

void MainWindowPort::afterRead(State& st) {
    if (st.ErrCode == 0 && !goalWindowVisible()) setButtons(true, Command::None);
    refreshGoalList();
}

MainWindowPort& NoMainWindow() {
    static MainWindowPort none;
    return none;
}

} // namespace lumora
