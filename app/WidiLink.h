// The wireless-display link of the main window: it creates the platform's wireless display
// component, keeps the adapter names the component reports, and connects to or disconnects from
// an adapter when the settings page asks.
//
// The main window holds one and routes the component's messages and WM_WIDI_CONNECT to the
// handlers below, which return the handlers' results. On Linux no component is registered, so
// creation fails, the adapter list stays empty and connect requests are ignored. Used on the
// user-interface thread only; the component's calls return without blocking.
#pragma once

#include "platform/afx.h"
#include "platform/com/Com.h"

#define WM_WIDI_READY 0x9000
#define WM_WIDI_ADAPTER_FOUND 0x9002
#define WM_WIDI_MSG_9003 0x9003
#define WM_WIDI_MSG_9006 0x9006
#define WM_WIDI_MSG_9007 0x9007

extern const CLSID CLSID_WidiApp;
extern const IID IID_IWidiApp;

// The component's interface. The program calls only Initialize, StartScan, Connect and
// Disconnect, at the positions the component has them; the other entries are the component's.
struct IWidiApp : public IUnknown {
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT Reserved7() = 0;
    virtual HRESULT Reserved8() = 0;
    // Registers the window that receives the component's messages.
    virtual HRESULT Initialize(HWND hWnd) = 0;
    virtual HRESULT Reserved10() = 0;
    virtual HRESULT StartScan() = 0;
    virtual HRESULT Connect(BSTR bstrAdapter, long nArg1, long nArg2, long nArg3) = 0;
    virtual HRESULT Disconnect(BSTR bstrAdapter) = 0;

protected:
    ~IWidiApp() = default;
};

class CWidiLink {
public:
    CWidiLink() = default;
    // Releases the component without disconnecting.
    ~CWidiLink();
    CWidiLink(const CWidiLink&) = delete;
    CWidiLink& operator=(const CWidiLink&) = delete;

    // Creates the component and, when that worked, registers hWnd with it. FALSE without one.
    BOOL Create(HWND hWnd);

    void WidiInitialize();
    void WidiStartScan();
    void WidiConnect(CString strName);
    void WidiDisconnect();

    LRESULT OnWidiReady(WPARAM wParam, LPARAM lParam);
    // lParam: the adapter's zero-terminated UTF-16 name.
    LRESULT OnWidiAdapterFound(WPARAM wParam, LPARAM lParam);
    // lParam: a CString* holding the adapter name; an empty name asks for disconnection.
    LRESULT OnWidiConnect(WPARAM wParam, LPARAM lParam);
    // The component's other messages.
    LRESULT OnWidiIgnored(WPARAM wParam, LPARAM lParam);

    IWidiApp* m_spWidi = nullptr;
    CStringArray m_arrWidiAdapters;
    CString m_strWidiConnected;
    bool m_bWidiReady = false;

private:
    HWND m_hWnd = nullptr;
};
