// The main window: its design, and the handlers that show, hide and end the program. Closing the
// window only hides it; the program keeps reading from the notification area until Exit.

#include "app/Unit1.h"

#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/res/Resources.h"

TfrmCardReader* frmCardReader = nullptr;

namespace {

// The four fields only show what the reader link holds: nothing to type into, nothing to tab to.
TEdit* PlaceField(TfrmCardReader* Form, const char* Name, int Left, int Top) {
    TEdit* Edit = PlaceControl<TEdit>(Form, Form, Name, Left, Top, 121, 21);
    Edit->SetReadOnly(true);
    Edit->SetTabStop(false);
    return Edit;
}

TMenuItem* MakeMenuItem(TfrmCardReader* Form, const char* Name, const char* Caption) {
    auto* Item = new TMenuItem(Form);
    Item->SetName(Name);
    Item->SetCaption(Caption);
    return Item;
}

} // namespace

// The design, in the order the components were declared; the form marks each as loading until its
// design is complete.
TfrmCardReader::TfrmCardReader(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmCardReader");
    SetLeft(420);
    SetTop(271);
    SetBorderStyle(bsSingle);
    SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
    SetCaption("Orvela Cardwick");
    SetClientSize(338, 185);
    Icon()->LoadFromResourceID(IDI_CARDWICK);

    Comm = new TCommPortDriver(this);
    Comm->SetName("Comm");
    Comm->SetPort(pnCustom);
    Comm->SetPortName("\\\\.\\COM4");
    Comm->SetBaudRate(brCustom);
    Comm->SetBaudRateValue(19200);
    Comm->SetParity(ptEVEN);
    Comm->SetHwFlow(hfNONE);
    Comm->SetPollingDelay(200);
    Comm->OnReceiveData = TReceiveDataEvent(this, &TfrmCardReader::CommReceiveData);

    btnConnect = PlaceButton(this, this, "btnConnect", 8, 8, 81, "&Connect", 0);
    btnConnect->SetDefault(true);
    btnConnect->OnClick = TNotifyEvent(this, &TfrmCardReader::btnConnectClick);
    btnDisconnect = PlaceButton(this, this, "btnDisconnect", 8, 72, 81, "&Disconnect", 2);
    btnDisconnect->SetEnabled(false);
    btnDisconnect->OnClick = TNotifyEvent(this, &TfrmCardReader::btnDisconnectClick);
    btnReadCardID = PlaceButton(this, this, "btnReadCardID", 8, 40, 81, "&Start Reading", 1);
    btnReadCardID->SetEnabled(false);
    btnReadCardID->OnClick = TNotifyEvent(this, &TfrmCardReader::btnReadCardIDClick);

    Label2 = PlaceLabel(this, this, "Label2", 117, 8, 69, "Serial Number:", taRightJustify);
    Label3 = PlaceLabel(this, this, "Label3", 144, 40, 38, "Version:", taRightJustify);
    edtVersion = PlaceField(this, "edtVersion", 192, 40);
    Label4 = PlaceLabel(this, this, "Label4", 144, 104, 39, "Card ID:", taRightJustify);
    edtCardID = PlaceField(this, "edtCardID", 192, 104);

    sbStatus = new TStatusBar(this);
    sbStatus->SetName("sbStatus");
    sbStatus->SetParent(this);
    sbStatus->SetBounds(0, 185 - 19, 338, 19);
    sbStatus->AddPanel("Disconnected", 75, taCenter);
    sbStatus->AddPanel(std::string(), 50);

    Label1 = PlaceLabel(this, this, "Label1", 131, 72, 52, "Module ID:", taRightJustify);
    edtModuleID = PlaceField(this, "edtModuleID", 191, 72);

    tmPoll = new TTimer(this);
    tmPoll->SetName("tmPoll");
    tmPoll->SetEnabled(false);
    tmPoll->SetInterval(500);
    tmPoll->OnTimer = TNotifyEvent(this, &TfrmCardReader::tmPollTimer);

    anPoll = PlaceControl<TAnimate>(this, this, "anPoll", 318, 106, 16, 16);
    anPoll->SetResID(IDR_BUSY);
    anPoll->SetStopFrame(8);

    // The tray icon's menu is created further down; it is bound once it exists.
    tniIcon = new TTrayNotifyIcon(this);
    tniIcon->SetName("tniIcon");
    {
        TIcon ProgramIcon;
        ProgramIcon.LoadFromResourceID(IDI_CARDWICK);
        tniIcon->SetIcon(&ProgramIcon);
    }
    tniIcon->SetHint("Orvela Cardwick");
    tniIcon->OnDblClick = TNotifyEvent(this, &TfrmCardReader::tniIconDblClick);
    tniIcon->OnTaskbarChange = TNotifyEvent(this, &TfrmCardReader::tniIconTaskbarChange);

    btnExit = PlaceButton(this, this, "btnExit", 192, 136, 57, "E&xit", 5);
    btnExit->OnClick = TNotifyEvent(this, &TfrmCardReader::btnExitClick);

    ilIcons = new TImageList(this);
    ilIcons->SetName("ilIcons");
    ilIcons->AddResourceIcon(IDI_IMAGE_IDLE);
    ilIcons->AddResourceIcon(IDI_IMAGE_READING);
    ilIcons->AddResourceIcon(IDI_IMAGE_TICK);

    edtFactoryCode = PlaceField(this, "edtFactoryCode", 191, 8);

    tmTimeout = new TTimer(this);
    tmTimeout->SetName("tmTimeout");
    tmTimeout->SetEnabled(false);
    tmTimeout->SetInterval(5000);
    tmTimeout->OnTimer = TNotifyEvent(this, &TfrmCardReader::tmTimeoutTimer);

    btnProperties = PlaceButton(this, this, "btnProperties", 8, 104, 81, "&Properties", 3);
    btnProperties->OnClick = TNotifyEvent(this, &TfrmCardReader::btnPropertiesClick);

    pmTray = new TPopupMenu(this);
    pmTray->SetName("pmTray");
    E1 = MakeMenuItem(this, "E1", "E&xit");
    E1->OnClick = TNotifyEvent(this, &TfrmCardReader::E1Click);
    Show1 = MakeMenuItem(this, "Show1", "Show");
    Show1->SetDefault(true);
    Show1->OnClick = TNotifyEvent(this, &TfrmCardReader::Show1Click);

    btnHide = PlaceButton(this, this, "btnHide", 8, 136, 81, "&Hide", 4);
    btnHide->OnClick = TNotifyEvent(this, &TfrmCardReader::btnHideClick);
    btnAbout = PlaceButton(this, this, "btnAbout", 256, 136, 57, "&About", 12);
    btnAbout->OnClick = TNotifyEvent(this, &TfrmCardReader::btnAboutClick);

    About1 = MakeMenuItem(this, "About1", "About");
    About1->OnClick = TNotifyEvent(this, &TfrmCardReader::btnAboutClick);
    pmTray->Add(Show1);
    pmTray->Add(About1);
    pmTray->Add(E1);
    tniIcon->SetPopupMenu(pmTray);

    // The link exists with the window: the settings dialog may probe on it before any connect.
    Link();

    // Not part of the design: it ticks only while a dropped link tries to come back by itself.
    tmReconnect = new TTimer(this);
    tmReconnect->SetName("tmReconnect");
    tmReconnect->SetEnabled(false);
    tmReconnect->SetInterval(ReconnectInterval);
    tmReconnect->OnTimer = TNotifyEvent(this, &TfrmCardReader::tmReconnectTimer);

    OnCreate = TNotifyEvent(this, &TfrmCardReader::FormCreate);
    OnShow = TNotifyEvent(this, &TfrmCardReader::FormShow);
    OnClose = TCloseEvent(this, &TfrmCardReader::FormClose);
}

