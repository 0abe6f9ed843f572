// Forms and controls as another program sees them: a designed test form with one control of each
// kind, read back and worked through the UI driver (a separate process), under Wine and Xvfb.

#include "app/res/Resources.h"
#include "kit/Dialogs.h"
#include "kit/Exceptions.h"
#include "kit/Forms.h"
#include "kit/Timer.h"
#include "kit/UniqueHandle.h"
#include "tests/win/UiDriverClient.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <map>
#include <memory>

namespace {

const char* const AppTitle = "Cardwick Forms Test";

template <class T> T* Make(TForm* Owner, const char* Name, TWinControl* Parent, int L, int T_, int W, int H) {
    T* C = new T(Owner);
    C->SetName(Name);
    C->SetParent(Parent);
    C->SetBounds(L, T_, W, H);
    return C;
}

// Designed as the program's forms are: properties in designed order, components created loading.
class TTestForm : public TForm {
public:
    TButton* btnConnect;
    TButton* btnOff;
    TEdit* edtValue;
    TLabel* Label2;
    TCheckBox* cxCheck;
    TGroupBox* gbGroup;
    TComboBox* cbPort;
    TComboBox* cbBaud;
    TButton* btnTest;
    TImage* Image1;
    TAnimate* anDetect;
    TPanel* Panel1;
    TImage* ProgramIcon;
    TLabel* lblProduct;
    TButton* btnThrow;
    TStatusBar* sbStatus;
    TTimer* tmTick;

    int ConnectClicks = 0;
    int TestClicks = 0;
    int Ticks = 0;
    bool Throw = false;

    explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {
        SetLeft(40);
        SetTop(30);
        SetClientSize(400, 290);
        SetBorderStyle(bsSingle);
        SetBorderIcons({biSystemMenu, biMinimize});
        SetCaption("Forms Test Window");

        btnConnect = Make<TButton>(this, "btnConnect", this, 8, 8, 81, 25);
        btnConnect->SetCaption("&Connect");
        btnConnect->SetDefault(true);
        btnConnect->SetTabOrder(0);
        btnConnect->OnClick = TNotifyEvent(this, &TTestForm::btnConnectClick);

        btnOff = Make<TButton>(this, "btnOff", this, 8, 40, 81, 25);
        btnOff->SetCaption("&Start Reading");
        btnOff->SetEnabled(false);
        btnOff->SetTabOrder(1);

        Label2 = Make<TLabel>(this, "Label2", this, 117, 8, 69, 13);
        Label2->SetCaption("Serial Number:");
        Label2->SetAlignment(taRightJustify);

        edtValue = Make<TEdit>(this, "edtValue", this, 191, 8, 121, 21);
        edtValue->SetReadOnly(true);
        edtValue->SetTabStop(false);
        edtValue->SetText("12345678");

        cxCheck = Make<TCheckBox>(this, "cxCheck", this, 8, 72, 153, 17);
        cxCheck->SetCaption("&Load on Windows startup");
        cxCheck->SetTabOrder(2);

        gbGroup = Make<TGroupBox>(this, "gbGroup", this, 8, 100, 217, 145);
        gbGroup->SetCaption("Port Settings: ");
        gbGroup->SetTabOrder(3);

        cbPort = Make<TComboBox>(this, "cbPort", gbGroup, 72, 24, 113, 21);
        cbPort->SetSorted(true);
        for (const char* Port : {"COM3", "COM10", "COM1"})
            cbPort->Items().Add(Port);
        cbPort->SetTabOrder(2);

        cbBaud = Make<TComboBox>(this, "cbBaud", gbGroup, 72, 48, 113, 21);
        for (const char* Rate : {"4800", "9600", "19200"})
            cbBaud->Items().Add(Rate);
        cbBaud->SetItemIndex(2);
        cbBaud->SetTabOrder(0);

        btnTest = Make<TButton>(this, "btnTest", gbGroup, 31, 104, 75, 25);
        btnTest->SetCaption("&Test");
        btnTest->SetTabOrder(1);
        btnTest->OnClick = TNotifyEvent(this, &TTestForm::btnTestClick);

        Image1 = Make<TImage>(this, "Image1", gbGroup, 192, 26, 16, 16);
        Image1->Picture()->Bitmap()->LoadFromResourceID(IDB_CHECKMARK);
        Image1->SetCenter(true);
        Image1->SetTransparent(true);
        Image1->SetVisible(false);

        anDetect = Make<TAnimate>(this, "anDetect", gbGroup, 192, 108, 16, 16);
        anDetect->SetCommonAVI(aviFindComputer);
        anDetect->SetStopFrame(8);

        Panel1 = Make<TPanel>(this, "Panel1", this, 240, 100, 150, 100);
        Panel1->SetBevelInner(bvRaised);
        Panel1->SetBevelOuter(bvLowered);
        Panel1->SetParentColor(true);
        Panel1->SetTabOrder(4);

        ProgramIcon = Make<TImage>(this, "ProgramIcon", Panel1, 8, 8, 20, 20);
        ProgramIcon->Picture()->Icon()->LoadFromResourceID(IDI_CARDWICK);
        ProgramIcon->SetStretch(true);
        ProgramIcon->SetAutoSize(true);

        lblProduct = Make<TLabel>(this, "lblProduct", Panel1, 48, 8, 95, 13);
        lblProduct->SetCaption("Orvela Cardwick");

        btnThrow = Make<TButton>(this, "btnThrow", this, 317, 232, 75, 25);
        btnThrow->SetCaption("&Fail");
        btnThrow->SetAnchors({akRight, akBottom});
        btnThrow->SetTabOrder(5);
        btnThrow->OnClick = TNotifyEvent(this, &TTestForm::btnThrowClick);

        sbStatus = Make<TStatusBar>(this, "sbStatus", this, 0, 271, 400, 19);
        sbStatus->AddPanel("Disconnected", 75, taCenter);
        sbStatus->AddPanel("", 50);

        tmTick = new TTimer(this);
        tmTick->SetName("tmTick");
        tmTick->SetInterval(25);
        tmTick->OnTimer = TNotifyEvent(this, &TTestForm::tmTickTimer);
    }

