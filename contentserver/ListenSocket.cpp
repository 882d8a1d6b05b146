#include "contentserver/ListenSocket.h"

#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"

IMPLEMENT_DYNCREATE(CListenSocket, CAsyncSocket)
IMPLEMENT_DYNCREATE(CMyRequestSocket, CRequestSocket)

void CListenSocket::OnAccept(int /*nErrorCode*/) {
    CMyRequestSocket* pSocket = new CMyRequestSocket(m_pHost);
    if (Accept(*pSocket)) {
        // From here the connection parses and answers its request by itself, and releases itself.
        pSocket->AsyncSelect(FD_READ | FD_CLOSE);
    } else {
        delete pSocket;
    }
}

BOOL CMyRequestSocket::HandleRequest() {
    CString url = m_pRequest->m_strURL;
    url.MakeLower();
    if (url == "/test_http/") {
        WriteStatusLine("200 OK");
        AppendResponseText("\r\n");
        AppendResponseUtf8("<HTTP_OK>");
        return TRUE;
    }
    return ServeMemFile(url);
}

BOOL CMyRequestSocket::ServeMemFile(CString url) {
    CString path = url;
    MapUrlToPath(path); // the path under the root is used whatever the check said
    CStringW wide = MemFileWiden(path);
    // The lock is held from the lookup to the end of the copy, so the user-interface thread cannot
    // free the entry's bytes while they are being copied.
    EnterCriticalSection(&g_csMemFile);
    CMemFileEntry* pEntry = g_MyMemFile.FindFile(wide);
    if (!pEntry) {
        LeaveCriticalSection(&g_csMemFile);
        return FALSE;
    }
    WriteStatusLine("200 OK");
    // Each file with the type of its own extension: a browser engine refuses style sheets and
    // scripts sent as text/html. Unknown extensions keep the page type.
    int dot = path.ReverseFind('.');
    int slash = path.ReverseFind('\\');
    CString ext = dot > slash ? path.Mid(dot) : CString();
    CString type;
    if (!ext.IsEmpty()) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ext, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            char szValue[256] = {};
            DWORD cb = sizeof(szValue) - 1;
            DWORD dwType = 0;
            if (RegQueryValueExA(hKey, "Content Type", nullptr, &dwType, reinterpret_cast<BYTE*>(szValue),
                                 &cb) == ERROR_SUCCESS)
                type = szValue;
            RegCloseKey(hKey);
        }
    }
    if (type.IsEmpty())
        AppendContentTypeForExtension(".htm");
    else
        AppendHeader("Content-type", type);
    AppendHeaderNumber("Content-length", static_cast<int>(pEntry->dwSize));
    AppendResponseText("\r\n");
    AppendResponseBytes(pEntry->pData, static_cast<int>(pEntry->dwSize));
    LeaveCriticalSection(&g_csMemFile);
    return TRUE;
}
