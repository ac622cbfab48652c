// End to end: a data set written into a real .xlsx file, opened by the embedded
// host and read with the real engine, the bundled database and system file, and
// the real goal function.

#include "CobaltDataSet.h"
#include "FuzzyCompare.h"
#include "TestUi.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSol = kSolMax;

void WriteDataSet(GridWorkbook& book) {
    WriteCobaltDataSet(*book.AddSheet("Data"), {kSol, 2, false, "Co(II) chloride, real engine"});
}

TEST(ReadDataSetFile, RealWorkbookAndEngine) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "reader-e2e";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "co.xlsx").string();
    {
        GridWorkbook book(path);
        WriteDataSet(book);
        std::string error;
        ASSERT_TRUE(book.Save(error)) << error;
    }

    State st;
    TestUi ui(st);
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    auto host = std::make_shared<EmbeddedHost>();
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = dir.string() + "/";
    ui.fileText = "co.xlsx";

    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg
                             << (ui.messages.empty() ? "" : " / " + ui.messages[0].text);
    EXPECT_EQ(st.Title, "Co(II) chloride, real engine");
    EXPECT_EQ(st.nSp, 2);
    EXPECT_EQ(st.nSol, kSol);
    EXPECT_EQ(st.nComp, 3);
    EXPECT_EQ(st.nWl, 5);
    EXPECT_EQ(st.RowWlFirst, 20);
    EXPECT_EQ(st.RowWlSkip, 25);
    EXPECT_EQ(st.MeanWl, 600.0);
    ASSERT_GT(st.AqLast, st.AqFirst);
    EXPECT_EQ(st.sysRec.spName.at(st.AqFirst), "H2O");
    EXPECT_EQ(st.sysRec.spName.at(st.SpIdx(1)), "CoCl+");
    EXPECT_EQ(st.sysRec.spName.at(st.SpIdx(2)), "CoCl4-2");
    EXPECT_EQ(st.nFree, 2);

    // Start values from the database: finite Gibbs energies of formation in kJ/mol.
    for (int i = 1; i <= 2; ++i) {
        EXPECT_TRUE(std::isfinite(st.G0Init(i)));
        EXPECT_LT(st.G0Init(i), 0.0f);
        EXPECT_GT(st.G0Init(i), -2000.0f);
    }

    // Element amounts follow the formulas: Cl from CoCl2, NaCl and HCl; the marked
    // HCl row alone in the corrected amounts.
    int cl = 0, na = 0, co = 0;
    for (int m = 1; m <= st.nEl; ++m) {
        const int z = st.sysRec.elemCode.at(m);
        if (z == 17) cl = m;
        if (z == 11) na = m;
        if (z == 27) co = m;
    }
    ASSERT_TRUE(cl && na && co);
    for (int j = 1; j <= kSol; ++j) {
        EXPECT_FUZZY(st.Bulk(cl, j), 2 * kCoCl2 + kNaCl[j - 1] + kHCl, 1e-6);
        EXPECT_FUZZY(st.Bulk(na, j) + 1.0, kNaCl[j - 1] + 1.0, 1e-6);
        EXPECT_FUZZY(st.Bulk(co, j), kCoCl2, 1e-6);
        EXPECT_FUZZY(st.BulkCorr(cl, j), kHCl, 1e-6);
        EXPECT_EQ(st.BulkCorr(co, j), 0.0);
        EXPECT_EQ(st.Bulk(0, j), 55.50843);
    }

    // The goal function ran: a finite error, in the sheet and the status line.
    EXPECT_TRUE(std::isfinite(st.RmsErr));
    EXPECT_GT(st.RmsErr, 0.0);
    EXPECT_EQ(ui.statuses.back().rfind("Initial data set.    Error: ", 0), 0u);

    // What the reader wrote reaches the file and nothing else changed.
    std::string error;
    ASSERT_TRUE(st.xlBook->Save(error)) << error;
    auto again = GridWorkbook::Load(path, error);
    ASSERT_TRUE(again) << error;
    Worksheet* sh = again->Worksheets(1);
    EXPECT_EQ(std::get<double>(sh->Value(10, 3)), static_cast<double>(st.G0Init(1)));
    EXPECT_EQ(std::get<double>(sh->Value(11, 3)), static_cast<double>(st.G0Init(2)));
    EXPECT_FUZZY(std::get<double>(sh->Value(12, 3)), st.RmsErr, 1e-15);
    EXPECT_EQ(std::get<std::string>(sh->Value(16, 8)), "corrected");
    EXPECT_EQ(std::get<double>(sh->Value(19, 1)), 480.0);

    // A second read of the same name is a refresh of the open workbook.
    const double rms = st.RmsErr;
    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_FUZZY(st.RmsErr, rms, 1e-9);
    EXPECT_EQ(host->WorkbookCount(), 1);

    // Another program saves the file: the next refresh reads the new version.
    {
        auto other = GridWorkbook::Load(path, error);
        ASSERT_TRUE(other) << error;
        other->Worksheets(1)->SetValue(20, 2, 0.375);
        ASSERT_TRUE(other->Save(error)) << error;
    }
    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.AbsM(1, 1), 0.375);
    EXPECT_EQ(host->WorkbookCount(), 1);
}

} // namespace
} // namespace lumora::test
