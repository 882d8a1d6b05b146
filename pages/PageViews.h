// What the page views share beyond their base: the check of the item texts a page hands over
// before they name a file or a folder, the login record update of the pages that log the user
// in, and the reports the views send to the main window.
//
// User-interface thread only, like the views.
#pragma once

#include "net/AppMessages.h"
#include "platform/afx.h"

namespace pageviews {

// An item type or id as the store issues them: letters, digits, "_" and "-", 1 to 64 of them.
// Anything else coming from a page (a path, a separator, a dot) is refused before it reaches a
// file name or a memory-file folder.
bool IsItemToken(const CString& strText);

// Whether the address is on the store host: "http://h:1" holds "http://h:1/x", not
// "http://h:10".
bool IsStoreUrl(const CString& strUrl);

// The common steps of a login: FALSE and nothing changed when userid, username or password is
// empty; otherwise the user record takes the six values (the name in the alternative Base64
// form) and is saved when autologin is "1". Sends nothing.
BOOL UpdateLoginRecord(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                       LPCSTR autologin);

// WM_APP_EVENT to the main window, with a CMsgInfo {first, second, third} living for the call.
LRESULT SendInfoEvent(WPARAM code, LPCSTR first, LPCSTR second, LPCSTR third);

} // namespace pageviews
