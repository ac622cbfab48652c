#include "xlsx/XlsxPatch.h"

#include "sheet/CellRef.h"
#include "xlsx/FormulaShift.h"
#include "xlsx/XlsxPackage.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <strings.h>

namespace lumora {

namespace {

constexpr const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kRelTypeBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr const char* kPackageRelNs =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr const char* kStylesXml =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
    "</fonts><fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill>"
    "<patternFill patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/>"
    "<right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count=\"1\">"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
    "xfId=\"0\"/></cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
    "builtinId=\"0\"/></cellStyles></styleSheet>";

constexpr const char* kCtComments =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml";
constexpr const char* kCtVml = "application/vnd.openxmlformats-officedocument.vmlDrawing";
constexpr const char* kCtStyles =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";

/// Author written on comments the program adds.
constexpr const char* kAuthor = "Lumora";

std::string NumberText(double x) {
    std::array<char, 32> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), x);
    return ec == std::errc() ? std::string(buf.data(), end) : std::string("0");
}

const char* HorizontalName(int align) {
    switch (align) {
    case -4108:
        return "center";
    case -4131:
        return "left";
    case -4152:
        return "right";
    case -4130:
        return "justify";
    case -4117:
        return "distributed";
    case 5:
        return "fill";
    case 7:
        return "centerContinuous";
    default:
        return "general";
    }
}

bool NeedsPreserve(const std::string& s) {
    return !s.empty() && (std::isspace(static_cast<unsigned char>(s.front())) ||
                          std::isspace(static_cast<unsigned char>(s.back())) ||
                          s.find('\n') != std::string::npos);
}

void SetText(pugi::xml_node t, const std::string& text) {
    std::string encoded = EncodeEscapes(text);
    if (NeedsPreserve(encoded)) t.append_attribute("xml:space") = "preserve";
    t.append_child(pugi::node_pcdata).set_value(encoded.c_str());
}

/// Inserts an element before the first child whose local name is in followers
/// (the schema's order), else at the end.
pugi::xml_node InsertInOrder(pugi::xml_node parent, const std::string& name,
                             std::initializer_list<std::string_view> followers) {
    for (auto c : parent.children()) {
        if (c.type() != pugi::node_element) continue;
        for (auto f : followers)
            if (LocalName(c) == f) return parent.insert_child_before(name.c_str(), c);
    }
    return parent.append_child(name.c_str());
}

int NumberSuffix(const std::string& part, const std::string& stem, const std::string& ext) {
    auto slash = part.rfind('/');
    std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
    if (file.size() <= stem.size() + ext.size() || file.compare(0, stem.size(), stem) != 0 ||
        file.compare(file.size() - ext.size(), ext.size(), ext) != 0)
        return 0;
    return std::atoi(file.substr(stem.size(), file.size() - stem.size() - ext.size()).c_str());
}

/// A relationship part being edited.
struct RelsDoc {
    std::string owner;
    std::string part;
    pugi::xml_document doc;
    bool changed = false;

    bool Load(const ZipArchive& zip, const std::string& ownerPart, std::string& error) {
        owner = ownerPart;
        part = RelsPartOf(ownerPart);
        if (!zip.Find(part)) {
            doc.load_string(
                (std::string(kXmlDecl) + "<Relationships xmlns=\"" + kPackageRelNs + "\"/>")
                    .c_str(),
                pugi::parse_default | pugi::parse_declaration);
            return true;
        }
        std::string text;
        return zip.Read(part, text, error) && ParseXml(text, doc, part, error);
    }
    pugi::xml_node Root() { return doc.document_element(); }
    /// Adds a relationship to a part; returns its new id.
    std::string Add(const std::string& kind, const std::string& target) {
        std::set<std::string> ids;
        for (auto r : Children(Root(), "Relationship")) ids.insert(r.attribute("Id").value());
        int n = 1;
        while (ids.count("rId" + std::to_string(n))) ++n;
        std::string id = "rId" + std::to_string(n);
        auto r = Root().append_child((PrefixOf(Root()) + "Relationship").c_str());
        r.append_attribute("Id") = id.c_str();
        r.append_attribute("Type") = (std::string(kRelTypeBase) + kind).c_str();
        r.append_attribute("Target") = RelativeTarget(owner, target).c_str();
        changed = true;
        return id;
    }
    /// The target part of the first relationship of a kind, "" when none.
    std::string Target(std::string_view kind, std::string* id = nullptr) {
        for (auto r : Children(Root(), "Relationship")) {
            if (std::strcmp(r.attribute("TargetMode").value(), "External") == 0) continue;
            if (TypeIs(r.attribute("Type").value(), kind)) {
                if (id) *id = r.attribute("Id").value();
                return ResolveTarget(owner, r.attribute("Target").value());
            }
        }
        return "";
    }
    void RemoveKind(std::string_view kind) {
        for (auto r : Children(Root(), "Relationship"))
            if (TypeIs(r.attribute("Type").value(), kind)) {
                Root().remove_child(r);
                changed = true;
            }
    }
};

