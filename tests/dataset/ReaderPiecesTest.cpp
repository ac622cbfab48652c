// The reader's small pieces: the mode switch of the options, the cell cursor, the
// file dialog and the comment marks on band cells.

#include "ReaderDoubles.h"
#include "TestUi.h"
#include "base/NumText.h"
#include "dataset/FileDialog.h"
#include "dataset/StripMode.h"
#include "model/ReadCell.h"
#include "model/ReadFixedMarks.h"

#include <functional>
#include <gtest/gtest.h>

#include <cstdlib>

namespace lumora::test {
namespace {

TEST(StripMode, Cases) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        // No switch: untouched, blanks included
        {"", ""},
        {"  /x  ", "  /x  "},
        {"/mod=1 /x", "/mod=1 /x"},
        // The token, its digit and what follows directly
        {"/mode=1", ""},
        {"/mode=2 /x", "/x"},
        {"/MODE=3 /x", "/x"},
        {"/x /Mode=2 /y", "/x  /y"},
        {"/x /mode=2", "/x"},
        {"/x /mode=", "/x"},
        {"/mode=12 /x", "2 /x"},
        // First occurrence only
        {"/mode=1/mode=2", "/mode=2"},
        // Searched in lower case, cut in the original
        {"/Abc /MODE=1 /Def", "/Abc  /Def"},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        StripMode(s);
        EXPECT_EQ(s, c.out) << "\"" << c.in << "\"";
    }
    // The solver then receives the rest directly followed by "/mode=1".
    std::string opts = "/mode=2 /x";
    StripMode(opts);
    EXPECT_EQ(opts + "/mode=1", "/x/mode=1");
}

TEST(ReadCell, CursorAndText) {
    State st;
    FakeSheet sheet;
    st.xlSheet = &sheet;
    sheet.Put(1, 1, std::string("title"));
    sheet.Put(1, 2, 0.5);
    sheet.Put(2, 1, true);
    sheet.Put(2, 2, 1e-5);
    sheet.failing.insert({2, 3});
    sheet.Put(3, 1, 123456789012345678.0);

    EXPECT_EQ(ReadCell(st, true, true), "title");
    EXPECT_EQ(ReadCell(st, false, false), "0.5");
    EXPECT_EQ(st.CurRow, 1);
    EXPECT_EQ(st.CurCol, 2);
    EXPECT_EQ(ReadCell(st, true, false), "True");
    EXPECT_EQ(ReadCell(st, false, false), "1E-05");
    EXPECT_EQ(ReadCell(st, false, false), ""); // a failing access
    EXPECT_EQ(st.CurCol, 3);
    EXPECT_EQ(ReadCell(st, true, false), "1.23456789012346E+17");
    // Rewinding without a new row lands on row 0, which is no cell.
    EXPECT_EQ(ReadCell(st, false, true), "");
    EXPECT_EQ(st.CurRow, 0);
    EXPECT_EQ(st.CurCol, 1);
}

TEST(ReadCell, LocaleSeparator) {
    SetDecimalSeparator(',');
    EXPECT_EQ(CellText(CellValue{0.25}), "0,25");
    SetDecimalSeparator('.');
    EXPECT_EQ(CellText(CellValue{0.25}), "0.25");
    EXPECT_EQ(CellText(CellValue{}), "");
    EXPECT_EQ(CellText(CellValue{false}), "False");
}

TEST(ReadCell, CursorBeyondSixteenBitsIsAnError) {
    State st;
    FakeSheet sheet;
    st.xlSheet = &sheet;
    st.CurRow = 32767;
    EXPECT_THROW(ReadCell(st, true, false), RuntimeError);
}

// A scripted open dialog that remembers what it was shown.
struct DialogScript {
    bool operator()(const std::string& title, const std::string&, const std::string&,
                    std::string& folder, std::string& fileName, bool save) {
        startFolder = folder;
        proposed = fileName;
        wasSave = save;
        shownTitle = title;
        if (!answer) return false;
        folder = answerFolder;
        fileName = *answer;
        return true;
    }
    std::string startFolder, proposed, shownTitle, answerFolder;
    std::optional<std::string> answer;
    bool wasSave = false;
};

