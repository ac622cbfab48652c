// The control's data model and properties: counts, index checks with their
// messages, settings, colours, and what Clear and Dimension keep.

#include "ChartTestSupport.h"
#include "chart/scale/ChartPalette.h"

#include <array>

namespace lumora {
namespace {

using test::ChartMessages;

TEST(ChartModel, FreshControl) {
    ChartWidget chart;
    EXPECT_EQ(chart.nSeries(), 0);
    EXPECT_EQ(chart.nPoints(), 0);
    for (float v : {chart.XAxisMin(), chart.XAxisMax(), chart.XAxisUnit(), chart.YAxisMin(),
                    chart.YAxisMax(), chart.YAxisUnit()})
        EXPECT_EQ(v, kChartAuto);
    EXPECT_EQ(chart.XAxisParts(), 0);
    EXPECT_EQ(chart.YAxisDigits(), 0);
    EXPECT_FALSE(chart.XAxisLogScale());
    EXPECT_EQ(chart.LastCurve(), 0);
    EXPECT_GT(chart.SpaceHeight(), 0);
    // reference colours stay system-colour codes until the mouse comes
    EXPECT_EQ(chart.PaletteEntry(16), kSysButtonFace);
    EXPECT_EQ(chart.PaletteEntry(17), kSysWindow);
    EXPECT_EQ(chart.PaletteEntry(18), kSysWindowText);
    EXPECT_LT(chart.PaletteEntry(17), 0);
    EXPECT_EQ(chart.PaletteEntry(0), ColorValue(0, 0, 210));
    EXPECT_EQ(chart.PaletteEntry(15), ColorValue(209, 209, 209));
}

TEST(ChartModel, DimensionAndIndexChecks) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.Dimension(-3, 5);
    EXPECT_EQ(chart.nSeries(), 0);
    EXPECT_EQ(chart.nPoints(), 5);

    chart.Dimension(2, 10);
    chart.SetPointData(10, 0, 7.5f); // X of point 10
    chart.SetPointData(1, 2, -1.25f);
    EXPECT_EQ(chart.PointData(10, 0), 7.5f);
    EXPECT_EQ(chart.PointData(1, 2), -1.25f);
    EXPECT_TRUE(msgs.texts.empty());

    struct Bad {
        int16_t point, series;
    };
    for (const Bad b : {Bad{0, 1}, Bad{11, 1}, Bad{1, 3}, Bad{1, -1}, Bad{-5, 0}}) {
        msgs.texts.clear();
        EXPECT_EQ(chart.PointData(b.point, b.series), 0.0f);
        chart.SetPointData(b.point, b.series, 99);
        EXPECT_EQ(msgs.texts, (std::vector<std::string>{"Incorrect PointData call",
                                                        "Incorrect PointData call"}));
    }
    for (int p = 1; p <= 10; ++p)
        for (int s = 0; s <= 2; ++s) EXPECT_NE(chart.PointData(p, s), 99.0f);

    msgs.texts.clear();
    EXPECT_FALSE(chart.SkipSeries(0));
    chart.SetSkipSeries(3, true);
    EXPECT_FALSE(chart.EmptyPoint(0));
    chart.SetEmptyPoint(11, true);
    EXPECT_EQ(msgs.texts,
              (std::vector<std::string>{"Incorrect SkipSeries call", "Incorrect SkipSeries call",
                                        "Incorrect EmptyPoint call", "Incorrect EmptyPoint call"}));
    chart.SetSkipSeries(2, true);
    chart.SetEmptyPoint(10, true);
    EXPECT_TRUE(chart.SkipSeries(2));
    EXPECT_FALSE(chart.SkipSeries(1));
    EXPECT_TRUE(chart.EmptyPoint(10));
    chart.SetEmptyPoint(10, false);
    EXPECT_FALSE(chart.EmptyPoint(10));

    // Dimension discards the data
    chart.Dimension(2, 10);
    EXPECT_EQ(chart.PointData(10, 0), 0.0f);
    EXPECT_FALSE(chart.SkipSeries(2));
}

TEST(ChartModel, SetData) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.Dimension(2, 3);
    const std::array<float, 3> values{1.5f, 2.5f, 3.5f};
    chart.SetData(2, values);
    EXPECT_EQ(chart.PointData(2, 0), 1.5f);
    EXPECT_EQ(chart.PointData(2, 2), 3.5f);
    EXPECT_TRUE(msgs.texts.empty());
    chart.SetData(0, values);
    chart.SetData(4, values);
    const std::array<float, 2> shortValues{9, 9};
    chart.SetData(1, shortValues); // too short an array is refused, not read past
    EXPECT_EQ(msgs.texts, std::vector<std::string>(3, "Incorrect SetData call"));
    EXPECT_EQ(chart.PointData(1, 0), 0.0f);
}

