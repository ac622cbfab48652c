// The main window: button states, the dispatch of reader codes, the interrupt key,
// closing during a command and the function keys. Runs offscreen.

#include "windows/MainWindow.h"
#include "TestUi.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace lumora {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : ui(st), form(st, LUMORA_TEST_BUILD_DIR) { form.show(); }
    std::vector<bool> Enabled() {
        std::vector<bool> e;
        for (int i = 1; i <= 6; ++i) e.push_back(form.Button(static_cast<Command>(i))->isEnabled());
        return e;
    }
    State st;
    test::TestUi ui;
    MainWindow form;
};

TEST_F(MainWindowTest, StartsWithOnlyOpenEnabled) {
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_EQ(form.windowTitle().toStdString(), "Lumora: Processing of Absorption Spectra");
    EXPECT_EQ(form.Button(static_cast<Command>(1))->text().toStdString(), "Open / Refresh");
    EXPECT_EQ(form.Button(static_cast<Command>(5))->text().toStdString(), "Extinction coeff.");
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
        form.Button(static_cast<Command>(i))->installEventFilter(s.get());
        spies.push_back(std::move(s));
    }
    form.SetButtons(true, static_cast<Command>(4));
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), (std::pair<int, bool>{4, true})) << "pressed button first enabled";
    EXPECT_EQ(Enabled(), std::vector<bool>(6, true));
    order.clear();
    form.SetButtons(false, static_cast<Command>(3));
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.back(), (std::pair<int, bool>{3, false})) << "pressed button last disabled";
    EXPECT_EQ(Enabled(), std::vector<bool>(6, false));

    st.FitMode = 1;
    form.SetButtons(true, static_cast<Command>(0));
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, true, true, true, true}));
    EXPECT_EQ(form.Button(static_cast<Command>(2))->text().toStdString(), "Gaussian mode!");
    st.FitMode = 0;
    form.SetButtons(true, static_cast<Command>(0));
    EXPECT_EQ(form.Button(static_cast<Command>(2))->text().toStdString(), "Goal function");
    for (auto& s : spies) s->order = nullptr;
    for (int i = 1; i <= 6; ++i)
        form.Button(static_cast<Command>(i))
            ->removeEventFilter(spies[static_cast<size_t>(i - 1)].get());
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
        {-4, "not a workbook: no xl/workbook.xml",
         "File not found (not a workbook: no xl/workbook.xml)  ", true},
        {-3, "", "Could not run Excel  ", true},
        {-2, "", "Incorrect file type  ", true},
        {-1, "", "File not open  ", true},
        {4, "Incorrect keyword (row=2, col=1)", "Source data: Incorrect keyword (row=2, col=1)  ",
         false},
        {0, "", "", false},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        st.readOverride = [&c](State& s) {
            s.ErrCode = c.code;
            s.ErrMsg = c.readerMsg;
        };
        form.Status()->setText("Reading data file...");
        form.Button_Click(static_cast<Command>(1));
        if (c.shown.empty()) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            ASSERT_EQ(ui.messages.size(), 1u) << c.code;
            EXPECT_EQ(ui.messages[0].text, c.shown);
            EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
            EXPECT_TRUE(form.Status()->text().isEmpty());
        }
        if (c.onlyOpen)
            EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, false, false, false, false}))
                << c.code;
        else
            EXPECT_EQ(Enabled(), std::vector<bool>(6, true)) << c.code;
        EXPECT_EQ(st.ErrCode, 0) << "reset after every command";
        EXPECT_TRUE(form.txtFile()->isEnabled());
    }
}

