// The byte-level halves of the file workers: what reading makes of a file's bytes, and the bytes
// writing makes of a text (BOM included). Kept apart from the file calls so that the encoding
// handling can be driven from memory.
#pragma once

#include "platform/base/AfxStr.h"

#include <string>

// Detects the BOM or the declared encoding, drops zero units and converts to the ANSI code page.
// flags receives the BOM flags found; encoding overrides an 8-bit file's encoding, or, when
// empty, receives the one found.
void XmlDecodeFileBytes(const std::string& data, CString& text, CString* log, int& flags, CString* encoding);
// The file bytes for text under the document flags (BOM) and its declared or given encoding; enc
// and units receive the encoding written and the number of units of the text.
void XmlEncodeFileText(const CString& text, CString* log, int flags, CString* encoding, std::string& out,
                       CString& enc, int& units);
