// One parsed request of the local HTTP/1.0 server and the parts of a multipart/form-data body.
#pragma once

#include "platform/afx.h"
#include "platform/user/AfxObject.h"

// One part of a multipart/form-data body.
struct CMultipartField {
    CMultipartField() = default;
    CMultipartField(const CMultipartField&) = delete;
    CMultipartField& operator=(const CMultipartField&) = delete;
    ~CMultipartField() { delete[] m_pData; }

    CMapStringToString m_mapParams; // Content-Disposition parameters, unquoted
    char* m_pData = nullptr;        // the contents and one NUL; NULL when empty
    int m_nLength = 0;
};

// Execute kinds of a request's target.
#define REQ_EXEC_FILE 0
#define REQ_EXEC_APP 1
#define REQ_EXEC_SRV 2
#define REQ_EXEC_DLL 4

class CRequest : public CObject {
    DECLARE_DYNCREATE(CRequest)

public:
    CRequest();
    CRequest(const CRequest&) = delete;
    CRequest& operator=(const CRequest&) = delete;

    CString GetHeader(const CString& name);
    int AddRef() { return ++m_nRef; }
    int Release();

    CString m_strPathTranslated;
    CString m_strPathInfo;
    CString m_strHost; // the peer's address, dotted
    UINT m_nPort = 0;
    CString m_strMethod;
    CString m_strURL;
    CString m_strVersion;
    CMapStringToString m_mapHeaders; // lower-cased name to value
    CByteArray m_baBody;
    CPtrList m_listFields; // CMultipartField*, owned
    int m_nContentLength = 0;
    CString m_strFullPath;
    DWORD m_dwAttr = 0;
    int m_nExecute = REQ_EXEC_FILE;
    CString m_strArgs; // the query, without "?"
    BOOL m_bDone = FALSE;
    LONGLONG m_nBytesSent = 0;
    CTime m_timeReq;
    int m_nRef = 1;

private:
    ~CRequest() override;
};