// Runs while the window is being created, before the other forms exist and before the window is
// ever shown: the program connects and starts reading on its own.
void TfrmCardReader::FormCreate(TObject*) {
    WaitingReply = false;
    ScanMode = false;
    tmTimeout->SetInterval(NormalReplyTimeout);
    ilIcons->GetIcon(0, *Icon());
    LoadTrayPicture(*tniIcon->Icon());
    tniIcon->SetIconVisible(true);
    Link().ConnectAndStartReading();
}

void TfrmCardReader::FormShow(TObject*) {
    SetCaption("Orvela Cardwick");
}

void TfrmCardReader::LoadTrayPicture(TIcon& Picture) const {
    const int Size = tniIcon->PictureSize();
    Picture.LoadFromResourceID(tmPoll->Enabled() ? IDI_IMAGE_READING : IDI_IMAGE_IDLE, Size, Size);
}

// The window is usually hidden and may be on another monitor: its own DPI changes say nothing of
// the taskbar's, whose changes reach the tray icon instead.
void TfrmCardReader::tniIconTaskbarChange(TObject*) {
    TIcon Picture;
    LoadTrayPicture(Picture);
    tniIcon->SetIcon(&Picture);
}

// Closing only hides: the program lives on in the notification area until Exit.
void TfrmCardReader::FormClose(TObject*, TCloseAction& Action) {
    Action = caNone;
    Hide();
}

void TfrmCardReader::btnHideClick(TObject*) {
    Hide();
}

// Show brings the window to the front, and restores it when it was minimised.
void TfrmCardReader::tniIconDblClick(TObject*) {
    Show();
}

void TfrmCardReader::Show1Click(TObject*) {
    Show();
}

// The tray menu works while the program is still starting (a start-up warning or a connection wait
// dispatches messages), before the About box and the settings dialog exist: a command that needs a
// dialog not yet created does nothing.
void TfrmCardReader::btnAboutClick(TObject*) {
    if (frmAbout)
        frmAbout->ShowModal();
}

// The dialog borrows the port while it is open; whatever it did, the link is left disconnected
// and nothing reconnects until the user asks.
void TfrmCardReader::btnPropertiesClick(TObject*) {
    if (!frmProperties)
        return;
    // The dialog takes the port: a link trying to come back by itself gives up first.
    Link().StopReconnecting();
    frmProperties->ShowModal();
    btnDisconnectClick(this);
}

// Only the port is closed; the message loop ends at its next turn.
void TfrmCardReader::btnExitClick(TObject*) {
    Link().Exit();
    Application->Terminate();
}

void TfrmCardReader::E1Click(TObject* Sender) {
    btnExitClick(Sender);
}

// The process may be ended as soon as the session-end message returns, so nothing waits for the
// message loop: the icon goes now, or the notification area would keep a dead one.
void TfrmCardReader::AppEndSession(TObject*) {
    Link().StopReconnecting();
    tmPoll->SetEnabled(false);
    Comm->Disconnect();
    tniIcon->SetIconVisible(false);
}
