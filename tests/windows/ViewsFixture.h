#pragma once
// A data set on an in-memory workbook, read by the real reader with the real engine
// and the bundled database: Co(II) chloride complexes in NaCl-HCl solutions at 25 C.
// The sheet can be edited as the user would (the watcher notices) and read again.

#include "CobaltDataSet.h"
#include "TestPort.h"
#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace lumora::test {

/// The views' data set: nSol solutions, nSp species, solution 2 missing at 600 nm.
inline void WriteDataSet(GridSheet& sh, int nSol = kSolMax, int nSp = 2) {
    WriteCobaltDataSet(sh, {nSol, nSp, true, "Co(II) chloride"});
}

/// Records the chart's messages instead of showing boxes.
class ChartSink {
public:
    ChartSink() {
        SetChartMessageSink([this](const std::string& t) { texts.push_back(t); });
    }
    ~ChartSink() { SetChartMessageSink({}); }
    std::vector<std::string> texts;
};

class ViewsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        host = std::make_shared<EmbeddedHost>();
        st.attachHost = [this](bool) { return host; };
        st.WorkDir = std::string(LUMORA_TEST_BUILD_DIR) + "/";
        auto book = std::make_unique<GridWorkbook>(st.WorkDir + "views.xlsx");
        sheet = book->AddSheet("Data");
        WriteDataSet(*sheet);
        host->Add(std::move(book));
        ui.fileText = "views.xlsx";
        Read();
    }
    void TearDown() override {
        st.xlsWatch->SetSheet(nullptr);
        st.xlSheet = nullptr;
        st.xlBook = nullptr;
    }

    /// "Open / Refresh": the read the main window's first button runs.
    void Read() {
        ReadDataSet(st, ui.request());
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    }

    State st;
    TestUi ui{st};
    TestPort port{ui};
    ChartSink chartMessages;
    std::shared_ptr<EmbeddedHost> host;
    GridSheet* sheet = nullptr;
};

/// Number of pixels of one colour value in the chart's image.
inline int CountColor(const ChartWidget& chart, int32_t colour) {
    int n = 0;
    for (int y = 0; y < chart.height(); ++y)
        for (int x = 0; x < chart.width(); ++x)
            if (chart.Pixel(x, y) == colour) ++n;
    return n;
}

/// Moves the mouse over pixel (x, y) of a chart.
inline void MoveMouse(ChartWidget& chart, int x, int y) {
    const QPointF pos(x, y);
    QMouseEvent ev(QEvent::MouseMove, pos, chart.mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(&chart, &ev);
}

/// Runs `inside` once the modal dialog's loop is running (the dialog is shown), then
/// closes the dialog; a watchdog ends any loop left open so that a nested modal loop
/// fails the test instead of hanging it.
inline void WhileModal(QWidget& dialog, std::function<void()> inside, bool* nested = nullptr) {
    auto* poll = new QTimer(&dialog);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, &dialog, [&dialog, inside, poll] {
        if (!dialog.isVisible()) return;
        poll->stop();
        poll->deleteLater();
        inside();
        dialog.close();
    });
    poll->start();
    QTimer::singleShot(5000, &dialog, [&dialog, nested] {
        if (nested) *nested = true;
        dialog.close();
    });
}

} // namespace lumora::test
