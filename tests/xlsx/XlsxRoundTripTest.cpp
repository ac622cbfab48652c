// Values and comments through real files, written and read by the program and by
// LibreOffice. Files that are no workbook, damaged or odd ones: a message, never a crash,
// and what still loads saves again. Nor does a sheet take a cell no spreadsheet can hold.

#include "WorkbookFiles.h"
#include "base/RuntimeError.h"
#include "sheet/CellRef.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

namespace lumora {
namespace {

using test::TempDir;

std::unique_ptr<GridWorkbook> LoadOk(const std::string& path) {
    std::string error;
    auto book = GridWorkbook::Load(path, error);
    EXPECT_TRUE(book) << error;
    return book;
}

/// Texts that XML, whitespace handling and the escapes of the format must survive.
// clang-format off
const std::string kTexts[] = {" \xC2\xB1", "  leading and trailing  ", "<tag> & \"quotes\" 'apos'",
    "two\nlines", "tab\there", "carriage\r\nreturn", std::string("ctrl\x01\x1F", 6),
    "_x0041_ stays literal", "Fe\xC2\xB3\xE2\x81\xBA \xE6\x97\xA5\xE6\x9C\xAC", "1.5", "=SUM(A1:A2)"};
// clang-format on

/// A random cell: numbers over many decades, the texts above, booleans, empty.
CellValue RandomValue(std::mt19937& rng) {
    const int k = int(rng() % 10);
    if (k < 5)
        return std::uniform_real_distribution<double>(-1e6, 1e6)(rng) * std::pow(10.0, k - 2);
    if (k == 5) return kTexts[rng() % std::size(kTexts)];
    if (k == 6) return "t" + std::to_string(rng() % 1000);
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
    ASSERT_TRUE(book);
    EXPECT_EQ(book->Worksheets(2)->Name(), "Second & <more>");
    EXPECT_EQ(book->Worksheets(2)->Value(1, 1), CellValue(42.0));
    Worksheet* s = book->Worksheets(1);
    EXPECT_EQ(s->Block(1, 1, 400, 60), grid);
    auto expectComments = [&](Worksheet* sheet) {
        for (int r = 1; r <= 420; ++r)
            for (int c = 1; c <= 70; ++c) {
                auto at = comments.find({r, c});
                EXPECT_EQ(sheet->Comment(r, c),
                          at == comments.end() ? std::nullopt : std::optional(at->second))
                    << r << "," << c;
            }
    };
    expectComments(s);

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
    EXPECT_FALSE(book->Dirty());
    auto again = LoadOk(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Worksheets(1)->Block(1, 1, 420, 70), s->Block(1, 1, 420, 70));
    expectComments(again->Worksheets(1));

    // Spreadsheet programs want rows, and cells within a row, in ascending order.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(test::Parts(path)["xl/worksheets/sheet1.xml"].c_str()));
    int last = 0; // row * 100 + column
    for (auto row : doc.document_element().child("sheetData").children("row"))
        for (auto c : row.children("c")) {
            int cr = 0, cc = 0;
            ASSERT_TRUE(ParseCellRef(c.attribute("r").value(), cr, cc));
            EXPECT_EQ(cr, row.attribute("r").as_int());
            EXPECT_GT(cr * 100 + cc, last);
            last = cr * 100 + cc;
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

TEST(XlsxRoundTrip, LibreOfficeOpensWhatTheProgramWrites) {
    TempDir dir;
    std::string path = dir.Path("made.xlsx"), error;
    const std::vector<std::vector<CellValue>> rows = {
        {std::string("Species:"), 2.0, std::string(" \xC2\xB1")},
        {CellValue{}, 0.125, true},
        {std::string("a,b"), -3e-5}};
    ASSERT_TRUE(WriteNewXlsx(path, {{"Data", rows, {{1, 1, "note"}}}}, error)) << error;
    // Then write into it, as a command does.
    {
        auto book = LoadOk(path);
        Worksheet* s = book->Worksheets(1);
        s->SetValue(2, 4, std::string("written"));
        s->SetHorizontalAlignment(2, 4, 2, 4, kAlignCenter);
        s->ClearContents(3, 2, 3, 2);
        ASSERT_TRUE(book->Save(error)) << error;
    }
    auto csv = LibreOfficeConvert(dir, "made.xlsx", "csv");
    if (!csv) GTEST_SKIP() << "LibreOffice is not installed";
    EXPECT_EQ(*csv, "Species:,2, \xC2\xB1,\n,0.125,TRUE,written\n\"a,b\",,,\n");
}

TEST(XlsxRoundTrip, LibreOfficeOpensItsOwnFileAfterTheProgramWroteIntoIt) {
    TempDir dir;
    std::string path = dir.Path("lo.xlsx"), error;
    std::filesystem::copy_file(test::Fixture("libreoffice-fixture.xlsx"), path);
    {
        auto book = LoadOk(path);
        Worksheet* s = book->Worksheets(1);
        s->SetValue(1, 2, 43.0);
        s->SetValue(3, 1, std::string("new row"));
        s->SetComment(3, 1, std::string("comment on a sheet without comments"));
        book->Worksheets(2)->SetComment(4, 2, std::nullopt);
        book->Worksheets(2)->SetComment(2, 2, std::string("added"));
        ASSERT_TRUE(book->Save(error)) << error;
    }
    auto csv = LibreOfficeConvert(dir, "lo.xlsx", "csv");
    if (!csv) GTEST_SKIP() << "LibreOffice is not installed";
    EXPECT_EQ(*csv, "Notes,43\nkept as it is,\nnew row,\n");
    // LibreOffice sees the comments as the program left them.
    auto flat = LibreOfficeConvert(dir, "lo.xlsx", "fods");
    ASSERT_TRUE(flat);
    EXPECT_NE(flat->find("comment on a sheet without comments</text:p>"), std::string::npos);
    EXPECT_NE(flat->find(">added</text:p>"), std::string::npos);
    EXPECT_EQ(flat->find(">fixed</text:p>"), std::string::npos);
}

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

/// Loading must fail with a message that says what is wrong.
void ExpectRefused(const std::string& path, const std::string& expected) {
    std::string error;
    EXPECT_FALSE(GridWorkbook::Load(path, error)) << expected;
    EXPECT_NE(error.find(expected), std::string::npos) << expected << ": " << error;
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
    ExpectRefused(dir.Path("missing.xlsx"), "Cannot open");
    test::WritePackage(dir.Path("zip.xlsx"), {{"readme.txt", "hello"}});
    ExpectRefused(dir.Path("zip.xlsx"), "no workbook part");

    // The Excel-like package with one part replaced ("-": removed), or ("") a whole file.
    const std::string s1 = "xl/worksheets/sheet1.xml", wb = "xl/workbook.xml";
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"", "", "Not an .xlsx workbook"},
        {"-xl/worksheets/sheet2.xml", "", "missing part xl/worksheets/sheet2.xml"},
        {s1, "<worksheet><sheetData><row>", s1},
        {s1, Sheet("<row r=\"0\"/>"), "invalid row number \"0\""},
        {s1, Sheet("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>"), "invalid cell reference \"A0\""},
        {s1, Sheet("<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>"), "too many columns"},
        {s1, A1("1.2.3"), "invalid number \"1.2.3\""}, {s1, A1("NaN"), "invalid number"},
        {s1, A1("1e999"), "invalid number"}, {s1, A1("1", " t=\"zz\""), "unknown cell type"},
        {s1, A1("99", " t=\"s\""), "invalid shared string index \"99\""},
        {s1, Sheet("<row r=\"3\"/><row r=\"2\"/>"), "row 2 out of order"},
        {s1, Sheet("<row r=\"9\"><c r=\"B4\"><v>1</v></c></row>"), "cell B4 out of place in row 9"},
        {"xl/sharedStrings.xml", "<sst><si><t>a</si></sst>", "sharedStrings"},
        {wb, "<workbook xmlns=\"" + kMain + "\"/>", "no sheets"}, {wb, "<html/>", "no workbook element"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>",
         "has no part"}};
    // clang-format on
    for (const auto& [part, text, message] : cases) {
        const std::string path = dir.Path("bad.xlsx");
        auto parts = test::ExcelLikeParts();
        if (part.empty())
            test::WriteBytes(path, text);
        else if (part[0] == '-')
            parts.erase(part.substr(1));
        else
            parts[part] = text;
        if (!part.empty()) test::WritePackage(path, parts);
        ExpectRefused(path, message);
    }
}

TEST(XlsxDamage, DamagedBytesNeverCrashAndWhatLoadsSavesAgain) {
    TempDir dir;
    std::string bytes, error;
    {
        std::vector<std::vector<CellValue>> rows;
        for (int r = 0; r < 30; ++r) rows.push_back({double(r), "row " + std::to_string(r), true});
        ASSERT_TRUE(
            WriteNewXlsx(dir.Path("valid.xlsx"), {{"Data", rows, {{2, 2, "note"}}}}, error));
        bytes = test::ReadBytes(dir.Path("valid.xlsx"));
    }
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
        s->SetComment(9, 2, std::string("c"));
        if (!book->Save(error)) return true;
        auto again = LoadOk(path);
        EXPECT_EQ(again ? again->Worksheets(1)->Comment(9, 2) : "", "c") << path;
        EXPECT_EQ(again ? again->Worksheets(1)->Value(9, 2) : CellValue{}, CellValue(2.0)) << path;
        return true;
    };

