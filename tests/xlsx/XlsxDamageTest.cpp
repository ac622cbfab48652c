// Files that are no workbook, or damaged ones: a message, never a crash.

#include "WorkbookFiles.h"

#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <random>

namespace lumora {
namespace {

using test::TempDir;

/// Loading must fail with a message that says what is wrong.
void ExpectRefused(const std::string& path, const std::string& expected, const std::string& what) {
    std::string error;
    auto book = GridWorkbook::Load(path, error);
    EXPECT_FALSE(book) << what;
    EXPECT_FALSE(error.empty()) << what;
    if (!expected.empty()) {
        EXPECT_NE(error.find(expected), std::string::npos) << what << ": " << error;
    }
}

std::string ValidFile(const TempDir& dir) {
    std::string path = dir.Path("valid.xlsx"), error;
    std::vector<std::vector<CellValue>> rows;
    for (int r = 0; r < 30; ++r) rows.push_back({double(r), "row " + std::to_string(r), true});
    EXPECT_TRUE(WriteNewXlsx(path, {{"Data", rows, {{2, 2, "note"}}}}, error)) << error;
    return path;
}

TEST(XlsxDamage, FilesThatAreNoWorkbook) {
    TempDir dir;
    test::WriteBytes(dir.Path("empty.xlsx"), "");
    test::WriteBytes(dir.Path("text.xlsx"), "Species:\t2\nT, C:\t25\n");
    ExpectRefused(dir.Path("missing.xlsx"), "Cannot open", "missing file");
    ExpectRefused(dir.dir, "", "a folder");
    ExpectRefused(dir.Path("empty.xlsx"), "Not an .xlsx workbook", "empty file");
    ExpectRefused(dir.Path("text.xlsx"), "Not an .xlsx workbook", "text file");

    // A zip, but no workbook inside.
    test::WritePackage(dir.Path("zip.xlsx"), {{"readme.txt", "hello"}});
    ExpectRefused(dir.Path("zip.xlsx"), "no workbook part", "zip without workbook.xml");
}

TEST(XlsxDamage, EveryTruncationIsRefused) {
    TempDir dir;
    std::string bytes = test::ReadBytes(ValidFile(dir));
    for (size_t n = 0; n < bytes.size(); n += 1 + n / 50) {
        // A new file each time: rewriting one makes the file system flush it.
        std::string cut = dir.Path("cut" + std::to_string(n) + ".xlsx");
        test::WriteBytes(cut, bytes.substr(0, n));
        ExpectRefused(cut, "", "truncated to " + std::to_string(n));
    }
}

TEST(XlsxDamage, RandomBytesAndFlippedBytes) {
    TempDir dir;
    std::string bytes = test::ReadBytes(ValidFile(dir));
    std::mt19937 rng(4242);
    for (int i = 0; i < 50; ++i) {
        std::string path = dir.Path("noise" + std::to_string(i) + ".xlsx");
        std::string noise(size_t(rng() % 5000), '\0');
        for (auto& c : noise) c = char(rng());
        if (i % 2) noise.replace(0, std::min<size_t>(4, noise.size()), "PK\x03\x04");
        test::WriteBytes(path, noise);
        ExpectRefused(path, "", "random bytes " + std::to_string(i));
    }
    // Damage inside a valid package: some flips still load (a changed digit is a valid
    // number), none may crash, and a load either works or explains itself.
    for (int i = 0; i < 300; ++i) {
        std::string damaged = bytes;
        for (int k = 0; k < 3; ++k) damaged[rng() % damaged.size()] ^= char(1 + rng() % 255);
        std::string path = dir.Path("flip" + std::to_string(i) + ".xlsx");
        test::WriteBytes(path, damaged);
        std::string error;
        auto book = GridWorkbook::Load(path, error);
        EXPECT_TRUE(book || !error.empty());
        if (!book) continue;
        // What loads can be written into and saved, or the save explains itself.
        Worksheet* s = book->Worksheets(1);
        if (!s) continue;
        s->SetValue(3, 5, 1.5);
        s->SetComment(2, 2, std::string("again"));
        error.clear();
        if (book->Save(error)) {
            auto again = GridWorkbook::Load(path, error);
            ASSERT_TRUE(again) << error;
            EXPECT_EQ(again->Worksheets(1)->Value(3, 5), CellValue(1.5));
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

/// The Excel-like package with one part replaced.
std::string WithPart(const TempDir& dir, const std::string& part, const std::string& text) {
    auto parts = test::ExcelLikeParts();
    parts[part] = text;
    std::string path = dir.Path("bad.xlsx");
    test::WritePackage(path, parts);
    return path;
}

std::string Sheet(const std::string& data) {
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData>" +
           data + "</sheetData></worksheet>";
}

TEST(XlsxDamage, MalformedPartsAreNamed) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string part;
        std::string text;
        std::string message;
    };
    const std::string s1 = "xl/worksheets/sheet1.xml";
    const Case cases[] = {
        {"unclosed element", s1, "<worksheet><sheetData><row>", s1},
        {"not XML", s1, "\x89PNG\r\n", s1},
        {"empty part", s1, "", s1},
        {"row 0", s1, Sheet("<row r=\"0\"/>"), "invalid row number \"0\""},
        {"huge row", s1, Sheet("<row r=\"99999999999\"/>"), "invalid row number"},
        {"row past the grid", s1, Sheet("<row r=\"1048577\"/>"), "invalid row number"},
        {"negative row", s1, Sheet("<row r=\"-3\"/>"), "invalid row number"},
        {"cell A0", s1, Sheet("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>"),
         "invalid cell reference \"A0\""},
        {"cell ZZZZ1", s1, Sheet("<row r=\"1\"><c r=\"ZZZZ1\"><v>1</v></c></row>"),
         "invalid cell reference \"ZZZZ1\""},
        {"cell lower case", s1, Sheet("<row r=\"1\"><c r=\"a1\"><v>1</v></c></row>"),
         "invalid cell reference"},
        {"columns past the grid", s1,
         Sheet("<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>"), "too many columns"},
        {"number", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>1.2.3</v></c></row>"),
         "invalid number \"1.2.3\""},
        {"NaN", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>NaN</v></c></row>"), "invalid number"},
        {"overflow", s1, Sheet("<row r=\"1\"><c r=\"A1\"><v>1e999</v></c></row>"),
         "invalid number"},
        {"string index", s1, Sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>99</v></c></row>"),
         "invalid shared string index \"99\""},
        {"string index text", s1, Sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>x</v></c></row>"),
         "invalid shared string index"},
        {"rows out of order", s1, Sheet("<row r=\"3\"/><row r=\"2\"/>"), "row 2 out of order"},
        {"row twice", s1, Sheet("<row r=\"3\"/><row r=\"3\"/>"), "row 3 out of order"},
        {"cell in another row", s1, Sheet("<row r=\"9\"><c r=\"B4\"><v>1</v></c></row>"),
         "cell B4 out of place in row 9"},
        {"cell twice", s1,
         Sheet("<row r=\"1\"><c r=\"B1\"><v>1</v></c><c r=\"B1\"><v>2</v></c></row>"),
         "cell B1 out of place in row 1"},
        {"cells out of order", s1,
         Sheet("<row r=\"1\"><c r=\"C1\"><v>1</v></c><c r=\"A1\"><v>2</v></c></row>"),
         "cell A1 out of place"},
        {"cell type", s1, Sheet("<row r=\"1\"><c r=\"A1\" t=\"zz\"><v>1</v></c></row>"),
         "unknown cell type"},
        {"shared strings", "xl/sharedStrings.xml", "<sst><si><t>a</si></sst>", "sharedStrings"},
        {"workbook", "xl/workbook.xml", "<workbook><sheets>", "xl/workbook.xml"},
        {"no sheets", "xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>",
         "no sheets"},
        {"root is no workbook", "xl/workbook.xml", "<html/>", "no workbook element"},
        {"comment reference", "xl/comments1.xml",
         "<comments><commentList><comment ref=\"A0\"><text><t>x</t></text></comment>"
         "</commentList></comments>",
         "invalid cell reference"},
        {"relationships", "xl/_rels/workbook.xml.rels", "<Relationships><", "workbook.xml.rels"},
        {"sheet without part", "xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>",
         "has no part"},
    };
    for (const auto& c : cases) ExpectRefused(WithPart(dir, c.part, c.text), c.message, c.what);

    // A sheet part the workbook points to but the archive lacks.
    auto parts = test::ExcelLikeParts();
    parts.erase("xl/worksheets/sheet2.xml");
    test::WritePackage(dir.Path("lacking.xlsx"), parts);
    ExpectRefused(dir.Path("lacking.xlsx"), "missing part xl/worksheets/sheet2.xml",
                  "lacking part");
}

TEST(XlsxDamage, OddSheetsThatLoadAlsoSave) {
    // Random digits and cells dropped or repeated in the sheet's XML: what still loads
    // must save and load again.
    TempDir dir;
    std::mt19937 rng(99);
    const std::string sheet = test::ExcelLikeParts()["xl/worksheets/sheet1.xml"];
    int loaded = 0;
    for (int i = 0; i < 200; ++i) {
        std::string text = sheet;
        for (int k = 0; k < 3; ++k) {
            size_t at = rng() % text.size();
            if (rng() % 2) {
                // Another digit: positions out of order, repeated, off the grid.
                size_t d = text.find_first_of("0123456789", at);
                if (d != std::string::npos) text[d] = char('0' + rng() % 10);
            } else {
                // A whole cell dropped or repeated.
                size_t from = text.find("<c ", at), to = text.find("</c>", from);
                if (from == std::string::npos || to == std::string::npos) continue;
                std::string cell = text.substr(from, to + 4 - from);
                if (rng() % 2)
                    text.erase(from, cell.size());
                else
                    text.insert(from, cell);
            }
        }
        auto parts = test::ExcelLikeParts();
        parts["xl/worksheets/sheet1.xml"] = text;
        std::string path = dir.Path("odd" + std::to_string(i) + ".xlsx"), error;
        test::WritePackage(path, parts);
        auto book = GridWorkbook::Load(path, error);
        if (!book) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ++loaded;
        Worksheet* s = book->Worksheets(1);
        s->SetValue(2, 1, 5.0);
        s->SetValue(3, 4, std::string("t"));
        s->ClearContents(1, 1, 4, 5);
        s->SetValue(9, 2, 2.0);
        s->SetHorizontalAlignment(9, 2, 9, 2, kAlignCenter);
        s->SetComment(9, 2, std::string("c"));
        if (!book->Save(error)) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        auto again = GridWorkbook::Load(path, error);
        ASSERT_TRUE(again) << i << ": " << error;
        EXPECT_EQ(again->Worksheets(1)->Value(9, 2), CellValue(2.0)) << i;
        EXPECT_EQ(again->Worksheets(1)->Comment(9, 2), "c") << i;
    }
    EXPECT_GT(loaded, 50);
}

TEST(XlsxDamage, ZipBombIsRefusedBeforeItIsUnpacked) {
    TempDir dir;
    std::string bytes = test::ReadBytes(ValidFile(dir));
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
    std::string error;
    EXPECT_FALSE(GridWorkbook::Load(dir.Path("bomb.xlsx"), error));
    EXPECT_TRUE(error.find("part too large") != std::string::npos ||
                error.find("inconsistent") != std::string::npos)
        << error;
}

} // namespace
} // namespace lumora
