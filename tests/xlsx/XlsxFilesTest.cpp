// Workbooks through real files, the program's and LibreOffice's: a save changes only the written
// cells, a failed one leaves the old file whole; damaged files give a message, never a crash;
// the user's edits (live or on disk) set Changed, the program's own do not.

#include "FuzzyCompare.h"
#include "WorkbookFiles.h"
#include "sheet/CellRef.h"
#include "sheet/SaveDirtyWorkbooks.h"
#include "sheet/SheetWatcher.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxPatch.h"
#include "xlsx/XlsxRead.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

using namespace std::string_literals;
using test::LoadOk;
using test::TempDir;
using Cell = std::tuple<int, int, CellValue>; // row, column, value
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

/// Each piece must be in the text ("!" before it: must not be).
void ExpectPieces(const std::string& text, std::initializer_list<std::string> pieces) {
    for (const std::string& p : pieces)
        EXPECT_EQ(text.find(p.substr(p[0] == '!')) == std::string::npos, p[0] == '!') << p;
}

std::string MakeBook(const TempDir& dir, const std::string& name, double a1) {
    std::string path = dir.Path(name), error;
    EXPECT_TRUE(WriteNewXlsx(path, {{"Data", {{a1, "x"s}}, {}}}, error)) << error;
    return path;
}

TEST(XlsxSave, LibreOfficeFileReadThenOnlyWrittenCellsChangeAndTheFileKeepsItsMode) {
    TempDir dir;
    const std::string path = dir.Path("fixture.xlsx");
    std::filesystem::copy_file(test::Fixture("libreoffice-fixture.xlsx"), path);
    const auto before = test::Parts(path);
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    auto book = LoadOk(path);
    // What LibreOffice wrote, as it wrote it: formula results, a date as a serial, a
    // leading blank, a styled empty cell, rich text.
    ASSERT_EQ(book->WorksheetCount(), 2);
    EXPECT_EQ(book->Worksheets(1)->Value(1, 2), CellValue(42.0));
    Worksheet* s = book->Worksheets(2);
    const Cell cells[] = {{2, 1, "T, C:"s},         {2, 2, 25.5},        {2, 4, 51.0},
                          {3, 4, "xFlags"s},        {3, 3, 45352.0},     {4, 1, " \xC2\xB1"s},
                          {4, 2, 0.001234},         {4, 3, CellValue{}}, {4, 4, -1.5e20},
                          {5, 1, "rich text cell"s}};
    for (const auto& [r, c, v] : cells) EXPECT_EQ(s->Value(r, c), v) << r << "," << c;
    EXPECT_FALSE(s->FormulaWithoutValue(2, 4)); // B2*C2 with its result
    EXPECT_EQ(s->Comment(5, 2), "two\nlines");
    EXPECT_FALSE(s->Comment(2, 2));

    s->SetEvents(false);
    s->SetValue(2, 2, 30.0);         // styled number cell, s="0" kept
    s->SetValue(2, 3, "text <&>"s);  // replaces a number
    s->SetValue(7, 6, " \xC2\xB1"s); // new row after the last one
    s->SetValue(1, 3, true);         // new cell inside a row
    s->ClearContents(4, 4, 4, 4);    // value goes, style stays
    s->Clear(4, 2, 4, 3);            // value and style go, also from the styled empty C4
    s->ClearContents(6, 1, 6, 3);    // nothing there: nothing changes
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
                  "!r=\"C4\"", "DejaVu Serif,Book", "<c r=\"B2\" s=\"0\"><v>30</v></c>",
                  "<c r=\"C2\" s=\"0\" t=\"inlineStr\"><is><t>text &lt;&amp;&gt;</t></is></c>",
                  "<c r=\"B1\" s=\"0\" t=\"s\"><v>3</v></c><c r=\"C1\" t=\"b\"><v>1</v></c>",
                  "<c r=\"D4\" s=\"0\"/>", "!r=\"B4\"", "!r=\"6\"", "<dimension ref=\"A1:F7\"/>",
                  "</row><row r=\"7\"><c r=\"F7\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> "
                  "\xC2\xB1</t></is></c></row></sheetData>"});
    ExpectPieces(after["xl/workbook.xml"],
                 {"fullCalcOnLoad=\"1\"", "<calcPr iterateCount=\"100\""});
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));

    auto again = LoadOk(path);
    Worksheet* t = again->Worksheets(2);
    const Cell saved[] = {{2, 2, 30.0},        {1, 3, true},        {2, 4, 51.0},
                          {4, 4, CellValue{}}, {4, 2, CellValue{}}, {2, 3, "text <&>"s},
                          {7, 6, " \xC2\xB1"s}};
    for (const auto& [r, c, v] : saved) EXPECT_EQ(t->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(t->Comment(4, 2), "fixed"); // Clear keeps the user's comment
}

