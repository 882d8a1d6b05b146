#include "app/PackInfo.h"

#include "app/FlashPlayerWnd.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/PackUnpacker.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"
#include "net/UpdateCheck.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/ProgramImage.h"
#include "platform/kernel/Process.h"
#include "platform/web/WebKitBrowser.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

const char kResourceType[] = "MYDATA";
const DWORD kMaxStringResource = 1024;

// Both paths name one file on disk, whatever the spelling (case, "..", links).
bool SameFile(const CString& a, const CString& b) {
    std::string pa, pb;
    if (!AfxMapPath(a, pa) || !AfxMapPath(b, pb))
        return false;
    std::error_code ec;
    return std::filesystem::equivalent(pa, pb, ec);
}

ULONGLONG FileSize(const CString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return static_cast<ULONGLONG>(-1);
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

CString InstalledCopyPath(int nBuild) {
    CString strCopy;
    strCopy.Format("%s\\%d\\kestrin.exe", (LPCSTR)g_AppPathInfo.m_strExeFilesDir, nBuild);
    return strCopy;
}

// The folders that go with the program, beside its file: a copy without them starts, but reads
// no movie and shows pages that cannot call it.
const char* const kCompanionFolders[] = {kPlayerFolderName, afxweb::kWebExtensionFolderName};

// The companions this program has that the installed-copy folder lacks.
std::vector<std::string> MissingCompanions(const CString& strFolder) {
    std::vector<std::string> missing;
    std::string folder;
    if (!AfxMapPath(strFolder, folder))
        return missing;
    std::error_code ec;
    for (const char* name : kCompanionFolders)
        if (std::filesystem::is_directory(AfxProgramCompanionFolder(name), ec) &&
            !std::filesystem::exists(folder + "/" + name, ec))
            missing.push_back(name);
    return missing;
}

// Copies the companions the folder lacks into it, each under a temporary name first and renamed
// once whole, so a companion that is there is complete. False when one could not be copied.
bool CopyCompanions(const CString& strFolder) {
    std::string folder;
    if (!AfxMapPath(strFolder, folder))
        return false;
    namespace fs = std::filesystem;
    for (const std::string& name : MissingCompanions(strFolder)) {
        const std::string target = folder + "/" + name;
        const std::string temp = target + "." + std::to_string(getpid()) + ".part";
        std::error_code ec;
        fs::remove_all(temp, ec);
        fs::copy(AfxProgramCompanionFolder(name.c_str()), temp, fs::copy_options::recursive, ec);
        if (!ec)
            fs::rename(temp, target, ec);
        if (ec) {
            std::error_code ignored;
            fs::remove_all(temp, ignored);
            return false;
        }
    }
    return true;
}

} // namespace

CPackInfo::CPackInfo() : m_hModule(nullptr) {}

CPackInfo::~CPackInfo() {
    if (m_hModule != nullptr)
        FreeLibrary(m_hModule);
}

BOOL CPackInfo::Load(CString strPath) {
    m_hModule = nullptr;
    if (!strPath.IsEmpty() && g_CommonFunc.FileExists(strPath))
        m_hModule = LoadLibraryA(strPath);
    m_strId = LoadResString(162);
    m_strName = LoadResString(163);
    m_strIssue = LoadResString(226);
    m_strPriceFlag = LoadResString(227);
    m_strCategory = LoadResString(268);
    m_strSortId = LoadResString(165);
    m_strHtmlFlag = LoadResString(280);
    m_strSource = LoadResString(289);
    m_strType = LoadResString(294);
    m_strPrice = LoadResString(299);
    m_strBundle = LoadResString(166);
    if (m_strType.IsEmpty())
        m_strType = "mag";
    return TRUE;
}

CString CPackInfo::LoadResString(UINT nId) {
    HRSRC hRes = FindResourceA(m_hModule, MAKEINTRESOURCEA(nId), kResourceType);
    if (hRes == nullptr)
        return CString();
    HGLOBAL hData = LoadResource(m_hModule, hRes);
    const char* pData = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
    DWORD cbData = SizeofResource(m_hModule, hRes);
    if (pData == nullptr || cbData == 0 || cbData > kMaxStringResource)
        return CString();
    // The text ends at its first zero byte, as a terminated copy of the bytes would.
    std::string text(pData, cbData);
    return CString(text.c_str());
}

BOOL CPackInfo::HasBundle() {
    return m_strBundle == "1";
}

BOOL CPackInfo::IsRead() {
    return GetReadLog("read") == "yes";
}

CString CPackInfo::ReadLogSection() {
    return m_strType + "_" + m_strId;
}

CString CPackInfo::ReadLogPath() {
    return g_AppPathInfo.m_strExeFilesDir + "\\ReadLog.ini";
}

