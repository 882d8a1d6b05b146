// A fresh Data folder for each test, with the shelf and user paths of g_AppPathInfo pointing into
// it, and small helpers to read and write its files directly.
#pragma once

#include "foundation/AppPathInfo.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        std::string win = WinPath(m_dir).str();
        g_AppPathInfo.m_strDataDir = win.c_str();
        g_AppPathInfo.m_strMagShelfXml = (win + "\\MagShelf.xml").c_str();
        g_AppPathInfo.m_strBookShelfXml = (win + "\\BookShelf.xml").c_str();
        g_AppPathInfo.m_strMagNewReadXml = (win + "\\MagNewRead.xml").c_str();
        g_AppPathInfo.m_strBookNewReadXml = (win + "\\BookNewRead.xml").c_str();
        g_AppPathInfo.m_strUserXml = (win + "\\user.xml").c_str();
    }

    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }
    bool Exists(const std::string& name) const { return std::filesystem::exists(PathOf(name)); }
    std::string ReadFile(const std::string& name) const { return ReadFileBytes(PathOf(name)); }
    void WriteFile(const std::string& name, const std::string& bytes) const {
        WriteFileBytes(PathOf(name), bytes);
    }
    // Names of the files in the folder, so a test can tell that nothing was written.
    int FileCount() const {
        int n = 0;
        for (auto& e : std::filesystem::directory_iterator(m_dir)) {
            (void)e;
            ++n;
        }
        return n;
    }

    TempDir m_tmp{"libtest-"}; // removed whole with the fixture
    std::string m_dir = m_tmp.path();
};
