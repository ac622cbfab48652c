#pragma once
// The sheet window on the embedded host: it appears with the workbook that "Open /
// Refresh" read (also when the read failed, so the sheet shows what to mend), comes
// back with the same button, follows the commands, and offers "New data set...". With
// the LibreOffice host, Calc is the sheet and no window appears.

#include "windows/SheetWindow.h"

#include <string>

namespace lumora {

struct State;
class MainWindow;

class SheetLink {
public:
    SheetLink(State& st, MainWindow& form);
    SheetLink(const SheetLink&) = delete;
    SheetLink& operator=(const SheetLink&) = delete;

    SheetWindow& Window() { return *window_; }
    /// After a read: shows the data-set workbook when the embedded host holds it.
    void ShowReadWorkbook();
    /// "New data set...": asks for a file name, then CreateDataSet.
    void NewDataSet();
    /// Writes the template to path (never over a file), opens it in the sheet window and
    /// names it in the data-file box. False after telling the user why not.
    bool CreateDataSet(const std::string& path);

private:
    State& st_;
    MainWindow& form_;
    SheetWindow* window_;
};

} // namespace lumora
