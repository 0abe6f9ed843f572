#include "kit/Controls.h"

#include "kit/Application.h"
#include "kit/Exceptions.h"
#include "kit/Forms.h"
#include "kit/ScreenDpi.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

namespace {

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
    if (!Atom)
        throw Exception("Cannot register the window class " + Name);
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

// The system's module that holds the stock animation clips, loaded once for the process.
HMODULE Shell32() {
    static HMODULE Module = LoadLibraryA("shell32.dll");
    return Module;
}

constexpr int FindComputerClip = 152;

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

void TControl::CreateParams(TCreateParams& Params) {
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
    if (!Wnd)
        throw Exception("Cannot create the window of '" + Name() + "'");
    if (FSystemClass) {
        SetPropA(Wnd, ControlProp, this);
        SetWindowSubclass(Wnd, &TControl::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
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
    SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
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
                                        DWORD_PTR RefData) noexcept {
    return Dispatch(reinterpret_cast<TControl*>(RefData), Wnd, Msg, WParam, LParam);
}

LRESULT CALLBACK TControl::ClassWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
    if (Msg == WM_NCCREATE) {
        auto* Self = static_cast<TControl*>(reinterpret_cast<CREATESTRUCTA*>(LParam)->lpCreateParams);
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Self));
        SetPropA(Wnd, ControlProp, Self);
        Self->FHandle = Wnd;
    }
    auto* Self = reinterpret_cast<TControl*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
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
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
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
    for (TControl* C : FControls) {
        C->ParentResized(W, H);
        if (auto* Bar = dynamic_cast<TStatusBar*>(C))
            Bar->FitToParent();
    }
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

// ---- TButton ----

TButton::TButton(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 75;
    FHeight = 25;
    SetTabStop(true);
}

void TButton::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "BUTTON";
    // BS_NOTIFY: the form moves the default look to the button that has the focus.
    Params.Style |= (FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY;
}

void TButton::SetDefault(bool Value) {
    FDefault = Value;
    if (HandleAllocated())
        UpdateDefaultStyle(Value);
}

void TButton::UpdateDefaultStyle(bool Active) {
    if (HandleAllocated())
        SendMessageA(Handle(), BM_SETSTYLE, Active ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
    // The result first: a handler that fails still leaves the form to close as the button says.
    if (FModalResult != 0)
        if (TForm* Form = ParentForm())
            Form->SetModalResult(FModalResult);
    TControl::Click();
}

bool TButton::CNCommand(WORD Code) {
    switch (Code) {
    case BN_CLICKED:
        Click();
        return true;
    case BN_SETFOCUS:
    case BN_KILLFOCUS:
        if (TForm* Form = ParentForm())
            Form->ButtonFocusChanged(this, Code == BN_SETFOCUS);
        return true;
    }
    return false;
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 97;
    FHeight = 17;
    SetTabStop(true);
}

void TCheckBox::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "BUTTON";
    Params.Style |= BS_AUTOCHECKBOX;
}

void TCheckBox::CreateWnd() {
    SendMessageA(Handle(), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Checked() const {
    if (HandleAllocated())
        FChecked = SendMessageA(const_cast<TCheckBox*>(this)->Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    return FChecked;
}

void TCheckBox::SetChecked(bool Value) {
    FChecked = Value;
    if (HandleAllocated())
        SendMessageA(Handle(), BM_SETCHECK, Value ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::CNCommand(WORD Code) {
    if (Code != BN_CLICKED)
        return false;
    Click();
    return true;
}

// ---- TEdit ----

TEdit::TEdit(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 121;
    FHeight = 21;
    SetColor(clWindow);
    SetTabStop(true);
}

void TEdit::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "EDIT";
    Params.Style |= ES_AUTOHSCROLL | (FReadOnly ? ES_READONLY : 0);
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TEdit::SetReadOnly(bool Value) {
    FReadOnly = Value;
    if (HandleAllocated())
        SendMessageA(Handle(), EM_SETREADONLY, Value, 0);
}

// ---- TLabel ----

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 65;
    FHeight = 17;
}

void TLabel::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "STATIC";
    // SS_NOTIFY: clicks, and the pointer's moves for the entered and left notifications.
    Params.Style |= SS_NOTIFY;
    switch (FAlignment) {
    case taLeftJustify:
        Params.Style |= FWordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
        break;
    case taRightJustify:
        Params.Style |= SS_RIGHT;
        break;
    case taCenter:
        Params.Style |= SS_CENTER;
        break;
    }
}

void TLabel::SetAlignment(TAlignment Value) {
    if (FAlignment == Value)
        return;
    FAlignment = Value;
    RecreateWnd();
}

void TLabel::SetAutoSize(bool Value) {
    FAutoSize = Value;
    AdjustBounds();
}

void TLabel::SetWordWrap(bool Value) {
    if (FWordWrap == Value)
        return;
    FWordWrap = Value;
    RecreateWnd();
    AdjustBounds();
}

void TLabel::Loaded() {
    TControl::Loaded();
    AdjustBounds();
}

void TLabel::FontChanged() {
    TControl::FontChanged();
    AdjustBounds();
}

void TLabel::TextChanged() {
    AdjustBounds();
}

void TLabel::AdjustBounds() {
    if (!FAutoSize || Loading())
        return;
    // An empty label keeps the height of one line.
    std::string Text = Caption().empty() ? std::string(" ") : Caption();
    RECT R = {0, 0, FWordWrap ? FWidth : 0, 0};
    {
        TWindowDC Screen(nullptr);
        TSelectObject Selected(Screen.Get(), Font()->Handle());
        DrawTextA(Screen.Get(), Text.c_str(), -1, &R,
                  DT_CALCRECT | DT_EXPANDTABS | (FWordWrap ? DT_WORDBREAK : 0));
    }
    int W = FWordWrap ? FWidth : R.right;
    int L = FLeft;
    if (FAlignment == taRightJustify && !FWordWrap)
        L = FLeft + FWidth - W;
    SetBounds(L, FTop, W, R.bottom);
}

bool TLabel::CNCommand(WORD Code) {
    if (Code != STN_CLICKED)
        return false;
    Click();
    return true;
}

// ---- TComboBox ----

int TComboItems::Add(const std::string& Item) {
    int Index;
    if (FBox.HandleAllocated()) {
        LRESULT Result = SendMessageA(FBox.Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
        if (Result < 0)
            throw Exception("Cannot add an entry to the list");
        Index = static_cast<int>(Result);
    } else if (FBox.FSorted) {
        auto Place = std::upper_bound(
            FItems.begin(), FItems.end(), Item,
            [](const std::string& A, const std::string& B) { return lstrcmpiA(A.c_str(), B.c_str()) < 0; });
        Index = static_cast<int>(Place - FItems.begin());
    } else {
        Index = Count();
    }
    FItems.insert(FItems.begin() + Index, Item);
    if (!FBox.HandleAllocated() && FBox.FItemIndex >= Index)
        ++FBox.FItemIndex;
    return Index;
}

void TComboItems::Clear() {
    FItems.clear();
    FBox.FItemIndex = -1;
    if (FBox.HandleAllocated())
        SendMessageA(FBox.Handle(), CB_RESETCONTENT, 0, 0);
}

int TComboItems::IndexOf(const std::string& Item) const {
    auto It = std::find(FItems.begin(), FItems.end(), Item);
    return It == FItems.end() ? -1 : static_cast<int>(It - FItems.begin());
}

TComboBox::TComboBox(TComponent* AOwner) : TControl(AOwner), FItems(*this) {
    FWidth = 145;
    FHeight = 21;
    SetColor(clWindow);
    SetTabStop(true);
}

void TComboBox::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "COMBOBOX";
    Params.Style |= CBS_DROPDOWNLIST | WS_VSCROLL | (FSorted ? CBS_SORT : 0);
    // Room for eight entries when dropped down; the closed box takes its height from the font.
    Params.ExtraHeight = ScaleValue(8 * 14 + 2);
}

void TComboBox::CreateWnd() {
    HWND Wnd = Handle();
    for (const std::string& Item : FItems.FItems)
        SendMessageA(Wnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Item.c_str()));
    SendMessageA(Wnd, CB_SETCURSEL, static_cast<WPARAM>(FItemIndex), 0);
    FitHeight();
}

void TComboBox::FontChanged() {
    TControl::FontChanged();
    FitHeight();
}

void TComboBox::ChangeScale(int M, int D) {
    TControl::ChangeScale(M, D);
    FitHeight();
}

void TComboBox::FitHeight() {
    if (!HandleAllocated())
        return;
    HWND Wnd = Handle();
    // The closed box takes its height from the font; its selection field is sized so that the box
    // keeps the designed height whatever font the platform gives. The field's height as set and as
    // reported differ by a platform's own margin: steer by the box's outer height.
    LRESULT Setting = SendMessageA(Wnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    for (int Attempt = 0; Attempt < 4 && FHeight > 0 && Setting > 0; ++Attempt) {
        RECT R;
        GetWindowRect(Wnd, &R);
        int Actual = R.bottom - R.top;
        if (Actual == FHeight || Setting + FHeight - Actual <= 0)
            break;
        Setting += FHeight - Actual;
        SendMessageA(Wnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Setting);
    }
}

void TComboBox::SetSorted(bool Value) {
    if (FSorted == Value)
        return;
    FSorted = Value;
    if (Value) {
        std::string Selected = Text();
        std::stable_sort(
            FItems.FItems.begin(), FItems.FItems.end(),
            [](const std::string& A, const std::string& B) { return lstrcmpiA(A.c_str(), B.c_str()) < 0; });
        FItemIndex = Selected.empty() ? -1 : FItems.IndexOf(Selected);
    }
    RecreateWnd();
}

int TComboBox::ItemIndex() const {
    if (HandleAllocated())
        FItemIndex =
            static_cast<int>(SendMessageA(const_cast<TComboBox*>(this)->Handle(), CB_GETCURSEL, 0, 0));
    return FItemIndex;
}

void TComboBox::SetItemIndex(int Value) {
    if (Value < -1 || Value >= FItems.Count())
        Value = -1;
    FItemIndex = Value;
    if (HandleAllocated())
        SendMessageA(Handle(), CB_SETCURSEL, static_cast<WPARAM>(Value), 0);
}

std::string TComboBox::Text() const {
    int Index = ItemIndex();
    return Index < 0 || Index >= FItems.Count() ? std::string() : FItems[Index];
}

bool TComboBox::CNCommand(WORD Code) {
    if (Code != CBN_SELCHANGE)
        return false;
    ItemIndex();
    Raise(OnChange);
    return true;
}

// ---- TGroupBox ----

TGroupBox::TGroupBox(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 185;
    FHeight = 105;
}

void TGroupBox::CreateParams(TCreateParams& Params) {
    TWinControl::CreateParams(Params);
    Params.ClassName = "BUTTON";
    Params.Style |= BS_GROUPBOX | WS_CLIPCHILDREN;
    // Tab goes into the box's controls as if they were the form's.
    Params.ExStyle |= WS_EX_CONTROLPARENT;
}

void TGroupBox::WndProc(TMessage& M) {
    // The system's group box draws its frame and caption only: the inside is ours to fill.
    if (M.Msg == WM_ERASEBKGND) {
        RECT R;
        GetClientRect(Handle(), &R);
        FillRect(reinterpret_cast<HDC>(M.WParam), &R, BackgroundBrush());
        M.Result = 1;
        return;
    }
    TWinControl::WndProc(M);
}

// ---- TPanel ----

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 185;
    FHeight = 41;
    SetParentColor(false);
}

void TPanel::CreateParams(TCreateParams& Params) {
    TWinControl::CreateParams(Params);
    Params.ClassName = "TPanel";
    Params.SystemClass = false;
    Params.Style |= WS_CLIPCHILDREN;
    Params.ExStyle |= WS_EX_CONTROLPARENT;
}

void TPanel::SetBevelInner(TBevelCut Value) {
    FBevelInner = Value;
    if (HandleAllocated())
        InvalidateRect(Handle(), nullptr, TRUE);
}

void TPanel::SetBevelOuter(TBevelCut Value) {
    FBevelOuter = Value;
    if (HandleAllocated())
        InvalidateRect(Handle(), nullptr, TRUE);
}

void TPanel::WndProc(TMessage& M) {
    switch (M.Msg) {
    case WM_ERASEBKGND:
        M.Result = 1;
        return;
    case WM_PAINT: {
        const TPaintDC DC(Handle());
        Paint(DC.Get());
        M.Result = 0;
        return;
    }
    }
    TWinControl::WndProc(M);
}

void TPanel::Paint(HDC DC) {
    RECT R;
    GetClientRect(Handle(), &R);
    FillRect(DC, &R, BackgroundBrush());
    // Each bevel is one pixel: the outer one on the edge, the inner one just inside it.
    for (TBevelCut Bevel : {FBevelOuter, FBevelInner}) {
        if (Bevel == bvNone)
            continue;
        DrawEdge(DC, &R, Bevel == bvRaised ? BDR_RAISEDOUTER : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    }
    std::string Text = Caption();
    if (!Text.empty()) {
        const TSelectObject Selected(DC, Font()->Handle());
        SetBkMode(DC, TRANSPARENT);
        SetTextColor(DC, ColorToRGB(Font()->Color()));
        DrawTextA(DC, Text.c_str(), -1, &R, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

// ---- TImage ----

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 105;
    FHeight = 105;
    FPicture.OnChange = TNotifyEvent(this, &TImage::PictureChanged);
}

void TImage::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = "STATIC";
    Params.Style |= SS_OWNERDRAW;
}

void TImage::SetCenter(bool Value) {
    FCenter = Value;
    PictureChanged(nullptr);
}

void TImage::SetStretch(bool Value) {
    FStretch = Value;
    PictureChanged(nullptr);
}

void TImage::SetTransparent(bool Value) {
    FTransparent = Value;
    PictureChanged(nullptr);
}

void TImage::SetAutoSize(bool Value) {
    FAutoSize = Value;
    AdjustSize();
}

void TImage::Loaded() {
    TControl::Loaded();
    AdjustSize();
}

void TImage::AdjustSize() {
    if (FAutoSize && !Loading() && !FPicture.Empty())
        SetBounds(FLeft, FTop, FPicture.Width(), FPicture.Height());
}

void TImage::PictureChanged(TObject*) {
    AdjustSize();
    if (HandleAllocated())
        InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::ChangeScale(int M, int D) {
    TControl::ChangeScale(M, D);
    // An icon of the resources is loaded again at the new size, which the program icon has drawn
    // for every common DPI; stretched, it would blur.
    TIcon* Icon = FPicture.Icon();
    if (Icon->ResourceID() && !Icon->Empty()) {
        int W = MulDiv(Icon->Width(), M, D), H = MulDiv(Icon->Height(), M, D);
        Icon->LoadFromResourceID(Icon->ResourceID(), W, H);
    }
}

bool TImage::CNDrawItem(const DRAWITEMSTRUCT& Item) {
    RECT R;
    GetClientRect(Item.hwndItem, &R);
    // The parent's colour under a transparent picture; the picture's own background otherwise.
    FillRect(Item.hDC, &R, BackgroundBrush());
    FPicture.Draw(Item.hDC, R, FCenter, FStretch, FTransparent);
    return true;
}

// ---- TAnimate ----

TAnimate::TAnimate(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 100;
    FHeight = 80;
}

void TAnimate::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = ANIMATE_CLASSA;
    Params.Style |= ACS_CENTER | ACS_TRANSPARENT;
}

void TAnimate::CreateWnd() {
    OpenClip();
    UpdatePlaying();
}

void TAnimate::SetCommonAVI(TCommonAVI Value) {
    FCommonAVI = Value;
    if (Value != aviNone)
        FResID = 0;
    if (HandleAllocated()) {
        OpenClip();
        UpdatePlaying();
    }
}

void TAnimate::SetResID(int Value) {
    FResID = Value;
    if (Value)
        FCommonAVI = aviNone;
    if (HandleAllocated()) {
        OpenClip();
        UpdatePlaying();
    }
}

void TAnimate::OpenClip() {
    HWND Wnd = Handle();
    FClipClosed = false;
    if (FResID)
        SendMessageA(Wnd, ACM_OPENA, reinterpret_cast<WPARAM>(GetModuleHandleA(nullptr)),
                     reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(FResID)));
    else if (FCommonAVI == aviFindComputer)
        SendMessageA(Wnd, ACM_OPENA, reinterpret_cast<WPARAM>(Shell32()),
                     reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(FindComputerClip)));
    else
        SendMessageA(Wnd, ACM_OPENA, 0, 0);
}

void TAnimate::SetActive(bool Value) {
    FActive = Value;
    if (HandleAllocated())
        UpdatePlaying();
}

void TAnimate::SetStartFrame(int Value) {
    FStartFrame = std::max(1, Value);
    if (HandleAllocated() && FActive)
        UpdatePlaying();
}

void TAnimate::SetStopFrame(int Value) {
    FStopFrame = std::max(0, Value);
    if (HandleAllocated() && FActive)
        UpdatePlaying();
}

void TAnimate::UpdatePlaying() {
    HWND Wnd = Handle();
    if (FClipClosed)
        OpenClip();
    if (!FActive || (FCommonAVI == aviNone && !FResID)) {
        SendMessageA(Wnd, ACM_STOP, 0, 0);
        return;
    }
    WORD From = static_cast<WORD>(FStartFrame - 1);
    WORD To = FStopFrame == 0 ? static_cast<WORD>(0xFFFF) : static_cast<WORD>(FStopFrame - 1);
    // Repeat count -1: loops until stopped. A system's stock clip may be shorter than the designed
    // range (Wine's find-computer clip is), and the control refuses a range past its last frame:
    // such a clip plays to its end.
    if (!SendMessageA(Wnd, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(From, To)) &&
        (To == 0xFFFF || !SendMessageA(Wnd, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(From, 0xFFFF)))) {
        // A busy animation is decoration: one that will not play shows nothing, and whatever
        // started it goes on.
        SendMessageA(Wnd, ACM_OPENA, 0, 0);
        FClipClosed = true;
    }
}

// ---- TStatusBar ----

TStatusBar::TStatusBar(TComponent* AOwner) : TControl(AOwner) {
    FHeight = 19;
}

void TStatusBar::CreateParams(TCreateParams& Params) {
    TControl::CreateParams(Params);
    Params.ClassName = STATUSCLASSNAMEA;
    // At the parent's bottom edge, along its whole width: the control places itself there.
    Params.Style |= CCS_BOTTOM;
}

void TStatusBar::CreateWnd() {
    UpdateParts();
    FitToParent();
}

void TStatusBar::FontChanged() {
    TControl::FontChanged();
    // The bar takes its height from its font.
    FitToParent();
}

void TStatusBar::ChangeScale(int M, int D) {
    TControl::ChangeScale(M, D);
    for (TStatusPanel& Panel : FPanels)
        Panel.Width = MulDiv(Panel.Width, M, D);
    UpdateParts();
}

void TStatusBar::FitToParent() {
    if (!Parent())
        return;
    if (!HandleAllocated()) {
        FLeft = 0;
        FWidth = Parent()->ClientWidth();
        FTop = Parent()->ClientHeight() - FHeight;
        return;
    }
    SendMessageA(Handle(), WM_SIZE, 0, 0);
    RECT R;
    GetWindowRect(Handle(), &R);
    MapWindowPoints(nullptr, Parent()->Handle(), reinterpret_cast<POINT*>(&R), 2);
    FLeft = R.left;
    FTop = R.top;
    FWidth = R.right - R.left;
    FHeight = R.bottom - R.top;
}

int TStatusBar::AddPanel(const std::string& Text, int Width, TAlignment Alignment) {
    FPanels.push_back({Text, Width, Alignment});
    UpdateParts();
    return PanelCount() - 1;
}

void TStatusBar::SetPanelText(int Index, const std::string& Text) {
    FPanels.at(static_cast<size_t>(Index)).Text = Text;
    UpdatePanelText(Index);
}

void TStatusBar::SetPanelWidth(int Index, int Width) {
    FPanels.at(static_cast<size_t>(Index)).Width = Width;
    UpdateParts();
}

void TStatusBar::SetPanelAlignment(int Index, TAlignment Alignment) {
    FPanels.at(static_cast<size_t>(Index)).Alignment = Alignment;
    UpdatePanelText(Index);
}

void TStatusBar::UpdateParts() {
    if (!HandleAllocated() || FPanels.empty())
        return;
    // Right edges; the last panel runs to the end of the bar.
    std::vector<int> Edges;
    int Edge = 0;
    for (const TStatusPanel& Panel : FPanels) {
        Edge += Panel.Width;
        Edges.push_back(Edge);
    }
    Edges.back() = -1;
    SendMessageA(Handle(), SB_SETPARTS, Edges.size(), reinterpret_cast<LPARAM>(Edges.data()));
    for (int I = 0; I < PanelCount(); ++I)
        UpdatePanelText(I);
}

void TStatusBar::UpdatePanelText(int Index) {
    if (!HandleAllocated())
        return;
    const TStatusPanel& Panel = FPanels.at(static_cast<size_t>(Index));
    // The bar centres what follows one tab and right-aligns what follows two.
    std::string Text = Panel.Alignment == taCenter         ? "\t" + Panel.Text
                       : Panel.Alignment == taRightJustify ? "\t\t" + Panel.Text
                                                           : Panel.Text;
    SendMessageA(Handle(), SB_SETTEXTA, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(Text.c_str()));
}
