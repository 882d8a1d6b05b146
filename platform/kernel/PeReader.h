// Reads the resource tree of a Windows executable held in memory. Every offset is checked against
// the buffer: a malformed file is refused as a whole, and nothing outside the buffer is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeResourceKey {
    bool bIsId = true;
    uint16_t wId = 0;
    std::u16string strName; // when !bIsId
};

struct PeResource {
    PeResourceKey type;
    PeResourceKey name;
    uint16_t wLanguage = 0;
    size_t nFileOffset = 0; // where the data starts in the buffer
    uint32_t cbSize = 0;
};

// Fills out with the resources in directory order (type, then name, then language). Returns false
// and sets *pstrError (when given) for a buffer that is not a well-formed executable.
bool PeReadResources(const uint8_t* pData, size_t cbData, std::vector<PeResource>& out,
                     std::string* pstrError = nullptr);