class Patcher {
public:
    Patcher(ZipArchive& zip, std::string& error) : zip_(zip), error_(error) {}

    bool Run(const std::vector<SheetPatch>& patches) {
        std::vector<Relationship> rootRels;
        if (!ReadRelationships(zip_, "", rootRels, error_)) return false;
        workbookPart_ = "xl/workbook.xml";
        if (auto* r = FindRelationship(rootRels, "officeDocument")) workbookPart_ = r->target;
        if (!workbookRels_.Load(zip_, workbookPart_, error_)) return false;

        bool anyCell = false;
        for (const auto& p : patches) {
            if (p.cells.empty() && p.comments.empty()) continue;
            anyCell = anyCell || !p.cells.empty();
            if (!PatchSheet(p)) return false;
        }
        if (anyCell && !MarkRecalculation()) return false;
        if (formulaOverwritten_ && !DropCalcChain()) return false;
        if (styles_ && !Store(stylesPart_, *styles_)) return false;
        if (workbookRels_.changed && !Store(workbookRels_.part, workbookRels_.doc)) return false;
        if (contentTypesChanged_ && !Store("[Content_Types].xml", *contentTypes_)) return false;
        return true;
    }

private:
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    bool Load(const std::string& part, pugi::xml_document& doc) {
        std::string text;
        return zip_.Read(part, text, error_) && ParseXml(text, doc, part, error_);
    }

    bool Store(const std::string& part, const pugi::xml_document& doc) {
        return zip_.Write(part, WriteXml(doc), error_);
    }

    // ---- content types

    bool ContentTypes() {
        if (contentTypes_) return true;
        contentTypes_ = std::make_unique<pugi::xml_document>();
        return Load("[Content_Types].xml", *contentTypes_);
    }

    bool AddOverride(const std::string& part, const char* type) {
        if (!ContentTypes()) return false;
        auto root = contentTypes_->document_element();
        for (auto o : Children(root, "Override"))
            if (o.attribute("PartName").value() == "/" + part) return true;
        auto o = root.append_child((PrefixOf(root) + "Override").c_str());
        o.append_attribute("PartName") = ("/" + part).c_str();
        o.append_attribute("ContentType") = type;
        contentTypesChanged_ = true;
        return true;
    }

    bool AddDefault(const char* ext, const char* type) {
        if (!ContentTypes()) return false;
        auto root = contentTypes_->document_element();
        for (auto d : Children(root, "Default"))
            if (strcasecmp(d.attribute("Extension").value(), ext) == 0) return true;
        auto d = root.prepend_child((PrefixOf(root) + "Default").c_str());
        d.append_attribute("Extension") = ext;
        d.append_attribute("ContentType") = type;
        contentTypesChanged_ = true;
        return true;
    }

    bool RemoveOverride(const std::string& part) {
        if (!ContentTypes()) return false;
        auto root = contentTypes_->document_element();
        for (auto o : Children(root, "Override"))
            if (strcasecmp(o.attribute("PartName").value(), ("/" + part).c_str()) == 0) {
                root.remove_child(o);
                contentTypesChanged_ = true;
            }
        return true;
    }

