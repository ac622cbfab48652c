// The sheet window over a data set read on the embedded host: edits are the user's and
// are read again, undo survives a save, tab-separated pastes, a running command's writes,
// formula cells, and how numbers show.

#include "windows/SheetWindow.h"
#include "ValidDataSet.h"
#include "dataset/Reread.h"
#include "sheet/CellRef.h"
#include "windows/ResultPanel.h"
#include "windows/SheetText.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

namespace lumora {
namespace {

class SheetWindowTest : public test::ReaderFixture {
protected:
    void SetUp() override {
        ReaderFixture::SetUp();
        Read();
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
        window.ShowWorkbook(st.xlBook, st.xlSheet);
        window.report = [this](const QString& m) { reports << m; };
        window.confirm = [this](const QString& q) {
            questions << q;
            return answer;
        };
    }
    CellValue At(int row, int col) { return Grid().Value(row, col); }
    void Type(int row, int col, const QString& text) {
        window.Model().setData(window.Model().index(row - 1, col - 1), text, Qt::EditRole);
    }
    QString Shown(int row, int col) {
        return window.Model().index(row - 1, col - 1).data().toString();
    }

    SheetWindow window;
    QStringList reports, questions;
    bool answer = false;
};

TEST_F(SheetWindowTest, TypedValuesAreTheUsersEditAndTheNextCommandReadsThem) {
    EXPECT_FALSE(st.xlsWatch->Changed);
    Type(14, 2, "0.15"); // NaCl of solution 1
    EXPECT_EQ(At(14, 2), CellValue(0.15));
    EXPECT_TRUE(st.xlsWatch->Changed) << "an edit in the window is an edit of the sheet";
    const int reads = goalCalls;
    EXPECT_EQ(RereadIfChanged(st, ui.request()), RereadResult::Reread);
    EXPECT_GT(goalCalls, reads);
    EXPECT_FALSE(st.xlsWatch->Changed);
    Type(14, 2, "0.15"); // the same again: no edit
    EXPECT_FALSE(st.xlsWatch->Changed);
}

TEST_F(SheetWindowTest, UndoAfterASaveRestoresTheFile) {
    const std::string path = st.xlBook->FullName();
    Type(1, 2, "Renamed");
    Type(21, 2, "");
    ASSERT_TRUE(window.Save());
    EXPECT_EQ(test::LoadOk(path)->Sheet(1)->Value(1, 2), CellValue(std::string("Renamed")));
    window.UndoStack().undo();
    window.UndoStack().undo();
    ASSERT_TRUE(window.Save());
    auto saved = test::LoadOk(path);
    EXPECT_EQ(saved->Sheet(1)->Value(1, 2), CellValue(std::string("Cobalt chloride")));
    EXPECT_EQ(saved->Sheet(1)->Value(21, 2), CellValue(0.01));
    window.UndoStack().redo();
    EXPECT_EQ(At(1, 2), CellValue(std::string("Renamed")));
}

TEST_F(SheetWindowTest, TabSeparatedPasteLandsCellByCell) {
    // Decimal points, an empty field, a short row (its end is emptied), Windows line ends.
    ASSERT_TRUE(window.PasteText("410\t0.125\t\t1e-3\r\n420\t0.25\r\n", 21, 1));
    const std::vector<std::tuple<int, int, CellValue>> expected{
        {21, 1, 410.0}, {21, 2, 0.125}, {21, 3, CellValue{}}, {21, 4, 0.001},
        {22, 1, 420.0}, {22, 2, 0.25},  {22, 3, CellValue{}}, {22, 4, CellValue{}}};
    for (const auto& [r, c, v] : expected) EXPECT_EQ(At(r, c), v) << CellName(r, c);
    window.Copy(); // the pasted block is selected
    EXPECT_EQ(QApplication::clipboard()->text(), "410\t0.125\t\t0.001\n420\t0.25\t\t\n");
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_TRUE(st.xlsWatch->Changed);

    // Over the keyword lines it asks; "No" leaves the sheet alone.
    EXPECT_FALSE(window.PasteText("x\ty\nz", 5, 1));
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("\"T, C:\" in A5")) << questions[0].toStdString();
    EXPECT_EQ(At(5, 1), CellValue(std::string("T, C:")));
    answer = true;
    EXPECT_TRUE(window.PasteText("T, C:\t30", 5, 1)) << "the keyword itself again: no question";
    EXPECT_EQ(questions.size(), 1);
    EXPECT_EQ(At(5, 2), CellValue(30.0));
}

TEST_F(SheetWindowTest, ARunningCommandsWritesShowAndStayTintedUntilTheNextEdit) {
    SheetModel& model = window.Model();
    const int cols = model.columnCount();
    Grid().SetEvents(false); // as a command writes
    Grid().SetValue(12, 3, 0.0123);
    Grid().SetValue(21, cols + 5, 1.5); // the result table, right of the shown columns
    QTest::qWait(200);                  // the command lets events run
    EXPECT_EQ(Shown(12, 3), "0.0123");
    EXPECT_GE(model.columnCount(), cols + 5);
    EXPECT_TRUE(model.WrittenByCommand(12, 3) && model.WrittenByCommand(21, cols + 5));
    EXPECT_FALSE(model.WrittenByCommand(12, 2));
    EXPECT_FALSE(st.xlsWatch->Changed) << "the program's writes are no edit";
    Grid().SetEvents(true);
    Type(1, 3, "note");
    EXPECT_FALSE(model.WrittenByCommand(12, 3));
}

TEST_F(SheetWindowTest, AFileChangedOnDiskIsShownAfterItsReloadAndUndoForgetsTheOldCells) {
    Type(1, 2, "mine");
    const std::string path = st.xlBook->FullName();
    {
        auto other = test::LoadOk(path); // another program saves the file
        other->Sheet(1)->SetValue(14, 2, 0.75);
        std::string error;
        ASSERT_TRUE(other->Save(error)) << error;
    }
    std::string error;
    ASSERT_EQ(st.xlBook->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    window.Model().FlushChanges();
    EXPECT_EQ(Shown(14, 2), "0.75");
    EXPECT_EQ(Shown(1, 2), "Cobalt chloride");
    EXPECT_FALSE(window.UndoStack().canUndo()) << "an undo would write over the new file";
}

TEST_F(SheetWindowTest, FormulaCellsAreReadOnlyAndFixedSpeciesCanBeFreed) {
    Grid().LoadValue(30, 2, 4.0, true);
    const QModelIndex f = window.Model().index(29, 1);
    EXPECT_FALSE(window.Model().flags(f) & Qt::ItemIsEditable);
    EXPECT_TRUE(f.data(Qt::ToolTipRole).toString().contains("spreadsheet program"));
    EXPECT_TRUE(window.PasteText("1\t2", 30, 1));
    EXPECT_EQ(At(30, 1), CellValue(1.0));
    EXPECT_TRUE(Grid().HasFormula(30, 2)) << "a paste passes over formulas";

    EXPECT_FALSE(window.FreeSpecies(10)) << "CoCl+ is free already";
    EXPECT_TRUE(window.FreeSpecies(11));
    EXPECT_TRUE(IsEmpty(At(11, 4)));
    Read();
    EXPECT_EQ(st.nFree, 2);
}

TEST(ResultPanel, ShowsIntervalsBoundsAndCorrelationsWhenTheReportHasThem) {
    FitReport report;
    report.RmsErr = 0.000533;
    auto species = [](const char* name, double result, double pm) {
        FitReport::Species sp;
        sp.name = name, sp.initial = result + 1, sp.result = result, sp.pm = pm;
        sp.free = pm != 0;
        return sp;
    };
    report.species = {species("Co+2", -54.392, 0), species("CoCl+", -187.204, 0.1075),
                      species("CoCl4-2", -563.29, 0.1998)};
    report.species[1].lo = -187.31, report.species[1].hi = -187.1;
    report.species[2].determined = false;
    report.species[2].logK = 2.5, report.species[2].logK_pm = 0.04;
    report.correlation = {{1, -0.93}, {-0.93, 1}};
    report.intervalNote = "bounds of CoCl4-2 not reached";
    ResultPanel panel;
    panel.Show(report);
    QTableWidget* t = panel.SpeciesTable();
    auto cell = [t](int r, int c) { return t->item(r, c)->text().toStdString(); };
    EXPECT_EQ(cell(1, 2), "-187.204");
    EXPECT_EQ(cell(1, 3), "0.108");
    EXPECT_EQ(cell(0, 3), "") << "a fixed species has no interval";
    EXPECT_EQ(cell(1, 4) + " " + cell(1, 5), "-187.310 -187.100");
    EXPECT_EQ(cell(2, 4) + " " + cell(2, 5), "n.d. n.d.");
    EXPECT_EQ(cell(2, 6) + " " + cell(2, 7), "2.500 0.040");
    EXPECT_EQ(panel.CorrelationTable()->item(0, 2)->text(), "-0.930");
    EXPECT_EQ(panel.CorrelationTable()->horizontalHeaderItem(2)->text(), "CoCl4-2");
    EXPECT_TRUE(panel.Summary()->text().contains("Mean err.: 0.000533"));
    EXPECT_TRUE(panel.Summary()->text().contains("not reached"));

    report.species.resize(1); // no bounds, log K or correlations: their columns go
    report.correlation.clear();
    panel.Show(report);
    EXPECT_TRUE(t->isColumnHidden(4) && t->isColumnHidden(6));
    EXPECT_TRUE(panel.CorrelationTable()->isHidden());
    panel.Show(FitReport{}); // a failed read
    EXPECT_FALSE(panel.HasResults());
}

TEST(SheetText, NumbersShowWithoutFloatNoise) {
    const std::vector<std::pair<double, std::string>> cases{
        {static_cast<double>(-188.731f), "-188.731"},
        {static_cast<double>(0.1f), "0.1"},
        {0.1, "0.1"},
        {123456789.0, "123456789"},
        {16777216.0, "16777216"},
        {-2.5e-7, "-2.5E-07"}};
    for (const auto& [x, text] : cases) EXPECT_EQ(CellDisplayText(x), text) << x;
    EXPECT_EQ(CellFromText(" 2.5 "), CellValue(2.5));
    EXPECT_EQ(CellFromText("S1"), CellValue(std::string("S1")));
    EXPECT_EQ(CellFromText("nan"), CellValue(std::string("nan")));
}

} // namespace
} // namespace lumora
