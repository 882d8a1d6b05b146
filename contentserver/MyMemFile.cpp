#include "contentserver/MyMemFile.h"

#include "contentserver/PackUnpacker.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

CRITICAL_SECTION g_csMemFile;

namespace {

// The lock must exist before any global store is used or destroyed.
struct MemFileLockInit {
    MemFileLockInit() { InitializeCriticalSection(&g_csMemFile); }
};
MemFileLockInit s_memFileLockInit;

class CMemFileLock {
public:
    CMemFileLock() { EnterCriticalSection(&g_csMemFile); }
    ~CMemFileLock() { LeaveCriticalSection(&g_csMemFile); }
    CMemFileLock(const CMemFileLock&) = delete;
    CMemFileLock& operator=(const CMemFileLock&) = delete;
};

const char* const kResourceType = "MYDATA";
const int kItemPackageId = 188;

} // namespace

CMemFileBytes::CMemFileBytes(const BYTE* pSource, DWORD dwSize) : m_dwSize(dwSize) {
    const size_t nLength = static_cast<size_t>(dwSize) + 1;
    int fd = memfd_create("memfile", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd >= 0) {
        // Written through the descriptor, so no writable mapping stands in the way of the seal.
        size_t nDone = 0;
        while (nDone < dwSize) {
            ssize_t n = ::write(fd, pSource + nDone, dwSize - nDone);
            if (n <= 0)
                break;
            nDone += static_cast<size_t>(n);
        }
        const BYTE zero = 0;
        void* p = MAP_FAILED;
        if (nDone == dwSize && ::write(fd, &zero, 1) == 1 &&
            fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0)
            p = mmap(nullptr, nLength, PROT_READ, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) {
            m_pData = static_cast<BYTE*>(p);
            m_fd = fd;
            return;
        }
        close(fd);
    }
    m_heap.reset(new BYTE[nLength]);
    if (dwSize > 0)
        memcpy(m_heap.get(), pSource, dwSize);
    m_heap[dwSize] = 0;
    m_pData = m_heap.get();
}

CMemFileBytes::~CMemFileBytes() {
    if (m_fd >= 0) {
        munmap(m_pData, static_cast<size_t>(m_dwSize) + 1);
        close(m_fd);
    }
}

CRctIndex g_RctIndex;
CMyMemFile g_MyMemFile;

CStringW MemFileWiden(const char* psz) {
    CStringW wide;
    if (psz != nullptr) {
        std::u16string& w = wide.str();
        w.resize(strlen(psz));
        for (size_t i = 0; i < w.size(); ++i)
            w[i] = static_cast<unsigned char>(psz[i]);
    }
    return wide;
}

namespace {

// Memory-file names and paths fold the letters A to Z only.
void LowerInPlace(std::u16string& w) {
    for (char16_t& c : w) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
}

} // namespace

void CRctIndex::Add(CString name, BYTE* data, DWORD size) {
    m_mapSize.SetAt(name, reinterpret_cast<void*>(static_cast<uintptr_t>(size)));
    m_mapData.SetAt(name, data);
    m_arrNames.Add(name);
}

void CRctIndex::SortNames() {
    // Padding on the left to ten characters makes a shorter numeric name sort first (9 before 10).
    std::vector<std::string> keys;
    for (INT_PTR i = 0; i < m_arrNames.GetSize(); ++i) {
        CString padded = CString("######") + m_arrNames[i];
        keys.push_back(padded.Right(10).str());
    }
    std::sort(keys.begin(), keys.end());
    m_arrNames.RemoveAll();
    for (std::string& k : keys) {
        k.erase(std::remove(k.begin(), k.end(), '#'), k.end());
        m_arrNames.Add(CString(k));
    }
}

void CRctIndex::RemoveAll() {
    m_mapSize.RemoveAll();
    m_mapData.RemoveAll();
    m_arrNames.RemoveAll();
}

CMyMemFile::~CMyMemFile() {
    RemoveAll();
}

void CMyMemFile::AddFile(LPCWSTR name, BYTE* data, DWORD size, DWORD attributes) {
    CMemFileEntry* pEntry = new CMemFileEntry;
    pEntry->strName = CStringW(name);
    pEntry->pData = data;
    pEntry->dwSize = size;
    pEntry->dwAttributes = attributes;
    CMemFileLock lock;
    AddEntryLocked(pEntry);
}

