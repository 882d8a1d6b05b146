// Any text given to a document, then every way of reading it, edits checked against a fresh
// parse, the file layer's byte handling over the raw bytes (zeros included) and the codecs.
#include "tests/xml/XmlInspector.h"
#include "xml/XmlCodec.h"
#include "xml/XmlDocument.h"
#include "xml/XmlFile.h"
#include "xml/XmlScanner.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Depth-first over the whole tree with every reading operation, bounded.
void ReadAll(CXmlDocument& doc, const std::string& someName) {
    const char* attrs[] = {"a", "b", "id", "name", someName.c_str(), "", nullptr};
    int steps = 0;
    doc.ResetLevel();
    for (;;) {
        if (++steps > 20000)
            return;
        if (doc.FindElement(nullptr)) {
            for (const char* a : attrs)
                doc.GetAttribute(a);
            doc.GetElementText();
            doc.GetRawContent();
            doc.IntoElement();
            continue;
        }
        if (!doc.OutOfElement())
            return;
    }
}

// The edited index must be what a parse of the edited text gives.
void CheckAgainstReparse(const CXmlDocument& doc) {
    CXmlDocument again;
    again.SetDocText(doc.GetDocText());
    CXmlDocumentInspector edited(doc), parsed(again);
    if (edited.Dump(true) != parsed.Dump(true) || !edited.CheckLinks().empty() ||
        edited.Rec(0).nLength != doc.GetDocText().GetLength()) {
        std::fprintf(stderr, "edited index differs from a reparse:\n%s\n%s\n%s\n",
                     doc.GetDocText().GetString(), edited.Dump(true).c_str(), parsed.Dump(true).c_str());
        std::abort();
    }
}

// What a value written by an edit reads back as: a lone lead byte at its end becomes "?".
std::string ReadBack(const std::string& v) {
    std::string out = v;
    size_t i = 0;
    while (i < out.size()) {
        size_t n = static_cast<size_t>(XmlCharLen(out.c_str() + i));
        if (n == 1 && i + 1 == out.size() && XmlIsLeadByte(static_cast<unsigned char>(out[i])))
            out[i] = '?';
        i += n;
    }
    return out;
}

void Expect(bool ok, const char* what, const CXmlDocument& doc) {
    if (!ok) {
        std::fprintf(stderr, "%s:\n%s\n", what, doc.GetDocText().GetString());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text(bytes.c_str()); // the engine's text stops at the first zero
    size_t cut = text.find_first_of(" <>");
    std::string name = text.substr(0, cut == std::string::npos ? 8 : cut);
    if (name.size() > 16)
        name.resize(16);

    CXmlDocument doc;
    bool wellFormed = doc.SetDocText(bytes.c_str());
    ReadAll(doc, name);
    doc.ResetLevel();
    doc.FindElement(name.c_str());
    doc.FindElement((name + "[1]").c_str());
    doc.GetResultLog();

    // Edits where the walk can reach, reading after each; a well-formed text stays consistent.
    const std::string value = text.substr(0, 40);
    const int flagSets[] = {0,
                            XNODE_NO_LINEBREAK,
                            XNODE_CDATA,
                            XNODE_KEEP_REFS,
                            XNODE_INSERT_BEFORE,
                            XNODE_AS_CHILD,
                            XNODE_REPLACE_CONTENT,
                            XNODE_EMPTY_SPACE};
    // A value just set reads back; a name taken from the input may be refused, never misplaced.
    const std::string back = ReadBack(value);
    doc.ResetLevel();
    if (doc.FindElement(nullptr)) {
        if (doc.SetAttribute("k", value.c_str()))
            Expect(std::string(doc.GetAttribute("k")) == back, "attribute does not read back", doc);
        if (doc.SetAttribute(name.c_str(), "v"))
            Expect(std::string(doc.GetAttribute(name.c_str())) == "v", "named attribute does not read back",
                   doc);
        doc.IntoElement();
        for (int f : flagSets) {
            bool added = doc.AddElement("n", f == XNODE_EMPTY_SPACE ? nullptr : value.c_str(), f);
            if (added && !value.empty() && !(f & (XNODE_EMPTY_SPACE | XNODE_KEEP_REFS | XNODE_AS_CHILD)))
                Expect(std::string(doc.GetElementText()) == back, "element text does not read back", doc);
            doc.GetElementText();
            doc.GetRawContent();
            doc.SetAttribute("m", static_cast<int>(size));
            doc.FindElement(nullptr);
        }
        doc.AddElement(name.c_str(), nullptr, 0);
        doc.OutOfElement();
        doc.AddElement("s", value.c_str(), XNODE_INSERT_BEFORE);
        doc.SetAttribute("k", "replaced");
        ReadAll(doc, name);
        if (wellFormed)
            CheckAgainstReparse(doc);
    } else if (doc.AddElement("n", value.c_str(), 0)) {
        // A text without elements: what is appended at its end is an element for a parse too.
        Expect(value.empty() || std::string(doc.GetElementText()) == back, "element text does not read back",
               doc);
        CheckAgainstReparse(doc);
    }

    // The system converter is slow to open, so the conversions run for a part of the inputs only.
    const int part = size ? data[size - 1] % 4 : 0;
    if (part >= 2)
        return 0;

    // The file layer from memory: detection, nulls, swapping and conversion, then writing the text
    // back under every BOM.
    CString fileText, log, enc;
    int flags = 0;
    XmlDecodeFileBytes(bytes, fileText, &log, flags, &enc);
    for (int bom : {0, int(XDOC_UTF8_BOM), int(XDOC_UTF16LE_FILE), int(XDOC_UTF16BE_FILE)}) {
        std::string out;
        CString written;
        int units = 0;
        XmlEncodeFileText(fileText, &log, bom, nullptr, out, written, units);
    }
    CString forced = "UTF-16";
    XmlDecodeFileBytes(bytes, fileText, nullptr, flags, &forced);

    CXmlDocument::UnescapeText(bytes.data(), static_cast<int>(bytes.size()), 0);
    CXmlDocument::UnescapeText(bytes.data(), static_cast<int>(bytes.size()), XDOC_COLLAPSE_WHITESPACE);
    CXmlDocument::EscapeText(text.c_str(), XNODE_KEEP_REFS | XNODE_ESCAPE_QUOTES);
    CXmlDocument::MakeCData(text.c_str());
    XmlSniffDeclaredEncoding(text.c_str());
    XmlCodePageOf(text.c_str());
    int nonAscii = 0;
    bool mid = false;
    XmlLooksLikeUtf8(bytes.data(), static_cast<int>(bytes.size()), &nonAscii, &mid);

    if (part == 1)
        return 0;
    const char* encodings[] = {"UTF-8", "", "UTF-16", "UTF-32", "big5"};
    for (const char* from : encodings) {
        int unit = std::string(from) == "UTF-16" ? 2 : std::string(from) == "UTF-32" ? 4 : 1;
        std::vector<uint32_t> aligned(bytes.size() / 4 + 1);
        std::memcpy(aligned.data(), bytes.data(), bytes.size());
        CXmlTextConverter conv(from, aligned.data(), static_cast<int>(bytes.size()) / unit);
        for (const char* to : encodings) {
            int need = conv.Convert(nullptr, to);
            std::vector<uint32_t> out(static_cast<size_t>(need) + 1);
            conv.m_nToCount = need;
            conv.Convert(out.data(), to);
        }
    }
    return 0;
}
