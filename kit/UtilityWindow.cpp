#include "kit/UtilityWindow.h"

#include "kit/Application.h"
#include "kit/Win32Error.h"

namespace {

void RegisterUtilityClass(WNDPROC Proc) {
    // Function-local static: registered once, on first use, by whichever component comes first.
    static DWORD Error = ERROR_SUCCESS;
    static const ATOM Atom = [Proc] {
        WNDCLASSEXA Class = {};
        Class.cbSize = sizeof(Class);
        Class.lpfnWndProc = Proc;
        Class.hInstance = GetModuleHandleA(nullptr);
        Class.lpszClassName = TUtilityWindow::ClassName();
        const ATOM Registered = RegisterClassExA(&Class);
        if (!Registered)
            Error = GetLastError();
        return Registered;
    }();
    if (!Atom)
        throw EWin32Error(Error, "Cannot register the utility window class");
}

} // namespace

TUtilityWindow::TUtilityWindow(TWndMethod Method, TUtilityWindowKind Kind, const std::string& Text,
                               DWORD Style, DWORD ExStyle)
    : FMethod(std::move(Method)) {
    RegisterUtilityClass(&WindowProc);
    HWND Parent = Kind == uwMessageOnly ? HWND_MESSAGE : nullptr;
    if (Kind == uwMessageOnly) {
        Style = 0;
        ExStyle = 0;
    }
    // The owner's method sees no message of the creation itself: the owner is still in its
    // constructor, and the messages of creation want only the default handling.
    FCreating = true;
    HWND Wnd = CreateWindowExA(ExStyle, ClassName(), Text.c_str(), Style, 0, 0, 0, 0, Parent, nullptr,
                               GetModuleHandleA(nullptr), this);
    const DWORD Error = GetLastError();
    FCreating = false;
    if (!Wnd)
        throw EWin32Error(Error, "Cannot create a utility window");
    FHandle = Wnd;
}

TUtilityWindow::~TUtilityWindow() {
    if (FHandle) {
        HWND Wnd = FHandle;
        // No message of the destruction reaches the owner's method: the owner is being torn down.
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
        FHandle = nullptr;
        DestroyWindow(Wnd);
    }
}

void TUtilityWindow::DefaultHandler(TMessage& Message) const {
    Message.Result = DefWindowProcA(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

LRESULT CALLBACK TUtilityWindow::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
    if (Msg == WM_NCCREATE) {
        auto* Create = reinterpret_cast<CREATESTRUCTA*>(LParam);
        auto* Owner = static_cast<TUtilityWindow*>(Create->lpCreateParams);
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Owner));
        if (Owner)
            Owner->FHandle = Wnd;
    }
    auto* Self = reinterpret_cast<TUtilityWindow*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    if (Msg == WM_NCDESTROY) {
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
        if (Self)
            Self->FHandle = nullptr;
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    }
    if (!Self || !Self->FMethod || Self->FCreating)
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    TMessage Message{Msg, WParam, LParam, 0};
    try {
        Self->FMethod(Message);
    } catch (...) {
        Application->HandleException(nullptr);
        return 0;
    }
    return Message.Result;
}
