// uidriver: looks at and works another program's windows the way a user would, for the end-to-end
// tests. It reads one command per line from standard input. Each answer is zero or more data lines,
// each starting with "| ", and then exactly one line starting with "ok" or "error", which also ends
// the answer: Wine's helper processes share our standard output, so a client reads up to that line
// and never to the end of the stream.
//
// Clicks and keys are posted, never sent: the program's handlers open modal boxes, and a sent click
// would block the driver until somebody closed them.

#include "tools/uidriver/Remote.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

class ECommand : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TRows = std::vector<std::string>;

// Texts go out on one line: tabs separate fields, so tabs, line ends and backslashes are escaped.
std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[8] = {static_cast<char>(c)};
        if (c < 0x20)
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : hex;
    }
    return out;
}

std::string HandleText(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

template <typename... T> std::string Fields(const T&... fields) {
    std::ostringstream out;
    bool first = true;
    ((out << (first ? "" : "\t") << fields, first = false), ...);
    return out.str();
}

// A whole number in decimal or 0x hex, the whole token.
long long ParseNumber(const std::string& token, const std::string& what) {
    try {
        size_t used = 0;
        long long value = std::stoll(token, &used, 0);
        if (used == token.size())
            return value;
    } catch (const std::logic_error&) {
    }
    throw ECommand("not " + what + ": " + token);
}

HWND ParseHandle(const std::string& token) {
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseNumber(token, "a window handle")));
    if (!IsWindow(window))
        throw ECommand("no such window: " + token);
    return window;
}

int ParseInt(const std::string& token) {
    return static_cast<int>(ParseNumber(token, "a number"));
}

// Splits off the first word; the rest of the line stays one argument (captions hold blanks).
std::string NextWord(std::string& rest) {
    size_t start = rest.find_first_not_of(' ');
    if (start == std::string::npos) {
        rest.clear();
        return {};
    }
    size_t end = rest.find(' ', start);
    std::string word = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    return word;
}

std::string RequireWord(std::string& rest, const char* what) {
    std::string word = NextWord(rest);
    if (word.empty())
        throw ECommand(std::string("missing ") + what);
    return word;
}

bool Visible(HWND window) {
    return IsWindowVisible(window) != FALSE;
}

// A user can click only what is shown and enabled, all the way up to the top-level window.
bool EnabledAllTheWay(HWND window) {
    for (HWND w = window; w; w = GetAncestor(w, GA_PARENT)) {
        if (w == GetDesktopWindow())
            break;
        if (!IsWindowEnabled(w))
            return false;
    }
    return true;
}

// A named callback, not a lambda: a lambda converts only to a pointer of the default calling
// convention, which a 32-bit build's enumeration procedure is not.
BOOL CALLBACK CollectWindow(HWND window, LPARAM list) noexcept {
    try {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> DirectChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// Z order is the reverse of the tab order for controls created in tab order; report creation order.
void CollectDescendants(HWND parent, std::vector<HWND>& out) {
    std::vector<HWND> children = DirectChildren(parent);
    for (HWND child : children) {
        out.push_back(child);
        CollectDescendants(child, out);
    }
}

RECT RectInParentClient(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    HWND parent = GetAncestor(window, GA_PARENT);
    if (parent && parent != GetDesktopWindow())
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string WindowTitle(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

TRows DescribeWindow(HWND window) {
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    char style[32];
    std::snprintf(style, sizeof style, "0x%08lx",
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
    return {
        Fields("hwnd", HandleText(window)),
        Fields("class", Escape(RemoteClassName(window))),
        Fields("text", Escape(RemoteText(window))),
        Fields("visible", Visible(window) ? 1 : 0),
        Fields("enabled", IsWindowEnabled(window) ? 1 : 0),
        Fields("rect", outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top),
        Fields("client", client.right, client.bottom),
        Fields("style", style),
        Fields("owner", HandleText(GetWindow(window, GW_OWNER))),
    };
}

HWND FindTopLevel(const std::string& caption, bool mustBeVisible) {
    for (HWND window : TopLevelWindows())
        if ((!mustBeVisible || Visible(window)) && WindowTitle(window) == caption)
            return window;
    return nullptr;
}

// Polls until found returns a window or the time is up.
HWND WaitFor(int timeoutMs, const std::function<HWND()>& found) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = found())
            return window;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return nullptr;
        Sleep(20);
    }
}

// ---- keys ----

const std::pair<const char*, WORD> KeyNames[] = {
    {"TAB", VK_TAB},   {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"UP", VK_UP},
    {"DOWN", VK_DOWN}, {"SHIFT", VK_SHIFT},   {"CTRL", VK_CONTROL},  {"ALT", VK_MENU},
};

WORD KeyCode(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    for (const auto& [keyName, key] : KeyNames)
        if (upper == keyName)
            return key;
    if (upper.size() == 1 && std::isalnum(static_cast<unsigned char>(upper[0])))
        return static_cast<WORD>(upper[0]);
    throw ECommand("unknown key: " + name);
}

bool ExtendedKey(WORD key) {
    return key == VK_UP || key == VK_DOWN;
}

void KeyEvent(WORD key, bool up) {
    DWORD flags = (up ? KEYEVENTF_KEYUP : 0) | (ExtendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0);
    keybd_event(static_cast<BYTE>(key), static_cast<BYTE>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)), flags, 0);
}