TEST(ChartModel, UnitCheck) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.SetYAxisUnit(0);
    chart.SetYAxisUnit(-2);
    EXPECT_EQ(chart.YAxisUnit(), kChartAuto);
    chart.SetXAxisUnit(0.5f);
    chart.SetXAxisUnit(-1);
    EXPECT_EQ(chart.XAxisUnit(), 0.5f);
    chart.SetXAxisUnit(kChartAuto);
    EXPECT_EQ(chart.XAxisUnit(), kChartAuto);
    EXPECT_EQ(msgs.texts, std::vector<std::string>(3, "Invalid value"));
}

TEST(ChartModel, DigitsCheckedWhenDrawn) {
    ChartMessages msgs;
    ChartWidget chart;
    chart.resize(200, 150);
    chart.Dimension(1, 2);
    chart.SetPointData(1, 0, 0);
    chart.SetPointData(2, 0, 1);
    chart.SetPointData(2, 1, 1);
    chart.SetXAxisDigits(12);
    EXPECT_EQ(chart.XAxisDigits(), 12);
    EXPECT_TRUE(msgs.texts.empty());
    chart.Refresh();
    EXPECT_EQ(msgs.texts, std::vector<std::string>{"Too many digits in labels"});
    EXPECT_EQ(test::CountColor(chart, test::Background(chart)), 200 * 150); // erased
}

TEST(ChartModel, CustomColors) {
    ChartWidget chart;
    const QString original = chart.CustomColors();
    ASSERT_EQ(original.size(), 32);
    EXPECT_EQ(original.at(0).unicode(), 0);   // entry 0 = 210 * 65536
    EXPECT_EQ(original.at(1).unicode(), 210); // high half

    chart.SetCustomColors(QStringLiteral("AB"));
    EXPECT_EQ(chart.PaletteEntry(0), 'A' + 65536 * 'B');
    for (int i = 1; i < 16; ++i) EXPECT_EQ(chart.PaletteEntry(i), 0x00200020);
    EXPECT_EQ(chart.PaletteEntry(17), kSysWindow); // references untouched

    // every code unit survives, also lone surrogates and negative colour values
    QString units;
    for (int i = 0; i < 40; ++i) units.append(QChar(char16_t(i * 1637 + 0xD7F0)));
    chart.SetCustomColors(units);
    EXPECT_EQ(chart.CustomColors(), units.left(32));
    ChartPalette p = DefaultPalette();
    SetCustomColorsText(p, units.left(32).toStdU16String());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(chart.PaletteEntry(i), p[i]);
}

TEST(ChartModel, SeriesColours) {
    const ChartPalette p = DefaultPalette();
    EXPECT_EQ(SeriesColor(p, 1), p[0]);
    EXPECT_EQ(SeriesColor(p, 2), p[1] + 1);
    EXPECT_EQ(SeriesColor(p, 16), p[15] + 15);
    EXPECT_EQ(SeriesColor(p, 17), p[0] + 16);
    EXPECT_NE(SeriesColor(p, 17), SeriesColor(p, 1));
    ChartPalette big = p;
    big[0] = INT32_MAX;
    EXPECT_THROW(SeriesColor(big, 17), RuntimeError);
}

TEST(ChartModel, ClearKeepsLogScales) {
    ChartWidget chart;
    chart.Dimension(3, 4);
    chart.SetXAxisLogScale(true);
    chart.SetYAxisLogScale(true);
    chart.SetXAxisMin(1);
    chart.SetYAxisUnit(2);
    chart.SetYAxisParts(5);
    chart.SetXAxisTitle(QStringLiteral("Wavelength (nm)"));
    chart.SetYAxisTitle(QStringLiteral("Absorbance"));
    EXPECT_EQ(chart.YAxisTitle(), QStringLiteral("Absorbance"));
    chart.Clear();
    EXPECT_TRUE(chart.XAxisLogScale());
    EXPECT_TRUE(chart.YAxisLogScale());
    EXPECT_EQ(chart.XAxisMin(), kChartAuto);
    EXPECT_EQ(chart.YAxisUnit(), kChartAuto);
    EXPECT_EQ(chart.YAxisParts(), 0);
    EXPECT_TRUE(chart.XAxisTitle().isEmpty());
    EXPECT_TRUE(chart.YAxisTitle().isEmpty());
    EXPECT_EQ(chart.nSeries(), 0);
    EXPECT_EQ(chart.nPoints(), 0);
    EXPECT_EQ(chart.XAxis().LabelCount, 0);
}

} // namespace
} // namespace lumora
