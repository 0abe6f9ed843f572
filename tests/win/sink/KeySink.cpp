// KeySink: a focused window that records every key it receives, for the keystroke and end-to-end
// tests. Two views of each key event are kept: the low-level keyboard hook (what was injected:
// virtual key, scan code, up or down) and the window's own keyboard messages, plus the text its
// WM_CHAR messages spell.
//
//   KeySink.exe [--title CAPTION] [--log FILE] [--unicode]
//
// With --unicode the window is a Unicode window, whose WM_CHAR messages carry UTF-16 characters;
// without it, an ANSI window, to which the system hands text in the ANSI code page.
//
// It prints "READY <window handle in hex>" once its window is up and has asked for the focus, then
// takes commands on standard input, one a line:
//   report  wait until no key has arrived for a quarter of a second, then print what was received
//           since the last clear, ending with the line "END"
//   clear   forget everything received so far; prints "OK"
//   focus   bring the window to the front and take the keyboard focus; prints "OK"
//   quit    close the window and end; prints "BYE"
// With --log, every event is also appended to FILE as it arrives, one line each, in the same format
// as the report. Standard input may be absent (a user running it by hand): the window then stays
// until it is closed.
//
// Report lines:
//   HOOK <vk hex> <scan code> DOWN|UP      one per low-level hook call, in order
//   MSG <vk hex> <scan code> DOWN|UP       one per WM_(SYS)KEYDOWN / WM_(SYS)KEYUP, in order
//   TEXT <text>                            the WM_CHAR characters; \r, \n, \t, \\, \xNN (a code up to
//                                          FF) and \uNNNN (above FF, a Unicode window's) escaped
//   CAPS ON|OFF                            the Caps Lock toggle state as this window's thread sees it

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT WM_SINK_COMMAND = WM_APP + 1; // wParam: the command code
constexpr UINT_PTR ReportTimerId = 1;
constexpr DWORD QuietMs = 250;

enum SinkCommand : WPARAM { cmdReport, cmdClear, cmdFocus, cmdQuit };

struct KeyEvent {
    unsigned VirtualKey;
    unsigned ScanCode;
    bool Up;
};

struct Sink {
    HWND Window = nullptr;
    HHOOK Hook = nullptr;
    FILE* Log = nullptr;
    std::vector<KeyEvent> HookEvents;
    std::vector<KeyEvent> MessageEvents;
    bool Unicode = false;
    // An ANSI window's bytes, or a Unicode window's UTF-16 characters, one code each.
    std::wstring Text;
    DWORD LastEventTick = 0;
    bool ReportPending = false;
};

Sink TheSink;
std::mutex OutputLock;

void WriteOut(const std::string& Line) {
    std::lock_guard<std::mutex> Guard(OutputLock);
    const std::string WithNewline = Line + "\n";
    DWORD Written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), WithNewline.data(), static_cast<DWORD>(WithNewline.size()),
              &Written, nullptr);
}

std::string Escape(const std::wstring& Text) {
    std::string Result;
    for (const wchar_t C : Text) {
        switch (C) {
        case '\r':
            Result += "\\r";
            break;
        case '\n':
            Result += "\\n";
            break;
        case '\t':
            Result += "\\t";
            break;
        case '\\':
            Result += "\\\\";
            break;
        default:
            if (C < 0x20 || C >= 0x7F) {
                char Hex[8];
                std::snprintf(Hex, sizeof Hex, C > 0xFF ? "\\u%04X" : "\\x%02X", static_cast<unsigned>(C));
                Result += Hex;
            } else {
                Result += static_cast<char>(C);
            }
        }
    }
    return Result;
}

std::string EventLine(const char* Source, const KeyEvent& Event) {
    char Line[64];
    std::snprintf(Line, sizeof Line, "%s %02X %u %s", Source, Event.VirtualKey, Event.ScanCode,
                  Event.Up ? "UP" : "DOWN");
    return Line;
}

void LogLine(const std::string& Line) {
    if (!TheSink.Log)
        return;
    std::fputs((Line + "\n").c_str(), TheSink.Log);
    std::fflush(TheSink.Log);
}

