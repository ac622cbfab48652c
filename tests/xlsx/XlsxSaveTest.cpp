// Saving in place: only the written cells change, every other part keeps its
// bytes, and a save that fails half-way leaves the old file whole.

#include "WorkbookFiles.h"

#include "xlsx/FormulaShift.h"
#include "xlsx/GridSheet.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxPatch.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
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

struct LibreOfficeFile : ::testing::Test {
    TempDir dir;
    std::string path = dir.Path("fixture.xlsx");
    std::map<std::string, std::string> before;
    void SetUp() override {
        std::filesystem::copy_file(test::Fixture("libreoffice-fixture.xlsx"), path);
        before = test::Parts(path);
    }
};

TEST_F(LibreOfficeFile, ReadsItThenOnlyWrittenCellsChangeAndTheFileKeepsItsMode) {
    ::chmod(path.c_str(), 0640);
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    // What LibreOffice wrote, as it wrote it.
    ASSERT_EQ(book->WorksheetCount(), 2);
    EXPECT_EQ(book->Worksheets(1)->Name(), "Other");
    EXPECT_EQ(book->Worksheets(1)->Value(1, 2), CellValue(42.0));
    Worksheet* s = book->Worksheets(2);
    EXPECT_EQ(s->Name(), "Data");
    EXPECT_EQ(s->Value(1, 1), CellValue(std::string("Lumora fixture")));
    EXPECT_EQ(s->Value(2, 1), CellValue(std::string("T, C:")));
    EXPECT_EQ(s->Value(2, 2), CellValue(25.5));
    EXPECT_EQ(s->Value(2, 4), CellValue(51.0));                     // formula result
    EXPECT_EQ(s->Value(3, 4), CellValue(std::string("xFlags")));    // text formula result
    EXPECT_EQ(s->Value(3, 3), CellValue(45352.0));                  // 2024-03-01 as a serial
    EXPECT_EQ(s->Value(4, 1), CellValue(std::string(" \xC2\xB1"))); // leading blank kept
    EXPECT_EQ(s->Value(4, 2), CellValue(0.001234));
    EXPECT_TRUE(IsEmpty(s->Value(4, 3))); // styled, empty
    EXPECT_EQ(s->Value(4, 4), CellValue(-1.5e20));
    EXPECT_EQ(s->Value(5, 1), CellValue(std::string("rich text cell")));
    EXPECT_EQ(s->Comment(4, 2), "fixed");
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
    EXPECT_EQ(t->Value(2, 2), CellValue(30.0));
    EXPECT_EQ(t->Value(2, 3), CellValue(std::string("text <&>")));
    EXPECT_EQ(t->Value(7, 6), CellValue(std::string(" \xC2\xB1")));
    EXPECT_EQ(t->Value(1, 3), CellValue(true));
    EXPECT_TRUE(IsEmpty(t->Value(4, 4)));
    EXPECT_TRUE(IsEmpty(t->Value(4, 2)));
    EXPECT_EQ(t->Comment(4, 2), "fixed"); // Clear keeps the user's comment
    EXPECT_EQ(t->Value(2, 4), CellValue(51.0));
}

