// CUserInfo: the logged-in user as the store's login gives it to the pages, kept in user.xml.
#pragma once

#include "platform/afx.h"

// 1 in the "enter" mode, 0 in the normal mode; carried in user.xml as client_mode.
extern int g_nUserMode;

class CUserInfo {
public:
    CUserInfo() = default;
    virtual ~CUserInfo() = default;

    void Load(CString strPath);
    BOOL ParseXml(CString strXml);
    void Save(CString strPath);
    CString ToXml();
    void Clear();

    CString userid;
    CString username; // in the alternative Base64 form (CCommonFunc::EncodeBase64Alt)
    CString password;
    CString email;
    CString photo;
    CString attention_count;
    CString fans_count;
    CString comment_count;
    CString vip;
    CString usertype;
    CString ip;
    CString district;
    CString lastlogintime;
    CString online;
    CString rememberpassword;
    CString autologin;
    CString money;
};

extern CUserInfo g_UserInfo;
