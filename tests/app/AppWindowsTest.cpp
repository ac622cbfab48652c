// The desktop program as a user drives it: the real main window, engine, embedded host
// and every result window on the bundled example. After each command the main window
// must be usable again: no command may leave its buttons or its file box dead.

#include "windows/AppWindows.h"
#include "app/HostChoice.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/GoalScanWindow.h"
#include "windows/MainWindow.h"
#include "windows/QtUi.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>

#include <filesystem>

namespace lumora {
namespace {

namespace fs = std::filesystem;

TEST(AppWindowsTest, EveryCommandLeavesTheMainWindowUsable) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "app_windows";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");
    EmbeddedHost::Instance()->CloseAll();
    State st;
    QtUi ui;
    st.ui = &ui;
    std::string error;
    st.attachHost = MakeHostAttach("embedded", error);
    // Every modal window answered as a user would: message boxes with Yes or OK (their
    // texts recorded), dialogs closed (their titles recorded).
    std::vector<std::string> messages, dialogs;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            messages.push_back(box->text().toStdString());
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            yes ? yes->click() : box->accept();
        } else if (w) {
            dialogs.push_back(w->windowTitle().toStdString());
            w->close();
        }
    });
    closer.start(20);
    float result = 0.0f;
    {
        MainWindow form(st, dir.string());
        ui.setForm(&form);
        AppWindows windows(st, form, ui);
        form.afterCommand = [&st] {
            std::string why;
            if (st.xlApp) SaveDirtyWorkbooks(*st.xlApp, why);
        };
        auto usable = [&form] {
            for (int i = 1; i <= 6; ++i)
                if (!form.Button(static_cast<Command>(i))->isEnabled()) return false;
            return form.fileEdit()->isEnabled() && form.ControlsEnabled();
        };
        ASSERT_TRUE(form.Load());
        form.show();
        form.SetWorkbookPath((dir / "co.xlsx").string());

        // Open / Refresh fills the goal window's list: the species, then "Gradient".
        form.RunCommand(static_cast<Command>(1));
        ASSERT_EQ(st.nSp, 3);
        EXPECT_TRUE(usable());
        EXPECT_EQ(windows.Goal().list->itemText(3).toStdString(), "Gradient");

        // The absorption view stays open beside the main window.
        form.RunCommand(static_cast<Command>(6));
        EXPECT_TRUE(windows.Abs().isVisible());
        EXPECT_EQ(windows.Abs().list->count(), st.nSol + 1);
        EXPECT_TRUE(usable());
        windows.Abs().list->setCurrentIndex(3);

        // Optimize refreshes it and keeps the chosen solution.
        form.RunCommand(static_cast<Command>(3));
        EXPECT_TRUE(usable());
        EXPECT_EQ(windows.Abs().ListIndex(), 3);
        result = st.G0Res(2);
        EXPECT_NE(result, st.G0Init(2));

        // The species views are modal; closing them gives the buttons back.
        for (int mode : {1, 2}) {
            form.RunCommand(static_cast<Command>(3 + mode));
            EXPECT_EQ(windows.Spec().LastMode(), mode);
            EXPECT_TRUE(usable());
        }
        // F2 writes the table; F1 and F12 open modal windows, and leaving them changes nothing.
        for (auto key : {Qt::Key_F2, Qt::Key_F1, Qt::Key_F12}) {
            form.KeyUp(key, Qt::NoModifier);
            EXPECT_TRUE(usable()) << key;
        }
        EXPECT_TRUE(fs::exists(dir / "Solutions.txt"));
        EXPECT_EQ(st.nFactors, 0);
        EXPECT_EQ(st.FitMode, 0);

        // The goal-function window takes over the main window until it is closed.
        form.RunCommand(static_cast<Command>(2));
        EXPECT_TRUE(windows.Goal().isVisible());
        // The windows the main window owns stay usable meanwhile.
        EXPECT_FALSE(form.Button(static_cast<Command>(1))->isEnabled() || form.ControlsEnabled());
        EXPECT_TRUE(windows.Goal().isEnabled() && windows.Abs().list->isEnabled());
        windows.Goal().close();
        QApplication::processEvents();
        EXPECT_FALSE(windows.Goal().isVisible());
        EXPECT_TRUE(usable());

        // Every window was shown once each; no failure message on the way.
        EXPECT_EQ(messages, std::vector<std::string>{
                                "File Solutions.txt is written to the working folder  "});
        EXPECT_EQ(dialogs, (std::vector<std::string>{
                               "Concentrations of species (mol/l)", "Extinction coefficients",
                               "Reverse Indicator Function", "Fitting Mode"}));
        form.close();
    }
    // The optimizer's results reached the file on disk.
    EmbeddedHost::Instance()->CloseAll();
    auto book = GridWorkbook::Load((dir / "co.xlsx").string(), error);
    ASSERT_TRUE(book) << error;
    EXPECT_NEAR(std::get<double>(book->Worksheets(1)->Value(11, 4)), result, 1e-3);
}

} // namespace
} // namespace lumora
