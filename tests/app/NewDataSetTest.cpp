// A new data set from the template: it reads on the real engine once its absorbances
// are filled in, and "lumora --new" never writes over a file.

#include "app/NewDataSet.h"
#include "TestUi.h"
#include "WorkbookFiles.h"
#include "app/CommandLine.h"
#include "app/HostChoice.h"
#include "app/SheetLink.h"
#include "engine/EngineFactory.h"
#include "windows/MainWindow.h"
#include "xlsx/EmbeddedHost.h"

#include <cmath>

namespace lumora {
namespace {

/// Fills every empty absorbance of the spectrum rows with a band-like value.
void FillAbsorbances(GridSheet& sheet) {
    int row = 1;
    while (!std::holds_alternative<std::string>(sheet.Value(row, 1)) ||
           std::get<std::string>(sheet.Value(row, 1)).rfind("Wave", 0) != 0)
        ASSERT_LT(++row, 100) << "no wavelength line";
    for (++row; std::holds_alternative<double>(sheet.Value(row, 1)); ++row) {
        const double wl = std::get<double>(sheet.Value(row, 1));
        for (int col = 2; col <= 3; ++col) {
            EXPECT_TRUE(IsEmpty(sheet.Value(row, col)));
            sheet.SetValue(row, col, 0.05 * col * std::exp(-std::pow((wl - 560) / 90, 2)));
        }
    }
}

TEST(NewDataSet, TheTemplateReadsOnceItsAbsorbancesAreFilledIn) {
    test::TempDir dir;
    const std::string path = dir.Path("new.xlsx");
    std::FILE* out = std::tmpfile();
    ASSERT_EQ(NewDataSetCommand(path, out, out), 0);
    {
        auto book = test::LoadOk(path);
        FillAbsorbances(*book->Sheet(1));
        std::string error;
        ASSERT_TRUE(book->Save(error)) << error;
    }
    {
        State st;
        test::TestUi ui(st);
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        std::string error;
        st.attachHost = MakeHostAttach("embedded", error);
        st.WorkDir = dir.dir + "/";
        ui.fileText = "new.xlsx";
        ReadDataSet(st, ui.request());
        EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
        EXPECT_EQ(st.nSp, 1);
        EXPECT_EQ(st.nSol, 2);
        EXPECT_EQ(st.nFree, 1);
        EXPECT_EQ(st.nWl, 7);
    }
    EmbeddedHost::Instance()->CloseAll();
    std::fclose(out);
}

TEST(NewDataSet, AnExistingFileIsNeverOverwritten) {
    test::TempDir dir;
    const std::string path = dir.Path("mine.xlsx");
    test::WriteBytes(path, "the user's own file");
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(NewDataSetCommand(path, err, err), 1);
    EXPECT_EQ(test::ReadBytes(path), "the user's own file");
    EXPECT_EQ(dir.Count(), 1u) << "no temporary file left behind";
    std::rewind(err);
    char line[300] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, err));
    EXPECT_NE(std::string(line).find("the file exists"), std::string::npos) << line;
    std::fclose(err);

    std::string error;
    for (const auto& args :
         {std::vector<std::string>{"--new"}, std::vector<std::string>{"--new", "a.xlsx", "b.xlsx"},
          std::vector<std::string>{"--batch", "b.xlsx", "--new", "a.xlsx"}})
        EXPECT_FALSE(ParseCommandLine(args, error)) << args.size();
}

TEST(NewDataSet, NewDataSetOpensTheTemplateInTheSheetWindow) {
    test::TempDir dir;
    {
        State st;
        test::TestUi ui(st);
        std::string error;
        st.attachHost = MakeHostAttach("embedded", error);
        MainWindow form(st, dir.dir);
        SheetLink link(st, form);
        ASSERT_TRUE(link.CreateDataSet(dir.Path("a.xlsx")));
        EXPECT_TRUE(link.Window().isVisible());
        EXPECT_EQ(form.fileEdit()->text(), "a.xlsx");
        EXPECT_EQ(st.WorkDir, dir.dir + "/");
        EXPECT_EQ(link.Window().Model().index(1, 0).data().toString(), "Database:");
        EXPECT_FALSE(link.CreateDataSet(dir.Path("a.xlsx")));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find("the file exists"), std::string::npos);
    }
    EmbeddedHost::Instance()->CloseAll();
}

} // namespace
} // namespace lumora
