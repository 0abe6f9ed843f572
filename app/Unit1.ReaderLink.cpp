// The reader link as the main window drives it. What it decides (when to send, when a wait ends,
// what a reply means, when the link drops) lives in reader/ReaderLink; this file lends it the
// window's driver, timers, status bar, fields and message boxes, and keeps the window's handler
// names as forwards.

#include "app/Unit1.h"

#include "kit/Application.h"
#include "kit/Dialogs.h"
#include "reader/ReaderProtocol.h"
#include "settings/SettingText.h"
#include "settings/Settings.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace {

const char InvalidPortSettingsText[] =
    "Invalid Port Settings!\n\nPlease configure the Port Settings in Properties.";

// Image 0 of ilIcons is the idle picture, image 1 the one shown while reading.
constexpr int IdleImage = 0;
constexpr int ReadingImage = 1;

// Port, baud rate and parity from the file onto the driver, with 8 data bits and 1 stop bit.
// Quietly (a try to reconnect, every few seconds with nobody at the desk), a missing value or a
// baud rate that is not a number fails the try without a box.
bool ApplyPortSettings(TCommPortDriver& Comm, bool Quietly) {
    auto Missing = [Quietly] {
        if (!Quietly)
            MessageDlg(InvalidPortSettingsText, mtWarning);
        return false;
    };
    const std::string Port = ReadSettingString(SettingKeys::Port);
    if (Port.empty())
        return Missing();
    Comm.SetPortName("\\\\.\\" + Port);
    const std::string BaudRate = ReadSettingString(SettingKeys::BaudRate);
    if (BaudRate.empty())
        return Missing();
    int32_t Rate = 0;
    if (!Quietly)
        // Not caught here: a value that is not a number reaches the standard error display.
        Rate = StrToInt(BaudRate);
    else if (!TryStrToInt(BaudRate, Rate))
        return false;
    Comm.SetBaudRateValue(static_cast<std::uint32_t>(Rate));
    const std::string Parity = ReadSettingString(SettingKeys::Parity);
    if (Parity.empty())
        return Missing();
    // Only the exact word turns parity off; any other text, "none" included, means even parity.
    Comm.SetParity(Parity == "None" ? ptNONE : ptEVEN);
    Comm.SetStopBits(sb1BITS);
    Comm.SetDataBits(db8BITS);
    return true;
}

// Whether a window is one of this program's own (its main window, a box, a dialog).
bool OwnWindow(HWND Window) {
    DWORD Process = 0;
    GetWindowThreadProcessId(Window, &Process);
    return Process == GetCurrentProcessId();
}

} // namespace

class TfrmCardReader::TLinkHost final : public TReaderLinkHost {
public:
    explicit TLinkHost(TfrmCardReader& Form) : Form(Form) {}

    bool LoadSettings(bool Quietly) override {
        return Quietly ? ApplyPortSettings(*Form.Comm, true) : Form.LoadSettings();
    }
    void ApplyLineSettings(const std::string& PortName, std::uint32_t BaudRate, bool EvenParity) override {
        Form.Comm->SetPortName(PortName);
        Form.Comm->SetBaudRateValue(BaudRate);
        Form.Comm->SetParity(EvenParity ? ptEVEN : ptNONE);
    }
    bool OpenPort() override { return Form.Comm->Connect(); }
    void ClosePort() override { Form.Comm->Disconnect(); }
    bool PortOpen() override { return Form.Comm->Connected(); }
    void SendFrame(const std::string& Frame) override { Form.Comm->SendText(Frame); }
    bool PortAnswers() override { return Form.Comm->PortAnswers(); }

    std::uint32_t Now() override { return GetTickCount(); }
    std::uint32_t ReplyTimeout() override { return Form.tmTimeout->Interval(); }
    void SetReplyTimeout(std::uint32_t Milliseconds) override { Form.tmTimeout->SetInterval(Milliseconds); }
    void SetReplyTimer(bool Enabled) override { Form.tmTimeout->SetEnabled(Enabled); }
    void Pause(std::uint32_t Milliseconds) override { Sleep(Milliseconds); }

    void ProcessMessages() override { Application->ProcessMessages(); }
    void WaitForMessage(std::uint32_t LimitMs) override { Application->WaitForMessage(LimitMs); }
    bool Terminated() override { return Application->Terminated(); }