TEST(FileDialog, ChoosingAndCancelling) {
    DialogScript ui;
    const OpenDialog dialog = std::ref(ui);
    std::string folder = "/work/sets/", name = "old.xlsx";

    // Cancel leaves both texts as they were.
    EXPECT_FALSE(FileDialog(dialog, "", "Lumora source files", "*.xlsx", folder, name, false));
    EXPECT_EQ(folder, "/work/sets/");
    EXPECT_EQ(name, "old.xlsx");
    EXPECT_EQ(ui.startFolder, "/work/sets/");
    EXPECT_EQ(ui.proposed, "old.xlsx");

    // A choice: the folder with its final "/" and the bare name.
    ui.answerFolder = "/home/u/runs";
    ui.answer = "b.xlsx";
    EXPECT_TRUE(FileDialog(dialog, "Open", "Lumora source files", "*.xlsx", folder, name, false));
    EXPECT_EQ(folder, "/home/u/runs/");
    EXPECT_EQ(name, "b.xlsx");

    // A dialog that hands back a whole path is split the same way.
    ui.answer = "/srv/x/c.xlsx";
    EXPECT_TRUE(FileDialog(dialog, "", "", "", folder, name, true));
    EXPECT_TRUE(ui.wasSave);
    EXPECT_EQ(folder, "/srv/x/");
    EXPECT_EQ(name, "c.xlsx");

    // No name chosen counts as cancelled.
    ui.answer = "";
    EXPECT_FALSE(FileDialog(dialog, "", "", "", folder, name, false));
    EXPECT_EQ(name, "c.xlsx");
}

TEST(FileDialog, EmptyStartFolderIsHome) {
    DialogScript ui;
    const OpenDialog dialog = std::ref(ui);
    const char* home = std::getenv("HOME");
    std::string folder, name;
    FileDialog(dialog, "", "", "", folder, name, false);
    EXPECT_EQ(ui.startFolder, HomeFolder());
    if (home && *home) {
        std::string expect = home;
        if (expect.back() != '/') expect += '/';
        EXPECT_EQ(ui.startFolder, expect);
    }
    EXPECT_EQ(folder, ""); // cancelled: unchanged

    folder = "/data"; // a folder without its final "/"
    FileDialog(dialog, "", "", "", folder, name, false);
    EXPECT_EQ(ui.startFolder, "/data/");
}

// Band table of nG bands on nSp species: counts per species.
void Bands(State& st, const std::vector<int>& perSpecies) {
    int nG = 0;
    for (int n : perSpecies) nG += n;
    st.GaussTab.Redim(3, nG);
    st.GaussTab(0, 0) = nG;
    int g = 0;
    for (size_t k = 0; k < perSpecies.size(); ++k)
        for (int b = 0; b < perSpecies[k]; ++b) st.GaussTab(0, ++g) = static_cast<double>(k + 1);
    st.nSp = static_cast<int16_t>(perSpecies.size());
}

TEST(ReadFixedMarks, CommentOnThirdCellOfSecondSpecies) {
    State st;
    FakeSheet sheet;
    st.xlSheet = &sheet;
    Bands(st, {2, 1});
    sheet.Put(10, 7, 2.0);
    sheet.Put(11, 7, 1.0);
    sheet.SetComment(11, 10, "keep");
    ReadFixedMarks(st);
    ASSERT_EQ(st.GaussFixed.UBound(), 9);
    for (int a = 0; a <= 9; ++a) EXPECT_EQ(st.GaussFixed(a), a == 3 * 2 + 3 ? 1 : 0) << a;
}

TEST(ReadFixedMarks, EdgeCases) {
    State st;
    FakeSheet sheet;
    st.xlSheet = &sheet;
    Bands(st, {1, 1});

    // An empty band count contributes no parameters: species 2's cells come first.
    sheet.Put(11, 7, 1.0);
    sheet.SetComment(11, 8, "x");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(1), 1);
    EXPECT_EQ(st.GaussFixed(2) + st.GaussFixed(3) + st.GaussFixed(4), 0);

    // Cells beyond 3 x nG are ignored, however large the count on the sheet.
    sheet.Put(10, 7, 40000.0);
    sheet.SetComment(10, 30, "beyond");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 6);
    EXPECT_EQ(st.GaussFixed(1) + st.GaussFixed(2) + st.GaussFixed(6), 0);

    // A count given as text with a number in front, and a table without bands.
    sheet.Put(10, 7, std::string("1 band"));
    sheet.SetComment(10, 9, "w");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(2), 1);
    st.GaussTab.Redim(3, 0);
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 0);
}

} // namespace
} // namespace lumora::test
