// Small helpers that tests of every folder share: a temporary folder that removes itself, whole
// files as bytes, and the output of a local tool.
#pragma once

#include "platform/base/AfxStr.h"
#include "platform/kernel/FileSys.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "kestrin_test_") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (mkdtemp(tmpl.data()) != nullptr)
            m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return m_path; }
    std::string sub(const std::string& name) const { return m_path + "/" + name; }
    // The folder in the program's Windows form, ending in a backslash.
    std::string win() const { return AfxUnmapPath(m_path) + "\\"; }

private:
    std::string m_path;
};

inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A Linux path in the program's Windows form.
inline CString WinPath(const std::filesystem::path& linuxPath) {
    return CString(AfxUnmapPath(linuxPath.string()));
}

// Standard output of a shell command (a local tool), "" when it cannot be run; `status` gets
// what pclose gave.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = ::pclose(p);
    if (status != nullptr)
        *status = st;
    return out;
}

// The paper colour the bundled store gives page n (from 1) of item pid, as 0xRRGGBB, asked of the
// store's own code so the screen is checked against what the store draws; false when that code
// could not be run. python is the interpreter, sourceDir the project's source folder.
inline bool StorePagePaper(const std::string& python, const std::string& sourceDir, const std::string& pid,
                           int n, uint32_t* rgb) {
    int status = -1;
    const std::string said =
        RunCommand(python + " -c \"import sys; sys.path.insert(0, '" + sourceDir +
                       "/tools/store'); import kestrin_store as k; r, g, b = "
                       "k.flash_page_paper('" +
                       pid + "', " + std::to_string(n) + "); print(r * 65536 + g * 256 + b)\"",
                   &status);
    char* end = nullptr;
    const unsigned long value = std::strtoul(said.c_str(), &end, 10);
    if (status != 0 || end == said.c_str())
        return false;
    *rgb = static_cast<uint32_t>(value);
    return true;
}
