#include "library/UserInfo.h"

#include "library/CompleteChars.h"

#include "foundation/CommonFunc.h"
#include "xml/XmlDocument.h"

int g_nUserMode = 0;
CUserInfo g_UserInfo;

namespace {

struct UserField {
    const char* pszTag;
    CString CUserInfo::*pMember;
};

// The members in their file order; each element is named after its member.
const UserField s_fields[] = {
    {"userid", &CUserInfo::userid},
    {"username", &CUserInfo::username},
    {"password", &CUserInfo::password},
    {"email", &CUserInfo::email},
    {"photo", &CUserInfo::photo},
    {"attention_count", &CUserInfo::attention_count},
    {"fans_count", &CUserInfo::fans_count},
    {"comment_count", &CUserInfo::comment_count},
    {"vip", &CUserInfo::vip},
    {"usertype", &CUserInfo::usertype},
    {"ip", &CUserInfo::ip},
    {"district", &CUserInfo::district},
    {"lastlogintime", &CUserInfo::lastlogintime},
    {"online", &CUserInfo::online},
    {"rememberpassword", &CUserInfo::rememberpassword},
    {"autologin", &CUserInfo::autologin},
    {"money", &CUserInfo::money},
};

} // namespace

void CUserInfo::Load(CString strPath) {
    CString strXml;
    g_CommonFunc.ReadWholeFile(strPath, strXml);
    if (!strXml.IsEmpty())
        ParseXml(strXml);
}

BOOL CUserInfo::ParseXml(CString strXml) {
    CXmlDocument doc;
    doc.SetDocText(strXml);
    doc.ResetLevel();
    if (!doc.FindElement("userInfo"))
        return FALSE;
    doc.IntoElement();
    // The two flags are read back in their place too, so that the login page's remember-password
    // and auto-login choices survive a restart. Each search goes on after the last element found.
    for (const UserField& f : s_fields)
        if (doc.FindElement(f.pszTag))
            this->*f.pMember = doc.GetElementText();
    if (doc.FindElement("client_mode"))
        g_nUserMode = doc.GetElementText() == "1" ? 1 : 0;
    return TRUE;
}

void CUserInfo::Save(CString strPath) {
    g_CommonFunc.WriteWholeFile(strPath, ToXml());
}

CString CUserInfo::ToXml() {
    CXmlDocument doc;
    doc.AddElement("userInfo");
    doc.IntoElement();
    for (const UserField& f : s_fields) {
        const std::string& value = (this->*f.pMember).str();
        CString strValue(value.data(), static_cast<int>(CompleteCharsLength(value)));
        if (!strValue.IsEmpty())
            doc.AddElement(f.pszTag, strValue);
    }
    doc.AddElement("client_mode", g_nUserMode != 0 ? "1" : "0");
    doc.OutOfElement();
    return doc.GetDocText();
}

void CUserInfo::Clear() {
    for (const UserField& f : s_fields)
        (this->*f.pMember).Empty();
}
