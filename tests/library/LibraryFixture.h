// A fresh Data folder for each test, with the shelf and user paths of g_AppPathInfo pointing into
// it, and small helpers to read and write its files directly.
#pragma once

#include "foundation/AppPathInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/libtest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        std::string win = m_dir;
        for (char& c : win)
            if (c == '/')
                c = '\\';
        g_AppPathInfo.m_strDataDir = win.c_str();
        g_AppPathInfo.m_strMagShelfXml = (win + "\\MagShelf.xml").c_str();
        g_AppPathInfo.m_strBookShelfXml = (win + "\\BookShelf.xml").c_str();
        g_AppPathInfo.m_strMagNewReadXml = (win + "\\MagNewRead.xml").c_str();
        g_AppPathInfo.m_strBookNewReadXml = (win + "\\BookNewRead.xml").c_str();
        g_AppPathInfo.m_strUserXml = (win + "\\user.xml").c_str();
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }
    bool Exists(const std::string& name) const { return std::filesystem::exists(PathOf(name)); }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(PathOf(name), std::ios::binary);
        out << bytes;
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

    std::string m_dir;
};
