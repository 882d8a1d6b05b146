#include "net/UpdateCheck.h"

#include "contentserver/PackUnpacker.h"
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "net/DownLoadManager.h"
#include "net/MyHttp.h"
#include "net/StoreRequests.h"
#include "platform/base/AfxAscii.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/ProgramImage.h"
#include "xml/XmlDocument.h"

#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

// The registry context of the update's transfer, so StopAll reaches it at exit.
char s_szUpdateContext[] = "UPDATE";

// Version.ini is read and raised in one step, so two writers never lower each other's value.
std::mutex s_versionLock;

// What the program opens from a component's folder: the pages of the page package, the skin
// files of the skin package. Each must be there and hold something, or the program could not
// show its shelf, its login and settings, its error page, or its windows.
const char* const kPageFiles[] = {"Bookshelf.html", "Bookshelf2.html", "Error.html", "login.html",
                                  "Setting.html"};
const char* const kSkinFiles[] = {"WinSkin.xml",   "WinSkin2.xml", "WinSkin3.xml", "WinSkin4.xml",
                                  "MainSkin3.xml", "ToolBar.xml",  "ToolBar2.xml", "ToolBar3.xml"};

struct KnownComponent {
    const char* pszName;
    const char* pszType;           // the only file_type it can be installed as
    const char* const* ppRequired; // a package's files, or null for a plain file
    size_t nRequired;
};

const KnownComponent s_components[] = {
    {"kestrin.exe", "0", nullptr, 0},
    {"skin", "1", kSkinFiles, sizeof kSkinFiles / sizeof kSkinFiles[0]},
    {"data", "1", kPageFiles, sizeof kPageFiles / sizeof kPageFiles[0]},
    {"read.swf", "0", nullptr, 0},
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

DWORD ReadLe32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

// A movie the player can play to its end: a SWF signature and version, and the length its header
// gives is the length there is. An uncompressed movie's is its size; a zlib-compressed one
// inflates to it whole; an LZMA one holds exactly the compressed length it announces.
bool IsWholeSwf(const std::vector<BYTE>& d) {
    if (d.size() < 8 || d[1] != 'W' || d[2] != 'S' || d[3] == 0)
        return false;
    const DWORD nLength = ReadLe32(&d[4]);
    switch (d[0]) {
    case 'F':
        return nLength == d.size();
    case 'C': {
        if (nLength < 8)
            return false;
        z_stream z{};
        if (inflateInit(&z) != Z_OK)
            return false;
        z.next_in = const_cast<Bytef*>(d.data() + 8);
        z.avail_in = static_cast<uInt>(d.size() - 8);
        std::vector<Bytef> out(65536);
        uLong nOut = 0;
        int r;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            r = inflate(&z, Z_NO_FLUSH);
            nOut += out.size() - z.avail_out;
        } while (r == Z_OK && nOut <= nLength);
        const bool bEnded = r == Z_STREAM_END && z.avail_in == 0;
        inflateEnd(&z);
        return bEnded && nOut + 8 == nLength;
    }
    case 'Z':
        // The header, the compressed length, five bytes of LZMA properties, then the data.
        return d.size() >= 17 && static_cast<uint64_t>(ReadLe32(&d[8])) + 17 == d.size();
    default:
        return false;
    }
}

bool HoldsAll(const KnownComponent& c, const std::function<bool(const char*)>& holds) {
    for (size_t i = 0; i < c.nRequired; ++i)
        if (!holds(c.ppRequired[i]))
            return false;
    return true;
}

// Names compare as the file system finds them: letters in either case.
bool PackageIsWhole(const KnownComponent& c, const std::vector<PackDirEntry>& entries) {
    return HoldsAll(c, [&](const char* pszFile) {
        for (const PackDirEntry& e : entries)
            if (e.dwSize > 0 && AfxAsciiEqualNoCase(e.szName, pszFile))
                return true;
        return false;
    });
}

