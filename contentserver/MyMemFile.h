// The memory-file store: one item package at a time, its entries named under MEMFILE_ROOT and
// served to the readers without being written to disk.
#pragma once

#include "platform/afx.h"

#define MEMFILE_ROOT "p:\\umexmemfile_qoncreate_12_06_26\\"

// One memory file. The name is a dynamic string, so a long prefix with a long entry name cannot
// overflow anything; the data points into the store's package buffer and is not owned here.
struct CMemFileEntry {
    CStringW strName;
    BYTE* pData = nullptr;
    DWORD dwSize = 0;
    DWORD dwAttributes = 0;
};

// The ".rct" entries of the loaded packages, by their lower-cased names.
class CRctIndex {
public:
    void Add(CString name, BYTE* data, DWORD size);
    void SortNames();

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
    void AddFile(LPCWSTR name, BYTE* data, DWORD size, DWORD attributes);
    void RemoveAll();
    CMemFileEntry* FindFile(LPCWSTR path);

    // The local server: started once, it runs on its own thread until the process ends.
    BOOL StartServer();
    BOOL StartServerThread();
    BOOL IsServerRunning();
    static UINT ServerThreadProc(LPVOID pStore);

    CPtrArray m_arrEntries; // CMemFileEntry*, in the order added
    DWORD m_dwServerThreadId = 0;
    int m_nServerState = 0;     // 0 not yet known, 1 listening failed, 2 listening
    BYTE* m_pPackage = nullptr; // every entry's data points into it

private:
    void RemoveAllLocked();
};

// Widens ANSI text byte by byte: each byte becomes the wide character of the same value, so names
// and lookup paths match byte for byte whatever the code page.
CStringW MemFileWiden(const char* psz);

// Lower-cases the letters A to Z only.
CStringW MemFileLower(const CStringW& s);

extern CMyMemFile g_MyMemFile;
// Guards the store's entries and buffer: lookups, loads, clears, and the copy of a found entry.
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
