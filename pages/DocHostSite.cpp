#include "pages/DocHostSite.h"

#include <cstring>

const IID IID_IInternetSecurityManager = {
    0x79eac9ee, 0xbaf9, 0x11ce, {0x8c, 0x82, 0x00, 0xaa, 0x00, 0x4b, 0xa9, 0x0b}};

HRESULT CDocHostSite::ProcessUrlAction(DWORD dwAction, BYTE* pPolicy, DWORD cbPolicy) {
    bool controls = dwAction >= 0x1200 && dwAction <= 0x13FF;
    bool java = (dwAction >= 0x1C00 && dwAction <= 0x1CFF) || dwAction == URLACTION_HTML_JAVA_RUN;
    bool scripting = dwAction >= 0x1400 && dwAction <= 0x15FF;
    if (!controls && (java || !scripting))
        return INET_E_DEFAULT_ACTION;
    if (cbPolicy < sizeof(DWORD))
        return S_FALSE;
    DWORD policy = URLPOLICY_ALLOW;
    std::memcpy(pPolicy, &policy, sizeof policy);
    return S_OK;
}

HRESULT CDocHostSite::QueryService(REFGUID guidService, REFIID riid, void** ppv) {
    if (guidService == IID_IInternetSecurityManager && riid == IID_IInternetSecurityManager) {
        *ppv = this;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
