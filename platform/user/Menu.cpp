// Popup menus from MENU resources, TrackPopupMenu through the presenter, the windows' system
// menus, and icons from the resources or from files.
#include "platform/gdi/WinGdi.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Module.h"
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowTable.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct HMENU__ {
    struct Item {
        UINT flags = 0;
        UINT id = 0;
        std::string text;
        HMENU sub = nullptr; // owned
    };
    std::vector<Item> items;
    int defaultPos = -1;
};

namespace {

std::mutex g_menuMx; // guards the set of live menus and the system menus' table
std::set<HMENU>& Live() {
    static auto* s = new std::set<HMENU>;
    return *s;
}
std::map<HWND, HMENU>& SystemMenus() {
    static auto* m = new std::map<HWND, HMENU>;
    return *m;
}

HMENU NewMenu() {
    HMENU m = new HMENU__;
    std::lock_guard<std::mutex> lock(g_menuMx);
    Live().insert(m);
    return m;
}

bool IsLive(HMENU m) {
    std::lock_guard<std::mutex> lock(g_menuMx);
    return m && Live().count(m);
}

// Reads the items of one level of a MENU template; false when it runs past the end.
bool ReadItems(const BYTE*& p, const BYTE* end, HMENU menu) {
    auto word = [&](WORD& v) {
        if (end - p < 2)
            return false;
        v = static_cast<WORD>(p[0] | (p[1] << 8));
        p += 2;
        return true;
    };
    for (;;) {
        WORD flags = 0, id = 0;
        if (!word(flags))
            return false;
        bool popup = (flags & MF_POPUP) != 0;
        if (!popup && !word(id))
            return false;
        std::u16string text;
        for (WORD c = 0;;) {
            if (!word(c))
                return false;
            if (!c)
                break;
            text.push_back(static_cast<char16_t>(c));
        }
        HMENU__::Item item;
        item.flags = flags & ~(0x80u | MF_POPUP);
        item.id = id;
        item.text = AfxUtf16ToAnsi(text);
        if (!popup && id == 0 && text.empty())
            item.flags |= MF_SEPARATOR;
        if (popup) {
            item.sub = NewMenu();
            item.flags |= MF_POPUP;
            if (!ReadItems(p, end, item.sub)) {
                menu->items.push_back(item);
                return false;
            }
        }
        menu->items.push_back(item);
        if (flags & 0x80) // the last item of its level
            return true;
    }
}

HMENU__::Item* ItemOf(HMENU m, UINT which, UINT byPos) {
    if (!IsLive(m))
        return nullptr;
    if (byPos & MF_BYPOSITION)
        return which < m->items.size() ? &m->items[which] : nullptr;
    for (auto& it : m->items) {
        if (!(it.flags & MF_POPUP) && it.id == which)
            return &it;
        if (it.sub)
            if (auto* found = ItemOf(it.sub, which, byPos))
                return found;
    }
    return nullptr;
}

std::vector<BYTE> ReadFileBytes(LPCSTR winPath) {
    std::vector<BYTE> out;
    std::string path;
    if (!winPath || !*winPath || !AfxMapPath(winPath, path))
        return out;
    const int fd = AfxOpenRegularFile(path.c_str(), O_RDONLY);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!f) {
        if (fd >= 0)
            close(fd);
        return out;
    }
    BYTE buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (16u << 20))
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

} // namespace

HMENU LoadMenuA(void* hInstance, LPCSTR lpMenuName) {
    HMODULE mod = static_cast<HMODULE>(hInstance);
    HRSRC r = FindResourceA(mod, lpMenuName, RT_MENU);
    if (!r)
        return nullptr;
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(mod, r)));
    DWORD size = SizeofResource(mod, r);
    if (!p || size < 4)
        return nullptr;
    const BYTE* end = p + size;
    WORD version = static_cast<WORD>(p[0] | (p[1] << 8));
    WORD offset = static_cast<WORD>(p[2] | (p[3] << 8));
    if (version != 0 || size < 4u + offset) // only the plain MENU form is written by the compiler
        return nullptr;
    p += 4 + offset;
    HMENU menu = NewMenu();
    if (!ReadItems(p, end, menu)) {
        DestroyMenu(menu);
        return nullptr;
    }
    return menu;
}

HMENU CreatePopupMenu() {
    return NewMenu();
}

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem) {
    if (!IsLive(hMenu))
        return FALSE;
    HMENU__::Item item;
    item.flags = uFlags & ~MF_BYPOSITION;
    if (uFlags & MF_POPUP)
        item.sub = reinterpret_cast<HMENU>(uIDNewItem);
    else
        item.id = static_cast<UINT>(uIDNewItem);
    if (!(uFlags & MF_SEPARATOR) && lpNewItem)
        item.text = lpNewItem;
    hMenu->items.push_back(item);
    return TRUE;
}