    /// A part name "dir/stemN.ext" not yet in the package.
    std::string FreePart(const std::string& dir, const std::string& stem, const std::string& ext) {
        for (int n = 1;; ++n) {
            std::string part = dir + stem + std::to_string(n) + ext;
            if (!zip_.Find(part) && !created_.count(part)) {
                created_.insert(part);
                return part;
            }
        }
    }

    // ---- workbook level

    bool MarkRecalculation() {
        pugi::xml_document wb;
        if (!Load(workbookPart_, wb)) return false;
        auto root = wb.document_element();
        auto calc = Child(root, "calcPr");
        if (!calc)
            calc = InsertInOrder(root, PrefixOf(root) + "calcPr",
                                 {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr",
                                  "smartTagTypes", "webPublishing", "fileRecoveryPr",
                                  "webPublishObjects", "extLst"});
        if (!calc.attribute("fullCalcOnLoad")) calc.append_attribute("fullCalcOnLoad");
        calc.attribute("fullCalcOnLoad") = "1";
        return Store(workbookPart_, wb);
    }

    bool DropCalcChain() {
        std::string chain = workbookRels_.Target("calcChain");
        if (chain.empty()) return true;
        workbookRels_.RemoveKind("calcChain");
        return zip_.Remove(chain, error_) && RemoveOverride(chain);
    }

    // ---- styles

    bool LoadStyles() {
        if (styles_) return true;
        styles_ = std::make_unique<pugi::xml_document>();
        stylesPart_ = workbookRels_.Target("styles");
        if (!stylesPart_.empty() && zip_.Find(stylesPart_)) return Load(stylesPart_, *styles_);
        // A package without styles gets the minimal one.
        if (stylesPart_.empty()) {
            stylesPart_ = ResolveTarget(workbookPart_, "styles.xml");
            workbookRels_.Add("styles", stylesPart_);
        }
        ParseXml(std::string(kXmlDecl) + kStylesXml, *styles_, stylesPart_, error_);
        return AddOverride(stylesPart_, kCtStyles);
    }

    /// Index of a cell format equal to base with the horizontal alignment set.
    bool AlignedFormat(int base, int align, int& index) {
        auto key = std::make_pair(base, align);
        if (auto it = xfCache_.find(key); it != xfCache_.end()) {
            index = it->second;
            return true;
        }
        if (!LoadStyles()) return false;
        auto root = styles_->document_element();
        auto xfs = Child(root, "cellXfs");
        if (!xfs)
            xfs = InsertInOrder(root, PrefixOf(root) + "cellXfs",
                                {"cellStyles", "dxfs", "tableStyles", "colors", "extLst"});
        auto list = Children(xfs, "xf");
        pugi::xml_node xf;
        if (list.empty()) {
            xf = xfs.append_child((PrefixOf(xfs) + "xf").c_str());
            for (const char* a : {"numFmtId", "fontId", "fillId", "borderId", "xfId"})
                xf.append_attribute(a) = "0";
            list.push_back(xf);
        }
        pugi::xml_node from = list[base >= 0 && base < int(list.size()) ? size_t(base) : 0];
        xf = xfs.append_copy(from);
        if (!xf.attribute("applyAlignment")) xf.append_attribute("applyAlignment");
        xf.attribute("applyAlignment") = "1";
        auto al = Child(xf, "alignment");
        if (!al) al = xf.prepend_child((PrefixOf(xf) + "alignment").c_str());
        if (!al.attribute("horizontal")) al.append_attribute("horizontal");
        al.attribute("horizontal") = HorizontalName(align);
        index = static_cast<int>(list.size());
        if (xfs.attribute("count")) xfs.attribute("count") = index + 1;
        xfCache_[key] = index;
        return true;
    }

    // ---- one sheet

    struct SheetXml {
        std::string part;
        pugi::xml_document doc;
        pugi::xml_node root, data;
        std::string prefix;
        std::map<int, pugi::xml_node> rows;
        std::map<int, std::map<int, pugi::xml_node>> cells;
        std::set<int> touched;
    };