TEST(XlsxSave, ExcelLikeFileReadThenFormulasChainAndForeignParts) {
    TempDir dir;
    std::string path = dir.Path("excel.xlsx"), error;
    test::WritePackage(path, test::ExcelLikeParts());
    auto before = test::Parts(path);
    auto book = LoadOk(path);
    EXPECT_EQ(book->ActiveSheet()->Name(), "Spectra"); // activeTab="1"
    Worksheet* s = book->Worksheets(1);
    // A cell without a position follows A2; a row without r is 3; runs, no phonetics.
    const Cell cells[] = {
        {1, 2, "inline"s},         {1, 4, true},  {1, 5, "#DIV/0!"s},    {2, 2, 7.0},
        {2, 4, "Bold and plain"s}, {3, 2, "ab"s}, {4, 2, "Line\rbreak"s}};
    for (const auto& [r, c, v] : cells) EXPECT_EQ(s->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(s->Comment(1, 3), "Excel User:\nfixed");

    s->SetValue(2, 1, 99.0);        // master of a shared formula
    s->SetValue(3, 3, "in row 3"s); // a row without positions
    s->SetComment(4, 1, "new note"s);
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
    EXPECT_EQ(again->Worksheets(1)->Value(3, 3), CellValue("in row 3"s));
    EXPECT_EQ(again->Worksheets(1)->Comment(4, 1), "new note");
    EXPECT_EQ(again->Worksheets(2)->Value(2, 2), CellValue(0.75));
}

// Rows nothing is written into keep their bytes and what stands between them; a sheet in
// UTF-16 is read and written too (in UTF-8 then).
TEST(XlsxSave, UntouchedRowsAndMarkupBetweenThemStayAndUtf16SheetsWork) {
    TempDir dir;
    std::string path = dir.Path("rows.xlsx"), error;
    auto parts = test::ExcelLikeParts();
    std::string& s1 = parts["xl/worksheets/sheet1.xml"];
    const std::string row1 =
        s1.substr(s1.find("<row r=\"1\""), s1.find("<row r=\"2\"") - s1.find("<row r=\"1\""));
    s1.insert(s1.find("<row r=\"2\""), "\n <!-- kept --><?app hint?>\n ");
    const std::u16string utf16 =
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><worksheet xmlns=\"" +
        std::u16string(kMain.begin(), kMain.end()) +
        u"\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\u00e9t\u00e9</t></is>"
        u"</c></row><row r=\"3\"><c r=\"A3\"><v>3</v></c></row></sheetData></worksheet>";
    std::string& s2 = parts["xl/worksheets/sheet2.xml"] = "\xFF\xFE";
    for (char16_t c : utf16) s2 += {char(c & 0xFF), char(c >> 8)};
    test::WritePackage(path, parts);
    auto book = LoadOk(path);
    EXPECT_EQ(book->Worksheets(2)->Value(1, 1), CellValue("\xC3\xA9t\xC3\xA9"s));
    book->Worksheets(1)->SetValue(4, 3, 8.0);
    book->Worksheets(2)->SetValue(2, 2, 2.0); // a new row between two
    book->Worksheets(2)->SetValue(3, 2, 4.0);
    ASSERT_TRUE(book->Save(error)) << error;

    auto after = test::Parts(path);
    ExpectPieces(after["xl/worksheets/sheet1.xml"],
                 {row1 + "\n <!-- kept --><?app hint?>\n <row r=\"2\" spans=\"1:5\">",
                  "<c r=\"C4\"><v>8</v></c></row></sheetData>"});
    ExpectPieces(after["xl/worksheets/sheet2.xml"],
                 {"encoding=\"UTF-8\"", "<t>\xC3\xA9t\xC3\xA9</t>",
                  "</row><row r=\"2\"><c r=\"B2\"><v>2</v></c></row><row r=\"3\"><c r=\"A3\">"
                  "<v>3</v></c><c r=\"B3\"><v>4</v></c></row></sheetData>"});
    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Value(4, 3), CellValue(8.0));
    EXPECT_EQ(
        again->Worksheets(2)->Block(1, 1, 3, 2),
        (std::vector<std::vector<CellValue>>{{"\xC3\xA9t\xC3\xA9"s, {}}, {{}, 2.0}, {3.0, 4.0}}));
}

