#include "xml/XmlCodec.h"
#include "xml/XmlDocument.h"
#include "xml/XmlFile.h"
#include "xml/XmlIndex.h"
#include "xml/XmlScanner.h"

#include "platform/kernel/Kernel.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ResultAttrs {
    const char* record;
    const char* valueAttr;
    const char* numberAttr;
};

const ResultAttrs kResultAttrs[] = {
    {"file_error", "msg", "n"},
    {"read", "encoding", "length"},
    {"nulls_removed", nullptr, "count"},
    {"truncation_error", "encoding", nullptr},
    {"converted_to", "encoding", "length"},
    {"converted_from", "encoding", "length"},
    {"write", "encoding", "length"},
    {"unterminated_tag_syntax", "type", "offset"},
    {"first_tag_syntax", nullptr, "offset"},
    {"exclamation_tag_syntax", nullptr, "offset"},
    {"doctype_tag_syntax", nullptr, "offset"},
    {"comment_tag_syntax", nullptr, "offset"},
    {"cdata_section_syntax", nullptr, "offset"},
    {"lone_end_tag", "tagname", "offset"},
    {"unended_start_tag", "tagname", "offset"},
};

// Bytes per unit of a code page as a buffer holds it.
int UnitBytes(int cp) {
    if (cp == XML_CP_UTF16LE || cp == XML_CP_UTF16BE)
        return 2;
    if (cp == XML_CP_UTF32_OWN || cp == 12000 || cp == 12001)
        return 4;
    return 1;
}

void LogFileError(CString* log) {
    DWORD err = GetLastError();
    if (err == 0 && errno != 0)
        err = AfxErrnoToWin32(errno);
    char buf[128] = {0};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, err, 0, buf, 100, nullptr);
    buf[100] = 0;
    buf[std::strcspn(buf, "\r\n")] = 0;
    if (log)
        XmlLogResult(*log, "file_error", buf, static_cast<int>(err));
}

void Log(CString* log, const char* record, const char* value = nullptr, int n1 = -1, bool update = false) {
    if (log)
        XmlLogResult(*log, record, value, n1, -1, update);
}

// Converts src (units of the source encoding) into out (bytes of the target encoding).
bool ConvertBuffer(const char* from, const void* src, int units, const char* to, std::string& out) {
    CXmlTextConverter conv(from, src, units);
    int need = conv.Convert(nullptr, to);
    int unitBytes = UnitBytes(XmlCodePageOf(to));
    int cap = need + need / 100 + 1;
    std::vector<char> buf(static_cast<size_t>(cap) * static_cast<size_t>(unitBytes) + 4);
    conv.m_nToCount = cap;
    int got = conv.Convert(buf.data(), to);
    if (got < 0)
        got = 0;
    out.assign(buf.data(), static_cast<size_t>(got) * static_cast<size_t>(unitBytes));
    return conv.m_bLoss;
}

} // namespace

void XmlLogResult(CString& log, const char* record, const char* value, int n1, int n2, bool update) {
    if (log.GetLength() >= 1000)
        return;
    const ResultAttrs* attrs = nullptr;
    for (const ResultAttrs& a : kResultAttrs)
        if (std::strcmp(a.record, record) == 0)
            attrs = &a;
    CXmlDocument doc;
    doc.SetDocText(log);
    if (update) {
        if (!doc.FindElement(record))
            return;
    } else if (!doc.AddElement(record, nullptr, XNODE_NO_LINEBREAK)) {
        return;
    }
    if (attrs && attrs->valueAttr && value)
        doc.SetAttribute(attrs->valueAttr, value);
    if (attrs && attrs->numberAttr && n1 != -1)
        doc.SetAttribute(attrs->numberAttr, n1);
    if (n2 != -1)
        doc.SetAttribute("offset2", n2);
    log = doc.GetDocText();
}

