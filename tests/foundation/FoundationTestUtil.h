// Small helpers shared by the foundation tests: a scratch folder, raw file access on Linux paths,
// and running a coreutils command for its output.
#pragma once

#include "platform/afx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace ftest {

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "foundation-XXXXXX").string();
        char* p = mkdtemp(tmpl.data());
        if (p == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = p;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Sub(const std::string& rel) const { return m_path + "/" + rel; }

private:
    std::string m_path;
};

// The program's own form of a Linux path ("\tmp\x").
inline CString Win(const std::string& linuxPath) {
    return CString(AfxUnmapPath(linuxPath));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Standard output of a shell command (a local tool only), or "" when it cannot be run.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

inline std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

} // namespace ftest
