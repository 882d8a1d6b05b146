// The memory-file store: one item package at a time, its entries named under MEMFILE_ROOT and
// served to the readers without being written to disk.
#pragma once

#include "platform/afx.h"

#include <memory>
#include <string>
#include <unordered_map>

#define MEMFILE_ROOT "p:\\umexmemfile_qoncreate_12_06_26\\"

// The bytes of one loaded package. They never change once loaded, and they are shared: the
// store holds one reference, and every answer that sends from them holds another, taken under
// g_csMemFile together with the lookup. A clear or a reload of the store drops only the store's
// reference, so the bytes go when the last answer that sends from them has ended, and a hundred
// readers of one large file cost its size once.
//
// The bytes live in a sealed memory file where the system gives one: nothing can change them
// after the seal, so an answer can hand ranges of that file to the socket without a copy through
// this process. Otherwise (no descriptor free, an old system) they live on the heap. Either way
// they are followed by one zero byte.
class CMemFileBytes {
public:
    CMemFileBytes(const BYTE* pSource, DWORD dwSize);
    ~CMemFileBytes();
    CMemFileBytes(const CMemFileBytes&) = delete;
    CMemFileBytes& operator=(const CMemFileBytes&) = delete;

    BYTE* GetData() const { return m_pData; }
    DWORD GetSize() const { return m_dwSize; }
    // The sealed memory file that holds the bytes from offset 0, or -1 when they are on the heap.
    int GetFd() const { return m_fd; }

private:
    BYTE* m_pData = nullptr;
    DWORD m_dwSize;
    int m_fd = -1;
    std::unique_ptr<BYTE[]> m_heap;
};

// One memory file. The name is a dynamic string, so a long prefix with a long entry name cannot
// overflow anything; the data points into the package's bytes, which pBytes keeps, or, for a
// file added by AddFile, into memory its caller keeps for as long as the file is served.
struct CMemFileEntry {
    CStringW strName;
    BYTE* pData = nullptr;
    DWORD dwSize = 0;
    DWORD dwAttributes = 0;
    std::shared_ptr<const CMemFileBytes> pBytes;
};

// The ".rct" entries of the loaded package, by their lower-cased names. Their data points into
// the package's bytes, so the store empties the index whenever it lets go of those bytes (a clear,
// or the load of the next package); under g_csMemFile, as the store's own entries.
class CRctIndex {
public:
    void Add(CString name, BYTE* data, DWORD size);
    void SortNames();
    void RemoveAll();

    CMapStringToPtr m_mapSize;
    CMapStringToPtr m_mapData;
    CStringArray m_arrNames;
};

extern CRctIndex g_RctIndex;

class CMyMemFile {
public:
    CMyMemFile() = default;
    CMyMemFile(const CMyMemFile&) = delete;
    CMyMemFile& operator=(const CMyMemFile&) = delete;
    virtual ~CMyMemFile();

    BOOL LoadPackage(CString packagePath, CStringW namePrefix);
    // Whether a module (an item package loaded as one) carries pages the store can load: the
    // package resource, with a directory that reads. Nothing is loaded.
    static BOOL HasItemPages(HMODULE hModule);
    void AddFile(LPCWSTR name, BYTE* data, DWORD size, DWORD attributes);
    void RemoveAll();
    CMemFileEntry* FindFile(LPCWSTR path);

    // The local server: started once, it runs on its own thread until the process ends.
    BOOL StartServer();
    BOOL StartServerThread();
    BOOL IsServerRunning();
    static UINT ServerThreadProc(LPVOID pStore);

    CPtrArray m_arrEntries; // CMemFileEntry*, in the order added; AddFile and LoadPackage add them
    DWORD m_dwServerThreadId = 0;
    int m_nServerState = 0;                               // 0 not yet known, 1 listening failed, 2 listening
    BYTE* m_pPackage = nullptr;                           // every loaded entry's data points into it
    std::shared_ptr<const CMemFileBytes> m_pPackageBytes; // what m_pPackage points into

private:
    void RemoveAllLocked();
    // g_csMemFile held. Appends the entry and indexes it under its lower-cased name.
    void AddEntryLocked(CMemFileEntry* pEntry);

    // The entries by lower-cased name, each name with the first entry added under it: a lookup
    // finds what a scan in the order added would, without comparing every name.
    std::unordered_map<std::u16string, CMemFileEntry*> m_index;
};

// Widens ANSI text byte by byte: each byte becomes the wide character of the same value, so names
// and lookup paths match byte for byte whatever the code page.
CStringW MemFileWiden(const char* psz);

extern CMyMemFile g_MyMemFile;
// Guards the store's entries and buffer: lookups, loads, clears, and taking a found entry's bytes.
extern CRITICAL_SECTION g_csMemFile;
// Guards the server state between the server thread and the thread that starts it.
extern CRITICAL_SECTION g_csServerState;
// How long StartServerThread waits for the server thread to say whether it listens, in
// milliseconds: a minute. Tests shorten it.
extern DWORD g_dwServerStartWaitMs;

// Fetches a URL with the program's HTTP client for the server's self-test: TRUE when the answer
// was a complete 200 reply, whose body is then in body. The client lives in the network library,
// which builds on this one, so that library installs the fetch; without it the self-test fails.
typedef BOOL (*SERVER_SELFTEST_FETCH)(const CString& url, CString& body);
extern SERVER_SELFTEST_FETCH g_pfnServerSelfTestFetch;
