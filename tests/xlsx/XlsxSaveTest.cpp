// Saving in place: only the written cells change, every other part keeps its bytes, and
// a save that fails half-way leaves the old file whole. The embedded host and the sheet
// watcher: edits by the user (live or on disk) set Changed, the program's own do not.

#include "WorkbookFiles.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "sheet/SheetWatcher.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridSheet.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxPatch.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace lumora {
namespace {

using test::TempDir;

bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

/// Each piece must be in the text ("!" before it: must not be).
void ExpectPieces(const std::string& text, std::initializer_list<std::string> pieces) {
    for (const std::string& p : pieces) {
        if (p[0] == '!')
            EXPECT_FALSE(Contains(text, p.substr(1))) << p;
        else
            EXPECT_TRUE(Contains(text, p)) << p << " not in\n" << text;
    }
}

std::unique_ptr<GridWorkbook> LoadOk(const std::string& path) {
    std::string error;
    auto book = GridWorkbook::Load(path, error);
    EXPECT_TRUE(book) << error;
    return book;
}

TEST(XlsxSave, LibreOfficeFileReadThenOnlyWrittenCellsChangeAndTheFileKeepsItsMode) {
    TempDir dir;
    const std::string path = dir.Path("fixture.xlsx");
    std::filesystem::copy_file(test::Fixture("libreoffice-fixture.xlsx"), path);
    const auto before = test::Parts(path);
    ::chmod(path.c_str(), 0640);
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    // What LibreOffice wrote, as it wrote it: formula results, a date as a serial, a
    // leading blank, a styled empty cell, rich text.
    ASSERT_EQ(book->WorksheetCount(), 2);
    EXPECT_EQ(book->Worksheets(1)->Value(1, 2), CellValue(42.0));
    Worksheet* s = book->Worksheets(2);
    EXPECT_EQ(s->Name(), "Data");
    // clang-format off
    const std::tuple<int, int, CellValue> cells[] = {
        {2, 1, std::string("T, C:")}, {2, 2, 25.5}, {2, 4, 51.0}, {3, 4, std::string("xFlags")},
        {3, 3, 45352.0}, {4, 1, std::string(" \xC2\xB1")}, {4, 2, 0.001234}, {4, 3, CellValue{}},
        {4, 4, -1.5e20}, {5, 1, std::string("rich text cell")}};
    // clang-format on
    for (const auto& [r, c, v] : cells) EXPECT_EQ(s->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(s->Comment(5, 2), "two\nlines");
    EXPECT_FALSE(s->Comment(2, 2));

    s->SetEvents(false);
    s->SetValue(2, 2, 30.0);                     // styled number cell, s="0" kept
    s->SetValue(2, 3, std::string("text <&>"));  // replaces a number
    s->SetValue(7, 6, std::string(" \xC2\xB1")); // new row after the last one
    s->SetValue(1, 3, true);                     // new cell inside a row
    s->ClearContents(4, 4, 4, 4);                // value goes, style stays
    s->Clear(4, 2, 4, 2);                        // value and style go
    s->ClearContents(6, 1, 6, 3);                // nothing there: nothing changes
    std::string error;
    ASSERT_TRUE(book->Save(error)) << error;

    auto after = test::Parts(path);
    const std::string sheet = "xl/worksheets/sheet2.xml";
    for (const auto& [name, text] : before) {
        ASSERT_TRUE(after.count(name)) << name;
        if (name == sheet || name == "xl/workbook.xml") continue;
        EXPECT_EQ(after[name], text) << name << " changed";
    }
    EXPECT_EQ(after.size(), before.size());

    // Untouched cells, the formula and everything around the data stay verbatim.
    ExpectPieces(after[sheet],
                 {"<c r=\"A2\" s=\"0\" t=\"s\"><v>4</v></c>", "<f aca=\"false\">B2*C2</f><v>51</v>",
                  "<c r=\"C3\" s=\"2\" t=\"n\"><v>45352</v></c>", "<legacyDrawing r:id=\"rId2\"/>",
                  "<c r=\"C4\" s=\"3\"/>", "DejaVu Serif,Book", "<c r=\"B2\" s=\"0\"><v>30</v></c>",
                  "<c r=\"C2\" s=\"0\" t=\"inlineStr\"><is><t>text &lt;&amp;&gt;</t></is></c>",
                  "<c r=\"B1\" s=\"0\" t=\"s\"><v>3</v></c><c r=\"C1\" t=\"b\"><v>1</v></c>",
                  "<c r=\"D4\" s=\"0\"/>", "!r=\"B4\"", "!r=\"6\"", "<dimension ref=\"A1:F7\"/>",
                  "</row><row r=\"7\"><c r=\"F7\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> "
                  "\xC2\xB1</t></is></c></row></sheetData>"});
    ExpectPieces(after["xl/workbook.xml"],
                 {"fullCalcOnLoad=\"1\"", "<calcPr iterateCount=\"100\""});
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    auto again = LoadOk(path);
    Worksheet* t = again->Worksheets(2);
    // clang-format off
    const std::tuple<int, int, CellValue> saved[] = {
        {2, 2, 30.0}, {2, 3, std::string("text <&>")}, {7, 6, std::string(" \xC2\xB1")},
        {1, 3, true}, {4, 4, CellValue{}}, {4, 2, CellValue{}}, {2, 4, 51.0}};
    // clang-format on
    for (const auto& [r, c, v] : saved) EXPECT_EQ(t->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(t->Comment(4, 2), "fixed"); // Clear keeps the user's comment
}

TEST(XlsxSave, ExcelLikeFileReadThenFormulasChainAndForeignParts) {
    TempDir dir;
    std::string path = dir.Path("excel.xlsx"), error;
    test::WritePackage(path, test::ExcelLikeParts());
    auto before = test::Parts(path);
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->ActiveSheet()->Name(), "Spectra"); // activeTab="1"
    Worksheet* s = book->Worksheets(1);
    // A cell without a position follows A2; a row without r is 3; runs, no phonetics.
    // clang-format off
    const std::tuple<int, int, CellValue> cells[] = {
        {1, 2, std::string("inline")}, {1, 4, true}, {1, 5, std::string("#DIV/0!")}, {2, 2, 7.0},
        {2, 4, std::string("Bold and plain")}, {3, 2, std::string("ab")},
        {4, 2, std::string("Line\rbreak")}};
    // clang-format on
    for (const auto& [r, c, v] : cells) EXPECT_EQ(s->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(s->Comment(1, 3), "Excel User:\nfixed");

    s->SetValue(2, 1, 99.0);                    // master of a shared formula
    s->SetValue(3, 3, std::string("in row 3")); // a row without positions
    s->SetComment(4, 1, std::string("new note"));
    book->Worksheets(2)->SetValue(2, 2, 0.75); // prefixed elements
    ASSERT_TRUE(book->Save(error)) << error;

    auto after = test::Parts(path);
    // The drawing is not XML: it stays as it was; the comment still goes in.
    for (const char* part : {"customXml/item1.xml", "xl/styles.xml", "xl/sharedStrings.xml",
                             "xl/drawings/vmlDrawing1.vml"})
        EXPECT_EQ(after[part], before[part]) << part;
    // The calculation chain named the overwritten formula: it goes, with its links.
    EXPECT_FALSE(after.count("xl/calcChain.xml"));
    ExpectPieces(after["xl/_rels/workbook.xml.rels"] + after["[Content_Types].xml"],
                 {"!calcChain"});
    // The next cell of the shared formula takes it over, moved by one row.
    ExpectPieces(after["xl/worksheets/sheet1.xml"],
                 {"<c r=\"A2\"><v>99</v></c>",
                  "<c r=\"A3\"><f t=\"shared\" si=\"0\" ref=\"A2:A4\">C2*2</f>"});

    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Value(3, 3), CellValue(std::string("in row 3")));
    EXPECT_EQ(again->Worksheets(1)->Comment(4, 1), "new note");
    EXPECT_EQ(again->Worksheets(1)->Comment(1, 3), "Excel User:\nfixed");
    EXPECT_EQ(again->Worksheets(2)->Value(2, 2), CellValue(0.75));
    EXPECT_EQ(again->Worksheets(2)->Value(3, 1), CellValue(301.0));
}

TEST(XlsxSave, OpenpyxlFileKeepsChartDrawingAndNames) {
    TempDir dir;
    std::string path = dir.Path("openpyxl.xlsx"), error;
    std::filesystem::copy_file(test::Fixture("openpyxl-fixture.xlsx"), path);
    auto before = test::Parts(path);
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    Worksheet* s = book->Worksheets(1);
    EXPECT_EQ(s->Value(3, 4), CellValue(1e-7));
    EXPECT_TRUE(IsEmpty(s->Value(3, 3))); // a formula without a cached result
    EXPECT_EQ(s->Value(1, 6), CellValue(std::string("merged")));
    EXPECT_EQ(s->Comment(4, 2), "fixed");

    s->SetValue(7, 3, 1.5);
    s->SetValue(3, 3, 298.15);
    s->SetComment(4, 2, std::nullopt);
    s->SetComment(7, 3, std::string("result"));
    ASSERT_TRUE(book->Save(error)) << error;
    auto after = test::Parts(path);
    for (const char* part :
         {"xl/charts/chart1.xml", "xl/drawings/drawing1.xml", "xl/drawings/_rels/drawing1.xml.rels",
          "xl/theme/theme1.xml", "xl/styles.xml", "xl/worksheets/sheet2.xml", "docProps/core.xml"})
        EXPECT_EQ(after[part], before[part]) << part;
    ExpectPieces(after["xl/workbook.xml"], {"<definedName name=\"Temperature\">Data!$B$3"});
    ExpectPieces(
        after["xl/worksheets/sheet1.xml"],
        {"<mergeCells count=\"1\"><mergeCell ref=\"F1:H1\"/></mergeCells>", "<drawing xmlns:r="});
    // The comment box moved with the comment, in a drawing that declares its prefixes.
    const std::string& vml = after["xl/drawings/commentsDrawing1.vml"];
    ExpectPieces(vml, {"!<ns2:Row>3</ns2:Row>", "<x:Row>6</x:Row><x:Column>2</x:Column>",
                       "xmlns:x=\"urn:schemas-microsoft-com:office:excel\""});
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(vml.c_str()));

    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Value(3, 3), CellValue(298.15));
    EXPECT_EQ(again->Worksheets(1)->Comment(7, 3), "result");
    EXPECT_FALSE(again->Worksheets(1)->Comment(4, 2));
}

