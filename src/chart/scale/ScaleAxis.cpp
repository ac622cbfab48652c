#include "chart/scale/ScaleAxis.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"

#include <cmath>
#include <cstdlib>

namespace lumora {

namespace {

// Float overflow raises a run-time error instead of producing infinities, so no
// loop below can spin on inf.
float Fin(float v) {
    if (!std::isfinite(v)) throw RuntimeError(kOverflow);
    return v;
}

long Int16Checked(long v) {
    if (v < -32768 || v > 32767) throw RuntimeError(kOverflow);
    return v;
}

// A label's index, the multiple of the label interval, rounded half to even. 32 bits:
// large values with a narrow spread (40000..40003 by 0.5) have indices past 16 bits.
long LabelIndex(float q) {
    const double r = std::nearbyint(static_cast<double>(q));
    if (!(std::fabs(r) <= 2147483647.0)) throw RuntimeError(kOverflow);
    return static_cast<long>(r);
}

int Sign(float v) {
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

ScaleOutcome Fail(const char* message) {
    return {true, message};
}

/// Checks the data range (the user's limits when there are no data) and takes
/// the logarithms of the data on a log axis. Returns the failure message or null.
const char* CheckRange(const AxisState& axis, float& lo, float& hi) {
    if ((std::fabs(hi) != kChartAuto && lo != kChartAuto) || axis.LogScale) {
        if (hi < lo) return kAxisLimitsInvalid;
        if (axis.LogScale) {
            lo = ChartLog10(lo);
            hi = ChartLog10(hi);
        }
        return nullptr;
    }
    if (axis.Min == kChartAuto || axis.Max == kChartAuto) return kAxisLimitsNotDefined;
    if (axis.Max <= axis.Min) return kAxisLimitsInvalid;
    return nullptr;
}

/// Digits after the decimal point: the requested ones (0: enough to show the
/// leading digit of the larger end), at most 9. Returns the failure message, ""
/// for the silent failure when both ends are 0, or null.
const char* LabelDigits(int requested, float bottom, float top, int& digits) {
    digits = requested;
    if (digits > 9) return kTooManyDigits;
    if (digits == 0) {
        const float m = std::fabs(bottom) < std::fabs(top) ? top : bottom;
        if (m == 0.0f) return "";
        const int e = static_cast<int>(std::floor(ChartLog10(std::fabs(m))));
        digits = e < 0 ? -e : 0;
    }
    if (digits > 9) digits = 9;
    return nullptr;
}

/// A value as its label reads back.
float AsShown(float v, int digits) {
    return ReadLabel(LabelText(v, digits));
}

/// The automatic label interval: the smallest of 1, 2, 5 and 10 times a power of
/// ten (from 10^-digits up) that spans `range` in at most ten intervals, as its
/// label shows it. `parts` receives the minor count that goes with it.
float AutoMajor(float range, int digits, int& parts) {
    // 10^-digits by repeated float multiplication, rounding included.
    float unit = 1.0f;
    for (int i = 0; i < digits; ++i) unit *= 0.1f;
    for (;;) {
        const float q = range / unit;
        if (q <= 10.0f) {
            parts = 10;
            return AsShown(unit, digits);
        }
        if (q <= 20.0f) {
            parts = 2;
            return AsShown(Fin(2.0f * unit), digits);
        }
        if (q <= 50.0f) {
            parts = 5;
            return AsShown(Fin(5.0f * unit), digits);
        }
        if (q <= 100.0f) {
            parts = 10;
            return AsShown(Fin(10.0f * unit), digits);
        }
        unit = Fin(10.0f * unit);
    }
}

/// A user's lower limit stays; the first label is the first multiple of `major`
/// at or above it.
long FirstLabelFrom(float bottom, float major) {
    long n = LabelIndex(bottom / major);
    if (major * static_cast<float>(n) < bottom) ++n;
    return n;
}

/// An automatic lower end moves down by the margin, but not below 0 when it was
/// not negative, then down the minor ticks to at least one minor interval below.
/// Returns the index of the first label.
long WidenDown(float& bottom, float major, float minor, float margin) {
    const bool wasNegative = bottom < 0.0f;
    bottom = Fin(bottom - margin);
    if (!wasNegative && bottom < 0.0f) bottom = 0.0f; // non-negative data keep 0
    const long n = LabelIndex(bottom / major);
    float t = major * static_cast<float>(n);
    if (bottom != 0.0f) {
        while (bottom - minor < t) {
            const float next = t - minor;
            if (next == t) throw RuntimeError(kOverflow); // minor below float resolution
            t = next;
        }
    }
    bottom = t;
    return n;
}

/// A user's upper limit stays; the last label is the last multiple of `major` at
/// or below it.
long LastLabelUpTo(float top, float major) {
    long k = LabelIndex(top / major);
    if (major * static_cast<float>(k) > top) --k;
    return k;
}

/// An automatic upper end moves up by the margin (never clamped, unlike the lower
/// end), then up the minor ticks to at least one minor interval above.
/// Returns the index of the last label.
long WidenUp(float& top, float major, float minor, float margin) {
    top = Fin(top + margin);
    const long k = LabelIndex(top / major);
    float t = major * static_cast<float>(k);
    if (top != 0.0f) {
        while (top + minor > t) {
            const float next = t + minor;
            if (next == t) throw RuntimeError(kOverflow);
            t = next;
        }
    }
    top = t;
    return k;
}

/// Labels at the multiples n..k of the label interval (their signs taken from the
/// ends); false when one falls outside [bottom, top].
bool WriteLabels(AxisState& axis, long n, long k, float bottom, float top, int digits) {
    const float major = axis.Major;
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
        axis.LabelTexts(static_cast<int>(i)) = LabelText(v, digits);
        if (v < bottom || v > top) return false;
    }
    return true;
}

/// Minor intervals per label interval: the requested count (0: automatic; not one
/// of 1, 2, 5, 10: 1), or a fallback when the automatic count is coarser.
int MinorParts(int requested, int autoParts) {
    int p = requested;
    if (p != 0 && p != 1 && p != 2 && p != 5 && p != 10) p = 1;
    // Finer than the automatic count: 10 falls back to it, 2 and 5 to 1.
    if (p > 1 && autoParts != 0 && autoParts < p) p = p == 10 ? autoParts : 1;
    if (p == 0) p = autoParts;
    if (p == 0) p = 1; // a user's interval has no automatic count
    return p;
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
    if (const char* error = CheckRange(axis, lo, hi)) return Fail(error);

    // A log axis ignores the user's limits.
    const bool minSet = axis.Min != kChartAuto && !log;
    const bool maxSet = axis.Max != kChartAuto && !log;
    float top = Fin(maxSet ? axis.Max : hi);
    float bottom = Fin(minSet ? axis.Min : lo);

    int digits = 0;
    if (const char* error = LabelDigits(log ? 0 : axis.Digits, bottom, top, digits))
        return Fail(error);
    const float range = Fin(top - bottom);
    int autoParts = 0;
    const float major =
        axis.Unit != kChartAuto && !log ? axis.Unit : AutoMajor(range, digits, autoParts);
    if (AsShown(major, digits) != major) return Fail(kInconsistentLabelFormat);
    if (major == 0.0f) return Fail(kInvalidMajorUnit);

    const float minor = major / 10.0f;
    const float margin = range != 0.0f ? range / 20.0f : minor;
    const long n = minSet ? FirstLabelFrom(bottom, major) : WidenDown(bottom, major, minor, margin);
    const long k = maxSet ? LastLabelUpTo(top, major) : WidenUp(top, major, minor, margin);
    if (bottom == top) { // an empty span still gets a minor interval either side
        bottom = bottom - minor;
        top = top + minor;
    }
    axis.AxisHigh = top;
    axis.AxisLow = bottom;
    axis.Major = major;

    if (!WriteLabels(axis, n, k, bottom, top, digits)) return Fail(kInternalError);
    axis.MinorParts = static_cast<uint8_t>(MinorParts(log ? 0 : axis.Parts, autoParts));
    return {};
}

} // namespace lumora
