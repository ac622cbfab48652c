#pragma once
// The parts of an Office Open XML package: a zip archive (libzip) whose parts
// are XML documents (pugixml) tied together by relationship parts. Shared by
// the .xlsx loader and the patcher.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

struct zip;

namespace lumora {

/// A zip archive opened from memory (read only) or from a file (read and write).
class ZipArchive {
public:
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    /// bytes must outlive the archive.
    static std::unique_ptr<ZipArchive> OpenMemory(const std::string& bytes, std::string& error);
    /// Opens path for changes (create: start an empty archive, replacing the file).
    static std::unique_ptr<ZipArchive> OpenFile(const std::string& path, bool create,
                                                std::string& error);

    /// Names of all parts, in archive order.
    std::vector<std::string> Names() const;
    /// The stored name of a part (part names compare ignoring case), nothing when absent.
    std::optional<std::string> Find(const std::string& part) const;
    /// Reads a part; fails for a missing, damaged or implausibly large part.
    bool Read(const std::string& part, std::string& out, std::string& error) const;
    /// Unpacks a part without keeping it, so that damage (a bad checksum) shows.
    bool Verify(const std::string& part, std::string& error) const;
    /// Sum of the unpacked sizes that the parts declare (reading stops where a part
    /// outgrows its declared size).
    bool DeclaredSize(uint64_t& total, std::string& error) const;
    /// Adds or replaces a part (deflated).
    bool Write(const std::string& part, std::string data, std::string& error);
    /// The same for a part given in pieces, written one after the other.
    bool Write(const std::string& part, std::vector<std::string> pieces, std::string& error);
    bool Remove(const std::string& part, std::string& error);
    /// Writes the changes to the file; the archive is unusable afterwards.
    bool Close(std::string& error);

private:
    explicit ZipArchive(struct zip* za) : za_(za) {}
    /// Read (out) or Verify (out null).
    bool Unpack(const std::string& part, std::string* out, std::string& error) const;
    struct zip* za_;
    /// Data of written parts, alive until Close
    std::deque<std::vector<std::string>> keep_;
};

/// How parts are parsed: the declaration and blank text are kept so a rewrite changes
/// nothing else.
inline constexpr unsigned kXmlParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata;
/// Parses a part (with kXmlParseOptions).
bool ParseXml(const std::string& text, pugi::xml_document& doc, const std::string& part,
              std::string& error);
std::string WriteXml(const pugi::xml_document& doc);

/// Element name without its namespace prefix.
std::string_view LocalName(pugi::xml_node node);
/// "x:" for an element named "x:row", "" without prefix.
std::string PrefixOf(pugi::xml_node node);
/// First child element with the local name, or an empty node.
pugi::xml_node Child(pugi::xml_node node, std::string_view local);
/// Child elements with the local name, in order.
std::vector<pugi::xml_node> Children(pugi::xml_node node, std::string_view local);
/// Text of a string item or comment: its <t>, or the <t> of every run; phonetic runs skipped.
std::string RichText(pugi::xml_node node);

/// Undoes the "_xHHHH_" escapes of characters that XML cannot hold.
std::string DecodeEscapes(const std::string& text);
/// Escapes such characters and replaces invalid UTF-8 by U+FFFD.
std::string EncodeEscapes(const std::string& text);

struct Relationship {
    std::string id;
    std::string type;
    /// Part name of the target, resolved against the source part
    std::string target;
    bool external = false;
};
/// "xl/worksheets/_rels/sheet1.xml.rels" for "xl/worksheets/sheet1.xml" ("" gives "_rels/.rels").
std::string RelsPartOf(const std::string& part);
/// Part name of a relationship target seen from sourcePart ("../x" and "/x" handled).
std::string ResolveTarget(const std::string& sourcePart, const std::string& target);
/// Target of target seen from sourcePart, as a relative reference.
std::string RelativeTarget(const std::string& sourcePart, const std::string& target);
/// The relationships of a part (none when it has no relationship part).
bool ReadRelationships(const ZipArchive& zip, const std::string& part,
                       std::vector<Relationship>& rels, std::string& error);
/// True when a relationship type ends in "/" + kind ("worksheet", "comments", ...).
bool TypeIs(const std::string& type, std::string_view kind);
/// The first relationship of a kind, nullptr when none.
const Relationship* FindRelationship(const std::vector<Relationship>& rels, std::string_view kind);

} // namespace lumora
