#include "contentserver/MyMemFile.h"

#include "contentserver/PackUnpacker.h"

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

CMemFileBytes::CMemFileBytes(DWORD dwSize)
    : m_data(new BYTE[static_cast<size_t>(dwSize) + 1]), m_dwSize(dwSize) {
    m_data[dwSize] = 0;
}

CRctIndex g_RctIndex;
CMyMemFile g_MyMemFile;

CStringW MemFileWiden(const char* psz) {
    std::u16string w;
    if (psz != nullptr) {
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(psz); *p != 0; ++p)
            w.push_back(static_cast<char16_t>(*p));
    }
    return CStringW(w);
}

CStringW MemFileLower(const CStringW& s) {
    std::u16string w = s.str();
    for (char16_t& c : w) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return CStringW(w);
}

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
    m_arrEntries.Add(pEntry);
}

void CMyMemFile::RemoveAllLocked() {
    for (INT_PTR i = 0; i < m_arrEntries.GetSize(); ++i)
        delete static_cast<CMemFileEntry*>(m_arrEntries[i]);
    m_arrEntries.RemoveAll();
    m_pPackageBytes.reset();
    m_pPackage = nullptr;
}

void CMyMemFile::RemoveAll() {
    // The server thread takes an entry's bytes under the same lock; what it took stays valid
    // until its answer has been sent, whatever the store does meanwhile.
    CMemFileLock lock;
    RemoveAllLocked();
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
    auto pBytes = std::make_shared<CMemFileBytes>(nSize);
    BYTE* pBuffer = pBytes->GetData();
    memcpy(pBuffer, pRes, nSize);
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
        m_arrEntries.Add(pEntry);
    }
    g_RctIndex.SortNames();
    return TRUE;
}

CMemFileEntry* CMyMemFile::FindFile(LPCWSTR path) {
    static const CStringW kRoot = MemFileWiden(MEMFILE_ROOT);
    CStringW lower = MemFileLower(CStringW(path));
    if (lower.str().compare(0, kRoot.str().size(), kRoot.str()) != 0)
        return nullptr;
    CMemFileLock lock;
    for (INT_PTR i = 0; i < m_arrEntries.GetSize(); ++i) {
        CMemFileEntry* pEntry = static_cast<CMemFileEntry*>(m_arrEntries[i]);
        if (MemFileLower(pEntry->strName) == lower)
            return pEntry;
    }
    return nullptr;
}
