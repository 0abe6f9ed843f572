#include "kit/CommonControls.h"

#include <commctrl.h>

#include <algorithm>

namespace {

// The system's module that holds the stock animation clips, loaded once for the process.
HMODULE Shell32() {
    static HMODULE Module = LoadLibraryA("shell32.dll");
    return Module;
}

constexpr int FindComputerClip = 152;

} // namespace

// ---- TAnimate ----

TAnimate::TAnimate(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 100;
    FHeight = 80;
}

void TAnimate::CreateParams(TCreateParams& Params) const {
    TControl::CreateParams(Params);
    Params.ClassName = ANIMATE_CLASSA;
    // Played by a timer on the user-interface thread, which runs everything: without ACS_TIMER the
    // control starts a thread of its own for every clip it plays.
    Params.Style |= ACS_CENTER | ACS_TRANSPARENT | ACS_TIMER;
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

void TStatusBar::CreateParams(TCreateParams& Params) const {
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

void TStatusBar::ParentResized(int ClientWidth, int ClientHeight) {
    TControl::ParentResized(ClientWidth, ClientHeight);
    FitToParent();
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
