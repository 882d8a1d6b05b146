// What the application's tests share: a fresh home for each test (application data, settings,
// registry, runtime folder), the data folders laid out in it, and the paths of the files the
// program keeps there.
#pragma once

#include "foundation/AppPathInfo.h"
#include "tests/support/TestFiles.h"

#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class FreshHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_home.path().empty());
        std::filesystem::create_directories(m_home.sub("home"));
        std::filesystem::create_directories(m_home.sub("config"));
        std::filesystem::create_directories(m_home.sub("runtime"));
        // A session's runtime folder is its user's alone; one open to others is not taken for one.
        std::filesystem::permissions(m_home.sub("runtime"), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        SetEnv("HOME", m_home.sub("home"));
        SetEnv("XDG_DATA_HOME", m_home.sub("data"));
        SetEnv("XDG_CONFIG_HOME", m_home.sub("config"));
        SetEnv("XDG_RUNTIME_DIR", m_home.sub("runtime"));
        SetEnv("KESTRIN_REGISTRY_DIR", m_home.sub("registry"));
    }
    void TearDown() override { m_env.Restore(); }
    void SetEnv(const std::string& name, const std::string& value) { m_env.Set(name, value); }
    // Lays out the data folders in this test's home, as start-up does.
    void InitPaths() { ASSERT_TRUE(g_AppPathInfo.Init()); }

    std::string DataRoot() const { return m_home.sub("data/Tavonel/kestrin4.0"); }
    std::string ExeFiles(const std::string& rel = "") const {
        return DataRoot() + "/ExeFiles" + (rel.empty() ? "" : "/" + rel);
    }
    // A key of Version.ini's "Version" section as the file holds it ("" when absent).
    std::string Version(const std::string& key) const {
        return IniValue(ExeFiles("Version.ini"), "Version", key);
    }

    static std::string IniValue(const std::string& file, const std::string& section, const std::string& key) {
        std::string text = ReadFileBytes(file), current;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? text.size() : end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
                current = line.substr(1, line.size() - 2);
            else if (current == section && line.compare(0, key.size() + 1, key + "=") == 0)
                return line.substr(key.size() + 1);
        }
        return "";
    }
    // Through the program's own profile calls; the data folders must be laid out first.
    void SetVersion(const std::string& key, const std::string& value) {
        WritePrivateProfileStringA("Version", key.c_str(), value.c_str(),
                                   (g_AppPathInfo.m_strExeFilesDir + "\\Version.ini").GetString());
    }

    TempDir m_home{"app_home_"};
    ScopedEnv m_env;
};

// Every path under a folder (files and folders), relative to it, sorted.
inline std::vector<std::string> Tree(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        out.push_back(fs::relative(it->path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

// Every file under a folder with its bytes, by relative path: two copies of one tree compare equal.
inline std::map<std::string, std::string> TreeFiles(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file())
            files[fs::relative(it->path(), root).string()] = ReadFileBytes(it->path());
    return files;
}
