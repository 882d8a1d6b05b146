#include "platform/user/AfxDialog.h"

#include "platform/kernel/Module.h"
#include "platform/user/WindowCore.h"

#include <string>

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

namespace {

// The owner a dialog without a parent gets: the active window's top-level window.
HWND SafeOwner(CWnd* pParent) {
    HWND h = pParent ? pParent->GetSafeHwnd() : ::GetActiveWindow();
    return h ? ::GetAncestor(h, GA_ROOT) : nullptr;
}

} // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd) {}

CDialog::CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd)
    : m_lpszTemplateName(lpszTemplateName), m_pParentWnd(pParentWnd) {}

HWND CDialog::CreateFromResource(HWND hOwner) {
    HMODULE mod = AfxGetResourceHandle();
    HRSRC r = ::FindResourceA(mod, m_lpszTemplateName, RT_DIALOG);
    if (!r)
        return nullptr;
    const void* data = ::LockResource(::LoadResource(mod, r));
    size_t size = ::SizeofResource(mod, r);
    afxuser::PendingCreateWnd() = this;
    HWND h = afxuser::CreateDialogFromTemplate(data, size, hOwner, nullptr, 0);
    afxuser::PendingCreateWnd() = nullptr;
    return h;
}

INT_PTR CDialog::DoModal() {
    HWND owner = SafeOwner(m_pParentWnd);
    // The owner takes no input from the moment the dialog exists, its WM_INITDIALOG included.
    bool enableOwner = owner && ::IsWindowEnabled(owner);
    if (enableOwner)
        ::EnableWindow(owner, FALSE);
    HWND h = CreateFromResource(owner);
    if (!h) {
        if (enableOwner)
            ::EnableWindow(owner, TRUE);
        return -1;
    }
    if (::IsWindow(h) && !::IsWindowVisible(h))
        ::ShowWindow(h, SW_SHOWNORMAL);
    INT_PTR result = -1;
    bool ended = false;
    MSG msg;
    while (::IsWindow(h)) {
        if (afxuser::DialogEnded(h, &result)) {
            ended = true;
            break;
        }
        if (!::GetMessageA(&msg, nullptr, 0, 0)) {
            ::PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop outside this one
            break;
        }
        if (!CWnd::WalkPreTranslateTree(h, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    if (!ended)
        result = -1; // the window went without EndDialog
    if (owner) {
        if (enableOwner)
            ::EnableWindow(owner, TRUE);
        if (::IsWindowVisible(owner))
            ::SetActiveWindow(owner);
    }
    if (::IsWindow(h))
        ::DestroyWindow(h);
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_lpszTemplateName = MAKEINTRESOURCEA(nIDTemplate);
    m_pParentWnd = pParentWnd;
    return CreateFromResource(pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr) != nullptr;
}

BOOL CDialog::CreateIndirect(const void* lpDialogTemplate, CWnd* pParentWnd) {
    m_pParentWnd = pParentWnd;
    afxuser::PendingCreateWnd() = this;
    // No size comes with it: the caller vouches for the template.
    HWND h = afxuser::CreateDialogFromTemplate(lpDialogTemplate, 1 << 20,
                                               pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr, nullptr, 0);
    afxuser::PendingCreateWnd() = nullptr;
    return h != nullptr;
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
    return TRUE;
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message >= WM_KEYDOWN && pMsg->message <= WM_SYSCHAR && m_hWnd)
        return ::IsDialogMessageA(m_hWnd, pMsg);
    return FALSE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    RECT before{};
    ::GetWindowRect(m_hWnd, &before);
    Default();
    LRESULT result = OnInitDialog();
    // The framework centres a modal dialog over its owner (which the dialog has taken off input)
    // once it has initialised, unless its template places it itself or its initialisation moved
    // it; a size set there (SWP_NOMOVE) is centred as it now is.
    if (!::IsWindow(m_hWnd))
        return result;
    const DWORD style = GetStyle();
    RECT after{};
    ::GetWindowRect(m_hWnd, &after);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (!(style & (WS_VISIBLE | WS_CHILD | DS_ABSALIGN | DS_CENTER | DS_CENTERMOUSE)) &&
        after.left == before.left && after.top == before.top && owner && !::IsWindowEnabled(owner))
        CenterWindow();
    return result;
}

namespace {

std::string ProgramName() {
    char buf[1024];
    HINSTANCE self = AfxGetInstanceHandle();
    int n = ::LoadStringA(self, 0xE000, buf, sizeof buf); // the application title, when there is one
    if (n > 0)
        return std::string(buf, static_cast<size_t>(n));
    DWORD len = ::GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, len < sizeof buf ? len : 0);
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

int AfxMessageBox(LPCSTR lpszText, UINT nType, UINT) {
    HWND owner = ::GetActiveWindow();
    return ::MessageBoxA(owner ? ::GetAncestor(owner, GA_ROOT) : nullptr, lpszText, ProgramName().c_str(),
                         nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    char buf[4096];
    int n = ::LoadStringA(AfxGetResourceHandle(), nIDPrompt, buf, sizeof buf);
    return AfxMessageBox(n > 0 ? buf : "", nType, nIDHelp == static_cast<UINT>(-1) ? nIDPrompt : nIDHelp);
}