void Record(std::vector<KeyEvent>& Events, const char* Source, const KeyEvent& Event) {
    Events.push_back(Event);
    TheSink.LastEventTick = GetTickCount();
    LogLine(EventLine(Source, Event));
}

LRESULT CALLBACK LowLevelKeyboardProc(int Code, WPARAM wParam, LPARAM lParam) {
    if (Code == HC_ACTION) {
        const auto* Info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        Record(TheSink.HookEvents, "HOOK",
               KeyEvent{Info->vkCode, Info->scanCode, (Info->flags & LLKHF_UP) != 0});
    }
    return CallNextHookEx(nullptr, Code, wParam, lParam);
}

void TakeFocus() {
    ShowWindow(TheSink.Window, SW_SHOWNORMAL);
    SetForegroundWindow(TheSink.Window);
    SetActiveWindow(TheSink.Window);
    SetFocus(TheSink.Window);
}

void Report() {
    for (const KeyEvent& Event : TheSink.HookEvents)
        WriteOut(EventLine("HOOK", Event));
    for (const KeyEvent& Event : TheSink.MessageEvents)
        WriteOut(EventLine("MSG", Event));
    WriteOut("TEXT " + Escape(TheSink.Text));
    WriteOut(std::string("CAPS ") + ((GetKeyState(VK_CAPITAL) & 1) ? "ON" : "OFF"));
    WriteOut("END");
}

void HandleCommand(WPARAM Command) {
    switch (Command) {
    case cmdReport:
        // Keys still on their way are processed first: the report waits for a quiet spell.
        TheSink.ReportPending = true;
        SetTimer(TheSink.Window, ReportTimerId, 50, nullptr);
        break;
    case cmdClear:
        TheSink.HookEvents.clear();
        TheSink.MessageEvents.clear();
        TheSink.Text.clear();
        InvalidateRect(TheSink.Window, nullptr, TRUE);
        WriteOut("OK");
        break;
    case cmdFocus:
        TakeFocus();
        WriteOut("OK");
        break;
    case cmdQuit:
        DestroyWindow(TheSink.Window);
        break;
    }
}