CString CPackInfo::GetReadLog(CString strKey) {
    char szValue[100] = {};
    GetPrivateProfileStringA(ReadLogSection(), strKey, "", szValue, sizeof szValue, ReadLogPath());
    return CString(szValue);
}

void CPackInfo::SetReadLog(CString strKey, CString strValue) {
    WritePrivateProfileStringA(ReadLogSection(), strKey, strValue, ReadLogPath());
}

BOOL CPackInfo::CheckBundleFirstRun() {
    Load("");
    if (HasBundle() && !IsRead()) {
        SetReadLog("read", "yes");
        return TRUE;
    }
    return FALSE;
}

void CPackInfo::RegisterBundledItem() {
    CMagInfo* pItem = new CMagInfo;
    pItem->pid = m_strId;
    pItem->name = m_strName;
    pItem->date = m_strIssue;
    pItem->type = m_strType;
    pItem->down = DOWN_STATE_DONE;
    pItem->sort_id = m_strSortId;
    pItem->isFullSwf = m_strHtmlFlag == "1" ? "1" : "0";
    pItem->price = m_strPriceFlag;
    pItem->pic1 = CopyCover();
    pItem->savepath = g_CommonFunc.GetModulePath();
    // The shelf refuses a pid it already lists; the recent reads take the record in every case.
    g_MagShelf.Add(pItem, m_strType, TRUE);
    g_MagShelf.AddRecentRead(pItem);
}

CString CPackInfo::CopyCover() {
    CString strTarget;
    strTarget.Format("%s\\%s\\%s.jpg", (LPCSTR)g_AppPathInfo.m_strImagesDir, (LPCSTR)m_strType,
                     (LPCSTR)m_strId);
    CString strName;
    strName.Format("%s%s\\%s\\coverFlash.jpg", MEMFILE_ROOT, (LPCSTR)m_strType, (LPCSTR)m_strId);
    // The name is widened whole, however long the id: no fixed buffer to outgrow.
    CStringW strWide = MemFileWiden(strName);

    std::string bytes;
    bool bFound = false;
    EnterCriticalSection(&g_csMemFile);
    if (CMemFileEntry* pEntry = g_MyMemFile.FindFile(strWide)) {
        // Taken while the lock is held: another load may free the package right after.
        bytes.assign(reinterpret_cast<const char*>(pEntry->pData), pEntry->dwSize);
        bFound = true;
    }
    LeaveCriticalSection(&g_csMemFile);
    if (!bFound)
        return CString();

    FILE* f = win_fopen(strTarget, "wb");
    if (f == nullptr)
        return CString();
    bool bWritten = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    bool bClosed = fclose(f) == 0;
    if (!bWritten || !bClosed)
        return CString();
    return strTarget;
}

BOOL CPackInfo::CheckInstalledVersion() {
    int nInstalled = g_CommonFunc.GetComponentVersion("kestrin.exe");
    if (nInstalled == PROGRAM_BUILD_NUMBER) {
        // A copy of this build made without what goes with it is completed, so it runs whole
        // when an older build hands over to it.
        CString strFolder;
        strFolder.Format("%s\\%d\\", (LPCSTR)g_AppPathInfo.m_strExeFilesDir, PROGRAM_BUILD_NUMBER);
        if (g_CommonFunc.FileExists(strFolder + "kestrin.exe") && !MissingCompanions(strFolder).empty())
            AfxBeginThread(CopySelfThreadProc, nullptr, THREAD_PRIORITY_NORMAL);
        return TRUE;
    }
    CString strCopy = InstalledCopyPath(nInstalled);
    // A newer copy that is missing or that this system cannot start is no installed copy: this
    // build installs itself again in its place.
    if (nInstalled < PROGRAM_BUILD_NUMBER || !IsComponentWhole("kestrin.exe", strCopy)) {
        AfxBeginThread(CopySelfThreadProc, nullptr, THREAD_PRIORITY_NORMAL);
        return TRUE;
    }

    CString strSelf = g_CommonFunc.GetModulePath();
    // A copy that is this very file would only start this build again, and again.
    if (SameFile(strCopy, strSelf))
        return TRUE;

    // The built-in item is recorded as read only once the newer copy has it: if the launch
    // fails, this copy goes on starting and offers the item itself.
    Load("");
    BOOL bDue = HasBundle() && !IsRead();
    CString strParams;
    if (bDue)
        strParams.Format("-p %s", (LPCSTR)strSelf);
    HINSTANCE hResult = ShellExecuteA(nullptr, "open", strCopy, strParams, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(hResult) <= 32)
        return TRUE;
    if (bDue)
        SetReadLog("read", "yes");
    return FALSE;
}