// "SHIFT+TAB" holds the modifiers around the last key, as a user's chord does.
void PressChord(const std::string& chord) {
    std::vector<WORD> keys;
    std::istringstream names(chord);
    for (std::string name; std::getline(names, name, '+');)
        keys.push_back(KeyCode(name));
    for (WORD key : keys)
        KeyEvent(key, false);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        KeyEvent(*key, true);
    // Each chord is its own user action: let the target's queue take it before the next one.
    Sleep(50);
}

void PressKeys(std::string rest) {
    bool any = false;
    for (std::string chord = NextWord(rest); !chord.empty(); chord = NextWord(rest)) {
        PressChord(chord);
        any = true;
    }
    if (!any)
        throw ECommand("missing keys");
}

// ---- message boxes ----

// The topmost visible top-level window of a class: "#32770" a message box, "#32768" a popup menu.
HWND VisibleTopLevel(const char* windowClass) {
    for (HWND window : TopLevelWindows())
        if (Visible(window) && RemoteClassName(window) == windowClass)
            return window;
    return nullptr;
}

HWND TopMessageBox() {
    return VisibleTopLevel("#32770");
}

std::vector<HWND> ThreadWindows(DWORD thread) {
    std::vector<HWND> windows;
    EnumThreadWindows(thread, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// A message sent to another thread is handled only when that thread next looks for messages, in
// whatever loop it is in then. A box that the thread shows on its way there, after whatever it
// was doing, exists once the round trip is back, though it may not be shown yet: a dialog shows
// itself once its loop finds the queue empty. So every message box of the thread is reported,
// shown or not, and no fixed wait stands in for "the thread got that far".
// A thread can be between windows when asked, as a program that quits once its box is closed is
// on its way out: it is waited for until it makes a window or ends. One that has ended shows no
// further box.
TRows MessageBoxesAfterRoundTrip(DWORD thread) {
    TUniqueHandle handle(OpenThread(SYNCHRONIZE, FALSE, thread));
    // A thread that cannot be opened is one that is gone already.
    auto Ended = [&handle]() { return !handle.Get() || WaitForSingleObject(handle.Get(), 0) == WAIT_OBJECT_0; };
    std::vector<HWND> windows;
    const DWORD start = GetTickCount();
    while ((windows = ThreadWindows(thread)).empty()) {
        if (Ended())
            return {};
        if (GetTickCount() - start >= 10000)
            throw ECommand("the thread has no window left and has not ended");
        Sleep(20);
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(windows.front(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result))
        throw ECommand("the thread does not answer");
    TRows rows;
    for (HWND window : ThreadWindows(thread))
        if (RemoteClassName(window) == "#32770")
            rows.push_back(Fields("box", HandleText(window)));
    return rows;
}

// The pixels of a size by size bitmap once draw has painted it on a memory DC.
std::vector<COLORREF> Pixels(int size, const std::function<void(HDC)>& draw) {
    std::vector<COLORREF> pixels(static_cast<size_t>(size) * size);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(size), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::vector<COLORREF> RenderIcon(HICON icon, int size, COLORREF background) {
    return Pixels(size, [&](HDC dc) {
        RECT all = {0, 0, size, size};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    });
}

bool Near(COLORREF a, COLORREF b) {
    auto channel = [](COLORREF c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    for (int shift : {0, 8, 16})
        if (std::abs(channel(a, shift) - channel(b, shift)) > 24)
            return false;
    return true;
}

// An icon handle of another process cannot be inspected, so the box's icon is told apart by its
// picture: the shown pixels are compared with each stock icon drawn here.
std::string IconKind(HWND iconControl) {
    if (!iconControl || !Visible(iconControl))
        return "none";
    struct TCandidate {
        LPCSTR Id;
        const char* Kind;
    };
    const TCandidate candidates[] = {{IDI_HAND, "error"},
                                     {IDI_EXCLAMATION, "warning"},
                                     {IDI_ASTERISK, "information"},
                                     {IDI_QUESTION, "question"}};
    int size = GetSystemMetrics(SM_CXICON);
    RECT rect;
    GetWindowRect(iconControl, &rect);
    const std::vector<COLORREF> shown = Pixels(size, [&](HDC dc) {
        HDC screen = GetDC(nullptr);
        BitBlt(dc, 0, 0, size, size, screen, rect.left, rect.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
    });
    std::string best = "unknown";
    double bestScore = 0.9;
    for (const TCandidate& candidate : candidates) {
        HICON icon = LoadIconA(nullptr, candidate.Id);
        std::vector<COLORREF> onBlack = RenderIcon(icon, size, RGB(0, 0, 0));
        std::vector<COLORREF> onWhite = RenderIcon(icon, size, RGB(255, 255, 255));
        int opaque = 0, same = 0;
        for (size_t i = 0; i < onBlack.size(); ++i) {
            if (onBlack[i] != onWhite[i])
                continue;
            ++opaque;
            same += Near(onBlack[i], shown[i]) ? 1 : 0;
        }
        double score = opaque ? static_cast<double>(same) / opaque : 0;
        if (score > bestScore) {
            bestScore = score;
            best = candidate.Kind;
        }
    }
    return best;
}

struct TMessageBoxParts {
    HWND Icon = nullptr;
    std::string Text;
    std::vector<HWND> Buttons;
};

TMessageBoxParts MessageBoxParts(HWND box) {
    TMessageBoxParts parts;
    for (HWND child : DirectChildren(box)) {
        std::string cls = RemoteClassName(child);
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (_stricmp(cls.c_str(), "Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON)
                parts.Icon = child;
            else if (Visible(child))
                parts.Text += RemoteText(child);
        } else if (_stricmp(cls.c_str(), "Button") == 0 && Visible(child)) {
            parts.Buttons.push_back(child);
        }
    }
    return parts;
}

TRows DescribeMessageBox(HWND box) {
    TMessageBoxParts parts = MessageBoxParts(box);
    // The box may not have painted its icon yet when it has just appeared.
    std::string icon = "unknown";
    for (int attempt = 0; attempt < 25 && icon == "unknown"; ++attempt) {
        if (attempt)
            Sleep(40);
        icon = IconKind(parts.Icon);
    }
    TRows rows = {Fields("hwnd", HandleText(box)), Fields("title", Escape(WindowTitle(box))),
                  Fields("icon", icon), Fields("text", Escape(parts.Text))};
    for (HWND button : parts.Buttons)
        rows.push_back(Fields("button", Escape(RemoteText(button))));
    return rows;
}

// ---- the notification area ----

std::vector<HWND> TrayIcons() {
    HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
    if (!tray)
        return {};
    std::vector<HWND> icons = DirectChildren(tray);
    std::reverse(icons.begin(), icons.end());
    return icons;
}

HWND TrayIcon(std::string& rest) {
    std::string word = NextWord(rest);
    size_t index = word.empty() ? 0 : static_cast<size_t>(ParseInt(word));
    std::vector<HWND> icons = TrayIcons();
    if (index >= icons.size())
        throw ECommand("no tray icon " + std::to_string(index) + " (" + std::to_string(icons.size()) +
                       " shown)");
    return icons[index];
}

void PostMouse(HWND window, std::initializer_list<UINT> messages) {
    for (UINT message : messages)
        PostMessageA(window, message, message == WM_LBUTTONUP || message == WM_RBUTTONUP ? 0 : MK_LBUTTON,
                     MAKELPARAM(8, 8));
}

HWND VisiblePopupMenu() {
    return VisibleTopLevel("#32768");
}

// ---- commands ----

// A command takes the rest of its line and answers its data rows.
using TCommand = std::function<TRows(std::string&)>;

TRows Children(std::string& rest) {
    HWND parent = ParseHandle(RequireWord(rest, "window"));
    std::vector<HWND> all;
    CollectDescendants(parent, all);
    TRows rows;
    for (HWND child : all) {
        RECT r = RectInParentClient(child);
        rows.push_back(Fields(HandleText(child), HandleText(GetAncestor(child, GA_PARENT)),
                              GetDlgCtrlID(child), Escape(RemoteClassName(child)), Visible(child) ? 1 : 0,
                              IsWindowEnabled(child) ? 1 : 0, r.left, r.top, r.right - r.left,
                              r.bottom - r.top, Escape(RemoteText(child))));
    }
    return rows;
}

// Entries are read in UTF-16: Wine hands the entries of another process's combo box to an 8-bit
// caller as UTF-16 all the same.
std::vector<std::string> ComboEntries(HWND combo) {
    LRESULT count = SendRemote(combo, CB_GETCOUNT, 0, 0);
    std::vector<std::string> entries;
    for (LRESULT i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0, SMTO_ABORTIFHUNG, 5000,
                                 &length) ||
            static_cast<LRESULT>(length) < 0)
            throw ECommand("cannot read entry " + std::to_string(i));
        std::wstring wide(length + 1, L'\0');
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                 reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, 5000, &got))
            throw ECommand("cannot read entry " + std::to_string(i));
        wide.resize(std::min<size_t>(got, length));
        std::string item(wide.size() * 2 + 1, '\0');
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), item.data(),
                                        static_cast<int>(item.size()), nullptr, nullptr);
        item.resize(static_cast<size_t>(std::max(bytes, 0)));
        entries.push_back(item);
    }
    return entries;
}

TRows Combo(std::string& rest) {
    HWND combo = ParseHandle(RequireWord(rest, "combo box"));
    TRows rows = {std::to_string(SendRemote(combo, CB_GETCURSEL, 0, 0))};
    for (const std::string& entry : ComboEntries(combo))
        rows.push_back(Escape(entry));
    return rows;
}

void SelectComboIndex(HWND combo, int index) {
    if (!EnabledAllTheWay(combo) || !Visible(combo))
        throw ECommand("combo box is disabled or hidden");
    LRESULT count = SendRemote(combo, CB_GETCOUNT, 0, 0);
    if (index < 0 || index >= count)
        throw ECommand("no entry " + std::to_string(index));
    SendRemote(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A user's choice is announced to the parent; CB_SETCURSEL alone announces nothing.
    HWND parent = GetAncestor(combo, GA_PARENT);
    int id = GetDlgCtrlID(combo);
    PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), reinterpret_cast<LPARAM>(combo));
}