TEST(XlsxSave, ExcelLikeFileReadThenFormulasChainAndForeignParts) {
    TempDir dir;
    std::string path = dir.Path("excel.xlsx"), error;
    test::WritePackage(path, test::ExcelLikeParts());
    auto before = test::Parts(path);
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    ASSERT_EQ(book->WorksheetCount(), 2);
    EXPECT_EQ(book->ActiveSheet()->Name(), "Spectra"); // activeTab="1"
    Worksheet* s = book->Worksheets(1);
    const std::tuple<int, int, CellValue> cells[] = {
        {1, 1, std::string("Title")},
        {1, 2, std::string("inline")},
        {1, 3, 1.25},
        {1, 4, true},
        {1, 5, std::string("#DIV/0!")},
        {2, 1, 2.5},
        {2, 2, 7.0}, // a cell without a position follows A2
        {2, 3, CellValue{}},
        {2, 4, std::string("Bold and plain")}, // runs, no phonetics
        {3, 2, std::string("ab")},             // a row without r is 3
        {4, 2, std::string("Line\rbreak")}};
    for (const auto& [r, c, v] : cells) EXPECT_EQ(s->Value(r, c), v) << r << "," << c;
    EXPECT_EQ(s->Comment(1, 3), "Excel User:\nfixed");
    EXPECT_EQ(book->Worksheets(2)->Value(1, 3), CellValue(std::string("in v")));

    s->SetValue(2, 1, 99.0);                    // master of a shared formula
    s->SetValue(3, 3, std::string("in row 3")); // a row without positions
    s->SetComment(4, 1, std::string("new note"));
    Worksheet* p = book->Worksheets(2);
    p->SetValue(2, 2, 0.75);        // prefixed elements
    p->SetValue(3, 3, 302.0);       // after the last cell of a row
    s->SetValue(1, 6, 6.0);         // after E1
    s->SetValue(4, 1, CellValue{}); // a formula cell cleared
    ASSERT_TRUE(book->Save(error)) << error;

    auto after = test::Parts(path);
    // The drawing is not XML: it stays as it was; the comment still goes in.
    for (const char* part : {"customXml/item1.xml", "xl/styles.xml", "xl/sharedStrings.xml",
                             "xl/drawings/vmlDrawing1.vml"})
        EXPECT_EQ(after[part], before[part]) << part;
    ExpectPieces(after["xl/comments1.xml"],
                 {"<comment ref=\"A4\" authorId=\"1\">", "<author>Lumora</author>"});
    // The calculation chain named the overwritten formula: it goes, with its links.
    EXPECT_FALSE(after.count("xl/calcChain.xml"));
    ExpectPieces(after["xl/_rels/workbook.xml.rels"] + after["[Content_Types].xml"],
                 {"!calcChain"});
    ExpectPieces(after["xl/workbook.xml"], {"<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>"});
    // The next cell of the shared formula takes it over, moved by one row.
    ExpectPieces(after["xl/worksheets/sheet1.xml"],
                 {"<c r=\"A2\"><v>99</v></c>",
                  "<c r=\"A3\"><f t=\"shared\" si=\"0\" ref=\"A2:A4\">C2*2</f>",
                  "<row r=\"4\"><c r=\"B4\" t=\"s\"><v>2</v></c></row>",
                  "<c r=\"E1\" t=\"e\"><v>#DIV/0!</v></c><c r=\"F1\"><v>6</v></c></row>",
                  "<row r=\"3\"><c r=\"A3\">",
                  "<c r=\"C3\" t=\"inlineStr\"><is><t>in row 3</t></is></c></row>"});
    ExpectPieces(after["xl/worksheets/sheet2.xml"],
                 {"</x:row><x:row r=\"2\"><x:c r=\"B2\"><x:v>0.75</x:v></x:c></x:row><x:row "
                  "r=\"3\">"});

    auto again = LoadOk(path);
    EXPECT_EQ(again->Worksheets(1)->Value(2, 1), CellValue(99.0));
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
    EXPECT_EQ(s->Value(1, 1), CellValue(std::string("openpyxl fixture")));
    EXPECT_EQ(s->Value(3, 2), CellValue(25.0));
    EXPECT_TRUE(IsEmpty(s->Value(3, 3))); // a formula without a cached result
    EXPECT_EQ(s->Value(3, 4), CellValue(1e-7));
    EXPECT_EQ(s->Value(3, 5), CellValue(true));
    EXPECT_EQ(s->Value(1, 6), CellValue(std::string("merged")));
    EXPECT_EQ(s->Comment(4, 2), "fixed");
    EXPECT_EQ(book->Worksheets(2)->Value(1, 1), CellValue(std::string("second sheet")));

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

TEST(XlsxSave, FormulaShift) {
    struct Case {
        const char* in;
        int rows, cols;
        const char* out;
    };
    const Case cases[] = {
        {"C1*2", 1, 0, "C2*2"},
        {"A1+$B2+C$3+$D$4", 1, 1, "B2+$B3+D$3+$D$4"},
        {"SUM(A1:B2)", 2, 0, "SUM(A3:B4)"},
        {"LOG10(A1)", 1, 0, "LOG10(A2)"},
        {"Sheet2!A1&\"A1\"", 1, 0, "Sheet2!A2&\"A1\""},
        {"'My A1'!B1", 0, 1, "'My A1'!C1"},
        {"A1", -1, 0, "#REF!"},
        {"TRUE+name_1", 5, 5, "TRUE+name_1"},
        {"1.5E+3*A1", 1, 0, "1.5E+3*A2"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShiftFormula(c.in, c.rows, c.cols), c.out) << c.in;
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
                         ::testing::Values(SaveStep::TempWritten, SaveStep::BeforeRename),
                         [](const auto& info) {
                             return info.param == SaveStep::TempWritten ? "TempWritten"
                                                                        : "BeforeRename";
                         });

TEST(XlsxSave, RefusesToOverwriteAnotherProgramsVersion) {
    TempDir dir;
    std::string path = dir.Path("data.xlsx"), error;
    ASSERT_TRUE(WriteNewXlsx(path, {{"Data", {{1.0}}, {}}}, error)) << error;
    auto book = LoadOk(path);
    book->Worksheets(1)->SetValue(1, 2, 5.0);
    ASSERT_TRUE(WriteNewXlsx(path, {{"Data", {{std::string("user's version")}}, {}}}, error));
    std::string users = test::ReadBytes(path);
    EXPECT_FALSE(book->Save(error));
    EXPECT_TRUE(Contains(error, "Cannot save data.xlsx: the file was changed by another program"));
    EXPECT_EQ(test::ReadBytes(path), users);
}

TEST(XlsxSave, ThroughALinkTheLinkedFileIsWritten) {
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
}

TEST(XlsxSave, UnwritableFolderIsReported) {
    std::string error;
    EXPECT_FALSE(WriteNewXlsx("/nonexistent-folder/x.xlsx", {{"S", {{1.0}}, {}}}, error));
    EXPECT_TRUE(Contains(error, "Cannot save x.xlsx: cannot create a temporary file")) << error;
    EXPECT_FALSE(WriteNewXlsx("/tmp/none.xlsx", {}, error));
    EXPECT_TRUE(Contains(error, "at least one sheet")) << error;
}

} // namespace
} // namespace lumora
