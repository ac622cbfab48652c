#include "WorkbookFiles.h"

namespace lumora::test {

namespace {
const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
} // namespace

std::map<std::string, std::string> ExcelLikeParts() {
    std::string d = kDecl;
    std::string relType = std::string(kRel) + "/";
    std::map<std::string, std::string> p;
    p["[Content_Types].xml"] =
        d +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/"
        ">"
        "<Override PartName=\"/xl/worksheets/sheet2.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/"
        ">"
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/xl/sharedStrings.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
        "<Override PartName=\"/xl/calcChain.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/"
        ">"
        "<Override PartName=\"/xl/comments1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml\"/>"
        "</Types>";
    p["_rels/.rels"] = d +
                       "<Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"" +
                       relType + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    p["xl/workbook.xml"] = d + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                           "\"><bookViews><workbookView xWindow=\"0\" activeTab=\"1\"/>"
                           "</bookViews><sheets><sheet name=\"Summary\" sheetId=\"1\" "
                           "r:id=\"rId1\"/><sheet name=\"Spectra\" sheetId=\"2\" r:id=\"rId2\"/>"
                           "</sheets><definedNames><definedName name=\"x\">Spectra!$A$1"
                           "</definedName></definedNames><calcPr calcId=\"191029\"/></workbook>";
    p["xl/_rels/workbook.xml.rels"] =
        d +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
        "<Relationship Id=\"rId1\" Type=\"" + relType +
        "worksheet\" Target=\"worksheets/sheet1.xml\"/>" + "<Relationship Id=\"rId2\" Type=\"" +
        relType + "worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>" +
        "<Relationship Id=\"rId3\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/>" +
        "<Relationship Id=\"rId4\" Type=\"" + relType +
        "sharedStrings\" Target=\"sharedStrings.xml\"/>" + "<Relationship Id=\"rId5\" Type=\"" +
        relType + "calcChain\" Target=\"calcChain.xml\"/></Relationships>";
    p["xl/styles.xml"] =
        d + "<styleSheet xmlns=\"" + kMain +
        "\"><fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font><font><b/>"
        "<sz val=\"11\"/><name val=\"Calibri\"/></font></fonts><fills count=\"2\"><fill>"
        "<patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/>"
        "</fill></fills><borders count=\"1\"><border/></borders><cellStyleXfs count=\"1\">"
        "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
        "<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
        "xfId=\"0\"/><xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
        "applyFont=\"1\"/><xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
        "xfId=\"0\" applyNumberFormat=\"1\"/></cellXfs><cellStyles count=\"1\"><cellStyle "
        "name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles></styleSheet>";
    p["xl/sharedStrings.xml"] =
        d + "<sst xmlns=\"" + kMain +
        "\" count=\"3\" uniqueCount=\"3\"><si><t>Title</t></si><si><r><rPr><b/></rPr>"
        "<t>Bold</t></r><r><t xml:space=\"preserve\"> and plain</t></r><rPh sb=\"0\" eb=\"1\">"
        "<t>PHONETIC</t></rPh></si><si><t>Line_x000D_break</t></si></sst>";
    p["xl/calcChain.xml"] = d + "<calcChain xmlns=\"" + kMain +
                            "\"><c r=\"A2\" i=\"1\"/><c r=\"A3\"/><c r=\"A4\"/></calcChain>";
    p["xl/worksheets/sheet1.xml"] =
        d + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
        "\"><dimension ref=\"A1:E4\"/><sheetData>"
        "<row r=\"1\" spans=\"1:5\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\">"
        "<is><t>inline</t></is></c><c r=\"C1\"><v>1.25</v></c><c r=\"D1\" t=\"b\"><v>1</v></c>"
        "<c r=\"E1\" t=\"e\"><v>#DIV/0!</v></c></row>"
        "<row r=\"2\" spans=\"1:5\"><c r=\"A2\"><f t=\"shared\" ref=\"A2:A4\" si=\"0\">C1*2</f>"
        "<v>2.5</v></c><c><v>7</v></c><c r=\"C2\" s=\"2\"/><c r=\"D2\" s=\"1\" t=\"s\"><v>1</v></c>"
        "</row><row><c r=\"A3\"><f t=\"shared\" si=\"0\"/><v>0</v></c><c r=\"B3\" t=\"str\">"
        "<f>\"a\"&amp;\"b\"</f><v>ab</v></c></row>"
        "<row r=\"4\"><c r=\"A4\"><f t=\"shared\" si=\"0\"/><v>0</v></c><c r=\"B4\" t=\"s\">"
        "<v>2</v></c></row></sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" "
        "bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/><legacyDrawing r:id=\"rId2\"/>"
        "</worksheet>";
    p["xl/worksheets/_rels/sheet1.xml.rels"] =
        d +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
        "<Relationship Id=\"rId1\" Type=\"" + relType + "comments\" Target=\"../comments1.xml\"/>" +
        "<Relationship Id=\"rId2\" Type=\"" + relType +
        "vmlDrawing\" Target=\"../drawings/vmlDrawing1.vml\"/></Relationships>";
    p["xl/comments1.xml"] = d + "<comments xmlns=\"" + kMain +
                            "\"><authors><author>Excel User</author></authors><commentList>"
                            "<comment ref=\"C1\" authorId=\"0\"><text><r><rPr><b/></rPr><t>Excel "
                            "User:</t></r><r><t xml:space=\"preserve\">\nfixed</t></r></text>"
                            "</comment></commentList></comments>";
    // Excel's drawings are HTML-like, not well-formed XML.
    p["xl/drawings/vmlDrawing1.vml"] =
        "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\"><o:shapelayout v:ext=\"edit\"><br>"
        "</xml>";
    p["xl/worksheets/sheet2.xml"] =
        d + "<x:worksheet xmlns:x=\"" + kMain +
        "\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>300</x:v></x:c><x:c r=\"B1\">"
        "<x:v>0.5</x:v></x:c><x:c r=\"C1\" t=\"inlineStr\"><x:v>in v</x:v></x:c></x:row><x:row "
        "r=\"3\"><x:c r=\"A3\"><x:v>301</x:v></x:c></x:row>"
        "</x:sheetData></x:worksheet>";
    p["customXml/item1.xml"] = "<unknown>kept  byte for byte\r\n</unknown>";
    return p;
}

} // namespace lumora::test
