// Small helpers shared by the foundation tests: Windows-form paths, random bytes, and a kill
// timed to land inside a state-file write.
#pragma once

#include "platform/afx.h"

#include "tests/support/TestFiles.h"

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

// The program's own form of a Linux path ("\tmp\x").
inline CString Win(const std::string& linuxPath) {
    return CString(AfxUnmapPath(linuxPath));
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
