#include "xlsx/XlsxPackage.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace lumora {

namespace {

/// Larger parts are refused: no real sheet comes near it, a zip bomb does.
constexpr zip_uint64_t kMaxPartSize = 512u * 1024u * 1024u;

std::string ZipError(int code) {
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    std::string text = zip_error_strerror(&err);
    zip_error_fini(&err);
    return text;
}

std::string ArchiveError(zip_t* za) {
    return zip_error_strerror(zip_get_error(za));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

ZipArchive::~ZipArchive() {
    if (za_) zip_discard(za_);
}

std::unique_ptr<ZipArchive> ZipArchive::OpenMemory(const std::string& bytes, std::string& error) {
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &err);
    if (!src) {
        error = zip_error_strerror(&err);
        zip_error_fini(&err);
        return nullptr;
    }
    zip_t* za = zip_open_from_source(src, ZIP_RDONLY, &err);
    if (!za) {
        error = zip_error_strerror(&err);
        zip_error_fini(&err);
        zip_source_free(src);
        return nullptr;
    }
    zip_error_fini(&err);
    return std::unique_ptr<ZipArchive>(new ZipArchive(za));
}

std::unique_ptr<ZipArchive> ZipArchive::OpenFile(const std::string& path, bool create,
                                                 std::string& error) {
    int code = 0;
    zip_t* za = zip_open(path.c_str(), create ? ZIP_CREATE | ZIP_TRUNCATE : 0, &code);
    if (!za) {
        error = ZipError(code);
        return nullptr;
    }
    return std::unique_ptr<ZipArchive>(new ZipArchive(za));
}

std::vector<std::string> ZipArchive::Names() const {
    std::vector<std::string> names;
    zip_int64_t n = zip_get_num_entries(za_, 0);
    for (zip_int64_t i = 0; i < n; ++i)
        if (const char* name = zip_get_name(za_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS))
            names.emplace_back(name);
    return names;
}

std::optional<std::string> ZipArchive::Find(const std::string& part) const {
    zip_int64_t idx = zip_name_locate(za_, part.c_str(), ZIP_FL_ENC_GUESS);
    if (idx < 0) idx = zip_name_locate(za_, part.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
    if (idx < 0) return std::nullopt;
    const char* name = zip_get_name(za_, static_cast<zip_uint64_t>(idx), ZIP_FL_ENC_GUESS);
    return name ? std::optional<std::string>(name) : std::nullopt;
}

bool ZipArchive::Read(const std::string& part, std::string& out, std::string& error) const {
    return Unpack(part, &out, error);
}

bool ZipArchive::Verify(const std::string& part, std::string& error) const {
    return Unpack(part, nullptr, error);
}

bool ZipArchive::DeclaredSize(uint64_t& total, std::string& error) const {
    total = 0;
    const zip_int64_t n = zip_get_num_entries(za_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za_, static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
            !(st.valid & ZIP_STAT_SIZE)) {
            error = ArchiveError(za_);
            return false;
        }
        total += std::min<uint64_t>(st.size, kMaxPartSize + 1);
    }
    return true;
}

bool ZipArchive::Unpack(const std::string& part, std::string* out, std::string& error) const {
    auto name = Find(part);
    if (!name) {
        error = "missing part " + part;
        return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(za_, name->c_str(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
        error = part + ": " + ArchiveError(za_);
        return false;
    }
    if (st.size > kMaxPartSize) {
        error = part + ": part too large";
        return false;
    }
    zip_file_t* f = zip_fopen(za_, name->c_str(), 0);
    if (!f) {
        error = part + ": " + ArchiveError(za_);
        return false;
    }
    // Read into out whole, or verified through a small buffer.
    std::string buffer(out ? 0 : std::min<zip_uint64_t>(st.size, 64 * 1024), '\0');
    if (out) out->assign(static_cast<size_t>(st.size), '\0');
    zip_uint64_t done = 0;
    while (done < st.size) {
        char* at = out ? out->data() + done : buffer.data();
        const zip_uint64_t want =
            out ? st.size - done : std::min<zip_uint64_t>(st.size - done, buffer.size());
        zip_int64_t n = zip_fread(f, at, want);
        if (n <= 0) {
            error = part + ": " + (n < 0 ? std::string(zip_file_strerror(f)) : "truncated data");
            zip_fclose(f);
            return false;
        }
        done += static_cast<zip_uint64_t>(n);
    }
    // Reading to the end lets libzip check the CRC.
    char extra;
    zip_int64_t tail = zip_fread(f, &extra, 1);
    if (tail != 0) {
        error = part + ": " + (tail < 0 ? std::string(zip_file_strerror(f)) : "size mismatch");
        zip_fclose(f);
        return false;
    }
    zip_fclose(f);
    return true;
}

bool ZipArchive::Write(const std::string& part, std::string data, std::string& error) {
    std::vector<std::string> pieces;
    pieces.push_back(std::move(data));
    return Write(part, std::move(pieces), error);
}

bool ZipArchive::Write(const std::string& part, std::vector<std::string> pieces,
                       std::string& error) {
    std::erase_if(pieces, [](const std::string& p) { return p.empty(); });
    keep_.push_back(std::move(pieces));
    std::vector<zip_buffer_fragment_t> fragments;
    size_t size = 0;
    for (std::string& p : keep_.back()) {
        fragments.push_back({reinterpret_cast<zip_uint8_t*>(p.data()), p.size()});
        size += p.size();
    }
    zip_source_t* src = zip_source_buffer_fragment(za_, fragments.data(), fragments.size(), 0);
    if (!src) {
        error = part + ": " + ArchiveError(za_);
        return false;
    }
    // libzip keeps a replaced entry at its highest (and slowest) compression level, so
    // a large part is re-added at the fastest level instead; small parts keep their
    // place (file-type sniffers look for "[Content_Types].xml" first).
    constexpr size_t kReAddSize = 64 * 1024;
    auto name = Find(part);
    zip_int64_t idx = -1;
    if (name && size < kReAddSize) {
        idx = zip_name_locate(za_, name->c_str(), 0);
        if (zip_file_replace(za_, static_cast<zip_uint64_t>(idx), src, 0) != 0) idx = -1;
    } else {
        if (name && zip_delete(za_, static_cast<zip_uint64_t>(
                                        zip_name_locate(za_, name->c_str(), 0))) != 0) {
            zip_source_free(src);
            error = part + ": " + ArchiveError(za_);
            return false;
        }
        idx = zip_file_add(za_, (name ? *name : part).c_str(), src, ZIP_FL_ENC_UTF_8);
    }
    if (idx < 0) {
        zip_source_free(src);
        error = part + ": " + ArchiveError(za_);
        return false;
    }
    zip_set_file_compression(za_, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 1);
    return true;
}

bool ZipArchive::Remove(const std::string& part, std::string& error) {
    auto name = Find(part);
    if (!name) return true;
    zip_int64_t idx = zip_name_locate(za_, name->c_str(), 0);
    if (idx < 0 || zip_delete(za_, static_cast<zip_uint64_t>(idx)) != 0) {
        error = part + ": " + ArchiveError(za_);
        return false;
    }
    return true;
}

bool ZipArchive::Close(std::string& error) {
    if (zip_close(za_) != 0) {
        error = ArchiveError(za_);
        zip_discard(za_);
        za_ = nullptr;
        return false;
    }
    za_ = nullptr;
    return true;
}

bool ParseXml(const std::string& text, pugi::xml_document& doc, const std::string& part,
              std::string& error) {
    auto result = doc.load_buffer(text.data(), text.size(), kXmlParseOptions, pugi::encoding_auto);
    if (!result) {
        error = part + ": " + result.description() + " at offset " + std::to_string(result.offset);
        return false;
    }
    if (!doc.document_element()) {
        error = part + ": no root element";
        return false;
    }
    return true;
}

std::string WriteXml(const pugi::xml_document& doc) {
    // The text goes out as UTF-8 whatever it came in as; the declaration must say so.
    for (auto n : doc.children())
        if (n.type() == pugi::node_declaration && n.attribute("encoding"))
            n.attribute("encoding").set_value("UTF-8");
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

std::string_view LocalName(pugi::xml_node node) {
    std::string_view name = node.name();
    auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string PrefixOf(pugi::xml_node node) {
    std::string_view name = node.name();
    auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

pugi::xml_node Child(pugi::xml_node node, std::string_view local) {
    for (auto c : node.children())
        if (c.type() == pugi::node_element && LocalName(c) == local) return c;
    return {};
}

std::vector<pugi::xml_node> Children(pugi::xml_node node, std::string_view local) {
    std::vector<pugi::xml_node> out;
    for (auto c : node.children())
        if (c.type() == pugi::node_element && LocalName(c) == local) out.push_back(c);
    return out;
}

std::string RichText(pugi::xml_node node) {
    std::string text;
    for (auto c : node.children()) {
        if (c.type() != pugi::node_element) continue;
        if (LocalName(c) == "t") {
            text += c.text().get();
        } else if (LocalName(c) == "r") {
            for (auto t : Children(c, "t")) text += t.text().get();
        }
    }
    return DecodeEscapes(text);
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

/// True when text[i..] is "_xHHHH_"; the code goes to cp.
bool EscapeAt(const std::string& text, size_t i, unsigned& cp) {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_')
        return false;
    cp = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        int h = HexValue(text[k]);
        if (h < 0) return false;
        cp = cp * 16 + unsigned(h);
    }
    return true;
}

/// Length of the valid UTF-8 sequence at text[i], 0 when invalid.
size_t Utf8Length(const std::string& text, size_t i) {
    auto b = static_cast<unsigned char>(text[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    if (n == 2 && b < 0xC2) return 0;
    return n;
}

} // namespace

std::string DecodeEscapes(const std::string& text) {
    if (text.find("_x") == std::string::npos) return text;
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned cp;
        if (EscapeAt(text, i, cp)) {
            AppendUtf8(out, cp);
            i += 7;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string EncodeEscapes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        unsigned cp;
        // A raw carriage return would come back as a line feed (XML end-of-line rules).
        if (b < 0x20 && b != '\t' && b != '\n') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "_x%04X_", b);
            out += buf;
            ++i;
        } else if (EscapeAt(text, i, cp)) {
            out += "_x005F_"; // a literal "_xHHHH_" in the text
            ++i;
        } else if (size_t n = Utf8Length(text, i); n > 0) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string RelsPartOf(const std::string& part) {
    auto slash = part.rfind('/');
    std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
    return dir + "_rels/" + file + ".rels";
}

std::string ResolveTarget(const std::string& sourcePart, const std::string& target) {
    std::string path;
    if (!target.empty() && target[0] == '/') {
        path = target.substr(1);
    } else {
        auto slash = sourcePart.rfind('/');
        path = (slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1)) + target;
    }
    std::vector<std::string> segments;
    std::stringstream in(path);
    std::string seg;
    while (std::getline(in, seg, '/')) {
        if (seg.empty() || seg == ".") continue;
        if (seg == "..") {
            if (!segments.empty()) segments.pop_back();
        } else {
            segments.push_back(seg);
        }
    }
    std::string out;
    for (const auto& s : segments) out += (out.empty() ? "" : "/") + s;
    return out;
}

std::string RelativeTarget(const std::string& sourcePart, const std::string& target) {
    auto slash = sourcePart.rfind('/');
    std::string dir = slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1);
    if (target.compare(0, dir.size(), dir) == 0) return target.substr(dir.size());
    return "/" + target;
}

bool ReadRelationships(const ZipArchive& zip, const std::string& part,
                       std::vector<Relationship>& rels, std::string& error) {
    rels.clear();
    std::string relsPart = RelsPartOf(part);
    if (!zip.Find(relsPart)) return true;
    std::string text;
    pugi::xml_document doc;
    if (!zip.Read(relsPart, text, error) || !ParseXml(text, doc, relsPart, error)) return false;
    for (auto r : Children(doc.document_element(), "Relationship")) {
        Relationship rel;
        rel.id = r.attribute("Id").value();
        rel.type = r.attribute("Type").value();
        rel.external = std::strcmp(r.attribute("TargetMode").value(), "External") == 0;
        rel.target = rel.external ? r.attribute("Target").value()
                                  : ResolveTarget(part, r.attribute("Target").value());
        rels.push_back(std::move(rel));
    }
    return true;
}

bool TypeIs(const std::string& type, std::string_view kind) {
    return type.size() > kind.size() && type[type.size() - kind.size() - 1] == '/' &&
           EqualNoCase(std::string_view(type).substr(type.size() - kind.size()), kind);
}

const Relationship* FindRelationship(const std::vector<Relationship>& rels, std::string_view kind) {
    for (const auto& r : rels)
        if (!r.external && TypeIs(r.type, kind)) return &r;
    return nullptr;
}

} // namespace lumora