BOOL DestroyMenu(HMENU hMenu) {
    {
        std::lock_guard<std::mutex> lock(g_menuMx);
        if (!hMenu || !Live().erase(hMenu))
            return FALSE;
    }
    for (auto& it : hMenu->items)
        if (it.sub)
            DestroyMenu(it.sub);
    delete hMenu;
    return TRUE;
}

BOOL IsMenu(HMENU hMenu) {
    return IsLive(hMenu) ? TRUE : FALSE;
}

HMENU GetSubMenu(HMENU hMenu, int nPos) {
    if (!IsLive(hMenu) || nPos < 0 || static_cast<size_t>(nPos) >= hMenu->items.size())
        return nullptr;
    return hMenu->items[static_cast<size_t>(nPos)].sub;
}

int GetMenuItemCount(HMENU hMenu) {
    return IsLive(hMenu) ? static_cast<int>(hMenu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU hMenu, int nPos) {
    if (!IsLive(hMenu) || nPos < 0 || static_cast<size_t>(nPos) >= hMenu->items.size())
        return static_cast<UINT>(-1);
    const auto& it = hMenu->items[static_cast<size_t>(nPos)];
    return it.sub ? static_cast<UINT>(-1) : it.id;
}

int GetMenuStringA(HMENU hMenu, UINT uIDItem, LPSTR lpString, int cchMax, UINT flags) {
    auto* it = ItemOf(hMenu, uIDItem, flags);
    if (!it)
        return 0;
    int n = static_cast<int>(it->text.size());
    if (lpString && cchMax > 0) {
        n = std::min(n, cchMax - 1);
        std::copy_n(it->text.data(), n, lpString);
        lpString[n] = '\0';
    }
    return n;
}

UINT GetMenuState(HMENU hMenu, UINT uId, UINT uFlags) {
    auto* it = ItemOf(hMenu, uId, uFlags);
    return it ? it->flags : static_cast<UINT>(-1);
}

BOOL SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) {
    if (!IsLive(hMenu))
        return FALSE;
    if (uItem == static_cast<UINT>(-1)) {
        hMenu->defaultPos = -1;
    } else if (fByPos) {
        if (uItem >= hMenu->items.size())
            return FALSE;
        hMenu->defaultPos = static_cast<int>(uItem);
    } else {
        hMenu->defaultPos = -1;
        for (size_t i = 0; i < hMenu->items.size(); ++i)
            if (!hMenu->items[i].sub && hMenu->items[i].id == uItem)
                hMenu->defaultPos = static_cast<int>(i);
        if (hMenu->defaultPos < 0)
            return FALSE;
    }
    for (size_t i = 0; i < hMenu->items.size(); ++i) {
        if (static_cast<int>(i) == hMenu->defaultPos)
            hMenu->items[i].flags |= MF_DEFAULT;
        else
            hMenu->items[i].flags &= ~MF_DEFAULT;
    }
    return TRUE;
}

UINT GetMenuDefaultItem(HMENU hMenu, UINT fByPos, UINT) {
    if (!IsLive(hMenu) || hMenu->defaultPos < 0)
        return static_cast<UINT>(-1);
    if (fByPos)
        return static_cast<UINT>(hMenu->defaultPos);
    return hMenu->items[static_cast<size_t>(hMenu->defaultPos)].id;
}

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int, HWND hWnd, const RECT*) {
    if (!IsLive(hMenu) || !IsWindow(hWnd))
        return FALSE;
    UINT chosen = afxuser::CurrentPresenter().ChooseFromMenu(hMenu, uFlags, POINT{x, y}, hWnd);
    if (uFlags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen && !(uFlags & TPM_NONOTIFY))
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}

// System menus.

namespace {

// The window commands the kernel carries out (DefWindowProc's WM_SYSCOMMAND), in the system's
// own words.
HMENU NewSystemMenu() {
    HMENU m = NewMenu();
    AppendMenuA(m, MF_STRING, SC_RESTORE, AfxUtf8ToAnsi("还原(&R)").c_str());
    AppendMenuA(m, MF_STRING, SC_MINIMIZE, AfxUtf8ToAnsi("最小化(&N)").c_str());
    AppendMenuA(m, MF_STRING, SC_MAXIMIZE, AfxUtf8ToAnsi("最大化(&X)").c_str());
    AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m, MF_STRING, SC_CLOSE, AfxUtf8ToAnsi("关闭(&C)\tAlt+F4").c_str());
    return m;
}

void EnableSystemItem(HMENU m, UINT id, bool enabled) {
    if (auto* it = ItemOf(m, id, MF_BYCOMMAND)) {
        if (enabled)
            it->flags &= ~(MF_GRAYED | MF_DISABLED);
        else
            it->flags |= MF_GRAYED;
    }
}

} // namespace

