// Shared helpers of the content-server tests: temporary folders, packages built byte by byte,
// and item packages linked by the mingw-w64 resource tools.
#pragma once

#include "platform/afx.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace cstest {

namespace fs = std::filesystem;

inline void PutU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline void SetU32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct Entry {
    std::string name;
    std::string data;
};

// A well-formed package: data back to back, the directory, the trailer. The count and the
// directory-size field can be forced to other values.
inline std::string BuildPackage(const std::vector<Entry>& entries, int64_t count = INT64_MIN,
                                int64_t dirSize = INT64_MIN) {
    std::string pkg;
    std::vector<uint32_t> offsets;
    for (const Entry& e : entries) {
        offsets.push_back(static_cast<uint32_t>(pkg.size()));
        pkg += e.data;
    }
    const uint32_t dirOffset = static_cast<uint32_t>(pkg.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string name(256, '\0');
        name.replace(0, std::min<size_t>(entries[i].name.size(), 256), entries[i].name.substr(0, 256));
        pkg += name;
        PutU32(pkg, offsets[i]);
        PutU32(pkg, static_cast<uint32_t>(entries[i].data.size()));
    }
    PutU32(pkg, dirOffset);
    PutU32(pkg, dirSize == INT64_MIN ? static_cast<uint32_t>(entries.size() * 264)
                                     : static_cast<uint32_t>(dirSize));
    PutU32(pkg, count == INT64_MIN ? static_cast<uint32_t>(entries.size()) : static_cast<uint32_t>(count));
    return pkg;
}

// Offset of directory record i in a package built by BuildPackage.
inline size_t RecordOffset(const std::string& pkg, size_t i) {
    uint32_t dirOffset = static_cast<uint8_t>(pkg[pkg.size() - 12]) |
                         (static_cast<uint8_t>(pkg[pkg.size() - 11]) << 8) |
                         (static_cast<uint8_t>(pkg[pkg.size() - 10]) << 16) |
                         (static_cast<uint32_t>(static_cast<uint8_t>(pkg[pkg.size() - 9])) << 24);
    return dirOffset + i * 264;
}

// Links an item package: a resource-only Windows executable whose "MYDATA" 188 holds the package.
// Returns the executable's Linux path, or "" when the tools failed.
inline std::string BuildItemExe(const TempDir& dir, const std::string& package,
                                const std::string& name = "item", bool withPackage = true) {
    const std::string bin = dir.sub(name + ".bin");
    const std::string rc = dir.sub(name + ".rc");
    const std::string obj = dir.sub(name + ".o");
    const std::string exe = dir.sub(name + ".exe");
    WriteFileBytes(bin, package);
    std::string script = withPackage ? "188 MYDATA \"" + bin + "\"\n" : "";
    script += "162 MYDATA \"" + bin + "\"\n";
    WriteFileBytes(rc, script);
    std::string cmd = "i686-w64-mingw32-windres --preprocessor=cpp '" + rc + "' -O coff -o '" + obj +
                      "' && i686-w64-mingw32-ld --subsystem windows -e 0 '" + obj + "' -o '" + exe + "'";
    if (std::system(cmd.c_str()) != 0)
        return std::string();
    return exe;
}

} // namespace cstest
