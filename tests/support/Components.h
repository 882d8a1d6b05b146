// The program's components as an update or an earlier run would leave them, for the tests of the
// update check and of the start-up's deployment: the files the program opens from the page and
// skin folders, reader movies in the three SWF forms, and a program of this machine.
#pragma once

#include "tests/support/TestFiles.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace components {

// The pages the program opens, each with some content, and what else is given.
inline std::map<std::string, std::string> WholePages(std::map<std::string, std::string> files = {}) {
    for (const char* page : {"Bookshelf.html", "Bookshelf2.html", "Error.html", "login.html", "Setting.html"})
        files.emplace(page, std::string("<html>") + page + "</html>");
    return files;
}

// The skin files the program loads, and what else is given.
inline std::map<std::string, std::string> WholeSkin(std::map<std::string, std::string> files = {}) {
    for (const char* skin : {"WinSkin.xml", "WinSkin2.xml", "WinSkin3.xml", "WinSkin4.xml", "MainSkin3.xml",
                             "ToolBar.xml", "ToolBar2.xml", "ToolBar3.xml"})
        files.emplace(skin, std::string("<items name=\"") + skin + "\"/>");
    return files;
}

inline std::string Le32(uint32_t n) {
    const char b[4] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 24)};
    return std::string(b, 4);
}

// An uncompressed movie whose header gives its length (or, with lie, that many bytes more).
inline std::string Fws(const std::string& body, int lie = 0) {
    return "FWS\x0a" + Le32(static_cast<uint32_t>(8 + static_cast<int>(body.size()) + lie)) + body;
}

// A zlib-compressed movie, as the build makes the reader's, cut short by cut bytes.
inline std::string Cws(const std::string& body, size_t cut = 0) {
    uLongf n = compressBound(body.size());
    std::string z(n, '\0');
    compress(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(body.data()),
             body.size());
    z.resize(n - std::min<size_t>(cut, n));
    return "CWS\x0a" + Le32(static_cast<uint32_t>(8 + body.size())) + z;
}

// A program of this machine: the system's own "true".
inline std::string Program() {
    return ReadFileBytes("/bin/true");
}

// The files of a map into a folder, made with its parents.
inline void WriteFiles(const std::string& folder, const std::map<std::string, std::string>& files) {
    std::filesystem::create_directories(folder);
    for (const auto& [name, data] : files)
        WriteFileBytes(folder + "/" + name, data);
}

} // namespace components
