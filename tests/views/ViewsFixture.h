#pragma once
// A data set on an in-memory workbook, read by the real reader with the real engine
// and the bundled database: Co(II) chloride complexes in NaCl-HCl solutions at 25 C.
// The sheet can be edited as the user would (the watcher notices) and read again.

#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "chart/mzChart.h"
#include "engine/EngineFactory.h"
#include "workbook/EmbeddedHost.h"
#include "workbook/GridWorkbook.h"
#include "workbook/ReadDataSet.h"

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

inline constexpr int kSolMax = 6;
inline const double kNaCl[kSolMax] = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
inline const double kWl[] = {480.0, 500.0, 550.0, 600.0, 650.0, 700.0, 720.0};

/// Writes the data set with nSol solutions (named "S1".."Sn") and nSp species
/// (CoCl+, then CoCl4-2) over whatever the sheet held. The absorbance of solution 2 at
/// 600 nm is left empty. With two species the spectrum rows are 19..25.
inline void WriteDataSet(GridSheet& sh, int nSol = kSolMax, int nSp = 2) {
    using S = std::string;
    sh.ClearContents(1, 1, 40, 20);
    auto text = [&](int r, int c, const std::string& t) { sh.SetValue(r, c, CellValue{S(t)}); };
    auto num = [&](int r, int c, double x) { sh.SetValue(r, c, CellValue{x}); };
    text(1, 1, "Co(II) chloride");
    const char* keywords[] = {"Database:", "System:",   "Options:", "T, C:",
                              "P, bar:",   "wl_start:", "wl_stop:", "Species:"};
    for (int r = 2; r <= 9; ++r) text(r, 1, keywords[r - 2]);
    text(2, 2, "thermo.toml");
    text(3, 2, "systems/co-na-cl.toml");
    num(5, 2, 25.0);
    num(6, 2, 1.0);
    num(7, 2, 500.0);
    num(8, 2, 700.0);
    num(9, 2, nSp);
    text(9, 3, "Initial");
    text(9, 4, "Result");
    text(9, 5, " \u00B1");
    const char* species[] = {"CoCl+", "CoCl4-2"};
    int r = 10;
    for (int k = 0; k < nSp; ++k) text(r++, 2, species[k]);
    text(r++, 1, "Mean err.:");
    text(r++, 2, "Composition, molality");
    const char* components[] = {"CoCl2", "NaCl", "HCl"};
    for (int i = 0; i < 3; ++i, ++r) {
        text(r, 1, components[i]);
        for (int j = 0; j < nSol; ++j) num(r, j + 2, i == 0 ? 0.05 : i == 1 ? kNaCl[j] : 0.01);
    }
    text(r - 1, nSol + 2, "corrected");
    text(r++, 2, "Absorption spectra");
    text(r, 1, "Wave");
    for (int j = 1; j <= nSol; ++j) text(r, j + 1, "S" + std::to_string(j));
    ++r;
    for (double wl : kWl) {
        num(r, 1, wl);
        for (int j = 0; j < nSol; ++j) {
            const double peak = std::exp(-std::pow((wl - 690.0) / 40.0, 2));
            if (!(j == 1 && wl == 600.0)) num(r, j + 2, 0.02 + 0.05 * kNaCl[j] * peak + 0.001 * j);
        }
        ++r;
    }
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
        st.hooks.attachHost = [this](bool) { return host; };
        st.hooks.readDataSet = [](State& s) { ReadDataSet(s); };
        st.WorkDir = std::string(LUMORA_TEST_BUILD_DIR) + "/";
        auto book = std::make_unique<GridWorkbook>(st.WorkDir + "views.xlsx");
        sheet = book->AddSheet("Data");
        WriteDataSet(*sheet);
        host->Add(std::move(book));
        ui.setFileText("views.xlsx");
        Read();
    }
    void TearDown() override {
        st.xlsWatch->SetSheet(nullptr);
        st.xlSheet = nullptr;
        st.xlBook = nullptr;
    }

    /// "Open / Refresh": the read the main window's first button runs.
    void Read() {
        ReadDataSet(st);
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    }

    State st;
    TestUi ui{st};
    ChartSink chartMessages;
    std::shared_ptr<EmbeddedHost> host;
    GridSheet* sheet = nullptr;
};

/// Number of pixels of one colour value in the chart's image.
inline int CountColor(const mzChart& chart, int32_t colour) {
    int n = 0;
    for (int y = 0; y < chart.height(); ++y)
        for (int x = 0; x < chart.width(); ++x)
            if (chart.Pixel(x, y) == colour) ++n;
    return n;
}

/// Moves the mouse over pixel (x, y) of a chart.
inline void MoveMouse(mzChart& chart, int x, int y) {
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