void XmlDecodeFileBytes(const std::string& data, CString& text, CString* log, int& flags, CString* encoding) {
    flags &= ~(XDOC_UTF8_BOM | XDOC_UTF16LE_FILE | XDOC_UTF16BE_FILE);
    size_t pos = 0;
    int unit = 1;
    CString enc;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(data.data());
    if (data.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        flags |= XDOC_UTF8_BOM;
        enc = "UTF-8";
        pos = 3;
    } else if (data.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        flags |= XDOC_UTF16LE_FILE;
        enc = "UTF-16LE";
        pos = 2;
        unit = 2;
    } else if (data.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        flags |= XDOC_UTF16BE_FILE;
        enc = "UTF-16BE";
        pos = 2;
        unit = 2;
    }
    if (pos) {
        Log(log, "bom");
    } else if (encoding && !encoding->IsEmpty()) {
        enc = *encoding;
    } else {
        std::string head = data.substr(0, 1024);
        enc = XmlSniffDeclaredEncoding(head.c_str());
        if (enc.IsEmpty() && !data.empty() && data[0] == '<')
            enc = "UTF-8";
    }

    // The rest of the file is one block; a UTF-16 file's odd last byte is no unit.
    std::string block = data.substr(pos);
    if (unit == 2 && (block.size() & 1))
        block.resize(block.size() - 1);
    int units = static_cast<int>(block.size()) / unit;
    Log(log, "read", enc, units);

    int removed = 0;
    size_t w = 0;
    for (size_t r = 0; r + static_cast<size_t>(unit) <= block.size(); r += static_cast<size_t>(unit)) {
        if (block[r] == 0 && (unit == 1 || block[r + 1] == 0)) {
            ++removed;
            continue;
        }
        for (int k = 0; k < unit; ++k)
            block[w++] = block[r + static_cast<size_t>(k)];
    }
    block.resize(w);
    if (removed)
        Log(log, "nulls_removed", nullptr, removed);
    if (unit == 2 && (flags & XDOC_UTF16BE_FILE)) {
        for (size_t i = 0; i + 1 < block.size(); i += 2)
            std::swap(block[i], block[i + 1]);
        Log(log, "endian_swap");
    }

    if (unit == 1 && XmlIsAnsiEncoding(enc)) {
        if (enc.IsEmpty()) {
            int nonAscii = 0;
            bool mid = false;
            bool valid = XmlLooksLikeUtf8(block.data(), static_cast<int>(block.size()), &nonAscii, &mid);
            if (valid && nonAscii > 0) {
                std::string out;
                bool loss = ConvertBuffer("UTF-8", block.data(), static_cast<int>(block.size()), "", out);
                text = CString(std::move(out));
                Log(log, "converted_to", "", text.GetLength());
                if (loss)
                    Log(log, "conversion_loss");
                Log(log, "utf8_detection");
                Log(log, "read", "UTF-8", -1, true);
                enc = "UTF-8";
            } else {
                Log(log, "utf8_detection");
                text = CString(std::move(block));
            }
        } else {
            text = CString(std::move(block));
        }
    } else {
        const char* from = unit == 2 ? "UTF-16" : enc.GetString();
        int unitBytes = unit == 2 ? 2 : UnitBytes(XmlCodePageOf(from));
        // Units of two or four bytes are read from an aligned copy.
        std::vector<uint32_t> aligned(block.size() / 4 + 1);
        std::memcpy(aligned.data(), block.data(), block.size());
        std::string out;
        bool loss = ConvertBuffer(from, aligned.data(), static_cast<int>(block.size()) / unitBytes, "", out);
        text = CString(std::move(out));
        Log(log, "converted_to", "", text.GetLength());
        if (loss)
            Log(log, "conversion_loss");
    }
    // The text ends at its first zero byte, as every string of the program does.
    if (std::memchr(text.GetString(), 0, static_cast<size_t>(text.GetLength())))
        text = CString(text.GetString());
    if (encoding && encoding->IsEmpty())
        *encoding = enc;
}

