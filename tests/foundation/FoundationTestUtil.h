// Small helpers shared by the foundation tests: a scratch folder, raw file access on Linux paths,
// and running a coreutils command for its output.
#pragma once

#include "platform/afx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// Kills a child process that keeps rewriting `file`, at a moment when one of its writes is under
// way: as soon as the folder gains an entry (a temporary file) or the file changes size or identity,
// then `extra` later. Waiting for the write instead of a fixed delay lands the kill inside it,
// rather than in the time the child spends building its text. Returns whether a write was seen.
inline bool KillWhenWriteSeen(pid_t pid, const std::string& file, std::chrono::microseconds extra) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(file).parent_path();
    auto entries = [&] {
        std::error_code ec;
        size_t n = 0;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            ++n;
        return n;
    };
    struct stat before {};
    const bool existed = ::stat(file.c_str(), &before) == 0;
    const size_t count = entries();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        struct stat now {};
        const bool exists = ::stat(file.c_str(), &now) == 0;
        seen = exists != existed ||
               (exists && (now.st_size != before.st_size || now.st_ino != before.st_ino)) ||
               entries() != count;
    }
    if (extra.count() > 0)
        std::this_thread::sleep_for(extra);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seen;
}

} // namespace ftest
