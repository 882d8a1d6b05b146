#include "foundation/AppPathInfo.h"

#include "foundation/CommonFunc.h"
#include "platform/kernel/DesktopEntry.h"
#include "xml/XmlDocument.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>

// "云卷书廊-墨舟匣V4.0" in the ANSI code page (GBK).
const char* const APP_PRODUCT_TITLE = "\xD4\xC6\xBE\xED\xCA\xE9\xC0\xC8-\xC4\xAB\xD6\xDB\xCF\xBB"
                                      "V4.0";

CAppPathInfo g_AppPathInfo;
CAppConfigInfo g_AppConfigInfo;

namespace {

const char kVendorFolder[] = "Tavonel";
const char kProductFolder[] = "kestrin4.0";
const char kDownloadFolder[] = "TavonelDownLoad\\";
const char kTestFileName[] = " kestrinTestWrite.exe";
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\";
const char kConfigDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";

// True when the last character of the text is a backslash, as a character: the trail byte of a
// double-byte character does not count.
bool EndsWithBackslash(const CString& str) {
    const int n = str.GetLength();
    return n > 0 && str.ReverseFind('\\') == n - 1;
}

void EnsureTrailingBackslash(CString& strFolder) {
    if (!strFolder.IsEmpty() && !EndsWithBackslash(strFolder))
        strFolder += '\\';
}

// Closes a written file to other users, as every state file is, and flushes it to the disk, so the
// rename that follows never exposes an empty file after a power loss. A file system that cannot
// sync (EINVAL) is taken as it is.
bool SealStateFile(const CString& strPath) {
    std::string strLinux;
    if (!AfxMapPath(strPath, strLinux))
        return false;
    const int fd = AfxOpenRegularFile(strLinux.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    bool bOk = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    bOk = (fsync(fd) == 0 || errno == EINVAL) && bOk;
    return close(fd) == 0 && bOk;
}

// Saves beside the file and renames over it, so a failed or interrupted save keeps the old settings.
bool SaveReplacing(CXmlDocument& doc, const CString& strPath) {
    static std::atomic<unsigned> s_nSerial{0};
    CString strTemp;
    strTemp.Format("%s.%d-%u.tmp", strPath.GetString(), static_cast<int>(getpid()), s_nSerial.fetch_add(1));
    if (doc.Save(strTemp) && SealStateFile(strTemp) &&
        MoveFileExA(strTemp, strPath, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(strTemp);
    return false;
}

} // namespace

void CAppPathInfo::BuildDataRoot(CString& strRoot) {
    char szPath[MAX_PATH + 1] = {};
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &pidl)) && pidl != nullptr &&
        SHGetPathFromIDListA(pidl, szPath) && szPath[0] != 0) {
        strRoot = szPath;
    } else {
        // Without an application-data folder the data still needs a home it can create.
        GetTempPathA(MAX_PATH, szPath);
        strRoot = szPath;
    }
    if (pidl != nullptr)
        ILFree(pidl);
    if (!EndsWithBackslash(strRoot))
        strRoot += '\\';
    // The data root holds the user's password and shelves: no other user may enter it, and a
    // root an older build made open to others is closed now.
    strRoot += kVendorFolder;
    strRoot += '\\';
    AfxCreatePrivateDirectoryA(strRoot);
    strRoot += kProductFolder;
    AfxCreatePrivateDirectoryA(strRoot);
}

BOOL CAppPathInfo::Init() {
    m_strExeDir = g_CommonFunc.GetModuleDir();
    BuildDataRoot(m_strDataRoot);

    m_strExeFilesDir = m_strDataRoot + "\\ExeFiles";
    AfxCreatePrivateDirectoryA(m_strExeFilesDir);
    m_strUpdateDir = m_strDataRoot + "\\Update";
    AfxCreatePrivateDirectoryA(m_strUpdateDir);
    m_strImagesDir = m_strDataRoot + "\\Images";
    AfxCreatePrivateDirectoryA(m_strImagesDir);
    AfxCreatePrivateDirectoryA(m_strImagesDir + "\\book");
    AfxCreatePrivateDirectoryA(m_strImagesDir + "\\mag");

    m_strDataDir = m_strDataRoot + "\\Data";
    AfxCreatePrivateDirectoryA(m_strDataDir);
    m_strUserXml = m_strDataDir + "\\user.xml";
    m_strConfigXml = m_strDataDir + "\\config.xml";
    m_strBookClassXml = m_strDataDir + "\\BookClass.xml";
    m_strMagClassXml = m_strDataDir + "\\MagClass.xml";

    SetDownloadFolder(GetDownloadDir());

    m_strBookNewReadXml = m_strDataDir + "\\BookNewRead.xml";
    m_strMagNewReadXml = m_strDataDir + "\\MagNewRead.xml";
    m_strBookShelfXml = m_strDataDir + "\\BookShelf.xml";
    m_strMagShelfXml = m_strDataDir + "\\MagShelf.xml";
    return TRUE;
}

