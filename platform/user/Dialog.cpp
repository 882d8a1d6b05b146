// The dialog manager: dialogs and their controls from templates, dialog units, the modal loop,
// the dialog keys, and the few control classes the templates name, with their painting. No
// window manager draws a frame for the kernel's windows, so a dialog whose template asks for a
// caption of the system's kind gets one drawn here, above its controls.
#include "platform/gdi/WinGdi.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Module.h"
#include "platform/user/Presenter.h"
#include "platform/user/WinUser.h"
#include "platform/user/WindowCore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct DlgInfo {
    DLGPROC proc = nullptr;
    LPARAM initParam = 0;
    HFONT font = nullptr;
    bool ownsFont = false;
    int baseX = 8;
    int baseY = 16;
    bool ended = false;
    INT_PTR result = 0;
    LONG_PTR msgResult = 0;
    UINT defId = IDOK;
    int caption = 0; // height of the caption band drawn over the client area; 0 for none
};

// The system's look for the dialogs it frames and their controls.
constexpr int kCloseWidth = 36;
constexpr COLORREF kFace = RGB(240, 240, 240);
constexpr COLORREF kCaptionFace = RGB(43, 87, 154);
constexpr COLORREF kFrameLine = RGB(90, 90, 90);
constexpr COLORREF kButtonLine = RGB(173, 173, 173);
constexpr COLORREF kDefaultButtonLine = RGB(0, 120, 215);
constexpr COLORREF kButtonFace = RGB(225, 225, 225);
constexpr COLORREF kPressedButtonFace = RGB(204, 228, 247);
// Static control styles.
constexpr DWORD kStaticTypeMask = 0x1F;
constexpr DWORD kStaticCenter = 1;
constexpr DWORD kStaticRight = 2;
constexpr DWORD kStaticIcon = 3;
constexpr DWORD kStaticNoPrefix = 0x80;

std::mutex g_dlgMx; // guards the table; dialogs themselves are used on their own thread
std::map<HWND, DlgInfo>& Dialogs() {
    static auto* m = new std::map<HWND, DlgInfo>;
    return *m;
}
// The dialog being created on this thread: its record is filed under the handle with the first
// message the window gets.
thread_local DlgInfo* t_creating = nullptr;

bool GetInfo(HWND h, DlgInfo& out) {
    std::lock_guard<std::mutex> lock(g_dlgMx);
    auto it = Dialogs().find(h);
    if (it == Dialogs().end())
        return false;
    out = it->second;
    return true;
}

template <class F> void EditInfo(HWND h, F f) {
    std::lock_guard<std::mutex> lock(g_dlgMx);
    auto it = Dialogs().find(h);
    if (it != Dialogs().end())
        f(it->second);
}

int Scale(int v, int base, int div) {
    long long n = static_cast<long long>(v) * base;
    return static_cast<int>(n >= 0 ? (n + div / 2) / div : -((-n + div / 2) / div));
}

