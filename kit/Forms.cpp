#include "kit/Forms.h"

#include "kit/Exceptions.h"
#include "kit/ScreenDpi.h"

#include <algorithm>
#include <vector>
#ifdef __GNUC__
#include <cxxabi.h>
#include <cstdlib>
#endif
#include <typeinfo>

namespace {

// Posted to a form that is to free itself once the handlers now running are done.
constexpr UINT CM_RELEASE = WM_APP + 0x100;

// Never destroyed: a form may outlive every static object of the program (the application owns
// the forms, and it is one of those objects), and its destructor still erases itself from here.
std::vector<TForm*>& LiveForms() {
    static auto* Forms = new std::vector<TForm*>;
    return *Forms;
}

// The application window carries the program's taskbar button: shown while any form is visible,
// hidden when none is, so a program hidden in the notification area has no button.
void UpdateApplicationWindow() {
    bool AnyVisible = std::any_of(LiveForms().begin(), LiveForms().end(), [](TForm* F) {
        return F->HandleAllocated() && IsWindowVisible(F->Handle());
    });
    HWND App = Application->Handle();
    if (AnyVisible && !IsWindowVisible(App))
        ShowWindow(App, SW_SHOWNOACTIVATE);
    else if (!AnyVisible && IsWindowVisible(App))
        ShowWindow(App, SW_HIDE);
}

// Dialog keys (Tab, Enter, Escape, arrows in a group) for the form that holds the focus.
bool FormDialogKeys(MSG& Msg) {
    if (Msg.message < WM_KEYFIRST || Msg.message > WM_KEYLAST)
        return false;
    HWND Root = GetAncestor(Msg.hwnd, GA_ROOT);
    if (!dynamic_cast<TForm*>(TControl::FromHandle(Root)))
        return false;
    return IsDialogMessageA(Root, &Msg) != FALSE;
}

void InstallApplicationHooks() {
    static bool Installed = false;
    if (Installed)
        return;
    Installed = true;
    if (!Application->MessageFilter)
        Application->MessageFilter = FormDialogKeys;
    if (!Application->ShowMainFormOnRun)
        Application->ShowMainFormOnRun = [] {
            if (Application->ShowMainForm() && Application->MainForm())
                Application->MainForm()->Show();
        };
}

class TDisabledWindows;

// The modal loops now running, innermost last.
std::vector<TDisabledWindows*>& ModalLoops() {
    static auto* Loops = new std::vector<TDisabledWindows*>;
    return *Loops;
}

// Windows of the thread that a modal form takes the input from, and gives it back to: those visible
// when it opens, and every window shown while it is open (a hidden main window shown from the tray).
class TDisabledWindows {
public:
    explicit TDisabledWindows(HWND Except) : FExcept(Except) {
        EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
        for (HWND W : FWindows)
            EnableWindow(W, FALSE);
        ModalLoops().push_back(this);
    }
    ~TDisabledWindows() {
        ModalLoops().pop_back();
        for (HWND W : FWindows)
            if (IsWindow(W))
                EnableWindow(W, TRUE);
    }
    TDisabledWindows(const TDisabledWindows&) = delete;
    TDisabledWindows& operator=(const TDisabledWindows&) = delete;

    void Disable(HWND W) {
        if (W == FExcept || !IsWindowEnabled(W))
            return;
        FWindows.push_back(W);
        EnableWindow(W, FALSE);
    }

private:
    static BOOL CALLBACK Collect(HWND W, LPARAM Self) noexcept {
        auto* This = reinterpret_cast<TDisabledWindows*>(Self);
        try {
            if (W != This->FExcept && IsWindowVisible(W) && IsWindowEnabled(W))
                This->FWindows.push_back(W);
        } catch (...) {
            Application->HandleException(nullptr);
            return FALSE;
        }
        return TRUE;
    }

