#include "platform/com/Com.h"

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

struct Registration {
    CLSID clsid;
    afxcom::CLASS_FACTORY factory;
};

std::mutex g_lock;

std::vector<Registration>& Registrations() {
    static std::vector<Registration> s;
    return s;
}

} // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    // The length in bytes sits just before the characters, as callers of SysStringLen expect.
    auto* block =
        static_cast<uint32_t*>(::operator new(sizeof(uint32_t) + (cch + 1) * sizeof(OLECHAR), std::nothrow));
    if (block == nullptr)
        return nullptr;
    block[0] = cch * sizeof(OLECHAR);
    BSTR s = reinterpret_cast<BSTR>(block + 1);
    if (pch != nullptr)
        std::memcpy(s, pch, cch * sizeof(OLECHAR));
    else
        std::memset(s, 0, cch * sizeof(OLECHAR));
    s[cch] = 0;
    return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr)
        return nullptr;
    UINT n = 0;
    while (psz[n] != 0)
        ++n;
    return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstr) {
    if (bstr != nullptr)
        ::operator delete(reinterpret_cast<uint32_t*>(bstr) - 1);
}

UINT SysStringLen(BSTR bstr) {
    return bstr == nullptr ? 0 : reinterpret_cast<uint32_t*>(bstr)[-1] / sizeof(OLECHAR);
}

HRESULT CoInitialize(LPVOID) {
    return S_OK;
}

void CoUninitialize() {}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    afxcom::CLASS_FACTORY factory = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        for (const Registration& r : Registrations())
            if (r.clsid == rclsid)
                factory = r.factory;
    }
    if (factory == nullptr)
        return REGDB_E_CLASSNOTREG;
    if (pUnkOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    IUnknown* pObject = factory();
    if (pObject == nullptr)
        return E_FAIL;
    HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

namespace afxcom {

CLASS_FACTORY RegisterClassFactory(const CLSID& clsid, CLASS_FACTORY factory) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto& regs = Registrations();
    for (auto it = regs.begin(); it != regs.end(); ++it) {
        if (it->clsid == clsid) {
            CLASS_FACTORY old = it->factory;
            if (factory != nullptr)
                it->factory = factory;
            else
                regs.erase(it);
            return old;
        }
    }
    if (factory != nullptr)
        regs.push_back({clsid, factory});
    return nullptr;
}

} // namespace afxcom