    void btnConnectClick(TObject*) { ++ConnectClicks; }
    void btnTestClick(TObject*) { ++TestClicks; }
    void btnThrowClick(TObject*) { throw Exception("Click failed on purpose"); }
    void tmTickTimer(TObject*) { ++Ticks; }
};

// A form without a default button, which refuses to close while Refuse is set.
class TPlainForm : public TForm {
public:
    TCheckBox* cxOption;
    TButton* btnOK;
    TButton* btnCancel;
    bool Refuse = false;
    int Closes = 0;

    explicit TPlainForm(TComponent* AOwner) : TForm(AOwner) {
        SetBounds(460, 30, 240, 160);
        SetCaption("Plain Test Window");
        cxOption = Make<TCheckBox>(this, "cxOption", this, 8, 8, 121, 17);
        cxOption->SetCaption("Show on startup");
        btnOK = Make<TButton>(this, "btnOK", this, 47, 80, 75, 25);
        btnOK->SetCaption("&OK");
        btnOK->SetModalResult(mrOk);
        btnCancel = Make<TButton>(this, "btnCancel", this, 127, 80, 75, 25);
        btnCancel->SetCaption("&Cancel");
        btnCancel->SetModalResult(mrCancel);
        OnClose = TCloseEvent(this, &TPlainForm::FormClose);
    }

