#pragma once
// Forms: the program's top-level windows. A form is owned by the application window, so the program
// has one taskbar button, shown while any form is visible.
//
// A designed form sets its own properties and creates and sets its components in its constructor,
// in the designed order; everything it creates is marked as loading meanwhile. AfterConstruction
// (which Application->CreateForm calls, and Show or ShowModal if nobody did) then runs each
// component's Loaded, makes the windows and raises OnCreate.

#include "kit/Application.h"
#include "kit/Controls.h"

#include <windows.h>

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize };
using TBorderIcons = TSet<TBorderIcon, std::uint8_t>;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TEvent<TObject*, TCloseAction&>;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = IDOK;
constexpr TModalResult mrCancel = IDCANCEL;

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // Left and Top are screen positions; SetBounds gives the outer size, SetClientSize the client
    // area's. The one given last holds.
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetClientSize(int AClientWidth, int AClientHeight);
    int ClientWidth() const override;
    int ClientHeight() const override;

    TFormBorderStyle BorderStyle() const { return FBorderStyle; } // default bsSizeable
    void SetBorderStyle(TFormBorderStyle Value);
    // default [biSystemMenu, biMinimize, biMaximize]
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons Value);
    // The window's icon; empty shows the system's default.
    TIcon* Icon() { return &FIcon; }

    // The DPI the form's layout is at: 96 as designed, until its window is made on a screen of
    // another DPI or moves to one. The designed positions (except the form's own screen position),
    // sizes and fonts are pixels at 96 per inch.
    int PixelsPerInch() const { return FPixelsPerInch; }
    // Lays the form out at a new DPI: every control and font scaled from the current DPI, the image
    // lists at the matching size, and the window at Suggested (the system's rectangle for it on
    // the new monitor) or, without one, at its scaled size where it is.
    void ScaleForPPI(int NewPixelsPerInch, const RECT* Suggested = nullptr);

    void SetVisible(bool Value) override;
    void Show();
    void BringToFront();
    // Shows the form and dispatches messages (timers and other windows' messages included) until a
    // button or Close sets ModalResult; the other windows take no input meanwhile.
    TModalResult ShowModal();
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value) { FModalResult = Value; }
    // Asks OnClose, which may refuse (caNone). Closing the main form ends the program.
    void Close();
    // Frees the form once the messages being handled now are done.
    void Release();

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TCloseEvent OnClose;

    void AfterConstruction();

protected:
    void CreateParams(TCreateParams& Params) const override;
    void CreateHandle() override;
    void WndProc(TMessage& Message) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void ChangeScale(int M, int D) override;

    virtual void DoCreate();
    virtual void DoShow();
    virtual void DoClose(TCloseAction& Action);

private:
    friend class TButton;

    void ButtonFocusChanged(TButton* Button, bool Focused);
    TButton* DefaultButton() const;
    void FocusFirstControl();
    void UpdateOuterSize();
    // The frame around the client area at a DPI.
    SIZE FrameSize(int Dpi) const;
    void IconChanged(TObject* Sender);
    void CloseModal();
    std::string WindowClassName() const;

    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
    bool FClientSized = false;
    int FClientWidth = 0;
    int FClientHeight = 0;
    TIcon FIcon;
    int FPixelsPerInch = 96;
    bool FConstructed = false;
    bool FModal = false;
    TModalResult FModalResult = mrNone;
    HWND FLastFocus = nullptr;
};

// Creates one control of a designed form: owned by the form, named, and placed in its parent at
// its designed client position and size.
template <class TControlClass>
TControlClass* PlaceControl(TForm* Form, TWinControl* Parent, const char* Name, int Left, int Top, int Width,
                            int Height) {
    auto* Control = new TControlClass(Form);
    Control->SetName(Name);
    Control->SetParent(Parent);
    Control->SetBounds(Left, Top, Width, Height);
    return Control;
}

// A push button of a designed form, at the standard button height.
inline TButton* PlaceButton(TForm* Form, TWinControl* Parent, const char* Name, int Left, int Top, int Width,
                            const char* Caption, int TabOrder) {
    auto* Button = PlaceControl<TButton>(Form, Parent, Name, Left, Top, Width, 25);
    Button->SetCaption(Caption);
    Button->SetTabOrder(TabOrder);
    return Button;
}

// A one-line label of a designed form.
inline TLabel* PlaceLabel(TForm* Form, TWinControl* Parent, const char* Name, int Left, int Top, int Width,
                          const char* Caption, TAlignment Alignment = taLeftJustify) {
    auto* Label = PlaceControl<TLabel>(Form, Parent, Name, Left, Top, Width, 13);
    Label->SetAlignment(Alignment);
    Label->SetCaption(Caption);
    return Label;
}

template <class TFormClass> void TApplication::CreateForm(TFormClass*& Reference) {
    auto* Form = new TFormClass(this);
    // The global reference is set before OnCreate, whose handlers may use it.
    Reference = Form;
    if (!FMainForm)
        FMainForm = Form;
    Form->AfterConstruction();
}