// Reads a template with bounds: a malformed one is refused, never read past.
class Reader {
public:
    Reader(const BYTE* p, size_t n) : m_base(p), m_p(p), m_end(p + n) {}
    bool ok() const { return m_ok; }
    WORD Word() {
        if (m_end - m_p < 2) {
            m_ok = false;
            return 0;
        }
        WORD v = static_cast<WORD>(m_p[0] | (m_p[1] << 8));
        m_p += 2;
        return v;
    }
    DWORD Dword() {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() {
        if (m_p >= m_end) {
            m_ok = false;
            return 0;
        }
        return *m_p++;
    }
    std::u16string String() {
        std::u16string s;
        while (m_ok) {
            WORD c = Word();
            if (!c)
                break;
            s.push_back(static_cast<char16_t>(c));
        }
        return s;
    }
    // A name or an ordinal: ordinal is set (and the text empty) for the 0xFFFF form.
    std::u16string NameOrOrdinal(WORD& ordinal) {
        ordinal = 0;
        if (m_end - m_p >= 2 && m_p[0] == 0xFF && m_p[1] == 0xFF) {
            Word();
            ordinal = Word();
            return u"";
        }
        return String();
    }
    void Align4() {
        size_t off = static_cast<size_t>(m_p - m_base);
        size_t pad = (4 - off % 4) % 4;
        if (static_cast<size_t>(m_end - m_p) < pad)
            m_p = m_end;
        else
            m_p += pad;
    }
    void Skip(size_t n) {
        if (static_cast<size_t>(m_end - m_p) < n)
            m_ok = false;
        else
            m_p += n;
    }

private:
    const BYTE* m_base;
    const BYTE* m_p;
    const BYTE* m_end;
    bool m_ok = true;
};

struct ItemTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string className;
    std::string caption;
    bool hasFont = false;
    WORD pointSize = 0, weight = FW_NORMAL;
    BYTE italic = 0, charset = DEFAULT_CHARSET;
    std::string face;
    std::vector<ItemTemplate> items;
};

const char* ControlClass(WORD atom) {
    switch (atom) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "";
    }
}

bool ParseTemplate(const void* data, size_t size, DialogTemplate& t) {
    Reader r(static_cast<const BYTE*>(data), size);
    WORD ver = r.Word();
    WORD sig = r.Word();
    bool ex = ver == 1 && sig == 0xFFFF;
    WORD count = 0;
    if (ex) {
        r.Dword(); // help id
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = ver | (static_cast<DWORD>(sig) << 16);
        t.exStyle = r.Dword();
    }
    count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    WORD ord = 0;
    r.NameOrOrdinal(ord); // menu: dialogs of this program have none
    std::u16string cls = r.NameOrOrdinal(ord);
    t.className = AfxUtf16ToAnsi(cls);
    t.caption = AfxUtf16ToAnsi(r.String());
    if (t.style & DS_SETFONT) {
        t.hasFont = true;
        t.pointSize = r.Word();
        if (ex) {
            t.weight = r.Word();
            t.italic = r.Byte();
            t.charset = r.Byte();
        }
        t.face = AfxUtf16ToAnsi(r.String());
    }
    for (WORD i = 0; i < count && r.ok(); ++i) {
        r.Align4();
        ItemTemplate it;
        if (ex) {
            r.Dword(); // help id
            it.exStyle = r.Dword();
            it.style = r.Dword();
        } else {
            it.style = r.Dword();
            it.exStyle = r.Dword();
        }
        it.x = r.Short();
        it.y = r.Short();
        it.cx = r.Short();
        it.cy = r.Short();
        it.id = ex ? r.Dword() : r.Word();
        std::u16string icls = r.NameOrOrdinal(ord);
        it.className = ord ? ControlClass(ord) : AfxUtf16ToAnsi(icls);
        std::u16string text = r.NameOrOrdinal(ord);
        // A resource named by number (an icon control's icon) in the "#n" form CreateWindow takes.
        it.text = ord ? "#" + std::to_string(ord) : AfxUtf16ToAnsi(text);
        WORD extra = r.Word();
        r.Skip(extra);
        t.items.push_back(it);
    }
    return r.ok();
}