namespace {

// Where the program looks for a component now, by the build Version.ini records.
CString InstalledPlace(const char* pszKey) {
    if (strcmp(pszKey, "skin") == 0)
        return g_AppPathInfo.GetSkinDir();
    if (strcmp(pszKey, "data") == 0)
        return g_AppPathInfo.GetPageDir();
    return g_AppPathInfo.GetReadSwfPath();
}

} // namespace

void CPackInfo::DeployComponents() {
    struct Component {
        const char* pszKey;
        const char* pszFolderFormat;
        UINT nResource;
        const char* pszFile; // written into the folder; NULL: the package is unpacked there
    };
    static const Component kComponents[] = {
        {"skin", "%s\\skin_%d\\", 151, nullptr},
        {"data", "%s\\data_%d\\", 161, nullptr},
        {"read.swf", "%s\\%d\\", 152, "read.swf"},
    };
    for (const Component& c : kComponents) {
        // A component the update check installed in a newer build stays as it is, while it is
        // whole: one that is missing or damaged gives way to this build's own.
        if (g_CommonFunc.GetComponentVersion(c.pszKey) > PROGRAM_BUILD_NUMBER &&
            IsComponentWhole(c.pszKey, InstalledPlace(c.pszKey)))
            continue;
        CString strFolder;
        strFolder.Format(c.pszFolderFormat, (LPCSTR)g_AppPathInfo.m_strExeFilesDir, PROGRAM_BUILD_NUMBER);
        CreateDirectoryA(strFolder, nullptr);
        CString strTarget = strFolder;
        if (c.pszFile != nullptr)
            strTarget += c.pszFile;
        ExtractResource(c.nResource, strTarget, c.pszFile == nullptr);
        g_CommonFunc.SetComponentVersion(c.pszKey, PROGRAM_BUILD_NUMBER);
    }
}

BOOL CPackInfo::ExtractResource(UINT nId, LPCSTR pszTarget, BOOL bUnpack) {
    HRSRC hRes = FindResourceA(m_hModule, MAKEINTRESOURCEA(nId), kResourceType);
    if (hRes == nullptr)
        return FALSE;
    HGLOBAL hData = LoadResource(m_hModule, hRes);
    const BYTE* pData = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    DWORD cbData = SizeofResource(m_hModule, hRes);
    if (pData == nullptr)
        return FALSE;
    if (bUnpack) {
        // The unpacker takes a writable buffer; the resource's bytes are the program's own.
        std::vector<BYTE> package(pData, pData + cbData);
        package.resize(package.size() + 2, 0);
        CPackUnpacker unpacker;
        unpacker.Unpack(package.data(), cbData, pszTarget);
        return TRUE;
    }
    FILE* f = win_fopen(pszTarget, "w+b");
    if (f == nullptr)
        return FALSE;
    if (cbData > 0)
        fwrite(pData, 1, cbData, f);
    fclose(f);
    return TRUE;
}

UINT CopySelfThreadProc(LPVOID) {
    CString strFolder;
    strFolder.Format("%s\\%d\\", (LPCSTR)g_AppPathInfo.m_strExeFilesDir, PROGRAM_BUILD_NUMBER);
    CreateDirectoryA(strFolder, nullptr);
    CString strTarget = strFolder + "kestrin.exe";
    CString strSelf = g_CommonFunc.GetModulePath();

    // What goes with the program first: the copy's file appears only once the copy runs whole.
    if (!CopyCompanions(strFolder))
        return 1;
    // A copy there already stays, unless it is one this system cannot start.
    if (!IsComponentWhole("kestrin.exe", strTarget)) {
        // The copy becomes the installed one only by a rename once it is whole and executable, so
        // a crash or a full disk leaves either no copy or a complete one, never half a file.
        CString strTemp;
        strTemp.Format("%skestrin.exe.%d.part", (LPCSTR)strFolder, static_cast<int>(getpid()));
        bool bWhole = CopyFileA(strSelf, strTemp, FALSE) && FileSize(strTemp) == FileSize(strSelf) &&
                      AfxMakeExecutable(strTemp) &&
                      MoveFileExA(strTemp, strTarget, MOVEFILE_REPLACE_EXISTING);
        if (!bWhole) {
            DeleteFileA(strTemp);
            return 1;
        }
    }
    if (!g_CommonFunc.FileExists(strTarget))
        return 1;
    // The update thread may have recorded a newer build meanwhile; that one stays, unless it is
    // a copy this system cannot start, which this one replaces.
    int nRecorded = g_CommonFunc.GetComponentVersion("kestrin.exe");
    if (nRecorded < PROGRAM_BUILD_NUMBER ||
        (nRecorded > PROGRAM_BUILD_NUMBER && !IsComponentWhole("kestrin.exe", InstalledCopyPath(nRecorded))))
        g_CommonFunc.SetComponentVersion("kestrin.exe", PROGRAM_BUILD_NUMBER);
    return 1;
}
