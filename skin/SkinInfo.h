// CSkinInfo: a skin layout with getters for the fixed item names that the skinned frame, the tool
// bar and the main window ask for. Each user builds one on its stack on the user-interface thread,
// loads one file and reads a few items; an absent item answers (0,0,0,0) or "".
#pragma once

#include "skin/SkinLayout.h"

class CSkinInfo : public CSkinLayout {
public:
    // Window skins.
    CRect GetEdgeRect() const { return GetItemRect("edge"); }
    CRect GetEdgeMaxRect() const { return GetItemMaxRect("edge"); }
    CString GetEdgeImage() const { return GetItemImage("edge"); }
    // The smallest window the frame's pictures allow (the edge item's width and height), 0 where
    // the skin names none.
    CSize GetEdgeMinSize() const { return GetItemSize("edge"); }
    CString GetCloseImage() const { return GetItemImage("close"); }
    CRect GetCloseRect() const { return GetItemRect("close"); }
    CString GetMaxImage() const { return GetItemImage("max"); }
    CRect GetMaxRect() const { return GetItemRect("max"); }
    CString GetMinImage() const { return GetItemImage("min"); }
    CRect GetMinRect() const { return GetItemRect("min"); }
    CString GetSetImage() const { return GetItemImage("set"); }
    CRect GetSetRect() const { return GetItemRect("set"); }
    CString GetIconImage() const { return GetItemImage("icon"); }
    CRect GetIconRect() const { return GetItemRect("icon"); }

    // Tool-bar skins.
    CString GetBgImage() const { return GetItemImage("bg"); }
    CRect GetHomeRect() const { return GetItemRect("home"); }
    CString GetHomeImage() const { return GetItemImage("home"); }
    CRect GetMakeBookRect() const { return GetItemRect("make_book"); }
    CString GetMakeBookImage() const { return GetItemImage("make_book"); }
    CRect GetMyBookRect() const { return GetItemRect("my_book"); }
    CString GetMyBookImage() const { return GetItemImage("my_book"); }
    CRect GetReadRect() const { return GetItemRect("read"); }
    CString GetReadImage() const { return GetItemImage("read"); }
    CRect GetLoginRect() const { return GetItemRect("login"); }
    CString GetLoginImage() const { return GetItemImage("login"); }
    CRect GetOutlogRect() const { return GetItemRect("outlog"); }
    CString GetOutlogImage() const { return GetItemImage("outlog"); }
    CRect GetUsernameRect() const { return GetItemRect("username"); }
    CString GetUsernameImage() const { return GetItemImage("username"); }

    // The main window's layout skin.
    CRect GetToolBarRect() const { return GetItemRect("ToolBar"); }
    CRect GetToolBarMaxRect() const { return GetItemMaxRect("ToolBar"); }
    CRect GetHtmlViewRect() const { return GetItemRect("HtmlView"); }
    CRect GetHtmlViewMaxRect() const { return GetItemMaxRect("HtmlView"); }
};
