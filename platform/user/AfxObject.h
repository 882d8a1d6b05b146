// The framework's root object with run-time class information and dynamic creation.
#pragma once

#include "platform/base/Win32Types.h"

class CObject;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    CObject* (*m_pfnCreateObject)(); // nullptr when the class is not dynamically creatable
    const CRuntimeClass* (*m_pfnGetBaseClass)();

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
    // Looks a dynamically creatable class up by name among those linked into the program.
    static const CRuntimeClass* FromName(LPCSTR lpszClassName);
};

// Registers a class for FromName; the IMPLEMENT_DYN* macros create one of these per class.
struct AFX_CLASSINIT {
    explicit AFX_CLASSINIT(const CRuntimeClass* pNewClass);
};

class CObject {
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* pClass) const;
    static const CRuntimeClass classCObject;
    static const CRuntimeClass* _GetBaseClass() { return nullptr; }

protected:
    CObject() = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                                                          \
public:                                                                                                      \
    static const CRuntimeClass class##class_name;                                                            \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                                        \
    DECLARE_DYNAMIC(class_name)                                                                              \
    static CObject* CreateObject();

#define AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, pfnNew)                                      \
    const CRuntimeClass class_name::class##class_name = {                                                    \
        #class_name, static_cast<int>(sizeof(class_name)), pfnNew,                                           \
        []() -> const CRuntimeClass* { return RUNTIME_CLASS(base_class_name); }};                            \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                                               \
        return RUNTIME_CLASS(class_name);                                                                    \
    }                                                                                                        \
    static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                       \
    AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                                     \
    CObject* class_name::CreateObject() {                                                                    \
        return new class_name;                                                                               \
    }                                                                                                        \
    AFX_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, class_name::CreateObject)

#define DYNAMIC_DOWNCAST(class_name, object)                                                                 \
    ((object) != nullptr && (object)->IsKindOf(RUNTIME_CLASS(class_name)) ? static_cast<class_name*>(object) \
                                                                          : nullptr)
