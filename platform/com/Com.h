// The component object calls the program makes: interface identities, BSTR strings, apartment
// entry and object creation by class id.
//
// This system has no component registry. A class exists only when code in the process has
// registered a factory for its class id (a stand-in for a platform component, or a test double);
// CoCreateInstance of any other class fails with REGDB_E_CLASSNOTREG, as on a machine without the
// component. Factories are registered and looked up under one lock, from any thread; the objects
// they make live in the apartment of the thread that asked for them.
#pragma once

#include "platform/base/Win32Types.h"

#include <cstdint>

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002))
#define E_POINTER (static_cast<HRESULT>(0x80004003))
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110))
#define REGDB_E_CLASSNOTREG (static_cast<HRESULT>(0x80040154))

extern const IID IID_IUnknown;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// A length-prefixed UTF-16 string; NULL is the empty string.
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);

HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();

// Makes an object of a registered class and asks it for riid. With an outer object the call fails
// (CLASS_E_NOAGGREGATION): no registered class supports aggregation.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

namespace afxcom {

// Makes a new object of the class with one reference held for the caller, or NULL.
using CLASS_FACTORY = IUnknown* (*)();

// Registers (or, with NULL, withdraws) the factory of a class id; returns the one it replaces.
CLASS_FACTORY RegisterClassFactory(const CLSID& clsid, CLASS_FACTORY factory);

} // namespace afxcom
