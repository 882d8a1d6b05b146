// CDialog: a window made from a dialog template, run modally (DoModal) or modeless (Create).
//
// DoModal disables the owner and runs a nested loop on the calling thread until EndDialog; the
// loop serves everything the thread's queue holds, messages that worker threads send included,
// so a worker's SendMessage is answered while the dialog is up. Keys pass through
// PreTranslateMessage first: Enter and Esc become OnOK and OnCancel. User-interface thread only.
#pragma once

#include "platform/user/AfxWnd.h"

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog() = default;
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd = nullptr);

    // The dialog's result: the EndDialog value, or -1 when the template is missing or the
    // window went without EndDialog.
    virtual INT_PTR DoModal();
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Modeless, from a template in memory (as a resource holds it).
    virtual BOOL CreateIndirect(const void* lpDialogTemplate, CWnd* pParentWnd = nullptr);
    using CWnd::Create;
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* pMsg) override;

    LPCSTR m_lpszTemplateName = nullptr;
    CWnd* m_pParentWnd = nullptr;

protected:
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    HWND CreateFromResource(HWND hOwner);

    DECLARE_MESSAGE_MAP()
};

// A message box owned by the active window, with the program's name as its caption.
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// The same with a string of the string table.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
