// The toolkit on Win32, on the W functions only.
//
// Texts are GBK in the program and UTF-16 here, converted with code page 936
// whatever the system's own code page is. Every table coordinate and font is
// scaled by the window's DPI / 96 (the manifest asks for per-monitor
// awareness v2). Keys are handled in the message loop rather than by
// IsDialogMessage, whose defaults press buttons on Enter. A destroy is a
// posted message, so it happens once the asking handler has returned to a
// loop.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellscalingapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/toolkit.h"

namespace quillory::toolkit {
namespace {

constexpr UINT gbkCodePage = 936;
constexpr wchar_t className[] = L"QuilloryWindow";
constexpr UINT destroyMessage = WM_APP + 1;  // carries out destroy()
constexpr UINT raiseMessage = WM_APP + 2;    // activates the topmost window
constexpr int firstControlId = 1000;

// ---- Texts ----------------------------------------------------------------

// GBK to UTF-16; a byte sequence that is not valid GBK shows as U+FFFD.
std::wstring wide(std::string_view gbk) {
    if (gbk.empty()) return {};
    int n = MultiByteToWideChar(gbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), int(gbk.size()),
                                nullptr, 0);
    if (n > 0) {
        std::wstring out(size_t(n), L'\0');
        MultiByteToWideChar(gbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), int(gbk.size()),
                            out.data(), n);
        return out;
    }
    // Not all valid: one character at a time, so each bad one is marked.
    std::wstring out;
    for (size_t i = 0; i < gbk.size();) {
        auto lead = static_cast<unsigned char>(gbk[i]);
        size_t length = 1;
        if (lead >= 0x81 && lead <= 0xFE) {
            // A lead byte before a byte that cannot trail stands alone, so
            // that a line break after it survives.
            if (i + 1 >= gbk.size() || static_cast<unsigned char>(gbk[i + 1]) < 0x40) {
                out += L'\uFFFD';
                ++i;
                continue;
            }
            length = 2;
        }
        wchar_t unit[2];
        int got = MultiByteToWideChar(gbkCodePage, MB_ERR_INVALID_CHARS, gbk.data() + i,
                                      int(length), unit, 2);
        if (got > 0) {
            out.append(unit, size_t(got));
        } else {
            out += L'\uFFFD';
        }
        i += length;
    }
    return out;
}

// UTF-16 to GBK; a character that GBK cannot hold becomes '?'.
Text narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    int n = WideCharToMultiByte(gbkCodePage, WC_NO_BEST_FIT_CHARS, utf16.data(), int(utf16.size()),
                                nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    Text out(size_t(n), '\0');
    WideCharToMultiByte(gbkCodePage, WC_NO_BEST_FIT_CHARS, utf16.data(), int(utf16.size()),
                        out.data(), n, nullptr, nullptr);
    return out;
}

bool holdsInGbk(const wchar_t* units, int count) {
    char bytes[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(gbkCodePage, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                int(sizeof bytes), nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}

// The first character that GBK cannot hold; a surrogate pair is one
// character, a lone surrogate counts as U+FFFD.
char32_t firstUnsavable(std::wstring_view s) {
    if (s.empty() || holdsInGbk(s.data(), int(s.size()))) return 0;
    for (size_t i = 0; i < s.size();) {
        wchar_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            if (!holdsInGbk(&s[i], 2))
                return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
            i += 2;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDFFF) return 0xFFFD;
        if (!holdsInGbk(&s[i], 1)) return u;
        ++i;
    }
    return 0;
}

std::wstring utf16(char32_t c) {
    if (c < 0x10000) return std::wstring(1, wchar_t(c));
    c -= 0x10000;
    return {wchar_t(0xD800 + (c >> 10)), wchar_t(0xDC00 + (c & 0x3FF))};
}

std::wstring windowText(HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) return {};
    std::wstring s(size_t(n) + 1, L'\0');
    s.resize(size_t(GetWindowTextW(hwnd, s.data(), n + 1)));
    return s;
}

// ---- Windows of the program -----------------------------------------------

struct ControlWindow {
    const Control* layout = nullptr;
    HWND hwnd = nullptr;
};

// A window that a modal load disabled, and whether it was enabled before.
struct Disabled {
    HWND hwnd;
    bool wasEnabled;
};

