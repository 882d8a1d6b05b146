// Private-profile files and code-page conversion on arbitrary bytes: reading must never crash
// or overrun, and a value written must read back as written.
#include "platform/kernel/Kernel.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const std::string& IniPath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/profile_fuzz_XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort();
        static std::string dir = tmpl;
        // Leave nothing behind in /tmp: the file, any temporary of a write, and the folder.
        std::atexit([] { std::system(("rm -rf '" + dir + "'").c_str()); });
        return AfxUnmapPath(dir + "/fuzz.ini");
    }();
    return path;
}

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void FuzzCodePages(const std::string& in) {
    for (UINT cp : {UINT(936), UINT(CP_UTF8)}) {
        int n = MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
        Check(in.empty() ? n == 0 : n > 0);
        if (n <= 0)
            continue;
        std::u16string w(static_cast<size_t>(n), u'\0');
        Check(MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), w.data(), n) == n);
        BOOL used = FALSE;
        int m = WideCharToMultiByte(936, 0, w.data(), n, nullptr, 0, nullptr, &used);
        Check(m > 0);
        std::string back(static_cast<size_t>(m), '\0');
        Check(WideCharToMultiByte(936, 0, w.data(), n, back.data(), m, nullptr, &used) == m);
        int u = WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
        Check(u > 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    FuzzCodePages(in);

    const std::string& ini = IniPath();
    std::string linux;
    Check(AfxMapPath(ini.c_str(), linux));
    FILE* f = ::fopen(linux.c_str(), "wb");
    Check(f != nullptr);
    fwrite(data, 1, size, f);
    fclose(f);

    // Names taken from the input itself, so sections and keys that exist get looked up too.
    std::string first = in.substr(0, in.find_first_of("\r\n"));
    std::string section =
        first.size() > 2 && first[0] == '[' ? first.substr(1, first.find(']') - 1) : "Version";
    section = section.c_str(); // up to a zero byte
    char buf[64];
    const char* keys[] = {"skin", "data", nullptr};
    for (const char* key : keys) {
        DWORD n = GetPrivateProfileStringA(section.c_str(), key, "dflt", buf, sizeof buf, ini.c_str());
        // A NULL key lists the keys, each zero-terminated.
        Check(key ? n < sizeof buf && std::strlen(buf) == n : n < sizeof buf);
    }
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, ini.c_str());
    Check(n < sizeof buf);
    GetPrivateProfileIntA(section.c_str(), "skin", 0, ini.c_str());

    // A clean value written under any section read from the file reads back exactly.
    if (!section.empty() && section.find_first_of("[]\r\n") == std::string::npos &&
        section.find_first_not_of(" \t") != std::string::npos && section.front() != ' ' &&
        section.back() != ' ' && section.front() != '\t' && section.back() != '\t' &&
        section.front() != ';') {
        Check(WritePrivateProfileStringA(section.c_str(), "fuzzkey", "2005", ini.c_str()));
        GetPrivateProfileStringA(section.c_str(), "fuzzkey", "", buf, sizeof buf, ini.c_str());
        if (AfxAsciiLower(in).find("fuzzkey") == std::string::npos)
            Check(std::strcmp(buf, "2005") == 0);
    }
    return 0;
}
