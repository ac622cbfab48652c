#include "xlsx/XlsxRead.h"

#include "base/NumText.h"
#include "sheet/CellRef.h"
#include "xlsx/XlsxPackage.h"
#include "xlsx/XlsxSheetText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

namespace lumora {

namespace {

bool ParseDouble(std::string_view s, double& x) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n'))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(x);
}

/// Cell elements ("<c ...>", "<x:c ...>") of a sheet's text, counted before it is parsed.
uint64_t CountCells(std::string_view text) {
    uint64_t n = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const size_t end = text.find_first_of(" \t\r\n/>", at + 1);
        if (end == std::string_view::npos) break;
        const std::string_view name = text.substr(at + 1, end - at - 1);
        n += name == "c" || (name.size() > 2 && name.ends_with(":c"));
    }
    return n;
}

bool ParseIndex(std::string_view s, long& n) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    return ec == std::errc() && end == s.data() + s.size() && n >= 0;
}

class Reader {
public:
    Reader(const ZipArchive& zip, const XlsxLimits& limits, std::string& error)
        : zip_(zip), limits_(limits), error_(error) {}

    /// What kind of failure Run had.
    enum class Verdict { Damaged, Foreign, TooLarge };
    Verdict verdict = Verdict::Damaged;

    bool Run(XlsxBook& book) {
        if (!CheckPackage()) return false;
        std::vector<Relationship> rootRels;
        if (!ReadRels("", rootRels)) return false;
        std::string workbookPart = "xl/workbook.xml";
        if (auto* r = FindRelationship(rootRels, "officeDocument")) workbookPart = r->target;
        if (!zip_.Find(workbookPart)) {
            verdict = Verdict::Foreign;
            return Fail("no workbook part (" + workbookPart + ")");
        }

        pugi::xml_document wb;
        std::vector<Relationship> rels;
        if (!ReadPart(workbookPart, wb) || !ReadRels(workbookPart, rels)) return false;
        if (LocalName(wb.document_element()) != "workbook")
            return Fail(workbookPart + ": no workbook element");
        if (auto* ss = FindRelationship(rels, "sharedStrings");
            ss && !ReadSharedStrings(ss->target))
            return false;

        auto sheets = Child(wb.document_element(), "sheets");
        for (auto s : Children(sheets, "sheet")) {
            XlsxSheet sheet;
            sheet.name = s.attribute("name").value();
            std::string rid;
            for (auto a : s.attributes()) {
                std::string_view name = a.name();
                if (name.size() > 3 && name.substr(name.size() - 3) == ":id") rid = a.value();
            }
            const Relationship* rel = nullptr;
            for (const auto& r : rels)
                if (r.id == rid && !r.external) rel = &r;
            if (!rel) return Fail(workbookPart + ": sheet \"" + sheet.name + "\" has no part");
            sheet.part = rel->target;
            sheet.worksheet = TypeIs(rel->type, "worksheet");
            if (sheet.worksheet && !ReadSheet(sheet)) return false;
            book.sheets.push_back(std::move(sheet));
        }
        if (book.sheets.empty()) return Fail(workbookPart + ": no sheets");

        book.activeTab = 0;
        auto view = Child(Child(wb.document_element(), "bookViews"), "workbookView");
        int tab = view.attribute("activeTab").as_int(0);
        if (tab >= 0 && tab < static_cast<int>(book.sheets.size())) book.activeTab = tab;
        return VerifyUnreadParts();
    }

private:
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    bool TooLarge(const std::string& message) {
        verdict = Verdict::TooLarge;
        return Fail(message);
    }

    /// Each part once (part names compare ignoring case), all of them within the limit.
    bool CheckPackage() {
        std::set<std::string> names;
        for (const auto& name : zip_.Names())
            if (!names.insert(LCase(name)).second) return Fail("two parts named " + name);
        uint64_t size = 0;
        if (!zip_.DeclaredSize(size, error_)) return false;
        if (size > limits_.unpackedBytes)
            return TooLarge("it unpacks to more than " +
                            std::to_string(limits_.unpackedBytes >> 20) + " MB");
        return true;
    }

    /// A save writes the parts that were not read back as they are: damage in them must
    /// show now, not after a long run.
    bool VerifyUnreadParts() {
        for (const auto& name : zip_.Names())
            if (!read_.count(LCase(name)) && !zip_.Verify(name, error_)) return false;
        return true;
    }

    bool ReadText(const std::string& part, std::string& text) {
        read_.insert(LCase(part));
        return zip_.Read(part, text, error_);
    }

    bool ReadPart(const std::string& part, pugi::xml_document& doc) {
        std::string text;
        return ReadText(part, text) && ParseXml(text, doc, part, error_);
    }

    bool ReadRels(const std::string& part, std::vector<Relationship>& rels) {
        read_.insert(LCase(RelsPartOf(part)));
        return ReadRelationships(zip_, part, rels, error_);
    }

    /// The sheet's cells count towards the limit before its text is parsed; its rows are
    /// parsed one at a time.
    bool ReadSheetPart(XlsxSheet& sheet, SheetText& parts) {
        std::string text;
        if (!ReadText(sheet.part, text)) return false;
        const uint64_t count = CountCells(text);
        cells_ += count;
        if (cells_ > limits_.cells)
            return TooLarge("more than " + std::to_string(limits_.cells) + " cells");
        sheet.cells.reserve(count);
        return SplitSheet(std::move(text), sheet.part, parts, error_);
    }

    bool ReadSharedStrings(const std::string& part) {
        pugi::xml_document doc;
        if (!ReadPart(part, doc)) return false;
        for (auto si : Children(doc.document_element(), "si")) strings_.push_back(RichText(si));
        return true;
    }

