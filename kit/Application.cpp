#include "kit/Application.h"

#include "kit/Exceptions.h"
#include "kit/Forms.h"
#include "kit/ScreenDpi.h"
#include "kit/UniqueHandle.h"

#include <objbase.h>

#include <utility>

namespace {
// Constant-initialised pointer to a lazily built object: any static constructor in any unit may
// use Application, and the application window is made only when first needed.
TApplication GApplication;
} // namespace

TApplication* Application = &GApplication;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
    // Forms and their components go while the application window they are owned by still exists.
    DestroyForms();
    FWindow.reset();
    if (FComInitialized)
        CoUninitialize();
}

void TApplication::DestroyForms() {
    DestroyComponents();
    FMainForm = nullptr;
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FMainForm)
        FMainForm = nullptr;
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
        LoadProgramIcon();
    }
    return FWindow->Handle();
}

namespace {

BOOL CALLBACK TakeFirstName(HMODULE, LPCSTR, LPSTR Name, LONG_PTR Found) noexcept {
    // Names that are strings live only as long as the enumeration: keep numeric ones only.
    if (!IS_INTRESOURCE(Name))
        return TRUE;
    *reinterpret_cast<LPCSTR*>(Found) = Name;
    return FALSE;
}

} // namespace

void TApplication::LoadProgramIcon() {
    // The program icon is the executable's first icon group, the one the shell shows for the file.
    HMODULE Module = GetModuleHandleA(nullptr);
    LPCSTR Name = nullptr;
    EnumResourceNamesA(Module, RT_GROUP_ICON, &TakeFirstName, reinterpret_cast<LONG_PTR>(&Name));
    if (!Name)
        return;
    // Shared icons: the system frees them with the module. The sizes are those of the window's
    // DPI, which the icon has drawn, so the taskbar and Alt+Tab show it sharp.
    const int Dpi = WindowDpi(FWindow->Handle());
    auto Load = [Module, Name, Dpi](int Width, int Height) {
        return reinterpret_cast<LPARAM>(LoadImageA(Module, Name, IMAGE_ICON, SystemMetricForDpi(Width, Dpi),
                                                   SystemMetricForDpi(Height, Dpi), LR_SHARED));
    };
    SendMessageA(FWindow->Handle(), WM_SETICON, ICON_BIG, Load(SM_CXICON, SM_CYICON));
    SendMessageA(FWindow->Handle(), WM_SETICON, ICON_SMALL, Load(SM_CXSMICON, SM_CYSMICON));
}

void TApplication::Initialize() {
    Handle();
    if (!FComInitialized)
        FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
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

void TApplication::EndSession() {
    if (FSessionEnded)
        return;
    FSessionEnded = true;
    // Nobody is left to read a box: whatever goes wrong now is not shown.
    try {
        if (OnEndSession)
            OnEndSession(this);
    } catch (...) {
    }
    Terminate();
}

bool TApplication::ClaimInstance(const std::string& Name) {
    Handle();
    FShowRequestMessage = RegisterWindowMessageA((Name + ".ShowMainForm").c_str());
    // A copy started by a standard user asks one that runs elevated.
    ChangeWindowMessageFilterEx(Handle(), FShowRequestMessage, MSGFLT_ALLOW, nullptr);
    // "Local\": per session, so each user signed in at the same machine runs a copy of their own.
    FInstanceMutex.Reset(CreateMutexA(nullptr, FALSE, ("Local\\" + Name).c_str()));
    if (!FInstanceMutex || GetLastError() != ERROR_ALREADY_EXISTS)
        return true;
    FInstanceMutex.Reset();
    // The running copy may take the foreground: this process has it, having just been started.
    AllowSetForegroundWindow(ASFW_ANY);
    // To every top-level window: only a copy that registered the message acts on it.
    PostMessageA(HWND_BROADCAST, FShowRequestMessage, 0, 0);
    return false;
}

void TApplication::ApplicationWndProc(TMessage& Message) {
    if (FShowRequestMessage && Message.Msg == FShowRequestMessage) {
        if (FMainForm && !FTerminated)
            FMainForm->Show();
        Message.Result = 0;
        return;
    }
    if (Message.Msg == WM_QUERYENDSESSION) {
        Message.Result = TRUE;
        return;
    }
    if (Message.Msg == WM_ENDSESSION) {
        if (Message.WParam)
            EndSession();
        Message.Result = 0;
        return;
    }
    if (Message.Msg == WM_CLOSE) {
        // "Close window" on the taskbar button. The default handling would destroy the window and
        // every form it owns; closing the main form lets it decide (it may only hide).
        if (FMainForm)
            FMainForm->Close();
        Message.Result = 0;
        return;
    }
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
    // Boxes nest only inside the modal loop of the one before, so they come and go in stack order.
    FOpenBoxes.push_back(nullptr);
    const std::size_t OuterWatch = std::exchange(FWatchedBox, FOpenBoxes.size() - 1);
    struct TBoxEnd {
        TApplication& App;
        std::size_t OuterWatch;
        ~TBoxEnd() {
            App.FOpenBoxes.pop_back();
            App.FWatchedBox = OuterWatch;
        }
    } BoxEnd{*this, OuterWatch};
    const TUniqueHandle<TWindowsHookTraits> Watch(
        SetWindowsHookExA(WH_CBT, &TApplication::WatchBoxCreation, nullptr, GetCurrentThreadId()));
    return ::MessageBoxA(Owner, Text.c_str(), Caption.c_str(), Flags);
}

LRESULT CALLBACK TApplication::WatchBoxCreation(int Code, WPARAM WParam, LPARAM LParam) noexcept {
    // The box is the first top-level dialog window created after the call; its buttons are
    // children of it.
    TApplication& App = *Application;
    if (Code == HCBT_CREATEWND && App.FWatchedBox < App.FOpenBoxes.size()) {
        const HWND Window = reinterpret_cast<HWND>(WParam);
        const auto* Create = reinterpret_cast<const CBT_CREATEWNDA*>(LParam);
        char ClassName[8] = "";
        if (!(Create->lpcs->style & WS_CHILD) && GetClassNameA(Window, ClassName, sizeof ClassName) > 0 &&
            lstrcmpA(ClassName, "#32770") == 0) {
            App.FOpenBoxes[App.FWatchedBox] = Window;
            App.FWatchedBox = SIZE_MAX;
        }
    }
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}

bool TApplication::CloseMessageBox(std::size_t Index) {
    if (Index >= FOpenBoxes.size() || !FOpenBoxes[Index] || !IsWindow(FOpenBoxes[Index]))
        return false;
    // What the OK button itself sends; posted, so that the box's loop ends it after the caller.
    return PostMessageA(FOpenBoxes[Index], WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) != 0;
}