// The font of a template, and the dialog base units it gives.
void MakeFont(const DialogTemplate& t, DlgInfo& info) {
    if (t.hasFont) {
        LOGFONTA lf{};
        lf.lfHeight = -Scale(t.pointSize, 96, 72);
        lf.lfWeight = t.weight ? t.weight : FW_NORMAL;
        lf.lfItalic = t.italic;
        lf.lfCharSet = t.charset;
        std::strncpy(lf.lfFaceName, t.face.c_str(), LF_FACESIZE - 1);
        info.font = CreateFontIndirectA(&lf);
        info.ownsFont = info.font != nullptr;
    }
    if (!info.font)
        info.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return;
    HGDIOBJ old = SelectObject(dc, info.font);
    TEXTMETRICA tm{};
    SIZE sz{};
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (GetTextMetricsA(dc, &tm) && GetTextExtentPoint32A(dc, kLetters, 52, &sz) && sz.cx > 0) {
        info.baseX = static_cast<int>((sz.cx / 26 + 1) / 2);
        info.baseY = static_cast<int>(tm.tmHeight);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
    HBRUSH b = CreateSolidBrush(colour);
    FillRect(dc, &r, b);
    DeleteObject(b);
}

void DrawLabel(HDC dc, HWND h, HFONT font, RECT r, COLORREF colour, UINT format) {
    char text[512] = {0};
    GetWindowTextA(h, text, sizeof text);
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextA(dc, text, -1, &r, format);
    if (old)
        SelectObject(dc, old);
}

// The face, the caption band with the title and the close box, and a one-pixel frame.
void PaintFramedDialog(HWND h, const DlgInfo& info) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT r{};
    GetClientRect(h, &r);
    FillSolid(dc, r, kFace);
    RECT band{r.left, r.top, r.right, r.top + info.caption};
    FillSolid(dc, band, kCaptionFace);
    DrawLabel(dc, h, info.font, RECT{band.left + 10, band.top, band.right - kCloseWidth, band.bottom},
              RGB(255, 255, 255), DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    static const std::string cross = AfxUtf8ToAnsi("\u00D7");
    RECT close{band.right - kCloseWidth, band.top, band.right, band.bottom};
    HGDIOBJ old = info.font ? SelectObject(dc, info.font) : nullptr;
    DrawTextA(dc, cross.c_str(), -1, &close, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (old)
        SelectObject(dc, old);
    for (const RECT& edge :
         {RECT{r.left, r.top, r.right, r.top + 1}, RECT{r.left, r.bottom - 1, r.right, r.bottom},
          RECT{r.left, r.top, r.left + 1, r.bottom}, RECT{r.right - 1, r.top, r.right, r.bottom}})
        FillSolid(dc, edge, kFrameLine);
    EndPaint(h, &ps);
}

LRESULT FramedHitTest(HWND h, const DlgInfo& info, LPARAM screenPoint) {
    RECT w{};
    GetWindowRect(h, &w);
    POINT p{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    if (!PtInRect(&w, p))
        return HTNOWHERE;
    if (p.y >= w.top + info.caption)
        return HTCLIENT;
    return p.x >= w.right - kCloseWidth ? HTCLOSE : HTCAPTION;
}

// Controls keep the font they are given, as every control class does.
LRESULT ControlDefault(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_SETFONT) {
        SetPropA(h, "AfxControlFont", reinterpret_cast<HANDLE>(w));
        return 0;
    }
    if (m == WM_GETFONT)
        return reinterpret_cast<LRESULT>(GetPropA(h, "AfxControlFont"));
    return DefWindowProcA(h, m, w, l);
}

// Buttons: a press and a release inside tell the parent BN_CLICKED.
LRESULT ButtonProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetCapture(h);
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == h) {
            ReleaseCapture();
            RECT r{};
            GetClientRect(h, &r);
            POINT p{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
            if (PtInRect(&r, p))
                SendMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), BN_CLICKED),
                             reinterpret_cast<LPARAM>(h));
        }
        return 0;
    case WM_GETDLGCODE:
        return DLGC_BUTTON |
               ((GetWindowLongPtrA(h, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : 0);
    case WM_CAPTURECHANGED:
        InvalidateRect(h, nullptr, TRUE);
        break;
    case WM_PAINT: {
        const DWORD kind = static_cast<DWORD>(GetWindowLongPtrA(h, GWL_STYLE)) & 0xF;
        if (kind != BS_PUSHBUTTON && kind != BS_DEFPUSHBUTTON)
            break;
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT r{};
        GetClientRect(h, &r);
        const int line = kind == BS_DEFPUSHBUTTON ? 2 : 1;
        FillSolid(dc, r, kind == BS_DEFPUSHBUTTON ? kDefaultButtonLine : kButtonLine);
        RECT face{r.left + line, r.top + line, r.right - line, r.bottom - line};
        FillSolid(dc, face, GetCapture() == h ? kPressedButtonFace : kButtonFace);
        DrawLabel(dc, h, reinterpret_cast<HFONT>(GetPropA(h, "AfxControlFont")), r, RGB(0, 0, 0),
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(h, &ps);
        return 0;
    }
    default:
        break;
    }
    return ControlDefault(h, m, w, l);
}

// Static texts let the pointer through to the window beneath, unless they ask for clicks.
LRESULT StaticProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCHITTEST && !(GetWindowLongPtrA(h, GWL_STYLE) & SS_NOTIFY))
        return HTTRANSPARENT;
    if (m == WM_PAINT) {
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(h, GWL_STYLE));
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT r{};
        GetClientRect(h, &r);
        FillSolid(dc, r, kFace);
        if ((style & kStaticTypeMask) == kStaticIcon) {
            if (auto icon = reinterpret_cast<HICON>(GetPropA(h, "AfxStaticIcon")))
                DrawIconEx(dc, 0, 0, icon, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0,
                           nullptr, DI_NORMAL);
        } else {
            UINT format = (style & kStaticNoPrefix) ? DT_NOPREFIX : 0u;
            if ((style & kStaticTypeMask) == kStaticCenter)
                format |= DT_CENTER;
            else if ((style & kStaticTypeMask) == kStaticRight)
                format |= DT_RIGHT;
            DrawLabel(dc, h, reinterpret_cast<HFONT>(GetPropA(h, "AfxControlFont")), r, RGB(0, 0, 0), format);
        }
        EndPaint(h, &ps);
        return 0;
    }
    if (m == WM_CREATE &&
        (static_cast<DWORD>(GetWindowLongPtrA(h, GWL_STYLE)) & kStaticTypeMask) == kStaticIcon) {
        // An icon control takes the size of its icon, whatever the template says.
        char name[32] = {0};
        GetWindowTextA(h, name, sizeof name);
        if (name[0] == '#')
            if (HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(std::atoi(name + 1)))) {
                SetPropA(h, "AfxStaticIcon", icon);
                SetWindowPos(h, nullptr, 0, 0, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
    }
    if (m == WM_DESTROY) {
        if (auto icon = reinterpret_cast<HICON>(RemovePropA(h, "AfxStaticIcon")))
            DestroyIcon(icon);
    }
    return ControlDefault(h, m, w, l);
}

void RegisterDialogClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &DefDlgProcA;
        wc.lpszClassName = "#32770";
        RegisterClassA(&wc);
        wc.lpfnWndProc = &ButtonProc;
        wc.lpszClassName = "Button";
        RegisterClassA(&wc);
        wc.lpfnWndProc = &StaticProc;
        wc.lpszClassName = "Static";
        RegisterClassA(&wc);
        for (const char* name : {"Edit", "ListBox", "ScrollBar", "ComboBox"}) {
            wc.lpfnWndProc = &ControlDefault;
            wc.lpszClassName = name;
            RegisterClassA(&wc);
        }
    });
}

HWND CreateFromTemplate(const void* data, size_t size, HWND hWndParent, DLGPROC proc, LPARAM param) {
    RegisterDialogClasses();
    DialogTemplate t;
    if (!data || !ParseTemplate(data, size, t))
        return nullptr;
    DlgInfo info;
    info.proc = proc;
    info.initParam = param;
    MakeFont(t, info);
    bool child = (t.style & WS_CHILD) != 0;
    info.caption = !child && (t.style & WS_CAPTION) == WS_CAPTION ? GetSystemMetrics(SM_CYCAPTION) : 0;
    int cx = Scale(t.cx, info.baseX, 4), cy = Scale(t.cy, info.baseY, 8) + info.caption;
    POINT origin{Scale(t.x, info.baseX, 4), Scale(t.y, info.baseY, 8)};
    if (hWndParent && !child && !(t.style & DS_ABSALIGN))
        ClientToScreen(hWndParent, &origin);
    if (t.style & DS_CENTER) {
        RECT around{};
        if (hWndParent)
            GetWindowRect(hWndParent, &around);
        else
            around = afxuser::CurrentPresenter().WorkArea();
        origin = POINT{around.left + (around.right - around.left - cx) / 2,
                       around.top + (around.bottom - around.top - cy) / 2};
    }
    DlgInfo* outer = t_creating;
    t_creating = &info;
    HWND dlg = CreateWindowExA(t.exStyle, t.className.empty() ? "#32770" : t.className.c_str(),
                               t.caption.c_str(), t.style & ~WS_VISIBLE, origin.x, origin.y, cx, cy,
                               hWndParent, nullptr, nullptr, nullptr);
    t_creating = outer;
    if (!dlg) {
        if (info.ownsFont)
            DeleteObject(info.font);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(g_dlgMx);
        Dialogs().try_emplace(dlg, info); // a window of another class did not file it itself
    }
    HWND firstTab = nullptr;
    for (const ItemTemplate& it : t.items) {
        if (it.className.empty())
            continue;
        // A control of a class that is not registered (an ActiveX control) is left out.
        HWND c = CreateWindowExA(it.exStyle, it.className.c_str(), it.text.c_str(), it.style | WS_CHILD,
                                 Scale(it.x, info.baseX, 4), Scale(it.y, info.baseY, 8) + info.caption,
                                 Scale(it.cx, info.baseX, 4), Scale(it.cy, info.baseY, 8), dlg,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(it.id)), nullptr, nullptr);
        if (!c)
            continue;
        SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(info.font), FALSE);
        if (!firstTab && (it.style & WS_TABSTOP))
            firstTab = c;
        if ((it.style & 0xF) == BS_DEFPUSHBUTTON && it.className == "Button")
            EditInfo(dlg, [&](DlgInfo& d) { d.defId = it.id; });
    }
    if (!IsWindow(dlg))
        return nullptr;
    LRESULT focus = SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param);
    if (!IsWindow(dlg))
        return nullptr;
    if (t.style & WS_VISIBLE) {
        ShowWindow(dlg, SW_SHOWNORMAL);
        if (focus && firstTab)
            SetFocus(firstTab);
    }
    return dlg;
}