struct FailedSave : ::testing::TestWithParam<SaveStep> {};

TEST_P(FailedSave, LeavesTheOldFileWhole) {
    TempDir dir;
    std::string path = dir.Path("data.xlsx"), error;
    ASSERT_TRUE(WriteNewXlsx(path, {{"Data", {{1.0, 2.0}}, {}}}, error)) << error;
    std::string old = test::ReadBytes(path);
    size_t files = dir.Count();

    auto book = LoadOk(path);
    book->Worksheets(1)->SetValue(1, 1, 42.0);
    book->SetSaveFault([](SaveStep step) { return step != GetParam(); });
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(error, "Cannot save data.xlsx: interrupted");
    EXPECT_EQ(test::ReadBytes(path), old);
    EXPECT_EQ(dir.Count(), files); // no temporary file left behind
    EXPECT_TRUE(book->Dirty());
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 1), CellValue(1.0));

    // The write is still pending and goes through on the next save.
    book->SetSaveFault({});
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_FALSE(book->Dirty());
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 1), CellValue(42.0));
    EXPECT_EQ(dir.Count(), files);
}

INSTANTIATE_TEST_SUITE_P(Steps, FailedSave,
                         ::testing::Values(SaveStep::TempWritten, SaveStep::BeforeRename));

TEST(XlsxSave, ThroughALinkTheLinkedFileIsWrittenAndAnUnwritableFolderIsReported) {
    TempDir dir;
    std::string real = dir.Path("real.xlsx"), link = dir.Path("link.xlsx"), error;
    ASSERT_TRUE(WriteNewXlsx(real, {{"Data", {{1.0}}, {}}}, error)) << error;
    std::filesystem::create_symlink(real, link);
    auto book = LoadOk(link);
    book->Worksheets(1)->SetValue(1, 1, 2.0);
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(LoadOk(real)->Worksheets(1)->Value(1, 1), CellValue(2.0));
    EXPECT_FALSE(book->ChangedOnDisk());
    EXPECT_FALSE(WriteNewXlsx("/nonexistent-folder/x.xlsx", {{"S", {{1.0}}, {}}}, error));
    EXPECT_TRUE(Contains(error, "Cannot save x.xlsx: cannot create a temporary file")) << error;
}