void XmlEncodeFileText(const CString& text, CString* log, int flags, CString* encoding, std::string& out,
                       CString& enc, int& units) {
    out.clear();
    enc.Empty();
    units = 0;
    int unit = 1;
    if (flags & XDOC_UTF8_BOM) {
        enc = "UTF-8";
        out = "\xEF\xBB\xBF";
    } else if (flags & XDOC_UTF16LE_FILE) {
        enc = "UTF-16LE";
        unit = 2;
        out = "\xFF\xFE";
    } else if (flags & XDOC_UTF16BE_FILE) {
        enc = "UTF-16BE";
        unit = 2;
        out = "\xFE\xFF";
    }
    if (!enc.IsEmpty())
        Log(log, "bom");
    else if (encoding && !encoding->IsEmpty())
        enc = *encoding;
    if (enc.IsEmpty() && !text.IsEmpty()) {
        enc = XmlSniffDeclaredEncoding(text);
        if (enc.IsEmpty())
            enc = "UTF-8";
    }
    if (text.IsEmpty())
        return;
    std::string body;
    if (unit == 2) {
        bool loss = ConvertBuffer("", text.GetString(), text.GetLength(), "UTF-16", body);
        units = static_cast<int>(body.size() / 2);
        Log(log, "converted_from", "", units);
        if (loss)
            Log(log, "conversion_loss");
        if (flags & XDOC_UTF16BE_FILE) {
            for (size_t i = 0; i + 1 < body.size(); i += 2)
                std::swap(body[i], body[i + 1]);
            Log(log, "endian_swap");
        }
    } else if (XmlIsAnsiEncoding(enc)) {
        body = text.str();
        units = static_cast<int>(body.size());
    } else {
        bool loss = ConvertBuffer("", text.GetString(), text.GetLength(), enc, body);
        units = static_cast<int>(body.size()) / UnitBytes(XmlCodePageOf(enc));
        Log(log, "converted_from", "", units);
        if (loss)
            Log(log, "conversion_loss");
    }
    out += body;
}

bool CXmlDocument::ReadTextFile(CXmlStrArg fileName, CString& text, CString* log, int* flags,
                                CString* encoding) {
    text.Empty();
    int localFlags = 0;
    if (!flags)
        flags = &localFlags;
    if (!fileName.Get()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        LogFileError(log);
        return false;
    }
    SetLastError(0);
    errno = 0;
    FILE* f = win_fopen(fileName.Get(), "rb");
    if (!f) {
        LogFileError(log);
        return false;
    }
    std::string data;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    bool readError = std::ferror(f) != 0;
    int saved = errno;
    std::fclose(f);
    if (readError) {
        SetLastError(AfxErrnoToWin32(saved));
        LogFileError(log);
        return false;
    }
    XmlDecodeFileBytes(data, text, log, *flags, encoding);
    return true;
}

bool CXmlDocument::WriteTextFile(CXmlStrArg fileName, const CString& text, CString* log, int* flags,
                                 CString* encoding) {
    int localFlags = 0;
    if (!flags)
        flags = &localFlags;
    if (!fileName.Get()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        LogFileError(log);
        return false;
    }
    SetLastError(0);
    errno = 0;
    FILE* f = win_fopen(fileName.Get(), "wb");
    if (!f) {
        LogFileError(log);
        return false;
    }
    std::string out;
    CString enc;
    int units = 0;
    XmlEncodeFileText(text, log, *flags, encoding, out, enc, units);
    bool writeOk = out.empty() || std::fwrite(out.data(), 1, out.size(), f) == out.size();
    int saved = errno;
    if (std::fclose(f) != 0)
        writeOk = false;
    if (!writeOk) {
        SetLastError(AfxErrnoToWin32(saved ? saved : errno));
        LogFileError(log);
        return false;
    }
    Log(log, "write", enc, units);
    if (encoding && encoding->IsEmpty())
        *encoding = enc;
    return true;
}

bool CXmlDocument::Load(CXmlStrArg fileName) {
    if (m_nFlags & (XDOC_READ_STREAM | XDOC_WRITE_STREAM | XDOC_APPEND_STREAM))
        return false;
    CString text;
    CString log;
    int flags = m_nFlags;
    bool ok = ReadTextFile(fileName, text, &log, &flags, nullptr);
    if (!ok) {
        SetDocText(nullptr);
        m_strLog = log;
        return false;
    }
    m_nFlags = (m_nFlags & ~(XDOC_UTF8_BOM | XDOC_UTF16LE_FILE | XDOC_UTF16BE_FILE)) |
               (flags & (XDOC_UTF8_BOM | XDOC_UTF16LE_FILE | XDOC_UTF16BE_FILE));
    m_strXml = text;
    m_strLog = log;
    return ParseText();
}

bool CXmlDocument::Save(CXmlStrArg fileName) {
    if (m_nFlags & (XDOC_READ_STREAM | XDOC_WRITE_STREAM | XDOC_APPEND_STREAM))
        return false;
    int flags = m_nFlags;
    return WriteTextFile(fileName, m_strXml, &m_strLog, &flags, nullptr);
}
