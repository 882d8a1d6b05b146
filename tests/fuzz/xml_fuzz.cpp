// Any text given to a document, then every way of reading it, a few edits, and the encoding
// layer over the raw bytes (zeros included).
#include "xml/XmlCodec.h"
#include "xml/XmlDocument.h"
#include "xml/XmlScanner.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void ReadAll(CXmlDocument& doc, const std::string& someName) {
    const char* attrs[] = {"a", "b", "id", "name", someName.c_str(), ""};
    int steps = 0;
    doc.ResetLevel();
    // Depth-first over the whole tree, bounded.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text(bytes.c_str()); // the engine's text stops at the first zero
    std::string name =
        text.substr(0, text.find_first_of(" <>") == std::string::npos ? 8 : text.find_first_of(" <>"));
    if (name.size() > 16)
        name.resize(16);

    CXmlDocument doc;
    doc.SetDocText(bytes.c_str());
    ReadAll(doc, name);
    doc.ResetLevel();
    doc.FindElement(name.c_str());
    doc.GetResultLog();

    // Edits anywhere the walk can reach, then reading again.
    doc.ResetLevel();
    if (doc.FindElement(nullptr)) {
        doc.SetAttribute("k", text.substr(0, 32).c_str());
        doc.IntoElement();
        doc.AddElement("n", name.c_str(), 0);
        doc.FindElement(nullptr);
        doc.SetAttribute(name.empty() ? "m" : name.c_str(), 7);
        doc.AddElement("c", "x]]>y", XNODE_CDATA);
        doc.OutOfElement();
        doc.AddElement("s", nullptr, XNODE_INSERT_BEFORE);
        ReadAll(doc, name);
    }

    CXmlDocument::UnescapeText(bytes.data(), static_cast<int>(bytes.size()), 0);
    CXmlDocument::UnescapeText(bytes.data(), static_cast<int>(bytes.size()), XDOC_COLLAPSE_WHITESPACE);
    CXmlDocument::EscapeText(text.c_str(), XNODE_KEEP_REFS | XNODE_ESCAPE_QUOTES);
    XmlSniffDeclaredEncoding(text.c_str());
    XmlCodePageOf(text.c_str());
    int nonAscii = 0;
    bool mid = false;
    XmlLooksLikeUtf8(bytes.data(), static_cast<int>(bytes.size()), &nonAscii, &mid);

    const char* encodings[] = {"UTF-8", "", "UTF-16", "UTF-32"};
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
