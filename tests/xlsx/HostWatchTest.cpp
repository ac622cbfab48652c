// The embedded host and the sheet watcher: workbooks stay open, the status bar
// is recorded, and edits by the user (live or on disk) set Changed while the
// program's own writes and saves do not.

#include "WorkbookFiles.h"

#include "sheet/SaveDirtyWorkbooks.h"
#include "sheet/SheetWatcher.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridSheet.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace lumora {
namespace {

using test::TempDir;

std::string MakeBook(const TempDir& dir, const std::string& name, double a1) {
    std::string path = dir.Path(name), error;
    EXPECT_TRUE(WriteNewXlsx(path, {{"Data", {{a1, std::string("x")}}, {}}}, error)) << error;
    return path;
}

TEST(EmbeddedHost, OpensEachFileOnceAndTracksTheActiveWorkbook) {
    TempDir dir;
    EmbeddedHost host;
    std::string a = MakeBook(dir, "a.xlsx", 1), b = MakeBook(dir, "b.xlsx", 2), error;
    Workbook* wa = host.Open(a, error);
    Workbook* wb = host.Open(b, error);
    ASSERT_TRUE(wa && wb) << error;
    EXPECT_EQ(host.ActiveWorkbook(), wb);

    // The same file by another spelling is the open workbook, with its unsaved state.
    wa->Worksheets(1)->SetValue(5, 5, 3.0);
    std::filesystem::create_directory(dir.Path("sub"));
    EXPECT_EQ(host.Open(dir.dir + "/./sub/../a.xlsx", error), wa);
    EXPECT_EQ(host.WorkbookCount(), 2);
    EXPECT_EQ(host.ActiveWorkbook(), wa);
    EXPECT_EQ(wa->Worksheets(1)->Value(5, 5), CellValue(3.0));

    // A file that cannot be opened: nothing is added and the reason is given.
    wb->Activate();
    EXPECT_EQ(host.Open(dir.Path("none.xlsx"), error), nullptr);
    EXPECT_NE(error.find("none.xlsx"), std::string::npos) << error;
    EXPECT_EQ(host.WorkbookCount(), 2);
    EXPECT_EQ(host.ActiveWorkbook(), wb);
}

TEST(Watcher, ASheetThatIsGoneIsNoLongerCalled) {
    SheetWatcher watch;
    {
        GridSheet sheet(nullptr, "Data");
        watch.SetSheet(&sheet);
        watch.SetEvents(true);
        sheet.SetValue(1, 1, CellValue{1.0});
        EXPECT_EQ(watch.Sheet(), &sheet);
    } // the workbook holding the sheet was closed
    EXPECT_EQ(watch.Sheet(), nullptr);
    watch.SetEvents(false); // no call into the destroyed sheet
    EXPECT_FALSE(watch.ChangedOnDisk());
    GridSheet next(nullptr, "Next");
    watch.SetSheet(&next);
    EXPECT_EQ(watch.Sheet(), &next);
} // and the watcher's own end does not touch the old sheet either

TEST(EmbeddedHost, SavesDirtyWorkbooksAndReportsFailures) {
    TempDir dir;
    EmbeddedHost host;
    std::string a = MakeBook(dir, "a.xlsx", 1), b = MakeBook(dir, "b.xlsx", 2), error;
    Workbook* wa = host.Open(a, error);
    Workbook* wb = host.Open(b, error);
    ASSERT_TRUE(wa && wb);
    std::string message = "stale";
    EXPECT_TRUE(SaveDirtyWorkbooks(host, message));
    EXPECT_EQ(message, "");

    wa->Worksheets(1)->SetValue(2, 1, 10.0);
    wb->Worksheets(1)->SetValue(2, 1, 20.0);
    // b is changed by another program meanwhile: its save must fail, a's must not.
    MakeBook(dir, "b.xlsx", 99);
    EXPECT_FALSE(SaveDirtyWorkbooks(host, message));
    EXPECT_EQ(message.rfind("Cannot save b.xlsx: ", 0), 0u) << message;
    EXPECT_FALSE(wa->Dirty());
    EXPECT_TRUE(wb->Dirty());
    auto reread = GridWorkbook::Load(a, error);
    EXPECT_EQ(reread->Worksheets(1)->Value(2, 1), CellValue(10.0));
}

struct Watch : ::testing::Test {
    TempDir dir;
    EmbeddedHost host;
    std::string path = MakeBook(dir, "data.xlsx", 1);
    Workbook* book = nullptr;
    Worksheet* sheet = nullptr;
    SheetWatcher watcher;
    void SetUp() override {
        std::string error;
        book = host.Open(path, error);
        ASSERT_TRUE(book) << error;
        sheet = book->ActiveSheet();
        // As the reader does: watch, events off while it reads, on after a good read.
        watcher.SetSheet(sheet);
        watcher.SetEvents(false);
        sheet->SetValue(1, 3, std::string("written by the reader"));
        watcher.Changed = false;
        watcher.SetEvents(true);
    }
};

TEST_F(Watch, OnlyTheUsersEditsSetChangedNotTheProgramsWritesOrSaves) {
    watcher.SetEvents(false);
    sheet->SetValue(2, 2, 5.0);
    sheet->ClearContents(1, 1, 1, 1);
    std::string error;
    ASSERT_TRUE(book->Save(error)) << error;
    watcher.SetEvents(true);
    EXPECT_FALSE(watcher.Changed);
    EXPECT_FALSE(book->ChangedOnDisk());
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);