    bool IndexRows(SheetXml& s) {
        int row = 0;
        for (auto r : Children(s.data, "row")) {
            if (auto a = r.attribute("r")) {
                long n = 0;
                auto [end, ec] = std::from_chars(a.value(), a.value() + std::strlen(a.value()), n);
                if (ec != std::errc() || *end != '\0' || n < 1 || n > kMaxRows)
                    return Fail(s.part + ": invalid row number \"" + a.value() + "\"");
                row = static_cast<int>(n);
            } else {
                r.append_attribute("r") = ++row;
            }
            s.rows[row] = r;
        }
        return true;
    }

    bool IndexCells(SheetXml& s, int row) {
        if (s.cells.count(row)) return true;
        auto& index = s.cells[row];
        int col = 0;
        for (auto c : Children(s.rows[row], "c")) {
            if (auto a = c.attribute("r")) {
                int r;
                if (!ParseCellRef(a.value(), r, col))
                    return Fail(s.part + ": invalid cell reference \"" + a.value() + "\"");
            } else {
                c.append_attribute("r") = CellName(row, ++col).c_str();
            }
            index[col] = c;
        }
        return true;
    }

    pugi::xml_node MakeRow(SheetXml& s, int row) {
        auto next = s.rows.upper_bound(row);
        std::string name = s.prefix + "row";
        auto node = next == s.rows.end() ? s.data.append_child(name.c_str())
                                         : s.data.insert_child_before(name.c_str(), next->second);
        node.append_attribute("r") = row;
        s.rows[row] = node;
        s.cells[row];
        return node;
    }

    pugi::xml_node MakeCell(SheetXml& s, int row, int col) {
        auto& index = s.cells[row];
        auto next = index.upper_bound(col);
        std::string name = s.prefix + "c";
        auto node = next == index.end()
                        ? s.rows[row].append_child(name.c_str())
                        : s.rows[row].insert_child_before(name.c_str(), next->second);
        node.append_attribute("r") = CellName(row, col).c_str();
        index[col] = node;
        return node;
    }

    /// Another cell of a shared formula takes over the formula of its master cell
    /// before the master is overwritten, so the group keeps its formulas.
    void HandOverSharedFormula(SheetXml& s, pugi::xml_node master, pugi::xml_node f, int row,
                               int col) {
        std::string si = f.attribute("si").value();
        std::string text = f.text().get();
        for (auto rowNode : Children(s.data, "row")) {
            for (auto c : Children(rowNode, "c")) {
                if (c == master) continue;
                auto g = Child(c, "f");
                if (!g || std::strcmp(g.attribute("t").value(), "shared") != 0 ||
                    si != g.attribute("si").value() || *g.text().get() != '\0')
                    continue;
                int r2, c2;
                if (!ParseCellRef(c.attribute("r").value(), r2, c2)) continue;
                g.text().set(ShiftFormula(text, r2 - row, c2 - col).c_str());
                if (!g.attribute("ref")) g.append_attribute("ref");
                g.attribute("ref") = f.attribute("ref").value();
                return;
            }
        }
    }

    bool ApplyCell(SheetXml& s, const CellWrite& w) {
        bool needed = (w.writeValue && !IsEmpty(w.newValue)) || w.align != 0;
        if (!s.rows.count(w.row)) {
            if (!needed) return true;
            MakeRow(s, w.row);
        }
        if (!IndexCells(s, w.row)) return false;
        auto& index = s.cells[w.row];
        auto it = index.find(w.col);
        if (it == index.end() && !needed) return true;
        pugi::xml_node c = it == index.end() ? MakeCell(s, w.row, w.col) : it->second;
        s.touched.insert(w.row);

        if (w.writeValue || w.dropStyle) {
            if (auto f = Child(c, "f")) {
                formulaOverwritten_ = true;
                if (std::strcmp(f.attribute("t").value(), "shared") == 0 && f.attribute("ref"))
                    HandOverSharedFormula(s, c, f, w.row, w.col);
            }
            while (c.first_child()) c.remove_child(c.first_child());
            for (const char* a : {"t", "cm", "vm", "ph"}) c.remove_attribute(a);
            if (w.dropStyle) c.remove_attribute("s");
            if (const auto* d = std::get_if<double>(&w.newValue)) {
                c.append_child((s.prefix + "v").c_str())
                    .append_child(pugi::node_pcdata)
                    .set_value(NumberText(*d).c_str());
            } else if (const auto* b = std::get_if<bool>(&w.newValue)) {
                c.append_attribute("t") = "b";
                c.append_child((s.prefix + "v").c_str())
                    .append_child(pugi::node_pcdata)
                    .set_value(*b ? "1" : "0");
            } else if (const auto* t = std::get_if<std::string>(&w.newValue)) {
                c.append_attribute("t") = "inlineStr";
                SetText(c.append_child((s.prefix + "is").c_str())
                            .append_child((s.prefix + "t").c_str()),
                        *t);
            }
        }
        if (w.align != 0) {
            int index2;
            if (!AlignedFormat(c.attribute("s").as_int(0), w.align, index2)) return false;
            if (!c.attribute("s")) c.append_attribute("s");
            c.attribute("s") = index2;
        }
        if (!c.first_child() && !c.attribute("s")) {
            s.rows[w.row].remove_child(c);
            index.erase(w.col);
        }
        return true;
    }

