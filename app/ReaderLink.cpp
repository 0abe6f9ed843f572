// The reader link: what the main window does with the reader module. It connects with the stored
// port settings, identifies the module, polls it for cards while reading is on, makes every command
// wait until the previous one has been answered, assembles the replies that the driver delivers in
// pieces, and reports in the status bar and in message boxes.
//
// Everything runs on the user-interface thread. Waits dispatch messages, so handlers nest: receive
// events, timer ticks (a poll tick entering SendString again included) and clicks all run inside a
// wait.

#include "app/Unit1.h"

#include "kit/Application.h"
#include "kit/Dialogs.h"
#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"
#include "settings/SettingText.h"
#include "settings/Unit2.h"

std::string FactoryCode;
std::string ModuleVersion;
std::string ModuleID;
std::string CardID;
std::string ReplyBuffer;
bool WaitingReply = false;
bool ReplyTimedOut = false;
bool ScanMode = false;

namespace {

const char InvalidPortSettingsText[] =
    "Invalid Port Settings!\n\nPlease configure the Port Settings in Properties.";
const char SendingTimeoutText[] =
    "Data sending timeout! Module will be disconnected now.\nPlease re-connect.\n\n"
    "If the error remains, check your device connection and Port Settings in Properties.";
const char DeviceUnpluggedText[] = "Device unplugged!";

// Image 0 of ilIcons is the idle picture, image 1 the one shown while reading.
constexpr int IdleImage = 0;
constexpr int ReadingImage = 1;

} // namespace

// Everything between the driver's receive tick and the keystrokes. It runs inside whatever message
// dispatching happens next: the main loop, a wait of SendString, a message box.
void TfrmCardReader::CommReceiveData(TObject*, void* DataPtr, std::uint32_t DataSize) {
    // Any byte at all answers the pending command, a broken or partial frame included.
    WaitingReply = false;
    ReplyTimedOut = false;
    try {
        // Copy first: a nested receive tick inside a message box or a wait reuses the driver's
        // buffer.
        const std::string Received(static_cast<const char*>(DataPtr), DataSize);
        const TReplyStep Step = AssembleReply(ReplyBuffer, Received);
        switch (Step.Outcome) {
        case ReplyOutcome::CheckFailed:
            WriteStatus(": BCC check failed! Error in data received.");
            break;
        case ReplyOutcome::Frame:
            HandleReplyFrame(Step.Frame.ModuleID, Step.Frame.ReplyCode, Step.Frame.Data);
            break;
        case ReplyOutcome::Nothing:
        case ReplyOutcome::Incomplete:
        case ReplyOutcome::Discarded:
            break;
        }
    } catch (...) {
        ReplyBuffer.clear();
        ++FLinkDrops;
        btnDisconnectClick(this);
        WriteStatus(": Data receiving timeout!");
        ShowAndBringToFront();
        MessageDlg(DeviceUnpluggedText, mtError);
    }
}

void TfrmCardReader::HandleReplyFrame(const std::string& ModuleIDText, const std::string& ReplyCode,
                                      const std::string& Data) {
    ModuleID = ModuleIDText;
    edtModuleID->SetText(ModuleID);
    if (ReplyCode == "B") {
        FactoryCode = Data;
        edtFactoryCode->SetText(FactoryCode);
        WriteStatus(": Get Factory Code OK");
    } else if (ReplyCode == "V") {
        ModuleVersion = Data;
        edtVersion->SetText(ModuleVersion);
        WriteStatus(": Get Version OK");
    } else if (ReplyCode == "F") {
        CardID = Data;
        if (!CardID.empty()) {
            edtCardID->SetText(CardID);
            // Read afresh for every card, so that a change in the file applies from the next one.
            const bool Suffix = ReadSettingBool("General", "Suffix Carriage Return");
            SendToActiveWindow(Suffix ? CardID + "\r" : CardID);
        }
        // After the keystrokes: a status line means the card has been typed.
        WriteStatus(": Read Card ID OK");
    }
    ReplyBuffer.clear();
    // The component's picture only; the notification area changes when reading starts or stops.
    ilIcons->GetIcon(IdleImage, *tniIcon->Icon());
}

