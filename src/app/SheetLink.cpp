#include "app/SheetLink.h"

#include "app/NewDataSet.h"
#include "model/State.h"
#include "sheet/Workbook.h"
#include "windows/MainWindow.h"
#include "xlsx/EmbeddedHost.h"

#include <QFileDialog>

namespace lumora {

namespace {

/// The embedded host when it is the one in use, else nullptr.
EmbeddedHost* EmbeddedHostOf(State& st) {
    std::shared_ptr<SpreadsheetApp> app = st.xlApp;
    if (!app && st.attachHost) app = st.attachHost(false);
    return dynamic_cast<EmbeddedHost*>(app.get());
}

} // namespace

SheetLink::SheetLink(State& st, MainWindow& form)
    : st_(st), form_(form), window_(new SheetWindow(&form)) {
    // A window of its own that goes with the main window; it shows without taking the
    // focus from the main window, which the read hands back to the buttons.
    window_->setWindowFlag(Qt::Window);
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    window_->commandRunning = [this] { return form_.CommandRunning(); };
    window_->newDataSet = [this] { NewDataSet(); };
    window_->interrupt = [this] { form_.KeyPress(Qt::Key_Escape); };
    form.newDataSet = [this] { NewDataSet(); };
    form.beforeCommand = [this] { window_->CommandStarting(); };
    form.afterRead = [this] { ShowReadWorkbook(); };
}

void SheetLink::ShowReadWorkbook() {
    if (!EmbeddedHostOf(st_) || !st_.xlBook) return;
    Worksheet* sheet = st_.xlSheet ? st_.xlSheet : st_.xlBook->ActiveSheet();
    if (sheet) window_->ShowWorkbook(st_.xlBook, sheet);
}

void SheetLink::NewDataSet() {
    QString path = QFileDialog::getSaveFileName(
        &form_, "New data set", QString::fromStdString(st_.WorkDir), "Lumora data sets (*.xlsx)",
        nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    if (!path.endsWith(".xlsx", Qt::CaseInsensitive)) path += ".xlsx";
    CreateDataSet(path.toStdString());
}

bool SheetLink::CreateDataSet(const std::string& path) {
    std::string error;
    if (!WriteNewDataSet(path, error)) {
        st_.ui->message(error + "  ", Icon::Critical);
        return false;
    }
    form_.SetWorkbookPath(path);
    EmbeddedHost* host = EmbeddedHostOf(st_);
    if (!host) return true; // the user opens it in Calc with "Open / Refresh"
    Workbook* book = host->Open(path, error);
    if (!book) {
        st_.ui->message(error + "  ", Icon::Critical);
        return false;
    }
    window_->ShowWorkbook(book, book->ActiveSheet());
    window_->activateWindow();
    return true;
}

} // namespace lumora
