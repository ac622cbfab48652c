// The main window, offscreen: reader codes as the user sees them, the interrupt key, the
// function keys, and the start-up checks of the engine with the settings file.

#include "windows/MainWindow.h"

#include "FakeSolver.h"
#include "TestPort.h"
#include "WorkbookFiles.h"
#include "windows/AbsorptionView.h"
#include "windows/AppWindows.h"
#include "windows/QtUi.h"

#include <fstream>

namespace lumora {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() { form.show(); }
    State st;
    test::TestUi ui{st};
    MainWindow form{st, LUMORA_TEST_BUILD_DIR};
};

TEST_F(MainWindowTest, ReaderCodesBecomeMessages) {
    // code, reader's message, message shown
    const std::tuple<int16_t, std::string, std::string> cases[] = {
        {-7, "", "Could not set Gibbs options  "},
        {-6, "", "Error opening System file  "},
        {-5, "", "Error opening database  "},
        {-4, "", "File not found  "},
        {-4, "not a workbook: no xl/workbook.xml",
         "File not found (not a workbook: no xl/workbook.xml)  "},
        {-3, "", "Could not run Excel  "},
        {-2, "", "Incorrect file type  "},
        {-1, "", "File not open  "},
        {4, "Incorrect keyword (row=2, col=1)", "Source data: Incorrect keyword (row=2, col=1)  "},
        {0, "", ""}};
    for (const auto& [code, readerMsg, shown] : cases) {
        SCOPED_TRACE(code);
        ui.messages.clear();
        st.readOverride = [&](State& s) {
            std::tie(s.ErrCode, s.ErrMsg) = std::tie(code, readerMsg);
        };
        form.RunCommand(Command::Open);
        test::ExpectMessage(ui, shown);
        // A data set that failed to open leaves only "Open / Refresh"
        for (int i = 1; i <= 6; ++i)
            EXPECT_EQ(form.Button(Command(i))->isEnabled(), code >= 0 || i == 1) << i;
        EXPECT_EQ(st.ErrCode, 0) << "reset after every command";
        EXPECT_TRUE(form.fileEdit()->isEnabled());
    }
}

TEST_F(MainWindowTest, EscInterruptsOnlyARunningCommand) {
    AbsorptionView view(st, NoMainWindow(), &form); // it hands Esc on to the main window
    QTest::keyClick(form.Button(Command::Open), Qt::Key_Escape);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_EQ(st.ErrCode, 0) << "a stray Esc while idle does nothing";
    std::vector<int16_t> seen;
    st.readOverride = [&](State& s) {
        ASSERT_FALSE(form.Button(Command::Open)->isEnabled()) << "the command runs";
        QTest::keyClick(form.Button(Command::Speciation), Qt::Key_Escape);
        seen.push_back(std::exchange(s.ErrCode, int16_t(0)));
        QTest::keyClick(&view, Qt::Key_Escape);
        seen.push_back(std::exchange(s.ErrCode, int16_t(0)));
        form.close(); // closing interrupts instead
        seen.push_back(std::exchange(s.ErrCode, int16_t(0)));
        EXPECT_TRUE(form.isVisible());
    };
    form.RunCommand(Command::Open);
    EXPECT_EQ(seen, std::vector<int16_t>(3, kInterrupt));
    EXPECT_EQ(st.ErrCode, 0);
}

// F1, F2 and F12 start their command on release, from any control, without modifiers, while
// none runs; a command starts with a clear ErrCode (each here ends at once).
TEST_F(MainWindowTest, FunctionKeysWithoutModifiersOnly) {
    QtUi qt(&form);
    AppWindows windows(st, form, qt);
    int commands = 0;
    form.afterCommand = [&] { ++commands; };
    QWidget* child = form.Button(Command::Open);
    const std::tuple<QWidget*, Qt::Key, Qt::KeyboardModifiers, bool> cases[] = {
        {&form, Qt::Key_F1, Qt::NoModifier, true},
        {&form, Qt::Key_F1, Qt::ShiftModifier, false},
        {&form, Qt::Key_F2, Qt::ControlModifier, false},
        {child, Qt::Key_F2, Qt::NoModifier, true},
        {&form, Qt::Key_F12, Qt::AltModifier, false},
        {child, Qt::Key_F12, Qt::NoModifier, true},
        {&form, Qt::Key_F3, Qt::NoModifier, false}};
    for (const auto& [target, key, modifiers, runs] : cases) {
        SCOPED_TRACE(testing::Message() << key << " " << modifiers);
        st.ErrCode = kInterrupt; // left over from an Esc
        commands = 0;
        QTest::keyRelease(target, key, modifiers);
        EXPECT_EQ(commands, runs ? 1 : 0);
        EXPECT_EQ(st.ErrCode, runs ? 0 : kInterrupt);
    }
    // The export (F2) runs as a command: Esc reaches it.
    int16_t seen = 0;
    form.SetButtons(true, Command::None);
    st.xlsWatch->Changed = true;
    st.readOverride = [&](State& s) { QTest::keyClick(&form, Qt::Key_Escape), seen = s.ErrCode; };
    QTest::keyRelease(&form, Qt::Key_F2);
    EXPECT_TRUE(seen == kInterrupt && form.Button(Command::Open)->isEnabled());
    form.SetButtons(false, Command::None); // a command runs
    QTest::keyRelease(&form, Qt::Key_F1);
    EXPECT_EQ(commands, 1);
}

// The engine is checked first; the settings file is rewritten on exit only once it was read.
TEST(StartupTest, EngineChecksAndTheSettingsFile) {
    struct OldSolver : test::FakeSolver {
        OldSolver() : FakeSolver({}) {}
        int16_t Version() override { return 65; }
    };
    const std::string stored = "WorkDir=  /stored/folder/  \nsecond line\n";
    // solver: -1 none, 0 the engine's, 1 an old one; message "": starts; the file after exit
    const std::tuple<int, std::string, std::string> cases[] = {
        {-1, "This program requires Vexil to be installed  ", stored},
        {1, "Please upgrade your Vexil package  ", "WorkDir=/stored/folder/\n"},
        {0, "", "WorkDir=/new/place/\n"},
    };
    const std::filesystem::path dir = std::filesystem::path(LUMORA_TEST_BUILD_DIR) / "startup";
    for (const auto& [solver, message, ini] : cases) {
        SCOPED_TRACE(solver);
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "Lumora.ini") << stored;
        {
            State st;
            test::TestUi ui(st);
            MainWindow form(st, dir.string());
            form.createComponents = [&](State& s) {
                if (solver < 0) return;
                s.solver = solver ? std::make_unique<OldSolver>() : CreateSolver();
                s.props = CreateProps();
                s.sysReader = CreateSysReader();
            };
            EXPECT_EQ(form.Load(), message.empty());
            test::ExpectMessage(ui, message, Icon::None);
            if (message.empty()) {
                EXPECT_EQ(st.WorkDir, "/stored/folder/");
                st.WorkDir = "/new/place/";
                form.close();
            }
        }
        EXPECT_EQ(test::ReadBytes(dir / "Lumora.ini"), ini);
    }
}

} // namespace
} // namespace lumora