LRESULT CALLBACK SinkWndProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
    switch (Message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        const bool Up = Message == WM_KEYUP || Message == WM_SYSKEYUP;
        Record(TheSink.MessageEvents, "MSG",
               KeyEvent{static_cast<unsigned>(wParam), static_cast<unsigned>((lParam >> 16) & 0xFF), Up});
        // F10 and Alt would open the (absent) system menu loop and swallow the next keys.
        return 0;
    }
    case WM_CHAR: {
        // An ANSI window gets a byte of the code page.
        const wchar_t Character =
            TheSink.Unicode ? static_cast<wchar_t>(wParam) : static_cast<unsigned char>(wParam);
        TheSink.Text += Character;
        TheSink.LastEventTick = GetTickCount();
        LogLine("CHAR " + Escape(std::wstring(1, Character)));
        InvalidateRect(Window, nullptr, TRUE);
        return 0;
    }
    case WM_SINK_COMMAND:
        HandleCommand(wParam);
        return 0;
    case WM_TIMER:
        if (wParam == ReportTimerId && TheSink.ReportPending &&
            GetTickCount() - TheSink.LastEventTick >= QuietMs) {
            KillTimer(Window, ReportTimerId);
            TheSink.ReportPending = false;
            Report();
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT Paint;
        HDC Dc = BeginPaint(Window, &Paint);
        RECT Client;
        GetClientRect(Window, &Client);
        const std::string Shown = "Received: " + Escape(TheSink.Text);
        DrawTextA(Dc, Shown.c_str(), -1, &Client, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        EndPaint(Window, &Paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return TheSink.Unicode ? DefWindowProcW(Window, Message, wParam, lParam)
                           : DefWindowProcA(Window, Message, wParam, lParam);
}

// Reads commands from standard input and hands them to the window's thread, which owns all state.
void ReadCommands(HWND Window) {
    HANDLE Input = GetStdHandle(STD_INPUT_HANDLE);
    if (Input == nullptr || Input == INVALID_HANDLE_VALUE)
        return;
    std::string Pending;
    char Buffer[256];
    DWORD Read = 0;
    while (ReadFile(Input, Buffer, sizeof Buffer, &Read, nullptr) && Read > 0) {
        Pending.append(Buffer, Read);
        std::string::size_type End;
        while ((End = Pending.find('\n')) != std::string::npos) {
            std::string Line = Pending.substr(0, End);
            Pending.erase(0, End + 1);
            while (!Line.empty() && (Line.back() == '\r' || Line.back() == ' '))
                Line.pop_back();
            if (Line == "report")
                PostMessageA(Window, WM_SINK_COMMAND, cmdReport, 0);
            else if (Line == "clear")
                PostMessageA(Window, WM_SINK_COMMAND, cmdClear, 0);
            else if (Line == "focus")
                PostMessageA(Window, WM_SINK_COMMAND, cmdFocus, 0);
            else if (Line == "quit") {
                PostMessageA(Window, WM_SINK_COMMAND, cmdQuit, 0);
                return;
            } else if (!Line.empty())
                WriteOut("ERROR unknown command: " + Line);
        }
    }
}

// The window of either kind: a Unicode window's class and window are made with the W functions, and
// only then does the system hand it UTF-16 characters.
HWND CreateSinkWindow(const std::string& Title) {
    const HINSTANCE Instance = GetModuleHandleA(nullptr);
    const HCURSOR Arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    const auto Background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (TheSink.Unicode) {
        WNDCLASSW Class{};
        Class.lpfnWndProc = SinkWndProc;
        Class.hInstance = Instance;
        Class.hCursor = Arrow;
        Class.hbrBackground = Background;
        Class.lpszClassName = L"CardwickKeySink";
        if (!RegisterClassW(&Class))
            return nullptr;
        const std::wstring WideTitle(Title.begin(), Title.end());
        return CreateWindowW(Class.lpszClassName, WideTitle.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 480, 200,
                             nullptr, nullptr, Instance, nullptr);
    }
    WNDCLASSA Class{};
    Class.lpfnWndProc = SinkWndProc;
    Class.hInstance = Instance;
    Class.hCursor = Arrow;
    Class.hbrBackground = Background;
    Class.lpszClassName = "CardwickKeySink";
    if (!RegisterClassA(&Class))
        return nullptr;
    return CreateWindowA(Class.lpszClassName, Title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 480, 200, nullptr,
                         nullptr, Instance, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    std::string Title = "Key Sink";
    for (int i = 1; i < argc; ++i) {
        const std::string Option = argv[i];
        if (Option == "--unicode")
            TheSink.Unicode = true;
        else if (Option == "--title" && i + 1 < argc)
            Title = argv[++i];
        else if (Option == "--log" && i + 1 < argc)
            TheSink.Log = std::fopen(argv[++i], "a");
    }

    TheSink.Window = CreateSinkWindow(Title);
    if (!TheSink.Window)
        return 1;
    TheSink.Hook = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboardProc, GetModuleHandleA(nullptr), 0);
    if (!TheSink.Hook) {
        WriteOut("ERROR no keyboard hook");
        return 1;
    }
    TakeFocus();

    char Ready[64];
    std::snprintf(Ready, sizeof Ready, "READY %llX",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(TheSink.Window)));
    WriteOut(Ready);

    std::thread(ReadCommands, TheSink.Window).detach();

    MSG Message;
    while ((TheSink.Unicode ? GetMessageW(&Message, nullptr, 0, 0) : GetMessageA(&Message, nullptr, 0, 0)) >
           0) {
        TranslateMessage(&Message);
        if (TheSink.Unicode)
            DispatchMessageW(&Message);
        else
            DispatchMessageA(&Message);
    }
    UnhookWindowsHookEx(TheSink.Hook);
    if (TheSink.Log)
        std::fclose(TheSink.Log);
    WriteOut("BYE");
    // The command reader may still block on standard input; end without waiting for it.
    ExitProcess(0);
}
