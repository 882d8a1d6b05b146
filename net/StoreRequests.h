// The store web service's addresses: its host (a setting), the API requests, the catalogue and
// reading pages. Values are sent as UTF-8, percent-encoded outside the unreserved characters.
#pragma once

#include "platform/afx.h"

// The store host without a trailing "/": KESTRIN_STORE when set (e.g. "http://127.0.0.1:8080").
CString GetStoreHost();
// The web site host for the subscription page: KESTRIN_WEB when set, else the store host.
CString GetStoreWebHost();
// "/touch/api/?vs=1" on the store host.
CString GetStoreApiBase();

// An ANSI-code-page value as it goes into a query: converted to UTF-8, then every byte outside
// A-Z a-z 0-9 "-" "." "_" "~" written as %XX.
CString EncodeQueryValue(CString strValue);

CString BuildItemRequestUrl(CString strType, CString strPid);
// strClass is "book" or "mag".
CString BuildSortClassUrl(CString strClass);
CString BuildUpdateXmlUrl();
CString BuildPurchaseUrl(CString strUid, CString strPassword, CString strType, CString strUserName,
                         CString strPid);
// nUserMode 1 is the "enter" mode; bBook chooses the book store.
CString BuildStorePageUrl(int nUserMode, BOOL bBook, CString strUserName, CString strPassword);
CString BuildOnlineReadUrl(CString strType, CString strPid);
CString BuildSubscriptionUrl();
