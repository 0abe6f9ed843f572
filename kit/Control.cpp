#include "kit/Control.h"

#include "kit/Application.h"
#include "kit/Exceptions.h"
#include "kit/Forms.h"
#include "kit/ScreenDpi.h"
#include "kit/Win32Error.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

namespace {

// The one place a window keeps its control, whichever class it is of: the parent looks it up to
// hand back notifications, and both window procedures find their object by it.
const char* const ControlProp = "Cardwick.Control";

// Control identifiers: unique in the process, and clear of IDOK and IDCANCEL, which the dialog
// keys send when a form has no default button.
int NextControlId() {
    static int Next = 100;
    return Next++;
}

// One registration per class name of the layer's own window classes (forms, panels).
void RegisterLayerClass(const std::string& Name, WNDPROC Proc) {
    static std::map<std::string, ATOM> Registered;
    if (Registered.count(Name))
        return;
    WNDCLASSEXA Class = {};
    Class.cbSize = sizeof(Class);
    Class.style = CS_DBLCLKS;
    Class.lpfnWndProc = Proc;
    Class.hInstance = GetModuleHandleA(nullptr);
    Class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    Class.lpszClassName = Name.c_str();
    ATOM Atom = RegisterClassExA(&Class);
    if (!Atom) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Cannot register the window class " + Name);
    }
    Registered[Name] = Atom;
}

// The common controls' window classes the layer makes: the animation, the status bar, and under
// version 6 the standard controls (buttons, edits, combo boxes), which that version draws itself.
void InitCommonControlClasses() {
    static const bool Done = [] {
        INITCOMMONCONTROLSEX Init = {sizeof Init, ICC_ANIMATE_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        // Before version 6 the standard classes are the system's own and the flag is unknown.
        if (!InitCommonControlsEx(&Init)) {
            Init.dwICC = ICC_ANIMATE_CLASS | ICC_BAR_CLASSES;
            InitCommonControlsEx(&Init);
        }
        return true;
    }();
    (void)Done;
}

} // namespace

// ---- TControl ----

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FId(NextControlId()) {
    FFont.OnChange = TNotifyEvent(this, &TControl::FontChangedEvent);
}

TControl::~TControl() {
    DestroyHandle();
    if (FParent)
        FParent->RemoveControl(this);
}

TControl* TControl::FromHandle(HWND Window) {
    return Window ? static_cast<TControl*>(GetPropA(Window, ControlProp)) : nullptr;
}

void TControl::SetParent(TWinControl* Value) {
    if (Value == FParent)
        return;
    if (Value == this)
        throw Exception("A control cannot be its own parent");
    DestroyHandle();
    if (FParent)
        FParent->RemoveControl(this);
    if (Value)
        Value->InsertControl(this);
    if (!FParent)
        return;
    ParentFontChanged();
    ParentColorChanged();
    if (!Loading())
        TakeAnchorRules();
    if (FParent->HandleAllocated()) {
        CreateHandle();
        FParent->ApplyTabOrder();
    }
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    FLeft = ALeft;
    FTop = ATop;
    FWidth = std::max(0, AWidth);
    FHeight = std::max(0, AHeight);
    UpdateWindowBounds();
    if (!Loading() && FParent)
        TakeAnchorRules();
}

void TControl::UpdateWindowBounds() {
    if (!FHandle)
        return;
    TCreateParams Params;
    CreateParams(Params);
    MoveWindow(FHandle, FLeft, FTop, FWidth, FHeight + Params.ExtraHeight, TRUE);
}

void TControl::ChangeScale(int M, int D) {
    // The edges scale, not the widths: controls that met still meet, and none overlap.
    int L = MulDiv(FLeft, M, D), T = MulDiv(FTop, M, D);
    FWidth = MulDiv(FLeft + FWidth, M, D) - L;
    FHeight = MulDiv(FTop + FHeight, M, D) - T;
    FLeft = L;
    FTop = T;
    // The distances to the parent's edges scale with the parent: the rules stay the designed ones.
    FAnchorRight = MulDiv(FAnchorRight, M, D);
    FAnchorBottom = MulDiv(FAnchorBottom, M, D);
    UpdateWindowBounds();
}

