#include "xlsx/GridSheet.h"
#include "sheet/CellRef.h"
#include "xlsx/GridWorkbook.h"

#include "base/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumora {
namespace {

struct Sheet : ::testing::Test {
    GridWorkbook book{"/nonexistent/book.xlsx"};
    GridSheet* sheet = book.AddSheet("Data");
    int changes = 0;
    void SetUp() override {
        sheet->SetChangeHandler([this] { ++changes; });
    }
};

TEST_F(Sheet, HoldsEveryKindOfValue) {
    const CellValue values[] = {
        CellValue{},      CellValue{2.5},  CellValue{std::string("text")},     CellValue{true},
        CellValue{false}, CellValue{-0.0}, CellValue{std::string(" \xC2\xB1")}};
    int col = 1;
    for (const auto& v : values) sheet->SetValue(4, col++, v);
    col = 1;
    for (const auto& v : values) EXPECT_EQ(sheet->Value(4, col++), v);
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 1)));
    EXPECT_TRUE(IsEmpty(sheet->Value(kMaxRows, kMaxCols)));
}

TEST_F(Sheet, EmptyTextIsAnEmptyCell) {
    sheet->SetValue(2, 2, std::string("x"));
    sheet->SetValue(2, 2, std::string());
    EXPECT_TRUE(IsEmpty(sheet->Value(2, 2)));
    EXPECT_EQ(sheet->CellCount(), 0u);
}

TEST_F(Sheet, BadAccessRaisesTheSpreadsheetsError) {
    const std::pair<int, int> outside[] = {
        {0, 1}, {1, 0}, {-1, 5}, {kMaxRows + 1, 1}, {1, kMaxCols + 1}};
    for (auto [r, c] : outside) {
        EXPECT_THROW(sheet->Value(r, c), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->SetValue(r, c, 1.0), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->Comment(r, c), RuntimeError);
        EXPECT_THROW(sheet->ClearContents(1, 1, r, c), RuntimeError);
    }
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
}

TEST_F(Sheet, ClearContentsKeepsFormatsClearDropsThemCommentsStay) {
    sheet->SetBlock(1, 1, {{1.0, 2.0, 3.0}, {4.0, 5.0, 6.0}});
    sheet->SetHorizontalAlignment(1, 1, 2, 3, kAlignCenter);
    sheet->SetComment(1, 2, std::string("fixed"));
    sheet->ClearContents(1, 1, 1, 3);
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 2)));
    EXPECT_EQ(sheet->HorizontalAlignment(1, 2), kAlignCenter);
    EXPECT_EQ(sheet->Comment(1, 2), "fixed");
    EXPECT_EQ(sheet->Value(2, 1), CellValue(4.0));

    // Corners given in any order.
    sheet->Clear(2, 3, 1, 2);
    EXPECT_EQ(sheet->HorizontalAlignment(2, 2), 0);
    EXPECT_EQ(sheet->HorizontalAlignment(2, 1), kAlignCenter);
    EXPECT_TRUE(IsEmpty(sheet->Value(2, 3)));
    EXPECT_EQ(sheet->Value(2, 1), CellValue(4.0));
    EXPECT_EQ(sheet->Comment(1, 2), "fixed");

    sheet->SetComment(1, 2, std::nullopt);
    EXPECT_FALSE(sheet->Comment(1, 2));
}

TEST_F(Sheet, ChangeHandlerOnlyWithEventsOn) {
    sheet->SetEvents(false);
    sheet->SetValue(1, 1, 1.0);
    sheet->ClearContents(1, 1, 2, 2);
    sheet->Clear(1, 1, 1, 1);
    sheet->SetComment(1, 1, std::string("c"));
    EXPECT_EQ(changes, 0);

    sheet->SetEvents(true);
    EXPECT_TRUE(sheet->Events());
    sheet->SetValue(1, 1, 1.0);
    EXPECT_EQ(changes, 1);
    sheet->ClearContents(1, 1, 2, 2);
    EXPECT_EQ(changes, 2);
    sheet->SetComment(3, 3, std::string("c"));
    EXPECT_EQ(changes, 3);
    // A format is no edit of the data.
    sheet->SetHorizontalAlignment(1, 1, 1, 1, kAlignCenter);
    EXPECT_EQ(changes, 3);
    sheet->SetChangeHandler({});
    sheet->SetValue(1, 1, 2.0);
    EXPECT_EQ(changes, 3);
}

TEST_F(Sheet, EveryWriteMakesTheWorkbookDirty) {
    // A new workbook has no file yet.
    EXPECT_TRUE(book.Dirty());
    EXPECT_EQ(book.Name(), "book.xlsx");
    EXPECT_EQ(book.FullName(), "/nonexistent/book.xlsx");
    EXPECT_EQ(book.WorksheetCount(), 1);
    EXPECT_EQ(book.ActiveSheet(), sheet);
    EXPECT_EQ(book.Worksheets(1), sheet);
    EXPECT_EQ(book.Worksheets(2), nullptr);
    EXPECT_EQ(book.Worksheets(0), nullptr);
    EXPECT_EQ(book.SheetByName("DATA"), sheet);
    EXPECT_EQ(sheet->Parent(), &book);
}

TEST_F(Sheet, BlockReadsWhatWasWritten) {
    std::vector<std::vector<CellValue>> rows = {{1.0, std::string("a"), CellValue{}},
                                                {true, 2.0, std::string("b")}};
    sheet->SetBlock(3, 2, rows);
    EXPECT_EQ(sheet->Block(3, 2, 4, 4), rows);
    EXPECT_EQ(sheet->UsedExtent(), std::make_pair(4, 4));
}

} // namespace
} // namespace lumora
