// Values that end in the first byte of a double-byte character (a string cut in the middle of one)
// would swallow the markup written after them: the XML engine steps over a lead byte and the byte
// that follows together, so "<" of the closing tag or "]" of a CDATA end would vanish and the
// rest of the file would be misread. Such a value is written without its incomplete last byte.
#pragma once

#include "platform/base/AfxStr.h"

#include <string>

inline size_t CompleteCharsLength(const std::string& value) {
    size_t i = 0;
    const size_t n = value.size();
    while (i < n) {
        if (AfxIsLeadByte(static_cast<unsigned char>(value[i]))) {
            if (i + 1 == n)
                return i;
            i += 2;
        } else {
            ++i;
        }
    }
    return n;
}