void TControl::ScaleFont(int NewPixelsPerInch) {
    // A font taken from the parent has come with the parent's.
    if (!FParentFont)
        FFont.ChangeScale(NewPixelsPerInch);
}

int TControl::PixelsPerInch() const {
    TForm* Form = ParentForm();
    return Form ? Form->PixelsPerInch() : DesignPixelsPerInch;
}

void TControl::SetAnchors(TAnchors Value) {
    FAnchors = Value;
    if (!Loading())
        TakeAnchorRules();
}

void TControl::TakeAnchorRules() {
    if (!FParent)
        return;
    FAnchorRight = FParent->ClientWidth() - (FLeft + FWidth);
    FAnchorBottom = FParent->ClientHeight() - (FTop + FHeight);
}

void TControl::ParentResized(int ClientWidth, int ClientHeight) {
    int L = FLeft, T = FTop, W = FWidth, H = FHeight;
    if (FAnchors.Contains(akRight)) {
        if (FAnchors.Contains(akLeft))
            W = ClientWidth - FAnchorRight - L;
        else
            L = ClientWidth - FAnchorRight - W;
    }
    if (FAnchors.Contains(akBottom)) {
        if (FAnchors.Contains(akTop))
            H = ClientHeight - FAnchorBottom - T;
        else
            T = ClientHeight - FAnchorBottom - H;
    }
    if (L == FLeft && T == FTop && W == FWidth && H == FHeight)
        return;
    // The rules stay as they were taken: a resize moves the control, it does not re-anchor it.
    int Right = FAnchorRight, Bottom = FAnchorBottom;
    SetBounds(L, T, W, H);
    FAnchorRight = Right;
    FAnchorBottom = Bottom;
}

void TControl::SetVisible(bool Value) {
    if (FVisible == Value)
        return;
    FVisible = Value;
    if (FHandle)
        ShowWindow(FHandle, Value ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetEnabled(bool Value) {
    if (FEnabled == Value)
        return;
    FEnabled = Value;
    if (FHandle)
        EnableWindow(FHandle, Value);
}

const std::string& TControl::Caption() const {
    // An edit's text is the user's to change: the window holds the current one.
    if (FHandle) {
        int Length = GetWindowTextLengthA(FHandle);
        std::string Text(static_cast<size_t>(Length) + 1, '\0');
        Text.resize(static_cast<size_t>(GetWindowTextA(FHandle, Text.data(), Length + 1)));
        FCaption = Text;
    }
    return FCaption;
}

void TControl::SetCaption(const std::string& Value) {
    if (Caption() == Value)
        return;
    FCaption = Value;
    if (FHandle)
        SetWindowTextA(FHandle, Value.c_str());
    TextChanged();
}

void TControl::SetParentFont(bool Value) {
    FParentFont = Value;
    if (Value)
        ParentFontChanged();
}

void TControl::ParentFontChanged() {
    if (!FParentFont || !FParent)
        return;
    FFontFromParent = true;
    try {
        FFont.Assign(FParent->FFont);
    } catch (...) {
        FFontFromParent = false;
        throw;
    }
    FFontFromParent = false;
}

void TControl::FontChangedEvent(TObject*) {
    if (!FFontFromParent)
        FParentFont = false;
    FontChanged();
}

void TControl::FontChanged() {
    if (FHandle)
        SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), TRUE);
}

void TControl::SetColor(TColor Value) {
    FParentColor = false;
    if (FColor == Value)
        return;
    FColor = Value;
    ColorChanged();
}

void TControl::SetParentColor(bool Value) {
    FParentColor = Value;
    if (Value)
        ParentColorChanged();
}

void TControl::ParentColorChanged() {
    if (!FParentColor || !FParent || FColor == FParent->FColor)
        return;
    FColor = FParent->FColor;
    ColorChanged();
}

void TControl::ColorChanged() {
    FBrush.Reset();
    if (FHandle)
        InvalidateRect(FHandle, nullptr, TRUE);
}

