#include "base/NumText.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumora {

namespace {
char g_sep = '.';

std::string Localize(std::string s) {
    if (g_sep != '.')
        for (char& c : s)
            if (c == '.') c = g_sep;
    return s;
}

// printf's %G writes "1E-05"; the toolkit writes the same, so only the separator changes.
std::string Significant(double x, int digits) {
    if (x == 0.0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, x);
    return buf;
}
} // namespace

char DecimalSeparator() {
    return g_sep;
}
void SetDecimalSeparator(char sep) {
    g_sep = sep;
}
void UseSystemDecimalSeparator() {
    // Read the user's separator, then keep the C library in the "C" numeric locale:
    // the conversions here rely on printf and strtod using '.'.
    std::setlocale(LC_NUMERIC, "");
    const lconv* lc = std::localeconv();
    g_sep = (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
    std::setlocale(LC_NUMERIC, "C");
}

std::string NumberToText(double x) {
    return Localize(Significant(x, 15));
}
std::string SingleToText(float x) {
    return Localize(Significant(static_cast<double>(x), 7));
}

std::string Str(double x) {
    std::string s = Significant(x, 15);
    return x >= 0 ? " " + s : s;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && s[a] == ' ') ++a;
    while (b > a && s[b - 1] == ' ') --b;
    return s.substr(a, b - a);
}

std::string LCase(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

namespace {
// Rounds half away from zero at `decimals` places, as the toolkit's Format does;
// printf alone would round exact ties to even.
double RoundHalfAway(double x, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double y = x * scale;
    if (!(std::fabs(y) < 1e15)) return x;
    return std::round(y) / scale;
}

// Parses [sign] digits [sep digits] [(E|e|D|d) [sign] digits] from s at pos, into
// a text strtod understands; returns the number of characters used (0 if none).
size_t ScanNumber(const std::string& s, size_t pos, char sep, std::string& out) {
    size_t i = pos;
    out.clear();
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
    size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        out += s[i++];
        ++digits;
    }
    if (i < s.size() && s[i] == sep) {
        size_t j = i + 1;
        std::string frac;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) frac += s[j++];
        if (digits > 0 || !frac.empty()) {
            out += '.';
            out += frac;
            digits += frac.size();
            i = j;
        }
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        size_t j = i + 1;
        std::string ex = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ex += s[j++];
        size_t ed = 0;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            ex += s[j++];
            ++ed;
        }
        if (ed > 0) {
            out += ex;
            i = j;
        }
    }
    return i - pos;
}
} // namespace

std::optional<double> TextToNumber(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    std::string num;
    const size_t used = ScanNumber(t, 0, g_sep, num);
    if (used == 0 || used != t.size()) return std::nullopt;
    const double v = std::strtod(num.c_str(), nullptr);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

double TextToDouble(const std::string& text) {
    auto v = TextToNumber(text);
    if (!v) throw RuntimeError(kTypeMismatch);
    return *v;
}

bool IsNumeric(const std::string& text) {
    return TextToNumber(text).has_value();
}

double Val(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string num;
    if (ScanNumber(text, i, '.', num) == 0) return 0.0;
    const double v = std::strtod(num.c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0;
}

std::string FormatNumber(double x, const std::string& pattern) {
    // Pattern pieces: integer digits, decimals, optional exponent "E+00" / "E-0".
    size_t e = pattern.find_first_of("Ee");
    const std::string mant = pattern.substr(0, e);
    const size_t dot = mant.find('.');
    int decimals = 0, optionalDecimals = 0;
    if (dot != std::string::npos)
        for (size_t i = dot + 1; i < mant.size(); ++i) {
            if (mant[i] == '0') ++decimals;
            if (mant[i] == '#') ++optionalDecimals;
        }
    int intZeros = 0;
    for (size_t i = 0; i < std::min(dot, mant.size()); ++i)
        if (mant[i] == '0') ++intZeros;

    std::string out;
    if (e == std::string::npos) {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", decimals + optionalDecimals,
                      RoundHalfAway(std::fabs(x), decimals + optionalDecimals));
        out = buf;
        if (optionalDecimals > 0) {
            size_t keep = out.size();
            int trimmed = 0;
            while (trimmed < optionalDecimals && keep > 0 && out[keep - 1] == '0') {
                --keep;
                ++trimmed;
            }
            out.resize(keep);
            if (!out.empty() && out.back() == '.') out.pop_back();
        }
        if (intZeros == 0 && out.size() > 1 && out[0] == '0' && out[1] == '.') out.erase(0, 1);
        const bool allZero = out.find_first_not_of("0.") == std::string::npos;
        if (x < 0 && !allZero) out = "-" + out;
        return Localize(out);
    }

    const bool alwaysSign = e + 1 < pattern.size() && pattern[e + 1] == '+';
    int expDigits = 0;
    for (size_t i = e + 1; i < pattern.size(); ++i)
        if (pattern[i] == '0') ++expDigits;
    const int intDigits = std::max(1, intZeros);
    int exponent = 0;
    double m = std::fabs(x);
    if (m != 0.0) {
        exponent = static_cast<int>(std::floor(std::log10(m))) - (intDigits - 1);
        m = RoundHalfAway(m / std::pow(10.0, exponent), decimals);
        // Rounding may carry into a new digit: 9.999 with 2 decimals is 1.00E+01.
        if (m >= std::pow(10.0, intDigits)) {
            ++exponent;
            m = RoundHalfAway(m / 10.0, decimals);
        }
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, m);
    out = buf;
    if (x < 0) out = "-" + out;
    std::string ex = std::to_string(std::abs(exponent));
    while (static_cast<int>(ex.size()) < std::max(1, expDigits)) ex = "0" + ex;
    const char sign = exponent < 0 ? '-' : (alwaysSign ? '+' : '\0');
    out += 'E';
    if (sign) out += sign;
    out += ex;
    return Localize(out);
}

} // namespace lumora
