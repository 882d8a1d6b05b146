#include "xml/XmlCodec.h"

#include "platform/kernel/CodePage.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct EncodingName {
    const char* name;
    int codePage;
};

const EncodingName kEncodingNames[] = {
    {"csptcp154", 154},
    {"cyrillic-asian", 154},
    {"cp154", 154},
    {"pt154", 154},
    {"ptcp154", 154},
    {"ibm437", 437},
    {"cspc8", 437},
    {"codepage437", 437},
    {"cp437", 437},
    {"cspc8codepage437", 437},
    {"asmo-708", 708},
    {"dos-720", 720},
    {"ibm737", 737},
    {"cp737", 737},
    {"ibm775", 775},
    {"ebcdic-cp-be", 775},
    {"ebcdic-cp-ch", 775},
    {"cp500", 775},
    {"csibm500", 775},
    {"cp775", 775},
    {"cspc775baltic", 775},
    {"ibm850", 850},
    {"cspc850multilingual", 850},
    {"cp850", 850},
    {"ibm852", 852},
    {"cp852", 852},
    {"cspcp852", 852},
    {"cp853", 853},
    {"ibm855", 855},
    {"cp855", 855},
    {"csibm855", 855},
    {"ibm857", 857},
    {"cp857", 857},
    {"csibm857", 857},
    {"ccsid00858", 858},
    {"cp00858", 858},
    {"cp858", 858},
    {"pc-multilingual-850+euro", 858},
    {"ibm00858", 858},
    {"ibm860", 860},
    {"cp860", 860},
    {"csibm860", 860},
    {"ibm861", 861},
    {"cp-is", 861},
    {"cp861", 861},
    {"csibm861", 861},
    {"ibm862", 862},
    {"cspc862latinhebrew", 862},
    {"cp862", 862},
    {"dos-862", 862},
    {"ibm863", 863},
    {"cp863", 863},
    {"csibm863", 863},
    {"ibm864", 864},
    {"cp864", 864},
    {"csibm864", 864},
    {"ibm865", 865},
    {"cp865", 865},
    {"csibm865", 865},
    {"ibm866", 866},
    {"cp866", 866},
    {"csibm866", 866},
    {"cp-gr", 869},
    {"ibm869", 869},
    {"cp869", 869},
    {"csibm869", 869},
    {"windows-874", 874},
    {"cp874", 874},
    {"tis-620", 874},
    {"dos-874", 874},
    {"iso-8859-11", 874},
    {"x-ms-cp932", 932},
    {"shift_jis", 932},
    {"sjis-win", 932},
    {"windows-932", 932},
    {"cp932", 932},
    {"ms_kanji", 932},
    {"ms932", 932},
    {"sjis-ms", 932},
    {"shifft_jis-ms", 932},
    {"windows-31j", 932},
    {"cswindows31j", 932},
    {"sjis", 932},
    {"shifft_jis", 932},
    {"shift-jis", 932},
    {"x-sjis", 932},
    {"sjis-open", 932},
    {"csshiftjis", 932},
    {"gb_2312-80", 936},
    {"gb231280", 936},
    {"windows-936", 936},
    {"cp936", 936},
    {"csiso58gb231280", 936},
    {"ms936", 936},
    {"gb2312-80", 936},
    {"gb2312", 936},
    {"csgb231280", 936},
    {"chinese", 936},
    {"iso-ir-58", 936},
    {"cn-gb", 936},
    {"csgb2312", 936},
    {"gbk", 936},
    {"ksc_5601", 949},
    {"uhc", 949},
    {"korean", 949},
    {"iso-ir-149", 949},
    {"csksc56011987", 949},
    {"ks_c_5601-1987", 949},
    {"ks_c_5601-1989", 949},
    {"ksc5601", 949},
    {"cp949", 949},
    {"ks_c_5601", 949},
    {"ks_c_5601_1987", 949},
    {"ks-c5601", 949},
    {"ks-c-5601", 949},
    {"big5-hkscs", 950},
    {"big5", 950},
    {"cp950", 950},
    {"x-x-big5", 950},
    {"csbig5", 950},
    {"cn-big5", 950},
    {"cp1125", 1125},
    {"cp1133", 1133},
    {"ibm-cp1133", 1133},
    {"ucs-2le", 1200},
    {"utf-16", 1200},
    {"utf16le", 1200},
    {"utf-16le", 1200},
    {"cp1200", 1200},
    {"ucs-2", 1200},
    {"unicode", 1200},
    {"utf16", 1200},
    {"ucs-2be", 1201},
    {"utf16be", 1201},
    {"utf-16be", 1201},
    {"unicodefffe", 1201},
    {"cp1201", 1201},
    {"ms-ee", 1250},
    {"windows-1250", 1250},
    {"cp1250", 1250},
    {"x-cp1250", 1250},
    {"ms-cyrl", 1251},
    {"windows-1251", 1251},
    {"cp1251", 1251},
    {"x-cp1251", 1251},
    {"ms-ansi", 1252},
    {"windows-1252", 1252},
    {"cp1252", 1252},
    {"x-ansi", 1252},
    {"ms-greek", 1253},
    {"windows-1253", 1253},
    {"cp1253", 1253},
    {"windows-1254", 1254},
    {"ms-turk", 1254},
    {"cp1254", 1254},
    {"ms-hebr", 1255},
    {"windows-1255", 1255},
    {"cp1255", 1255},
    {"ms-arab", 1256},
    {"windows-1256", 1256},
    {"cp1256", 1256},
    {"cp1256 ", 1256},
    {"windows-1257", 1257},
    {"cp1257", 1257},
    {"winbaltrim", 1257},
    {"windows-1258", 1258},
    {"cp1258", 1258},
    {"johab", 1361},
    {"cp1361", 1361},
    {"macintosh", 10000},
    {"csmacintosh", 10000},
    {"mac", 10000},
    {"x-mac-japanese", 10001},
    {"x-mac-chinesetrad", 10002},
    {"x-mac-korean", 10003},
    {"x-mac-arabic", 10004},
    {"x-mac-hebrew", 10005},
    {"x-mac-greek", 10006},
    {"x-mac-cyrillic", 10007},
    {"x-mac-chinesesimp", 10008},
    {"x-mac-romanian", 10010},
    {"x-mac-ukrainian", 10017},
    {"x-mac-thai", 10021},
    {"x-mac-ce", 10029},
    {"x-mac-icelandic", 10079},
    {"x-mac-turkish", 10081},
    {"x-mac-croatian", 10082},
    {"utf-32", 12000},
    {"utf32le", 12000},
    {"utf-32le", 12000},
    {"utf32", 12000},
    {"cp12000", 12000},
    {"utf32be", 12001},
    {"utf-32be", 12001},
    {"cp12001", 12001},
    {"x-chinese-cns", 20000},
    {"x-chinese_cns", 20000},
    {"x-cp20001", 20001},
    {"x_chinese-eten", 20002},
    {"x-chinese-eten", 20002},
    {"x-cp20003", 20003},
    {"x-cp20004", 20004},
    {"x-cp20005", 20005},
    {"x-ia5", 20105},
    {"x-ia5-german", 20106},
    {"x-ia5-swedish", 20107},
    {"x-ia5-norwegian", 20108},
    {"ibm367", 20127},
    {"us-ascii", 20127},
    {"ascii", 20127},
    {"cp367", 20127},
    {"iso-ir-6", 20127},
    {"us", 20127},
    {"csascii", 20127},
    {"ansi_x3.4-1968", 20127},
    {"ansi_x3.4-1986", 20127},
    {"iso646-us", 20127},
    {"iso-ir-6us", 20127},
    {"iso_646.irv:1991", 20127},
    {"x-cp20261", 20261},
    {"x-cp20269", 20269},
    {"koi", 20866},
    {"koi8r", 20866},
    {"koi8", 20866},
    {"koi8-r", 20866},
    {"cskoi8r", 20866},
    {"cseucpkdfmtjapanese", 20932},
    {"extended_unix_code_packed_format_for_japanese", 20932},
    {"euc-jp", 20932},
    {"x-cp20936", 20936},
    {"x-cp20949", 20949},
    {"koi8-ru", 21866},
    {"koi8-u", 21866},
    {"l1", 28591},
    {"ibm819", 28591},
    {"iso-ir-100", 28591},
    {"iso8859-1", 28591},
    {"csisolatin1", 28591},
    {"cp819", 28591},
    {"iso-8859-1", 28591},
    {"iso_8859-1:1987", 28591},
    {"latin1", 28591},
    {"iso_8859-1", 28591},
    {"l2", 28592},
    {"iso-ir-101", 28592},
    {"iso8859-2", 28592},
    {"csisolatin2", 28592},
    {"iso-8859-2", 28592},
    {"iso_8859-2:1987", 28592},
    {"latin2", 28592},
    {"iso_8859-2", 28592},
    {"l3", 28593},
    {"iso-ir-109", 28593},
    {"iso8859-3", 28593},
    {"csisolatin3", 28593},
    {"iso-8859-3", 28593},
    {"iso_8859-3:1988", 28593},
    {"latin3", 28593},
    {"iso_8859-3", 28593},
    {"l4", 28594},
    {"iso-ir-110", 28594},
    {"iso8859-4", 28594},
    {"csisolatin4", 28594},
    {"iso-8859-4", 28594},
    {"iso_8859-4:1988", 28594},
    {"latin4", 28594},
    {"iso_8859-4", 28594},
    {"iso-ir-144", 28595},
    {"iso8859-5", 28595},
    {"csisolatin5", 28595},
    {"iso-8859-5", 28595},
    {"csisolatincyrillic", 28595},
    {"cyrillic", 28595},
    {"iso_8859-5:1988", 28595},
    {"iso_8859-5", 28595},
    {"iso-ir-127", 28596},
    {"iso8859-6", 28596},
    {"iso-8859-6", 28596},
    {"iso_8859-6:1987", 28596},
    {"iso_8859-6", 28596},
    {"ecma-114", 28596},
    {"csisolatinarabic", 28596},
    {"arabic", 28596},
    {"iso-ir-126", 28597},
    {"iso8859-7", 28597},
    {"csisolatingreek", 28597},
    {"greek", 28597},
    {"elot_928", 28597},
    {"iso-8859-7", 28597},
    {"iso_8859-7:1987", 28597},
    {"greek8", 28597},
    {"iso_8859-7", 28597},
    {"ecma-118", 28597},
    {"csisolatinhebrew", 28598},
    {"hebrew", 28598},
    {"iso-ir-138", 28598},
    {"iso8859-8", 28598},
    {"visual", 28598},
    {"iso-8859-8", 28598},
    {"iso_8859-8:1988", 28598},
    {"iso_8859-8", 28598},
    {"l5", 28599},
    {"iso-ir-148", 28599},
    {"iso8859-9", 28599},
    {"iso-8859-9", 28599},
    {"iso_8859-9:1989", 28599},
    {"latin5", 28599},
    {"iso_8859-9", 28599},
    {"iso8859-13", 28603},
    {"iso-8859-13", 28603},
    {"l9", 28605},
    {"latin-9", 28605},
    {"iso_8859-15", 28605},
    {"iso8859-15", 28605},
    {"iso-8859-15", 28605},
    {"latin9", 28605},
    {"x-europa", 29001},
    {"iso8859-8-i", 38598},
    {"iso-8859-8-i", 38598},
    {"logical", 38598},
    {"iso-2022-jp", 50220},
    {"_iso-2022-jp", 50221},
    {"ms50221", 50221},
    {"iso-2022-jp-ms", 50221},
    {"csiso2022jp", 50221},
    {"iso2022-jp-ms", 50221},
    {"windows-50221", 50221},
    {"cp50221", 50221},
    {"_iso-2022-jp$sio", 50222},
    {"iso2022-kr", 50225},
    {"csiso2022kr", 50225},
    {"iso-2022-kr", 50225},
    {"x-cp50227", 50227},
    {"cp51932", 51932},
    {"x-euc", 51932},
    {"ms51932", 51932},
    {"x-euc-jp", 51932},
    {"windows-51932", 51932},
    {"euc-cn", 51936},
    {"x-euc-cn", 51936},
    {"euc-kr", 51949},
    {"cseuckr", 51949},
    {"hz-gb-2312", 52936},
    {"iso-4873:1986", 54936},
    {"gb18030", 54936},
    {"x-iscii-de", 57002},
    {"x-iscii-be", 57003},
    {"x-iscii-ta", 57004},
    {"x-iscii-te", 57005},
    {"x-iscii-as", 57006},
    {"x-iscii-or", 57007},
    {"x-iscii-ka", 57008},
    {"x-iscii-ma", 57009},
    {"x-iscii-gu", 57010},
    {"x-iscii-pa", 57011},
    {"unicode-1-1-utf-7", 65000},
    {"x-unicode-2-0-utf-7", 65000},
    {"csunicode11utf7", 65000},
    {"utf-7", 65000},
    {"unicode-1-1-utf-8", 65001},
    {"unicode-2-0-utf-8", 65001},
    {"x-unicode-2-0-utf-8", 65001},
    {"utf8", 65001},
    {"utf-8", 65001},
    {"cp65001", 65001},
};

