// The main window: button states, the dispatch of reader codes, the interrupt key,
// closing during a command and the function keys. Runs offscreen.

#include "TestUi.h"
#include "app/Commands.h"
#include "app/MainWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

namespace lumora {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : ui(st), form(st, LUMORA_TEST_BUILD_DIR) {
        AppCommands() = Commands{};
        form.show();
    }
    ~MainWindowTest() override { AppCommands() = Commands{}; }
    std::vector<bool> Enabled() {
        std::vector<bool> e;
        for (int i = 1; i <= 6; ++i) e.push_back(form.Button(i)->isEnabled());
        return e;
    }
    State st;
    test::TestUi ui;
    Form1 form;
};

TEST_F(MainWindowTest, StartsWithOnlyOpenEnabled) {
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_EQ(form.windowTitle().toStdString(), "Lumora: Processing of Absorption Spectra");
    EXPECT_EQ(form.Button(1)->text().toStdString(), "Open / Refresh");
    EXPECT_EQ(form.Button(5)->text().toStdString(), "Extinction coeff.");
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    // 5415 x 2730 twips at the screen's twips per pixel.
    EXPECT_NEAR(form.width(), 5415 / st.TwipsX, 1.0);
    EXPECT_NEAR(form.height(), 2730 / st.TwipsY, 1.0);
}

TEST_F(MainWindowTest, SetButtonsOrderAndGaussianMode) {
    // Record the order of enable changes through a filter on each button.
    std::vector<std::pair<int, bool>> order;
    struct Spy : QObject {
        std::vector<std::pair<int, bool>>* order;
        int index;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::EnabledChange)
                order->push_back({index, static_cast<QWidget*>(o)->isEnabled()});
            return false;
        }
    };
    std::vector<std::unique_ptr<Spy>> spies;
    for (int i = 1; i <= 6; ++i) {
        auto s = std::make_unique<Spy>();
        s->order = &order;
        s->index = i;
        form.Button(i)->installEventFilter(s.get());
        spies.push_back(std::move(s));
    }
    form.SetButtons(true, 4);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), (std::pair<int, bool>{4, true})) << "pressed button first enabled";
    EXPECT_EQ(Enabled(), std::vector<bool>(6, true));
    order.clear();
    form.SetButtons(false, 3);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.back(), (std::pair<int, bool>{3, false})) << "pressed button last disabled";
    EXPECT_EQ(Enabled(), std::vector<bool>(6, false));

    st.FitMode = 1;
    form.SetButtons(true, 0);
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, true, true, true, true}));
    EXPECT_EQ(form.Button(2)->text().toStdString(), "Gaussian mode!");
    st.FitMode = 0;
    form.SetButtons(true, 0);
    EXPECT_EQ(form.Button(2)->text().toStdString(), "Goal function");
    for (auto& s : spies) s->order = nullptr;
    for (int i = 1; i <= 6; ++i) form.Button(i)->removeEventFilter(spies[static_cast<size_t>(i - 1)].get());
}

TEST_F(MainWindowTest, ReaderCodesBecomeMessages) {
    struct Case {
        int16_t code;
        std::string readerMsg;
        std::string shown; // "" = no message
        bool onlyOpen;
    } cases[] = {
        {-7, "", "Could not set Gibbs options  ", true},
        {-6, "", "Error opening System file  ", true},
        {-5, "", "Error opening database  ", true},
        {-4, "", "File not found  ", true},
        {-3, "", "Could not run Excel  ", true},
        {-2, "", "Incorrect file type  ", true},
        {-1, "", "File not open  ", true},
        {4, "Incorrect keyword (row=2, col=1)", "Source data: Incorrect keyword (row=2, col=1)  ", false},
        {0, "", "", false},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        st.hooks.readDataSet = [&c](State& s) {
            s.ErrCode = c.code;
            s.ErrMsg = c.readerMsg;
        };
        form.Status()->setText("Reading data file...");
        form.Button_Click(1);
        if (c.shown.empty()) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            ASSERT_EQ(ui.messages.size(), 1u) << c.code;
            EXPECT_EQ(ui.messages[0].text, c.shown);
            EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
            EXPECT_TRUE(form.Status()->text().isEmpty());
        }
        if (c.onlyOpen)
            EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, false, false, false, false})) << c.code;
        else
            EXPECT_EQ(Enabled(), std::vector<bool>(6, true)) << c.code;
        EXPECT_EQ(st.ErrCode, 0) << "reset after every command";
        EXPECT_TRUE(form.txtFile()->isEnabled());
    }
}

TEST_F(MainWindowTest, EscInterruptsOnlyARunningCommand) {
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_EQ(st.ErrCode, 0) << "a stray Esc while idle does nothing";

    form.SetButtons(true, 0);
    int16_t seen = 0;
    AppCommands().speciesView = [&](State& s, int) {
        s.ui->setButtons(false, 4); // commands disable the buttons themselves
        form.SetButtons(false, 4);
        QTest::keyClick(form.Button(4), Qt::Key_Escape); // the focused button gets it first
        seen = s.ErrCode;
    };
    form.Button_Click(4);
    EXPECT_EQ(seen, kInterrupt);
    EXPECT_EQ(st.ErrCode, 0);
}

TEST_F(MainWindowTest, CloseDuringCommandInterruptsAndStaysOpen) {
    form.SetButtons(true, 0);
    bool stillVisible = false;
    int16_t seen = 0;
    AppCommands().absorptionView = [&](State& s) {
        form.SetButtons(false, 6);
        form.close();
        seen = s.ErrCode;
        stillVisible = form.isVisible();
    };
    form.Button_Click(6);
    EXPECT_EQ(seen, kInterrupt);
    EXPECT_TRUE(stillVisible);
}

TEST_F(MainWindowTest, FunctionKeysWithoutModifiersOnly) {
    form.SetButtons(true, 0);
    int factor = 0, exported = 0, mode = 0;
    AppCommands().factorAnalysis = [&](State& s, int arg) {
        EXPECT_EQ(arg, 0);
        EXPECT_EQ(s.ErrCode, 0) << "F-keys start with a clear status";
        ++factor;
    };
    AppCommands().exportSolutions = [&](State&) { ++exported; };
    AppCommands().fittingMode = [&](State&) { ++mode; };
    st.ErrCode = kInterrupt; // left over from an Esc
    QTest::keyRelease(&form, Qt::Key_F1);
    QTest::keyRelease(&form, Qt::Key_F1, Qt::ShiftModifier);
    QTest::keyRelease(&form, Qt::Key_F2, Qt::ControlModifier);
    QTest::keyRelease(form.Button(1), Qt::Key_F2);
    QTest::keyRelease(&form, Qt::Key_F12, Qt::AltModifier);
    QTest::keyRelease(&form, Qt::Key_F12);
    QTest::keyRelease(&form, Qt::Key_F3);
    EXPECT_EQ(factor, 1);
    EXPECT_EQ(exported, 1);
    EXPECT_EQ(mode, 1);
}

TEST_F(MainWindowTest, GoalScanPlaceholderRestoresControls) {
    form.SetButtons(true, 0);
    st.ErrCode = 5;
    form.Button_Click(2);
    EXPECT_EQ(Enabled(), std::vector<bool>(6, true));
    EXPECT_TRUE(form.txtFile()->isEnabled());
    EXPECT_EQ(st.ErrCode, 0);
}

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    // Test discovery runs this program at build time, without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