void CAppPathInfo::SetAutoRun(BOOL bEnable, BOOL bHide) {
    // Quoted, so a path with blanks in it starts the program rather than its first word.
    CString strValue;
    if (bEnable) {
        strValue.Format("\"%s\"", g_CommonFunc.GetModulePath().GetString());
        if (bHide)
            strValue += " hide";
    } else {
        strValue.Format(";\"%s\"", g_CommonFunc.GetModulePath().GetString());
    }
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(hKey, APP_PRODUCT_TITLE, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.GetString()),
                   static_cast<DWORD>(strValue.GetLength() + 1));
    RegCloseKey(hKey);
}

CString CAppPathInfo::GetPageDir() {
    CString str;
    str.Format("%s\\data_%d\\", m_strExeFilesDir.GetString(), g_CommonFunc.GetComponentVersion("data"));
    return str;
}

CString CAppPathInfo::GetSkinDir() {
    CString str;
    str.Format("%s\\skin_%d\\", m_strExeFilesDir.GetString(), g_CommonFunc.GetComponentVersion("skin"));
    return str;
}

CString CAppPathInfo::GetReadSwfPath() {
    CString str;
    str.Format("%s\\%d\\Read.Swf", m_strExeFilesDir.GetString(),
               g_CommonFunc.GetComponentVersion("read.swf"));
    return str;
}

CString CAppPathInfo::GetConfig(CString strKey) {
    CXmlDocument doc;
    doc.Load(m_strConfigXml);
    if (!doc.FindElement("Config"))
        return CString();
    return doc.GetAttribute(strKey);
}

BOOL CAppPathInfo::SetConfig(CString strKey, CString strValue) {
    if (g_CommonFunc.FileExists(m_strConfigXml)) {
        CXmlDocument doc;
        doc.Load(m_strConfigXml);
        if (doc.FindElement("Config")) {
            // A start tag damaged by hand can refuse the value; saving then would report a
            // setting as stored that is not.
            if (!doc.SetAttribute(strKey, strValue, 0))
                return FALSE;
            return SaveReplacing(doc, m_strConfigXml) ? TRUE : FALSE;
        }
    }
    CXmlDocument doc;
    doc.SetDocText(kConfigDecl);
    doc.AddElement("Config", nullptr, 0);
    doc.AddAttribute(strKey, strValue);
    const bool bSaved = SaveReplacing(doc, m_strConfigXml);
    return bSaved && g_CommonFunc.FileExists(m_strConfigXml) ? TRUE : FALSE;
}

CString CAppPathInfo::GetDownloadDir() {
    CString strFolder = GetConfig("down_save");
    if (!strFolder.IsEmpty()) {
        // The settings page stores the folder as typed, possibly without its backslash.
        EnsureTrailingBackslash(strFolder);
        CreateDirectoryA(strFolder, nullptr);
        if (TestWrite(strFolder))
            return strFolder;
    }

    const CString candidates[2] = {GetBestDrive() + kDownloadFolder, m_strDataRoot + "\\" + kDownloadFolder};
    for (const CString& strCandidate : candidates) {
        CreateDirectoryA(strCandidate, nullptr);
        if (TestWrite(strCandidate)) {
            SetConfig("down_save", strCandidate);
            return strCandidate;
        }
    }
    return CString();
}

