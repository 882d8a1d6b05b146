#include "net/UpdateCheck.h"

#include "contentserver/PackUnpacker.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "net/DownLoadManager.h"
#include "net/MyHttp.h"
#include "net/StoreRequests.h"
#include "platform/kernel/FileSys.h"
#include "xml/XmlDocument.h"

#include <climits>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The registry context of the update's transfer, so StopAll reaches it at exit.
char s_szUpdateContext[] = "UPDATE";

// Version.ini is read and raised in one step, so two writers never lower each other's value.
std::mutex s_versionLock;

struct KnownComponent {
    const char* pszName;
    const char* pszType; // the only file_type it can be installed as
};

const KnownComponent s_components[] = {
    {"kestrin.exe", "0"},
    {"skin", "1"},
    {"data", "1"},
    {"read.swf", "0"},
};

const KnownComponent* FindComponent(const CString& strName) {
    for (const KnownComponent& c : s_components)
        if (strName == c.pszName)
            return &c;
    return nullptr;
}

// The leading decimal digits; 0 when there are none. Large numbers stop at INT_MAX.
int ParseVersion(const CString& strText) {
    long long n = 0;
    for (int i = 0; i < strText.GetLength(); ++i) {
        char c = strText[i];
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
        if (n > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(n);
}

// A path this pass writes: a folder of its own followed by one plain name, or by a
// "name_version" folder; anything that could climb out of the folder is refused.
bool IsPlainPart(const CString& strPart) {
    return PackIsPlainFileName(strPart) != FALSE;
}

CString DownloadPath(const CUpdateInfo& info) {
    CString name;
    name.Format("%s.%d", info.file_name.GetString(), info.version);
    if (!IsPlainPart(name) || g_AppPathInfo.m_strUpdateDir.IsEmpty())
        return CString();
    return g_AppPathInfo.m_strUpdateDir + "\\" + name;
}

CString PackageFolder(const CUpdateInfo& info) {
    CString name;
    name.Format("%s_%d", info.file_name.GetString(), info.version);
    if (!IsPlainPart(name) || g_AppPathInfo.m_strExeFilesDir.IsEmpty())
        return CString();
    return g_AppPathInfo.m_strExeFilesDir + "\\" + name + "\\";
}

CString VersionFolder(const CUpdateInfo& info) {
    CString name;
    name.Format("%d", info.version);
    if (!IsPlainPart(info.file_name) || g_AppPathInfo.m_strExeFilesDir.IsEmpty())
        return CString();
    return g_AppPathInfo.m_strExeFilesDir + "\\" + name + "\\";
}

bool ReadFileBytes(const CString& strPath, std::vector<BYTE>& data) {
    FILE* f = win_fopen(strPath, "rb");
    if (f == nullptr)
        return false;
    data.clear();
    BYTE buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        data.insert(data.end(), buf, buf + n);
        if (data.size() > 0xFFFFFFF0u) {
            fclose(f);
            return false;
        }
    }
    bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

// A package installs only when its whole directory reads back and every entry is a plain name:
// nothing is created for one that does not.
bool InstallPackage(const CUpdateInfo& info) {
    CString folder = PackageFolder(info);
    if (folder.IsEmpty())
        return false;
    std::vector<BYTE> data;
    if (!ReadFileBytes(info.local_path, data))
        return false;
    std::vector<PackDirEntry> entries;
    if (!PackReadDirectory(data.data(), static_cast<DWORD>(data.size()), entries))
        return false;
    for (const PackDirEntry& e : entries)
        if (!PackIsPlainFileName(e.szName))
            return false;
    CreateDirectoryA(folder.Left(folder.GetLength() - 1), nullptr);
    data.resize(data.size() + 2, 0); // the unpacker's reading stays inside its buffer
    CPackUnpacker unpacker;
    return unpacker.Unpack(data.data(), static_cast<DWORD>(data.size() - 2), folder) != FALSE;
}

// A plain component is copied beside its version's folder under a temporary name and then
// moved into place, so a target that exists is always whole. An existing target is kept.
bool InstallPlainFile(const CUpdateInfo& info) {
    CString folder = VersionFolder(info);
    if (folder.IsEmpty())
        return false;
    CreateDirectoryA(folder.Left(folder.GetLength() - 1), nullptr);
    CString target = folder + info.file_name;
    if (!g_CommonFunc.FileExists(target)) {
        CString part = target + ".part";
        if (CopyFileA(info.local_path, part, FALSE))
            MoveFileA(part, target);
        DeleteFileA(part);
    }
    return g_CommonFunc.FileExists(target);
}

} // namespace

BOOL IsKnownComponent(const CString& strName) {
    return FindComponent(strName) != nullptr ? TRUE : FALSE;
}

void RecordComponentVersion(const CString& strName, int nBuild) {
    std::lock_guard<std::mutex> guard(s_versionLock);
    if (nBuild > g_CommonFunc.GetComponentVersion(strName))
        g_CommonFunc.SetComponentVersion(strName, nBuild);
}

CString GetUpdateXml() {
    CMyHttp http;
    CString body;
    g_DownLoadManager.RegisterHttp(&http, s_szUpdateContext);
    int nResult = http.GetUrl(BuildUpdateXmlUrl(), nullptr, 0, "", body);
    g_DownLoadManager.UnregisterHttp(&http, s_szUpdateContext);
    if (nResult != MYHTTP_OK || http.IsStopped())
        return CString();
    return body;
}

BOOL ParseUpdateXml(CString xml, CUpdateInfoList& list) {
    CXmlDocument doc;
    doc.SetDocText(xml);
    doc.ResetLevel();
    if (!doc.FindElement("files"))
        return FALSE;
    doc.IntoElement();
    BOOL bAny = FALSE;
    while (doc.FindElement("file")) {
        CString name = doc.GetAttribute("file_name");
        // Only the program's own components are updated: any other name could be made to write
        // wherever its text points.
        if (!IsKnownComponent(name))
            continue;
        auto* info = new CUpdateInfo;
        info->file_name = name;
        info->file_type = doc.GetAttribute("file_type");
        info->version = ParseVersion(doc.GetAttribute("version"));
        info->url = doc.GetAttribute("url");
        info->mode = doc.GetAttribute("mode");
        info->state = UPDATE_STATE_LISTED;
        list.Add(info);
        bAny = TRUE;
    }
    return bAny;
}

BOOL SelectUpdates(CUpdateInfoList& list) {
    BOOL bAny = FALSE;
    for (CUpdateInfo* info : list) {
        if (info->version > g_CommonFunc.GetComponentVersion(info->file_name)) {
            info->state = UPDATE_STATE_NEWER;
            bAny = TRUE;
        }
    }
    return bAny;
}

BOOL DownloadUpdates(CUpdateInfoList& list) {
    // A folder that exists is used.
    CreateDirectoryA(g_AppPathInfo.m_strUpdateDir, nullptr);
    for (CUpdateInfo* info : list) {
        if (info->state != UPDATE_STATE_NEWER)
            continue;
        info->local_path = DownloadPath(*info);
        if (info->local_path.IsEmpty())
            return FALSE;
        CMyHttp http;
        // A reply that does not say how long it is could end anywhere and still look complete.
        http.SetRequireLength(TRUE);
        g_DownLoadManager.RegisterHttp(&http, s_szUpdateContext);
        BOOL bDone = FALSE;
        for (int attempt = 0; attempt < UPDATE_MAX_ATTEMPTS && !bDone && !http.IsStopped(); ++attempt)
            bDone = http.DownloadFile(info->url, nullptr, 0, "", info->local_path) == MYHTTP_OK;
        g_DownLoadManager.UnregisterHttp(&http, s_szUpdateContext);
        if (!bDone)
            return FALSE;
        info->state = UPDATE_STATE_DOWNLOADED;
    }
    return TRUE;
}

BOOL InstallUpdates(CUpdateInfoList& list) {
    for (CUpdateInfo* info : list) {
        if (info->state != UPDATE_STATE_DOWNLOADED)
            continue;
        const KnownComponent* known = FindComponent(info->file_name);
        // A component installed as the other kind would record a version whose folder or file
        // is not there, and the program would look for it in vain.
        if (known == nullptr || info->file_type != known->pszType)
            continue;
        bool bInstalled = info->file_type == "1" ? InstallPackage(*info) : InstallPlainFile(*info);
        if (bInstalled)
            RecordComponentVersion(info->file_name, info->version);
    }
    return TRUE;
}

void FreeUpdates(CUpdateInfoList& list) {
    for (CUpdateInfo* info : list)
        delete info;
    list.RemoveAll();
}

UINT UpdateThreadProc(LPVOID /*param*/) {
    CUpdateInfoList list;
    CString xml = GetUpdateXml();
    if (!xml.IsEmpty() && ParseUpdateXml(xml, list) && SelectUpdates(list) && DownloadUpdates(list))
        InstallUpdates(list);
    FreeUpdates(list);
    return 0;
}

namespace {

UINT UpdateWorkerProc(LPVOID param) {
    UINT nResult = UpdateThreadProc(param);
    g_DownLoadManager.EndWorker();
    return nResult;
}

} // namespace

BOOL StartUpdateThread() {
    // Counted before it exists, so an exit that comes first either refuses it or waits for it.
    if (!g_DownLoadManager.BeginWorker())
        return TRUE;
    if (AfxBeginThread(UpdateWorkerProc, nullptr, THREAD_PRIORITY_NORMAL) == nullptr)
        g_DownLoadManager.EndWorker();
    return TRUE;
}
