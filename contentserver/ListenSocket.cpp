#include "contentserver/ListenSocket.h"

#include "contentserver/MyMemFile.h"
#include "contentserver/ServedFiles.h"
#include "contentserver/ServerHost.h"

#include <sys/stat.h>

#include <map>
#include <string>
#include <string_view>

IMPLEMENT_DYNCREATE(CListenSocket, CAsyncSocket)
IMPLEMENT_DYNCREATE(CMyRequestSocket, CRequestSocket)

void CListenSocket::OnAccept(int /*nErrorCode*/) {
    if (m_pHost != nullptr && m_pHost->GetConnectionCount() >= m_pHost->m_nMaxConnections) {
        // Taken from the backlog and closed, so a client that holds too many connections gets
        // its refusal now instead of a wait; the host's descriptors stay for the others.
        CAsyncSocket refused;
        if (Accept(refused))
            refused.Close();
        return;
    }
    // After a failed accept (no descriptor free) the connection goes at once, and the socket layer
    // waits for a descriptor before it reports the listener again.
    CMyRequestSocket* pSocket = new CMyRequestSocket(m_pHost);
    sockaddr_in peer{};
    int nPeerLength = sizeof peer;
    if (Accept(*pSocket, reinterpret_cast<SOCKADDR*>(&peer), &nPeerLength)) {
        if (nPeerLength == static_cast<int>(sizeof peer))
            pSocket->SetPeerAddress(peer);
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
    CString served;
    if (FindServedPath(m_pRequest->m_strURL, served)) {
        ServeDiskFile(served);
        return TRUE;
    }
    return ServeMemFile(url);
}

void CMyRequestSocket::ServeDiskFile(const CString& path) {
    const DWORD dwAttr = path.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
    CloseFile();
    if (dwAttr == INVALID_FILE_ATTRIBUTES || (dwAttr & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (m_pFile = win_fopen(path, "rb")) == nullptr) {
        WriteErrorStatus("404 Not Found");
        return;
    }
    struct stat st;
    CString length;
    length.Format("%lld", fstat(fileno(m_pFile), &st) == 0 ? static_cast<long long>(st.st_size) : 0LL);
    WriteStatusLine("200 OK");
    const int nDot = path.ReverseFind('.');
    if (nDot > path.ReverseFind('\\'))
        AppendContentTypeForExtension(path.Mid(nDot));
    AppendHeader("Content-length", length);
    AppendResponseText("\r\n");
    // The rest goes piece by piece as the socket takes it, as any file from disk does.
    SendFileBody();
}

namespace {

CString RegisteredContentType(const CString& extension) {
    CString type;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        char szValue[256] = {};
        DWORD cb = sizeof(szValue) - 1;
        DWORD dwType = 0;
        if (RegQueryValueExA(hKey, "Content Type", nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cb) ==
            ERROR_SUCCESS)
            type = szValue;
        RegCloseKey(hKey);
    }
    return type;
}

// The path's extension, from its last "." on, when that comes after its last "\\"; empty when
// there is none. One pass, stepping over double-byte characters as CString's searches do.
std::string_view ExtensionOf(const std::string& path) {
    size_t nDot = std::string::npos;
    size_t nSlash = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (AfxIsLeadByte(c) && i + 1 < path.size() && path[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (c == '.')
            nDot = i;
        else if (c == '\\')
            nSlash = i;
    }
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash))
        return std::string_view();
    return std::string_view(path).substr(nDot);
}

// Each file goes with the type of its own extension: a browser engine refuses style sheets and
// scripts sent as text/html. Extensions without a type get the page type. The registry is read
// once per extension and server thread; nothing changes these types while the program runs.
const CString& MemFileContentType(const CString& path) {
    thread_local std::map<std::string, CString, std::less<>> cache;
    const std::string_view ext = ExtensionOf(path.str());
    auto it = cache.find(ext);
    if (it != cache.end())
        return it->second;
    CString type = ext.empty() ? CString() : RegisteredContentType(CString(std::string(ext)));
    if (type.IsEmpty())
        type = RegisteredContentType(".htm");
    return cache.emplace(std::string(ext), type).first->second;
}

} // namespace

BOOL CMyRequestSocket::ServeMemFile(CString url) {
    CString path = url;
    MapUrlToPath(path); // the path under the root is used whatever the check said
    CStringW wide = MemFileWiden(path);
    // The lock is held from the lookup until the entry's bytes are taken, so the user-interface
    // thread cannot free them in between; once taken, they stay valid until they were sent.
    EnterCriticalSection(&g_csMemFile);
    CMemFileEntry* pEntry = g_MyMemFile.FindFile(wide);
    if (!pEntry) {
        LeaveCriticalSection(&g_csMemFile);
        return FALSE;
    }
    std::shared_ptr<const CMemFileBytes> pBytes = pEntry->pBytes;
    const BYTE* pData = pEntry->pData;
    const DWORD dwSize = pEntry->dwSize;
    LeaveCriticalSection(&g_csMemFile);
    // Looked up only for files that exist, so the cache holds no more than the items' extensions.
    const CString& type = MemFileContentType(path);
    WriteStatusLine("200 OK");
    if (!type.IsEmpty())
        AppendHeader("Content-type", type);
    AppendHeaderNumber("Content-length", static_cast<int>(dwSize));
    AppendResponseText("\r\n");
    const int nFd = pBytes ? pBytes->GetFd() : -1;
    const long long nOffset = pBytes ? pData - pBytes->GetData() : 0;
    AttachResponseBody(std::move(pBytes), pData, dwSize, nFd, nOffset);
    return TRUE;
}
