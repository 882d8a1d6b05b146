#include "xml/XmlCodec.h"
#include "xml/XmlDocument.h"
#include "xml/XmlIndex.h"
#include "xml/XmlScanner.h"

#include "platform/kernel/CodePage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct NamedRef {
    const char* name;
    int codePoint;
};

// The character entities of HTML 4.01 and "apos".
const NamedRef kNamedRefs[] = {
    {"nbsp", 160},    {"iexcl", 161},    {"cent", 162},    {"pound", 163},   {"curren", 164},
    {"yen", 165},     {"brvbar", 166},   {"sect", 167},    {"uml", 168},     {"copy", 169},
    {"ordf", 170},    {"laquo", 171},    {"not", 172},     {"shy", 173},     {"reg", 174},
    {"macr", 175},    {"deg", 176},      {"plusmn", 177},  {"sup2", 178},    {"sup3", 179},
    {"acute", 180},   {"micro", 181},    {"para", 182},    {"middot", 183},  {"cedil", 184},
    {"sup1", 185},    {"ordm", 186},     {"raquo", 187},   {"frac14", 188},  {"frac12", 189},
    {"frac34", 190},  {"iquest", 191},   {"Agrave", 192},  {"Aacute", 193},  {"Acirc", 194},
    {"Atilde", 195},  {"Auml", 196},     {"Aring", 197},   {"AElig", 198},   {"Ccedil", 199},
    {"Egrave", 200},  {"Eacute", 201},   {"Ecirc", 202},   {"Euml", 203},    {"Igrave", 204},
    {"Iacute", 205},  {"Icirc", 206},    {"Iuml", 207},    {"ETH", 208},     {"Ntilde", 209},
    {"Ograve", 210},  {"Oacute", 211},   {"Ocirc", 212},   {"Otilde", 213},  {"Ouml", 214},
    {"times", 215},   {"Oslash", 216},   {"Ugrave", 217},  {"Uacute", 218},  {"Ucirc", 219},
    {"Uuml", 220},    {"Yacute", 221},   {"THORN", 222},   {"szlig", 223},   {"agrave", 224},
    {"aacute", 225},  {"acirc", 226},    {"atilde", 227},  {"auml", 228},    {"aring", 229},
    {"aelig", 230},   {"ccedil", 231},   {"egrave", 232},  {"eacute", 233},  {"ecirc", 234},
    {"euml", 235},    {"igrave", 236},   {"iacute", 237},  {"icirc", 238},   {"iuml", 239},
    {"eth", 240},     {"ntilde", 241},   {"ograve", 242},  {"oacute", 243},  {"ocirc", 244},
    {"otilde", 245},  {"ouml", 246},     {"divide", 247},  {"oslash", 248},  {"ugrave", 249},
    {"uacute", 250},  {"ucirc", 251},    {"uuml", 252},    {"yacute", 253},  {"thorn", 254},
    {"yuml", 255},    {"fnof", 402},     {"Alpha", 913},   {"Beta", 914},    {"Gamma", 915},
    {"Delta", 916},   {"Epsilon", 917},  {"Zeta", 918},    {"Eta", 919},     {"Theta", 920},
    {"Iota", 921},    {"Kappa", 922},    {"Lambda", 923},  {"Mu", 924},      {"Nu", 925},
    {"Xi", 926},      {"Omicron", 927},  {"Pi", 928},      {"Rho", 929},     {"Sigma", 931},
    {"Tau", 932},     {"Upsilon", 933},  {"Phi", 934},     {"Chi", 935},     {"Psi", 936},
    {"Omega", 937},   {"alpha", 945},    {"beta", 946},    {"gamma", 947},   {"delta", 948},
    {"epsilon", 949}, {"zeta", 950},     {"eta", 951},     {"theta", 952},   {"iota", 953},
    {"kappa", 954},   {"lambda", 955},   {"mu", 956},      {"nu", 957},      {"xi", 958},
    {"omicron", 959}, {"pi", 960},       {"rho", 961},     {"sigmaf", 962},  {"sigma", 963},
    {"tau", 964},     {"upsilon", 965},  {"phi", 966},     {"chi", 967},     {"psi", 968},
    {"omega", 969},   {"thetasym", 977}, {"upsih", 978},   {"piv", 982},     {"bull", 8226},
    {"hellip", 8230}, {"prime", 8242},   {"Prime", 8243},  {"oline", 8254},  {"frasl", 8260},
    {"weierp", 8472}, {"image", 8465},   {"real", 8476},   {"trade", 8482},  {"alefsym", 8501},
    {"larr", 8592},   {"uarr", 8593},    {"rarr", 8594},   {"darr", 8595},   {"harr", 8596},
    {"crarr", 8629},  {"lArr", 8656},    {"uArr", 8657},   {"rArr", 8658},   {"dArr", 8659},
    {"hArr", 8660},   {"forall", 8704},  {"part", 8706},   {"exist", 8707},  {"empty", 8709},
    {"nabla", 8711},  {"isin", 8712},    {"notin", 8713},  {"ni", 8715},     {"prod", 8719},
    {"sum", 8721},    {"minus", 8722},   {"lowast", 8727}, {"radic", 8730},  {"prop", 8733},
    {"infin", 8734},  {"ang", 8736},     {"and", 8743},    {"or", 8744},     {"cap", 8745},
    {"cup", 8746},    {"int", 8747},     {"there4", 8756}, {"sim", 8764},    {"cong", 8773},
    {"asymp", 8776},  {"ne", 8800},      {"equiv", 8801},  {"le", 8804},     {"ge", 8805},
    {"sub", 8834},    {"sup", 8835},     {"nsub", 8836},   {"sube", 8838},   {"supe", 8839},
    {"oplus", 8853},  {"otimes", 8855},  {"perp", 8869},   {"sdot", 8901},   {"lceil", 8968},
    {"rceil", 8969},  {"lfloor", 8970},  {"rfloor", 8971}, {"lang", 9001},   {"rang", 9002},
    {"loz", 9674},    {"spades", 9824},  {"clubs", 9827},  {"hearts", 9829}, {"diams", 9830},
    {"quot", 34},     {"amp", 38},       {"lt", 60},       {"gt", 62},       {"OElig", 338},
    {"oelig", 339},   {"Scaron", 352},   {"scaron", 353},  {"Yuml", 376},    {"circ", 710},
    {"tilde", 732},   {"ensp", 8194},    {"emsp", 8195},   {"thinsp", 8201}, {"zwnj", 8204},
    {"zwj", 8205},    {"lrm", 8206},     {"rlm", 8207},    {"ndash", 8211},  {"mdash", 8212},
    {"lsquo", 8216},  {"rsquo", 8217},   {"sbquo", 8218},  {"ldquo", 8220},  {"rdquo", 8221},
    {"bdquo", 8222},  {"dagger", 8224},  {"Dagger", 8225}, {"permil", 8240}, {"lsaquo", 8249},
    {"rsaquo", 8250}, {"euro", 8364},    {"apos", 39},
};