struct Instance {
    const Window* layout = nullptr;
    unsigned serial = 0;
    HWND hwnd = nullptr;
    std::vector<ControlWindow> controls;
    std::vector<HFONT> fonts;  // owned; deleted once the controls are gone
    HWND focus = nullptr;      // the control to give the focus to on activation
    std::vector<Disabled> disabled;
    bool restored = false;    // the disabled windows have their states back
    bool destroying = false;  // asked to go: no longer open for the program
    bool finishing = false;   // DestroyWindow is under way
};

std::vector<std::unique_ptr<Instance>> instances;  // bottom to top
unsigned lastSerial = 0;
bool mainLoopRunning = false;
HWND hiddenOwner = nullptr;

Instance* byHwnd(HWND hwnd) {
    for (auto& i : instances)
        if (i->hwnd == hwnd) return i.get();
    return nullptr;
}

Instance* bySerial(unsigned serial) {
    for (auto& i : instances)
        if (i->serial == serial) return i.get();
    return nullptr;
}

Instance* find(const Window& w) {
    for (auto& i : instances)
        if (i->layout == &w && !i->destroying) return i.get();
    return nullptr;
}

ControlWindow* control(const Window& w, std::string_view name) {
    Instance* i = find(w);
    if (!i) return nullptr;
    for (auto& c : i->controls)
        if (c.layout->name == name) return &c;
    return nullptr;
}

ControlWindow* controlOf(Instance* inst, HWND hwnd) {
    for (auto& c : inst->controls)
        if (c.hwnd == hwnd) return &c;
    return nullptr;
}

// Asked before the window shows too, so the control's own style is read,
// not whether it can be seen yet.
bool isTabStop(const ControlWindow& c) {
    return c.layout->kind != Kind::label && IsWindowEnabled(c.hwnd) &&
           (GetWindowLongW(c.hwnd, GWL_STYLE) & WS_VISIBLE);
}

bool isMultiLineEdit(const ControlWindow* c) {
    return c && c->layout->kind == Kind::editBox && (c->layout->style & multiLine);
}

// ---- Geometry and fonts ---------------------------------------------------

int scale(int pixels, UINT dpi) {
    return MulDiv(pixels, int(dpi), USER_DEFAULT_SCREEN_DPI);
}

HMONITOR primaryMonitor() {
    return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

UINT primaryDpi() {
    UINT x = USER_DEFAULT_SCREEN_DPI, y = USER_DEFAULT_SCREEN_DPI;
    if (FAILED(GetDpiForMonitor(primaryMonitor(), MDT_EFFECTIVE_DPI, &x, &y)))
        return GetDpiForSystem();
    return y;
}

DWORD windowStyle(const Window& layout) {
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (layout.titleBoxes & minimiseBox) style |= WS_MINIMIZEBOX;
    if (layout.titleBoxes & maximiseBox) style |= WS_MAXIMIZEBOX;
    return style;
}

// The outer size that gives the layout's client area at this DPI.
SIZE outerSize(const Window& layout, UINT dpi) {
    RECT r{0, 0, scale(clientWidth(layout), dpi), scale(clientHeight(layout), dpi)};
    AdjustWindowRectExForDpi(&r, windowStyle(layout), FALSE, 0, dpi);
    return {r.right - r.left, r.bottom - r.top};
}

RECT centredOnPrimary(SIZE size) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(primaryMonitor(), &info)) screen = info.rcMonitor;
    LONG left = screen.left + (screen.right - screen.left - size.cx) / 2;
    LONG top = screen.top + (screen.bottom - screen.top - size.cy) / 2;
    return {left, top, left + size.cx, top + size.cy};
}

// The system's GUI font for this DPI.
HFONT defaultFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return CreateFontIndirectW(&metrics.lfMessageFont);
    LOGFONTW font{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = MulDiv(font.lfHeight, int(dpi), int(GetDpiForSystem()));
    return CreateFontIndirectW(&font);
}

