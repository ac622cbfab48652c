// What leaves the chart for a paper: the legend's entries, the Y title on the surface, a
// resize that keeps the scale, the saved CSV read back, and the SVG and PNG files.

#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumora {
namespace {

/// Three series over five points; series 2 has a zero, series 3 a missing value.
void FillThree(ChartWidget& chart) {
    SetChartMessageSink([](const std::string& t) { FAIL() << t; });
    chart.resize(400, 300);
    chart.Dimension(3, 5);
    const float y[3][5] = {{1, 2, 3, 4, 5}, {2, 3, 0, 3, 1}, {5, 4, kChartAuto, 2, 1}};
    for (int16_t p = 1; p <= 5; ++p) {
        chart.SetPointData(p, 0, 400.0f + 50.0f * float(p - 1));
        for (int16_t s = 1; s <= 3; ++s) chart.SetPointData(p, s, y[s - 1][p - 1]);
    }
    chart.SetXAxisTitle("Wavelength (nm)");
    chart.SetYAxisTitle("Absorbance");
    chart.SetSeriesName(1, "S1");
    chart.SetSeriesName(2, "S2, \"wet\"");
}

std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::path(LUMORA_TEST_BUILD_DIR) / name;
}

TEST(ChartLegend, NamedShownSeriesUpToSixteen) {
    ChartWidget chart;
    FillThree(chart);
    using E = std::vector<LegendEntry>;
    EXPECT_EQ(chart.LegendEntries(), (E{{1, "S1"}, {2, "S2, \"wet\""}})) << "series 3 unnamed";
    chart.SetSkipSeries(1, true);
    EXPECT_EQ(chart.LegendEntries(), (E{{2, "S2, \"wet\""}}));
    chart.SetLegendVisible(false);
    EXPECT_TRUE(chart.LegendEntries().empty());
    chart.SetLegendVisible(true);
    chart.Dimension(17, 2);
    for (int16_t k = 1; k <= 17; ++k) chart.SetSeriesName(k, QString::number(k));
    EXPECT_TRUE(chart.LegendEntries().empty()) << "17 names are no legend";
    chart.SetSkipSeries(17, true);
    EXPECT_EQ(chart.LegendEntries().size(), 16u);
}

// The Y title is drawn left of the labels; a resize redraws at the same scale (a range kept
// in view cumulatively does not narrow), and the legend takes room at the right.
TEST(ChartDraw, YTitleResizeAndLegend) {
    ChartWidget chart;
    FillThree(chart);
    chart.show(); // resizes reach a shown control
    const int32_t fg = ColorValueOfRgb(chart.palette().color(QPalette::WindowText).rgb());
    auto inkLeftOf = [&](int x1) {
        int n = 0;
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < x1; ++x) n += chart.Pixel(x, y) == fg;
        return n;
    };
    chart.SetSkipSeries(3, true);
    chart.SetYAxisTitle("");
    chart.Refresh();
    const int left = chart.PlotLeft();
    EXPECT_EQ(inkLeftOf(3), 0) << "labels start at 3";
    chart.SetYAxisTitle("Absorbance");
    chart.Refresh();
    ASSERT_TRUE(chart.Drawn());
    EXPECT_GT(inkLeftOf(chart.PlotLeft() - left + 3), 20) << "the turned title";
    const int rightWithLegend = chart.PlotRight();
    chart.SetLegendVisible(false);
    EXPECT_GT(chart.PlotRight(), rightWithLegend + 20);
    chart.SetSkipSeries(1, true);
    chart.SetSkipSeries(3, false);
    chart.Refresh(true); // series 3 alone, with the range of all three
    const float low = chart.YAxis().AxisLow, high = chart.YAxis().AxisHigh;
    chart.resize(700, 500);
    EXPECT_EQ(std::pair(chart.YAxis().AxisLow, chart.YAxis().AxisHigh), std::pair(low, high));
    EXPECT_GT(chart.PlotBottom(), 400);
}

// The saved CSV, read back by a plain parser, holds the shown series' numbers exactly.
TEST(ChartExport, CsvReadsBackIntoTheSameNumbers) {
    ChartWidget chart;
    FillThree(chart);
    chart.SetSkipSeries(1, true);
    chart.SetEmptyPoint(5, true);
    chart.Refresh();
    const auto path = TempFile("chart.csv");
    QString error;
    ASSERT_TRUE(chart.SaveData(QString::fromStdString(path.string()), error))
        << error.toStdString();
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "Wavelength (nm),\"S2, \"\"wet\"\": Absorbance\",Series 3: Absorbance");
    int16_t p = 0;
    while (std::getline(in, line)) {
        ++p;
        std::stringstream row(line);
        std::string field;
        for (int16_t s : {0, 2, 3}) {
            std::getline(row, field, ',');
            const float v = chart.PointData(p, s);
            if (std::fabs(v) == kChartAuto)
                EXPECT_TRUE(field.empty()) << p << "," << s;
            else
                EXPECT_EQ(std::strtof(field.c_str(), nullptr), v) << p << "," << s;
        }
    }
    EXPECT_EQ(p, 4) << "the empty point is left out";
    EXPECT_FALSE(chart.SaveData("/nonexistent-folder/x.csv", error));
    EXPECT_FALSE(error.isEmpty());
}

// SVG: well-formed, one path per shown series in its colour; the zero of series 2 on a log
// axis splits its path as the missing value of series 3 does. PNG at the size asked for.
TEST(ChartExport, SvgHasOnePathPerSeriesAndPngTheAskedSize) {
    ChartWidget chart;
    FillThree(chart);
    chart.SetYAxisLogScale(true);
    chart.Refresh();
    const auto svgPath = TempFile("chart.svg"), pngPath = TempFile("chart.png");
    QString error;
    ASSERT_TRUE(chart.SaveImage(QString::fromStdString(svgPath.string()), {800, 600}, error));
    QFile file(QString::fromStdString(svgPath.string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    std::vector<std::pair<QString, int>> paths; // stroke of the enclosing group, subpaths
    QString stroke;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("g")) stroke = xml.attributes().value("stroke").toString();
        if (xml.name() == QLatin1String("path"))
            paths.push_back({stroke, int(xml.attributes().value("d").count(QLatin1Char('M')))});
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    ASSERT_EQ(paths.size(), 3u);
    for (int16_t k = 1; k <= 3; ++k) {
        const QColor c = QColor::fromRgb(RgbOfColorValue(SeriesColor(DefaultPalette(), k)));
        EXPECT_EQ(paths[size_t(k - 1)].first, c.name()) << k;
        EXPECT_EQ(paths[size_t(k - 1)].second, k == 1 ? 1 : 2) << "subpaths of " << k;
    }
    ASSERT_TRUE(chart.SaveImage(QString::fromStdString(pngPath.string()), {800, 600}, error));
    EXPECT_EQ(QImage(QString::fromStdString(pngPath.string())).size(), QSize(800, 600));
    EXPECT_FALSE(chart.SaveImage(QString::fromStdString(pngPath.string()), {0, 600}, error));
}

} // namespace
} // namespace lumora