HBRUSH TControl::BackgroundBrush() {
    if (!FBrush)
        FBrush.Reset(CreateSolidBrush(ColorToRGB(FColor)));
    return FBrush.Get();
}

int TControl::TabOrder() const {
    if (!FParent || !FParent->FTabListFixed)
        return FTabOrderValue;
    const auto& List = FParent->FTabList;
    auto It = std::find(List.begin(), List.end(), this);
    return It == List.end() ? -1 : static_cast<int>(It - List.begin());
}

void TControl::SetTabOrder(int Value) {
    FTabOrderValue = Value;
    if (!FParent || !FParent->FTabListFixed || !InTabList())
        return;
    auto& List = FParent->FTabList;
    List.erase(std::remove(List.begin(), List.end(), this), List.end());
    size_t Index = static_cast<size_t>(std::clamp(Value, 0, static_cast<int>(List.size())));
    List.insert(List.begin() + static_cast<std::ptrdiff_t>(Index), this);
    FParent->ApplyTabOrder();
}

void TControl::SetTabStop(bool Value) {
    FTabStop = Value;
    if (FHandle) {
        LONG Style = GetWindowLongA(FHandle, GWL_STYLE);
        SetWindowLongA(FHandle, GWL_STYLE, Value ? Style | WS_TABSTOP : Style & ~WS_TABSTOP);
    }
}

HWND TControl::Handle() {
    if (!FHandle)
        CreateHandle();
    if (!FHandle)
        throw Exception("Control '" + Name() + "' has no parent window");
    return FHandle;
}

void TControl::SetFocus() {
    if (FHandle)
        ::SetFocus(FHandle);
}

bool TControl::Focused() const {
    return FHandle && GetFocus() == FHandle;
}

TForm* TControl::ParentForm() const {
    const TControl* C = this;
    while (C->FParent)
        C = C->FParent;
    return dynamic_cast<TForm*>(const_cast<TControl*>(C));
}

void TControl::Loaded() {
    TComponent::Loaded();
    TakeAnchorRules();
}

void TControl::Click() {
    Raise(OnClick);
}

void TControl::CreateParams(TCreateParams& Params) const {
    Params.Style = WS_CHILD | WS_CLIPSIBLINGS;
}

void TControl::CreateHandle() {
    if (FHandle || !FParent || !FParent->FHandle)
        return;
    MakeWindow(FParent->FHandle, FLeft, FTop, FWidth, FHeight, 0);
}

void TControl::MakeWindow(HWND ParentWindow, int X, int Y, int W, int H, DWORD ExtraStyle) {
    TCreateParams Params;
    CreateParams(Params);
    DWORD Style = Params.Style | ExtraStyle;
    if (FVisible)
        Style |= WS_VISIBLE;
    if (!FEnabled)
        Style |= WS_DISABLED;
    if (FTabStop)
        Style |= WS_TABSTOP;
    FSystemClass = Params.SystemClass;
    if (FSystemClass)
        InitCommonControlClasses();
    else
        RegisterLayerClass(Params.ClassName, &TControl::ClassWindowProc);
    HMENU Menu = (Style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId)) : nullptr;
    HWND Wnd = CreateWindowExA(Params.ExStyle, Params.ClassName.c_str(), FCaption.c_str(), Style, X, Y, W,
                               H + Params.ExtraHeight, ParentWindow, Menu, GetModuleHandleA(nullptr), this);
    if (!Wnd) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Cannot create the window of '" + Name() + "'");
    }
    if (FSystemClass) {
        SetPropA(Wnd, ControlProp, this);
        if (!SetWindowSubclass(Wnd, &TControl::SubclassProc, 1, 0)) {
            // A window whose messages would never reach its control is no use: it goes.
            const DWORD Error = GetLastError();
            RemovePropA(Wnd, ControlProp);
            DestroyWindow(Wnd);
            throw EWin32Error(Error, "Cannot subclass the window of '" + Name() + "'");
        }
        FHandle = Wnd;
    }
    SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), FALSE);
    CreateWnd();
}

