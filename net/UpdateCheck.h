// The update check: once per run a worker fetches update.xml from the store host, downloads the
// components that are newer than Version.ini records into the Update folder, installs them into
// the ExeFiles folder and records their new versions.
#pragma once

#include "platform/afx.h"

#define UPDATE_STATE_LISTED 0
#define UPDATE_STATE_NEWER 1
#define UPDATE_STATE_DOWNLOADED 2

// A failed download is tried again at once, this many times in all, before the pass gives up.
#define UPDATE_MAX_ATTEMPTS 11

// One entry of the manifest.
class CUpdateInfo {
public:
    virtual ~CUpdateInfo() = default;

    CString file_name; // also the component's key in Version.ini
    CString file_type; // "1" a package to unpack, "0" a plain file to copy
    int version = 0;
    CString url;
    CString mode; // kept; changes nothing
    int state = UPDATE_STATE_LISTED;
    CString local_path; // the downloaded file
};

typedef CArray<CUpdateInfo*, CUpdateInfo*> CUpdateInfoList;

// Starts UpdateThreadProc as a worker; always TRUE.
BOOL StartUpdateThread();
// One pass: each step runs only when the one before succeeded.
UINT UpdateThreadProc(LPVOID param);

// The manifest's text as it came, or "" when it could not be fetched.
CString GetUpdateXml();
// Appends an entry for each "file" of the top "files" element that names a known component.
// TRUE when at least one was read.
BOOL ParseUpdateXml(CString xml, CUpdateInfoList& list);
// Marks the entries newer than the installed version; TRUE when any was.
BOOL SelectUpdates(CUpdateInfoList& list);
// Downloads every marked entry into the Update folder; FALSE, at the first entry that could not
// be downloaded, leaving the later ones untried.
BOOL DownloadUpdates(CUpdateInfoList& list);
// Installs every downloaded entry that is whole for its kind, each under a temporary name moved
// into place, and records its version; a download that does not install is deleted from the
// Update folder. Always TRUE.
BOOL InstallUpdates(CUpdateInfoList& list);
void FreeUpdates(CUpdateInfoList& list);

// The four components an update may name: "kestrin.exe", "skin", "data" and "read.swf".
BOOL IsKnownComponent(const CString& strName);
// Whether an installed component is whole for its kind at its place: the folder (ending in a
// backslash) of the page package holds the pages the program opens, that of the skin package the
// skin files it loads, none of them empty; the movie file is a SWF by its signature whose length
// is what its header says; the program file is a program this system starts, with its execute
// bits. The update installs and records only what passes, and the start-up deploys its own
// component again in place of a recorded one that does not.
BOOL IsComponentWhole(const CString& strName, const CString& strPlace);
// Records nBuild for the component unless Version.ini already holds a higher one.
void RecordComponentVersion(const CString& strName, int nBuild);