    void FormClose(TObject*, TCloseAction& Action) {
        ++Closes;
        if (Refuse) {
            Action = caNone;
            Refuse = false;
        }
    }
};

class TCreateFailsForm : public TForm {
public:
    explicit TCreateFailsForm(TComponent* AOwner) : TForm(AOwner) {
        SetBounds(100, 360, 200, 100);
        SetCaption("Create Fails Window");
        OnCreate = TNotifyEvent(this, &TCreateFailsForm::FormCreate);
    }
    void FormCreate(TObject*) { throw Exception("OnCreate failed on purpose"); }
};

std::string H(HWND Window) {
    return TUiDriverClient::HandleText(Window);
}

std::string H(TControl* Control) {
    return H(Control->Handle());
}

// A box as the driver read it: its title, icon and text, and one button, OK.
void ExpectBox(const TUiAnswer& Box, const std::string& Title, const std::string& Icon,
               const std::string& Text) {
    ASSERT_TRUE(Box.Ok) << Box.Status;
    EXPECT_EQ(Box.Value("title"), Title);
    EXPECT_EQ(Box.Value("icon"), Icon);
    EXPECT_EQ(Box.Value("text"), Text);
    EXPECT_EQ(Box.Rows.back(), "button\tOK");
    EXPECT_EQ(Box.Rows.size(), 5u) << "one button";
}

class FormsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application->SetTitle(AppTitle);
        Driver = new TUiDriverClient();
        Form = new TTestForm(Application);
        Form->AfterConstruction();
        Plain = new TPlainForm(Application);
        Plain->AfterConstruction();
    }
    static void TearDownTestSuite() {
        delete Plain;
        delete Form;
        delete Driver;
    }
    void SetUp() override {
        Plain->Hide();
        Form->Show();
        PumpMessages(100);
    }

    // Keys typed by the driver as a user types them, then given time to arrive.
    void Keys(const std::string& Chords) {
        ASSERT_TRUE(Driver->Call("keys " + Chords).Ok);
        PumpMessages(150);
    }
    HWND DriverFocus() {
        TUiAnswer A = Driver->Call("focus");
        EXPECT_TRUE(A.Ok) << A.Status;
        return reinterpret_cast<HWND>(std::strtoull(A.Value("focus").c_str(), nullptr, 16));
    }

    static inline TUiDriverClient* Driver = nullptr;
    static inline TTestForm* Form = nullptr;
    static inline TPlainForm* Plain = nullptr;
};

struct TExpected {
    const char* Name;
    const char* Class;
    const char* Text;
    bool Visible;
    bool Enabled;
};

// Each kind of control as the standard control that automation and screen readers know, with its
// parent, text and state as designed. Where the controls lie is checked on the program's own forms
// (DpiTest at 96 and 144 DPI, and end to end).
TEST_F(FormsTest, ControlsReadBackAsDesigned) {
    TUiAnswer Window = Driver->Call("window " + H(Form));
    ASSERT_TRUE(Window.Ok) << Window.Status;
    EXPECT_EQ(Window.Value("client"), "400\t290");
    EXPECT_EQ(Window.Value("text"), "Forms Test Window");
    LONG Style = GetWindowLongA(Form->Handle(), GWL_STYLE);
    EXPECT_TRUE(Style & WS_MINIMIZEBOX);
    EXPECT_FALSE(Style & (WS_MAXIMIZEBOX | WS_THICKFRAME));

    TUiAnswer Plainly = Driver->Call("window " + H(Plain));
    ASSERT_TRUE(Plainly.Ok);
    EXPECT_EQ(Plainly.Value("rect"), "460\t30\t240\t160") << "a form designed by its outer size";

    const TExpected Expected[] = {
        {"btnConnect", "Button", "&Connect", true, true},
        {"btnOff", "Button", "&Start Reading", true, false},
        {"Label2", "Static", "Serial Number:", true, true},
        {"edtValue", "Edit", "12345678", true, true},
        {"cxCheck", "Button", "&Load on Windows startup", true, true},
        {"gbGroup", "Button", "Port Settings: ", true, true},
        {"cbPort", "ComboBox", "", true, true},
        {"cbBaud", "ComboBox", "19200", true, true},
        {"btnTest", "Button", "&Test", true, true},
        {"Image1", "Static", "", false, true},
        {"anDetect", "SysAnimate32", "", true, true},
        {"Panel1", "TPanel", "", true, true},
        {"ProgramIcon", "Static", "", true, true},
        {"lblProduct", "Static", "Orvela Cardwick", true, true},
        {"btnThrow", "Button", "&Fail", true, true},
        {"sbStatus", "msctls_statusbar32", "\\tDisconnected", true, true}, // its first panel, centred
    };
    TUiAnswer Children = Driver->Call("children " + H(Form));
    ASSERT_TRUE(Children.Ok) << Children.Status;
    std::map<std::string, std::vector<std::string>> ByHandle;
    for (const std::string& Row : Children.Rows) {
        auto F = TUiAnswer::Fields(Row);
        ByHandle[F[0]] = F;
    }
    for (const TExpected& E : Expected) {
        SCOPED_TRACE(E.Name);
        auto* C = dynamic_cast<TControl*>(Form->FindComponent(E.Name));
        ASSERT_NE(C, nullptr);
        ASSERT_TRUE(ByHandle.count(H(C))) << "not among the form's windows";
        const auto& F = ByHandle[H(C)];
        ASSERT_EQ(F.size(), 11u);
        EXPECT_EQ(F[1], H(C->Parent()));
        EXPECT_STRCASEEQ(F[3].c_str(), E.Class);
        EXPECT_EQ(F[4], E.Visible ? "1" : "0");
        EXPECT_EQ(F[5], E.Enabled ? "1" : "0");
        EXPECT_EQ(F[10], E.Text);
    }
    // A picture that sizes itself takes its icon's size.
    EXPECT_EQ(ByHandle[H(Form->ProgramIcon)][8], "32");

    TUiAnswer Panels = Driver->Call("status " + H(Form->sbStatus));
    ASSERT_TRUE(Panels.Ok) << Panels.Status;
    ASSERT_EQ(Panels.Rows.size(), 2u);
    EXPECT_EQ(Panels.Rows[0], "75\tcenter\tDisconnected");
    EXPECT_EQ(Panels.Rows[1], "-1\tleft\t");
    Form->sbStatus->SetPanelText(1, "12:00:00: Read Card ID OK");
    EXPECT_EQ(Driver->Call("status " + H(Form->sbStatus)).Rows.at(1), "-1\tleft\t12:00:00: Read Card ID OK");
}