TEST(XlsxSave, OpenpyxlFileKeepsChartDrawingAndNames) {
    TempDir dir;
    std::string path = dir.Path("openpyxl.xlsx"), error;
    std::filesystem::copy_file(test::Fixture("openpyxl-fixture.xlsx"), path);
    auto before = test::Parts(path);
    auto book = LoadOk(path);
    Worksheet* s = book->Worksheets(1);
    // A formula without a cached result reads as empty, and is told from an empty cell.
    EXPECT_TRUE(IsEmpty(s->Value(3, 3)) && s->FormulaWithoutValue(3, 3));
    EXPECT_FALSE(s->FormulaWithoutValue(3, 4) || s->FormulaWithoutValue(9, 9));
    EXPECT_EQ(s->Comment(4, 2), "fixed");

    s->SetValue(7, 3, 1.5);
    s->SetValue(3, 3, 298.15);
    s->SetComment(4, 2, std::nullopt);
    s->SetComment(7, 3, "result"s);
    EXPECT_FALSE(s->FormulaWithoutValue(3, 3));
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
    ExpectPieces(after["xl/drawings/commentsDrawing1.vml"],
                 {"!<ns2:Row>3</ns2:Row>", "<x:Row>6</x:Row><x:Column>2</x:Column>",
                  "xmlns:x=\"urn:schemas-microsoft-com:office:excel\""});

    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Comment(7, 3), "result");
    EXPECT_FALSE(again->Worksheets(1)->Comment(4, 2));
}

struct FailedSave : ::testing::TestWithParam<SaveStep> {};

TEST_P(FailedSave, LeavesTheOldFileWhole) {
    TempDir dir;
    std::string path = MakeBook(dir, "data.xlsx", 1.0), old = test::ReadBytes(path), error;
    size_t files = dir.Count();

    auto book = LoadOk(path);
    book->Worksheets(1)->SetValue(1, 1, 42.0);
    book->SetSaveFault([](SaveStep step) { return step != GetParam(); });
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(error, "Cannot save data.xlsx: interrupted");
    EXPECT_EQ(test::ReadBytes(path), old);
    EXPECT_EQ(dir.Count(), files); // no temporary file left behind
    EXPECT_TRUE(book->Dirty());

    // The write is still pending and goes through on the next save.
    book->SetSaveFault({});
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_FALSE(book->Dirty());
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 1), CellValue(42.0));
    EXPECT_EQ(dir.Count(), files);
}

INSTANTIATE_TEST_SUITE_P(Steps, FailedSave,
                         ::testing::Values(SaveStep::TempWritten, SaveStep::BeforeRename));

// A read-only file stays as it is; a save keeps the file's mode and owner and sweeps what a
// killed save of the same file left (unless a save is under way in the folder); another
// program's save while the program writes its own is kept.
TEST(XlsxSave, ReadOnlyFileOwnerLeftoversOfAKilledSaveAndASaveMeanwhile) {
    TempDir dir;
    std::string path = MakeBook(dir, "data.xlsx", 1.0), old = test::ReadBytes(path), error;
    auto book = LoadOk(path);
    book->Worksheets(1)->SetValue(1, 1, 2.0);
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(error, "Cannot save data.xlsx: the file is read-only");
    EXPECT_TRUE(test::ReadBytes(path) == old);

    std::filesystem::permissions(path, std::filesystem::perms(0644));
    const bool chowned = ::chown(path.c_str(), 4242, 4243) == 0; // where the system lets us
    const std::string leftovers[] = {".data.xlsx.a1B2c3", ".data.xlsx.a1B2c3.Zz9yY8",
                                     ".data.xlsx.a1B2", ".other.xlsx.a1B2c3", "data.xlsx.a1B2c3"};
    for (const auto& name : leftovers) test::WriteBytes(dir.Path(name), "PK");
    const int folder = ::open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY);
    ::flock(folder, LOCK_SH); // another save under way
    ASSERT_TRUE(book->Save(error)) << error;
    ::close(folder);
    EXPECT_EQ(dir.Count(), 6u);
    book->Worksheets(1)->SetValue(1, 1, 3.0);
    ASSERT_TRUE(book->Save(error)) << error;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::filesystem::exists(dir.Path(leftovers[i])), i >= 2) << leftovers[i];
    struct stat st {};
    EXPECT_TRUE(!chowned ||
                (::stat(path.c_str(), &st) == 0 && st.st_uid == 4242 && st.st_gid == 4243));

    book->Worksheets(1)->SetValue(1, 1, 4.0);
    book->SetSaveFault([&](SaveStep step) {
        if (step == SaveStep::BeforeRename) MakeBook(dir, "data.xlsx", 99.0);
        return true;
    });
    EXPECT_FALSE(book->Save(error));
    EXPECT_EQ(error.rfind("Cannot save data.xlsx: the file was changed by another program", 0), 0u)
        << error;
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 1), CellValue(99.0));
    EXPECT_EQ(dir.Count(), 4u);
}

