// lumora: the desktop program, or batch mode with --batch.

#include "app/Batch.h"
#include "app/CommandLine.h"
#include "app/HostChoice.h"
#include "app/NewDataSet.h"
#include "app/SheetLink.h"
#include "base/NumText.h"
#include "windows/AppWindows.h"
#include "windows/MainWindow.h"
#include "windows/QtUi.h"
#include "windows/Settings.h"
#include "windows/WindowPlaces.h"

#include "sheet/SaveDirtyWorkbooks.h"

#include <QApplication>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    using namespace lumora;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto cl = ParseCommandLine(args, error);
    if (!cl) {
        std::fprintf(stderr, "lumora: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (cl->help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    UseSystemDecimalSeparator();
    if (cl->batch) return RunBatch(*cl);
    if (!cl->newFile.empty()) return NewDataSetCommand(cl->newFile);

    QApplication app(argc, argv);
    UseSystemDecimalSeparator(); // QApplication may have changed the C locale
    State st;
    QtUi ui;
    st.ui = &ui;
    st.NoLimits = cl->noLimits;
    std::string hostError;
    st.attachHost = MakeHostAttach(cl->host, hostError);

    QApplication::setApplicationName("lumora");
    const std::string settings = SettingsFolder();
    AdoptLegacySettings(settings, std::filesystem::current_path().string());
    SetWindowPlacesFolder(settings);
    MainWindow form(st, settings);
    ui.setForm(&form);
    AppWindows windows(st, form, ui);
    SheetLink sheetLink(st, form);
    form.afterCommand = [&st] {
        std::string why;
        if (st.xlApp && !SaveDirtyWorkbooks(*st.xlApp, why))
            st.ui->message(why + "  ", Icon::Critical);
    };
    if (!form.Load()) return 1;
    if (!hostError.empty()) st.ui->message(hostError + "  ", Icon::Exclamation);
    form.SetWorkbookPath(cl->workbook);
    return app.exec();
}
