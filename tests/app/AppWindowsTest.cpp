// The desktop program as a user drives it: the real main window, engine, embedded host
// and every result window on the bundled example. After each command the main window
// must be usable again: no command may leave its buttons or its file box dead.

#include "windows/AppWindows.h"
#include "app/HostChoice.h"
#include "dataset/ReadDataSet.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"
#include "windows/GoalScanWindow.h"
#include "windows/MainWindow.h"
#include "windows/QtUi.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

namespace lumora {
namespace {

namespace fs = std::filesystem;

// Answers every modal window the way a user would: message boxes with Yes or OK (their
// texts recorded), dialogs by closing them (their titles recorded).
struct ModalCloser {
    ModalCloser() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box) {
                messages.push_back(box->text().toStdString());
                QAbstractButton* yes = box->button(QMessageBox::Yes);
                yes ? yes->click() : box->accept();
            } else if (w) {
                dialogs.push_back(w->windowTitle().toStdString());
                w->close();
            }
        });
        timer.start(20);
    }
    std::vector<std::string> messages, dialogs;
    QTimer timer;
};

class AppWindowsTest : public ::testing::Test {
protected:
    AppWindowsTest() {
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");
        EmbeddedHost::Instance()->CloseAll();
    }
    ~AppWindowsTest() override { EmbeddedHost::Instance()->CloseAll(); }
    fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "app_windows";
};

TEST_F(AppWindowsTest, EveryCommandLeavesTheMainWindowUsable) {
    State st;
    QtUi ui;
    st.ui = &ui;
    std::string error;
    st.attachHost = MakeHostAttach("embedded", error);
    ModalCloser closer;
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
            return form.txtFile()->isEnabled() && form.ControlsEnabled();
        };
        ASSERT_TRUE(form.Form_Load());
        form.show();
        form.SetWorkbookPath((dir / "co.xlsx").string());

        // Open / Refresh fills the goal window's list: the species, then "Gradient".
        form.Button_Click(static_cast<Command>(1));
        ASSERT_EQ(st.nSp, 3);
        EXPECT_TRUE(usable());
        EXPECT_EQ(windows.Goal().Combo->count(), 4);
        EXPECT_EQ(windows.Goal().Combo->itemText(3).toStdString(), "Gradient");

        // The absorption view stays open beside the main window.
        form.Button_Click(static_cast<Command>(6));
        EXPECT_TRUE(windows.Abs().isVisible());
        EXPECT_EQ(windows.Abs().Combo->count(), st.nSol + 1);
        EXPECT_TRUE(usable());
        windows.Abs().Combo->setCurrentIndex(3);

        // Optimize refreshes it and keeps the chosen solution.
        form.Button_Click(static_cast<Command>(3));
        EXPECT_TRUE(usable());
        EXPECT_TRUE(windows.Abs().isVisible());
        EXPECT_EQ(windows.Abs().ListIndex(), 3);
        result = st.G0Res(2);
        EXPECT_NE(result, st.G0Init(2));

        // The species view is modal; closing it gives the buttons back.
        form.Button_Click(static_cast<Command>(4));
        EXPECT_EQ(windows.Spec().LastMode(), 1);
        EXPECT_TRUE(usable());
        form.Button_Click(static_cast<Command>(5));
        EXPECT_EQ(windows.Spec().LastMode(), 2);
        EXPECT_TRUE(usable());

        // F2 writes the table into the working folder.
        form.Form_KeyUp(Qt::Key_F2, Qt::NoModifier);
        EXPECT_TRUE(fs::exists(dir / "Solutions.txt"));
        ASSERT_FALSE(closer.messages.empty());
        EXPECT_EQ(closer.messages.back(), "File Solutions.txt is written to the working folder  ");
        EXPECT_TRUE(usable());

        // F1 and F12 open their modal windows; leaving them changes nothing.
        form.Form_KeyUp(Qt::Key_F1, Qt::NoModifier);
        EXPECT_EQ(st.nFactors, 0);
        EXPECT_TRUE(usable());
        form.Form_KeyUp(Qt::Key_F12, Qt::NoModifier);
        EXPECT_EQ(st.FitMode, 0);
        EXPECT_TRUE(usable());

        // The goal-function window takes over the main window until it is closed.
        form.Button_Click(static_cast<Command>(2));
        EXPECT_TRUE(windows.Goal().isVisible());
        EXPECT_FALSE(form.Button(static_cast<Command>(1))->isEnabled());
        EXPECT_FALSE(form.ControlsEnabled());
        // The windows the main window owns stay usable meanwhile.
        EXPECT_TRUE(windows.Goal().isEnabled());
        EXPECT_TRUE(windows.Abs().isEnabled());
        EXPECT_TRUE(windows.Abs().Combo->isEnabled());
        windows.Goal().close();
        QApplication::processEvents();
        EXPECT_FALSE(windows.Goal().isVisible());
        EXPECT_TRUE(usable());
        EXPECT_EQ(st.ErrCode, 0);

        // Every window was shown once each; no failure message on the way.
        for (const auto& m : closer.messages)
            EXPECT_EQ(m, "File Solutions.txt is written to the working folder  ");
        EXPECT_EQ(closer.dialogs,
                  (std::vector<std::string>{"Concentrations of species (mol/l)",
                                            "Extinction coefficients", "Reverse Indicator Function",
                                            "Fitting Mode"}));
        form.close();
    }
    // The optimizer's results reached the file on disk.
    EmbeddedHost::Instance()->CloseAll();
    auto book = GridWorkbook::Load((dir / "co.xlsx").string(), error);
    ASSERT_TRUE(book) << error;
    const CellValue cell = book->Worksheets(1)->Value(11, 4);
    ASSERT_TRUE(std::holds_alternative<double>(cell));
    EXPECT_NEAR(std::get<double>(cell), result, 1e-3);
}

} // namespace
} // namespace lumora
