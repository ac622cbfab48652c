// The tick engine on axes worked out by hand, the settings that change them, and every
// failure with the message the chart shows for it.

#include "chart/scale/ScaleAxis.h"
#include "FuzzyCompare.h"
#include "base/NumText.h"
#include "base/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace lumora {
namespace {

constexpr float A = kChartAuto;

struct Row {
    float lo, hi;
    bool log;
    float min = A, max = A, unit = A;
    int digits = 0, parts = 0;
};

AxisState Scaled(const Row& r, ScaleOutcome& out) {
    AxisState a;
    a.DataMin = r.lo, a.DataMax = r.hi, a.LogScale = r.log;
    a.Min = r.min, a.Max = r.max, a.Unit = r.unit;
    a.Digits = uint8_t(r.digits), a.Parts = uint8_t(r.parts);
    out = ScaleAxis(a);
    return a;
}

// Worked by hand from the scaling rules: a margin of 1/20 of the range, ends widened to the
// next minor tick, non-negative data clamped at 0, user limits and intervals kept as given,
// a log axis in decades whatever the settings. Axis ends NaN: not worked out. The labels
// follow the locale's decimal separator.
TEST(ScaleAxis, WorkedAxes) {
    const float N = NAN;
    // Data and settings, the axis ends, the labels, the major interval and its minor parts.
    const std::tuple<Row, float, float, const char*, float, int> rows[] = {
        {{0, 1, false}, 0, 1.2f, "0 1", 1, 10},
        {{0.3f, 0.87f, false}, 0.26f, 0.91f, "0.3 0.4 0.5 0.6 0.7 0.8 0.9", 0.1f, 10},
        {{-2.3f, 7.9f, false}, -3.2f, 8.8f, "-2 0 2 4 6 8", 2, 2},
        {{400, 700, false}, 380, 720, "400 450 500 550 600 650 700", 50, 5},
        {{1, 1, false}, 0.8f, 1.2f, "1", 1, 10},                    // one value
        {{1E-6f, 3E-3f, true}, -6.3f, -2, "-6 -5 -4 -3 -2", 1, 10}, // decades
        // bottom - margin = 2.5 exactly: round() goes to the even 2
        {{3, 13, false}, 2, 14, "2 3 4 5 6 7 8 9 10 11 12 13 14", 1, 10},
        {{-1, 2, false, -2.5f, 3.5f, 1}, -2.5f, 3.5f, "-2 -1 0 1 2 3", 1, 1}, // user limits
        {{A, -A, false, 0, 10}, 0, 10, "0 1 2 3 4 5 6 7 8 9 10", 1, 10},      // no data
        // two fixed digits; a log axis whatever its settings
        {{0.3f, 0.87f, false, A, A, A, 2}, N, N, "0.30 0.40 0.50 0.60 0.70 0.80 0.90", 0.1f, 10},
        {{1E-6f, 3E-3f, true, 5, 7, 0.25f, 12, 2}, -6.3f, -2, "-6 -5 -4 -3 -2", 1, 10},
        // requested minor counts: taken when they divide the interval, else the default
        {{400, 700, false, A, A, A, 0, 2}, N, N, "400 450 500 550 600 650 700", 50, 2},
        {{400, 700, false, A, A, A, 0, 10}, N, N, "400 450 500 550 600 650 700", 50, 5},
        {{-2.3f, 7.9f, false, A, A, A, 0, 5}, N, N, "-2 0 2 4 6 8", 2, 1},
        {{-2.3f, 7.9f, false, A, A, A, 0, 10}, N, N, "-2 0 2 4 6 8", 2, 2},
        // 20 to 50 base steps take 5 of them
        {{0, 22, false}, N, N, "0 5 10 15 20 25", 5, 5},
        // label indices past 16 bits: large values, narrow spread
        {{40000, 40003, false}, N, N, "40000 40001 40002 40003", 1, 10},
    };
    for (const auto& [in, low, high, want, major, minor] : rows) {
        SCOPED_TRACE(want);
        ScaleOutcome out;
        const AxisState a = Scaled(in, out);
        ASSERT_FALSE(out.failed) << out.message;
        if (!std::isnan(low)) {
            EXPECT_TRUE(test::FuzzyEqual(a.AxisLow, low, 1e-5, 1)) << a.AxisLow;
            EXPECT_TRUE(test::FuzzyEqual(a.AxisHigh, high, 1e-5, 1)) << a.AxisHigh;
        }
        std::ostringstream labels;
        for (int i = 1; i <= a.LabelCount; ++i) {
            labels << (i > 1 ? " " : "") << a.LabelTexts(i);
            // on the axis, and the text reads back as the value (to float rounding)
            EXPECT_TRUE(a.LabelValues(i) >= a.AxisLow && a.LabelValues(i) <= a.AxisHigh);
            EXPECT_FLOAT_EQ(ReadLabel(a.LabelTexts(i)), a.LabelValues(i));
        }
        EXPECT_EQ(labels.str(), want);
        EXPECT_EQ(a.Major, major);
        EXPECT_EQ(a.MinorParts, minor);
    }
    SetDecimalSeparator(',');
    ScaleOutcome out;
    const AxisState a = Scaled(std::get<0>(rows[1]), out);
    SetDecimalSeparator('.');
    EXPECT_EQ(a.LabelTexts(1), "0,3");
}

TEST(ScaleAxis, FailuresAndTheirMessages) {
    const std::pair<Row, std::string> rows[] = {
        {{A, -A, false}, "Axis limits not defined"}, // no data
        {{A, A, false}, "Axis limits not defined"},  // a reset record
        {{A, -A, false, 1, 1}, "Axis limits invalid"},
        {{A, -A, true}, "Axis limits invalid"}, // log without data
        {{0, 1, false, A, A, A, 10}, "Too many digits in labels"},
        {{0, 1, false, A, A, 0.25f, 1}, "Inconsistent label format"},
        {{0, 1, false, A, A, 0}, "Invalid major unit"},
        {{0, 10, false, 5, 1}, "Internal error"}, // labels outside the axis
        {{0, 0, false}, ""},                      // all zero: silent
    };
    for (const auto& [in, message] : rows) {
        ScaleOutcome out;
        Scaled(in, out);
        EXPECT_TRUE(out.failed) << message;
        EXPECT_EQ(out.message, message);
    }
    // Raised: a range beyond floats, a label count beyond 16 bits, a log of a negative value.
    for (const Row& r :
         {Row{-3e38f, 3e38f, false}, Row{0, 1, false, A, A, 1e-5f, 5}, Row{-2, 3, true}}) {
        ScaleOutcome out;
        EXPECT_THROW(Scaled(r, out), RuntimeError) << r.lo;
    }
}

} // namespace
} // namespace lumora
