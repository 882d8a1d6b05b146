// The wireless display component as a test double: registered as the platform's component for
// as long as it is, it says it is ready once it knows its window, reports the scripted adapters
// when asked to scan, and records every connect and disconnect. User-interface thread only.
#pragma once

#include "app/WidiLink.h"
#include "platform/user/User.h"

#include <string>
#include <vector>

class FakeWidi : public IWidiApp {
public:
    FakeWidi() = default;
    FakeWidi(const FakeWidi&) = delete;
    FakeWidi& operator=(const FakeWidi&) = delete;
    ~FakeWidi() { Unregister(); }

    // From now on CoCreateInstance of the component's class gives this object.
    void Register() {
        Current() = this;
        afxcom::RegisterClassFactory(CLSID_WidiApp, &Make);
    }
    void Unregister() {
        if (Current() != this)
            return;
        afxcom::RegisterClassFactory(CLSID_WidiApp, nullptr);
        Current() = nullptr;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IWidiApp || riid == IID_IUnknown) {
            *ppv = static_cast<IWidiApp*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Initialize(HWND h) override {
        window = h;
        PostMessageA(h, WM_WIDI_READY, 0, 0);
        return S_OK;
    }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT StartScan() override {
        ++scans;
        for (const std::u16string& name : adapters)
            PostMessageA(window, WM_WIDI_ADAPTER_FOUND, 0, reinterpret_cast<LPARAM>(name.c_str()));
        return S_OK;
    }
    HRESULT Connect(BSTR name, long a, long b, long c) override {
        calls.push_back("connect " + Utf8(name) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c));
        return S_OK;
    }
    HRESULT Disconnect(BSTR name) override {
        calls.push_back("disconnect " + Utf8(name));
        return S_OK;
    }

    static std::string Utf8(BSTR s) {
        std::string out;
        for (UINT i = 0; i < SysStringLen(s); ++i) {
            char16_t c = s[i];
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    }

    ULONG refs = 0;
    HWND window = nullptr;
    int scans = 0;
    std::vector<std::u16string> adapters;
    std::vector<std::string> calls;

private:
    static FakeWidi*& Current() {
        static FakeWidi* current = nullptr;
        return current;
    }
    static IUnknown* Make() {
        Current()->AddRef();
        return Current();
    }
};
