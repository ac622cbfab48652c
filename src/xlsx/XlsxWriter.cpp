#include "xlsx/XlsxWriter.h"

#include "base/RuntimeError.h"
#include "xlsx/GridWorkbook.h"

namespace lumora {

bool WriteNewXlsx(const std::string& path, const std::vector<NewSheet>& sheets,
                  std::string& error) {
    if (sheets.empty()) {
        error = "Cannot write " + path + ": a workbook needs at least one sheet";
        return false;
    }
    GridWorkbook book(path);
    try {
        for (const auto& s : sheets) {
            GridSheet* sheet = book.AddSheet(s.name);
            sheet->SetBlock(1, 1, s.rows);
            for (const auto& c : s.comments) sheet->SetComment(c.row, c.col, c.text);
        }
    } catch (const RuntimeError& e) {
        error = "Cannot write " + path + ": " + e.Description();
        return false;
    }
    book.SetActiveSheet(1);
    return book.Save(error);
}

} // namespace lumora
