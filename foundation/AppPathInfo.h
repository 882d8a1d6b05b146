// Where everything lies on disk: the data root and its folders, the state-file paths, config.xml,
// the download folder, the autostart value, the desktop shortcut and the versioned component folders.
#pragma once

#include "platform/afx.h"

#include <functional>
#include <mutex>

// The product title, in the ANSI code page: the autostart value's name and the shortcut's.
extern const char* const APP_PRODUCT_TITLE;

class CAppPathInfo {
public:
    CAppPathInfo() = default;
    CAppPathInfo(const CAppPathInfo&) = delete;
    CAppPathInfo& operator=(const CAppPathInfo&) = delete;

    BOOL Init();
    void BuildDataRoot(CString& strRoot);
    void SetAutoRun(BOOL bEnable, BOOL bHide);

    CString GetPageDir();     // ExeFiles\data_<build>\ (trailing backslash)
    CString GetSkinDir();     // ExeFiles\skin_<build>\ (trailing backslash)
    CString GetReadSwfPath(); // ExeFiles\<build>\Read.Swf

    CString GetConfig(CString strKey);
    BOOL SetConfig(CString strKey, CString strValue);

    // Chooses, tests and (when it changed) stores the download folder; "" when none can be written.
    CString GetDownloadDir();
    // A backslash is added when the folder lacks one.
    BOOL TestWrite(CString strFolder);
    CString GetBestDrive();

    HRESULT CreateShortcut(const char* pszTarget, const char* pszDescription, const char* pszWorkDir,
                           const char* pszLinkPath);
    // The link path, or "" when there is no desktop folder or no link after the attempt.
    CString CreateDesktopShortcut(CString strWorkDir);

    // The download folder is replaced by the settings page on the user-interface thread while
    // download workers read it: always go through these two, which lock and hand out a copy.
    CString GetDownloadFolder() const;
    void SetDownloadFolder(CString strFolder); // adds the trailing backslash when missing

    CString m_strExeDir;
    CString m_strDataRoot;
    CString m_strImagesDir;
    CString m_strDataDir;
    CString m_strUserXml;
    CString m_strConfigXml;
    CString m_strBookClassXml;
    CString m_strMagClassXml;

private:
    CString m_strDownloadDir; // guarded by m_lockDownloadDir
    mutable std::mutex m_lockDownloadDir;

public:
    CString m_strBookNewReadXml;
    CString m_strMagNewReadXml;
    CString m_strBookShelfXml;
    CString m_strMagShelfXml;
    CString m_strUpdateDir;
    CString m_strExeFilesDir;
};

extern CAppPathInfo g_AppPathInfo;

// The fixed drive (C to Z) with the most free space, "C:\\" when none has any; ties go to the earlier
// letter. GetBestDrive passes the system's drive-type and total-free-bytes queries.
CString PickBestDrive(const std::function<UINT(const char*)>& fnDriveType,
                      const std::function<ULONGLONG(const char*)>& fnFreeBytes);

// A settings record that nothing reads or writes; the settings live in config.xml.
class CAppConfigInfo {
public:
    virtual ~CAppConfigInfo() = default;
    CString m_strAutoStart;
    CString m_strTaskbar;
    CString m_strDownSave;
    CString m_strReserved;
};

extern CAppConfigInfo g_AppConfigInfo;