TRows Select(std::string& rest) {
    HWND combo = ParseHandle(RequireWord(rest, "combo box"));
    std::vector<std::string> entries = ComboEntries(combo);
    auto found = std::find(entries.begin(), entries.end(), rest);
    if (found == entries.end())
        throw ECommand("no entry \"" + rest + "\"");
    SelectComboIndex(combo, static_cast<int>(found - entries.begin()));
    return {};
}

TRows StatusPanels(std::string& rest) {
    HWND bar = ParseHandle(RequireWord(rest, "status bar"));
    constexpr int MaxParts = 256;
    TRemoteBuffer buffer(bar, 4096);
    LRESULT parts = SendRemote(bar, SB_GETPARTS, MaxParts, buffer.Address());
    std::vector<char> edges =
        buffer.Read(sizeof(int) * static_cast<size_t>(std::clamp<LRESULT>(parts, 0, MaxParts)));
    TRows rows;
    for (LRESULT i = 0; i < parts; ++i) {
        int edge;
        std::memcpy(&edge, edges.data() + sizeof(int) * static_cast<size_t>(i), sizeof edge);
        if (LOWORD(SendRemote(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(i), 0)) >= 4000)
            throw ECommand("panel text too long");
        // The length the copy itself reports: a text set between a length query and the copy
        // would otherwise come back cut to the old text's length.
        const LRESULT length = LOWORD(SendRemote(bar, SB_GETTEXTA, static_cast<WPARAM>(i), buffer.Address()));
        if (length >= 4000)
            throw ECommand("panel text too long");
        std::vector<char> raw = buffer.Read(static_cast<size_t>(length));
        std::string text(raw.begin(), raw.end());
        // The bar draws a text after one tab centred and after two right-aligned.
        const char* alignment = "left";
        if (text.rfind("\t\t", 0) == 0) {
            alignment = "right";
            text.erase(0, 2);
        } else if (text.rfind("\t", 0) == 0) {
            alignment = "center";
            text.erase(0, 1);
        }
        rows.push_back(Fields(edge, alignment, Escape(text)));
    }
    return rows;
}