std::string MakeBook(const TempDir& dir, const std::string& name, double a1) {
    std::string path = dir.Path(name), error;
    EXPECT_TRUE(WriteNewXlsx(path, {{"Data", {{a1, std::string("x")}}, {}}}, error)) << error;
    return path;
}

// The same file by another spelling is the open workbook, with its unsaved state.
TEST(EmbeddedHost, OpensEachFileOnce) {
    TempDir dir;
    EmbeddedHost host;
    std::string error;
    Workbook* wa = host.Open(MakeBook(dir, "a.xlsx", 1), error);
    ASSERT_TRUE(wa) << error;
    wa->Worksheets(1)->SetValue(5, 5, 3.0);
    std::filesystem::create_directory(dir.Path("sub"));
    EXPECT_EQ(host.Open(dir.dir + "/./sub/../a.xlsx", error), wa);
    EXPECT_EQ(host.WorkbookCount(), 1);
    EXPECT_EQ(wa->Worksheets(1)->Value(5, 5), CellValue(3.0));
    EXPECT_EQ(host.Open(dir.Path("none.xlsx"), error), nullptr);
    EXPECT_NE(error.find("none.xlsx"), std::string::npos) << error;
}

TEST(Watcher, ASheetThatIsGoneIsNoLongerCalled) {
    SheetWatcher watch;
    {
        GridSheet sheet(nullptr, "Data");
        watch.SetSheet(&sheet);
        watch.SetEvents(true);
    } // the workbook holding the sheet was closed
    EXPECT_EQ(watch.Sheet(), nullptr);
    watch.SetEvents(false); // no call into the destroyed sheet
    EXPECT_FALSE(watch.ChangedOnDisk());
} // and the watcher's own end does not touch the old sheet either