bool FindTemplate(void* hInstance, LPCSTR name, const void*& data, size_t& size) {
    HMODULE mod = static_cast<HMODULE>(hInstance);
    HRSRC r = FindResourceA(mod, name, RT_DIALOG);
    if (!r)
        return false;
    HGLOBAL g = LoadResource(mod, r);
    data = LockResource(g);
    size = SizeofResource(mod, r);
    return data != nullptr;
}

} // namespace

namespace afxuser {

HWND CreateDialogFromTemplate(const void* data, size_t size, HWND hOwner, DLGPROC proc, LPARAM param) {
    return CreateFromTemplate(data, size, hOwner, proc, param);
}

bool DialogEnded(HWND hDlg, INT_PTR* pResult) {
    DlgInfo info;
    if (!GetInfo(hDlg, info))
        return true;
    if (pResult)
        *pResult = info.result;
    return info.ended;
}

HFONT DialogFont(HWND hDlg) {
    DlgInfo info;
    return GetInfo(hDlg, info) ? info.font : nullptr;
}

} // namespace afxuser

HWND CreateDialogIndirectParamA(void*, const void* lpTemplate, HWND hWndParent, DLGPROC lpDialogFunc,
                                LPARAM dwInitParam) {
    // An in-memory template without a size: the caller vouches for it.
    return CreateFromTemplate(lpTemplate, 1 << 20, hWndParent, lpDialogFunc, dwInitParam);
}

