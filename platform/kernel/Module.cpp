#include "platform/kernel/Module.h"

#include "platform/base/AfxStr.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/PeReader.h"
#include "platform/kernel/WinError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// A module is a list of resources over bytes it owns (another executable) or over a table linked
// into the program.
struct HRSRC__ {
    bool bTypeIsId;
    WORD wTypeId;
    std::string strType; // names in the ANSI code page
    bool bNameIsId;
    WORD wNameId;
    std::string strName;
    WORD wLanguage;
    const BYTE* pData;
    DWORD cbData;
};

struct HINSTANCE__ {
    std::vector<BYTE> bytes;
    std::vector<HRSRC__> resources;
    bool bStatic = false; // the program's own module and table modules are never freed
};

namespace {

// Files larger than this are not taken for packages.
constexpr off_t kMaxModuleFile = 1024 * 1024 * 1024;

// Never destroyed: global objects free their modules from their destructors at exit.
std::mutex& Lock() {
    static auto* m = new std::mutex;
    return *m;
}

std::set<HINSTANCE__*>& LiveModules() {
    static auto* s = new std::set<HINSTANCE__*>;
    return *s;
}

std::map<const RESOURCE_TABLE*, HINSTANCE__*>& TableModules() {
    static auto* m = new std::map<const RESOURCE_TABLE*, HINSTANCE__*>;
    return *m;
}

void FillFromTable(HINSTANCE__& mod, const RESOURCE_TABLE* pTable) {
    if (!pTable)
        return;
    for (DWORD i = 0; i < pTable->nEntries; ++i) {
        const RESOURCE_TABLE_ENTRY& e = pTable->pEntries[i];
        HRSRC__ r{};
        r.bTypeIsId = e.pszType == nullptr;
        r.wTypeId = e.wTypeId;
        r.strType = e.pszType ? e.pszType : "";
        r.bNameIsId = e.pszName == nullptr;
        r.wNameId = e.wNameId;
        r.strName = e.pszName ? e.pszName : "";
        r.wLanguage = e.wLanguage;
        r.pData = e.pData;
        r.cbData = e.cbData;
        mod.resources.push_back(std::move(r));
    }
}

HINSTANCE__* ProgramModule() {
    static HINSTANCE__* p = [] {
        auto* m = new HINSTANCE__;
        m->bStatic = true;
        FillFromTable(*m, &g_programResourceTable ? &g_programResourceTable : nullptr);
        std::lock_guard<std::mutex> g(Lock());
        LiveModules().insert(m);
        return m;
    }();
    return p;
}

// NULL is the program; any other handle must be live.
HINSTANCE__* Resolve(HMODULE h) {
    if (!h)
        return ProgramModule();
    std::lock_guard<std::mutex> g(Lock());
    return LiveModules().count(h) ? h : nullptr;
}

bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes, DWORD& err) {
    // Only a regular file is read: a FIFO or a device handed over as a package would otherwise
    // hold the caller in open() or read() for as long as its other side pleases.
    int fd = AfxOpenRegularFile(path.c_str(), O_RDONLY);
    if (fd < 0) {
        err = errno == ENOENT || errno == ENOTDIR ? ERROR_MOD_NOT_FOUND : ERROR_ACCESS_DENIED;
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size > kMaxModuleFile) {
        close(fd);
        err = ERROR_BAD_EXE_FORMAT;
        return false;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    close(fd);
    if (got != bytes.size()) {
        err = ERROR_BAD_EXE_FORMAT;
        return false;
    }
    return true;
}

std::string KeyName(const PeResourceKey& k) {
    return k.bIsId ? std::string() : AfxUtf16ToAnsi(k.strName);
}

// Splits a resource name or type argument: an integer id, "#123", or a name.
bool ParseKey(LPCSTR p, bool& isId, WORD& id, std::string& name) {
    if (IS_INTRESOURCE(p)) {
        isId = true;
        id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(p));
        return true;
    }
    if (p[0] == '#') {
        unsigned long v = 0;
        const char* s = p + 1;
        if (!*s)
            return false;
        for (; *s; ++s) {
            if (*s < '0' || *s > '9' || v > 0xFFFF)
                return false;
            v = v * 10 + static_cast<unsigned long>(*s - '0');
        }
        if (v > 0xFFFF)
            return false;
        isId = true;
        id = static_cast<WORD>(v);
        return true;
    }
    isId = false;
    name = p;
    return true;
}

// The string-table text of id, converted to the ANSI code page. False when the entry is missing.
bool FindStringEntry(HINSTANCE hInstance, UINT uID, std::string& out) {
    if (uID > 0xFFFF)
        return false; // string ids have 16 bits; a larger one would wrap onto another block
    HRSRC h = FindResourceA(hInstance, MAKEINTRESOURCEA((uID >> 4) + 1), RT_STRING);
    if (!h)
        return false;
    const BYTE* p = h->pData;
    DWORD n = h->cbData;
    DWORD off = 0;
    for (UINT i = 0; i < 16; ++i) {
        if (off > n || n - off < 2)
            return false;
        DWORD len = static_cast<DWORD>(p[off] | (p[off + 1] << 8));
        off += 2;
        if ((n - off) / 2 < len)
            return false;
        if (i == (uID & 15)) {
            std::u16string w(len, u'\0');
            for (DWORD k = 0; k < len; ++k)
                w[k] = static_cast<char16_t>(p[off + 2 * k] | (p[off + 2 * k + 1] << 8));
            out = AfxUtf16ToAnsi(w);
            return true;
        }
        off += 2 * len;
    }
    return false;
}

} // namespace