void CMyMemFile::AddEntryLocked(CMemFileEntry* pEntry) {
    m_arrEntries.Add(pEntry);
    std::u16string lower = pEntry->strName.str();
    LowerInPlace(lower);
    m_index.emplace(std::move(lower), pEntry); // an earlier entry of the name keeps it
}

void CMyMemFile::RemoveAllLocked() {
    for (INT_PTR i = 0; i < m_arrEntries.GetSize(); ++i)
        delete static_cast<CMemFileEntry*>(m_arrEntries[i]);
    m_arrEntries.RemoveAll();
    m_index.clear();
    // The index points into the bytes that go now; an answer under way keeps them for itself.
    if (m_pPackageBytes)
        g_RctIndex.RemoveAll();
    m_pPackageBytes.reset();
    m_pPackage = nullptr;
}

void CMyMemFile::RemoveAll() {
    // The server thread takes an entry's bytes under the same lock; what it took stays valid
    // until its answer has been sent, whatever the store does meanwhile.
    CMemFileLock lock;
    RemoveAllLocked();
}

BOOL CMyMemFile::HasItemPages(HMODULE hModule) {
    if (hModule == nullptr)
        return FALSE;
    HRSRC hInfo = FindResourceA(hModule, MAKEINTRESOURCEA(kItemPackageId), kResourceType);
    HGLOBAL hData = hInfo != nullptr ? LoadResource(hModule, hInfo) : nullptr;
    const BYTE* pRes = hData != nullptr ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    if (pRes == nullptr)
        return FALSE;
    std::vector<PackDirEntry> directory;
    BOOL bReadable = PackReadDirectory(pRes, SizeofResource(hModule, hInfo), directory);
    FreeResource(hData);
    return bReadable;
}

BOOL CMyMemFile::LoadPackage(CString packagePath, CStringW namePrefix) {
    HMODULE hModule = LoadLibraryA(packagePath);
    if (hModule == nullptr)
        return FALSE;
    HRSRC hInfo = FindResourceA(hModule, MAKEINTRESOURCEA(kItemPackageId), kResourceType);
    HGLOBAL hData = hInfo != nullptr ? LoadResource(hModule, hInfo) : nullptr;
    const BYTE* pRes = hData != nullptr ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    if (pRes == nullptr) {
        FreeLibrary(hModule);
        return FALSE;
    }
    DWORD nSize = SizeofResource(hModule, hInfo);

    // Checked before the store changes: a damaged package adds nothing.
    std::vector<PackDirEntry> directory;
    if (!PackReadDirectory(pRes, nSize, directory)) {
        FreeResource(hData);
        FreeLibrary(hModule);
        return FALSE;
    }
    auto pBytes = std::make_shared<CMemFileBytes>(pRes, nSize);
    BYTE* pBuffer = pBytes->GetData();
    FreeResource(hData);
    FreeLibrary(hModule);

    CMemFileLock lock;
    RemoveAllLocked();
    m_pPackageBytes = pBytes;
    m_pPackage = pBuffer;
    for (const PackDirEntry& e : directory) {
        CStringW name = namePrefix;
        name += MemFileWiden(e.szName);
        CString lower(e.szName);
        // Lower-case A to Z only, as for memory-file names.
        for (char& c : lower.str()) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        if (lower.Find(".rct") >= 0)
            g_RctIndex.Add(lower, pBuffer + e.dwOffset, e.dwSize);
        CMemFileEntry* pEntry = new CMemFileEntry;
        pEntry->strName = name;
        pEntry->pData = pBuffer + e.dwOffset;
        pEntry->dwSize = e.dwSize;
        pEntry->dwAttributes = 32;
        pEntry->pBytes = pBytes;
        AddEntryLocked(pEntry);
    }
    g_RctIndex.SortNames();
    return TRUE;
}

CMemFileEntry* CMyMemFile::FindFile(LPCWSTR path) {
    static const CStringW kRoot = MemFileWiden(MEMFILE_ROOT);
    std::u16string lower = path != nullptr ? std::u16string(path) : std::u16string();
    LowerInPlace(lower);
    if (lower.compare(0, kRoot.str().size(), kRoot.str()) != 0)
        return nullptr;
    CMemFileLock lock;
    auto it = m_index.find(lower);
    return it != m_index.end() ? it->second : nullptr;
}
