// A store category and its sub-categories, as the category files list them.
// Everything is inline: the category parser of the utility object builds these records, and the
// foundation layer must not link the library layer above it.
#pragma once

#include "platform/afx.h"

class CBigClassInfo {
public:
    CBigClassInfo() = default;
    CBigClassInfo(const CBigClassInfo&) = default;
    CBigClassInfo& operator=(const CBigClassInfo&) = default;
    virtual ~CBigClassInfo() = default;

    CString id;
    CString p_id; // the id of the category it belongs to
    CString sort_name;
};

class CSortInfo {
public:
    CSortInfo() = default;
    CSortInfo(const CSortInfo&) = delete;
    CSortInfo& operator=(const CSortInfo&) = delete;
    virtual ~CSortInfo() = default;

    CString id;
    CString sort_name;
    CArray<CBigClassInfo, CBigClassInfo&> items; // in file order
};
