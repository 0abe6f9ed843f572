#include "kit/StandardControls.h"

#include "kit/Exceptions.h"
#include "kit/Forms.h"

#include <algorithm>

// ---- TButton ----

TButton::TButton(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 75;
    FHeight = 25;
    SetTabStop(true);
}

void TButton::CreateParams(TCreateParams& Params) const {
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

void TCheckBox::CreateParams(TCreateParams& Params) const {
    TControl::CreateParams(Params);
    Params.ClassName = "BUTTON";
    Params.Style |= BS_AUTOCHECKBOX;
}

void TCheckBox::CreateWnd() {
    SendMessageA(Handle(), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Checked() const {
    if (HandleAllocated())
        FChecked = SendMessageA(WindowHandle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
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

void TEdit::CreateParams(TCreateParams& Params) const {
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

void TLabel::CreateParams(TCreateParams& Params) const {
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

void TComboBox::CreateParams(TCreateParams& Params) const {
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
        FItemIndex = static_cast<int>(SendMessageA(WindowHandle(), CB_GETCURSEL, 0, 0));
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

void TGroupBox::CreateParams(TCreateParams& Params) const {
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

void TPanel::CreateParams(TCreateParams& Params) const {
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

void TImage::CreateParams(TCreateParams& Params) const {
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