    HWND FExcept;
    std::vector<HWND> FWindows;
};

} // namespace

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
    InstallApplicationHooks();
    FVisible = false;
    FParentFont = false;
    FParentColor = false;
    FColor = clBtnFace;
    FWidth = 320;
    FHeight = 240;
    FIcon.OnChange = TNotifyEvent(this, &TForm::IconChanged);
    BeginLoading();
    LiveForms().push_back(this);
}

TForm::~TForm() {
    bool WasShown = HandleAllocated() && IsWindowVisible(Handle());
    // The controls go while the form is whole: each leaves its parent and destroys its window.
    DestroyComponents();
    DestroyHandle();
    LiveForms().erase(std::remove(LiveForms().begin(), LiveForms().end(), this), LiveForms().end());
    if (WasShown)
        UpdateApplicationWindow();
}

void TForm::Notification(TComponent* AComponent, TOperation Operation) {
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opInsert && ComponentState().Contains(csLoading))
        AComponent->BeginLoading();
}

void TForm::AfterConstruction() {
    if (FConstructed)
        return;
    FConstructed = true;
    // Copy: a Loaded may create components.
    std::vector<TComponent*> Owned;
    for (int I = 0; I < ComponentCount(); ++I)
        Owned.push_back(Components(I));
    for (TComponent* C : Owned)
        if (C->ComponentState().Contains(csLoading))
            C->Loaded();
    Loaded();
    CreateHandle();
    DoCreate();
}

void TForm::DoCreate() {
    // A failing OnCreate is reported and the form stays, created: the program goes on.
    try {
        Raise(OnCreate);
    } catch (...) {
        Application->HandleException(this);
    }
}

void TForm::DoShow() {
    Raise(OnShow);
}

void TForm::DoClose(TCloseAction& Action) {
    if (OnClose)
        OnClose(this, Action);
}

std::string TForm::WindowClassName() const {
    // The window class is named after the form's class, as its designer named it.
    const char* Raw = typeid(*this).name();
    std::string Name = Raw;
#ifdef __GNUC__
    int Status = 0;
    char* Demangled = abi::__cxa_demangle(Raw, nullptr, nullptr, &Status);
    if (Status == 0 && Demangled)
        Name = Demangled;
    std::free(Demangled);
#endif
    for (const char* Prefix : {"class ", "struct "})
        if (Name.rfind(Prefix, 0) == 0)
            Name.erase(0, std::char_traits<char>::length(Prefix));
    std::replace(Name.begin(), Name.end(), ':', '_');
    return Name;
}

void TForm::CreateParams(TCreateParams& Params) const {
    Params.ClassName = WindowClassName();
    Params.SystemClass = false;
    Params.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    switch (FBorderStyle) {
    case bsNone:
        Params.Style |= WS_POPUP;
        break;
    case bsSingle:
        Params.Style |= WS_CAPTION;
        break;
    case bsSizeable:
        Params.Style |= WS_CAPTION | WS_THICKFRAME;
        break;
    }
    if (FBorderStyle != bsNone && FBorderIcons.Contains(biSystemMenu)) {
        Params.Style |= WS_SYSMENU;
        if (FBorderIcons.Contains(biMinimize))
            Params.Style |= WS_MINIMIZEBOX;
        if (FBorderIcons.Contains(biMaximize))
            Params.Style |= WS_MAXIMIZEBOX;
    }
    // Tab walks into group boxes and panels as if their controls were the form's.
    Params.ExStyle = WS_EX_CONTROLPARENT;
}

SIZE TForm::FrameSize(int Dpi) const {
    TCreateParams Params;
    CreateParams(Params);
    RECT R = {0, 0, 100, 100};
    AdjustWindowRectForDpi(R, Params.Style, Params.ExStyle, Dpi);
    return {R.right - R.left - 100, R.bottom - R.top - 100};
}

