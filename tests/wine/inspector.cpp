// Reads a running Windows program from outside, for the end-to-end tests:
// its visible top-level windows and their controls, printed as one line of
// JSON. It runs in the program's Wine prefix, beside it.
//
//   inspector --exe PATH [--watch]       the process started from PATH
//   inspector --caption TEXT [--watch]   the process that shows a window so named
//
// With --watch it prints a reading for each line read from its input, until
// the input ends. Texts are read as UTF-16 (the W messages), whatever the
// code page, and every character beyond ASCII is written as a \u escape of
// its UTF-16 units: the output is ASCII, so valid UTF-8 on any console, and
// exact for any text, a lone surrogate too. Positions and sizes are in
// physical pixels, relative to the top-level window's client area; a
// control lists the identifier it was created with.
//
//   {"codePage": 1252, "found": true, "pid": 32, "windows": [
//     {"caption": "...", "className": "...", "enabled": true, "active": true,
//      "origin": [297, 165], "client": [429, 457],
//      "frame": [-3, -22, 435, 482], "controls": [
//        {"id": 1000, "className": "ListBox", "text": "", "box": [16, 48, 248, 144],
//         "inner": [18, 50, 244, 140], "enabled": true, "visible": true,
//         "focused": true, "items": ["..."], "itemBoxes": [[18, 50, 244, 15]],
//         "selection": -1}]}]}
#include <windows.h>

#include <string>
#include <vector>

namespace {

// A message to another process's window; a hung one answers 0.
LRESULT ask(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result))
        return 0;
    return LRESULT(result);
}

