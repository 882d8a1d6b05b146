#include "app/WidiLink.h"

#include "platform/kernel/CodePage.h"

#include <string>

const CLSID CLSID_WidiApp = {0x7DC2B7AA, 0xBCFD, 0x44D2, {0xBD, 0x58, 0xE8, 0xBD, 0x0D, 0x2E, 0x3A, 0xCC}};
const IID IID_IWidiApp = {0xD8D15998, 0xD42E, 0x4FC7, {0xA7, 0xB9, 0x65, 0x29, 0xCE, 0x34, 0x30, 0x1A}};

namespace {

// A BSTR of an ANSI name, freed when the call is done.
class CAnsiBstr {
public:
    explicit CAnsiBstr(const CString& strAnsi) {
        int n = MultiByteToWideChar(CP_ACP, 0, strAnsi, strAnsi.GetLength(), nullptr, 0);
        std::u16string wide(static_cast<size_t>(n > 0 ? n : 0), u'\0');
        if (n > 0)
            MultiByteToWideChar(CP_ACP, 0, strAnsi, strAnsi.GetLength(), wide.data(), n);
        m_bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~CAnsiBstr() { SysFreeString(m_bstr); }
    CAnsiBstr(const CAnsiBstr&) = delete;
    CAnsiBstr& operator=(const CAnsiBstr&) = delete;
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

CString ToAnsi(LPCWSTR pszWide) {
    int n = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return CString();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, pszWide, -1, out.data(), n, nullptr, nullptr);
    return CString(out.c_str());
}

} // namespace

CWidiLink::~CWidiLink() {
    if (m_spWidi != nullptr)
        m_spWidi->Release();
}

BOOL CWidiLink::Create(HWND hWnd) {
    m_hWnd = hWnd;
    void* pv = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WidiApp, nullptr, CLSCTX_ALL, IID_IWidiApp, &pv)) || pv == nullptr)
        return FALSE;
    m_spWidi = static_cast<IWidiApp*>(pv);
    WidiInitialize();
    return TRUE;
}

void CWidiLink::WidiInitialize() {
    if (m_spWidi != nullptr)
        m_spWidi->Initialize(m_hWnd);
}

void CWidiLink::WidiStartScan() {
    if (m_spWidi != nullptr)
        m_spWidi->StartScan();
}

void CWidiLink::WidiConnect(CString strName) {
    if (m_spWidi != nullptr) {
        CAnsiBstr bstrName(strName);
        m_spWidi->Connect(bstrName, 0, 0, 3);
    }
    m_strWidiConnected = strName;
}

void CWidiLink::WidiDisconnect() {
    if (m_spWidi != nullptr) {
        CAnsiBstr bstrName(m_strWidiConnected);
        m_spWidi->Disconnect(bstrName);
    }
}

LRESULT CWidiLink::OnWidiReady(WPARAM, LPARAM) {
    m_bWidiReady = true;
    WidiStartScan();
    return 0;
}

LRESULT CWidiLink::OnWidiAdapterFound(WPARAM, LPARAM lParam) {
    if (lParam != 0)
        m_arrWidiAdapters.Add(ToAnsi(reinterpret_cast<LPCWSTR>(lParam)));
    return 0;
}

LRESULT CWidiLink::OnWidiConnect(WPARAM, LPARAM lParam) {
    if (!m_bWidiReady || lParam == 0)
        return 0;
    CString strName = *reinterpret_cast<const CString*>(lParam);
    if (strName.IsEmpty())
        WidiDisconnect();
    else
        WidiConnect(strName);
    return 0;
}

LRESULT CWidiLink::OnWidiIgnored(WPARAM, LPARAM) {
    return 0;
}