void TForm::ChangeScale(int M, int D) {
    // The screen position stays: it is where the form opens, on whichever monitor that is. The
    // client area scales; a form designed by its outer size keeps the client area that size gave.
    if (FClientSized) {
        FClientWidth = MulDiv(FClientWidth, M, D);
        FClientHeight = MulDiv(FClientHeight, M, D);
        UpdateOuterSize();
    } else {
        SIZE Old = FrameSize(D), New = FrameSize(M);
        FWidth = MulDiv(FWidth - Old.cx, M, D) + New.cx;
        FHeight = MulDiv(FHeight - Old.cy, M, D) + New.cy;
    }
    for (int I = 0; I < ControlCount(); ++I)
        Controls(I)->ChangeScale(M, D);
}

void TForm::ScaleForPPI(int NewPixelsPerInch, const RECT* Suggested) {
    const int M = NewPixelsPerInch, D = FPixelsPerInch;
    if (M <= 0 || (M == D && !Suggested))
        return;
    if (M != D) {
        FPixelsPerInch = M;
        // Places first, the window next (its new client size moves the anchored controls by their
        // scaled distances), fonts last, so that labels sizing themselves to their text keep the
        // right edge they have at the new DPI.
        ChangeScale(M, D);
    }
    if (HandleAllocated()) {
        if (Suggested)
            SetWindowPos(Handle(), nullptr, Suggested->left, Suggested->top,
                         Suggested->right - Suggested->left, Suggested->bottom - Suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        if (FClientSized)
            SetClientSize(FClientWidth, FClientHeight);
        else if (!Suggested)
            SetWindowPos(Handle(), nullptr, 0, 0, FWidth, FHeight,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (M == D)
        return;
    Font()->ChangeScale(M);
    for (int I = 0; I < ControlCount(); ++I)
        Controls(I)->ScaleFont(M);
    for (int I = 0; I < ComponentCount(); ++I)
        if (auto* Images = dynamic_cast<TImageList*>(Components(I)))
            Images->ChangeScale(M, D);
}

void TForm::UpdateOuterSize() {
    if (!FClientSized)
        return;
    SIZE Frame = FrameSize(FPixelsPerInch);
    FWidth = FClientWidth + Frame.cx;
    FHeight = FClientHeight + Frame.cy;
}

void TForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    // Moving keeps a designed client size; a new outer size replaces it.
    if (AWidth != FWidth || AHeight != FHeight)
        FClientSized = false;
    TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
}

void TForm::SetClientSize(int AClientWidth, int AClientHeight) {
    FClientSized = true;
    FClientWidth = AClientWidth;
    FClientHeight = AClientHeight;
    if (!HandleAllocated()) {
        UpdateOuterSize();
        return;
    }
    // The real frame, whatever the platform's metrics say it should be.
    RECT Outer, Client;
    GetWindowRect(Handle(), &Outer);
    GetClientRect(Handle(), &Client);
    int W = (Outer.right - Outer.left) - Client.right + AClientWidth;
    int H = (Outer.bottom - Outer.top) - Client.bottom + AClientHeight;
    SetWindowPos(Handle(), nullptr, 0, 0, W, H, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::ClientWidth() const {
    if (HandleAllocated()) {
        RECT R;
        GetClientRect(WindowHandle(), &R);
        return R.right;
    }
    if (FClientSized)
        return FClientWidth;
    return FWidth - FrameSize(FPixelsPerInch).cx;
}

int TForm::ClientHeight() const {
    if (HandleAllocated()) {
        RECT R;
        GetClientRect(WindowHandle(), &R);
        return R.bottom;
    }
    if (FClientSized)
        return FClientHeight;
    return FHeight - FrameSize(FPixelsPerInch).cy;
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
    FBorderStyle = Value;
    UpdateOuterSize();
    RecreateWnd();
}

void TForm::SetBorderIcons(TBorderIcons Value) {
    FBorderIcons = Value;
    UpdateOuterSize();
    RecreateWnd();
}

void TForm::IconChanged(TObject*) {
    if (!HandleAllocated())
        return;
    auto Icon = reinterpret_cast<LPARAM>(FIcon.Handle());
    SendMessageA(Handle(), WM_SETICON, ICON_BIG, Icon);
    SendMessageA(Handle(), WM_SETICON, ICON_SMALL, Icon);
}

void TForm::CreateHandle() {
    if (HandleAllocated())
        return;
    // Laid out at the screen's DPI before the window is made, and again should the window come up
    // on a monitor of another.
    ScaleForPPI(SystemDpi());
    UpdateOuterSize();
    // Owned by the application window: no taskbar button of its own.
    MakeWindow(Application->Handle(), FLeft, FTop, FWidth, FHeight, 0);
    if (FClientSized)
        SetClientSize(FClientWidth, FClientHeight);
    IconChanged(nullptr);
    CreateChildHandles();
    ScaleForPPI(WindowDpi(Handle()));
}

void TForm::SetVisible(bool Value) {
    if (Value) {
        AfterConstruction();
        if (FVisible && IsWindowVisible(Handle())) {
            // The window has no taskbar button of its own: showing it is the way back from
            // minimised.
            if (IsIconic(Handle()))
                ShowWindow(Handle(), SW_RESTORE);
            return;
        }
        FVisible = true;
        try {
            DoShow();
        } catch (...) {
            FVisible = false;
            throw;
        }
        ShowWindow(Handle(), SW_SHOWNORMAL);
        // Shown while a modal form is open: it takes no input until that form closes.
        if (!FModal && !ModalLoops().empty())
            ModalLoops().back()->Disable(Handle());
    } else {
        FVisible = false;
        if (HandleAllocated())
            ShowWindow(Handle(), SW_HIDE);
    }
}

void TForm::Show() {
    SetVisible(true);
    BringToFront();
}

void TForm::BringToFront() {
    if (!HandleAllocated())
        return;
    if (IsWindowVisible(Handle()) && IsIconic(Handle()))
        ShowWindow(Handle(), SW_RESTORE);
    SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (IsWindowVisible(Handle()))
        SetForegroundWindow(Handle());
}

TModalResult TForm::ShowModal() {
    if (FVisible || !FEnabled || FModal)
        throw Exception("Cannot make a visible window modal");
    AfterConstruction();
    HWND PreviousActive = GetActiveWindow();
    FModalResult = mrNone;
    {
        TDisabledWindows Disabled(Handle());
        struct TModalState {
            bool& Flag;
            explicit TModalState(bool& F) : Flag(F) { Flag = true; }
            ~TModalState() { Flag = false; }
        } Modal(FModal);
        Show();
        while (FModalResult == mrNone) {
            Application->HandleMessage();
            if (Application->Terminated())
                FModalResult = mrCancel;
            else if (FModalResult != mrNone)
                CloseModal();
        }
    }
    // The other windows take input again before this one goes, so the focus returns to them.
    Hide();
    if (PreviousActive && IsWindow(PreviousActive) && IsWindowVisible(PreviousActive))
        SetActiveWindow(PreviousActive);
    return FModalResult;
}

void TForm::CloseModal() {
    TCloseAction Action = caHide;
    DoClose(Action);
    if (Action == caNone)
        FModalResult = mrNone;
    else if (Action == caFree)
        Release();
}

void TForm::Close() {
    if (FModal) {
        FModalResult = mrCancel;
        return;
    }
    TCloseAction Action = caHide;
    DoClose(Action);
    if (Action == caNone)
        return;
    if (Application->MainForm() == this)
        Application->Terminate();
    else if (Action == caHide)
        Hide();
    else if (Action == caMinimize)
        ShowWindow(Handle(), SW_MINIMIZE);
    else
        Release();
}

void TForm::Release() {
    if (HandleAllocated())
        PostMessageA(Handle(), CM_RELEASE, 0, 0);
}

TButton* TForm::DefaultButton() const {
    std::vector<const TWinControl*> Pending = {this};
    while (!Pending.empty()) {
        const TWinControl* Container = Pending.back();
        Pending.pop_back();
        for (int I = 0; I < Container->ControlCount(); ++I) {
            TControl* C = Container->Controls(I);
            if (auto* Button = dynamic_cast<TButton*>(C); Button && Button->Default() && Button->Visible())
                return Button;
            if (auto* W = dynamic_cast<TWinControl*>(C))
                Pending.push_back(W);
        }
    }
    return nullptr;
}

void TForm::ButtonFocusChanged(TButton* Button, bool Focused) {
    // Enter presses the button that has the focus, else the default one: the look follows.
    TButton* Default = DefaultButton();
    if (Focused) {
        Button->UpdateDefaultStyle(true);
        if (Default && Default != Button)
            Default->UpdateDefaultStyle(false);
    } else {
        Button->UpdateDefaultStyle(Button == Default);
        if (Default)
            Default->UpdateDefaultStyle(true);
    }
}

void TForm::FocusFirstControl() {
    if (FLastFocus && IsWindow(FLastFocus) && IsChild(Handle(), FLastFocus) && IsWindowVisible(FLastFocus) &&
        IsWindowEnabled(FLastFocus)) {
        ::SetFocus(FLastFocus);
        return;
    }
    if (HWND First = GetNextDlgTabItem(Handle(), nullptr, FALSE))
        ::SetFocus(First);
}

void TForm::WndProc(TMessage& M) {
    switch (M.Msg) {
    case WM_CLOSE:
        Close();
        M.Result = 0;
        return;
    // Every top-level window hears of the session's end; the application answers for all of them.
    case WM_QUERYENDSESSION:
        M.Result = TRUE;
        return;
    case WM_ENDSESSION:
        if (M.WParam)
            Application->EndSession();
        M.Result = 0;
        return;
    case WM_ERASEBKGND: {
        RECT R;
        GetClientRect(Handle(), &R);
        FillRect(reinterpret_cast<HDC>(M.WParam), &R, BackgroundBrush());
        M.Result = 1;
        return;
    }
    case DM_GETDEFID: {
        // Without a default button, Enter presses nothing (and Escape never closes a form).
        TButton* Default = DefaultButton();
        M.Result = Default && Default->HandleAllocated() ? MAKELRESULT(Default->ControlId(), DC_HASDEFID) : 0;
        return;
    }
    case WM_NEXTDLGCTL: {
        HWND Next = LOWORD(M.LParam) ? reinterpret_cast<HWND>(M.WParam)
                                     : GetNextDlgTabItem(Handle(), GetFocus(), M.WParam != 0);
        if (Next) {
            ::SetFocus(Next);
            if (SendMessageA(Next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
                SendMessageA(Next, EM_SETSEL, 0, -1);
        }
        M.Result = 0;
        return;
    }
    case WM_ACTIVATE:
        // A plain window does not remember its focused control as a dialog does.
        if (LOWORD(M.WParam) == WA_INACTIVE) {
            HWND Focus = GetFocus();
            if (Focus && IsChild(Handle(), Focus))
                FLastFocus = Focus;
            DefaultHandler(M);
        } else if (!HIWORD(M.WParam)) {
            FocusFirstControl();
            M.Result = 0;
        }
        return;
    case WM_SETFOCUS:
        FocusFirstControl();
        M.Result = 0;
        return;
    case WM_WINDOWPOSCHANGED: {
        const auto* Pos = reinterpret_cast<const WINDOWPOS*>(M.LParam);
        RECT R;
        GetWindowRect(Handle(), &R);
        FLeft = R.left;
        FTop = R.top;
        FWidth = R.right - R.left;
        FHeight = R.bottom - R.top;
        TWinControl::WndProc(M);
        if (Pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW))
            UpdateApplicationWindow();
        return;
    }
    case WM_DPICHANGED:
        // Moved to a monitor of another scale: the system suggests where the window goes, sized
        // for the new DPI.
        ScaleForPPI(HIWORD(M.WParam), reinterpret_cast<const RECT*>(M.LParam));
        M.Result = 0;
        return;
    case CM_RELEASE:
        delete this;
        return;
    }
    TWinControl::WndProc(M);
}