TEST(XlsxSave, ThroughALinkTheLinkedFileIsWrittenAndAnUnwritableFolderIsReported) {
    TempDir dir;
    std::string real = MakeBook(dir, "real.xlsx", 1.0), link = dir.Path("link.xlsx"), error;
    std::filesystem::create_symlink(real, link);
    auto book = LoadOk(link);
    book->Worksheets(1)->SetValue(1, 1, 2.0);
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(LoadOk(real)->Worksheets(1)->Value(1, 1), CellValue(2.0));
    EXPECT_FALSE(book->ChangedOnDisk());
    EXPECT_FALSE(WriteNewXlsx("/nonexistent-folder/x.xlsx", {{"S", {{1.0}}, {}}}, error));
    EXPECT_EQ(error.rfind("Cannot save x.xlsx: cannot create a temporary file", 0), 0u) << error;
}

TEST(EmbeddedHost, OpensEachFileOnceSavesWatchesAndReloads) {
    TempDir dir;
    EmbeddedHost host;
    std::string a = MakeBook(dir, "a.xlsx", 1), b = MakeBook(dir, "b.xlsx", 2), error, message;
    Workbook *wa = host.Open(a, error), *wb = host.Open(b, error);
    ASSERT_TRUE(wa && wb);
    wa->Worksheets(1)->SetValue(2, 1, 10.0);
    // The same file by another spelling is the open workbook, with its unsaved state.
    std::filesystem::create_directory(dir.Path("sub"));
    EXPECT_EQ(host.Open(dir.dir + "/./sub/../a.xlsx", error), wa);
    EXPECT_EQ(host.WorkbookCount(), 2);
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

    // As the reader does: watch, events off while it reads, on after a good read. Then the
    // file on disk goes, comes back, is rewritten, reshaped and damaged.
    std::string path = MakeBook(dir, "data.xlsx", 1), other = dir.Path("other.xlsx");
    Workbook* book = host.Open(path, error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->ActiveSheet();
    SheetWatcher watcher;
    watcher.SetSheet(sheet);
    watcher.SetEvents(false);
    sheet->SetValue(1, 3, "by the reader"s);
    watcher.SetEvents(true);
    // A deleted file is no change; the program's save puts it back, and is no change.
    std::filesystem::remove(path);
    ASSERT_TRUE(book->Save(error)) << error;
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(1, 3), CellValue("by the reader"s));
    EXPECT_FALSE(watcher.Changed);
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);

    // Rewritten in place (same inode, new size and time), the sheet renamed and one added:
    // the refresh reloads, and the sheet object the program holds stays valid and watched.
    watcher.SetEvents(false);
    sheet->SetValue(2, 2, 5.0); // an unsaved write of the program's
    watcher.SetEvents(true);
    ASSERT_TRUE(
        WriteNewXlsx(other, {{"Renamed", {{7.0, "edited"s}}, {}}, {"New", {{1.0}}, {}}}, error));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << test::ReadBytes(other) << std::string(10, '\0');
    EXPECT_TRUE(book->ChangedOnDisk() && watcher.Changed);
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(book->ActiveSheet(), sheet);
    EXPECT_EQ(sheet->Name(), "Renamed");
    EXPECT_EQ(sheet->Block(1, 1, 2, 2),
              (std::vector<std::vector<CellValue>>{{7.0, "edited"s}, {{}, {}}}));
    EXPECT_FALSE(book->Dirty());
    watcher.Changed = false;
    sheet->SetValue(3, 3, 1.0); // the user's
    EXPECT_TRUE(watcher.Changed);

    // The renamed sheet goes: the other is active, the gone one a valid, empty object.
    Worksheet* added = book->Worksheets(2);
    ASSERT_TRUE(WriteNewXlsx(path, {{"New", {{4.0}}, {}}}, error));
    ASSERT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_TRUE(book->WorksheetCount() == 1 && book->ActiveSheet() == added);
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
    // A watched sheet that is gone with its workbook is no longer called, not even by the
    // watcher's own end.
    SheetWatcher gone;
    {
        GridSheet sheet(nullptr, "Data");
        gone.SetSheet(&sheet);
        gone.SetEvents(true);
    }
    EXPECT_EQ(gone.Sheet(), nullptr);
    gone.SetEvents(false);
    EXPECT_FALSE(gone.ChangedOnDisk());
}