    sheet->SetValue(40, 40, std::string("user typed here"));
    EXPECT_TRUE(watcher.Changed);
    watcher.Changed = false;
    sheet->ClearContents(2, 2, 2, 2);
    EXPECT_TRUE(watcher.Changed);
    // A watcher no longer on the sheet hears nothing.
    watcher.Changed = false;
    watcher.SetSheet(nullptr);
    sheet->SetValue(1, 1, 2.0);
    EXPECT_FALSE(watcher.Changed);
}

TEST_F(Watch, OnDiskChangeSetsChangedAndTheNextReadReloads) {
    // The user saves another version in a spreadsheet application.
    std::string error;
    ASSERT_TRUE(WriteNewXlsx(
        path, {{"Data", {{7.0, std::string("edited")}}, {}}, {"More", {{1.0}}, {}}}, error))
        << error;
    EXPECT_TRUE(book->ChangedOnDisk());
    EXPECT_TRUE(watcher.Changed);

    // The refresh reloads; the sheet object the program holds stays valid and is watched.
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->ActiveSheet(), sheet);
    EXPECT_EQ(sheet->Value(1, 1), CellValue(7.0));
    EXPECT_EQ(sheet->Value(1, 2), CellValue(std::string("edited")));
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 3))); // the program's unsaved write is gone
    EXPECT_EQ(book->WorksheetCount(), 2);
    EXPECT_FALSE(book->Dirty());
    watcher.Changed = false;
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);
    sheet->SetValue(3, 3, 1.0);
    EXPECT_TRUE(watcher.Changed);
}

TEST_F(Watch, DeletedFileInPlaceRewriteAndDamagedVersion) {
    // A deleted file is no change; the workbook stays open and saving puts the file back.
    std::filesystem::remove(path);
    EXPECT_FALSE(watcher.Changed);
    watcher.SetEvents(false);
    sheet->SetValue(2, 2, 2.0);
    std::string error;
    EXPECT_TRUE(book->Save(error)) << error;
    EXPECT_EQ(GridWorkbook::Load(path, error)->Worksheets(1)->Value(2, 2), CellValue(2.0));
    watcher.SetEvents(true);
    EXPECT_FALSE(watcher.Changed);

    // Some programs rewrite the file in place: same inode, new size and time.
    const std::string other = MakeBook(dir, "other.xlsx", 123456);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << test::ReadBytes(other) << std::string(10, '\0');
    EXPECT_TRUE(watcher.Changed);
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(sheet->Value(1, 1), CellValue(123456.0));

    // A damaged version keeps the sheet, stays changed (the next command tries again),
    // and is not overwritten by a save.
    test::WriteBytes(path, "half-written");
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Failed);
    EXPECT_NE(error.find("Not an .xlsx workbook"), std::string::npos) << error;
    EXPECT_EQ(sheet->Value(1, 1), CellValue(123456.0));
    EXPECT_TRUE(book->ChangedOnDisk());
    sheet->SetValue(2, 2, 1.0);
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(test::ReadBytes(path), "half-written");
}

TEST_F(Watch, ARenamedSheetKeepsItsObjectAGoneOneIsLeftEmpty) {
    std::string error;
    // Renamed in another program, and a sheet added in front of it.
    ASSERT_TRUE(WriteNewXlsx(path, {{"Renamed", {{2.0}}, {}}, {"New", {{3.0}}, {}}}, error));
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->ActiveSheet(), sheet);
    EXPECT_EQ(sheet->Name(), "Renamed");
    EXPECT_EQ(sheet->Value(1, 1), CellValue(2.0));
    Worksheet* added = book->Worksheets(2);
    ASSERT_TRUE(added);

    // Now the second sheet goes and the first one comes back under its name.
    ASSERT_TRUE(WriteNewXlsx(path, {{"New", {{4.0}}, {}}}, error));
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->WorksheetCount(), 1);
    EXPECT_EQ(book->ActiveSheet(), added);
    EXPECT_EQ(added->Value(1, 1), CellValue(4.0));
    // The sheet that is gone stays a valid, empty object.
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 1)));
    EXPECT_EQ(book->Worksheets(1), added);
}

} // namespace
} // namespace lumora
