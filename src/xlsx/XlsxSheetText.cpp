#include "xlsx/XlsxSheetText.h"

#include "base/NumText.h"
#include "xlsx/XlsxPackage.h"

namespace lumora {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view LocalPart(std::string_view name) {
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

/// The markup of an XML text one construct at a time: enough to find where elements
/// begin and end. What it passes over (text, comments, declarations) the parser of
/// each piece and of the frame checks.
class Tokens {
public:
    enum class Kind { Start, End, Other, Eof, Error };
    struct Token {
        Kind kind = Kind::Eof;
        size_t begin = 0;
        size_t end = 0;
        std::string_view name;
        bool selfClosing = false;
    };

    explicit Tokens(std::string_view text) : t_(text) {}

    Token Next() {
        Token k;
        k.begin = pos_;
        if (pos_ >= t_.size()) return k;
        if (t_[pos_] != '<') return Skip(k, t_.find('<', pos_), 0);
        if (At("<?")) return Skip(k, t_.find("?>", pos_ + 2), 2);
        if (At("<!--")) return Skip(k, t_.find("-->", pos_ + 4), 3);
        if (At("<![CDATA[")) return Skip(k, t_.find("]]>", pos_ + 9), 3);
        if (At("<!")) return Declaration(k);
        if (At("</")) return EndTag(k);
        return StartTag(k);
    }

private:
    bool At(std::string_view s) const { return t_.compare(pos_, s.size(), s) == 0; }

    Token Fail(Token k) {
        k.kind = Kind::Error;
        k.begin = pos_;
        return k;
    }

    /// Passes over a construct ending at `to` (plus the length of its closing mark).
    Token Skip(Token k, size_t to, size_t closing) {
        if (to == std::string_view::npos && closing > 0) return Fail(k);
        pos_ = to == std::string_view::npos ? t_.size() : to + closing;
        k.kind = Kind::Other;
        k.end = pos_;
        return k;
    }

    /// "<!DOCTYPE ...>", with an internal subset in brackets.
    Token Declaration(Token k) {
        int depth = 0;
        char quote = 0;
        for (size_t i = pos_ + 2; i < t_.size(); ++i) {
            const char c = t_[i];
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                --depth;
            } else if (c == '>' && depth <= 0) {
                return Skip(k, i, 1);
            }
        }
        return Fail(k);
    }

    std::string_view Name() {
        const size_t from = pos_;
        while (pos_ < t_.size() && !IsSpace(t_[pos_]) && t_[pos_] != '/' && t_[pos_] != '>' &&
               t_[pos_] != '=')
            ++pos_;
        return t_.substr(from, pos_ - from);
    }

    void Blanks() {
        while (pos_ < t_.size() && IsSpace(t_[pos_])) ++pos_;
    }

    Token EndTag(Token k) {
        pos_ += 2;
        k.name = Name();
        Blanks();
        if (k.name.empty() || pos_ >= t_.size() || t_[pos_] != '>') return Fail(k);
        k.kind = Kind::End;
        k.end = ++pos_;
        return k;
    }

    Token StartTag(Token k) {
        ++pos_;
        k.name = Name();
        if (k.name.empty()) return Fail(k);
        for (;;) {
            Blanks();
            if (pos_ >= t_.size()) return Fail(k);
            if (t_[pos_] == '>' || At("/>")) {
                k.selfClosing = t_[pos_] == '/';
                pos_ += k.selfClosing ? 2 : 1;
                k.kind = Kind::Start;
                k.end = pos_;
                return k;
            }
            if (Name().empty()) return Fail(k);
            Blanks();
            if (pos_ >= t_.size() || t_[pos_] != '=') return Fail(k);
            ++pos_;
            Blanks();
            if (pos_ >= t_.size() || (t_[pos_] != '"' && t_[pos_] != '\'')) return Fail(k);
            const size_t close = t_.find(t_[pos_], pos_ + 1);
            if (close == std::string_view::npos) return Fail(k);
            pos_ = close + 1;
        }
    }

    std::string_view t_;
    size_t pos_ = 0;
};

/// True for UTF-8 text as the parser reads it; UTF-16, UTF-32 and a declared Latin-1
/// (or any other declared encoding) go through the parser first.
bool PlainUtf8(const std::string& text) {
    if (text.size() < 4) return true;
    const auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
    if (b0 == 0 || b0 == 0xFE || b0 == 0xFF || b1 == 0) return false;
    if (text.compare(0, 5, "<?xml") != 0) return true;
    const auto encoding =
        RawAttribute(std::string_view(text).substr(0, text.find("?>")), "encoding");
    if (!encoding) return true;
    const std::string name = LCase(std::string(*encoding));
    return name == "utf-8" || name == "utf8";
}

/// The text without its rows.
std::string FrameText(const SheetText& sheet) {
    std::string frame;
    size_t from = 0;
    for (const SheetPiece& row : sheet.rows) {
        frame.append(sheet.text, from, row.begin - from);
        from = row.end;
    }
    frame.append(sheet.text, from);
    return frame;
}

} // namespace