TRows Click(std::string& rest) {
    // Several buttons are checked first and then posted together, so that the second click is
    // already queued when the first one's handler starts its wait, however busy the machine is.
    std::vector<HWND> controls{ParseHandle(RequireWord(rest, "control"))};
    for (std::string word = NextWord(rest); !word.empty(); word = NextWord(rest))
        controls.push_back(ParseHandle(word));
    for (HWND control : controls) {
        if (!Visible(control))
            throw ECommand("control is hidden");
        if (!EnabledAllTheWay(control))
            throw ECommand("control is disabled");
    }
    for (HWND control : controls)
        PostMessageA(control, BM_CLICK, 0, 0);
    return {};
}

GUITHREADINFO ForegroundThreadInfo() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(0, &info))
        throw ECommand("no foreground thread");
    return info;
}

TRows Focus(std::string&) {
    GUITHREADINFO info = ForegroundThreadInfo();
    return {Fields("active", HandleText(info.hwndActive)), Fields("focus", HandleText(info.hwndFocus))};
}

// Asks the windows nothing: a program busy outside its message loop still has a foreground.
TRows Active(std::string&) {
    return {Fields("active", HandleText(ForegroundThreadInfo().hwndActive))};
}

TRows MessageBoxInfo(std::string& rest) {
    std::string word = NextWord(rest);
    int timeout = word.empty() ? 0 : ParseInt(word);
    HWND box = WaitFor(timeout, TopMessageBox);
    if (!box)
        throw ECommand("no message box");
    return DescribeMessageBox(box);
}