const std::unordered_map<std::string, int>& EncodingTable() {
    static const std::unordered_map<std::string, int> table = [] {
        std::unordered_map<std::string, int> t;
        for (const EncodingName& e : kEncodingNames)
            t.emplace(e.name, e.codePage);
        return t;
    }();
    return table;
}

int ToCodePage(const char* name) {
    int cp = XmlCodePageOf(name);
    return cp < 0 ? 0 : cp;
}

int Narrow(const WCHAR* src, int len, int cp, char* dst, int cap, bool& loss) {
    if (len <= 0)
        return 0;
    BOOL used = FALSE;
    int n = WideCharToMultiByte(static_cast<UINT>(cp), 0, src, len, dst, dst ? cap : 0, nullptr,
                                AfxCodePageRefusesDefaultChar(static_cast<UINT>(cp)) ? nullptr : &used);
    if (used)
        loss = true;
    return n;
}

} // namespace

int XmlCodePageOf(const char* name) {
    if (name == nullptr || *name == 0)
        return 0;
    if (std::strncmp(name, "UTF-32", 6) == 0)
        return XML_CP_UTF32_OWN;
    size_t len = std::strlen(name);
    if (len >= 100)
        return -1;
    auto it = EncodingTable().find(AfxAsciiLower(std::string_view(name, len)));
    return it == EncodingTable().end() ? -1 : it->second;
}