    void TidyRows(SheetXml& s) {
        for (int row : s.touched) {
            auto node = s.rows[row];
            node.remove_attribute("spans"); // an optional hint that may no longer hold
            bool extra = false;
            for (auto a : node.attributes())
                if (std::strcmp(a.name(), "r") != 0) extra = true;
            if (!extra && Children(node, "c").empty()) {
                s.data.remove_child(node);
                s.rows.erase(row);
                s.cells.erase(row);
            }
        }
    }

    void UpdateDimension(SheetXml& s) {
        auto dim = Child(s.root, "dimension");
        if (!dim) return;
        int r1 = kMaxRows + 1, c1 = kMaxCols + 1, r2 = 0, c2 = 0;
        for (auto& [row, node] : s.rows) {
            for (auto c : Children(node, "c")) {
                int r, col;
                if (!ParseCellRef(c.attribute("r").value(), r, col)) continue;
                r1 = std::min(r1, r), r2 = std::max(r2, r);
                c1 = std::min(c1, col), c2 = std::max(c2, col);
            }
        }
        std::string ref = r2 == 0                  ? "A1"
                          : (r1 == r2 && c1 == c2) ? CellName(r1, c1)
                                                   : CellName(r1, c1) + ":" + CellName(r2, c2);
        dim.attribute("ref") = ref.c_str();
    }

    bool PatchSheet(const SheetPatch& p) {
        SheetXml s;
        s.part = p.part;
        if (!Load(p.part, s.doc)) return false;
        s.root = s.doc.document_element();
        if (LocalName(s.root) != "worksheet") return Fail(p.part + ": not a worksheet");
        s.prefix = PrefixOf(s.root);
        s.data = Child(s.root, "sheetData");
        if (!s.data) {
            s.data = InsertInOrder(s.root, s.prefix + "sheetData",
                                   {"sheetCalcPr",
                                    "sheetProtection",
                                    "protectedRanges",
                                    "scenarios",
                                    "autoFilter",
                                    "sortState",
                                    "dataConsolidate",
                                    "customSheetViews",
                                    "mergeCells",
                                    "phoneticPr",
                                    "conditionalFormatting",
                                    "dataValidations",
                                    "hyperlinks",
                                    "printOptions",
                                    "pageMargins",
                                    "pageSetup",
                                    "headerFooter",
                                    "rowBreaks",
                                    "colBreaks",
                                    "customProperties",
                                    "cellWatches",
                                    "ignoredErrors",
                                    "smartTags",
                                    "drawing",
                                    "legacyDrawing",
                                    "legacyDrawingHF",
                                    "picture",
                                    "oleObjects",
                                    "controls",
                                    "webPublishItems",
                                    "tableParts",
                                    "extLst"});
        }
        if (!IndexRows(s)) return false;
        for (const auto& w : p.cells)
            if (!ApplyCell(s, w)) return false;
        TidyRows(s);
        UpdateDimension(s);
        if (!p.comments.empty() && !PatchComments(s, p.comments)) return false;
        return Store(p.part, s.doc);
    }

    // ---- comments

