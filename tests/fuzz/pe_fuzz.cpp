// The executable resource reader over arbitrary bytes: it must never read outside them, and every
// resource it reports must lie inside them. A file the reader accepts is then loaded the way the
// program loads an item package, and its string table and resources are read back through the
// module calls, which parse the string blocks themselves.
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/PeReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

const std::string& ModulePath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/pe_fuzz_XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort();
        static std::string dir = tmpl;
        std::atexit([] { std::system(("rm -rf '" + dir + "'").c_str()); });
        return dir + "/item.exe";
    }();
    return path;
}

void ReadThroughModule(const uint8_t* data, size_t size, const std::vector<PeResource>& list) {
    FILE* f = ::fopen(ModulePath().c_str(), "wb");
    if (!f)
        std::abort();
    fwrite(data, 1, size, f);
    fclose(f);
    HMODULE h = LoadLibraryExA(AfxUnmapPath(ModulePath()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!h)
        std::abort(); // the reader accepted these very bytes
    std::set<std::pair<uint16_t, uint16_t>> seen;
    for (const PeResource& r : list) {
        // Items named by id, each at its first language (the one FindResource gives).
        if (!r.type.bIsId || !r.name.bIsId || r.type.wId == 0 || r.name.wId == 0 ||
            !seen.insert({r.type.wId, r.name.wId}).second)
            continue;
        HRSRC res = FindResourceA(h, MAKEINTRESOURCEA(r.name.wId), MAKEINTRESOURCEA(r.type.wId));
        if (!res || SizeofResource(h, res) != r.cbSize)
            std::abort();
        const auto* p = static_cast<const volatile uint8_t*>(LockResource(LoadResource(h, res)));
        uint8_t sum = 0;
        for (uint32_t i = 0; i < r.cbSize; ++i)
            sum = static_cast<uint8_t>(sum + p[i]);
        (void)sum;
        if (r.type.wId == 6) { // a string block: every id it may hold
            char buf[32];
            for (UINT id = (r.name.wId - 1u) * 16u; id < r.name.wId * 16u; ++id) {
                int n = LoadStringA(h, id, buf, sizeof buf);
                // Terminated within the buffer; a zero character inside the text may end it earlier.
                if (n < 0 || static_cast<size_t>(n) >= sizeof buf || buf[n] != '\0' ||
                    std::strlen(buf) > static_cast<size_t>(n))
                    std::abort();
            }
        }
    }
    if (!FreeLibrary(h))
        std::abort();
}

} // namespace

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
    ReadThroughModule(copy.get(), size, out);
    return 0;
}