bool XmlCanConvert(const char* from, const char* to) {
    int a = XmlCodePageOf(from);
    int b = XmlCodePageOf(to);
    if (a < 0 || b < 0)
        return false;
    if (a == 0)
        a = static_cast<int>(GetACP());
    if (b == 0)
        b = static_cast<int>(GetACP());
    return a != b;
}

bool XmlIsAnsiEncoding(const char* name) {
    int cp = XmlCodePageOf(name);
    return cp <= 0 || cp == static_cast<int>(GetACP());
}

int XmlDecodeUtf8(const char*& cursor, const char* end) {
    unsigned char lead = static_cast<unsigned char>(*cursor++);
    if (lead < 0x80)
        return lead;
    int more;
    int value;
    // A continuation byte cannot start a character, and each continuation byte must be 10xxxxxx:
    // otherwise double-byte ANSI text such as D6 D0 would pass for UTF-8 and be converted.
    if (lead < 0xC0)
        return -1;
    if (!(lead & 0x20)) {
        more = 1;
        value = lead & 0x1F;
    } else if (!(lead & 0x10)) {
        more = 2;
        value = lead & 0x0F;
    } else if (!(lead & 0x08)) {
        more = 3;
        value = lead & 0x07;
    } else {
        return -1;
    }
    while (more-- > 0) {
        if (cursor >= end || (static_cast<unsigned char>(*cursor) & 0xC0) != 0x80)
            return -1;
        value = (value << 6) | (static_cast<unsigned char>(*cursor++) & 0x3F);
    }
    return value;
}