    bool CellPosition(pugi::xml_node node, const std::string& part, int& row, int& col) {
        auto r = node.attribute("r");
        if (!r) return true; // position follows the previous one
        if (!ParseCellRef(r.value(), row, col))
            return Fail(part + ": invalid cell reference \"" + r.value() + "\"");
        return true;
    }

    bool ReadSheet(XlsxSheet& sheet) { return ReadRows(sheet) && ReadComments(sheet); }

    bool ReadRows(XlsxSheet& sheet) {
        SheetText parts;
        if (!ReadSheetPart(sheet, parts)) return false;
        // Rows and the cells of a row come in ascending order, each cell in its own row,
        // as spreadsheet programs write them; a file that breaks this (a cell twice, a
        // cell in another row) has no single meaning and is refused.
        int row = 0;
        pugi::xml_document doc;
        for (const SheetPiece& piece : parts.rows)
            if (!ParsePiece(parts, piece, doc, sheet.part, error_) ||
                !ReadRow(doc.document_element(), sheet, row))
                return false;
        return true;
    }

    bool ReadRow(pugi::xml_node rowNode, XlsxSheet& sheet, int& row) {
        int previous = row;
        if (auto r = rowNode.attribute("r")) {
            long n;
            if (!ParseIndex(r.value(), n) || n < 1 || n > kMaxRows)
                return Fail(sheet.part + ": invalid row number \"" + r.value() + "\"");
            row = static_cast<int>(n);
        } else {
            ++row;
        }
        if (row > kMaxRows) return Fail(sheet.part + ": too many rows");
        if (row <= previous)
            return Fail(sheet.part + ": row " + std::to_string(row) + " out of order");
        int col = 0;
        for (auto c : Children(rowNode, "c")) {
            int cellRow = row, previousCol = col;
            ++col;
            if (!CellPosition(c, sheet.part, cellRow, col)) return false;
            if (col > kMaxCols) return Fail(sheet.part + ": too many columns");
            if (cellRow != row || col <= previousCol)
                return Fail(sheet.part + ": cell " + c.attribute("r").value() +
                            " out of place in row " + std::to_string(row));
            CellValue value;
            if (!CellContent(c, sheet.part, value)) return false;
            bool formula = static_cast<bool>(Child(c, "f"));
            bool styled = static_cast<bool>(c.attribute("s"));
            if (!IsEmpty(value) || formula || styled)
                sheet.cells.push_back({cellRow, col, std::move(value), formula, styled});
        }
        return true;
    }

    bool ReadComments(XlsxSheet& sheet) {
        std::vector<Relationship> rels;
        if (!ReadRels(sheet.part, rels)) return false;
        if (auto* rel = FindRelationship(rels, "comments")) {
            pugi::xml_document comments;
            if (!ReadPart(rel->target, comments)) return false;
            auto list = Child(comments.document_element(), "commentList");
            for (auto cm : Children(list, "comment")) {
                int r, c;
                if (!ParseCellRef(cm.attribute("ref").value(), r, c))
                    return Fail(rel->target + ": invalid cell reference \"" +
                                cm.attribute("ref").value() + "\"");
                sheet.comments.push_back({r, c, RichText(Child(cm, "text"))});
            }
        }
        return true;
    }

    bool CellContent(pugi::xml_node c, const std::string& part, CellValue& value) {
        std::string_view type = c.attribute("t").value();
        auto v = Child(c, "v");
        if (type == "inlineStr") {
            if (auto is = Child(c, "is"))
                value = RichText(is);
            else if (v) // some writers put the text in <v>
                value = DecodeEscapes(v.text().get());
            return true;
        }
        if (!v) return true; // formatted but empty
        const char* text = v.text().get();
        if (type == "s") {
            long idx;
            if (!ParseIndex(text, idx) || idx >= static_cast<long>(strings_.size()))
                return Fail(part + ": invalid shared string index \"" + text + "\"");
            value = strings_[static_cast<size_t>(idx)];
        } else if (type == "str" || type == "d") {
            value = DecodeEscapes(text);
        } else if (type == "b") {
            value = std::strcmp(text, "0") != 0 && std::strcmp(text, "false") != 0;
        } else if (type == "e") {
            value = std::string(text); // "#DIV/0!", as the spreadsheet shows it
        } else if (type.empty() || type == "n") {
            if (*text == '\0') return true;
            double x;
            if (!ParseDouble(text, x)) return Fail(part + ": invalid number \"" + text + "\"");
            value = x;
        } else {
            return Fail(part + ": unknown cell type \"" + std::string(type) + "\"");
        }
        return true;
    }

    const ZipArchive& zip_;
    const XlsxLimits& limits_;
    std::string& error_;
    std::vector<std::string> strings_;
    /// Parts read (lower case), damage in them already seen
    std::set<std::string> read_;
    uint64_t cells_ = 0;
};

} // namespace

bool ReadXlsx(const std::string& bytes, XlsxBook& book, std::string& error,
              const XlsxLimits& limits) {
    book = {};
    if (bytes.empty()) {
        error = "Not an .xlsx workbook (the file is empty)";
        return false;
    }
    std::string why;
    auto zip = ZipArchive::OpenMemory(bytes, why);
    if (!zip) {
        error = "Not an .xlsx workbook (" + why + ")";
        return false;
    }
    Reader reader(*zip, limits, why);
    if (!reader.Run(book)) {
        book = {};
        switch (reader.verdict) {
        case Reader::Verdict::Foreign:
            error = "Not an .xlsx workbook (" + why + ")";
            break;
        case Reader::Verdict::TooLarge:
            error = "Workbook too large: " + why;
            break;
        case Reader::Verdict::Damaged:
            error = "Damaged or unreadable workbook: " + why;
            break;
        }
        return false;
    }
    return true;
}

} // namespace lumora
