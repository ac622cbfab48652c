#pragma once
// A data set on an in-memory workbook, read by the real reader with the real engine and
// the bundled database (Co(II) chloride complexes in NaCl-HCl solutions at 25 C); the sheet
// can be edited as the user would (the watcher notices) and read again.

#include "CobaltDataSet.h"
#include "TestPort.h"
#include "TestUi.h"
#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::test {

/// The views' data set: nSol solutions, nSp species, solution 2 missing at 600 nm.
inline void WriteDataSet(GridSheet& sh, int nSol = kSolMax, int nSp = 2) {
    WriteCobaltDataSet(sh, {nSol, nSp, true, "Co(II) chloride"});
}

class ViewsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetChartMessageSink([this](const std::string& t) { chartMessages.push_back(t); });
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
        SetChartMessageSink({});
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
    std::vector<std::string> chartMessages;
    std::shared_ptr<EmbeddedHost> host;
    GridSheet* sheet = nullptr;
};

} // namespace lumora::test