TEST(EmbeddedHost, SavesDirtyWorkbooksAndReportsFailures) {
    TempDir dir;
    EmbeddedHost host;
    std::string a = MakeBook(dir, "a.xlsx", 1), b = MakeBook(dir, "b.xlsx", 2), error;
    Workbook* wa = host.Open(a, error);
    Workbook* wb = host.Open(b, error);
    ASSERT_TRUE(wa && wb);
    std::string message;

    wa->Worksheets(1)->SetValue(2, 1, 10.0);
    wb->Worksheets(1)->SetValue(2, 1, 20.0);
    // b is changed by another program meanwhile: its save must fail, a's must not.
    MakeBook(dir, "b.xlsx", 99);
    const std::string users = test::ReadBytes(b);
    EXPECT_FALSE(SaveDirtyWorkbooks(host, message));
    EXPECT_EQ(message.rfind("Cannot save b.xlsx: the file was changed by another program", 0), 0u)
        << message;
    EXPECT_EQ(test::ReadBytes(b), users);
    EXPECT_TRUE(wb->Dirty());
    EXPECT_EQ(LoadOk(a)->Worksheets(1)->Value(2, 1), CellValue(10.0));
}

// As the reader does: watch, events off while it reads, on after a good read. Then the
// file on disk goes, comes back, is rewritten, reshaped and damaged.
TEST(Watch, OnDiskChangesSetChangedAndTheNextReadReloads) {
    TempDir dir;
    EmbeddedHost host;
    std::string path = MakeBook(dir, "data.xlsx", 1), other = dir.Path("other.xlsx"), error;
    Workbook* book = host.Open(path, error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->ActiveSheet();
    SheetWatcher watcher;
    watcher.SetSheet(sheet);
    watcher.SetEvents(false);
    sheet->SetValue(1, 3, std::string("by the reader"));
    watcher.SetEvents(true);
    // A deleted file is no change; the program's save puts it back, and is no change.
    std::filesystem::remove(path);
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 3), CellValue(std::string("by the reader")));
    EXPECT_FALSE(watcher.Changed);
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);

    // Rewritten in place (same inode, new size and time), the sheet renamed and one added:
    // the refresh reloads, and the sheet object the program holds stays valid and watched.
    watcher.SetEvents(false);
    sheet->SetValue(2, 2, 5.0); // an unsaved write of the program's
    watcher.SetEvents(true);
    ASSERT_TRUE(WriteNewXlsx(
        other, {{"Renamed", {{7.0, std::string("edited")}}, {}}, {"New", {{1.0}}, {}}}, error));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << test::ReadBytes(other) << std::string(10, '\0');
    EXPECT_TRUE(book->ChangedOnDisk());
    EXPECT_TRUE(watcher.Changed);
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->ActiveSheet(), sheet);
    EXPECT_EQ(sheet->Name(), "Renamed");
    EXPECT_EQ(sheet->Block(1, 1, 2, 2),
              (std::vector<std::vector<CellValue>>{{7.0, std::string("edited")}, {{}, {}}}));
    EXPECT_FALSE(book->Dirty());
    watcher.Changed = false;
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);
    sheet->SetValue(3, 3, 1.0); // the user's
    EXPECT_TRUE(watcher.Changed);

    // The renamed sheet goes: the other is active, the gone one a valid, empty object.
    Worksheet* added = book->Worksheets(2);
    ASSERT_TRUE(WriteNewXlsx(path, {{"New", {{4.0}}, {}}}, error));
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->WorksheetCount(), 1);
    EXPECT_EQ(book->ActiveSheet(), added);
    EXPECT_EQ(added->Value(1, 1), CellValue(4.0));
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 1)));

    // A damaged version keeps the sheet, stays changed (the next command tries again),
    // and is not overwritten by a save.
    test::WriteBytes(path, "half-written");
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Failed);
    EXPECT_NE(error.find("Not an .xlsx workbook"), std::string::npos) << error;
    EXPECT_EQ(added->Value(1, 1), CellValue(4.0));
    EXPECT_TRUE(book->ChangedOnDisk());
    added->SetValue(2, 2, 1.0);
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(test::ReadBytes(path), "half-written");
}

} // namespace
} // namespace lumora
