// The executable resource reader over arbitrary bytes: it must never read outside them, and every
// resource it reports must lie inside them.
#include "platform/kernel/PeReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read one byte past the end is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size)
        memcpy(copy.get(), data, size);
    std::vector<PeResource> out;
    std::string err;
    if (!PeReadResources(copy.get(), size, out, &err)) {
        if (!out.empty() || err.empty())
            abort();
        return 0;
    }
    for (const PeResource& r : out) {
        if (r.nFileOffset > size || r.cbSize > size - r.nFileOffset)
            abort();
    }
    return 0;
}
