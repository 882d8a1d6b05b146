#include "contentserver/RequestSocket.h"

#include "contentserver/ServerHost.h"
#include "platform/base/AfxTime.h"

#include <algorithm>
#include <ctime>

namespace {

const char* const kBlankIcon =
    "<img src=/SvrAdmin/Blank.gif align=bottom alt=      border=0 width=16 height=16>";
const char* const kPrevIcon =
    "<img src=/SvrAdmin/Prev.gif align=bottom alt=      border=0 width=16 height=16>";
const char* const kFolderIcon =
    "<img src=/SvrAdmin/Folder.gif align=bottom alt=      border=0 width=16 height=16>";
const char* const kFileIcon =
    "<img src=/SvrAdmin/File.gif align=bottom alt=      border=0 width=16 height=16>";

} // namespace

void CRequestSocket::WriteDirectoryListing() {
    const BOOL bIcons = m_pHost->m_bListIcons;
    const CString& url = m_pRequest->m_strURL;
    CString title = CString("http://") + m_pHost->m_strHostName + url;
    CString urlCopy = url;
    BOOL bRoot = FALSE;
    if (!urlCopy.IsEmpty() && urlCopy.str().back() == '/')
        bRoot = urlCopy == "/";
    else
        urlCopy += "/";

    AppendResponseText(CString("<html><h1>") + title + "</h1><p>\n");
    if (bRoot)
        AppendResponseText(
            "The URL specified is a folder that does not contain a default document or application. "
            "The following is a listing of what documents and subfolders it does have; please select "
            "one:<p>\n");
    CString text;
    text.Format("<pre> Last Modified       Size %sName\n<hr>\n", bIcons ? kBlankIcon : "");
    AppendResponseText(text);

    CString pattern = m_pRequest->m_strFullPath;
    JoinPath(pattern, "*.*");
    int nListed = 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(pattern, &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            nListed += WriteListingEntry(data, urlCopy, bIcons);
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    if (nListed == 0)
        AppendResponseText("<strong>empty</strong>\n");
    AppendResponseText("</pre>\n");
    if (!bRoot) {
        text.Format("<hr><h3><a href=.>%s Parent Folder</a></h3>\n", bIcons ? kPrevIcon : "");
        AppendResponseText(text);
    }
    AppendResponseText(
        "<hr><em>Do your part to beautify the web! Turn <strong>off</strong> link underlining!</em>\n");
    AppendResponseText("\r\n");
}

int CRequestSocket::WriteListingEntry(const WIN32_FIND_DATAA& entry, CString url, BOOL icons) {
    CString name = entry.cFileName;
    if (name == "." || name == ".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0)
        return 0;
    const bool bFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const char* pszIcon = !icons ? "" : (bFolder ? kFolderIcon : kFileIcon);
    CString link = url + name;
    link.Replace(" ", "%20");

    CString size;
    if (bFolder)
        size = "  Folder";
    else if (entry.nFileSizeHigh != 0)
        size = "   &gt; 4GB";
    else if (entry.nFileSizeLow < 1024)
        size = "    &lt; 1K";
    else
        size.Format("%7dK", static_cast<int>(entry.nFileSizeLow / 1024));

    // A file time before 1970 is dated 1970.
    time_t t = std::max<time_t>(0, AfxFileTimeToUnix(entry.ftLastWriteTime));
    struct tm tmLocal = {};
    char szTime[32] = {};
    if (localtime_r(&t, &tmLocal) != nullptr)
        strftime(szTime, sizeof(szTime), "%m/%d/%y %H:%M", &tmLocal);

    CString line;
    line.Format(" %-15s %s <a href=%s>%s%-1s</a>\n", szTime, size, link, pszIcon, name);
    AppendResponseText(line);
    return 1;
}
