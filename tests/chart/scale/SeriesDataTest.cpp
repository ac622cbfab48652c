// Where polylines break (gaps, missing values, values a log axis cannot show), clipping in
// real coordinates, and the CSV text of plotted data.

#include "chart/scale/AxisState.h"
#include "chart/scale/ChartCsv.h"
#include "chart/scale/LineClip.h"
#include "chart/scale/SeriesPolylines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace lumora {
namespace {

/// Lengths of the polylines of one series over x = 1, 10, 100, ... with point 4 empty.
std::vector<size_t> RunLengths(const std::vector<float>& y, bool logX, bool logY) {
    const int n = static_cast<int>(y.size());
    Mat<float> data(1, n);
    Vec<uint8_t> empty(n);
    for (int p = 1; p <= n; ++p) data(0, p) = std::pow(10.0f, float(p - 1)), data(1, p) = y[p - 1];
    empty(4) = 1;
    std::vector<size_t> lengths;
    for (const auto& line : SeriesPolylines(data, 1, n, empty, logX, logY))
        lengths.push_back(line.size());
    return lengths;
}

TEST(SeriesPolylines, BreaksAtGapsMissingValuesAndWhatALogAxisCannotShow) {
    const std::vector<float> y = {1, 0, 2, 3, 4, -1, 5, kChartAuto, 6, 7};
    EXPECT_EQ(RunLengths(y, false, false), (std::vector<size_t>{3, 3, 2})) << "linear: zeros drawn";
    EXPECT_EQ(RunLengths(y, false, true), (std::vector<size_t>{1, 1, 1, 1, 2})) << "log Y";
    EXPECT_EQ(RunLengths(std::vector<float>(10, 1.0f), true, false), (std::vector<size_t>{3, 6}));
    // Axis units: decimal logs on a log axis.
    Mat<float> data(1, 2);
    Vec<uint8_t> empty(2);
    data(0, 1) = 100, data(1, 1) = 1e-3f, data(0, 2) = 1000, data(1, 2) = 1;
    const auto lines = SeriesPolylines(data, 1, 2, empty, true, true);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NEAR(lines[0][0].x, 2, 1e-6);
    EXPECT_NEAR(lines[0][0].y, -3, 1e-6);
    EXPECT_NEAR(lines[0][1].y, 0, 1e-6);
}

TEST(ClipToBox, KnownSegments) {
    struct Case {
        RealSegment in;
        bool visible;
        RealSegment out;
    };
    const Case cases[] = {
        {{1, 1, 9, 9}, true, {1, 1, 9, 9}},       // inside
        {{-10, 5, 20, 5}, true, {0, 5, 10, 5}},   // across both sides
        {{-5, -5, 15, 15}, true, {0, 0, 10, 10}}, // corner to corner
        {{-5, 12, 15, 12}, false, {}},            // below
        {{12, -5, 12, 15}, false, {}},            // right, parallel
        {{-4, 6, 6, -4}, true, {0, 2, 2, 0}},     // cuts the top-left corner
    };
    for (const auto& c : cases) {
        const auto r = ClipToBox(c.in, 0, 0, 10, 10);
        ASSERT_EQ(r.has_value(), c.visible) << c.in.x1 << "," << c.in.y1;
        if (!r) continue;
        for (const auto& [got, want] :
             {std::pair{r->x1, c.out.x1}, {r->y1, c.out.y1}, {r->x2, c.out.x2}, {r->y2, c.out.y2}})
            EXPECT_NEAR(got, want, 1e-12);
    }
}

// Fields with separators or quotes are quoted; every float comes back exactly.
TEST(ChartCsv, QuotesNamesAndKeepsEveryFloat) {
    CsvTable t;
    t.header = {"Wavelength (nm)", CsvColumnName("Co, \"free\"", "Absorbance"),
                CsvColumnName("S2", "")};
    t.rows = {{400.5f, 0.1f, std::nullopt}, {1e-7f, -3.4028235e38f, 1.0f / 3.0f}};
    const std::string text = CsvText(t);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "Wavelength (nm),\"Co, \"\"free\"\": Absorbance\",S2");
    EXPECT_EQ(text.substr(text.find('\n') + 1,
                          text.find('\n', text.find('\n') + 1) - text.find('\n') - 1),
              "400.5,0.1,");
    const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    size_t pos = 0;
    for (float want : {1e-7f, -3.4028235e38f, 1.0f / 3.0f}) {
        const size_t end = last.find_first_of(",\n", pos);
        EXPECT_EQ(std::strtof(last.substr(pos, end - pos).c_str(), nullptr), want);
        pos = end + 1;
    }
}

} // namespace
} // namespace lumora