// Minimal components that only report a version.
struct FakeSolver : Solver {
    int16_t version = 70;
    void Shutdown() override { ++shutdowns; }
    void SetOptions(const std::string&) override {}
    void OpenDatabase(const std::string&) override {}
    void OpenSystem(const std::string&) override {}
    void SetSpeciesG(int16_t, float) override {}
    std::string LastMessage() override { return ""; }
    void SetControl(int, int) override {}
    void Equilibrate(float, float, std::span<double>, std::span<const double>, std::span<double>,
                     std::span<double>, int16_t& code) override {
        code = 0;
    }
    int16_t Version() override { return version; }
    static inline int shutdowns = 0;
};
struct FakeProps : Props {
    int16_t Version() override { return 70; }
    void OpenDatabase(const std::string&) override {}
    int16_t FindSpecies(const std::string&) override { return -1; }
    int16_t SpeciesCode(int16_t) override { return -1; }
    float ElementCoefficient(const std::string&, int16_t) override { return 0; }
    std::string FormulaElements(const std::string&) override { return ""; }
    float SaturationPressure(float) override { return 1; }
    float WaterDensity(float, float, int16_t) override { return 1; }
    float WaterValueA(float, float) override { return 78; }
    float WaterValueB(float, float, float) override { return -237183; }
    float StartValueCode2(float, float, float) override { return 0; }
    float StartValueLow(int16_t, float, float, float, float) override { return 0; }
    float StartValueHigh(int16_t, float, float, float, float, int16_t) override { return 0; }
};
struct FakeSysReader : SysReader {
    int16_t Version() override { return 70; }
    void ReadSystem(const std::string&, SysRec&) override {}
    std::string LastMessage() override { return ""; }
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        // ctest runs the cases in parallel: one folder each.
        dir = std::filesystem::path(LUMORA_TEST_BUILD_DIR) /
              (std::string("startup_") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "Lumora.ini") << "WorkDir=  /stored/folder/  \nsecond line\n";
    }
    std::string Ini() {
        std::ifstream in(dir / "Lumora.ini");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path dir;
};

TEST_F(StartupTest, MissingEngineLeavesSettingsAlone) {
    State st;
    test::TestUi ui(st);
    {
        MainWindow form(st, dir.string());
        form.createComponents = [](State&) {};
        EXPECT_FALSE(form.Form_Load());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "This program requires Vexil to be installed  ");
    }
    EXPECT_EQ(Ini(), "WorkDir=  /stored/folder/  \nsecond line\n");
}

TEST_F(StartupTest, NormalStartAndShutdownRewritesOneLine) {
    State st;
    test::TestUi ui(st);
    FakeSolver::shutdowns = 0;
    {
        MainWindow form(st, dir.string());
        form.createComponents = [](State& s) {
            s.solver = std::make_unique<FakeSolver>();
            s.props = std::make_unique<FakeProps>();
            s.sysReader = std::make_unique<FakeSysReader>();
        };
        EXPECT_TRUE(form.Form_Load());
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(st.WorkDir, "/stored/folder/");
        EXPECT_TRUE(st.GaussArg);
        EXPECT_EQ(st.ScanSpan, 10.0f);
        EXPECT_GT(st.TwipsX, 0.0f);
        st.WorkDir = "/new/place/";
        form.close();
    }
    EXPECT_EQ(FakeSolver::shutdowns, 1);
    EXPECT_EQ(Ini(), "WorkDir=/new/place/\n");
}

TEST_F(StartupTest, OldEngineIsRefusedButSettingsKept) {
    State st;
    test::TestUi ui(st);
    {
        MainWindow form(st, dir.string());
        form.createComponents = [](State& s) {
            auto solver = std::make_unique<FakeSolver>();
            solver->version = 65;
            s.solver = std::move(solver);
            s.props = std::make_unique<FakeProps>();
            s.sysReader = std::make_unique<FakeSysReader>();
        };
        EXPECT_FALSE(form.Form_Load());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Please upgrade your Vexil package  ");
    }
    // The settings were read, so the exit rewrites them (first line only).
    EXPECT_EQ(Ini(), "WorkDir=/stored/folder/\n");
}

} // namespace
} // namespace lumora