void TControl::DestroyHandle() {
    if (!FHandle)
        return;
    HWND Wnd = FHandle;
    // The window's last messages reach no object: this one is going away or moving.
    if (FSystemClass)
        RemoveWindowSubclass(Wnd, &TControl::SubclassProc, 1);
    RemovePropA(Wnd, ControlProp);
    FHandle = nullptr;
    DestroyWindow(Wnd);
}

void TControl::RecreateWnd() {
    if (!FHandle)
        return;
    // Text and state live in the window: keep them over the change.
    Caption();
    DestroyHandle();
    CreateHandle();
    if (FParent)
        FParent->ApplyTabOrder();
}

LRESULT CALLBACK TControl::SubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                        DWORD_PTR) noexcept {
    TControl* Self = FromHandle(Wnd);
    if (!Self)
        return DefSubclassProc(Wnd, Msg, WParam, LParam);
    return Dispatch(Self, Wnd, Msg, WParam, LParam);
}

LRESULT CALLBACK TControl::ClassWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
    if (Msg == WM_NCCREATE) {
        auto* Self = static_cast<TControl*>(reinterpret_cast<CREATESTRUCTA*>(LParam)->lpCreateParams);
        SetPropA(Wnd, ControlProp, Self);
        Self->FHandle = Wnd;
    }
    TControl* Self = FromHandle(Wnd);
    if (!Self)
        return DefWindowProcA(Wnd, Msg, WParam, LParam);
    return Dispatch(Self, Wnd, Msg, WParam, LParam);
}

LRESULT TControl::Dispatch(TControl* Self, HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
    if (Msg == WM_NCDESTROY) {
        LRESULT Result = Self->FSystemClass ? DefSubclassProc(Wnd, Msg, WParam, LParam)
                                            : DefWindowProcA(Wnd, Msg, WParam, LParam);
        if (Self->FSystemClass)
            RemoveWindowSubclass(Wnd, &TControl::SubclassProc, 1);
        RemovePropA(Wnd, ControlProp);
        if (Self->FHandle == Wnd)
            Self->FHandle = nullptr;
        return Result;
    }
    TMessage Message{Msg, WParam, LParam, 0};
    try {
        Self->WndProc(Message);
    } catch (...) {
        Application->HandleException(Self);
        return 0;
    }
    return Message.Result;
}

void TControl::DefaultHandler(TMessage& M) {
    if (!FHandle)
        return;
    M.Result = FSystemClass ? DefSubclassProc(FHandle, M.Msg, M.WParam, M.LParam)
                            : DefWindowProcA(FHandle, M.Msg, M.WParam, M.LParam);
}

void TControl::WndProc(TMessage& M) {
    switch (M.Msg) {
    case WM_MOUSEMOVE:
        if (!FMouseInside) {
            FMouseInside = true;
            TRACKMOUSEEVENT Track = {sizeof Track, TME_LEAVE, FHandle, 0};
            TrackMouseEvent(&Track);
            MouseEnter();
        }
        break;
    case WM_MOUSELEAVE:
        FMouseInside = false;
        MouseLeave();
        break;
    case WM_SETCURSOR:
        if (FCursor == crHandPoint && LOWORD(M.LParam) == HTCLIENT) {
            ::SetCursor(LoadCursorA(nullptr, IDC_HAND));
            M.Result = TRUE;
            return;
        }
        break;
    }
    DefaultHandler(M);
}

bool TControl::CNCommand(WORD) {
    return false;
}

bool TControl::CNCtlColor(HDC DC, LRESULT& Brush) {
    SetTextColor(DC, ColorToRGB(FFont.Color()));
    SetBkColor(DC, ColorToRGB(FColor));
    Brush = reinterpret_cast<LRESULT>(BackgroundBrush());
    return true;
}

bool TControl::CNDrawItem(const DRAWITEMSTRUCT&) {
    return false;
}

void TControl::MouseEnter() {
    Raise(OnMouseEnter);
}

void TControl::MouseLeave() {
    Raise(OnMouseLeave);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
    // Children owned elsewhere outlive this window: they forget their parent rather than reach
    // back into a half-destroyed one.
    for (TControl* C : FControls) {
        C->DestroyHandle();
        C->FParent = nullptr;
    }
    FControls.clear();
    FTabList.clear();
    DestroyHandle();
}

