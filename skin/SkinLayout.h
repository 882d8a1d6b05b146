// Skin layout files: the small XML files that give every skinned surface its images and its
// anchored rectangles. A CSkinLayout is built on the stack of the code that needs a skin, loaded
// with a file of the skin folder, asked for a few items by name and destroyed; it lives on the
// user-interface thread and is never shared. Lookups are case-sensitive and the last item of a
// name wins. Every number of a file is read as a decimal, whatever its sign or size; skins also
// arrive over plain HTTP through the update check, so a number beyond the int range saturates
// and no placement overflows.
#pragma once

#include "platform/afx.h"

// One item of a skin file.
class CSkinItem {
public:
    CRect m_rcRect;
    CRect m_rcMaxRect;
    int m_nWidth = 0;
    int m_nHeight = 0;
    CString m_strName;
    CString m_strImage; // always a full path: the skin folder, then the file's image name
};

class CSkinLayout {
public:
    CSkinLayout();
    ~CSkinLayout();
    CSkinLayout(const CSkinLayout&) = delete;
    CSkinLayout& operator=(const CSkinLayout&) = delete;

    // Adds the items of a file of the skin folder to those already loaded. FALSE, adding nothing,
    // when the file has no top-level "items" (a missing or unreadable file included).
    BOOL Load(CString strFileName);

    // (0,0,0,0) and "" for a name no item has.
    CRect GetItemRect(CString strName) const;
    CRect GetItemMaxRect(CString strName) const;
    CString GetItemImage(CString strName) const;
    // The item's width and height attributes; (0, 0) for a name no item has.
    CSize GetItemSize(CString strName) const;

    // "l,t,r,b": (0,0,0,0) unless exactly four pieces remain after splitting.
    CRect ParseRect(CString strText) const;
    // TRUE and the four values written when the text has exactly four pieces; FALSE with the
    // output untouched otherwise.
    BOOL ParseRectValues(CString strText, CRect* pOut) const;

protected:
    CMapStringToPtr m_mapItems; // name -> CSkinItem*, the last of a name
    CPtrArray m_arrItems;       // every CSkinItem in file order; owns them

private:
    const CSkinItem* FindItem(const CString& strName) const;
};

// The real rectangle of an anchored one (margins from the container's sides, -1 for a free side)
// for an item of the given size. Nothing is clipped: margins larger than the container give an
// empty or inverted rectangle. Coordinates saturate at half the int range, so that the width and
// height of any result are ints.
CRect CalcAnchoredRect(CRect rcAnchor, int width, int height, CRect container);