HMODULE AfxModuleFromResourceTable(const RESOURCE_TABLE* pTable) {
    std::lock_guard<std::mutex> g(Lock());
    HINSTANCE__*& m = TableModules()[pTable];
    if (!m) {
        m = new HINSTANCE__;
        m->bStatic = true;
        FillFromTable(*m, pTable);
        LiveModules().insert(m);
    }
    return m;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr)
        return ProgramModule();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

namespace {

// The running program's file, links resolved; "" when the system does not say.
std::string ProgramFile() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Whether the path lies inside the folder, both taken with their links resolved.
bool Inside(const std::string& path, const char* folder) {
    char* real = realpath(folder, nullptr);
    if (!real)
        return false;
    std::string root = std::string(real) + "/";
    free(real);
    return path.compare(0, root.size(), root) == 0;
}

} // namespace

std::string AfxProgramCompanionFolder(const char* pszName) {
    const std::string self = ProgramFile();
    const std::string beside = self.substr(0, self.rfind('/') + 1) + pszName;
#if defined(KESTRIN_BUILD_TREE) && defined(KESTRIN_PROGRAM_DIR)
    std::error_code ec;
    if (!std::filesystem::is_directory(beside, ec) && !self.empty() && Inside(self, KESTRIN_BUILD_TREE))
        return std::string(KESTRIN_PROGRAM_DIR) + "/" + pszName;
#endif
    return beside;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule && hModule != ProgramModule()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::string self = ProgramFile();
    if (self.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string path = AfxUnmapPath(self);
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        // Cut and terminated, as Windows does, with the length of the buffer.
        memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

HINSTANCE AfxGetResourceHandle() {
    return ProgramModule();
}
HINSTANCE AfxGetInstanceHandle() {
    return ProgramModule();
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    (void)hFile;
    (void)dwFlags;
    std::string path;
    if (!lpLibFileName || !AfxMapPath(lpLibFileName, path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    auto mod = std::make_unique<HINSTANCE__>();
    DWORD err = 0;
    if (!ReadWholeFile(path, mod->bytes, err)) {
        SetLastError(err);
        return nullptr;
    }
    std::vector<PeResource> list;
    if (!PeReadResources(mod->bytes.data(), mod->bytes.size(), list)) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    mod->resources.reserve(list.size());
    for (const PeResource& r : list) {
        HRSRC__ h{};
        h.bTypeIsId = r.type.bIsId;
        h.wTypeId = r.type.wId;
        h.strType = KeyName(r.type);
        h.bNameIsId = r.name.bIsId;
        h.wNameId = r.name.wId;
        h.strName = KeyName(r.name);
        h.wLanguage = r.wLanguage;
        h.pData = mod->bytes.data() + r.nFileOffset;
        h.cbData = r.cbSize;
        mod->resources.push_back(std::move(h));
    }
    HINSTANCE__* p = mod.release();
    std::lock_guard<std::mutex> g(Lock());
    LiveModules().insert(p);
    SetLastError(ERROR_SUCCESS);
    return p;
}

BOOL FreeLibrary(HMODULE hModule) {
    std::unique_ptr<HINSTANCE__> doomed;
    {
        std::lock_guard<std::mutex> g(Lock());
        auto it = LiveModules().find(hModule);
        if (it == LiveModules().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if ((*it)->bStatic)
            return TRUE;
        doomed.reset(*it);
        LiveModules().erase(it);
    }
    return TRUE;
}

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    HINSTANCE__* mod = Resolve(hModule);
    if (!mod) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpName || !lpType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool typeIsId = false, nameIsId = false;
    WORD typeId = 0, nameId = 0;
    std::string typeName, name;
    if (!ParseKey(lpType, typeIsId, typeId, typeName)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    if (!ParseKey(lpName, nameIsId, nameId, name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    bool typeSeen = false;
    for (HRSRC__& r : mod->resources) {
        bool typeMatch = r.bTypeIsId == typeIsId &&
                         (typeIsId ? r.wTypeId == typeId : AfxAsciiEqualNoCase(r.strType, typeName));
        if (!typeMatch)
            continue;
        typeSeen = true;
        bool nameMatch = r.bNameIsId == nameIsId &&
                         (nameIsId ? r.wNameId == nameId : AfxAsciiEqualNoCase(r.strName, name));
        if (nameMatch)
            return &r; // the first language listed
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
    (void)hModule;
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    static const BYTE kEmpty[1] = {0};
    // An empty resource still loads; its handle points at a byte nobody may read as data.
    return const_cast<BYTE*>(hResInfo->cbData ? hResInfo->pData : kEmpty);
}

LPVOID LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    (void)hModule;
    return hResInfo ? hResInfo->cbData : 0;
}

BOOL FreeResource(HGLOBAL hResData) {
    (void)hResData;
    return FALSE; // obsolete on Win32 too: resources live as long as their module
}

int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string s;
    if (!FindStringEntry(hInstance, uID, s)) {
        lpBuffer[0] = '\0';
        return 0;
    }
    size_t room = static_cast<size_t>(cchBufferMax - 1);
    size_t n = 0;
    // Never cut a double-byte character in half.
    while (n < s.size()) {
        size_t step = (AfxIsLeadByte(static_cast<unsigned char>(s[n])) && n + 1 < s.size()) ? 2 : 1;
        if (n + step > room)
            break;
        n += step;
    }
    memcpy(lpBuffer, s.data(), n);
    lpBuffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL CString::LoadString(UINT nID) {
    std::string s;
    // Loaded through a buffer as the framework does, so the text ends at a zero character.
    if (FindStringEntry(AfxGetResourceHandle(), nID, s))
        s.resize(std::strlen(s.c_str()));
    if (s.empty()) {
        m_s.clear();
        return FALSE;
    }
    m_s = std::move(s);
    return TRUE;
}