/// Texts that XML, whitespace handling and the escapes of the format must survive.
const std::vector<std::string>
    kTexts({" \xC2\xB1", "  leading and trailing  ", "<tag> & \"quotes\" 'apos'", "two\nlines",
            "tab\there", "carriage\r\nreturn", "ctrl\x01\x1F", "_x0041_ stays literal",
            "Fe\xC2\xB3\xE2\x81\xBA \xE6\x97\xA5\xE6\x9C\xAC", "1.5", "=SUM(A1:A2)"});

/// A random cell: numbers over many decades, the texts above, booleans, empty.
CellValue RandomValue(std::mt19937& rng) {
    const int k = int(rng() % 10);
    if (k < 5)
        return std::uniform_real_distribution<double>(-1e6, 1e6)(rng) * std::pow(10.0, k - 2);
    if (k == 5) return kTexts[rng() % std::size(kTexts)];
    if (k == 7) return bool(rng() & 1);
    if (k == 8)
        return std::vector<double>{1e-300, 1.7976931348623157e308, 0.1 + 0.2, -0.0,
                                   123456789012345678.0}[rng() % 5];
    return CellValue{};
}

TEST(XlsxRoundTrip, NewFileThenEditsSurviveSaveAndReload) {
    // A data set's size: 400 wavelengths by 60 columns, and comments, on two sheets.
    std::mt19937 rng(20240501);
    std::vector<std::vector<CellValue>> grid(400, std::vector<CellValue>(60));
    for (auto& r : grid)
        for (auto& v : r) v = RandomValue(rng);
    std::map<std::pair<int, int>, std::string> comments = {{{1, 1}, "fixed"},
                                                           {{30, 40}, " two\nlines "}};
    NewSheet data{"Grid", grid, {{1, 1, "fixed"}, {30, 40, " two\nlines "}}};
    TempDir dir;
    std::string path = dir.Path("grid.xlsx"), error;
    ASSERT_TRUE(WriteNewXlsx(path, {data, {"Second & <more>", {{42.0}}, {}}}, error)) << error;
    auto book = LoadOk(path);
    EXPECT_EQ(book->Worksheets(2)->Name(), "Second & <more>");
    Worksheet* s = book->Worksheets(1);
    EXPECT_EQ(s->Block(1, 1, 400, 60), grid);
    auto commentsOf = [](Worksheet* sheet) {
        std::map<std::pair<int, int>, std::string> found;
        for (int r = 1; r <= 420; ++r)
            for (int c = 1; c <= 70; ++c)
                if (auto text = sheet->Comment(r, c)) found[{r, c}] = *text;
        return found;
    };
    EXPECT_EQ(commentsOf(s), comments);

    // Overwrite a random scatter of cells and comments through the model, save, read again.
    s->SetEvents(false);
    for (int i = 0; i < 500; ++i) {
        const int r = 1 + int(rng() % 420), c = 1 + int(rng() % 70);
        s->SetValue(r, c, RandomValue(rng));
        if (i % 20 == 0) s->SetComment(r, c, comments[{r, c}] = kTexts[rng() % std::size(kTexts)]);
        if (i % 50 == 0) {
            s->SetComment(comments.begin()->first.first, comments.begin()->first.second, {});
            comments.erase(comments.begin());
        }
    }
    ASSERT_TRUE(book->Save(error)) << error;
    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Block(1, 1, 420, 70), s->Block(1, 1, 420, 70));
    EXPECT_EQ(commentsOf(again->Worksheets(1)), comments);

    // Spreadsheet programs want rows, and cells within a row, in ascending order.
    const std::string xml = test::Parts(path)["xl/worksheets/sheet1.xml"];
    int last = 0, row = 0, col = 0; // row * 100 + column
    for (size_t at = xml.find("<c r=\""); at != std::string::npos;
         at = xml.find("<c r=\"", at + 1)) {
        ASSERT_TRUE(ParseCellRef(xml.substr(at + 6, xml.find('"', at + 6) - at - 6), row, col));
        EXPECT_GT(row * 100 + col, last);
        last = row * 100 + col;
    }
}

/// Converts a file with LibreOffice ("csv" gives the first sheet); the result, or
/// nothing without LibreOffice.
std::optional<std::string> LibreOfficeConvert(const TempDir& dir, const std::string& file,
                                              const std::string& format) {
    if (std::system("command -v soffice >/dev/null 2>&1") != 0) return std::nullopt;
    std::string filter = format == "csv" ? "csv:Text - txt - csv (StarCalc):44,34,76" : format;
    std::string cmd = "cd '" + dir.dir + "' && HOME='" + dir.dir +
                      "' timeout 180 soffice --headless --convert-to '" + filter + "' '" + file +
                      "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return std::string("conversion failed");
    return test::ReadBytes(dir.Path(file.substr(0, file.rfind('.')) + "." + format));
}