TEST_F(FormsTest, EveryControlUsesTheDesignFont) {
    for (int I = 0; I < Form->ComponentCount(); ++I) {
        auto* C = dynamic_cast<TControl*>(Form->Components(I));
        if (!C)
            continue;
        SCOPED_TRACE(C->Name());
        EXPECT_EQ(C->Font()->Name(), "MS Sans Serif");
        EXPECT_EQ(C->Font()->Height(), -11);
        auto Font = reinterpret_cast<HFONT>(SendMessageA(C->Handle(), WM_GETFONT, 0, 0));
        if (!Font)
            continue; // the animation and the layer's own windows keep no font of their window
        LOGFONTA Log = {};
        ASSERT_TRUE(GetObjectA(Font, sizeof Log, &Log));
        EXPECT_STREQ(Log.lfFaceName, "MS Sans Serif");
        EXPECT_EQ(Log.lfHeight, -11);
    }
    // A font set on the form reaches the controls that take their parent's.
    Form->Font()->SetStyle({fsBold});
    EXPECT_TRUE(Form->btnTest->Font()->Style().Contains(fsBold));
    Form->Font()->SetStyle({});
    EXPECT_FALSE(Form->btnTest->Font()->Style().Contains(fsBold));
}

TEST_F(FormsTest, CombosCheckBoxesAndEditsReadAndWorkThroughTheDriver) {
    TUiAnswer Port = Driver->Call("combo " + H(Form->cbPort));
    ASSERT_TRUE(Port.Ok) << Port.Status;
    EXPECT_EQ(Port.Rows, (std::vector<std::string>{"-1", "COM1", "COM10", "COM3"}))
        << "sorted, none selected";
    EXPECT_EQ(Form->cbPort->ItemIndex(), -1);
    EXPECT_EQ(Form->cbPort->Text(), "");
    EXPECT_EQ(Form->cbPort->Items().Add("COM2"), 2) << "sorted as text, not as numbers";

    TUiAnswer Baud = Driver->Call("combo " + H(Form->cbBaud));
    EXPECT_EQ(Baud.Rows, (std::vector<std::string>{"2", "4800", "9600", "19200"})) << "in designed order";
    ASSERT_TRUE(Driver->Call("select " + H(Form->cbBaud) + " 9600").Ok);
    PumpMessages(50);
    EXPECT_EQ(Form->cbBaud->ItemIndex(), 1);
    EXPECT_EQ(Form->cbBaud->Text(), "9600");
    Form->cbBaud->SetItemIndex(-1);
    EXPECT_EQ(Driver->Call("combo " + H(Form->cbBaud)).Rows.at(0), "-1");

    EXPECT_EQ(Driver->Call("checked " + H(Form->cxCheck)).Rows.at(0), "0");
    ASSERT_TRUE(Driver->Call("click " + H(Form->cxCheck)).Ok);
    PumpMessages(50);
    EXPECT_TRUE(Form->cxCheck->Checked());
    Form->cxCheck->SetChecked(false);
    EXPECT_EQ(Driver->Call("checked " + H(Form->cxCheck)).Rows.at(0), "0");

    Form->edtValue->SetText("Card\t1");
    EXPECT_EQ(Driver->Call("text " + H(Form->edtValue)).Rows.at(0), "Card\\t1");

    TUiAnswer Disabled = Driver->Call("click " + H(Form->btnOff));
    EXPECT_FALSE(Disabled.Ok) << "a disabled button cannot be clicked";
}