void XmlEncodeUtf8(int cp, char* out, int& count) {
    auto put = [&](int b) {
        if (out)
            out[count] = static_cast<char>(b);
        ++count;
    };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | ((cp >> 6) & 0x1F));
        put(0x80 | (cp & 0x3F));
    } else if (cp <= 0xFFFF) {
        put(0xE0 | ((cp >> 12) & 0x0F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | ((cp >> 18) & 0x07));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

int XmlDecodeUtf16(const WCHAR*& cursor, const WCHAR* end) {
    int unit = *cursor++;
    if (unit < 0xD800 || unit > 0xDFFF)
        return unit;
    if (cursor >= end || *cursor == 0)
        return -1;
    int next = *cursor++;
    return (unit & 0x3FF) * 1024 + (next & 0x3FF) + 0x10000;
}

void XmlEncodeUtf16(int cp, WCHAR* out, int& count) {
    if (cp > 0xFFFF) {
        if (out) {
            out[count] = static_cast<WCHAR>(0xD800 | (((cp - 0x10000) >> 10) & 0x3FF));
            out[count + 1] = static_cast<WCHAR>(0xDC00 | (cp & 0x3FF));
        }
        count += 2;
    } else {
        if (out)
            out[count] = static_cast<WCHAR>(cp);
        ++count;
    }
}

bool XmlLooksLikeUtf8(const char* text, int length, int* nonAscii, bool* endsMidChar) {
    const char* p = text;
    const char* end = text + (length < 0 ? 0 : length);
    int count = 0;
    if (endsMidChar)
        *endsMidChar = false;
    while (p < end && *p) {
        if (static_cast<unsigned char>(*p) < 0x80) {
            ++p;
            continue;
        }
        ++count;
        const char* q = p;
        if (XmlDecodeUtf8(q, end) < 0) {
            if (endsMidChar)
                *endsMidChar = q >= end;
            if (nonAscii)
                *nonAscii = count;
            return false;
        }
        p = q;
    }
    if (nonAscii)
        *nonAscii = count;
    return true;
}

CXmlTextConverter::CXmlTextConverter(const char* from, const void* source, int length)
    : m_strFrom(from), m_pFrom(source), m_nFromLen(length < 0 ? 0 : length) {}

int CXmlTextConverter::Convert(void* destination, const char* target) {
    if (target)
        m_strTo = target;
    int from = ToCodePage(m_strFrom);
    int to = ToCodePage(m_strTo);
    int cap = destination ? m_nToCount : 0;
    int produced = 0;
    m_bLoss = false;
    if (from == XML_CP_UTF32_OWN) {
        const uint32_t* src = static_cast<const uint32_t*>(m_pFrom);
        for (int i = 0; i < m_nFromLen; ++i) {
            int cp = static_cast<int>(src[i]);
            int n = 0;
            if (to == CP_UTF8) {
                char tmp[4];
                XmlEncodeUtf8(cp, tmp, n);
                if (cap && produced + n > cap)
                    break;
                if (cap)
                    std::memcpy(static_cast<char*>(destination) + produced, tmp, n);
            } else if (to == XML_CP_UTF16LE) {
                WCHAR tmp[2];
                XmlEncodeUtf16(cp, tmp, n);
                if (cap && produced + n > cap)
                    break;
                if (cap)
                    std::memcpy(static_cast<WCHAR*>(destination) + produced, tmp, n * sizeof(WCHAR));
            }
            produced += n;
        }
    } else if (from == XML_CP_UTF16LE) {
        const WCHAR* src = static_cast<const WCHAR*>(m_pFrom);
        if (to == XML_CP_UTF32_OWN) {
            const WCHAR* p = src;
            const WCHAR* end = src + m_nFromLen;
            while (p < end) {
                int cp = XmlDecodeUtf16(p, end);
                if (cap && produced >= cap)
                    break;
                if (cap)
                    static_cast<uint32_t*>(destination)[produced] = static_cast<uint32_t>(cp < 0 ? '?' : cp);
                ++produced;
            }
        } else {
            produced = Narrow(src, m_nFromLen, to, static_cast<char*>(destination), cap, m_bLoss);
        }
    } else if (to == XML_CP_UTF16LE) {
        if (m_nFromLen > 0)
            produced = MultiByteToWideChar(static_cast<UINT>(from), 0, static_cast<const char*>(m_pFrom),
                                           m_nFromLen, static_cast<WCHAR*>(destination), cap);
    } else if (to != XML_CP_UTF32_OWN) {
        if (m_nFromLen > 0) {
            std::vector<WCHAR> wide(static_cast<size_t>(m_nFromLen));
            int n = MultiByteToWideChar(static_cast<UINT>(from), 0, static_cast<const char*>(m_pFrom),
                                        m_nFromLen, wide.data(), m_nFromLen);
            produced = Narrow(wide.data(), n, to, static_cast<char*>(destination), cap, m_bLoss);
        }
    } else if (from == CP_UTF8) {
        const char* p = static_cast<const char*>(m_pFrom);
        const char* end = p + m_nFromLen;
        while (p < end) {
            int cp = XmlDecodeUtf8(p, end);
            if (cap && produced >= cap)
                break;
            if (cap)
                static_cast<uint32_t*>(destination)[produced] = static_cast<uint32_t>(cp < 0 ? '?' : cp);
            ++produced;
        }
    }
    m_nToCount = produced;
    return produced;
}
