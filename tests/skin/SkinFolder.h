// A temporary skin folder that the global path object points at for the life of a test: a fresh
// ExeFiles folder whose Version.ini names skin build 7, and its empty skin_7 folder.
#pragma once

#include "foundation/AppPathInfo.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <string>

class SkinFolder {
public:
    SkinFolder() : m_tmp("kestrin_skin_") {
        std::filesystem::create_directories(Linux());
        WriteFileBytes(m_tmp.sub("ExeFiles/Version.ini"), "[Version]\r\nskin=7\r\n");
        m_saved = g_AppPathInfo.m_strExeFilesDir;
        g_AppPathInfo.m_strExeFilesDir = WinPath(m_tmp.sub("ExeFiles"));
    }
    ~SkinFolder() { g_AppPathInfo.m_strExeFilesDir = m_saved; }
    SkinFolder(const SkinFolder&) = delete;
    SkinFolder& operator=(const SkinFolder&) = delete;

    // The folder as the file system names it, and as the program does (with a trailing backslash).
    std::string Linux() const { return m_tmp.sub("ExeFiles/skin_7"); }
    CString Win() const { return WinPath(Linux()) + "\\"; }
    std::string File(const std::string& name) const { return Linux() + "/" + name; }
    void Put(const std::string& name, const std::string& bytes) const { WriteFileBytes(File(name), bytes); }

private:
    TempDir m_tmp;
    CString m_saved;
};