// The box named by its handle, or else the topmost one, waited for up to five seconds. Answers
// the message boxes its thread has once it has gone on from this one (see
// MessageBoxesAfterRoundTrip): the box is destroyed only after its loop has ended, so the round
// trip is answered by the code that comes after it, not by the closing box.
TRows Dismiss(std::string& rest) {
    std::string word = NextWord(rest);
    HWND box = word.empty() ? WaitFor(5000, TopMessageBox) : ParseHandle(word);
    if (!box)
        throw ECommand("no message box");
    std::vector<HWND> buttons = MessageBoxParts(box).Buttons;
    if (buttons.empty())
        throw ECommand("message box has no button");
    const DWORD thread = GetWindowThreadProcessId(box, nullptr);
    PostMessageA(buttons.front(), BM_CLICK, 0, 0);
    if (!WaitFor(5000, [box]() { return IsWindow(box) ? nullptr : box; }))
        throw ECommand("message box stays open");
    return MessageBoxesAfterRoundTrip(thread);
}

TRows Tray(std::string&) {
    TRows rows;
    for (HWND icon : TrayIcons()) {
        RECT r;
        GetWindowRect(icon, &r);
        rows.push_back(Fields(HandleText(icon), r.left, r.top, r.right - r.left, r.bottom - r.top));
    }
    return rows;
}

