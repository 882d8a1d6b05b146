// Points the program's path object at a data root inside a test folder ("Data", "Down",
// "ExeFiles" and "Update" under it, made here) and starts the shelf and the user record empty, so that tests
// of the views and of the main window never read or write the real user's files.
#pragma once

#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "library/UserInfo.h"
#include "tests/support/TestFiles.h"

#include <filesystem>

inline void UseTestDataRoot(const TempDir& dir) {
    namespace fs = std::filesystem;
    fs::create_directories(dir.sub("Data"));
    fs::create_directories(dir.sub("Down"));
    fs::create_directories(dir.sub("ExeFiles"));
    fs::create_directories(dir.sub("Update"));
    CString data = CString(dir.win() + "Data");
    g_AppPathInfo.m_strDataDir = data;
    g_AppPathInfo.m_strExeFilesDir = CString(dir.win() + "ExeFiles");
    g_AppPathInfo.m_strUpdateDir = CString(dir.win() + "Update");
    g_AppPathInfo.m_strMagShelfXml = data + "\\MagShelf.xml";
    g_AppPathInfo.m_strBookShelfXml = data + "\\BookShelf.xml";
    g_AppPathInfo.m_strMagNewReadXml = data + "\\MagNewRead.xml";
    g_AppPathInfo.m_strBookNewReadXml = data + "\\BookNewRead.xml";
    g_AppPathInfo.m_strBookClassXml = data + "\\BookClass.xml";
    g_AppPathInfo.m_strMagClassXml = data + "\\MagClass.xml";
    g_AppPathInfo.m_strUserXml = data + "\\user.xml";
    g_AppPathInfo.m_strConfigXml = data + "\\config.xml";
    g_AppPathInfo.SetDownloadFolder(CString(dir.win() + "Down"));
    for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
        CMagInfoList list;
        g_MagShelf.GetList(kind, list);
        for (INT_PTR i = 0; i < list.GetSize(); ++i)
            g_MagShelf.Remove(kind, list[i]->pid);
    }
    g_UserInfo.Clear();
    g_nUserMode = 0;
}
