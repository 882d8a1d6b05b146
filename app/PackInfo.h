// CPackInfo: the edition record. Every build of the program and every item package carries short
// descriptive strings as "MYDATA" resources; this reads them from the running program or from a
// package file. The running program's strings say which item, if any, is built into this build.
//
// The same object keeps the built-in item's read entry in ReadLog.ini, puts the built-in item on
// the shelf, hands the start over to a newer installed copy, has the running program copied into
// the installed-copies folder, and unpacks the built-in skin, pages and reader movie.
//
// Used on the user-interface thread only; the self-copy runs on a thread of its own that shares
// nothing with it but Version.ini, where it only ever raises the "kestrin.exe" build, or puts its
// own in place of a recorded newer copy that this system cannot start.
//
// A component recorded in a newer build than this one is left as it is only while it is whole for
// its kind (net/UpdateCheck.h, IsComponentWhole); one missing or damaged is deployed again from
// this build's resources and this build is recorded for it.
#pragma once

#include "platform/afx.h"

// The build number of this program: the Version.ini value of its installed copy and of its
// built-in components, and the number in their folder names.
#define PROGRAM_BUILD_NUMBER 2005

class CPackInfo {
public:
    CPackInfo();
    ~CPackInfo();
    CPackInfo(const CPackInfo&) = delete;
    CPackInfo& operator=(const CPackInfo&) = delete;

    // Always TRUE. An empty path (or a package that is missing or cannot be read) gives the
    // running program's own strings.
    BOOL Load(CString strPath);
    // "" when the resource is missing, empty or above 1024 bytes.
    CString LoadResString(UINT nId);

    BOOL HasBundle();
    BOOL IsRead();
    CString GetReadLog(CString strKey);
    void SetReadLog(CString strKey, CString strValue);
    // TRUE exactly once per installation: when a build with a built-in item first asks. The item
    // is then recorded as read.
    BOOL CheckBundleFirstRun();

    void RegisterBundledItem();
    CString CopyCover();

    // FALSE when a newer installed copy has been started and this process must end. With this
    // build installed already, an installed copy that lacks what goes with it is completed.
    BOOL CheckInstalledVersion();
    void DeployComponents();
    BOOL ExtractResource(UINT nId, LPCSTR pszTarget, BOOL bUnpack);

    CString m_strId;
    CString m_strName;
    CString m_strIssue;
    CString m_strPriceFlag;
    CString m_strCategory;
    CString m_strHtmlFlag;
    CString m_strSource;
    CString m_strType;
    CString m_strSortId;
    CString m_strPrice;
    CString m_strBundle;
    HMODULE m_hModule;

private:
    CString ReadLogSection();
    CString ReadLogPath();
};

// The self-copy: puts the running program into ExeFiles\<build>\kestrin.exe unless a copy that
// can be started is there already, with the folders that go with it (its movie player and browser extension)
// beside it, and records the build once the copy is whole. A copy of this build that lacks those folders gets
// them. The parameter is not used.
UINT CopySelfThreadProc(LPVOID pParam);