HWND CreateDialogParamA(void* hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
    const void* data = nullptr;
    size_t size = 0;
    if (!FindTemplate(hInstance, lpTemplateName, data, size))
        return nullptr;
    return CreateFromTemplate(data, size, hWndParent, lpDialogFunc, dwInitParam);
}

namespace {

INT_PTR RunModal(HWND dlg, HWND owner) {
    if (!dlg)
        return -1;
    if (owner)
        EnableWindow(owner, FALSE);
    if (!IsWindowVisible(dlg))
        ShowWindow(dlg, SW_SHOWNORMAL);
    MSG m;
    INT_PTR result = 0;
    while (IsWindow(dlg) && !afxuser::DialogEnded(dlg, &result)) {
        if (!GetMessageA(&m, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(m.wParam)); // the outer loop must see it too
            break;
        }
        if (!IsDialogMessageA(dlg, &m)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
    afxuser::DialogEnded(dlg, &result);
    if (owner) {
        EnableWindow(owner, TRUE);
        if (IsWindow(dlg) && GetActiveWindow() == dlg)
            SetActiveWindow(owner);
    }
    if (IsWindow(dlg))
        DestroyWindow(dlg);
    return result;
}

} // namespace

INT_PTR DialogBoxIndirectParamA(void* hInstance, const void* lpTemplate, HWND hWndParent,
                                DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    HWND owner = hWndParent ? GetAncestor(hWndParent, GA_ROOT) : nullptr;
    return RunModal(CreateDialogIndirectParamA(hInstance, lpTemplate, owner, lpDialogFunc, dwInitParam),
                    owner);
}

INT_PTR DialogBoxParamA(void* hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
    HWND owner = hWndParent ? GetAncestor(hWndParent, GA_ROOT) : nullptr;
    return RunModal(CreateDialogParamA(hInstance, lpTemplateName, owner, lpDialogFunc, dwInitParam), owner);
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
    bool found = false;
    EditInfo(hDlg, [&](DlgInfo& d) {
        d.ended = true;
        d.result = nResult;
        found = true;
    });
    if (!found)
        return FALSE;
    HWND owner = GetWindow(hDlg, GW_OWNER);
    if (owner)
        EnableWindow(owner, TRUE);
    ShowWindow(hDlg, SW_HIDE);
    // The modal loop may be waiting in GetMessage (EndDialog came from a sent message).
    PostMessageA(hDlg, WM_NULL, 0, 0);
    return TRUE;
}

LRESULT DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (t_creating) {
        std::lock_guard<std::mutex> lock(g_dlgMx);
        if (!Dialogs().count(hDlg)) {
            Dialogs()[hDlg] = *t_creating;
            t_creating = nullptr;
        }
    }
    DlgInfo info;
    bool known = GetInfo(hDlg, info);
    if (known && info.proc) {
        EditInfo(hDlg, [](DlgInfo& d) { d.msgResult = 0; });
        INT_PTR r = info.proc(hDlg, Msg, wParam, lParam);
        if (r) {
            if (Msg == WM_INITDIALOG || Msg == WM_QUERYDRAGICON)
                return r;
            DlgInfo now;
            return GetInfo(hDlg, now) ? now.msgResult : r;
        }
    }
    switch (Msg) {
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(known ? info.font : nullptr);
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
        return 0;
    case WM_ERASEBKGND:
        if (known && info.caption)
            return TRUE; // the painting covers it all
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    case WM_PAINT:
        if (known && info.caption) {
            PaintFramedDialog(hDlg, info);
            return 0;
        }
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    case WM_NCHITTEST:
        if (known && info.caption)
            return FramedHitTest(hDlg, info, lParam);
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    case WM_NCLBUTTONUP:
        if (known && info.caption && wParam == HTCLOSE)
            SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, lParam);
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    case DM_GETDEFID:
        return known ? MAKELONG(info.defId, DC_HASDEFID) : 0;
    case DM_SETDEFID:
        EditInfo(hDlg, [&](DlgInfo& d) { d.defId = static_cast<UINT>(wParam); });
        return TRUE;
    case WM_NCDESTROY: {
        DlgInfo gone;
        bool had = false;
        {
            std::lock_guard<std::mutex> lock(g_dlgMx);
            auto it = Dialogs().find(hDlg);
            if (it != Dialogs().end()) {
                gone = it->second;
                had = true;
                Dialogs().erase(it);
            }
        }
        if (had && gone.ownsFont)
            DeleteObject(gone.font);
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    }
    default:
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    }
}