TEST_F(FormsTest, TabWalksTheDesignedOrderIntoAndOutOfTheGroupBox) {
    Form->BringToFront();
    Form->btnConnect->SetFocus();
    PumpMessages(100);
    ASSERT_EQ(DriverFocus(), Form->btnConnect->Handle());
    // The disabled button, the read-only edit and the panel without tab stops are passed over.
    TControl* Order[] = {Form->cxCheck, Form->cbBaud,   Form->btnTest,
                         Form->cbPort,  Form->btnThrow, Form->btnConnect};
    for (TControl* Next : Order) {
        Keys("TAB");
        EXPECT_EQ(DriverFocus(), Next->Handle()) << "expected " << Next->Name();
    }
    Keys("SHIFT+TAB");
    EXPECT_EQ(DriverFocus(), Form->btnThrow->Handle());
}

TEST_F(FormsTest, EnterPressesTheDefaultButtonOrTheFocusedOne) {
    Form->BringToFront();
    Form->cxCheck->SetFocus();
    PumpMessages(100);
    int Before = Form->ConnectClicks;
    Keys("RETURN");
    EXPECT_EQ(Form->ConnectClicks, Before + 1) << "the default button";

    Form->btnTest->SetFocus();
    PumpMessages(100);
    Keys("RETURN");
    EXPECT_EQ(Form->ConnectClicks, Before + 1);
    EXPECT_EQ(Form->TestClicks, 1) << "the focused button";
}

TEST_F(FormsTest, WithoutADefaultButtonEnterAndEscapeCloseNothing) {
    Plain->Show();
    Plain->cxOption->SetFocus();
    PumpMessages(100);
    Keys("RETURN ESCAPE");
    EXPECT_EQ(Plain->Closes, 0);
    EXPECT_EQ(Driver->Call("window " + H(Plain)).Value("visible"), "1");
}

TEST_F(FormsTest, AnchoredControlsKeepTheirDistanceToTheRightAndBottom) {
    Form->SetClientSize(440, 330);
    PumpMessages(50);
    EXPECT_EQ(Form->btnThrow->Left(), 357);
    EXPECT_EQ(Form->btnThrow->Top(), 272);
    EXPECT_EQ(Form->btnConnect->Left(), 8) << "anchored left and top";
    RECT Bar;
    GetWindowRect(Form->sbStatus->Handle(), &Bar);
    EXPECT_EQ(Bar.right - Bar.left, 440);
    Form->SetClientSize(400, 290);
    PumpMessages(50);
    EXPECT_EQ(Form->btnThrow->Left(), 317);
}

struct TModalCase {
    const char* Button;
    TModalResult Expected;
    bool RefuseFirst;
};

class FormsModalTest : public FormsTest, public ::testing::WithParamInterface<TModalCase> {};

