#pragma once
// The control core. Every control is a standard Win32 window (a button is a BUTTON, a label a
// STATIC, a status bar an msctls_statusbar32), so that automation tools and screen readers see an
// ordinary window.
//
// A control keeps its properties itself and applies them to its window when it has one. Windows
// are made late: a form makes its own when its design is complete, or when it is first shown, and
// then makes its controls' windows; a control given a parent that already has a window gets one at
// once. So a designed form sets its properties freely, in any order, while loading.
//
// Notifications that Win32 sends to a parent (WM_COMMAND, WM_CTLCOLOR..., WM_DRAWITEM) are handed
// back to the control they concern, so each control handles its own clicks and colours.

#include "kit/Component.h"
#include "kit/Events.h"
#include "kit/Graphics.h"
#include "kit/UniqueHandle.h"
#include "kit/Messages.h"
#include "kit/Sets.h"

#include <memory>
#include <string>
#include <vector>
#include <windows.h>

class TWinControl;
class TForm;

enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind, std::uint8_t>;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

enum TCursor { crDefault, crArrow, crHandPoint };

// What a control's window is made of; a control's CreateParams fills it in.
struct TCreateParams {
    std::string ClassName;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    // Whether ClassName is a window class of the system (then the control subclasses it) or one
    // the layer registers for the control.
    bool SystemClass = true;
    // Added to the window's height: a drop-down list's window includes its list.
    int ExtraHeight = 0;
};

class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    TWinControl* Parent() const { return FParent; }
    void SetParent(TWinControl* Value);

    // Position and size in pixels, relative to the parent's client area (for a form: the screen).
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
    void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
    void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
    void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // Keeps the distance to these edges of the parent when the parent is resized. Default
    // [akLeft, akTop].
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors Value);

    bool Visible() const { return FVisible; } // default true
    virtual void SetVisible(bool Value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return FEnabled; } // default true
    virtual void SetEnabled(bool Value);

    // The window text: a button's or label's caption, an edit's contents.
    const std::string& Caption() const;
    void SetCaption(const std::string& Value);

    // Taken from the parent while ParentFont is true; changing it makes ParentFont false.
    TFont* Font() { return &FFont; }
    bool ParentFont() const { return FParentFont; } // default true
    void SetParentFont(bool Value);
    // The background; taken from the parent while ParentColor is true.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool Value);
    TCursor Cursor() const { return FCursor; } // default crDefault
    void SetCursor(TCursor Value) { FCursor = Value; }

    // Position in the parent's tab order; only windows with TabStop are reached by Tab.
    int TabOrder() const;
    void SetTabOrder(int Value);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool Value);

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    HWND Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    // The window if it has been made, else null; unlike Handle it never makes one, so const
    // queries read the window through it.
    HWND WindowHandle() const { return FHandle; }
    void SetFocus();
    bool Focused() const;
    // The form this control sits on, if any.
    TForm* ParentForm() const;
    // The DPI the control's position, size and font are in: its form's (96 as designed).
    int PixelsPerInch() const;

    void Loaded() override;
    // The control's click: raises OnClick.
    virtual void Click();

    // The control whose window this is, or null for windows of others.
    static TControl* FromHandle(HWND Window);

protected:
    virtual void CreateParams(TCreateParams& Params) const;
    // Makes the window when the parent has one; a form makes its own.
    virtual void CreateHandle();
    // Makes the window from CreateParams at the given place, under Parent (a form: its owner).
    void MakeWindow(HWND ParentWindow, int X, int Y, int W, int H, DWORD ExtraStyle);
    // Whether the control takes part in its parent's tab order. Labels and pictures do not.
    virtual bool InTabList() const { return true; }
    // After the window is made: fills in what the styles do not carry (font, check state, items).
    virtual void CreateWnd() {}
    virtual void WndProc(TMessage& Message);
    void DefaultHandler(TMessage& Message);

    // The parent's client area is now ClientWidth by ClientHeight: the anchors move the control.
    virtual void ParentResized(int ClientWidth, int ClientHeight);

    // Notifications of the parent's, handed back to this control. Return true when handled.
    virtual bool CNCommand(WORD Code);
    virtual bool CNCtlColor(HDC DC, LRESULT& Brush);
    virtual bool CNDrawItem(const DRAWITEMSTRUCT& Item);

    // The pointer entered or left the control.
    virtual void MouseEnter();
    virtual void MouseLeave();

    virtual void FontChanged();
    virtual void ColorChanged();
    virtual void TextChanged() {}
    // The form's layout moves to another DPI: position and size scale by M/D, and a container's
    // controls with it. Fonts follow in ScaleFont, once every control has its new place.
    virtual void ChangeScale(int M, int D);
    virtual void ScaleFont(int NewPixelsPerInch);
    // A value designed at 96 pixels per inch, at the control's DPI.
    int ScaleValue(int Designed) const { return MulDiv(Designed, PixelsPerInch(), 96); }
    bool Loading() const { return ComponentState().Contains(csLoading); }
    void RecreateWnd();

    // The brush of Color, made when first needed.
    HBRUSH BackgroundBrush();
    int ControlId() const { return FId; }

    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;

private:
    friend class TWinControl;
    friend class TForm;

    void DestroyHandle();
    void UpdateWindowBounds();
    void ParentFontChanged();
    void ParentColorChanged();
    void FontChangedEvent(TObject* Sender);
    void TakeAnchorRules();
    static LRESULT CALLBACK SubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                         DWORD_PTR) noexcept;
    static LRESULT CALLBACK ClassWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;
    static LRESULT Dispatch(TControl* Self, HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;

    TWinControl* FParent = nullptr;
    HWND FHandle = nullptr;
    bool FSystemClass = true;
    int FId;
    TAnchors FAnchors{akLeft, akTop};
    // Distance to the parent's right and bottom edges, taken when the anchors were set.
    int FAnchorRight = 0, FAnchorBottom = 0;
    bool FVisible = true;
    bool FEnabled = true;
    mutable std::string FCaption;
    TFont FFont;
    bool FParentFont = true;
    bool FFontFromParent = false;
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    TUniqueHandle<TGdiObjectTraits<HBRUSH>> FBrush;
    TCursor FCursor = crDefault;
    bool FTabStop = false;
    int FTabOrderValue = -1;
    bool FMouseInside = false;
};

// A control that holds other controls: the form, group boxes, panels.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int Index) const { return FControls.at(static_cast<std::size_t>(Index)); }

    // The client area's size: the window's when it has one, else what the design gives.
    virtual int ClientWidth() const { return FWidth; }
    virtual int ClientHeight() const { return FHeight; }

    // The controls in tab order (windowed controls only).
    const std::vector<TControl*>& TabList() const { return FTabList; }

protected:
    void CreateHandle() override;
    void WndProc(TMessage& Message) override;
    void FontChanged() override;
    void ColorChanged() override;
    void ChangeScale(int M, int D) override;
    void ScaleFont(int NewPixelsPerInch) override;
    // Applies the anchors of the children to a new client size.
    void ClientResized();

private:
    friend class TControl;
    friend class TForm;

    void InsertControl(TControl* Control);
    void RemoveControl(TControl* Control);
    void FixupTabList();
    void ApplyTabOrder();
    void CreateChildHandles();

    std::vector<TControl*> FControls;
    std::vector<TControl*> FTabList;
    bool FTabListFixed = false;
};