BOOL CAppPathInfo::TestWrite(CString strFolder) {
    EnsureTrailingBackslash(strFolder);
    const CString strTestFile = strFolder + kTestFileName;
    bool bOk = false;
    if (FILE* fp = win_fopen(strTestFile, "wb")) {
        bOk = fwrite("write_ok", 1, 8, fp) == 8;
        bOk = fclose(fp) == 0 && bOk;
    }
    // Removed whatever happened, including a leftover from an earlier run.
    DeleteFileA(strTestFile);
    return bOk ? TRUE : FALSE;
}

CString PickBestDrive(const std::function<UINT(const char*)>& fnDriveType,
                      const std::function<ULONGLONG(const char*)>& fnFreeBytes) {
    CString strBest = "C:\\";
    ULONGLONG nBestKiB = 0;
    for (char chDrive = 'C'; chDrive <= 'Z'; ++chDrive) {
        CString strRoot;
        strRoot.Format("%c:\\", chDrive);
        if (fnDriveType(strRoot) != DRIVE_FIXED)
            continue;
        // In 64 bits: a disk with 4 TiB or more free would wrap a 32-bit count of KiB.
        const ULONGLONG nKiB = fnFreeBytes(strRoot) / 1024;
        if (nKiB > nBestKiB) {
            nBestKiB = nKiB;
            strBest = strRoot;
        }
    }
    return strBest;
}

CString CAppPathInfo::GetBestDrive() {
    return PickBestDrive([](const char* pszRoot) { return GetDriveTypeA(pszRoot); },
                         [](const char* pszRoot) -> ULONGLONG {
                             ULARGE_INTEGER avail{}, total{}, free{};
                             if (!GetDiskFreeSpaceExA(pszRoot, &avail, &total, &free))
                                 return 0;
                             return free.QuadPart;
                         });
}

HRESULT CAppPathInfo::CreateShortcut(const char* pszTarget, const char* pszDescription,
                                     const char* pszWorkDir, const char* pszLinkPath) {
    char szFull[MAX_PATH + 1] = {};
    const DWORD nFull = GetFullPathNameA(pszTarget, MAX_PATH, szFull, nullptr);
    if (nFull == 0 || nFull >= MAX_PATH)
        return E_FAIL;

    // The link is a desktop entry: the desktops of this system read those, not shell links.
    std::string target, workDir;
    if (!AfxMapPath(szFull, target))
        return E_FAIL;
    const bool bWorkDir = pszWorkDir != nullptr && *pszWorkDir != 0 && AfxMapPath(pszWorkDir, workDir);
    const std::string title = AfxAnsiToUtf8(std::string(APP_PRODUCT_TITLE));
    const std::string description = AfxAnsiToUtf8(std::string(pszDescription ? pszDescription : ""));

    std::string entry = "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Version=1.0\n";
    entry += "Name=" + AfxDesktopValue(title) + "\n";
    entry += "Comment=" + AfxDesktopValue(description) + "\n";
    entry += "Exec=" + AfxDesktopExecQuote(target) + "\n";
    if (bWorkDir)
        entry += "Path=" + AfxDesktopValue(workDir) + "\n";
    entry += "Terminal=false\n";
    return g_CommonFunc.WriteWholeFile(pszLinkPath, CString(entry)) ? S_OK : E_FAIL;
}

CString CAppPathInfo::CreateDesktopShortcut(CString strWorkDir) {
    char szDesktop[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, szDesktop)) || szDesktop[0] == 0)
        return CString();
    CString strDesktop = szDesktop;
    if (!EndsWithBackslash(strDesktop))
        strDesktop += '\\';
    CString strLink;
    strLink.Format("%s%s.lnk", strDesktop.GetString(), APP_PRODUCT_TITLE);
    if (!g_CommonFunc.FileExists(strLink))
        CreateShortcut(g_CommonFunc.GetModulePath(), APP_PRODUCT_TITLE, strWorkDir, strLink);
    return g_CommonFunc.FileExists(strLink) ? strLink : CString();
}

CString CAppPathInfo::GetDownloadFolder() const {
    std::lock_guard<std::mutex> lock(m_lockDownloadDir);
    return m_strDownloadDir;
}

void CAppPathInfo::SetDownloadFolder(CString strFolder) {
    EnsureTrailingBackslash(strFolder);
    std::lock_guard<std::mutex> lock(m_lockDownloadDir);
    m_strDownloadDir = strFolder;
}