    static std::string VmlShape(int row, int col, long id) {
        std::string anchor = std::to_string(col) + ", 15, " + std::to_string(std::max(row - 2, 0)) +
                             ", 10, " + std::to_string(col + 2) + ", 15, " +
                             std::to_string(std::max(row - 2, 0) + 4) + ", 4";
        return "<v:shape id=\"_x0000_s" + std::to_string(id) +
               "\" type=\"#_x0000_t202\" style=\"position:absolute;margin-left:59.25pt;"
               "margin-top:1.5pt;width:108pt;height:59.25pt;z-index:1;visibility:hidden\" "
               "fillcolor=\"#ffffe1\" o:insetmode=\"auto\"><v:fill color2=\"#ffffe1\"/>"
               "<v:shadow on=\"t\" color=\"black\" obscured=\"t\"/><v:path o:connecttype=\"none\"/>"
               "<v:textbox style=\"mso-direction-alt:auto\"><div style=\"text-align:left\"></div>"
               "</v:textbox><x:ClientData ObjectType=\"Note\"><x:MoveWithCells/><x:SizeWithCells/>"
               "<x:Anchor>" +
               anchor + "</x:Anchor><x:AutoFill>False</x:AutoFill><x:Row>" +
               std::to_string(row - 1) + "</x:Row><x:Column>" + std::to_string(col - 1) +
               "</x:Column></x:ClientData></v:shape>";
    }

    /// Prefix bound to the relationships namespace on the sheet's root, added when missing.
    static std::string RelPrefix(pugi::xml_node root) {
        for (auto a : root.attributes()) {
            std::string_view name = a.name();
            if (name.substr(0, 6) == "xmlns:" && std::strcmp(a.value(), kRelNs) == 0)
                return std::string(name.substr(6));
        }
        std::string prefix = root.attribute("xmlns:r") ? "lumora_r" : "r";
        root.append_attribute(("xmlns:" + prefix).c_str()) = kRelNs;
        return prefix;
    }

    bool PatchComments(SheetXml& s, const std::vector<CommentWrite>& writes) {
        RelsDoc rels;
        if (!rels.Load(zip_, s.part, error_)) return false;
        std::string part = rels.Target("comments");
        pugi::xml_document doc;
        if (!part.empty() && zip_.Find(part)) {
            if (!Load(part, doc)) return false;
        } else {
            if (part.empty()) {
                part = FreePart("xl/", "comments", ".xml");
                rels.Add("comments", part);
            }
            ParseXml(std::string(kXmlDecl) + "<comments xmlns=\"" + kMainNs +
                         "\"><authors/><commentList/></comments>",
                     doc, part, error_);
            if (!AddOverride(part, kCtComments)) return false;
        }
        auto root = doc.document_element();
        std::string pre = PrefixOf(root);
        auto authors = Child(root, "authors");
        if (!authors) authors = root.prepend_child((pre + "authors").c_str());
        int authorId = 0;
        bool found = false;
        for (auto a : Children(authors, "author")) {
            if (std::strcmp(a.text().get(), kAuthor) == 0) {
                found = true;
                break;
            }
            ++authorId;
        }
        if (!found) authors.append_child((pre + "author").c_str()).text().set(kAuthor);
        auto list = Child(root, "commentList");
        if (!list)
            list = authors.parent().insert_child_after((pre + "commentList").c_str(), authors);

        std::map<std::pair<int, int>, pugi::xml_node> existing;
        for (auto cm : Children(list, "comment")) {
            int r, c;
            if (ParseCellRef(cm.attribute("ref").value(), r, c)) existing[{r, c}] = cm;
        }
        std::set<std::pair<int, int>> removed, added;
        for (const auto& w : writes) {
            auto key = std::make_pair(w.row, w.col);
            if (auto it = existing.find(key); it != existing.end()) {
                list.remove_child(it->second);
                existing.erase(it);
                removed.insert(key);
            }
            if (!w.text) continue;
            auto next = existing.upper_bound(key);
            auto cm = next == existing.end()
                          ? list.append_child((pre + "comment").c_str())
                          : list.insert_child_before((pre + "comment").c_str(), next->second);
            cm.append_attribute("ref") = CellName(w.row, w.col).c_str();
            cm.append_attribute("authorId") = authorId;
            SetText(cm.append_child((pre + "text").c_str()).append_child((pre + "t").c_str()),
                    *w.text);
            existing[key] = cm;
            added.insert(key);
            removed.erase(key);
        }
        if (!Store(part, doc)) return false;
        if (!PatchVml(s, rels, existing, removed, added)) return false;
        if (rels.changed && !Store(rels.part, rels.doc)) return false;
        return true;
    }

