#include "kit/Application.h"

#include "kit/Exceptions.h"

namespace {
// Constant-initialised pointer to a lazily built object: any static constructor in any unit may
// use Application, and the application window is made only when first needed.
TApplication GApplication;
} // namespace

TApplication* Application = &GApplication;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
    // Forms and their components go while the application window they are owned by still exists.
    DestroyComponents();
    FWindow.reset();
}

void TApplication::SetTitle(const std::string& Value) {
    FTitle = Value;
    if (FWindow)
        SetWindowTextA(FWindow->Handle(), FTitle.c_str());
}

HWND TApplication::Handle() {
    if (!FWindow) {
        // Zero size, placed on the screen: a visible window of it shows only as the taskbar button.
        FWindow = std::make_unique<TUtilityWindow>(
            [this](TMessage& M) { ApplicationWndProc(M); }, uwTopLevel, FTitle,
            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX);
    }
    return FWindow->Handle();
}

void TApplication::Initialize() {
    Handle();
}

void TApplication::Run() {
    Handle();
    if (ShowMainFormOnRun)
        ShowMainFormOnRun();
    while (!FTerminated)
        HandleMessage();
}

void TApplication::Terminate() {
    FTerminated = true;
    // Wakes a blocked wait so that it sees Terminated.
    PostQuitMessage(0);
}

void TApplication::Dispatch(MSG& Msg) {
    if (Msg.message == WM_QUIT) {
        FTerminated = true;
        return;
    }
    if (MessageFilter && MessageFilter(Msg))
        return;
    TranslateMessage(&Msg);
    DispatchMessageA(&Msg);
}

void TApplication::ProcessMessages() {
    MSG Msg;
    while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE))
        Dispatch(Msg);
}

void TApplication::HandleMessage() {
    MSG Msg;
    if (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE))
        Dispatch(Msg);
    else
        WaitForMessage();
}

bool TApplication::WaitForMessage(DWORD TimeoutMs) {
    // MWMO_INPUTAVAILABLE: also wake for messages already queued but not yet looked at, which a
    // plain wait would sleep through until something new arrived.
    DWORD Result = MsgWaitForMultipleObjectsEx(0, nullptr, TimeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return Result == WAIT_OBJECT_0;
}

void TApplication::HookMainWindow(std::function<bool(TMessage&)> Hook) {
    FHooks.push_back(std::move(Hook));
}

void TApplication::ApplicationWndProc(TMessage& Message) {
    for (auto& Hook : FHooks)
        if (Hook(Message))
            return;
    FWindow->DefaultHandler(Message);
}

std::string TApplication::ExceptionText(std::exception_ptr E) {
    if (!E)
        return std::string();
    try {
        std::rethrow_exception(E);
    } catch (const std::exception& Ex) {
        return Ex.what();
    } catch (...) {
        return "Unknown exception";
    }
}

void TApplication::HandleException(TObject*, std::exception_ptr E) {
    // Never let the error display itself throw: it runs at window procedure boundaries.
    try {
        MessageBox(ExceptionText(E), FTitle, MB_OK | MB_ICONERROR);
    } catch (...) {
    }
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, UINT Flags, HWND Owner) {
    if (MessageBoxSeam)
        return MessageBoxSeam(Text, Caption, Flags);
    if (!Owner)
        Owner = GetActiveWindow();
    return ::MessageBoxA(Owner, Text.c_str(), Caption.c_str(), Flags);
}