// The one way a command reaches the module: it waits (dispatching messages) while the reply to an
// earlier command is outstanding, never for the reply to its own.
bool TfrmCardReader::SendString(char Command, const std::string& Data) {
    // After Exit the port is closed and the message loop is ending: nothing more is sent, and no
    // box may hold the program open.
    if (Application->Terminated())
        return false;
    const unsigned LinkDropsAtStart = FLinkDrops;
    bool Result = false;
    try {
        // A nested call finds the timer running and leaves it so: the time-out counts from the
        // start of the outermost wait.
        tmTimeout->SetEnabled(true);
        ReplyTimedOut = false;
        while (WaitingReply) {
            Application->ProcessMessages();
            if (Application->Terminated()) {
                tmTimeout->SetEnabled(false);
                return false;
            }
            // A nested call (a poll tick inside this wait) has already dropped the link by a
            // time-out or an error, and said so: one time-out, one box. Sending now would only
            // leave WaitingReply set for the next connection to time out on.
            if (FLinkDrops != LinkDropsAtStart && !Comm->Connected()) {
                tmTimeout->SetEnabled(false);
                return false;
            }
            if (!ReplyTimedOut) {
                // The flags change only inside message handlers: sleep until the next message.
                if (WaitingReply)
                    Application->WaitForMessage();
                continue;
            }
            // The settings dialog's probe gives up on the reply and sends all the same.
            if (ScanMode)
                break;
            ++FLinkDrops;
            btnDisconnectClick(this);
            WriteStatus(": Data sending timeout!");
            ShowAndBringToFront();
            MessageDlg(SendingTimeoutText, mtError);
            return false;
        }
        tmTimeout->SetEnabled(false);
        WaitingReply = true;
        // SendText's own result is not consulted: a frame that did not go out shows as a time-out
        // of the next command.
        Comm->SendText(BuildCommandFrame(Command, Data));
        ilIcons->GetIcon(ReadingImage, *tniIcon->Icon());
        Result = true;
    } catch (...) {
        ++FLinkDrops;
        btnDisconnectClick(this);
        WriteStatus(": Data sending timeout!");
        ShowAndBringToFront();
        MessageDlg(DeviceUnpluggedText, mtError);
        Result = false;
    }
    return Result;
}

void TfrmCardReader::tmTimeoutTimer(TObject*) {
    ReplyTimedOut = true;
    // Once per wait.
    tmTimeout->SetEnabled(false);
}

void TfrmCardReader::tmPollTimer(TObject*) {
    SendString('F', std::string());
}

bool TfrmCardReader::LoadSettings() {
    const std::string Port = ReadSettingString("Ports", "Port");
    if (Port.empty()) {
        MessageDlg(InvalidPortSettingsText, mtWarning);
        return false;
    }
    Comm->SetPortName("\\\\.\\" + Port);
    const std::string BaudRate = ReadSettingString("Ports", "Baud rate");
    if (BaudRate.empty()) {
        MessageDlg(InvalidPortSettingsText, mtWarning);
        return false;
    }
    // Not caught here: a value that is not a number reaches the standard error display.
    Comm->SetBaudRateValue(static_cast<std::uint32_t>(StrToInt(BaudRate)));
    const std::string Parity = ReadSettingString("Ports", "Parity");
    if (Parity.empty()) {
        MessageDlg(InvalidPortSettingsText, mtWarning);
        return false;
    }
    // Only the exact word turns parity off; any other text, "none" included, means even parity.
    Comm->SetParity(Parity == "None" ? ptNONE : ptEVEN);
    Comm->SetStopBits(sb1BITS);
    Comm->SetDataBits(db8BITS);
    return true;
}

void TfrmCardReader::btnConnectClick(TObject*) {
    if (!LoadSettings())
        return;
    EnableControls(true);
    if (!Comm->Connect()) {
        WriteStatus(": Error connecting");
        EnableControls(false);
        return;
    }
    sbStatus->SetPanelText(0, "Connected");
    // The module needs a moment after the line comes up; nothing is dispatched meanwhile.
    Sleep(100);
    if (!SendString('B', std::string()))
        return;
    // This call's wait is the wait for the reply to "B"; the reply to "V" comes later.
    SendString('V', std::string());
}

// The disconnect steps, also run on every error. Panel 1 and ReplyBuffer stay as they are.
void TfrmCardReader::btnDisconnectClick(TObject*) {
    WaitingReply = false;
    if (tmPoll->Enabled())
        btnReadCardIDClick(this);
    Comm->Disconnect();
    sbStatus->SetPanelText(0, "Disconnected");
    EnableControls(false);
    FactoryCode.clear();
    ModuleVersion.clear();
    ModuleID.clear();
    CardID.clear();
}

void TfrmCardReader::btnReadCardIDClick(TObject*) {
    const bool Reading = !tmPoll->Enabled();
    tmPoll->SetEnabled(Reading);
    btnReadCardID->SetCaption(Reading ? "Stop Reading" : "Read Card ID");
    anPoll->SetActive(Reading);
    // Taking the icon away and adding it again is what makes the notification area take the new
    // picture.
    tniIcon->SetIconVisible(false);
    ilIcons->GetIcon(Reading ? ReadingImage : IdleImage, *tniIcon->Icon());
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

void TfrmCardReader::WriteStatus(const std::string& Message) {
    // Null format and time: the user's long time format, now.
    char Time[80] = "";
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, Time, sizeof Time) == 0)
        Time[0] = '\0';
    sbStatus->SetPanelText(1, Time + Message);
}

void TfrmCardReader::ShowAndBringToFront() {
    Show();
    BringToFront();
}
