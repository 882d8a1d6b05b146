#include "contentserver/Request.h"

#include "platform/base/AfxAscii.h"

IMPLEMENT_DYNCREATE(CRequest, CObject)

CRequest::CRequest() : m_timeReq(CTime::GetCurrentTime()) {}

CRequest::~CRequest() {
    POSITION pos = m_listFields.GetHeadPosition();
    while (pos != nullptr)
        delete static_cast<CMultipartField*>(m_listFields.GetNext(pos));
    m_listFields.RemoveAll();
}

int CRequest::Release() {
    int n = --m_nRef;
    if (n == 0)
        delete this;
    return n;
}

CString CRequest::GetHeader(const CString& name) {
    CString value;
    if (!m_mapHeaders.Lookup(AfxAsciiLower(name.str()).c_str(), value))
        return CString();
    return value;
}