bool PlainFileIsWhole(const CString& strName, const CString& strPath) {
    if (strName == "kestrin.exe")
        return AfxIsProgramImage(strPath) != FALSE;
    std::vector<BYTE> data;
    return ReadFileBytes(strPath, data) && IsWholeSwf(data);
}

// Removes a folder and everything in it; a folder that is not there counts as removed.
bool RemoveTree(const CString& strFolder) {
    std::string path;
    if (!AfxMapPath(strFolder, path))
        return false;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

// A package installs only when its whole directory reads back, every entry is a plain name and it
// holds what the program opens from it. It is unpacked under a temporary name beside its folder
// and then moved into place, so the folder, once there, is whole.
bool InstallPackage(const CUpdateInfo& info, const KnownComponent& c) {
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
    if (!PackageIsWhole(c, entries))
        return false;
    const CString target = folder.Left(folder.GetLength() - 1);
    const CString part = target + ".part";
    const CString old = target + ".old";
    RemoveTree(part);
    if (!CreateDirectoryA(part, nullptr))
        return false;
    data.resize(data.size() + 2, 0); // the unpacker's reading stays inside its buffer
    CPackUnpacker unpacker;
    if (!unpacker.Unpack(data.data(), static_cast<DWORD>(data.size() - 2), part + "\\")) {
        RemoveTree(part);
        return false;
    }
    // A folder of that version from an earlier pass gives way to the new one.
    RemoveTree(old);
    const bool bHadOne = g_CommonFunc.FileExists(target) && MoveFileA(target, old);
    if (!MoveFileA(part, target)) {
        if (bHadOne)
            MoveFileA(old, target);
        RemoveTree(part);
        return false;
    }
    RemoveTree(old);
    return IsComponentWhole(info.file_name, folder) != FALSE;
}

// A plain component must be whole for its kind; it is copied beside its version's folder under a
// temporary name, made executable when it is the program, and then moved into place. A target of
// that version already whole from an earlier run is kept.
bool InstallPlainFile(const CUpdateInfo& info) {
    CString folder = VersionFolder(info);
    if (folder.IsEmpty() || !PlainFileIsWhole(info.file_name, info.local_path))
        return false;
    CreateDirectoryA(folder.Left(folder.GetLength() - 1), nullptr);
    CString target = folder + info.file_name;
    if (IsComponentWhole(info.file_name, target))
        return true;
    CString part = target + ".part";
    bool bPlaced = CopyFileA(info.local_path, part, FALSE) &&
                   (info.file_name != "kestrin.exe" || AfxMakeExecutable(part)) &&
                   MoveFileExA(part, target, MOVEFILE_REPLACE_EXISTING);
    DeleteFileA(part);
    return bPlaced && IsComponentWhole(info.file_name, target);
}

} // namespace

BOOL IsKnownComponent(const CString& strName) {
    return FindComponent(strName) != nullptr ? TRUE : FALSE;
}

BOOL IsComponentWhole(const CString& strName, const CString& strPlace) {
    const KnownComponent* c = FindComponent(strName);
    if (c == nullptr || strPlace.IsEmpty())
        return FALSE;
    if (c->ppRequired == nullptr) {
        if (strName == "kestrin.exe")
            return AfxCanRunProgram(strPlace);
        return PlainFileIsWhole(strName, strPlace) ? TRUE : FALSE;
    }
    return HoldsAll(*c,
                    [&](const char* pszFile) { return g_CommonFunc.GetFileLength(strPlace + pszFile) > 0; })
               ? TRUE
               : FALSE;
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
        bool bInstalled = false;
        if (known != nullptr && info->file_type == known->pszType)
            bInstalled = info->file_type == "1" ? InstallPackage(*info, *known) : InstallPlainFile(*info);
        if (bInstalled)
            RecordComponentVersion(info->file_name, info->version);
        else
            DeleteFileA(info->local_path); // what does not install is not kept either
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