bool HasUpper(const char* s) {
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z')
            return true;
    return false;
}

// Keyed by the lower-case name; of two names differing only in case, the one with capitals first.
const std::unordered_map<std::string, std::vector<NamedRef>>& RefTable() {
    static const std::unordered_map<std::string, std::vector<NamedRef>> table = [] {
        std::unordered_map<std::string, std::vector<NamedRef>> t;
        for (const NamedRef& r : kNamedRefs) {
            std::string key = AfxAsciiLower(r.name);
            auto& v = t[key];
            if (HasUpper(r.name))
                v.insert(v.begin(), r);
            else
                v.push_back(r);
        }
        return t;
    }();
    return table;
}

int LookupNamedRef(const char* name, int len) {
    std::string key = AfxAsciiLower(std::string_view(name, static_cast<size_t>(len)));
    auto it = RefTable().find(key);
    if (it == RefTable().end())
        return 0;
    for (const NamedRef& r : it->second)
        if (std::strlen(r.name) == static_cast<size_t>(len) &&
            std::memcmp(r.name, name, static_cast<size_t>(len)) == 0)
            return r.codePoint;
    return it->second.front().codePoint;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The code point of the reference between "&" and ";", 0 when it names none.
int ResolveReference(const char* ref, int len) {
    if (len > 0 && ref[0] == '#') {
        long long value = 0;
        int i = 1;
        if (i < len && (ref[i] == 'x' || ref[i] == 'X')) {
            for (++i; i < len && HexValue(ref[i]) >= 0; ++i) {
                value = value * 16 + HexValue(ref[i]);
                if (value > 0x10FFFF)
                    return 0;
            }
        } else {
            for (; i < len && ref[i] >= '0' && ref[i] <= '9'; ++i) {
                value = value * 10 + (ref[i] - '0');
                if (value > 0x10FFFF)
                    return 0;
            }
        }
        return static_cast<int>(value);
    }
    // The references of XML itself, as the table gives them, without building a key.
    switch (len) {
    case 2:
        if (ref[1] == 't' && (ref[0] == 'l' || ref[0] == 'g'))
            return ref[0] == 'l' ? '<' : '>';
        break;
    case 3:
        if (ref[0] == 'a' && ref[1] == 'm' && ref[2] == 'p')
            return '&';
        break;
    case 4:
        if (std::memcmp(ref, "quot", 4) == 0)
            return '"';
        if (std::memcmp(ref, "apos", 4) == 0)
            return '\'';
        break;
    default:
        break;
    }
    return LookupNamedRef(ref, len);
}

} // namespace