/// The horizontal alignment of the cell format that a saved cell of the first sheet
/// points to ("" when it has none).
std::string SavedAlignment(const std::string& path, const std::string& ref) {
    auto parts = test::Parts(path);
    const std::string& sheet = parts["xl/worksheets/sheet1.xml"];
    const size_t cell = sheet.find("<c r=\"" + ref + "\"");
    const size_t s = sheet.find(" s=\"", cell);
    if (cell == std::string::npos || s == std::string::npos || s > sheet.find('>', cell)) return "";
    int index = std::stoi(sheet.substr(s + 4));
    const std::string& styles = parts["xl/styles.xml"];
    size_t at = styles.find("<xf ", styles.find("<cellXfs"));
    for (; index > 0 && at != std::string::npos; --index) at = styles.find("<xf ", at + 1);
    const size_t end = std::min(styles.find("<xf ", at + 1), styles.find("</cellXfs>", at));
    const size_t h = styles.find("horizontal=\"", at);
    if (at == std::string::npos || h == std::string::npos || h > end) return "";
    return styles.substr(h + 12, styles.find('"', h + 12) - h - 12);
}

// LibreOffice opens what the program wrote, and its own file after the program wrote into
// it, and sees the comments as the program left them.
TEST(XlsxRoundTrip, LibreOfficeOpensWhatTheProgramWrote) {
    TempDir dir;
    std::string path = dir.Path("made.xlsx"), error;
    const std::vector<std::vector<CellValue>> rows = {
        {"Species:"s, 2.0, " \xC2\xB1"s}, {CellValue{}, 0.125, true}, {"a,b"s, -3e-5}};
    ASSERT_TRUE(WriteNewXlsx(path, {{"Data", rows, {{1, 1, "note"}}}}, error)) << error;
    std::filesystem::copy_file(test::Fixture("libreoffice-fixture.xlsx"), dir.Path("lo.xlsx"));
    { // Then write into both, as a command does.
        auto made = LoadOk(path), own = LoadOk(dir.Path("lo.xlsx"));
        Worksheet* s = made->Worksheets(1);
        s->SetValue(2, 4, "written"s);
        s->SetHorizontalAlignment(2, 4, 2, 4, kAlignCenter);
        s->ClearContents(3, 2, 3, 2);
        s = own->Worksheets(1);
        s->SetValue(1, 2, 43.0);
        s->SetValue(3, 1, "new row"s);
        s->SetComment(3, 1, "comment on a sheet without comments"s);
        own->Worksheets(2)->SetComment(4, 2, std::nullopt);
        own->Worksheets(2)->SetComment(2, 2, "added"s);
        ASSERT_TRUE(made->Save(error) && own->Save(error)) << error;
    }
    EXPECT_EQ(SavedAlignment(path, "D2"), "center");
    const auto csv = LibreOfficeConvert(dir, "made.xlsx", "csv");
    if (!csv) GTEST_SKIP() << "LibreOffice is not installed";
    EXPECT_EQ(*csv, "Species:,2, \xC2\xB1,\n,0.125,TRUE,written\n\"a,b\",,,\n");
    EXPECT_EQ(LibreOfficeConvert(dir, "lo.xlsx", "csv"), "Notes,43\nkept as it is,\nnew row,\n");
    const std::string flat = LibreOfficeConvert(dir, "lo.xlsx", "fods").value_or("");
    EXPECT_NE(flat.find("comment on a sheet without comments</text:p>"), std::string::npos);
    EXPECT_NE(flat.find(">added</text:p>"), std::string::npos);
    EXPECT_EQ(flat.find(">fixed</text:p>"), std::string::npos);
}

std::string Sheet(const std::string& data) {
    return "<worksheet xmlns=\"" + kMain + "\"><sheetData>" + data + "</sheetData></worksheet>";
}

/// A sheet whose only cell, A1, holds v (with the attributes at).
std::string A1(const std::string& v, const std::string& at = "") {
    return Sheet("<row r=\"1\"><c r=\"A1\"" + at + "><v>" + v + "</v></c></row>");
}

