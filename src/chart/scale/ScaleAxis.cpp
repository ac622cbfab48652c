#include "chart/scale/ScaleAxis.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"

#include <cmath>
#include <cstdlib>

namespace lumora {

namespace {

// Single arithmetic of the original toolkit overflowed with a run-time error
// rather than producing infinities; keep that so no loop below can spin on inf.
float Fin(float v) {
    if (!std::isfinite(v)) throw RuntimeError(kOverflow);
    return v;
}

long Int16Checked(long v) {
    if (v < -32768 || v > 32767) throw RuntimeError(kOverflow);
    return v;
}

int Sign(float v) {
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

ScaleOutcome Fail(const char* message) {
    return {true, message};
}

} // namespace

void InitAxis(AxisState& axis) {
    axis.DataMin = axis.DataMax = kChartAuto;
    axis.Min = axis.Max = axis.Unit = kChartAuto;
    axis.Parts = axis.Digits = 0;
    axis.Title.clear();
    axis.LabelCount = 0;
    axis.LabelValues.Redim(0);
    axis.LabelTexts.Redim(0);
}

float ChartLog10(float v) {
    if (!(v > 0.0f)) throw RuntimeError(kInvalidCall);
    return static_cast<float>(std::log(static_cast<double>(v))) / 2.302585f;
}

std::string LabelText(float v, int digits) {
    std::string pattern = "##########0";
    if (digits > 0) pattern += "." + std::string(static_cast<size_t>(digits), '0');
    return FormatNumber(static_cast<double>(v), pattern);
}

float ReadLabel(const std::string& text) {
    return CSng(TextToDouble(text));
}

ScaleOutcome ScaleAxis(AxisState& axis) {
    const bool log = axis.LogScale;
    float lo = axis.DataMin, hi = axis.DataMax;

    // 1. Range check
    if ((std::fabs(hi) != kChartAuto && lo != kChartAuto) || log) {
        if (hi < lo) return Fail(kAxisLimitsInvalid);
        if (log) {
            lo = ChartLog10(lo);
            hi = ChartLog10(hi);
        }
    } else {
        if (axis.Min == kChartAuto || axis.Max == kChartAuto) return Fail(kAxisLimitsNotDefined);
        if (axis.Max <= axis.Min) return Fail(kAxisLimitsInvalid);
    }

    // 2. Working ends; a log axis ignores the user's limits
    const bool minSet = axis.Min != kChartAuto && !log;
    const bool maxSet = axis.Max != kChartAuto && !log;
    float top = Fin(maxSet ? axis.Max : hi);
    float bottom = Fin(minSet ? axis.Min : lo);

    // 3. Digits after the decimal point
    int d = log ? 0 : axis.Digits;
    if (d > 9) return Fail(kTooManyDigits);
    if (d == 0) {
        const float m = std::fabs(bottom) < std::fabs(top) ? top : bottom;
        if (m == 0.0f) return Fail("");
        const int e = static_cast<int>(std::floor(ChartLog10(std::fabs(m))));
        d = e < 0 ? -e : 0;
    }
    if (d > 9) d = 9;

    // 5. Base step 10^-d by repeated float multiplication
    float unit = 1.0f;
    for (int i = 0; i < d; ++i) unit *= 0.1f;

    const float range = Fin(top - bottom);

    // 7. Label interval and the automatic minor count
    float major;
    int a;
    if (axis.Unit != kChartAuto && !log) {
        major = axis.Unit;
        a = 0;
    } else {
        for (;;) {
            const float q = range / unit;
            if (q <= 10.0f) {
                major = unit;
                a = 10;
                break;
            }
            if (q <= 20.0f) {
                major = Fin(2.0f * unit);
                a = 2;
                break;
            }
            if (q <= 50.0f) {
                major = Fin(5.0f * unit);
                a = 5;
                break;
            }
            if (q <= 100.0f) {
                major = Fin(10.0f * unit);
                a = 10;
                break;
            }
            unit = Fin(10.0f * unit);
        }
        major = ReadLabel(LabelText(major, d));
    }
    if (ReadLabel(LabelText(major, d)) != major) return Fail(kInconsistentLabelFormat);
    if (major == 0.0f) return Fail(kInvalidMajorUnit);

    // 10. Requested minor count
    int p = log ? 0 : axis.Parts;
    if (p != 0 && p != 1 && p != 2 && p != 5 && p != 10) p = 1;

    const float minor = major / 10.0f;
    const float margin = range != 0.0f ? range / 20.0f : minor;

    // 12. Lower end: a user limit stays, an automatic one widens to a minor tick
    long n;
    if (minSet) {
        n = CInt16(bottom / major);
        if (major * static_cast<float>(n) < bottom) n = Int16Checked(n + 1);
    } else {
        const bool wasNegative = bottom < 0.0f;
        bottom = Fin(bottom - margin);
        if (!wasNegative && bottom < 0.0f) bottom = 0.0f; // non-negative data keep 0
        n = CInt16(bottom / major);
        float t = major * static_cast<float>(n);
        if (bottom != 0.0f) {
            while (bottom - minor < t) {
                const float next = t - minor;
                if (next == t) throw RuntimeError(kOverflow); // minor below float resolution
                t = next;
            }
        }
        bottom = t;
    }

    // 13. Upper end, never clamped
    long k;
    if (maxSet) {
        k = CInt16(top / major);
        if (major * static_cast<float>(k) > top) k = Int16Checked(k - 1);
    } else {
        top = Fin(top + margin);
        k = CInt16(top / major);
        float t = major * static_cast<float>(k);
        if (top != 0.0f) {
            while (top + minor > t) {
                const float next = t + minor;
                if (next == t) throw RuntimeError(kOverflow);
                t = next;
            }
        }
        top = t;
    }

    if (bottom == top) {
        bottom = bottom - minor;
        top = top + minor;
    }

    axis.AxisHigh = top;
    axis.AxisLow = bottom;
    axis.Major = major;

    // 16. Labels from n*major to k*major
    const long A = std::labs(n) + 1, B = std::labs(k) + 1;
    const long count =
        Int16Checked(Sign(top) * Sign(bottom) <= 0 ? A + B - 1 : std::labs(B - A) + 1);
    axis.LabelCount = static_cast<int16_t>(count);
    axis.LabelValues.Redim(static_cast<int>(count));
    axis.LabelTexts.Redim(static_cast<int>(count));

    const long f = bottom < 0.0f ? -std::labs(n) : std::labs(n);
    for (long i = 1; i <= count; ++i) {
        const float v = Fin(major * static_cast<float>(f + i - 1));
        axis.LabelValues(static_cast<int>(i)) = v;
        axis.LabelTexts(static_cast<int>(i)) = LabelText(v, d);
        if (v < bottom || v > top) return Fail(kInternalError);
    }

    // 18. Minor count: fall back to the automatic count when the request does not fit
    if (p > 1 && a != 0 && a < p) p = p == 10 ? a : 1;
    if (p == 0) p = a;
    if (p == 0) p = 1;
    axis.MinorParts = static_cast<uint8_t>(p);
    return {};
}

} // namespace lumora
