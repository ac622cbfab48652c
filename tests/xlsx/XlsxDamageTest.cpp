// Files that are no workbook, damaged or odd ones: a message, never a crash; and what
// still loads can be written into, saved and loaded again. Nor does a sheet take a cell
// that no spreadsheet can hold.

#include "WorkbookFiles.h"

#include "base/RuntimeError.h"
#include "sheet/CellRef.h"

#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace lumora {
namespace {

using test::TempDir;

/// Loading must fail with a message that says what is wrong.
void ExpectRefused(const std::string& path, const std::string& expected, const std::string& what) {
    std::string error;
    EXPECT_FALSE(GridWorkbook::Load(path, error)) << what;
    EXPECT_NE(error.find(expected), std::string::npos) << what << ": " << error;
    EXPECT_FALSE(error.empty()) << what;
}

std::string Sheet(const std::string& data) {
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData>" +
           data + "</sheetData></worksheet>";
}

TEST(XlsxDamage, EveryRefusalNamesItsReason) {
    TempDir dir;
    ExpectRefused(dir.Path("missing.xlsx"), "Cannot open", "missing file");
    ExpectRefused(dir.dir, "", "a folder");
    test::WritePackage(dir.Path("zip.xlsx"), {{"readme.txt", "hello"}});
    ExpectRefused(dir.Path("zip.xlsx"), "no workbook part", "zip without workbook.xml");

    // The Excel-like package with one part replaced ("-": removed), or ("") a whole file.
    struct Case {
        const char* what;
        std::string part;
        std::string text;
        std::string message;
    };
    const std::string s1 = "xl/worksheets/sheet1.xml";
    const Case cases[] = {
        {"empty file", "", "", "Not an .xlsx workbook"},
        {"lacking sheet part", "-xl/worksheets/sheet2.xml", "",
         "missing part xl/worksheets/sheet2.xml"},
        {"unclosed element", s1, "<worksheet><sheetData><row>", s1},
        {"row 0", s1, Sheet("<row r=\"0\"/>"), "invalid row number \"0\""},
        {"row past the grid", s1, Sheet("<row r=\"1048577\"/>"), "invalid row number"},
        {"cell A0", s1, Sheet("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>"),
         "invalid cell reference \"A0\""},
        {"columns past the grid", s1,
         Sheet("<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>"), "too many columns"},
        {"number", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>1.2.3</v></c></row>"),
         "invalid number \"1.2.3\""},
        {"NaN", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>NaN</v></c></row>"), "invalid number"},
        {"overflow", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>1e999</v></c></row>"),
         "invalid number"},
        {"string index", s1, Sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>99</v></c></row>"),
         "invalid shared string index \"99\""},
        {"rows out of order", s1, Sheet("<row r=\"3\"/><row r=\"2\"/>"), "row 2 out of order"},
        {"cell in another row", s1, Sheet("<row r=\"9\"><c r=\"B4\"><v>1</v></c></row>"),
         "cell B4 out of place in row 9"},
        {"cell type", s1, Sheet("<row r=\"1\"><c r=\"A1\" t=\"zz\"><v>1</v></c></row>"),
         "unknown cell type"},
        {"shared strings", "xl/sharedStrings.xml", "<sst><si><t>a</si></sst>", "sharedStrings"},
        {"no sheets", "xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>",
         "no sheets"},
        {"root is no workbook", "xl/workbook.xml", "<html/>", "no workbook element"},
        {"sheet without part", "xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>",
         "has no part"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Path("bad.xlsx");
        auto parts = test::ExcelLikeParts();
        if (c.part.empty())
            test::WriteBytes(path, c.text);
        else if (c.part[0] == '-')
            parts.erase(c.part.substr(1));
        else
            parts[c.part] = c.text;
        if (!c.part.empty()) test::WritePackage(path, parts);
        ExpectRefused(path, c.message, c.what);
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
        EXPECT_FALSE(mustRefuse && book) << "loaded " << path;
        if (!book) {
            EXPECT_FALSE(error.empty()) << path;
            return false;
        }
        Worksheet* s = book->Worksheets(1);
        if (!s) return true;
        s->SetValue(3, 4, std::string("t"));
        s->ClearContents(1, 1, 4, 5);
        s->SetValue(9, 2, 2.0);
        s->SetHorizontalAlignment(9, 2, 9, 2, kAlignCenter);
        s->SetComment(9, 2, std::string("c"));
        if (!book->Save(error)) {
            EXPECT_FALSE(error.empty()) << path;
            return true;
        }
        auto again = GridWorkbook::Load(path, error);
        EXPECT_TRUE(again) << path << ": " << error;
        if (!again) return true;
        EXPECT_EQ(again->Worksheets(1)->Value(9, 2), CellValue(2.0)) << path;
        EXPECT_EQ(again->Worksheets(1)->Comment(9, 2), "c") << path;
        return true;
    };

    for (size_t n = 0; n < bytes.size(); n += 1 + n / 50) check(bytes.substr(0, n), true);
    std::mt19937 rng(4242);
    for (int i = 0; i < 50; ++i) { // random bytes, half of them behind a zip signature
        std::string noise(size_t(rng() % 5000), '\0');
        for (auto& c : noise) c = char(rng());
        if (i % 2) noise.replace(0, std::min<size_t>(4, noise.size()), "PK\x03\x04");
        check(noise, true);
    }
    // Flipped bytes in a valid package: some still load (a changed digit is a number).
    for (int i = 0; i < 300; ++i) {
        std::string damaged = bytes;
        for (int k = 0; k < 3; ++k) damaged[rng() % damaged.size()] ^= char(1 + rng() % 255);
        check(damaged, false);
    }
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
    // The central directory entry of the sheet claims 4 GB of data.
    const std::string name = "xl/worksheets/sheet1.xml";
    size_t at = bytes.find("PK\x01\x02");
    while (at != std::string::npos && bytes.compare(at + 46, name.size(), name) != 0)
        at = bytes.find("PK\x01\x02", at + 4);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + 24, 4, "\x00\x00\x00\xF0");
    size_t local;
    for (local = bytes.find("PK\x03\x04"); local != std::string::npos;
         local = bytes.find("PK\x03\x04", local + 4))
        if (bytes.compare(local + 30, name.size(), name) == 0) break;
    ASSERT_NE(local, std::string::npos);
    bytes.replace(local + 22, 4, "\x00\x00\x00\xF0");
    test::WriteBytes(dir.Path("bomb.xlsx"), bytes);
    // libzip may see the lie first; either way nothing is unpacked.
    EXPECT_FALSE(GridWorkbook::Load(dir.Path("bomb.xlsx"), error));
    EXPECT_TRUE(error.find("part too large") != std::string::npos ||
                error.find("inconsistent") != std::string::npos)
        << error;
}

TEST(GridSheet, BadAccessRaisesTheSpreadsheetsError) {
    GridWorkbook book{"/nonexistent/book.xlsx"};
    GridSheet* sheet = book.AddSheet("Data");
    const std::pair<int, int> outside[] = {
        {0, 1}, {1, 0}, {-1, 5}, {kMaxRows + 1, 1}, {1, kMaxCols + 1}};
    for (auto [r, c] : outside) {
        EXPECT_THROW(sheet->Value(r, c), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->SetValue(r, c, 1.0), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->Comment(r, c), RuntimeError);
        EXPECT_THROW(sheet->ClearContents(1, 1, r, c), RuntimeError);
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(kMaxRows, kMaxCols)));
    // No NaN or infinity ever reaches a cell.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        try {
            sheet->SetValue(1, 1, bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), "Overflow");
        }
    }
    EXPECT_THROW(sheet->SetValue(1, 1, std::string(40000, 'x')), RuntimeError);
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 1)));
    // An empty text empties the cell.
    sheet->SetValue(2, 2, std::string("x"));
    sheet->SetValue(2, 2, std::string());
    EXPECT_EQ(sheet->CellCount(), 0u);
}

} // namespace
} // namespace lumora