BOOL IsDialogMessageA(HWND hDlg, LPMSG m) {
    if (!m || !hDlg || (m->hwnd != hDlg && !IsChild(hDlg, m->hwnd)))
        return FALSE;
    if (m->message == WM_KEYDOWN) {
        LRESULT code = SendMessageA(m->hwnd, WM_GETDLGCODE, m->wParam, reinterpret_cast<LPARAM>(m));
        if (!(code & DLGC_WANTALLKEYS) || m->hwnd == hDlg) {
            if (m->wParam == VK_RETURN) {
                LRESULT def = SendMessageA(hDlg, DM_GETDEFID, 0, 0);
                UINT id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
                SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hDlg, static_cast<int>(id))));
                return TRUE;
            }
            if (m->wParam == VK_ESCAPE) {
                SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
                return TRUE;
            }
            if (m->wParam == VK_TAB) {
                HWND next = GetNextDlgTabItem(hDlg, GetFocus(), GetKeyState(VK_SHIFT) < 0);
                if (next)
                    SetFocus(next);
                return TRUE;
            }
        }
    }
    TranslateMessage(m);
    DispatchMessageA(m);
    return TRUE;
}

BOOL MapDialogRect(HWND hDlg, LPRECT r) {
    DlgInfo info;
    if (!r || !GetInfo(hDlg, info))
        return FALSE;
    r->left = Scale(r->left, info.baseX, 4);
    r->right = Scale(r->right, info.baseX, 4);
    r->top = Scale(r->top, info.baseY, 8);
    r->bottom = Scale(r->bottom, info.baseY, 8);
    return TRUE;
}

LONG GetDialogBaseUnits() {
    static LONG units = [] {
        DialogTemplate none;
        DlgInfo info;
        MakeFont(none, info);
        return MAKELONG(info.baseX, info.baseY);
    }();
    return units;
}

HWND GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    std::vector<HWND> tabs;
    for (HWND c = GetWindow(hDlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        DWORD s = static_cast<DWORD>(GetWindowLongPtrA(c, GWL_STYLE));
        if ((s & WS_TABSTOP) && (s & WS_VISIBLE) && !(s & WS_DISABLED))
            tabs.push_back(c);
    }
    // Children are kept topmost first, the template's last control on top: tab order is the
    // template's, so the list runs backwards.
    std::vector<HWND> order(tabs.rbegin(), tabs.rend());
    if (order.empty())
        return nullptr;
    auto it = std::find(order.begin(), order.end(), hCtl);
    if (it == order.end())
        return bPrevious ? order.back() : order.front();
    size_t i = static_cast<size_t>(it - order.begin());
    size_t n = order.size();
    return order[bPrevious ? (i + n - 1) % n : (i + 1) % n];
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    return SetWindowTextA(GetDlgItem(hDlg, nIDDlgItem), lpString);
}

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    return static_cast<UINT>(GetWindowTextA(GetDlgItem(hDlg, nIDDlgItem), lpString, cchMax));
}

int GetDlgCtrlID(HWND hWnd) {
    return static_cast<int>(GetWindowLongPtrA(hWnd, GWLP_ID));
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    return afxuser::CurrentPresenter().AskMessageBox(hWnd, lpText ? lpText : "",
                                                     lpCaption ? lpCaption : "Error", uType);
}