    /// Keeps the drawing of the comment boxes in step with the comments part.
    bool PatchVml(SheetXml& s, RelsDoc& rels,
                  const std::map<std::pair<int, int>, pugi::xml_node>& comments,
                  const std::set<std::pair<int, int>>& removed,
                  const std::set<std::pair<int, int>>& added) {
        std::string vml = rels.Target("vmlDrawing");
        if (vml.empty() || !zip_.Find(vml)) {
            if (comments.empty()) return true;
            bool link = vml.empty();
            if (link) vml = FreePart("xl/drawings/", "vmlDrawing", ".vml");
            int block = std::max(1, NumberSuffix(vml, "vmlDrawing", ".vml"));
            std::string text =
                "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" "
                "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
                "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><o:shapelayout v:ext=\"edit\">"
                "<o:idmap v:ext=\"edit\" data=\"" +
                std::to_string(block) +
                "\"/></o:shapelayout><v:shapetype id=\"_x0000_t202\" coordsize=\"21600,21600\" "
                "o:spt=\"202\" path=\"m,l,21600r21600,l21600,xe\"><v:stroke joinstyle=\"miter\"/>"
                "<v:path gradientshapeok=\"t\" o:connecttype=\"rect\"/></v:shapetype>";
            long id = 1024L * block + 1;
            for (const auto& [pos, node] : comments) text += VmlShape(pos.first, pos.second, id++);
            text += "</xml>";
            if (!zip_.Write(vml, text, error_) || !AddDefault("vml", kCtVml)) return false;
            if (link) {
                std::string rid = rels.Add("vmlDrawing", vml);
                if (!Child(s.root, "legacyDrawing")) {
                    std::string rp = RelPrefix(s.root);
                    auto ld =
                        InsertInOrder(s.root, s.prefix + "legacyDrawing",
                                      {"legacyDrawingHF", "drawingHF", "picture", "oleObjects",
                                       "controls", "webPublishItems", "tableParts", "extLst"});
                    ld.append_attribute((rp + ":id").c_str()) = rid.c_str();
                }
            }
            return true;
        }
        // An existing drawing is adjusted only when it is well-formed XML; some writers
        // emit HTML-like VML, which is then left as it is.
        std::string text;
        pugi::xml_document doc;
        std::string ignored;
        if (!zip_.Read(vml, text, error_)) return false;
        if (!ParseXml(text, doc, vml, ignored)) return true;
        auto root = doc.document_element();
        long maxId = 1024;
        std::set<std::pair<int, int>> present;
        for (auto shape : Children(root, "shape")) {
            const char* sid = shape.attribute("id").value();
            if (std::strncmp(sid, "_x0000_s", 8) == 0) maxId = std::max(maxId, std::atol(sid + 8));
            auto cd = Child(shape, "ClientData");
            if (std::strcmp(cd.attribute("ObjectType").value(), "Note") != 0) continue;
            auto pos = std::make_pair(Child(cd, "Row").text().as_int() + 1,
                                      Child(cd, "Column").text().as_int() + 1);
            if (removed.count(pos))
                root.remove_child(shape);
            else
                present.insert(pos);
        }
        // The new shapes use the usual prefixes; some writers declare them elsewhere.
        const std::pair<const char*, const char*> kVmlNs[] = {
            {"xmlns:v", "urn:schemas-microsoft-com:vml"},
            {"xmlns:o", "urn:schemas-microsoft-com:office:office"},
            {"xmlns:x", "urn:schemas-microsoft-com:office:excel"}};
        for (const auto& pos : added) {
            if (present.count(pos)) continue;
            for (const auto& [attr, uri] : kVmlNs)
                if (!root.attribute(attr)) root.append_attribute(attr) = uri;
            pugi::xml_document frag;
            std::string wrapped = "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" "
                                  "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
                                  "xmlns:x=\"urn:schemas-microsoft-com:office:excel\">" +
                                  VmlShape(pos.first, pos.second, ++maxId) + "</xml>";
            frag.load_string(wrapped.c_str());
            root.append_copy(frag.document_element().first_child());
        }
        return Store(vml, doc);
    }

