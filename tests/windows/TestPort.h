#pragma once
// What the window tests share: a main window that records what the windows do to it, charts
// that fail the test when misused, and the real engine reading from an in-memory host.

#include "FuzzyCompare.h"
#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "windows/GoalScanWindow.h"
#include "windows/MainWindowPort.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <filesystem>

namespace lumora::test {

struct TestPort : MainWindowPort {
    explicit TestPort(TestUi& u) : ui(u) {}
    void setButtons(bool on, Command keep) override {
        buttonCalls.push_back({on, static_cast<int>(keep)});
    }
    void setFileBoxEnabled(bool on) override { fileBoxEnabled = on; }
    void setMainEnabled(bool on) override { mainEnabled = on; }
    bool goalWindowVisible() const override { return goal && goal->isVisible(); }
    void refreshGoalList() override {
        if (goal) goal->FillParameterList();
    }
    TestUi& ui;
    GoalScanWindow* goal = nullptr;
    std::vector<std::pair<bool, int>> buttonCalls;
    bool fileBoxEnabled = true;
    bool mainEnabled = true;
};

/// Runs `open`, which shows `w` modally, with `inside` run once it is shown; false if never.
inline bool WhileShown(QWidget& w, const std::function<void()>& open,
                       const std::function<void()>& inside) {
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!w.isVisible()) return;
        poll.stop();
        shown = true;
        inside();
        if (w.isVisible()) w.close();
    });
    poll.start(1);
    open();
    return shown;
}

struct ChartMisuseFails {
    ChartMisuseFails() {
        SetChartMessageSink([](const std::string& t) { ADD_FAILURE() << t; });
    }
    ~ChartMisuseFails() { SetChartMessageSink({}); }
};

/// The real engine in the suite's build folder, or in a folder `example` of it holding a copy of
/// the bundled example named in the data-file box.
struct Engine {
    explicit Engine(const std::string& example = "") {
        namespace fs = std::filesystem;
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        st.attachHost = [h = host](bool) { return h; };
        st.WorkDir = LUMORA_TEST_BUILD_DIR "/" + (example.empty() ? "" : example + "/");
        if (example.empty()) return;
        fs::create_directories(st.WorkDir);
        fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", st.WorkDir + "co.xlsx",
                      fs::copy_options::overwrite_existing);
        ui.fileText = "co.xlsx";
    }
    ~Engine() { // the host's workbooks go before the state that points into them
        st.xlsWatch->SetSheet(nullptr);
        st.xlSheet = nullptr;
        st.xlBook = nullptr;
    }
    std::shared_ptr<EmbeddedHost> host = std::make_shared<EmbeddedHost>();
    State st;
    TestUi ui{st};
    TestPort port{ui};
    ChartMisuseFails charts;
};

} // namespace lumora::test
