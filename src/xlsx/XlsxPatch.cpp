#include "xlsx/XlsxPatch.h"

#include "sheet/CellRef.h"
#include "xlsx/FormulaShift.h"
#include "xlsx/XlsxPackage.h"
#include "xlsx/XlsxSheetText.h"

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

/// Where the rows go in the written frame of a sheet.
constexpr const char* kRowsMark = "lumora-rows";

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
            if (p.rows.empty() && p.comments.empty()) continue;
            anyCell = anyCell || !p.rows.empty();
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

    /// A shared formula whose master cell was overwritten, handed to the next cell of its
    /// group.
    struct Handover {
        std::string si;
        std::string text;
        std::string ref;
        int row = 0;
        int col = 0;
    };

    /// The sheet being patched: the part without its rows (the frame), and the new content
    /// of sheetData, the rows copied as they stand or rewritten, in pieces.
    struct SheetXml {
        std::string part;
        SheetText text;
        pugi::xml_node root, data;
        std::string prefix;
        std::vector<std::string> body;
        /// Size of the body's pieces before the last one
        size_t written = 0;
        /// Extent of the cells for the dimension
        int r1 = kMaxRows + 1, c1 = kMaxCols + 1, r2 = 0, c2 = 0;
        /// Overwritten masters whose group has no other cell yet
        std::vector<Handover> handovers;
    };

    /// One row being rewritten.
    struct RowXml {
        pugi::xml_document doc;
        pugi::xml_node node;
        int number = 0;
        std::map<int, pugi::xml_node> cells;
        bool indexed = false;
        /// A write reached a cell of the row
        bool touched = false;
        /// The row differs from its text in the file
        bool changed = false;
    };

    static bool Needed(const CellWrite& w) {
        return (w.writeValue && !IsEmpty(w.newValue)) || w.align != 0;
    }

    static void Emit(SheetXml& s, std::string_view text) {
        // Pieces that never grow, each as large as the body so far (from 64 kB to 4 MB): a
        // large body has no block of its full size and little room left unused.
        if (s.body.empty() || s.body.back().size() + text.size() > s.body.back().capacity()) {
            s.written += s.body.empty() ? 0 : s.body.back().size();
            s.body.emplace_back().reserve(
                std::max(text.size(), std::clamp<size_t>(s.written, 64u << 10, 4u << 20)));
        }
        s.body.back().append(text);
    }

    static void EmitNode(SheetXml& s, pugi::xml_node node) {
        struct Writer : pugi::xml_writer {
            SheetXml& s;
            explicit Writer(SheetXml& sheet) : s(sheet) {}
            void write(const void* data, size_t size) override {
                Emit(s, std::string_view(static_cast<const char*>(data), size));
            }
        } writer(s);
        node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    }

    static void Extend(SheetXml& s, std::string_view ref) {
        int r, col;
        if (!ParseCellRef(ref, r, col)) return;
        s.r1 = std::min(s.r1, r), s.r2 = std::max(s.r2, r);
        s.c1 = std::min(s.c1, col), s.c2 = std::max(s.c2, col);
    }

    bool RowNumber(SheetXml& s, RowXml& rx, int previous) {
        if (auto a = rx.node.attribute("r")) {
            long n = 0;
            auto [end, ec] = std::from_chars(a.value(), a.value() + std::strlen(a.value()), n);
            if (ec != std::errc() || *end != '\0' || n < 1 || n > kMaxRows)
                return Fail(s.part + ": invalid row number \"" + a.value() + "\"");
            rx.number = static_cast<int>(n);
        } else {
            rx.node.append_attribute("r") = rx.number = previous + 1;
            rx.changed = true;
        }
        // Rows the reader accepted come in order; new rows go between them.
        if (rx.number <= previous)
            return Fail(s.part + ": row " + std::to_string(rx.number) + " out of order");
        return true;
    }

    bool IndexCells(SheetXml& s, RowXml& rx) {
        if (rx.indexed) return true;
        rx.indexed = true;
        int col = 0;
        for (auto c : Children(rx.node, "c")) {
            if (auto a = c.attribute("r")) {
                int r;
                if (!ParseCellRef(a.value(), r, col))
                    return Fail(s.part + ": invalid cell reference \"" + a.value() + "\"");
            } else {
                c.append_attribute("r") = CellName(rx.number, ++col).c_str();
                rx.changed = true;
            }
            rx.cells[col] = c;
        }
        return true;
    }

    pugi::xml_node MakeCell(SheetXml& s, RowXml& rx, int col) {
        auto next = rx.cells.upper_bound(col);
        std::string name = s.prefix + "c";
        auto node = next == rx.cells.end()
                        ? rx.node.append_child(name.c_str())
                        : rx.node.insert_child_before(name.c_str(), next->second);
        node.append_attribute("r") = CellName(rx.number, col).c_str();
        rx.cells[col] = node;
        return node;
    }

    /// The first cell of the row (but skip) still waiting for the formula of h takes it.
    static bool TakeOver(RowXml& rx, const Handover& h, pugi::xml_node skip) {
        for (auto c : Children(rx.node, "c")) {
            if (c == skip) continue;
            auto g = Child(c, "f");
            if (!g || std::strcmp(g.attribute("t").value(), "shared") != 0 ||
                h.si != g.attribute("si").value() || *g.text().get() != '\0')
                continue;
            int r2, c2;
            if (!ParseCellRef(c.attribute("r").value(), r2, c2)) continue;
            g.text().set(ShiftFormula(h.text, r2 - h.row, c2 - h.col).c_str());
            if (!g.attribute("ref")) g.append_attribute("ref");
            g.attribute("ref") = h.ref.c_str();
            rx.changed = true;
            return true;
        }
        return false;
    }

    /// Another cell of a shared formula takes over the formula of its master cell before
    /// the master is overwritten, so the group keeps its formulas: a cell of the same row,
    /// else of a later one (a group starts at its master).
    static void HandOverSharedFormula(SheetXml& s, RowXml& rx, pugi::xml_node master,
                                      pugi::xml_node f, int col) {
        Handover h{f.attribute("si").value(), f.text().get(), f.attribute("ref").value(), rx.number,
                   col};
        if (!TakeOver(rx, h, master)) s.handovers.push_back(std::move(h));
    }

    static void TakePendingFormulas(SheetXml& s, RowXml& rx) {
        std::erase_if(s.handovers, [&](const Handover& h) { return TakeOver(rx, h, {}); });
    }

    bool ApplyCell(SheetXml& s, RowXml& rx, const CellWrite& w) {
        if (!IndexCells(s, rx)) return false;
        auto it = rx.cells.find(w.col);
        if (it == rx.cells.end() && !Needed(w)) return true;
        pugi::xml_node c = it == rx.cells.end() ? MakeCell(s, rx, w.col) : it->second;
        rx.touched = rx.changed = true;

        if (w.writeValue || w.dropStyle) {
            if (auto f = Child(c, "f")) {
                formulaOverwritten_ = true;
                if (std::strcmp(f.attribute("t").value(), "shared") == 0 && f.attribute("ref"))
                    HandOverSharedFormula(s, rx, c, f, w.col);
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
            rx.node.remove_child(c);
            rx.cells.erase(w.col);
        }
        return true;
    }

    /// Applies the writes to a row; false when it failed. The row goes when it is left
    /// with neither cells nor attributes of its own.
    bool ApplyRow(SheetXml& s, RowXml& rx, const std::vector<CellWrite>& writes, bool& keep) {
        keep = true;
        for (const auto& w : writes)
            if (!ApplyCell(s, rx, w)) return false;
        if (!rx.touched) return true;
        rx.node.remove_attribute("spans"); // an optional hint that may no longer hold
        bool extra = false;
        for (auto a : rx.node.attributes())
            if (std::strcmp(a.name(), "r") != 0) extra = true;
        keep = extra || !Children(rx.node, "c").empty();
        return true;
    }

    void EmitRow(SheetXml& s, const RowXml& rx) {
        for (auto c : Children(rx.node, "c")) Extend(s, c.attribute("r").value());
        EmitNode(s, rx.node);
    }

    /// A row the file does not have, made when a write puts something into it.
    bool NewRow(SheetXml& s, int number, const std::vector<CellWrite>& writes) {
        if (std::none_of(writes.begin(), writes.end(), Needed)) return true;
        RowXml rx;
        rx.node = rx.doc.append_child((s.prefix + "row").c_str());
        rx.node.append_attribute("r") = rx.number = number;
        bool keep;
        if (!ApplyRow(s, rx, writes, keep)) return false;
        if (keep) EmitRow(s, rx);
        return true;
    }

    /// New rows before row `before` (0: all that are left).
    bool NewRowsBefore(SheetXml& s, const SheetPatch& p, std::vector<int>::const_iterator& next,
                       int before) {
        for (; next != p.rows.end() && (before == 0 || *next < before); ++next)
            if (!NewRow(s, *next, p.cells(*next))) return false;
        return true;
    }

    /// A row of the file whose bytes can stay as they stand: its number and its cells'
    /// positions written plainly.
    struct PlainRow {
        int number = 0;
        std::vector<std::string_view> refs;
    };
    static std::optional<PlainRow> Plain(std::string_view row, int previous) {
        PlainRow plain;
        const auto r = RawAttribute(StartTag(row), "r");
        long n = 0;
        if (!r ||
            std::from_chars(r->data(), r->data() + r->size(), n).ptr != r->data() + r->size() ||
            n <= previous || n > kMaxRows)
            return std::nullopt;
        plain.number = static_cast<int>(n);
        for (std::string_view tag : ChildTags(row, "c")) {
            const auto ref = RawAttribute(tag, "r");
            if (ref && ref->find('&') != std::string_view::npos) return std::nullopt;
            if (ref) plain.refs.push_back(*ref);
        }
        return plain;
    }

    /// One row of the file: copied, or parsed and rewritten when something is written into
    /// it, it takes a shared formula, or its position is not written plainly.
    bool PatchRow(SheetXml& s, const SheetPatch& p, const SheetPiece& piece,
                  std::vector<int>::const_iterator& next, int& previous) {
        const std::string_view text =
            std::string_view(s.text.text).substr(piece.begin, piece.end - piece.begin);
        const auto plain = s.handovers.empty() ? Plain(text, previous) : std::nullopt;
        if (plain) {
            if (!NewRowsBefore(s, p, next, plain->number)) return false;
            previous = plain->number;
            if (next == p.rows.end() || *next != plain->number) {
                for (std::string_view ref : plain->refs) Extend(s, ref);
                Emit(s, text);
                return true;
            }
        }
        RowXml rx;
        if (!ParsePiece(s.text, piece, rx.doc, s.part, error_)) return false;
        rx.node = rx.doc.document_element();
        if (plain) {
            rx.number = plain->number;
        } else {
            if (!RowNumber(s, rx, previous) || !NewRowsBefore(s, p, next, rx.number)) return false;
            previous = rx.number;
        }
        TakePendingFormulas(s, rx);
        std::vector<CellWrite> writes;
        if (next != p.rows.end() && *next == rx.number) writes = p.cells(*next++);
        bool keep;
        if (!ApplyRow(s, rx, writes, keep)) return false;
        if (!keep) return true;
        if (rx.changed) {
            EmitRow(s, rx);
        } else {
            for (auto c : Children(rx.node, "c")) Extend(s, c.attribute("r").value());
            Emit(s, text);
        }
        return true;
    }

    /// The new content of sheetData: what the file has in order, new rows between.
    bool PatchRows(SheetXml& s, const SheetPatch& p) {
        const std::string_view t = s.text.text;
        size_t from = s.text.contentBegin;
        auto next = p.rows.cbegin();
        int previous = 0;
        for (const SheetPiece& piece : s.text.rows) {
            Emit(s, t.substr(from, piece.begin - from));
            from = piece.end;
            if (!PatchRow(s, p, piece, next, previous)) return false;
        }
        if (!NewRowsBefore(s, p, next, 0)) return false;
        if (from < s.text.contentEnd) Emit(s, t.substr(from, s.text.contentEnd - from));
        return true;
    }

    void UpdateDimension(SheetXml& s) {
        auto dim = Child(s.root, "dimension");
        if (!dim) return;
        std::string ref = s.r2 == 0 ? "A1"
                          : (s.r1 == s.r2 && s.c1 == s.c2)
                              ? CellName(s.r1, s.c1)
                              : CellName(s.r1, s.c1) + ":" + CellName(s.r2, s.c2);
        dim.attribute("ref") = ref.c_str();
    }

    /// The frame with the new content of sheetData in its place, written in pieces.
    bool StoreSheet(SheetXml& s) {
        std::vector<std::string> pieces;
        if (s.body.empty()) {
            pieces.push_back(WriteXml(s.text.frame));
        } else {
            // What sheetData holds besides rows is in the body too.
            while (s.data.first_child()) s.data.remove_child(s.data.first_child());
            s.data.append_child(pugi::node_comment).set_value(kRowsMark);
            std::string frame = WriteXml(s.text.frame);
            const std::string mark = std::string("<!--") + kRowsMark + "-->";
            const size_t at = frame.find(mark);
            if (at == std::string::npos) return Fail(s.part + ": cannot place the rows");
            pieces.push_back(frame.substr(0, at));
            for (auto& b : s.body) pieces.push_back(std::move(b));
            pieces.push_back(frame.substr(at + mark.size()));
        }
        s.body.clear();
        s.text.text = std::string(); // the old text goes before the new one is packed
        return zip_.Write(s.part, std::move(pieces), error_);
    }

    bool PatchSheet(const SheetPatch& p) {
        SheetXml s;
        s.part = p.part;
        std::string text;
        if (!zip_.Read(p.part, text, error_) ||
            !SplitSheet(std::move(text), p.part, s.text, error_))
            return false;
        s.root = s.text.frame.document_element();
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
        if (!PatchRows(s, p)) return false;
        UpdateDimension(s);
        if (!p.comments.empty() && !PatchComments(s, p.comments)) return false;
        return StoreSheet(s);
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