    void WriteStatus(const std::string& Message) override {
        // Null format and time: the user's long time format, now.
        char Time[80] = "";
        if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, Time, sizeof Time) == 0)
            Time[0] = '\0';
        Form.sbStatus->SetPanelText(1, Time + Message);
    }
    void ShowError(const std::string& Text) override {
        // The window may be hidden in the notification area.
        Form.Show();
        Form.BringToFront();
        const std::size_t OuterBox = std::exchange(FErrorBox, Application->OpenMessageBoxes());
        struct TBoxGone {
            std::size_t& ErrorBox;
            std::size_t Outer;
            ~TBoxGone() { ErrorBox = Outer; }
        } BoxGone{FErrorBox, OuterBox};
        MessageDlg(Text, mtError);
    }
    bool CloseErrorBox() override { return FErrorBox != NoBox && Application->CloseMessageBox(FErrorBox); }
    void KeepForeground() override {
        const HWND Window = GetForegroundWindow();
        FForeground = Window && !OwnWindow(Window) ? Window : nullptr;
    }
    // The box has gone and its owner, the main window, took the activation with it; as the
    // foreground process the program may hand it on.
    void RestoreForeground() override {
        if (FForeground && IsWindow(FForeground) && !OwnWindow(FForeground))
            SetForegroundWindow(FForeground);
        FForeground = nullptr;
    }
    void ShowConnected(bool Connected) override {
        Form.sbStatus->SetPanelText(0, Connected ? "Connected" : "Disconnected");
    }
    void EnableControls(bool Connected) override { Form.EnableControls(Connected); }
    void ShowField(LinkField Field, const std::string& Text) override {
        switch (Field) {
        case LinkField::FactoryCode:
            Form.edtFactoryCode->SetText(Text);
            break;
        case LinkField::Version:
            Form.edtVersion->SetText(Text);
            break;
        case LinkField::ModuleID:
            Form.edtModuleID->SetText(Text);
            break;
        case LinkField::CardID:
            Form.edtCardID->SetText(Text);
            break;
        }
    }
    bool Reading() override { return Form.tmPoll->Enabled(); }
    void ToggleReading() override { Form.btnReadCardIDClick(&Form); }
    // The component's picture only; the notification area changes when reading starts or stops.
    void ShowCommandPicture(bool CommandSent) override {
        Form.ilIcons->GetIcon(CommandSent ? ReadingImage : IdleImage, *Form.tniIcon->Icon());
    }

    bool SuffixCarriageReturn() override { return ReadSettingBool(SettingKeys::SuffixCarriageReturn); }
    TypingOutcome TypeCardID(const std::string& CardID, bool SuffixCarriageReturn) override {
        return SendToActiveWindow(CardID, SuffixCarriageReturn);
    }

    bool ReconnectAutomatically() override { return ReadSettingBool(SettingKeys::ReconnectAutomatically); }
    void SetReconnectTimer(bool Enabled) override { Form.tmReconnect->SetEnabled(Enabled); }

private:
    static constexpr std::size_t NoBox = SIZE_MAX;

    TfrmCardReader& Form;
    // Where the error box now open stands among the program's open boxes.
    std::size_t FErrorBox = NoBox;
    HWND FForeground = nullptr;
};

void TfrmCardReader::TLinkHostDeleter::operator()(TLinkHost* Host) const {
    delete Host;
}

TfrmCardReader::~TfrmCardReader() {
    if (ReaderLink == FLink.get())
        ReaderLink = nullptr;
}

TReaderLink& TfrmCardReader::Link() {
    if (!FLink) {
        FLinkHost.reset(new TLinkHost(*this));
        FLink = std::make_unique<TReaderLink>(*FLinkHost);
        ReaderLink = FLink.get();
    }
    return *FLink;
}

void TfrmCardReader::CommReceiveData(TObject*, void* DataPtr, std::uint32_t DataSize) {
    Link().ReceiveData(DataPtr, DataSize);
}

bool TfrmCardReader::SendString(char Command, const std::string& Data) {
    return Link().SendString(Command, Data);
}

void TfrmCardReader::tmTimeoutTimer(TObject*) {
    Link().ReplyTimerFired();
}

void TfrmCardReader::tmReconnectTimer(TObject*) {
    Link().ReconnectTimerFired();
}

void TfrmCardReader::tmPollTimer(TObject*) {
    SendString('F', std::string());
}

bool TfrmCardReader::LoadSettings() {
    return ApplyPortSettings(*Comm, false);
}

void TfrmCardReader::btnConnectClick(TObject*) {
    Link().Connect();
}

// The disconnect steps, also run on every error and after the settings dialog.
void TfrmCardReader::btnDisconnectClick(TObject*) {
    Link().Disconnect();
}

void TfrmCardReader::btnReadCardIDClick(TObject*) {
    const bool Reading = !tmPoll->Enabled();
    tmPoll->SetEnabled(Reading);
    btnReadCardID->SetCaption(Reading ? "Stop Reading" : "Read Card ID");
    anPoll->SetActive(Reading);
    // Taking the icon away and adding it again is what makes the notification area take the new
    // picture.
    tniIcon->SetIconVisible(false);
    LoadTrayPicture(*tniIcon->Icon());
    tniIcon->SetIconVisible(true);
}

void TfrmCardReader::EnableControls(bool Enabled) {
    btnConnect->SetEnabled(!Enabled);
    btnProperties->SetEnabled(!Enabled);
    btnReadCardID->SetEnabled(Enabled);
    btnDisconnect->SetEnabled(Enabled);
    if (!Enabled) {
        edtFactoryCode->SetText(std::string());
        edtVersion->SetText(std::string());
        edtModuleID->SetText(std::string());
        edtCardID->SetText(std::string());
    }
}

std::string TfrmCardReader::GetBCC(const std::string& Text) {
    return ::GetBCC(Text);
}

bool TfrmCardReader::SetRunMode(const std::string& Mode) {
    return SendString('A', Mode);
}
