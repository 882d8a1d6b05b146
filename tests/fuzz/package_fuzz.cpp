// Package reader over arbitrary bytes: the directory read must never look outside the package,
// and every record it accepts must lie inside it.
#include "contentserver/PackUnpacker.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu)
        return 0;
    // An exact-size copy, so a read past the end is caught by the address sanitizer.
    std::vector<BYTE> copy(data, data + size);
    std::vector<PackDirEntry> entries;
    if (PackReadDirectory(copy.empty() ? nullptr : copy.data(), static_cast<DWORD>(size), entries)) {
        for (const PackDirEntry& e : entries) {
            if (static_cast<uint64_t>(e.dwOffset) + e.dwSize > size)
                abort();
            if (memchr(e.szName, 0, sizeof(e.szName)) == nullptr)
                abort();
            volatile BYTE sum = 0;
            for (DWORD i = 0; i < e.dwSize; ++i)
                sum = static_cast<BYTE>(sum + copy[e.dwOffset + i]);
            (void)PackIsPlainFileName(e.szName);
        }
    }
    // The whole unpack, into a folder that does not exist: every check runs, and the first file
    // that would be written fails to open instead of landing anywhere.
    CPackUnpacker unpacker;
    (void)unpacker.Unpack(copy.empty() ? nullptr : copy.data(), static_cast<DWORD>(size),
                          "\\nonexistent_fuzz_folder\\");
    return 0;
}
