// CMagShelf: the in-memory library. Four lists of CMagInfo records, each kept in one booklist
// file of the Data folder: the magazine and book shelves and the recent reads of each.
//
// Locking. The user-interface thread lists and changes the shelf while the download workers add
// records, change their download fields and save lists. One store lock guards every list, every
// record field and every save; it is recursive, so an operation may call another.
// - Lock order: the download manager's g_csDownLoadState and g_csDownLoadHttp come BEFORE the
//   store lock. The manager may look records up, or change them, while it holds either of its
//   locks; the store never takes a lock of the manager, so no cycle can form.
// - The store lock is never held while an application event is sent: SendMessage waits for the
//   user-interface thread, which may itself be waiting for this lock. Nothing in the store sends
//   a message; code that changes records under CMagShelfLock releases it before it sends.
// - GetList hands out a snapshot of the record pointers, so a listing walks a stable array while
//   workers add and remove. Records are never destroyed, so the pointers stay valid; read their
//   fields under CMagShelfLock.
#pragma once

#include "library/MagInfo.h"

#include <mutex>

class CMagShelf {
public:
    CMagShelf() = default;
    CMagShelf(const CMagShelf&) = delete;
    CMagShelf& operator=(const CMagShelf&) = delete;
    ~CMagShelf() = default; // releases the four arrays, never the records

    void LoadAll();
    // "mag", "book", "mag_read", "book_read" or "all".
    void Save(CString strKind);
    BOOL AddRecentRead(CMagInfo* pItem);
    BOOL Remove(CString strKind, CString strPid);
    BOOL Add(CMagInfo* pItem, CString strKind, BOOL bAtFront);
    BOOL Exists(CString strKind, CString strPid);
    // A copy of the list's record pointers; FALSE (and an empty copy) for any other kind name.
    BOOL GetList(CString strKind, CMagInfoList& arrItems);
    CMagInfo* Find(CString strKind, CString strPid);
    CMagInfo* FindByPid(CString strPid, const CMagInfoList& arrList);
    CMagInfo* FindFirstWaiting();
    // Each distinct sort_id of the shelf, in list order, each followed by ",".
    CString GetSortIdList(CString strKind);
    CMagInfo* AddFromXml(CString strXml, CString strKind);

    // The booklist format.
    CString WriteBooklistXml(const CMagInfoList& arrList);
    CMagInfo* ParseBooklist(CString strXml, CMagInfoList& arrList, BOOL bAtFront);
    void ReadBooklistRecord(CString strContent, CMagInfo* pItem);

    // Whether a sort-id list names the category, comparing whole entries ("13," holds 13, not 3).
    static BOOL SortIdListHas(const CString& strSortIdList, const CString& strSortId);

    // The store lock, for code that reads or changes record fields (see above).
    void Lock() { m_lock.lock(); }
    void Unlock() { m_lock.unlock(); }

private:
    CMagInfoList* ListOf(const CString& strKind);
    void SaveList(const CMagInfoList& arrList, const CString& strPath);
    static void TrimRecent(CMagInfoList& arrList);
    static void RemovePid(CMagInfoList& arrList, const CString& strPid);

    CMagInfoList m_arrMag;
    CMagInfoList m_arrBook;
    CMagInfoList m_arrMagRead;
    CMagInfoList m_arrBookRead;
    std::recursive_mutex m_lock;
};

extern CMagShelf g_MagShelf;

// Holds the store lock for a scope.
class CMagShelfLock {
public:
    explicit CMagShelfLock(CMagShelf& shelf = g_MagShelf) : m_shelf(shelf) { m_shelf.Lock(); }
    ~CMagShelfLock() { m_shelf.Unlock(); }
    CMagShelfLock(const CMagShelfLock&) = delete;
    CMagShelfLock& operator=(const CMagShelfLock&) = delete;

private:
    CMagShelf& m_shelf;
};
