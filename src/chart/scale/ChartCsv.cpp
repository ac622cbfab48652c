#include "chart/scale/ChartCsv.h"

#include <charconv>

namespace lumora {

namespace {

std::string Field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string Number(std::optional<float> v) {
    if (!v) return {};
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, *v).ptr; // shortest exact form
    return std::string(buf, end);
}

template <class T, class F> void AppendRow(std::string& out, const std::vector<T>& row, F field) {
    for (size_t i = 0; i < row.size(); ++i) {
        if (i != 0) out += ',';
        out += field(row[i]);
    }
    out += '\n';
}

} // namespace

std::string CsvText(const CsvTable& table) {
    std::string out;
    AppendRow(out, table.header, Field);
    for (const auto& row : table.rows) AppendRow(out, row, Number);
    return out;
}

std::string CsvColumnName(const std::string& name, const std::string& quantity) {
    if (name.empty() || quantity.empty()) return name + quantity;
    return name + ": " + quantity;
}

} // namespace lumora
