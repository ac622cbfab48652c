#include "import/AbsorbanceCsv.h"

#include "engine/DataPath.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

namespace lumora {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

/// A problem found at a line and column (0: the whole line).
struct CsvError {
    int line = 0;
    int column = 0;
    std::string what;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

/// The fields of one line; a field in double quotes may hold the separator ("" is a quote).
void SplitLine(std::string_view line, char sep, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                field += line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == sep) {
            fields.emplace_back(Trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.emplace_back(Trim(field));
}

/// A number with a decimal point, or a decimal comma where the separator allows it.
bool ParseNumber(std::string s, bool decimalComma, double& v) {
    if (decimalComma) std::replace(s.begin(), s.end(), ',', '.');
    if (!s.empty() && s.front() == '+') s.erase(0, 1);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, v);
    return ec == std::errc() && ptr == end && std::isfinite(v);
}

class CsvReader {
public:
    explicit CsvReader(const std::string& text) : text_(text) {}

    void Read(AbsorbanceTable& t) {
        std::vector<std::string> fields;
        bool first = true;
        while (NextLine()) {
            if (Trim(line_).empty()) continue;
            if (first) ChooseDialect();
            SplitLine(line_, sep_, fields);
            if (first && IsHeader(fields)) {
                ReadHeader(fields, t);
            } else {
                if (first) Columns(fields.size(), t);
                ReadRow(fields, t);
            }
            first = false;
        }
        if (t.wavelengths.empty()) throw CsvError{lineNo_, 0, "no spectra"};
        PutInOrder(t);
    }

private:
    bool NextLine() {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        line_ = std::string_view(text_).substr(pos_, end - pos_);
        if (lineNo_ == 0 && line_.substr(0, 3) == "\xEF\xBB\xBF") line_.remove_prefix(3);
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    void ChooseDialect() {
        sep_ = line_.find('\t') != std::string_view::npos  ? '\t'
               : line_.find(';') != std::string_view::npos ? ';'
                                                           : ',';
        decimalComma_ = sep_ != ',';
    }

    /// A first line without a wavelength in its first field names the solutions.
    bool IsHeader(const std::vector<std::string>& fields) const {
        double v = 0;
        return !ParseNumber(fields[0], decimalComma_, v);
    }

    void Columns(size_t n, AbsorbanceTable& t) {
        if (n < 2) throw CsvError{lineNo_, 0, "a wavelength and at least one absorbance needed"};
        columns_ = n;
        for (size_t j = t.names.size() + 1; j < n; ++j) t.names.push_back("S" + std::to_string(j));
    }

    void ReadHeader(const std::vector<std::string>& fields, AbsorbanceTable& t) {
        for (size_t j = 1; j < fields.size(); ++j)
            t.names.push_back(fields[j].empty() ? "S" + std::to_string(j) : fields[j]);
        Columns(fields.size(), t);
    }

    void ReadRow(const std::vector<std::string>& fields, AbsorbanceTable& t) {
        if (fields.size() != columns_)
            throw CsvError{lineNo_, 0,
                           std::to_string(fields.size()) + " columns where the first line has " +
                               std::to_string(columns_)};
        double wl = 0;
        if (!ParseNumber(fields[0], decimalComma_, wl) || !(wl > 0))
            throw CsvError{lineNo_, 1, "the wavelength '" + fields[0] + "' is no positive number"};
        std::vector<double> row(columns_ - 1, kMissing);
        for (size_t j = 1; j < columns_; ++j)
            if (!fields[j].empty() && !ParseNumber(fields[j], decimalComma_, row[j - 1]))
                throw CsvError{lineNo_, static_cast<int>(j) + 1,
                               "'" + fields[j] + "' is not a number"};
        CheckOrder(wl, t);
        t.wavelengths.push_back(wl);
        t.absorbances.push_back(std::move(row));
    }

    /// Wavelengths must all grow or all fall.
    void CheckOrder(double wl, const AbsorbanceTable& t) {
        if (t.wavelengths.empty()) return;
        const int dir = wl > t.wavelengths.back() ? 1 : wl < t.wavelengths.back() ? -1 : 0;
        if (dir == 0 || (direction_ != 0 && dir != direction_))
            throw CsvError{lineNo_, 1,
                           dir == 0 ? "wavelength repeated"
                                    : "the wavelengths must all grow or all fall"};
        direction_ = dir;
    }

    void PutInOrder(AbsorbanceTable& t) const {
        if (direction_ >= 0) return;
        std::reverse(t.wavelengths.begin(), t.wavelengths.end());
        std::reverse(t.absorbances.begin(), t.absorbances.end());
    }

    const std::string& text_;
    size_t pos_ = 0;
    std::string_view line_;
    int lineNo_ = 0;
    char sep_ = ',';
    bool decimalComma_ = false;
    size_t columns_ = 0;
    int direction_ = 0;
};

std::string Located(const CsvError& e) {
    std::ostringstream os;
    os << "line " << e.line;
    if (e.column > 0) os << ", column " << e.column;
    os << ": " << e.what;
    return os.str();
}

} // namespace

bool ReadAbsorbanceCsv(const std::string& text, AbsorbanceTable& table, std::string& error) {
    table = AbsorbanceTable{};
    try {
        CsvReader(text).Read(table);
    } catch (const CsvError& e) {
        table = AbsorbanceTable{};
        error = Located(e);
        return false;
    }
    return true;
}

bool LoadAbsorbanceCsv(const std::string& path, AbsorbanceTable& table, std::string& error) {
    if (const std::string why = NotARegularFile(path); !why.empty()) {
        error = path + ": " + why;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ReadAbsorbanceCsv(text.str(), table, error)) {
        error = path + ", " + error;
        return false;
    }
    return true;
}

} // namespace lumora