CString CXmlDocument::EscapeText(const char* text, int flags) {
    CString result;
    if (!text)
        return result;
    size_t len = std::strlen(text);
    std::string& out = result.str();
    out.reserve(len + len / 10 + 7);
    for (size_t i = 0; i < len;) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '<':
            out += "&lt;";
            ++i;
            continue;
        case '>':
            out += "&gt;";
            ++i;
            continue;
        case '&': {
            if (flags & XNODE_KEEP_REFS) {
                auto refChar = [](unsigned char d) {
                    return d == '-' || d == '.' || (d >= '0' && d <= '9') || d == ':' || d == '_' ||
                           (d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z') || d >= 0x80;
                };
                unsigned char d = static_cast<unsigned char>(text[i + 1]);
                if (d == '#' || d == ':' || d == '_' || (d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z') ||
                    d >= 0x80) {
                    size_t k = i + 2;
                    while (k < len && refChar(static_cast<unsigned char>(text[k])))
                        ++k;
                    if (k < len && text[k] == ';') {
                        out.append(text + i, k + 1 - i);
                        i = k + 1;
                        continue;
                    }
                }
            }
            out += "&amp;";
            ++i;
            continue;
        }
        case '"':
            if (flags & XNODE_ESCAPE_QUOTES) {
                out += "&quot;";
                ++i;
                continue;
            }
            break;
        case '\'':
            if (flags & XNODE_ESCAPE_QUOTES) {
                out += "&apos;";
                ++i;
                continue;
            }
            break;
        default:
            break;
        }
        if (i + 1 == len && XmlIsLeadByte(c)) {
            // A lead byte with nothing after it would take the quote or "<" written behind the
            // value as its second byte and break the markup; it is no character, so it goes the
            // way of any unmappable one.
            out.push_back('?');
            ++i;
            continue;
        }
        size_t n = static_cast<size_t>(XmlCharLen(text + i));
        out.append(text + i, n);
        i += n;
    }
    return result;
}

