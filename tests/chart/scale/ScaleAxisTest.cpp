// The tick engine on its own: the worked axis results, the settings that change
// them, and every failure, all through the real ScaleAxis.

#include "chart/scale/ScaleAxis.h"
#include "FuzzyCompare.h"
#include "base/NumText.h"
#include "base/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace lumora {
namespace {

AxisState Axis(float lo, float hi, bool log = false) {
    AxisState a;
    a.DataMin = lo;
    a.DataMax = hi;
    a.LogScale = log;
    return a;
}

std::vector<std::string> Labels(const AxisState& a) {
    std::vector<std::string> t;
    for (int i = 1; i <= a.LabelCount; ++i) t.push_back(a.LabelTexts(i));
    return t;
}

struct Worked {
    const char* name;
    float lo, hi;
    bool log;
    float axisLow, axisHigh;
    std::vector<std::string> labels;
    float major;
    int minor;
};

// Results worked out by hand from the scaling rules (margin of 1/20 of the range,
// ends widened to the next minor tick, non-negative data clamped at 0).
TEST(ScaleAxis, WorkedTable) {
    const std::vector<Worked> rows = {
        {"unit range", 0, 1, false, 0, 1.2f, {"0", "1"}, 1, 10},
        {"tenths",
         0.3f,
         0.87f,
         false,
         0.26f,
         0.91f,
         {"0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9"},
         0.1f,
         10},
        {"across zero", -2.3f, 7.9f, false, -3.2f, 8.8f, {"-2", "0", "2", "4", "6", "8"}, 2, 2},
        {"wavelengths",
         400,
         700,
         false,
         380,
         720,
         {"400", "450", "500", "550", "600", "650", "700"},
         50,
         5},
        {"one value", 1, 1, false, 0.8f, 1.2f, {"1"}, 1, 10},
        {"decades", 1E-6f, 3E-3f, true, -6.3f, -2, {"-6", "-5", "-4", "-3", "-2"}, 1, 10},
        // bottom - margin = 2.5 exactly: round() goes to the even 2, so the lower end
        // stays on that label instead of creeping down from 3 to 2.4
        {"tie to even",
         3,
         13,
         false,
         2,
         14,
         {"2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"},
         1,
         10},
    };
    for (const Worked& r : rows) {
        SCOPED_TRACE(r.name);
        AxisState a = Axis(r.lo, r.hi, r.log);
        const ScaleOutcome out = ScaleAxis(a);
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_TRUE(test::FuzzyEqual(a.AxisLow, r.axisLow, 1e-5, 1));
        EXPECT_TRUE(test::FuzzyEqual(a.AxisHigh, r.axisHigh, 1e-5, 1));
        EXPECT_EQ(Labels(a), r.labels);
        EXPECT_EQ(a.Major, r.major);
        EXPECT_EQ(a.MinorParts, r.minor);
        // Labels lie inside the axis and their texts read back as their values
        // (to float rounding: 9 x 0.1f is not 0.9f)
        for (int i = 1; i <= a.LabelCount; ++i) {
            EXPECT_GE(a.LabelValues(i), a.AxisLow);
            EXPECT_LE(a.LabelValues(i), a.AxisHigh);
            EXPECT_FLOAT_EQ(ReadLabel(a.LabelTexts(i)), a.LabelValues(i));
        }
        // the data stay in data units
        EXPECT_EQ(a.DataMin, r.lo);
        EXPECT_EQ(a.DataMax, r.hi);
    }
}

TEST(ScaleAxis, UserSettings) {
    { // limits and interval kept as given; labels only where they fit
        AxisState a = Axis(-1, 2);
        a.Min = -2.5f;
        a.Max = 3.5f;
        a.Unit = 1;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(a.AxisLow, -2.5f);
        EXPECT_EQ(a.AxisHigh, 3.5f);
        EXPECT_EQ(Labels(a), (std::vector<std::string>{"-2", "-1", "0", "1", "2", "3"}));
        EXPECT_EQ(a.MinorParts, 1); // a user interval has no automatic minor count
    }
    { // limits without data draw an empty frame with labels
        AxisState a = Axis(kChartAuto, -kChartAuto);
        a.Min = 0;
        a.Max = 10;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(a.AxisLow, 0);
        EXPECT_EQ(a.AxisHigh, 10);
        EXPECT_EQ(a.LabelCount, 11);
    }
    { // fixed digits
        AxisState a = Axis(0, 1);
        a.Digits = 2;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(a.LabelTexts(1), "0.00");
        EXPECT_EQ(a.LabelTexts(a.LabelCount), "1.00");
        EXPECT_EQ(a.LabelCount, 11);
        EXPECT_EQ(a.Major, 0.1f);
    }
    { // a log axis ignores digits, limits, unit and parts
        AxisState a = Axis(1E-6f, 3E-3f, true);
        a.Digits = 12;
        a.Min = 5;
        a.Max = 7;
        a.Unit = 0.25f;
        a.Parts = 2;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(Labels(a), (std::vector<std::string>{"-6", "-5", "-4", "-3", "-2"}));
        EXPECT_EQ(a.MinorParts, 10);
    }
}

TEST(ScaleAxis, MinorCountRequests) {
    struct Case {
        uint8_t parts;
        int minor;
    };
    // data -2.3 .. 7.9 give an automatic interval of 2 with 2 minor intervals
    for (const Case c :
         {Case{0, 2}, Case{1, 1}, Case{2, 2}, Case{3, 1}, Case{5, 1}, Case{10, 2}, Case{7, 1}}) {
        SCOPED_TRACE(int(c.parts));
        AxisState a = Axis(-2.3f, 7.9f);
        a.Parts = c.parts;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(a.MinorParts, c.minor);
    }
    // interval 50 (automatic 5): 10 falls back to 5, 2 stays
    for (const Case c : {Case{10, 5}, Case{2, 2}, Case{5, 5}}) {
        AxisState a = Axis(400, 700);
        a.Parts = c.parts;
        ASSERT_FALSE(ScaleAxis(a).failed);
        EXPECT_EQ(a.MinorParts, c.minor);
    }
}

TEST(ScaleAxis, Failures) {
    struct Case {
        const char* name;
        AxisState axis;
        std::string message;
    };
    auto with = [](AxisState a, auto change) {
        change(a);
        return a;
    };
    const AxisState noData = Axis(kChartAuto, -kChartAuto);
    const std::vector<Case> cases = {
        {"no data, automatic limits", noData, kAxisLimitsNotDefined},
        {"no data, only Min", with(noData, [](AxisState& a) { a.Min = 0; }), kAxisLimitsNotDefined},
        {"no data, Max below Min", with(noData, [](AxisState& a) { a.Min = 5, a.Max = 1; }),
         kAxisLimitsInvalid},
        {"no data, Max equal Min", with(noData, [](AxisState& a) { a.Min = 1, a.Max = 1; }),
         kAxisLimitsInvalid},
        {"reset record", Axis(kChartAuto, kChartAuto), kAxisLimitsNotDefined},
        {"log axis without data", with(noData, [](AxisState& a) { a.LogScale = true; }),
         kAxisLimitsInvalid},
        {"ten digits", with(Axis(0, 1), [](AxisState& a) { a.Digits = 10; }), kTooManyDigits},
        {"quarter with one digit",
         with(Axis(0, 1), [](AxisState& a) { a.Unit = 0.25f, a.Digits = 1; }),
         kInconsistentLabelFormat},
        {"zero interval", with(Axis(0, 1), [](AxisState& a) { a.Unit = 0; }), kInvalidMajorUnit},
        {"labels outside the axis", with(Axis(0, 10), [](AxisState& a) { a.Min = 5, a.Max = 1; }),
         kInternalError},
        {"all zero", Axis(0, 0), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AxisState a = c.axis;
        const ScaleOutcome out = ScaleAxis(a);
        EXPECT_TRUE(out.failed);
        EXPECT_EQ(out.message, c.message);
    }
    // Nine digits is the most there is
    AxisState a = Axis(0, 1);
    a.Digits = 9;
    EXPECT_FALSE(ScaleAxis(a).failed);
}

TEST(ScaleAxis, RunTimeFailuresRaise) {
    // a range beyond the float range, a label count beyond 16 bits, a log of a negative
    AxisState wide = Axis(-3e38f, 3e38f);
    EXPECT_THROW(ScaleAxis(wide), RuntimeError);
    AxisState far = Axis(1e8f, 1e8f);
    EXPECT_THROW(ScaleAxis(far), RuntimeError);
    AxisState many = Axis(0, 1);
    many.Unit = 1e-5f;
    many.Digits = 5;
    EXPECT_THROW(ScaleAxis(many), RuntimeError);
    AxisState negLog = Axis(-2, 3, true);
    EXPECT_THROW(ScaleAxis(negLog), RuntimeError);
}

TEST(ScaleAxis, DecimalLogarithm) {
    // ln(v) / 2.302585 slightly overshoots log10 at exact powers of ten
    EXPECT_EQ(ChartLog10(1.0f), 0.0f);
    EXPECT_GE(ChartLog10(10.0f), 1.0f);
    EXPECT_LE(ChartLog10(0.001f), -3.0f);
    EXPECT_NEAR(ChartLog10(2.0f), 0.30103f, 1e-6);
    EXPECT_THROW(ChartLog10(0.0f), RuntimeError);
    EXPECT_THROW(ChartLog10(-1.0f), RuntimeError);
    // 0.001 therefore gets four automatic digits
    AxisState a = Axis(0, 0.001f);
    ASSERT_FALSE(ScaleAxis(a).failed);
    EXPECT_EQ(a.LabelTexts(1), "0.0000");
}

TEST(ScaleAxis, LabelsFollowTheLocaleSeparator) {
    SetDecimalSeparator(',');
    AxisState a = Axis(0.3f, 0.87f);
    const ScaleOutcome out = ScaleAxis(a);
    SetDecimalSeparator('.');
    ASSERT_FALSE(out.failed) << out.message;
    EXPECT_EQ(a.LabelTexts(1), "0,3");
    EXPECT_EQ(a.Major, 0.1f);
}

TEST(ScaleAxis, LabelText) {
    EXPECT_EQ(LabelText(-2.0f, 0), "-2");
    EXPECT_EQ(LabelText(0.3f, 1), "0.3");
    EXPECT_EQ(LabelText(-0.0f, 1), "0.0");
    EXPECT_EQ(LabelText(12345678.0f, 0), "12345678");
    EXPECT_EQ(LabelText(0.000000001f, 9), "0.000000001");
    EXPECT_EQ(ReadLabel("0.000000001"), 0.000000001f);
}

} // namespace
} // namespace lumora
