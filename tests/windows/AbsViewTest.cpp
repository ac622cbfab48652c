// The absorption view on a data set read with the real engine: the sheet's spectra and the
// model's (read back from the chart's pixels), reloads after reads and failed re-reads.

#include "ViewsFixture.h"
#include "windows/AbsorptionView.h"
#include "windows/TipWindow.h"

#include "fit/Goal.h"

#include <QApplication>
#include <QMouseEvent>

namespace lumora::test {
namespace {

constexpr int32_t kBlue = ColorValue(0, 0, 255);
constexpr int32_t kRed = ColorValue(255, 0, 0);

/// Number of pixels of one colour value in the chart's image, and the first one found.
int CountColor(const ChartWidget& chart, int32_t colour, QPoint* first = nullptr) {
    int n = 0;
    for (int y = 0; y < chart.height(); ++y)
        for (int x = 0; x < chart.width(); ++x)
            if (chart.Pixel(x, y) == colour && n++ == 0 && first) *first = QPoint(x, y);
    return n;
}

class AbsView : public ViewsFixture {
protected:
    void SetUp() override {
        ViewsFixture::SetUp();
        if (TipWindow* tip = CurrentTip()) tip->close();
    }
    AbsorptionView view{st, port, nullptr};
    ChartWidget& chart = *view.Chart;
};

TEST_F(AbsView, MeasuredBlueCalculatedRedAgainstTheSheetAndTheModel) {
    view.ShowAbsorptionView();
    ASSERT_EQ(view.Combo->count(), 7); // "All solutions", S1..S6
    ASSERT_EQ(chart.nSeries(), 7);
    ASSERT_EQ(chart.nPoints(), 5);
    for (int w = 1; w <= 5; ++w) // 500..700 nm in rows 20..24, S1..S6 in columns 2..7
        for (int j = 1; j <= 6; ++j) {
            const CellValue cell = sheet->Value(19 + w, 1 + j);
            EXPECT_EQ(chart.PointData(w, j), IsEmpty(cell) ? 1e35f : float(std::get<double>(cell)))
                << "the line breaks at the empty cell";
        }
    EXPECT_TRUE(chart.SkipSeries(7));
    EXPECT_EQ(CountColor(chart, kRed), 0);
    const float allMin = chart.YAxis().DataMin, allMax = chart.YAxis().DataMax;

    view.Combo->setCurrentIndex(3); // the user picks S3
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(chart.SkipSeries(j), j != 3) << j;
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 7), st.AbsC(3, w)) << w;
    QPoint red;
    EXPECT_GT(CountColor(chart, kBlue), 20);
    EXPECT_GT(CountColor(chart, kRed, &red), 20);
    EXPECT_LE(chart.YAxis().DataMin, allMin) << "the range still covers all spectra";
    EXPECT_GE(chart.YAxis().DataMax, allMax);
    QMouseEvent move(QEvent::MouseMove, red, chart.mapToGlobal(QPointF(red)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &move);
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_EQ(CurrentTip()->Text().toStdString(), "Calculated");

    // What the optimizer does between two refreshes: new parameters, a new evaluation.
    st.G0(2) += 5.0;
    Goal(st, 0);
    ASSERT_EQ(st.ErrCode, 0);
    view.ShowAbsorptionView();
    EXPECT_EQ(view.ListIndex(), 3) << "the selection stays";
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 7), st.AbsC(3, w)) << w;
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(chartMessages.empty());
}

TEST_F(AbsView, NewReadResetsToAllSolutionsAndNeverIndexesAGoneSolution) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(5);
    WriteDataSet(*sheet, 3); // "Open / Refresh" with a sheet that now has three solutions
    Read();
    view.ShowAbsorptionView();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(view.ListIndex(), 0);
    ASSERT_EQ(view.Combo->count(), 4);
    EXPECT_EQ(chart.nSeries(), 4);
    EXPECT_TRUE(chart.SkipSeries(4));
    EXPECT_EQ(CountColor(chart, kRed), 0);
    view.Combo->setCurrentIndex(3);
    for (int w = 1; w <= 5; ++w) EXPECT_EQ(chart.PointData(w, 4), st.AbsC(3, w));
}

TEST_F(AbsView, EditedSheetIsReadAgainAndReloaded) {
    view.ShowAbsorptionView();
    view.Combo->setCurrentIndex(2);
    const long serial = st.ReadSerial;
    sheet->SetValue(19 + 1, 2, CellValue{0.5}); // S1 at 500 nm, as the user types it
    ASSERT_TRUE(st.xlsWatch->Changed);
    view.ShowAbsorptionView();
    EXPECT_EQ(st.ReadSerial, serial + 1);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_EQ(view.ListIndex(), 0);
    EXPECT_EQ(chart.PointData(1, 1), 0.5f);
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace
} // namespace lumora::test