    ZipArchive& zip_;
    std::string& error_;
    std::string workbookPart_;
    RelsDoc workbookRels_;
    std::unique_ptr<pugi::xml_document> contentTypes_;
    bool contentTypesChanged_ = false;
    std::unique_ptr<pugi::xml_document> styles_;
    std::string stylesPart_;
    std::map<std::pair<int, int>, int> xfCache_;
    std::set<std::string> created_;
    bool formulaOverwritten_ = false;
};

} // namespace

bool WriteXlsxSkeleton(const std::string& path, const std::vector<SkeletonSheet>& sheets,
                       int activeTab, std::string& error) {
    auto zip = ZipArchive::OpenFile(path, true, error);
    if (!zip) return false;
    std::string types =
        std::string(kXmlDecl) +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+"
        "xml\"/><Override PartName=\"/xl/styles.xml\" ContentType=\"" +
        kCtStyles + "\"/>";
    std::string wbRels = std::string(kXmlDecl) + "<Relationships xmlns=\"" + kPackageRelNs + "\">";
    std::string book = std::string(kXmlDecl) + "<workbook xmlns=\"" + kMainNs + "\" xmlns:r=\"" +
                       kRelNs + "\"><bookViews><workbookView activeTab=\"" +
                       std::to_string(activeTab) + "\"/></bookViews><sheets>";
    pugi::xml_document esc; // escapes sheet names through pugixml
    for (size_t i = 0; i < sheets.size(); ++i) {
        std::string n = std::to_string(i + 1);
        types += "<Override PartName=\"/" + sheets[i].part +
                 "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml."
                 "worksheet+xml\"/>";
        wbRels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRelTypeBase +
                  "worksheet\" Target=\"" + RelativeTarget("xl/workbook.xml", sheets[i].part) +
                  "\"/>";
        auto s = esc.append_child("sheet");
        s.append_attribute("name") = EncodeEscapes(sheets[i].name).c_str();
        s.append_attribute("sheetId") = n.c_str();
        s.append_attribute("r:id") = ("rId" + n).c_str();
        std::string sheetXml = std::string(kXmlDecl) + "<worksheet xmlns=\"" + kMainNs +
                               "\" xmlns:r=\"" + kRelNs +
                               "\"><dimension ref=\"A1\"/><sheetData/><pageMargins left=\"0.7\" "
                               "right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
                               "footer=\"0.3\"/></worksheet>";
        if (!zip->Write(sheets[i].part, sheetXml, error)) return false;
    }
    std::ostringstream names;
    for (auto s : esc.children()) s.print(names, "", pugi::format_raw);
    book += names.str() + "</sheets><calcPr calcId=\"0\" fullCalcOnLoad=\"1\"/></workbook>";
    wbRels += "<Relationship Id=\"rId" + std::to_string(sheets.size() + 1) + "\" Type=\"" +
              kRelTypeBase + "styles\" Target=\"styles.xml\"/></Relationships>";
    types += "</Types>";
    std::string rootRels = std::string(kXmlDecl) + "<Relationships xmlns=\"" + kPackageRelNs +
                           "\"><Relationship Id=\"rId1\" Type=\"" + kRelTypeBase +
                           "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    return zip->Write("[Content_Types].xml", types, error) &&
           zip->Write("_rels/.rels", rootRels, error) &&
           zip->Write("xl/workbook.xml", book, error) &&
           zip->Write("xl/_rels/workbook.xml.rels", wbRels, error) &&
           zip->Write("xl/styles.xml", std::string(kXmlDecl) + kStylesXml, error) &&
           zip->Close(error);
}

bool PatchXlsx(const std::string& path, const std::vector<SheetPatch>& patches,
               std::string& error) {
    auto zip = ZipArchive::OpenFile(path, false, error);
    if (!zip) return false;
    Patcher patcher(*zip, error);
    return patcher.Run(patches) && zip->Close(error);
}

} // namespace lumora