std::wstring textOf(HWND hwnd) {
    LRESULT length = ask(hwnd, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    std::wstring text(size_t(length) + 1, L'\0');
    LRESULT got = ask(hwnd, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? size_t(got) : 0);
    return text;
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[256];
    int n = GetClassNameW(hwnd, name, 256);
    return std::wstring(name, n > 0 ? size_t(n) : 0);
}

std::wstring imageOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return {};
    wchar_t path[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    std::wstring image;
    if (QueryFullProcessImageNameW(process, 0, path, &size)) image.assign(path, size);
    CloseHandle(process);
    return image;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// ---- JSON -----------------------------------------------------------------

class Json {
  public:
    const std::string& str() const { return out_; }

    Json& raw(const char* s) {
        out_ += s;
        return *this;
    }
    Json& key(const char* name) {
        comma();
        string(name);
        out_ += ": ";
        fresh_ = true;  // the value follows without a comma
        return *this;
    }
    Json& open(char bracket) {
        comma();
        out_ += bracket;
        fresh_ = true;
        return *this;
    }
    Json& close(char bracket) {
        out_ += bracket;
        fresh_ = false;
        return *this;
    }
    Json& number(long long value) {
        comma();
        out_ += std::to_string(value);
        return *this;
    }
    Json& boolean(bool value) {
        comma();
        out_ += value ? "true" : "false";
        return *this;
    }
    Json& null() {
        comma();
        out_ += "null";
        return *this;
    }
    Json& text(const std::wstring& s) {
        comma();
        out_ += '"';
        for (wchar_t unit : s) {
            if (unit == L'"' || unit == L'\\') {
                out_ += '\\';
                out_ += char(unit);
            } else if (unit >= 0x20 && unit < 0x7F) {
                out_ += char(unit);
            } else {
                static const char hex[] = "0123456789abcdef";
                const unsigned u = unit;
                out_ += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4) out_ += hex[(u >> shift) & 0xF];
            }
        }
        out_ += '"';
        return *this;
    }
    Json& box(const RECT& r) {
        open('[');
        number(r.left).number(r.top).number(r.right - r.left).number(r.bottom - r.top);
        return close(']');
    }
    Json& point(long x, long y) {
        open('[');
        number(x).number(y);
        return close(']');
    }

  private:
    void comma() {
        if (!fresh_) out_ += ", ";
        fresh_ = false;
    }
    void string(const char* s) {
        out_ += '"';
        out_ += s;
        out_ += '"';
    }

    std::string out_;
    bool fresh_ = true;
};

// ---- Reading the windows --------------------------------------------------

struct Target {
    std::wstring exe;      // the process's image, as Windows names it
    std::wstring caption;  // or a caption one of its windows shows
};

struct Collected {
    std::vector<HWND>* windows;
    DWORD pid;
};

BOOL CALLBACK collectTopLevel(HWND hwnd, LPARAM data) {
    auto* c = reinterpret_cast<Collected*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == c->pid && IsWindowVisible(hwnd)) c->windows->push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK collectChild(HWND hwnd, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(hwnd);
    return TRUE;
}

struct Found {
    const Target* target;
    DWORD pid;
};

BOOL CALLBACK findProcess(HWND hwnd, LPARAM data) {
    auto* f = reinterpret_cast<Found*>(data);
    if (!IsWindowVisible(hwnd)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    const bool matches = f->target->exe.empty() ? textOf(hwnd) == f->target->caption
                                                : sameText(imageOf(pid), f->target->exe);
    if (!matches) return TRUE;
    f->pid = pid;
    return FALSE;
}

// A rectangle on the screen, relative to the top-level window's client area.
RECT relativeTo(HWND top, RECT r) {
    MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT clientOnScreen(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void listBoxOf(Json& json, HWND top, HWND list) {
    const LRESULT count = ask(list, LB_GETCOUNT, 0, 0);
    json.key("items").open('[');
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = ask(list, LB_GETTEXTLEN, WPARAM(i), 0);
        std::wstring item(length > 0 ? size_t(length) + 1 : 1, L'\0');
        LRESULT got = ask(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(got > 0 ? size_t(got) : 0);
        json.text(item);
    }
    json.close(']');
    // Where each item lies: the list's client area from its top item down,
    // one item height a row.
    const LRESULT topIndex = ask(list, LB_GETTOPINDEX, 0, 0);
    const RECT inner = relativeTo(top, clientOnScreen(list));
    json.key("itemBoxes").open('[');
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT height = ask(list, LB_GETITEMHEIGHT, WPARAM(i), 0);
        const LONG itemTop = inner.top + LONG((i - topIndex) * height);
        json.box(RECT{inner.left, itemTop, inner.right, itemTop + LONG(height)});
    }
    json.close(']');
    json.key("selection").number(ask(list, LB_GETCURSEL, 0, 0));
}

void controlOf(Json& json, HWND top, HWND control, HWND focus) {
    RECT outer{};
    GetWindowRect(control, &outer);
    const std::wstring cls = classOf(control);
    json.open('{');
    json.key("id").number(GetDlgCtrlID(control));
    json.key("className").text(cls);
    json.key("text").text(textOf(control));
    json.key("box").box(relativeTo(top, outer));
    json.key("inner").box(relativeTo(top, clientOnScreen(control)));
    json.key("enabled").boolean(IsWindowEnabled(control));
    json.key("visible").boolean(IsWindowVisible(control));
    json.key("focused").boolean(control == focus);
    if (sameText(cls, L"ListBox")) listBoxOf(json, top, control);
    json.close('}');
}

void windowOf(Json& json, HWND top) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &thread);
    RECT outer{}, client{};
    GetWindowRect(top, &outer);
    GetClientRect(top, &client);
    const RECT origin = clientOnScreen(top);
    json.open('{');
    json.key("caption").text(textOf(top));
    json.key("className").text(classOf(top));
    json.key("enabled").boolean(IsWindowEnabled(top));
    json.key("active").boolean(thread.hwndActive == top);
    json.key("origin").point(origin.left, origin.top);
    json.key("client").point(client.right - client.left, client.bottom - client.top);
    json.key("frame").box(relativeTo(top, outer));
    std::vector<HWND> children;
    EnumChildWindows(top, collectChild, reinterpret_cast<LPARAM>(&children));
    json.key("controls").open('[');
    for (HWND child : children) controlOf(json, top, child, thread.hwndFocus);
    json.close(']');
    json.close('}');
}

std::string reading(const Target& target) {
    Json json;
    json.open('{');
    json.key("codePage").number(GetACP());
    Found found{&target, 0};
    EnumWindows(findProcess, reinterpret_cast<LPARAM>(&found));
    json.key("found").boolean(found.pid != 0);
    if (found.pid) {
        json.key("pid").number(found.pid);
        std::vector<HWND> windows;
        Collected collected{&windows, found.pid};
        EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&collected));
        // EnumWindows goes from the top of the z-order down; listed bottom first.
        json.key("windows").open('[');
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) windowOf(json, *it);
        json.close(']');
    }
    json.close('}');
    return json.str() + "\n";
}

void write(const std::string& s) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    for (size_t at = 0; at < s.size(); at += written) {
        if (!WriteFile(out, s.data() + at, DWORD(s.size() - at), &written, nullptr) || !written)
            return;
    }
}

// A line of input; false at its end.
bool readLine() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char c;
    DWORD got = 0;
    bool any = false;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        any = true;
        if (c == '\n') return true;
    }
    return any;
}

int usage() {
    write("usage: inspector (--exe PATH | --caption TEXT) [--watch]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Positions in physical pixels, whatever the DPI.
    if (!SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) &&
        !SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))
        SetProcessDPIAware();
    Target target;
    bool watch = false;
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--watch") {
            watch = true;
        } else if ((arg == L"--exe" || arg == L"--caption") && i + 1 < argc) {
            (arg == L"--exe" ? target.exe : target.caption) = argv[++i];
            named = true;
        } else {
            return usage();
        }
    }
    if (!named) return usage();
    if (!watch) {
        write(reading(target));
        return 0;
    }
    while (readLine()) write(reading(target));
    return 0;
}