bool SplitSheet(std::string text, const std::string& part, SheetText& sheet, std::string& error) {
    if (!PlainUtf8(text)) {
        pugi::xml_document doc;
        if (!ParseXml(text, doc, part, error)) return false;
        text = WriteXml(doc);
    }
    sheet.text = std::move(text);
    sheet.rows.clear();
    const std::string_view t = sheet.text;
    Tokens tokens(t);
    std::vector<std::string_view> open;
    int roots = 0;
    bool seen = false, inData = false, inRow = false;
    size_t rowBegin = 0;
    auto fail = [&](const std::string& what, size_t at) {
        error = part + ": " + what + " at offset " + std::to_string(at);
        return false;
    };
    for (;;) {
        const Tokens::Token k = tokens.Next();
        if (k.kind == Tokens::Kind::Eof) break;
        if (k.kind == Tokens::Kind::Error) return fail("Error parsing markup", k.begin);
        if (k.kind == Tokens::Kind::Start) {
            roots += open.empty();
            if (roots == 1 && open.size() == 1 && !seen && LocalPart(k.name) == "sheetData") {
                seen = true;
                inData = !k.selfClosing;
                sheet.contentBegin = sheet.contentEnd = k.end;
            } else if (inData && open.size() == 2 && LocalPart(k.name) == "row") {
                inRow = !k.selfClosing;
                rowBegin = k.begin;
                if (k.selfClosing) sheet.rows.push_back({k.begin, k.end});
            }
            if (!k.selfClosing) open.push_back(k.name);
        } else if (k.kind == Tokens::Kind::End) {
            if (open.empty() || open.back() != k.name)
                return fail("Start-end tags mismatch", k.begin);
            open.pop_back();
            if (inRow && open.size() == 2) {
                inRow = false;
                sheet.rows.push_back({rowBegin, k.end});
            } else if (inData && open.size() == 1) {
                inData = false;
                sheet.contentEnd = k.begin;
            }
        }
    }
    if (!open.empty()) return fail("Start-end tags mismatch", t.size());
    return ParseXml(FrameText(sheet), sheet.frame, part, error);
}

bool ParsePiece(const SheetText& sheet, const SheetPiece& piece, pugi::xml_document& doc,
                const std::string& part, std::string& error) {
    auto result = doc.load_buffer(sheet.text.data() + piece.begin, piece.end - piece.begin,
                                  kXmlParseOptions, pugi::encoding_utf8);
    if (!result) {
        error = part + ": " + result.description() + " at offset " +
                std::to_string(piece.begin + static_cast<size_t>(result.offset));
        return false;
    }
    return true;
}

std::string_view StartTag(std::string_view element) {
    const Tokens::Token k = Tokens(element).Next();
    return element.substr(0, k.kind == Tokens::Kind::Start ? k.end : 0);
}

std::vector<std::string_view> ChildTags(std::string_view element, std::string_view local) {
    std::vector<std::string_view> tags;
    Tokens tokens(element);
    int depth = 0;
    for (;;) {
        const Tokens::Token k = tokens.Next();
        if (k.kind == Tokens::Kind::Eof || k.kind == Tokens::Kind::Error) break;
        if (k.kind == Tokens::Kind::Start) {
            if (depth == 1 && LocalPart(k.name) == local)
                tags.push_back(element.substr(k.begin, k.end - k.begin));
            depth += !k.selfClosing;
        } else if (k.kind == Tokens::Kind::End) {
            --depth;
        }
    }
    return tags;
}

std::optional<std::string_view> RawAttribute(std::string_view startTag, std::string_view name) {
    // Attribute values are quoted, so a match outside quotes starts at a blank.
    char quote = 0;
    for (size_t i = 0; i < startTag.size(); ++i) {
        const char c = startTag[i];
        if (quote) {
            quote = c == quote ? 0 : quote;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (!IsSpace(c) || startTag.compare(i + 1, name.size(), name) != 0) continue;
        size_t at = i + 1 + name.size();
        while (at < startTag.size() && IsSpace(startTag[at])) ++at;
        if (at >= startTag.size() || startTag[at] != '=') continue;
        ++at;
        while (at < startTag.size() && IsSpace(startTag[at])) ++at;
        if (at >= startTag.size() || (startTag[at] != '"' && startTag[at] != '\'')) return {};
        const size_t close = startTag.find(startTag[at], at + 1);
        if (close == std::string_view::npos) return {};
        return startTag.substr(at + 1, close - at - 1);
    }
    return {};
}

} // namespace lumora
