// The goal-function window with the real reader, engine and goal function on a copy
// of the bundled 25 C example: the scan passes through the error the reader wrote, a
// double click moves an Initial value, and the result survives a save and a reload.

#include "GoalTestSupport.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "fit/CallGoal.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "xlsx/EmbeddedHost.h"

#include <filesystem>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;

TEST(GoalEndToEnd, ScanAndDoubleClickOnTheBundledExample) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "goal-e2e";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");

    State st;
    TestUi ui(st);
    GoalPort port{ui};
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    auto host = std::make_shared<EmbeddedHost>();
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = dir.string() + "/";
    ui.fileText = "co.xlsx";
    QWidget mainWidget;
    auto* window = new GoalScanWindow(st, port, &mainWidget);
    port.window = window;
    port.mainWidget = &mainWidget;

    ReadDataSet(st, ui.request());
    port.afterRead(st);
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    ASSERT_EQ(st.nSp, 3);
    ASSERT_EQ(window->Combo->count(), 4) << "the read refilled the list";
    const int errRow = st.nSp + 10;
    const double rms0 = std::get<double>(st.xlSheet->Value(errRow, 3));

    // CoCl+ from the list.
    {
        const QSignalBlocker block(window->Combo);
        window->Combo->setCurrentIndex(1);
    }
    window->ScanGoal(-1);
    ASSERT_EQ(window->DrawnParameter(), 2) << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_TRUE(window->isVisible());
    // Offset 0 is the error the reader wrote for the Initial values.
    EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(11, 1), rms0, 1e-5));
    float lowest = window->Chart->PointData(1, 1), highest = lowest;
    for (int16_t p = 1; p <= 21; ++p) {
        const float e = window->Chart->PointData(p, 1);
        ASSERT_TRUE(std::isfinite(e) && e > 0.0f) << "point " << p;
        lowest = std::min(lowest, e);
        highest = std::max(highest, e);
    }
    EXPECT_GT(highest, lowest * 1.001f) << "the Gibbs energy of CoCl+ matters";

    // The model state belongs to the Initial values: evaluating there changes nothing.
    const Mat<float> absAfterScan = st.AbsC;
    CallGoal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    for (int j = 1; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w)
            ASSERT_TRUE(FuzzyEqual(absAfterScan(j, w), st.AbsC(j, w), 1e-5, 1e-6))
                << "solution " << j << " wavelength " << w;

    // A double click at +2 moves CoCl+ there; the re-read writes the error of the new
    // Initial values, which the scan had plotted at that offset.
    const double old = st.G0Init(2);
    const float plottedAtTwo = window->Chart->PointData(13, 1);
    emit window->Chart->UserPoint(2.0f, 0.0f);
    EXPECT_EQ(std::get<double>(st.xlSheet->Value(11, 3)), old + 2.0);
    EXPECT_EQ(st.G0Init(2), static_cast<float>(old + 2.0));
    ASSERT_TRUE(std::holds_alternative<double>(st.xlSheet->Value(errRow, 3)));
    const double rms1 = std::get<double>(st.xlSheet->Value(errRow, 3));
    EXPECT_TRUE(FuzzyEqual(rms1, plottedAtTwo, 1e-5));
    EXPECT_TRUE(FuzzyEqual(window->Chart->PointData(11, 1), rms1, 1e-5));
    EXPECT_EQ(window->DrawnParameter(), 2);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;

    // Saved and loaded again, the file holds the new Initial value and its error.
    std::string why;
    ASSERT_TRUE(SaveDirtyWorkbooks(*host, why)) << why;
    std::string error;
    auto again = GridWorkbook::Load((dir / "co.xlsx").string(), error);
    ASSERT_TRUE(again) << error;
    Worksheet* sh = again->Worksheets(1);
    EXPECT_EQ(std::get<double>(sh->Value(11, 3)), old + 2.0);
    EXPECT_EQ(std::get<double>(sh->Value(errRow, 3)), rms1);
    EXPECT_EQ(std::get<std::string>(sh->Value(12, 2)), "CoCl4-2") << "the rest is kept";

    st.xlsWatch->SetSheet(nullptr);
    st.xlSheet = nullptr;
    st.xlBook = nullptr;
}

} // namespace
} // namespace lumora::test