TEST_P(FormsModalTest, ShowModalReturnsTheClosingButtonsResultWhileTimersTick) {
    const TModalCase& Case = GetParam();
    TButton* Button = std::string(Case.Button) == "OK" ? Plain->btnOK : Plain->btnCancel;
    Plain->Refuse = Case.RefuseFirst;
    Form->tmTick->SetEnabled(true);
    Driver->Send("sleep 400");
    Driver->Send("window " + H(Form));
    Driver->Send("click " + H(Button));
    if (Case.RefuseFirst) {
        Driver->Send("sleep 300");
        Driver->Send("window " + H(Plain));
        Driver->Send("click " + H(Button));
    }
    int TicksBefore = Form->Ticks;
    TModalResult Result = Plain->ShowModal();
    int TicksDuring = Form->Ticks - TicksBefore;
    Form->tmTick->SetEnabled(false);

    EXPECT_EQ(Result, Case.Expected);
    EXPECT_GE(TicksDuring, 5) << "the other form's timer went on ticking";
    EXPECT_TRUE(Driver->Receive().Ok);
    EXPECT_EQ(Driver->Receive().Value("enabled"), "0") << "the other form takes no input while modal";
    EXPECT_TRUE(Driver->Receive().Ok);
    if (Case.RefuseFirst) {
        EXPECT_TRUE(Driver->Receive().Ok);
        EXPECT_EQ(Driver->Receive().Value("visible"), "1") << "OnClose refused: the form stays open";
        EXPECT_TRUE(Driver->Receive().Ok);
    }
    EXPECT_FALSE(IsWindowVisible(Plain->Handle()));
    EXPECT_TRUE(IsWindowEnabled(Form->Handle()));
}

INSTANTIATE_TEST_SUITE_P(Buttons, FormsModalTest,
                         ::testing::Values(TModalCase{"OK", mrOk, false},
                                           TModalCase{"Cancel", mrCancel, false},
                                           TModalCase{"OK", mrOk, true}));

TEST_F(FormsTest, AFormWhoseOnCloseRefusesStaysOpenAndCanBeHidden) {
    Plain->Show();
    Plain->Refuse = true;
    int Before = Plain->Closes;
    ASSERT_TRUE(Driver->Call("close " + H(Plain)).Ok);
    PumpMessages(100);
    EXPECT_EQ(Plain->Closes, Before + 1);
    EXPECT_EQ(Driver->Call("window " + H(Plain)).Value("visible"), "1");
    Plain->Hide();
    EXPECT_EQ(Driver->Call("window " + H(Plain)).Value("visible"), "0");
    Plain->Show();
    ASSERT_TRUE(Driver->Call("close " + H(Plain)).Ok);
    PumpMessages(100);
    EXPECT_EQ(Driver->Call("window " + H(Plain)).Value("visible"), "0") << "closing hides by default";
}

TEST_F(FormsTest, AnExceptionInAClickHandlerIsShownAndTheProgramGoesOn) {
    Driver->Send("click " + H(Form->btnThrow));
    Driver->Send("msgbox 5000");
    Driver->Send("dismiss");
    EXPECT_TRUE(Driver->Receive().Ok);
    ExpectBox(Driver->Receive(), AppTitle, "error", "Click failed on purpose");
    EXPECT_TRUE(Driver->Receive().Ok);

    int Before = Form->ConnectClicks;
    ASSERT_TRUE(Driver->Call("click " + H(Form->btnConnect)).Ok);
    PumpMessages(50);
    EXPECT_EQ(Form->ConnectClicks, Before + 1) << "the form still works";
}

TEST_F(FormsTest, AnExceptionInOnCreateIsShownAndTheFormIsCreated) {
    Driver->Send("msgbox 5000");
    Driver->Send("dismiss");
    TCreateFailsForm* Failing = nullptr;
    Application->CreateForm(Failing);
    ExpectBox(Driver->Receive(), AppTitle, "error", "OnCreate failed on purpose");
    EXPECT_TRUE(Driver->Receive().Ok);
    ASSERT_NE(Failing, nullptr);
    EXPECT_TRUE(Failing->HandleAllocated());
    EXPECT_EQ(Application->MainForm(), Failing) << "the first form CreateForm makes is the main form";
    Failing->Show();
    EXPECT_EQ(Driver->Call("window " + H(Failing)).Value("visible"), "1");
    Failing->Hide();
}

struct TBoxCase {
    TMsgDlgType Type;
    const char* Title;
    const char* Icon;
};

class FormsMessageBoxTest : public FormsTest, public ::testing::WithParamInterface<TBoxCase> {};

TEST_P(FormsMessageBoxTest, MessageBoxesHaveTheirTitleIconAndOneOkButton) {
    Driver->Send("msgbox 5000");
    Driver->Send("dismiss");
    MessageDlg("Test failed!\nPlease try Auto-Detect.", GetParam().Type);
    ExpectBox(Driver->Receive(), GetParam().Title, GetParam().Icon, "Test failed!\\nPlease try Auto-Detect.");
    EXPECT_TRUE(Driver->Receive().Ok);
}