CString CXmlDocument::UnescapeText(const char* text, int length, int flags) {
    CString result;
    if (!text)
        return result;
    int end = length < 0 ? static_cast<int>(std::strlen(text)) : length;
    int i = 0;
    const bool trim = (flags & (XDOC_TRIM_WHITESPACE | XDOC_COLLAPSE_WHITESPACE)) != 0;
    const bool collapse = (flags & XDOC_COLLAPSE_WHITESPACE) != 0;
    if (trim) {
        while (i < end && XmlIsSpace(static_cast<unsigned char>(text[i])))
            ++i;
        while (end > i && XmlIsSpace(static_cast<unsigned char>(text[end - 1])))
            --end;
    }
    // Without a reference to resolve or whitespace to collapse, the value is its text.
    if (!collapse && !std::memchr(text + i, '&', static_cast<size_t>(end - i)))
        return CString(text + i, end - i);
    std::string& out = result.str();
    out.reserve(static_cast<size_t>(end - i));
    const bool* lead = XmlLeads().lead;
    while (i < end) {
        // A run of characters that stand for themselves is copied at once.
        int run = i;
        while (i < end) {
            unsigned char d = static_cast<unsigned char>(text[i]);
            if (d == '&' || (collapse && XmlIsSpace(d)))
                break;
            i += (d >= 0x80 && lead[d] && i + 1 < end && text[i + 1] != 0) ? 2 : 1;
        }
        out.append(text + run, static_cast<size_t>(i - run));
        if (i >= end)
            break;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '&') {
            int j = i + 1;
            while (j < end && j - i - 1 < 9 && text[j] != ';' && static_cast<unsigned char>(text[j]) < 0x80)
                ++j;
            if (j < end && text[j] == ';') {
                int cp = ResolveReference(text + i + 1, j - i - 1);
                if (cp > 0 && cp < 0x80) {
                    // ASCII is itself in the ANSI code page; no converter is needed.
                    out.push_back(static_cast<char>(cp));
                    i = j + 1;
                    continue;
                }
                if (cp > 0) {
                    WCHAR w[2];
                    int n = 0;
                    XmlEncodeUtf16(cp, w, n);
                    char bytes[8];
                    BOOL used = FALSE;
                    int got = WideCharToMultiByte(CP_ACP, 0, w, n, bytes, 5, nullptr, &used);
                    if (got > 0 && !used) {
                        out.append(bytes, static_cast<size_t>(got));
                        i = j + 1;
                        continue;
                    }
                }
            }
            out.push_back('&');
            ++i;
            continue;
        }
        // Collapsing: a run of whitespace becomes one blank.
        while (i < end && XmlIsSpace(static_cast<unsigned char>(text[i])))
            ++i;
        out.push_back(' ');
    }
    return result;
}

namespace {

// The attribute search and the value's unescaping, kept out of line so that the lookups that
// end at the pre-check cost no more than it.
[[gnu::noinline]] CString FindAttributeValue(const char* text, int flags, int tagOffset, int tagLen,
                                             const char* name) {
    CXmlScanner sc(text, flags, tagOffset + 1);
    if (!XmlFindAttribute(sc, name, tagOffset + tagLen))
        return CString();
    return CXmlDocument::UnescapeText(text + sc.nNameStart, sc.NameLength(), flags);
}

} // namespace

CString CXmlDocument::GetAttribute(CXmlStrArg name) const {
    if (!m_nMain || !name.Get())
        return CString();
    const XmlElemRecord& r = RecordAt(m_nMain);
    const char* text = m_strXml.GetString();
    if (!XmlMayHoldAttribute(text + r.nOffset, r.nStartTagLen, name.Get(), m_nFlags))
        return CString();
    return FindAttributeValue(text, m_nFlags, r.nOffset, r.nStartTagLen, name.Get());
}

CString CXmlDocument::GetRawContent() const {
    if (!m_nMain)
        return CString();
    const XmlElemRecord& r = RecordAt(m_nMain);
    int start = r.ContentStart();
    int len = r.ContentLength();
    int textLen = m_strXml.GetLength();
    if (len <= 0 || start < 0 || start >= textLen)
        return CString();
    len = std::min(len, textLen - start);
    return CString(m_strXml.GetString() + start, len);
}

CString CXmlDocument::GetElementText() const {
    if (!m_nMain)
        return CString();
    const XmlElemRecord& r = RecordAt(m_nMain);
    if (r.IsEmptyElement() || r.nFirstChild)
        return CString();
    const char* t = m_strXml.GetString();
    int textLen = m_strXml.GetLength();
    int start = r.ContentStart();
    int end = std::min(start + r.ContentLength(), textLen);
    if (start < 0 || start >= end)
        return CString();
    if (!std::memchr(t + start, '<', static_cast<size_t>(end - start)))
        return UnescapeText(t + start, end - start, m_nFlags);
    CString result;
    CXmlScanner sc(t, m_nFlags, start);
    XmlNodeInfo node;
    while (sc.nNext < end) {
        int kind = XmlScanNode(sc, node);
        if (kind == XML_NODE_END_OF_TEXT)
            break;
        int nodeEnd = std::min(node.nStart + node.nLength, end);
        if (kind == XML_NODE_TEXT) {
            result += UnescapeText(t + node.nStart, nodeEnd - node.nStart, m_nFlags);
        } else if (kind == XML_NODE_CDATA) {
            int s = node.nStart + 9;
            int e = nodeEnd - 3;
            if (nodeEnd == node.nStart + node.nLength && e > s)
                result.Append(t + s, e - s);
        }
    }
    return result;
}