TRows TrayMenu(std::string& rest) {
    HWND icon = TrayIcon(rest);
    if (VisiblePopupMenu())
        throw ECommand("a menu is already open");
    PostMouse(icon, {WM_RBUTTONDOWN, WM_RBUTTONUP});
    if (!WaitFor(5000, VisiblePopupMenu))
        throw ECommand("no menu opened");
    // The menu takes keys only once its loop runs; it is shown just before.
    Sleep(100);
    PressKeys(rest);
    if (!WaitFor(5000, []() { return VisiblePopupMenu() ? nullptr : GetDesktopWindow(); }))
        throw ECommand("menu stays open");
    return {};
}

const std::map<std::string, TCommand>& Commands() {
    static const std::map<std::string, TCommand> commands = {
        // find CAPTION: a top-level window with exactly this caption
        {"find",
         [](std::string& rest) {
             HWND window = FindTopLevel(rest, false);
             if (!window)
                 throw ECommand("no window \"" + rest + "\"");
             return DescribeWindow(window);
         }},
        // findclass CLASS: a top-level window of this class, shown or not
        {"findclass",
         [](std::string& rest) {
             for (HWND window : TopLevelWindows())
                 if (RemoteClassName(window) == rest)
                     return DescribeWindow(window);
             throw ECommand("no window of class \"" + rest + "\"");
         }},
        // wait MS CAPTION: waits up to MS for a visible top-level window with this caption
        {"wait",
         [](std::string& rest) {
             int timeout = ParseInt(RequireWord(rest, "time-out"));
             HWND window = WaitFor(timeout, [&rest]() { return FindTopLevel(rest, true); });
             if (!window)
                 throw ECommand("no visible window \"" + rest + "\"");
             return DescribeWindow(window);
         }},
        // window HWND: class, text, state, outer rectangle, client size, styles, owner
        {"window",
         [](std::string& rest) { return DescribeWindow(ParseHandle(RequireWord(rest, "window"))); }},
        // children HWND: every descendant: hwnd parent id class visible enabled x y w h text (x, y in the
        //   parent's client area)
        {"children", Children},
        // text HWND: the control's text
        {"text",
         [](std::string& rest) {
             return TRows{Escape(RemoteText(ParseHandle(RequireWord(rest, "control"))))};
         }},
        // checked HWND: 0 unchecked, 1 checked, 2 indeterminate
        {"checked",
         [](std::string& rest) {
             HWND box = ParseHandle(RequireWord(rest, "check box"));
             return TRows{std::to_string(SendRemote(box, BM_GETCHECK, 0, 0))};
         }},
        // combo HWND: the selected index (-1 for none), then every entry
        {"combo", Combo},
        // select HWND TEXT: chooses the entry with this text
        {"select", Select},
        // status HWND: each panel: right edge, alignment, text
        {"status", StatusPanels},
        // click HWND...: clicks buttons or check boxes, posted one after another
        {"click", Click},
        // press HWND: a left click in the middle of a window that is no button, such as a label (posted)
        {"press",
         [](std::string& rest) {
             HWND window = ParseHandle(RequireWord(rest, "window"));
             if (!Visible(window) || !EnabledAllTheWay(window))
                 throw ECommand("window is hidden or disabled");
             RECT r;
             GetClientRect(window, &r);
             LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2);
             PostMessageA(window, WM_MOUSEMOVE, 0, middle);
             PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
             PostMessageA(window, WM_LBUTTONUP, 0, middle);
             return TRows{};
         }},
        // keys CHORD...: types keys at the focused window, e.g. TAB SHIFT+TAB RETURN X
        {"keys",
         [](std::string& rest) {
             PressKeys(rest);
             return TRows{};
         }},
        // activate HWND: brings a top-level window to the foreground
        {"activate",
         [](std::string& rest) {
             HWND window = ParseHandle(RequireWord(rest, "window"));
             SetForegroundWindow(window);
             if (!WaitFor(2000, [window]() { return GetForegroundWindow() == window ? window : nullptr; }))
                 throw ECommand("window did not come to the foreground");
             return TRows{};
         }},
        // close HWND: closes a top-level window as its close box does (posted)
        {"close",
         [](std::string& rest) {
             HWND window = ParseHandle(RequireWord(rest, "window"));
             PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
             return TRows{};
         }},
        // send HWND MSG WPARAM LPARAM: sends a message (numbers in decimal or 0x hex), waiting up to 10 s;
        //   answers the result
        {"send",
         [](std::string& rest) {
             HWND window = ParseHandle(RequireWord(rest, "window"));
             auto Number = [&](const char* What) {
                 return static_cast<std::uintptr_t>(ParseNumber(RequireWord(rest, What), What));
             };
             const UINT message = static_cast<UINT>(Number("message"));
             const WPARAM wparam = Number("wparam");
             const LPARAM lparam = static_cast<LPARAM>(Number("lparam"));
             DWORD_PTR result = 0;
             if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, 10000, &result))
                 throw ECommand("no answer");
             return TRows{std::to_string(result)};
         }},
        // settext HWND TEXT: replaces a window's text behind its program's back
        {"settext",
         [](std::string& rest) {
             HWND window = ParseHandle(RequireWord(rest, "window"));
             DWORD_PTR result = 0;
             if (!SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest.c_str()),
                                      SMTO_ABORTIFHUNG, 2000, &result))
                 throw ECommand("the window did not take the text");
             return TRows{};
         }},
        // focus: the active window and the control with the keyboard focus
        {"focus", Focus},
        // active: the active window alone, without a message to any window
        {"active", Active},
        // msgbox [MS]: waits up to MS for a message box: hwnd, title, icon, text, buttons
        {"msgbox", MessageBoxInfo},
        // dismiss [HWND]: clicks the first button of the box (the topmost by default), waits until it is
        //   gone, then answers "box HWND" for every message box its thread has made since
        {"dismiss", Dismiss},
        // settle HWND: a round trip through the thread of HWND, then "box HWND" for every message box
        //   of that thread, shown or not yet shown
        {"settle",
         [](std::string& rest) {
             return MessageBoxesAfterRoundTrip(
                 GetWindowThreadProcessId(ParseHandle(RequireWord(rest, "window")), nullptr));
         }},
        // tray: the notification-area icons, oldest first: hwnd x y w h
        {"tray", Tray},
        // traydblclick [N]: a double click on tray icon N
        {"traydblclick",
         [](std::string& rest) {
             PostMouse(TrayIcon(rest), {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
             return TRows{};
         }},
        // traymenu N CHORD...: opens tray icon N's menu and picks an item by keys
        {"traymenu", TrayMenu},
        // sleep MS
        {"sleep",
         [](std::string& rest) {
             Sleep(static_cast<DWORD>(std::max(0, ParseInt(RequireWord(rest, "time")))));
             return TRows{};
         }},
    };
    return commands;
}

void Answer(const TRows& rows, const std::string& status) {
    for (const std::string& row : rows)
        std::cout << "| " << row << '\n';
    std::cout << status << std::endl;
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string rest = line;
        std::string name = NextWord(rest);
        if (name.empty())
            continue;
        if (name == "quit") {
            Answer({}, "ok");
            break;
        }
        auto command = Commands().find(name);
        if (command == Commands().end()) {
            Answer({}, "error unknown command: " + name);
            continue;
        }
        try {
            Answer(command->second(rest), "ok");
        } catch (const std::exception& error) {
            Answer({}, std::string("error ") + error.what());
        }
    }
    return 0;
}
