#pragma once
// A worksheet part in pieces: the rows of its sheet data stay text, each parsed on its
// own when needed, and the rest of the part (the frame) is a small document. A data set's sheet of
// hundreds of thousands of cells then never becomes a tree of millions of nodes, when it is read or
// when it is patched.

#include <pugixml.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

/// One row element of sheetData: [begin, end) of the part's text.
struct SheetPiece {
    size_t begin = 0;
    size_t end = 0;
};

struct SheetText {
    /// The part, in UTF-8
    std::string text;
    /// The content of sheetData in text, [contentBegin, contentEnd) (empty without one)
    size_t contentBegin = 0;
    size_t contentEnd = 0;
    /// The rows of sheetData (its "row" children, any prefix), in order
    std::vector<SheetPiece> rows;
    /// The part without those rows
    pugi::xml_document frame;
};

/// Splits a worksheet part; false with a message naming the part for malformed XML.
bool SplitSheet(std::string text, const std::string& part, SheetText& sheet, std::string& error);

/// Parses one piece into doc (its element is then the document element); offsets in a
/// message count from the start of the part.
bool ParsePiece(const SheetText& sheet, const SheetPiece& piece, pugi::xml_document& doc,
                const std::string& part, std::string& error);

/// The start tag of a well-formed element, as it stands.
std::string_view StartTag(std::string_view element);
/// The start tags of the child elements with a local name (any prefix) of a well-formed
/// element, as they stand.
std::vector<std::string_view> ChildTags(std::string_view element, std::string_view local);

/// The value of an attribute in a start tag as written (references, "&...;", unresolved);
/// nothing when the tag lacks it.
std::optional<std::string_view> RawAttribute(std::string_view startTag, std::string_view name);

} // namespace lumora
