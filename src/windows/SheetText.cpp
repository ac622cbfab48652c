#include "windows/SheetText.h"

#include "base/NumText.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace lumora {

namespace {

int SignificantDigits(const std::string& text) {
    int digits = 0;
    bool leading = true;
    for (const char c : text) {
        if (c == 'E' || c == 'e') break;
        if (!std::isdigit(static_cast<unsigned char>(c))) continue;
        if (c == '0' && leading) continue;
        leading = false;
        ++digits;
    }
    return digits;
}

std::string NumberText(double x) {
    std::string text = NumberToText(x);
    // A value written from a float holds its binary expansion: 7 digits are its worth.
    if (static_cast<double>(static_cast<float>(x)) == x && SignificantDigits(text) > 9)
        text = SingleToText(static_cast<float>(x));
    return text;
}

/// A number written with a decimal point, whatever the locale (pasted from instruments).
std::optional<double> PointNumber(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    const char* first = t.data() + (t[0] == '+' ? 1 : 0);
    double x = 0;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), x);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(x)) return std::nullopt;
    return x;
}

} // namespace

std::string CellDisplayText(const CellValue& value) {
    if (const double* d = std::get_if<double>(&value)) return NumberText(*d);
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "TRUE" : "FALSE";
    if (const std::string* s = std::get_if<std::string>(&value)) return *s;
    return {};
}

CellValue CellFromText(const std::string& text) {
    if (Trim(text).empty()) return {};
    if (auto x = TextToNumber(text)) return *x;
    if (auto x = PointNumber(text)) return *x;
    return text;
}

CellBlock BlockFromTabText(const std::string& text) {
    CellBlock block;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<CellValue> row;
        for (size_t from = 0;;) {
            const size_t tab = line.find('\t', from);
            row.push_back(CellFromText(line.substr(from, tab - from)));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        block.push_back(std::move(row));
        start = end + 1;
    }
    return block;
}

std::string TabTextFromBlock(const CellBlock& block) {
    std::string text;
    for (const auto& row : block) {
        for (size_t j = 0; j < row.size(); ++j) {
            if (j > 0) text += '\t';
            text += CellDisplayText(row[j]);
        }
        text += '\n';
    }
    return text;
}

} // namespace lumora