INSTANTIATE_TEST_SUITE_P(Types, FormsMessageBoxTest,
                         ::testing::Values(TBoxCase{mtWarning, "Warning", "warning"},
                                           TBoxCase{mtError, "Error", "error"}));

TEST_F(FormsTest, TheApplicationWindowCarriesTheProgramIconAndIsShownWhileAnyFormIsVisible) {
    HWND App = Application->Handle();
    // The taskbar button shows the executable's first icon group (this program links the
    // program's resources).
    EXPECT_NE(SendMessageA(App, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(App, WM_GETICON, ICON_SMALL, 0), 0);
    TUiAnswer Shown = Driver->Call("window " + H(App));
    EXPECT_EQ(Shown.Value("visible"), "1");
    EXPECT_EQ(Shown.Value("text"), AppTitle);
    EXPECT_EQ(Driver->Call("window " + H(Form)).Value("owner"), H(App)) << "no taskbar button of its own";

    Form->Hide();
    PumpMessages(50);
    EXPECT_EQ(Driver->Call("window " + H(App)).Value("visible"), "0");
    Plain->Show();
    PumpMessages(50);
    EXPECT_EQ(Driver->Call("window " + H(App)).Value("visible"), "1");
    Plain->Hide();
    PumpMessages(50);
    EXPECT_EQ(Driver->Call("window " + H(App)).Value("visible"), "0");
}

std::size_t ThreadsOfThisProcess() {
    const TUniqueHandle<TFileHandleTraits> Snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 Entry{};
    Entry.dwSize = sizeof Entry;
    std::size_t Threads = 0;
    for (BOOL More = Thread32First(Snapshot.Get(), &Entry); More; More = Thread32Next(Snapshot.Get(), &Entry))
        Threads += Entry.th32OwnerProcessID == GetCurrentProcessId();
    return Threads;
}

// The program's own busy clip (eight frames): a range it cannot play raises nothing and shows
// nothing, and the same control plays once the range fits, on the thread that runs everything.
// Pixel (1, 6) is the monitor's black frame in every frame of the clip; (0, 0) the clip's
// background, where the parent's colour shows.
TEST_F(FormsTest, TheBusyClipShowsNothingWhenItCannotPlayAndItsPictureOnceItCan) {
    const std::size_t Threads = ThreadsOfThisProcess();
    TAnimate* Animation = Form->anDetect;
    Animation->SetResID(IDR_BUSY);
    EXPECT_EQ(Animation->CommonAVI(), aviNone);
    const HWND Wnd = Animation->Handle();
    EXPECT_TRUE(SendMessageA(Wnd, ACM_PLAY, 1, MAKELPARAM(7, 7))) << "frame 8, the designed stop frame";
    EXPECT_FALSE(SendMessageA(Wnd, ACM_PLAY, 1, MAKELPARAM(8, 8))) << "no ninth frame";
    Form->BringToFront();
    auto Shown = [&](int X, int Y) {
        PumpMessages(300);
        InvalidateRect(Wnd, nullptr, TRUE);
        UpdateWindow(Wnd);
        const HDC DC = GetDC(Wnd);
        const COLORREF Pixel = GetPixel(DC, X, Y);
        ReleaseDC(Wnd, DC);
        return Pixel;
    };

    Animation->SetStartFrame(1000);
    EXPECT_NO_THROW(Animation->SetActive(true));
    EXPECT_EQ(Shown(1, 6), ColorToRGB(clBtnFace)) << "a clip that cannot play shows a picture";

    Animation->SetStartFrame(1);
    Animation->SetStopFrame(8);
    EXPECT_EQ(Shown(1, 6), RGB(0, 0, 0)) << "the clip does not play once it can";
    EXPECT_EQ(Shown(0, 0), ColorToRGB(clBtnFace));
    EXPECT_EQ(ThreadsOfThisProcess(), Threads) << "the clip plays on a thread of its own";
    Animation->SetActive(false);
    Animation->SetCommonAVI(aviFindComputer);
    EXPECT_EQ(Animation->ResID(), 0);
}

} // namespace