HMENU GetSystemMenu(HWND hWnd, BOOL bRevert) {
    if (!IsWindow(hWnd) || !(GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_SYSMENU))
        return nullptr;
    HMENU old = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_menuMx);
        auto it = SystemMenus().find(hWnd);
        if (it != SystemMenus().end()) {
            if (!bRevert)
                return it->second;
            old = it->second;
            SystemMenus().erase(it);
        }
    }
    if (bRevert) {
        if (old)
            DestroyMenu(old);
        return nullptr;
    }
    HMENU made = NewSystemMenu();
    HMENU kept = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_menuMx);
        kept = SystemMenus().emplace(hWnd, made).first->second;
    }
    if (kept != made) // another thread made it first
        DestroyMenu(made);
    return kept;
}

namespace afxuser {

void ShowSystemMenu(HWND h, POINT screen) {
    HWND top = GetAncestor(h, GA_ROOT);
    HMENU m = GetSystemMenu(top, FALSE);
    if (!m)
        return;
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(top, GWL_STYLE));
    const bool iconic = IsIconic(top), zoomed = IsZoomed(top);
    EnableSystemItem(m, SC_RESTORE, iconic || zoomed);
    EnableSystemItem(m, SC_MINIMIZE, (style & WS_MINIMIZEBOX) && !iconic);
    EnableSystemItem(m, SC_MAXIMIZE, (style & WS_MAXIMIZEBOX) && !zoomed);
    UINT chosen = static_cast<UINT>(TrackPopupMenu(m, TPM_RETURNCMD, screen.x, screen.y, 0, top, nullptr));
    if (chosen && IsWindow(top))
        PostMessageA(top, WM_SYSCOMMAND, chosen,
                     MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
}

void ForgetSystemMenu(HWND h) {
    HMENU m = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_menuMx);
        auto it = SystemMenus().find(h);
        if (it == SystemMenus().end())
            return;
        m = it->second;
        SystemMenus().erase(it);
    }
    DestroyMenu(m);
}

} // namespace afxuser

// Icons.

HICON LoadIconA(void* hInstance, LPCSTR lpIconName) {
    HMODULE mod = static_cast<HMODULE>(hInstance);
    HRSRC group = FindResourceA(mod, lpIconName, RT_GROUP_ICON);
    if (!group)
        return nullptr;
    const BYTE* g = static_cast<const BYTE*>(LockResource(LoadResource(mod, group)));
    DWORD gsize = SizeofResource(mod, group);
    if (!g || gsize < 6)
        return nullptr;
    WORD count = static_cast<WORD>(g[4] | (g[5] << 8));
    // The entry nearest the system's icon size, 32 x 32.
    int best = -1, bestScore = 1 << 30;
    for (WORD i = 0; i < count && 6u + 14u * (i + 1u) <= gsize; ++i) {
        const BYTE* e = g + 6 + 14 * i;
        int w = e[0] ? e[0] : 256;
        int score = std::abs(w - 32) * 64 - (e[6] | (e[7] << 8));
        if (score < bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (best < 0)
        return nullptr;
    const BYTE* e = g + 6 + 14 * best;
    WORD iconId = static_cast<WORD>(e[12] | (e[13] << 8));
    HRSRC img = FindResourceA(mod, MAKEINTRESOURCEA(iconId), RT_ICON);
    if (!img)
        return nullptr;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(mod, img)));
    DWORD size = SizeofResource(mod, img);
    if (!data)
        return nullptr;
    // An icon file of that one image for the drawing layer's decoder.
    std::vector<BYTE> file(6 + 16 + size);
    BYTE* f = file.data();
    f[2] = 1;
    f[4] = 1;
    std::copy_n(e, 12, f + 6); // width, height, colours, reserved, planes, bit count, bytes
    DWORD offset = 22;
    std::copy_n(reinterpret_cast<const BYTE*>(&offset), 4, f + 18);
    std::copy_n(data, size, f + 22);
    return afxgdi::CreateIconFromFileBytes(file.data(), file.size(), 0, 0);
}

HANDLE LoadImageA(void* hInst, LPCSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    if (type != IMAGE_ICON)
        return nullptr;
    if (!(fuLoad & LR_LOADFROMFILE))
        return LoadIconA(hInst, name);
    std::vector<BYTE> bytes = ReadFileBytes(name);
    if (bytes.empty())
        return nullptr;
    if (fuLoad & LR_DEFAULTSIZE) {
        cx = cx ? cx : 32;
        cy = cy ? cy : 32;
    }
    return afxgdi::CreateIconFromFileBytes(bytes.data(), bytes.size(), cx, cy);
}
