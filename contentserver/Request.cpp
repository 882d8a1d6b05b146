#include "contentserver/Request.h"

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

CString CRequest::GetHeader(CString name) {
    for (char& c : name.str()) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    CString value;
    if (!m_mapHeaders.Lookup(name, value))
        return CString();
    return value;
}
