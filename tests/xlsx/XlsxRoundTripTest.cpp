// Values and comments through real files: written by the program and read back,
// written by the program and read by LibreOffice, written by LibreOffice, changed by
// the program and read by LibreOffice.

#include "WorkbookFiles.h"

#include "sheet/CellRef.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

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
const std::string kTexts[] = {" \xC2\xB1",
                              "  leading and trailing  ",
                              "<tag> & \"quotes\" 'apos'",
                              "two\nlines",
                              "tab\there",
                              "carriage\r\nreturn",
                              std::string("ctrl\x01\x1F", 6),
                              "_x0041_ stays literal",
                              "Fe\xC2\xB3\xE2\x81\xBA \xE6\x97\xA5\xE6\x9C\xAC",
                              "1.5",
                              "=SUM(A1:A2)"};

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
    std::map<std::pair<int, int>, std::string> comments = {
        {{1, 1}, "fixed"}, {{2, 3}, " two\nlines "}, {{30, 40}, "far away"}};
    NewSheet data{"Grid", grid, {}};
    for (const auto& [at, text] : comments) data.comments.push_back({at.first, at.second, text});
    TempDir dir;
    std::string path = dir.Path("grid.xlsx"), error;
    ASSERT_TRUE(
        WriteNewXlsx(path, {data, {"Second & <more>", {{std::string("x"), 42.0}}, {}}}, error))
        << error;
    auto book = LoadOk(path);
    ASSERT_TRUE(book);
    ASSERT_EQ(book->WorksheetCount(), 2);
    EXPECT_EQ(book->ActiveSheet(), book->Worksheets(1));
    EXPECT_EQ(book->Worksheets(2)->Name(), "Second & <more>");
    EXPECT_EQ(book->Worksheets(2)->Value(1, 2), CellValue(42.0));
    EXPECT_FALSE(book->Dirty());
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
    int lastRow = 0;
    for (auto row : doc.document_element().child("sheetData").children("row")) {
        const int r = row.attribute("r").as_int();
        EXPECT_GT(r, lastRow);
        lastRow = r;
        int lastCol = 0;
        for (auto c : row.children("c")) {
            int cr = 0, cc = 0;
            ASSERT_TRUE(ParseCellRef(c.attribute("r").value(), cr, cc));
            EXPECT_EQ(cr, r);
            EXPECT_GT(cc, lastCol);
            lastCol = cc;
        }
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
    ASSERT_TRUE(WriteNewXlsx(path,
                             {{"Data",
                               {{std::string("Species:"), 2.0, std::string(" \xC2\xB1")},
                                {CellValue{}, 0.125, true},
                                {std::string("a,b"), -3e-5}},
                               {{1, 1, "note"}}}},
                             error))
        << error;
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
    auto book = LoadOk(path);
    EXPECT_EQ(book->Worksheets(1)->Comment(3, 1), "comment on a sheet without comments");
    EXPECT_EQ(book->Worksheets(2)->Comment(2, 2), "added");
    EXPECT_FALSE(book->Worksheets(2)->Comment(4, 2));
    EXPECT_EQ(book->Worksheets(2)->Comment(5, 2), "two\nlines");
}

} // namespace
} // namespace lumora