TEST(XlsxDamage, EveryRefusalNamesItsReason) {
    TempDir dir;
    // The Excel-like package with one part replaced ("-": removed), or ("") a whole file,
    // or no file at all.
    const std::string s1 = "xl/worksheets/sheet1.xml", wb = "xl/workbook.xml";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"no file", "", "Cannot open"},
        {"-xl/workbook.xml", "", "no workbook part"},
        {"", "", "Not an .xlsx workbook"},
        {"-xl/worksheets/sheet2.xml", "", "missing part xl/worksheets/sheet2.xml"},
        {s1, "<worksheet><sheetData><row>", s1},
        {s1, Sheet("<row r=\"0\"/>"), "invalid row number \"0\""},
        {s1, Sheet("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>"), "invalid cell reference \"A0\""},
        {s1, Sheet("<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>"),
         "too many columns"},
        {s1, A1("1.2.3"), "invalid number \"1.2.3\""},
        {s1, A1("NaN"), "invalid number"},
        {s1, A1("1e999"), "invalid number"},
        {s1, A1("1", " t=\"zz\""), "unknown cell type"},
        {s1, A1("99", " t=\"s\""), "invalid shared string index \"99\""},
        {s1, Sheet("<row r=\"3\"/><row r=\"2\"/>"), "row 2 out of order"},
        {s1, Sheet("<row r=\"2\"/><row r=\"2\"/>"), "row 2 out of order"},
        {s1, Sheet("<row r=\"9\"><c r=\"B4\"><v>1</v></c></row>"), "cell B4 out of place in row 9"},
        {"xl/sharedStrings.xml", "<sst><si><t>a</si></sst>", "sharedStrings"},
        {wb, "<workbook xmlns=\"" + kMain + "\"/>", "no sheets"},
        {wb, "<html/>", "no workbook element"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>",
         "has no part"}};
    for (const auto& [part, text, message] : cases) {
        const std::string path = dir.Path(part == "no file" ? "missing.xlsx" : "bad.xlsx");
        auto parts = test::ExcelLikeParts();
        part[0] == '-' ? void(parts.erase(part.substr(1))) : void(parts[part] = text);
        if (part.empty())
            test::WriteBytes(path, text);
        else if (part != "no file")
            test::WritePackage(path, parts);
        std::string error;
        EXPECT_FALSE(GridWorkbook::Load(path, error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << message << ": " << error;
    }
}

TEST(XlsxDamage, DamagedBytesNeverCrashAndWhatLoadsSavesAgain) {
    TempDir dir;
    std::string error;
    std::vector<std::vector<CellValue>> rows;
    for (int r = 0; r < 30; ++r) rows.push_back({double(r), "row " + std::to_string(r), true});
    ASSERT_TRUE(WriteNewXlsx(dir.Path("valid.xlsx"), {{"Data", rows, {{2, 2, "note"}}}}, error));
    const std::string bytes = test::ReadBytes(dir.Path("valid.xlsx"));
    int files = 0;
    // Writes the bytes to a new file (rewriting one makes the file system flush it) and
    // loads it; what loads is written into, saved and loaded again. True when it loaded.
    auto check = [&](const std::string& content, bool mustRefuse) {
        const std::string path = dir.Path("f" + std::to_string(++files) + ".xlsx");
        test::WriteBytes(path, content);
        auto book = GridWorkbook::Load(path, error);
        EXPECT_TRUE(book ? !mustRefuse : !error.empty()) << path;
        Worksheet* s = book ? book->Worksheets(1) : nullptr;
        if (!s) return bool(book);
        s->ClearContents(1, 1, 4, 5);
        s->SetValue(9, 2, 2.0);
        s->SetHorizontalAlignment(9, 2, 9, 2, kAlignCenter);
        s->SetComment(9, 2, "c"s);
        if (!book->Save(error)) return true;
        const auto again = LoadOk(path);
        const Worksheet* w = again->Worksheets(1);
        EXPECT_TRUE(w->Comment(9, 2) == "c" && w->Value(9, 2) == CellValue(2.0)) << path;
        return true;
    };

    for (size_t n = 0; n < bytes.size(); n += 1 + n / 50) check(bytes.substr(0, n), true);
    // Sheets with other digits (positions out of order, repeated, off the grid) and
    // cells dropped or repeated: many of them load.
    const std::string sheet = test::ExcelLikeParts()["xl/worksheets/sheet1.xml"];
    std::mt19937 rng(4242);
    int loaded = 0;
    for (int i = 0; i < 200; ++i) {
        std::string text = sheet;
        for (int k = 0; k < 3; ++k) {
            const size_t at = rng() % text.size(), d = text.find_first_of("0123456789", at);
            const size_t from = text.find("<c ", at), to = text.find("</c>", from);
            if (rng() % 2 && d != std::string::npos)
                text[d] = char('0' + rng() % 10);
            else if (to != std::string::npos) // the cell dropped or repeated
                rng() % 2 ? void(text.erase(from, to + 4 - from))
                          : void(text.insert(from, text.substr(from, to + 4 - from)));
        }
        auto parts = test::ExcelLikeParts();
        parts["xl/worksheets/sheet1.xml"] = text;
        test::WritePackage(dir.Path("odd.xlsx"), parts);
        loaded += check(test::ReadBytes(dir.Path("odd.xlsx")), false);
    }
    EXPECT_GT(loaded, 50);
}

// Forged zip entries, refused when the file is opened, before a long run ends in a failed
// save: sizes that claim GB (a zip bomb), a bad checksum in a part that is never read, a
// part twice (one read, the other saved). And more cells than the limit.
TEST(XlsxDamage, ForgedEntriesAndTooManyCellsAreRefusedOnOpening) {
    TempDir dir;
    auto parts = test::ExcelLikeParts();
    const std::string s1 = "xl/worksheets/sheet1.xml", twin = "xl/worksheets/sheet1.xmk",
                      styles = "xl/styles.xml";
    parts[twin] = A1("99"); // renamed below into a second sheet1.xml
    test::WritePackage(dir.Path("valid.xlsx"), parts);
    const std::string valid = test::ReadBytes(dir.Path("valid.xlsx")),
                      large = "too large: ", damaged = "Damaged or unreadable workbook: ";
    // Fields of an entry: in its central header (name at 46) and its local one (name at 30).
    const std::pair size{24, 22}, crc{16, 14}, name{46, 30};
    const std::tuple<std::vector<std::string>, std::pair<int, int>, std::string, std::string>
        cases[] = {{{s1}, size, "\0\0\0\xF0"s, large + "it unpacks to more than 512 MB"},
                   {{styles, "xl/workbook.xml", s1}, size, "\0\0\0\x0C"s, large + "it unpacks"},
                   {{styles}, crc, "\0\0\0\0"s, damaged + styles + ": CRC error"},
                   {{twin}, name, s1, damaged + "two parts named " + s1}};
    for (const auto& [names, field, value, message] : cases) {
        std::string bytes = valid, error;
        for (const std::string& part : names) {
            for (auto [sig, nameAt, at] :
                 {std::tuple{"PK\x01\x02", 46, field.first}, {"PK\x03\x04", 30, field.second}}) {
                size_t pos = bytes.find(sig);
                while (pos != std::string::npos && bytes.compare(pos + nameAt, part.size(), part))
                    pos = bytes.find(sig, pos + 4);
                ASSERT_NE(pos, std::string::npos) << part;
                bytes.replace(pos + at, value.size(), value);
            }
        }
        test::WriteBytes(dir.Path("forged.xlsx"), bytes);
        EXPECT_FALSE(GridWorkbook::Load(dir.Path("forged.xlsx"), error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << message << ": " << error;
    }
    XlsxBook book;
    std::string error;
    // 13 cells on the first sheet, 4 (prefixed) on the second.
    EXPECT_FALSE(ReadXlsx(valid, book, error, {.cells = 16}));
    EXPECT_EQ(error, "Workbook too large: more than 16 cells");
    EXPECT_TRUE(ReadXlsx(valid, book, error, {.cells = 17})) << error;
}

// Positions off the grid, NaN, infinity and over-long texts never reach a cell.
TEST(GridSheet, BadAccessRaisesTheSpreadsheetsError) {
    GridWorkbook book{"/nonexistent/book.xlsx"};
    GridSheet* sheet = book.AddSheet("Data");
    for (auto [r, c] : {std::pair{0, 1}, {1, 0}, {-1, 5}, {kMaxRows + 1, 1}, {1, kMaxCols + 1}}) {
        EXPECT_THROW(sheet->Value(r, c), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->SetValue(r, c, 1.0), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->ClearContents(1, 1, r, c), RuntimeError);
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(kMaxRows, kMaxCols)));
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL})
        EXPECT_EQ(test::ErrorOf([&] { sheet->SetValue(1, 1, bad); }), kOverflow) << bad;
    EXPECT_THROW(sheet->SetValue(1, 1, std::string(40000, 'x')), RuntimeError);
    sheet->SetValue(2, 2, "x"s);
    sheet->SetValue(2, 2, std::string()); // an empty text empties the cell
    EXPECT_EQ(sheet->CellCount(), 0u);
}

} // namespace
} // namespace lumora