void TWinControl::InsertControl(TControl* Control) {
    FControls.push_back(Control);
    Control->FParent = this;
    if (Control->InTabList()) {
        if (Control->FTabOrderValue < 0)
            Control->FTabOrderValue = static_cast<int>(FTabList.size());
        FTabList.push_back(Control);
        if (FTabListFixed)
            Control->SetTabOrder(Control->FTabOrderValue);
    }
}

void TWinControl::RemoveControl(TControl* Control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), Control), FControls.end());
    FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), Control), FTabList.end());
    Control->FParent = nullptr;
}

void TWinControl::FixupTabList() {
    if (!FTabListFixed) {
        // The design gives each control its place; equal places keep the order of creation.
        std::stable_sort(FTabList.begin(), FTabList.end(),
                         [](TControl* A, TControl* B) { return A->FTabOrderValue < B->FTabOrderValue; });
        FTabListFixed = true;
    }
    for (TControl* C : FControls)
        if (auto* W = dynamic_cast<TWinControl*>(C))
            W->FixupTabList();
}

void TWinControl::ApplyTabOrder() {
    // Tab walks sibling windows in Z order: put them in tab order, the rest after.
    HWND After = HWND_TOP;
    auto Place = [&After](TControl* C) {
        if (!C->FHandle)
            return;
        SetWindowPos(C->FHandle, After, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        After = C->FHandle;
    };
    for (TControl* C : FTabList)
        Place(C);
    for (TControl* C : FControls)
        if (std::find(FTabList.begin(), FTabList.end(), C) == FTabList.end())
            Place(C);
}

void TWinControl::CreateHandle() {
    TControl::CreateHandle();
    if (HandleAllocated())
        CreateChildHandles();
}

void TWinControl::CreateChildHandles() {
    FixupTabList();
    ClientResized();
    for (TControl* C : FTabList)
        C->CreateHandle();
    for (TControl* C : FControls)
        C->CreateHandle();
    ApplyTabOrder();
}

void TWinControl::ClientResized() {
    int W = ClientWidth(), H = ClientHeight();
    for (TControl* C : FControls)
        C->ParentResized(W, H);
}

void TWinControl::FontChanged() {
    TControl::FontChanged();
    for (TControl* C : FControls)
        C->ParentFontChanged();
}

void TWinControl::ColorChanged() {
    TControl::ColorChanged();
    for (TControl* C : FControls)
        C->ParentColorChanged();
}

void TWinControl::ChangeScale(int M, int D) {
    TControl::ChangeScale(M, D);
    for (TControl* C : FControls)
        C->ChangeScale(M, D);
}

void TWinControl::ScaleFont(int NewPixelsPerInch) {
    TControl::ScaleFont(NewPixelsPerInch);
    for (TControl* C : FControls)
        C->ScaleFont(NewPixelsPerInch);
}

void TWinControl::WndProc(TMessage& M) {
    switch (M.Msg) {
    case WM_COMMAND:
        if (TControl* C = FromHandle(reinterpret_cast<HWND>(M.LParam)))
            if (C != this && C->CNCommand(HIWORD(M.WParam))) {
                M.Result = 0;
                return;
            }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        if (TControl* C = FromHandle(reinterpret_cast<HWND>(M.LParam))) {
            LRESULT Brush = 0;
            if (C != this && C->CNCtlColor(reinterpret_cast<HDC>(M.WParam), Brush)) {
                M.Result = Brush;
                return;
            }
        }
        break;
    case WM_DRAWITEM: {
        const auto* Item = reinterpret_cast<const DRAWITEMSTRUCT*>(M.LParam);
        if (TControl* C = FromHandle(Item->hwndItem))
            if (C != this && C->CNDrawItem(*Item)) {
                M.Result = TRUE;
                return;
            }
        break;
    }
    case WM_SIZE:
        TControl::WndProc(M);
        ClientResized();
        return;
    }
    TControl::WndProc(M);
}