int CALLBACK noteFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool installed(const std::wstring& face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    face.copy(query.lfFaceName, LF_FACESIZE - 1);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &query, noteFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The named face, or where a system lacks it the same face under the name
// that system knows it by. Without any of them the font mapper picks a
// Chinese face by the character set.
std::wstring faceFor(std::string_view gbkFace) {
    static std::vector<std::pair<std::wstring, std::wstring>> known;  // asked for, found
    std::wstring face = wide(gbkFace);
    for (const auto& [asked, found] : known)
        if (asked == face) return found;
    std::vector<std::wstring> candidates{face};
    if (face == L"楷体_GB2312") candidates.insert(candidates.end(), {L"楷体", L"KaiTi"});
    if (face == L"黑体") candidates.push_back(L"SimHei");
    std::wstring found = face;
    for (const auto& candidate : candidates) {
        if (installed(candidate)) {
            found = candidate;
            break;
        }
    }
    known.emplace_back(face, found);
    return found;
}

HFONT namedFont(const Font& font, UINT dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -scale(font.height, dpi);
    lf.lfWeight = font.weight;
    lf.lfCharSet = GB2312_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    faceFor(font.face).copy(lf.lfFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectW(&lf);
}

// Places the controls and gives them their fonts for the DPI.
void applyDpi(Instance& inst, UINT dpi) {
    std::vector<HFONT> old = std::move(inst.fonts);
    inst.fonts.clear();
    HFONT standard = defaultFont(dpi);
    inst.fonts.push_back(standard);
    for (auto& c : inst.controls) {
        const Control& l = *c.layout;
        SetWindowPos(c.hwnd, nullptr, scale(l.left, dpi), scale(l.top, dpi), scale(l.width, dpi),
                     scale(l.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT font = standard;
        if (!l.font.face.empty()) {
            font = namedFont(l.font, dpi);
            inst.fonts.push_back(font);
        }
        SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        if (l.kind == Kind::listBox) {
            // One pixel more than the font's own item height.
            LRESULT height = SendMessageW(c.hwnd, LB_GETITEMHEIGHT, 0, 0);
            if (height > 0) SendMessageW(c.hwnd, LB_SETITEMHEIGHT, 0, MAKELPARAM(height + 1, 0));
        }
    }
    for (HFONT f : old) DeleteObject(f);
}

// ---- Focus and activation -------------------------------------------------

void noteFocus(Instance& inst) {
    HWND focus = GetFocus();
    if (focus && IsChild(inst.hwnd, focus)) inst.focus = focus;
}

// The control that last had the focus, else the first tab stop, else the
// window itself (a window of labels alone keeps the focus).
void giveFocus(Instance& inst) {
    if (inst.focus && IsWindow(inst.focus) && IsChild(inst.hwnd, inst.focus)) {
        SetFocus(inst.focus);
        return;
    }
    for (auto& c : inst.controls) {
        if (isTabStop(c)) {
            SetFocus(c.hwnd);
            return;
        }
    }
    SetFocus(inst.hwnd);
}

// A window asked to go is passed over: what it owned would go with it.
Instance* topmostEnabled() {
    for (auto it = instances.rbegin(); it != instances.rend(); ++it)
        if (!(*it)->destroying && IsWindowEnabled((*it)->hwnd)) return it->get();
    return nullptr;
}

void activate(Instance& inst) {
    if (IsIconic(inst.hwnd)) ShowWindow(inst.hwnd, SW_RESTORE);
    SetForegroundWindow(inst.hwnd);
}

// ---- Destroying -----------------------------------------------------------

void restoreDisabled(Instance& inst) {
    if (inst.restored) return;
    inst.restored = true;
    for (const auto& d : inst.disabled)
        if (Instance* other = byHwnd(d.hwnd); other && !other->finishing)
            EnableWindow(d.hwnd, d.wasEnabled);
}

// The windows below get their states back first, so that the window the
// user returns to is enabled when it is activated.
void finishDestroy(Instance& inst) {
    if (inst.finishing) return;
    inst.destroying = inst.finishing = true;
    restoreDisabled(inst);
    HWND hwnd = inst.hwnd;
    if (GetActiveWindow() == hwnd) {
        if (Instance* below = topmostEnabled()) SetActiveWindow(below->hwnd);
    }
    DestroyWindow(hwnd);  // the instance goes with WM_NCDESTROY
}

// Closed by the user: close box, Alt+F4 or Escape. No handler runs.
void closeNow(Instance& inst) {
    if (IsWindowEnabled(inst.hwnd)) finishDestroy(inst);
}

void forget(HWND hwnd) {
    auto it = std::find_if(instances.begin(), instances.end(),
                           [&](const auto& i) { return i->hwnd == hwnd; });
    if (it == instances.end()) return;
    restoreDisabled(**it);
    for (HFONT f : (*it)->fonts) DeleteObject(f);
    instances.erase(it);
    if (instances.empty() && mainLoopRunning) PostQuitMessage(0);
}

// ---- The window procedure -------------------------------------------------

LRESULT onCommand(Instance& inst, WPARAM wParam, LPARAM lParam) {
    ControlWindow* c = controlOf(&inst, reinterpret_cast<HWND>(lParam));
    if (!c || !c->layout->handler || inst.destroying) return 0;
    const WORD code = HIWORD(wParam);
    const bool clicked = c->layout->kind == Kind::button && code == BN_CLICKED;
    const bool selected = c->layout->kind == Kind::listBox && code == LBN_SELCHANGE;
    // The handler may load and destroy windows: inst is not touched after it.
    if (clicked || selected) c->layout->handler();
    return 0;
}

// Labels: the layout's colour on the button face. Other controls that ask
// (none of the program's, as they stay enabled and editable) get the default.
LRESULT onColourStatic(Instance& inst, HWND hwnd, HDC dc, HWND label) {
    ControlWindow* c = controlOf(&inst, label);
    if (!c || c->layout->kind != Kind::label)
        return DefWindowProcW(hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(label));
    const Colour colour = c->layout->colour;
    SetTextColor(dc, colour.set ? RGB(colour.red, colour.green, colour.blue)
                                : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Instance* inst = byHwnd(hwnd);
    if (!inst) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_COMMAND:
            return onCommand(*inst, wParam, lParam);
        case WM_CTLCOLORSTATIC:
            return onColourStatic(*inst, hwnd, reinterpret_cast<HDC>(wParam),
                                  reinterpret_cast<HWND>(lParam));
        case WM_CLOSE:
            closeNow(*inst);
            return 0;
        case destroyMessage:
            finishDestroy(*inst);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                noteFocus(*inst);
            } else if (!IsWindowEnabled(hwnd)) {
                // Reached through the taskbar while a modal window is open:
                // that window comes forward instead.
                PostMessageW(hwnd, raiseMessage, 0, 0);
            } else if (!HIWORD(wParam)) {
                giveFocus(*inst);
            }
            return 0;
        case raiseMessage:
            if (Instance* top = topmostEnabled(); top && top != inst && IsWindowVisible(top->hwnd))
                activate(*top);
            return 0;
        case WM_GETDPISCALEDSIZE: {
            *reinterpret_cast<SIZE*>(lParam) = outerSize(*inst->layout, UINT(wParam));
            return TRUE;
        }
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            UINT dpi = HIWORD(wParam);
            SIZE size = outerSize(*inst->layout, dpi);
            applyDpi(*inst, dpi);
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_NCDESTROY:
            forget(hwnd);
            return DefWindowProcW(hwnd, message, wParam, lParam);
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool registerClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    registered = RegisterClassExW(&wc) != 0;
    return registered;
}

// Owns the modal windows, which so have no taskbar button.
HWND modalOwner() {
    if (!hiddenOwner && registerClass())
        hiddenOwner = CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    return hiddenOwner;
}

// ---- Building -------------------------------------------------------------

struct ChildClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ChildClass childClass(const Control& l) {
    switch (l.kind) {
        case Kind::label: {
            DWORD style = SS_LEFT;
            if (l.style & noPrefix) style |= SS_NOPREFIX;
            if (l.style & verticallyCentred) style |= SS_CENTERIMAGE;
            return {L"STATIC", style, 0};
        }
        case Kind::button:
            return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
        case Kind::editBox:
            if (l.style & multiLine)
                return {L"EDIT",
                        ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP,
                        WS_EX_CLIENTEDGE};
            return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
        case Kind::listBox:
            return {L"LISTBOX",
                    LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_VSCROLL | WS_TABSTOP,
                    WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", SS_LEFT, 0};
}

Instance* build(const Window& layout, HWND owner) {
    if (!registerClass()) return nullptr;
    UINT dpi = primaryDpi();
    RECT place = centredOnPrimary(outerSize(layout, dpi));
    HINSTANCE module = GetModuleHandleW(nullptr);
    HWND hwnd = CreateWindowExW(0, className, wide(layout.caption).c_str(), windowStyle(layout),
                                place.left, place.top, place.right - place.left,
                                place.bottom - place.top, owner, nullptr, module, nullptr);
    if (!hwnd) return nullptr;
    auto inst = std::make_unique<Instance>();
    inst->layout = &layout;
    inst->serial = ++lastSerial;
    inst->hwnd = hwnd;
    Instance* built = inst.get();
    instances.push_back(std::move(inst));

    int id = firstControlId;
    for (const Control& l : layout.controls) {
        ChildClass cls = childClass(l);
        HWND child = CreateWindowExW(cls.exStyle, cls.name, wide(l.text).c_str(),
                                     WS_CHILD | WS_VISIBLE | cls.style, 0, 0, 0, 0, hwnd,
                                     reinterpret_cast<HMENU>(INT_PTR(id++)), module, nullptr);
        if (!child) {
            DestroyWindow(hwnd);
            return nullptr;
        }
        // Edit boxes take any length of text, typed or set.
        if (l.kind == Kind::editBox) SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
        built->controls.push_back({&l, child});
    }
    // The window may have opened on a monitor of another DPI than asked for.
    UINT actual = GetDpiForWindow(hwnd);
    if (actual && actual != dpi) {
        dpi = actual;
        place = centredOnPrimary(outerSize(layout, dpi));
        SetWindowPos(hwnd, nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    applyDpi(*built, dpi);
    for (auto& c : built->controls) {
        if (isTabStop(c)) {
            built->focus = c.hwnd;
            break;
        }
    }
    return built;
}

void show(Instance& inst, int how) {
    ShowWindow(inst.hwnd, how);
    UpdateWindow(inst.hwnd);
    if (GetActiveWindow() == inst.hwnd) giveFocus(inst);
}

// ---- Keyboard -------------------------------------------------------------

void moveFocus(Instance& inst, int step) {
    const int n = int(inst.controls.size());
    if (n == 0) return;
    HWND focus = GetFocus();
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (inst.controls[size_t(i)].hwnd == focus) at = i;
    int from = at >= 0 ? at : (step > 0 ? -1 : n);
    for (int k = 1; k <= n; ++k) {
        int next = ((from + step * k) % n + n) % n;
        ControlWindow& c = inst.controls[size_t(next)];
        if (!isTabStop(c)) continue;
        SetFocus(c.hwnd);
        // A one-line box is taken whole, as in a dialog.
        if (c.layout->kind == Kind::editBox && !(c.layout->style & multiLine))
            SendMessageW(c.hwnd, EM_SETSEL, 0, -1);
        return;
    }
}

// The keys the windows define for themselves; true when the key was used.
bool handleKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    if (msg.wParam != VK_ESCAPE && msg.wParam != VK_RETURN && msg.wParam != VK_TAB) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    Instance* inst = root ? byHwnd(root) : nullptr;
    if (!inst) return false;
    switch (msg.wParam) {
        case VK_ESCAPE:
            // A held key closes one window, not each one below it in turn.
            if (!(msg.lParam & (1 << 30))) SendMessageW(root, WM_CLOSE, 0, 0);
            return true;
        case VK_RETURN:
            // A line break in a multi-line box; nothing anywhere else.
            return !isMultiLineEdit(controlOf(inst, msg.hwnd));
        default:
            moveFocus(*inst, GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
            return true;
    }
}

void dispatch(const MSG& msg) {
    if (handleKey(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

// ---- The port -------------------------------------------------------------

bool load(const Window& window) {
    if (Instance* open = find(window)) {
        activate(*open);
        return true;
    }
    Instance* inst = build(window, nullptr);
    if (!inst) return false;
    unsigned serial = inst->serial;
    if (window.onCreated) window.onCreated();
    if (Instance* live = bySerial(serial); live && !live->destroying) show(*live, SW_SHOWDEFAULT);
    return true;
}

void loadModal(const Window& window) {
    if (Instance* open = find(window)) {
        activate(*open);
        return;
    }
    std::vector<Disabled> disabled;
    for (auto& other : instances) {
        if (other->finishing) continue;
        noteFocus(*other);
        disabled.push_back({other->hwnd, IsWindowEnabled(other->hwnd) != FALSE});
        EnableWindow(other->hwnd, FALSE);
    }
    Instance* inst = build(window, modalOwner());
    if (!inst) {
        for (const auto& d : disabled)
            if (byHwnd(d.hwnd)) EnableWindow(d.hwnd, d.wasEnabled);
        return;
    }
    inst->disabled = std::move(disabled);
    unsigned serial = inst->serial;
    if (window.onCreated) window.onCreated();
    // The created handler may have asked for the destroy already, and a
    // message box's loop may have carried it out.
    if (Instance* live = bySerial(serial); live && !live->destroying) show(*live, SW_SHOW);
    MSG msg;
    while (bySerial(serial)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The quit request is for the main loop below.
            PostQuitMessage(int(msg.wParam));
            return;
        }
        if (got < 0) return;
        dispatch(msg);
    }
}

void destroy(const Window& window) {
    Instance* inst = find(window);
    if (!inst) return;
    inst->destroying = true;
    PostMessageW(inst->hwnd, destroyMessage, 0, 0);
}

bool isOpen(const Window& window) {
    return find(window) != nullptr;
}

Text text(const Window& window, std::string_view name) {
    ControlWindow* c = control(window, name);
    return c ? narrow(windowText(c->hwnd)) : Text();
}

char32_t unsavableCharacter(const Window& window, std::string_view name) {
    ControlWindow* c = control(window, name);
    return c ? firstUnsavable(windowText(c->hwnd)) : 0;
}

void setText(const Window& window, std::string_view name, std::string_view value) {
    if (ControlWindow* c = control(window, name)) SetWindowTextW(c->hwnd, wide(value).c_str());
}

namespace {
HWND listBox(const Window& window, std::string_view name) {
    ControlWindow* c = control(window, name);
    return c && c->layout->kind == Kind::listBox ? c->hwnd : nullptr;
}
}  // namespace

void clearList(const Window& window, std::string_view name) {
    if (HWND list = listBox(window, name)) SendMessageW(list, LB_RESETCONTENT, 0, 0);
}

int addItem(const Window& window, std::string_view name, std::string_view value,
            std::int32_t itemValue) {
    HWND list = listBox(window, name);
    if (!list) return -1;
    std::wstring item = wide(value);
    LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    if (index < 0) return -1;
    SendMessageW(list, LB_SETITEMDATA, WPARAM(index), LPARAM(itemValue));
    return int(index);
}

std::int32_t itemValue(const Window& window, std::string_view name, int index) {
    HWND list = listBox(window, name);
    if (!list || index < 0 || index >= SendMessageW(list, LB_GETCOUNT, 0, 0)) return -1;
    return static_cast<std::int32_t>(SendMessageW(list, LB_GETITEMDATA, WPARAM(index), 0));
}

int selection(const Window& window, std::string_view name) {
    HWND list = listBox(window, name);
    if (!list) return -1;
    LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    return row < 0 ? -1 : int(row);
}

namespace {
void showBox(const std::wstring& text, std::string_view caption, Icon icon) {
    UINT type = MB_OK | (icon == Icon::error     ? MB_ICONERROR
                         : icon == Icon::warning ? MB_ICONWARNING
                                                 : MB_ICONINFORMATION);
    Instance* owner = topmostEnabled();
    MessageBoxW(owner ? owner->hwnd : nullptr, text.c_str(), wide(caption).c_str(), type);
}
}  // namespace

void messageBox(std::string_view text, std::string_view caption, Icon icon) {
    showBox(wide(text), caption, icon);
}

void messageBox(std::string_view before, char32_t character, std::string_view after,
                std::string_view caption, Icon icon) {
    showBox(wide(before) + utf16(character) + wide(after), caption, icon);
}

void runMainLoop() {
    if (instances.empty()) return;
    mainLoopRunning = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    mainLoopRunning = false;
}

}  // namespace quillory::toolkit