    for (size_t n = 0; n < bytes.size(); n += 1 + n / 50) check(bytes.substr(0, n), true);
    std::mt19937 rng(4242);
    // Sheets with other digits (positions out of order, repeated, off the grid) and
    // cells dropped or repeated: many of them load.
    const std::string sheet = test::ExcelLikeParts()["xl/worksheets/sheet1.xml"];
    int loaded = 0;
    for (int i = 0; i < 200; ++i) {
        std::string text = sheet;
        for (int k = 0; k < 3; ++k) {
            const size_t at = rng() % text.size();
            if (rng() % 2) {
                const size_t d = text.find_first_of("0123456789", at);
                if (d != std::string::npos) text[d] = char('0' + rng() % 10);
                continue;
            }
            const size_t from = text.find("<c ", at), to = text.find("</c>", from);
            if (from == std::string::npos || to == std::string::npos) continue;
            const std::string cell = text.substr(from, to + 4 - from);
            rng() % 2 ? void(text.erase(from, cell.size())) : void(text.insert(from, cell));
        }
        auto parts = test::ExcelLikeParts();
        parts["xl/worksheets/sheet1.xml"] = text;
        test::WritePackage(dir.Path("odd.xlsx"), parts);
        loaded += check(test::ReadBytes(dir.Path("odd.xlsx")), false);
    }
    EXPECT_GT(loaded, 50);
}

TEST(XlsxDamage, ZipBombIsRefusedBeforeItIsUnpacked) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteNewXlsx(dir.Path("valid.xlsx"), {{"Data", {{1.0}}, {}}}, error)) << error;
    std::string bytes = test::ReadBytes(dir.Path("valid.xlsx"));
    // The sheet's entries, central (name at 46, size at 24) and local (30, 22), claim 4 GB.
    const std::string name = "xl/worksheets/sheet1.xml";
    for (auto [sig, nameAt, sizeAt] : {std::tuple{"PK\x01\x02", 46, 24}, {"PK\x03\x04", 30, 22}}) {
        size_t at = bytes.find(sig);
        while (at != std::string::npos && bytes.compare(at + nameAt, name.size(), name) != 0)
            at = bytes.find(sig, at + 4);
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at + sizeAt, 4, "\x00\x00\x00\xF0");
    }
    test::WriteBytes(dir.Path("bomb.xlsx"), bytes);
    // libzip may see the lie first; either way nothing is unpacked.
    EXPECT_FALSE(GridWorkbook::Load(dir.Path("bomb.xlsx"), error));
    EXPECT_TRUE(error.find("part too large") != std::string::npos ||
                error.find("inconsistent") != std::string::npos)
        << error;
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
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        try {
            sheet->SetValue(1, 1, bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), "Overflow");
        }
    }
    EXPECT_THROW(sheet->SetValue(1, 1, std::string(40000, 'x')), RuntimeError);
    sheet->SetValue(2, 2, std::string("x"));
    sheet->SetValue(2, 2, std::string()); // an empty text empties the cell
    EXPECT_EQ(sheet->CellCount(), 0u);
}

} // namespace
} // namespace lumora
