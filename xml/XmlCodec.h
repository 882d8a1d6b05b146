// The engine's encoding layer: encoding names to code pages, its own UTF-8/16/32 codecs, UTF-8
// detection and the buffer converter. Depends on the platform's code-page calls only.
#pragma once

#include "platform/base/AfxStr.h"

// The engine's own number for UTF-32 handled by its own codec.
#define XML_CP_UTF32_OWN 65005
#define XML_CP_UTF16LE 1200
#define XML_CP_UTF16BE 1201

// 0 for an empty name, 65005 for a name starting "UTF-32" in that case, the table's code page,
// or -1 for an unknown name (or one of 100 characters or more).
int XmlCodePageOf(const char* name);
// False when either name is unknown; an empty name is the ANSI code page.
bool XmlCanConvert(const char* from, const char* to);
// True when the named encoding is the ANSI code page (empty, unknown, or GetACP's page).
bool XmlIsAnsiEncoding(const char* name);

// Own codecs. Decoders advance the cursor and give the code point or -1. Encoders write to out
// (when not NULL) and add the number of units to count.
int XmlDecodeUtf8(const char*& cursor, const char* end);
void XmlEncodeUtf8(int codePoint, char* out, int& count);
int XmlDecodeUtf16(const WCHAR*& cursor, const WCHAR* end);
void XmlEncodeUtf16(int codePoint, WCHAR* out, int& count);

// Walks text up to length or a zero byte. False at the first bad sequence; endsMidChar tells
// whether that sequence ran into the end of the buffer.
bool XmlLooksLikeUtf8(const char* text, int length, int* nonAscii, bool* endsMidChar);

// Converts a buffer between two encodings (names; "" = ANSI). Lengths and capacities are in the
// units of each encoding: bytes, 16-bit or 32-bit units.
class CXmlTextConverter {
public:
    CXmlTextConverter(const char* from, const void* source, int length);
    // destination NULL (or capacity 0) only measures; returns the units produced or needed.
    int Convert(void* destination, const char* target);

    CString m_strTo;
    CString m_strFrom;
    const void* m_pFrom;
    int m_nFromLen;
    int m_nToCount = 0; // capacity of the destination before, units produced after
    bool m_bLoss = false;
};
