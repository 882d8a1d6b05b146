#include "platform/user/AfxObject.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {
std::mutex g_classMutex;
std::vector<const CRuntimeClass*>& ClassList() {
    static auto* v = new std::vector<const CRuntimeClass*>;
    return *v;
}
} // namespace

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), nullptr, nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* p = this; p != nullptr;
         p = p->m_pfnGetBaseClass ? p->m_pfnGetBaseClass() : nullptr) {
        if (p == pBaseClass)
            return TRUE;
    }
    return FALSE;
}

const CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName) {
    if (!lpszClassName)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_classMutex);
    for (const CRuntimeClass* c : ClassList())
        if (std::strcmp(c->m_lpszClassName, lpszClassName) == 0)
            return c;
    return nullptr;
}

AFX_CLASSINIT::AFX_CLASSINIT(const CRuntimeClass* pNewClass) {
    std::lock_guard<std::mutex> lock(g_classMutex);
    ClassList().push_back(pNewClass);
}
