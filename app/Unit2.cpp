// The settings dialog: its design, loading and saving the settings, and the two port tools. Test and
// Auto-Detect probe on the main window's reader link (its port, its SendString and its reply
// time-out), and judge a port by what the link's reply handling stores: they run nested in the
// click, dispatching messages while they wait, so that replies, timer ticks and a click on
// "&Cancel" are handled.

#include "app/Unit2.h"

#include "app/res/Resources.h"
#include "kit/Application.h"
#include "kit/Dialogs.h"
#include "reader/ReaderLink.h"
#include "settings/Registry.h"
#include "settings/SettingText.h"
#include "settings/Settings.h"

#include <windows.h>

#include <vector>

TfrmProperties* frmProperties = nullptr;
bool Detecting = false;

namespace {

const char ConfigureFirstText[] = "Please configure the Port Settings first before testing!";
const char TestFailedText[] = "Test failed!\nPlease try Auto-Detect.";
const char NotDetectedText[] = "Device not detected!\nPlease configure the Port Settings manually.\n\n"
                               "Default settings are:\nBaud rate: 19200\nParity: Even";

const char SerialMapKey[] = "hardware\\devicemap\\serialcomm";

// The port names the system publishes, in the registry's order. Read-only access: standard users
// are refused anything more on this key, which would leave them an empty list.
std::vector<std::string> SerialPortNames() {
    std::vector<std::string> Names;
    TRegKey Key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SerialMapKey, 0, KEY_READ, Key.Put()) != ERROR_SUCCESS)
        return Names;
    DWORD MaxNameLength = 0, MaxDataLength = 0;
    if (RegQueryInfoKeyA(Key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &MaxNameLength, &MaxDataLength, nullptr, nullptr) != ERROR_SUCCESS)
        return Names;
    std::vector<std::string> ValueNames;
    for (DWORD Index = 0;; ++Index) {
        std::string Name(MaxNameLength + 1, '\0');
        DWORD Length = static_cast<DWORD>(Name.size());
        LONG Result =
            RegEnumValueA(Key.Get(), Index, Name.data(), &Length, nullptr, nullptr, nullptr, nullptr);
        if (Result == ERROR_NO_MORE_ITEMS)
            break;
        if (Result != ERROR_SUCCESS)
            continue;
        Name.resize(Length);
        ValueNames.push_back(Name);
    }
    for (const std::string& Name : ValueNames) {
        // Room for a terminating null that the stored data may lack.
        std::string Data(MaxDataLength + 1, '\0');
        DWORD Type = 0;
        DWORD Size = MaxDataLength;
        if (RegQueryValueExA(Key.Get(), Name.c_str(), nullptr, &Type, reinterpret_cast<BYTE*>(Data.data()),
                             &Size) != ERROR_SUCCESS ||
            Type != REG_SZ)
            continue;
        Data.resize(Size);
        Data.resize(Data.find('\0') == std::string::npos ? Data.size() : Data.find('\0'));
        Names.push_back(Data);
    }
    return Names;
}

// Selects the first entry equal to Stored (exactly, case included); no such entry leaves the
// selection as it was.
void SelectStored(TComboBox* Box, const std::string& Stored) {
    for (int Index = 0; Index < Box->Items().Count(); ++Index)
        if (Box->Items()[Index] == Stored) {
            Box->SetItemIndex(Index);
            return;
        }
}

TComboBox* PlaceCombo(TfrmProperties* Form, const char* Name, int Top, int TabOrder) {
    TComboBox* Box = PlaceControl<TComboBox>(Form, Form->gbPortSettings, Name, 72, Top, 113, 21);
    Box->SetTabOrder(TabOrder);
    return Box;
}

TImage* PlaceCheckMark(TfrmProperties* Form, const char* Name, int Top) {
    TImage* Image = PlaceControl<TImage>(Form, Form->gbPortSettings, Name, 192, Top, 16, 16);
    Image->Picture()->Bitmap()->LoadFromResourceID(IDB_CHECKMARK);
    Image->SetCenter(true);
    Image->SetTransparent(true);
    Image->SetVisible(false);
    return Image;
}

TCheckBox* PlaceCheckBox(TfrmProperties* Form, const char* Name, int Top, int Width, const char* Caption,
                         int TabOrder) {
    TCheckBox* Box = PlaceControl<TCheckBox>(Form, Form, Name, 8, Top, Width, 17);
    Box->SetCaption(Caption);
    Box->SetTabOrder(TabOrder);
    return Box;
}

} // namespace

// The design, in the order the components were declared. Neither OK nor Cancel is the form's
// default or cancel button: Enter and Escape close nothing.
TfrmProperties::TfrmProperties(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmProperties");
    SetCaption("Properties");
    SetBorderIcons(TBorderIcons{});
    SetBounds(436, 211, 240, 376);
    SetClientSize(232, 347);

    gbPortSettings = PlaceControl<TGroupBox>(this, this, "gbPortSettings", 8, 80, 217, 145);
    gbPortSettings->SetCaption("Port Settings: ");
    gbPortSettings->SetTabOrder(2);
    Label1 = PlaceLabel(this, gbPortSettings, "Label1", 8, 48, 49, "Baud rate:");
    cbBaudRate = PlaceCombo(this, "cbBaudRate", 48, 0);
    for (const char* Rate : {"4800", "9600", "19200", "38400", "57600", "115200"})
        cbBaudRate->Items().Add(Rate);
    Label3 = PlaceLabel(this, gbPortSettings, "Label3", 8, 72, 29, "Parity:");
    cbParity = PlaceCombo(this, "cbParity", 72, 1);
    cbParity->Items().Add("Even");
    cbParity->Items().Add("None");

    btnOK = PlaceButton(this, this, "btnOK", 47, 320, 75, "&OK", 4);
    btnOK->SetModalResult(mrOk);
    btnOK->SetAnchors(TAnchors{akRight, akBottom});
    btnOK->OnClick = TNotifyEvent(this, &TfrmProperties::btnOKClick);
    btnCancel = PlaceButton(this, this, "btnCancel", 127, 320, 75, "&Cancel", 5);
    btnCancel->SetModalResult(mrCancel);
    btnCancel->SetAnchors(TAnchors{akRight, akBottom});

    Label6 = PlaceLabel(this, gbPortSettings, "Label6", 8, 24, 22, "Port:");
    cbPort = PlaceCombo(this, "cbPort", 24, 2);
    cbPort->SetSorted(true);
    btnAutoDetect = PlaceButton(this, gbPortSettings, "btnAutoDetect", 111, 104, 75, "&Auto-Detect", 3);
    btnAutoDetect->OnClick = TNotifyEvent(this, &TfrmProperties::btnAutoDetectClick);

    cxShowOnStartup = PlaceCheckBox(this, "cxShowOnStartup", 32, 121, "Show on startup", 1);
    cxLoadOnStartup = PlaceCheckBox(this, "cxLoadOnStartup", 8, 153, "&Load on Windows startup", 0);

    anDetect = PlaceControl<TAnimate>(this, gbPortSettings, "anDetect", 192, 108, 16, 16);
    anDetect->SetResID(IDR_BUSY);
    anDetect->SetStartFrame(1);
    anDetect->SetStopFrame(8);

    tmScan = new TTimer(this);
    tmScan->SetName("tmScan");
    tmScan->SetEnabled(false);
    tmScan->SetInterval(200);
    tmScan->OnTimer = TNotifyEvent(this, &TfrmProperties::tmScanTimer);

    btnTest = PlaceButton(this, gbPortSettings, "btnTest", 31, 104, 75, "&Test", 5);
    btnTest->OnClick = TNotifyEvent(this, &TfrmProperties::btnTestClick);

    Image1 = PlaceCheckMark(this, "Image1", 26);
    Image2 = PlaceCheckMark(this, "Image2", 50);
    Image3 = PlaceCheckMark(this, "Image3", 74);

    cxReturn = PlaceCheckBox(this, "cxReturn", 56, 121, "Suffix Carriage Return", 6);
    cxReturn->SetChecked(true);

    OnShow = TNotifyEvent(this, &TfrmProperties::FormShow);
}

void TfrmProperties::FormShow(TObject*) {
    Detecting = false;
    cbPort->Items().Clear();
    for (const std::string& Name : SerialPortNames())
        if (cbPort->Items().IndexOf(Name) < 0)
            cbPort->Items().Add(Name);

    // The dialog's own defaults: a fresh machine shows start-up registration and the carriage
    // return switched on.
    TSettingsFile File;
    cxLoadOnStartup->SetChecked(File.ReadBool(SettingKeys::LoadOnWindowsStartup));
    cxShowOnStartup->SetChecked(File.ReadBool(SettingKeys::ShowOnStartup));
    cxReturn->SetChecked(File.ReadBool(SettingKeys::SuffixCarriageReturn));
    SelectStored(cbPort, File.ReadString(SettingKeys::Port));
    SelectStored(cbBaudRate, File.ReadString(SettingKeys::BaudRate));
    SelectStored(cbParity, File.ReadString(SettingKeys::Parity));
}

// Nothing is checked: an empty list is written as an empty value, and the next connection says
// what is missing.
void TfrmProperties::btnOKClick(TObject*) {
    {
        TSettingsFile File;
        File.WriteBool(SettingKeys::LoadOnWindowsStartup, cxLoadOnStartup->Checked());
        File.WriteBool(SettingKeys::ShowOnStartup, cxShowOnStartup->Checked());
        File.WriteBool(SettingKeys::SuffixCarriageReturn, cxReturn->Checked());
        File.WriteString(SettingKeys::Port, cbPort->Text());
        File.WriteString(SettingKeys::BaudRate, cbBaudRate->Text());
        File.WriteString(SettingKeys::Parity, cbParity->Text());
    }
    SetRunAtStartup("Orvela Cardwick", StartupCommandLine(), !cxLoadOnStartup->Checked());
}

void TfrmProperties::btnTestClick(TObject*) {
    if (cbPort->ItemIndex() < 0 || cbBaudRate->ItemIndex() < 0 || cbParity->ItemIndex() < 0) {
        MessageDlg(ConfigureFirstText, mtWarning);
        return;
    }
    EnterBusyState();
    bool Success = false;
    try {
        Success = ProbeAttempt(cbPort->Text(), cbBaudRate->Text(), cbParity->ItemIndex());
    } catch (...) {
        // Back to idle, then the error goes on to the standard error display.
        LeaveBusyState();
        throw;
    }
    LeaveBusyState();
    if (Success)
        ShowCheckMarks(true);
    else if (!Application->Terminated())
        MessageDlg(TestFailedText, mtWarning);
}

// A click while a scan runs comes here nested inside that scan's wait: it clears Detecting, finds
// nothing to do, and returns to the scan, which stops at its next check.
void TfrmProperties::btnAutoDetectClick(TObject*) {
    Detecting = !Detecting;
    EnterBusyState();
    bool Success = false;
    try {
        Success = Scan();
    } catch (...) {
        LeaveBusyState();
        // A scan that died is over: the next click must start one, not cancel a ghost.
        Detecting = false;
        throw;
    }
    LeaveBusyState();
    if (Success) {
        ShowCheckMarks(true);
    } else {
        cbPort->SetItemIndex(-1);
        cbBaudRate->SetItemIndex(-1);
        cbParity->SetItemIndex(-1);
        // A cancelled scan, or Exit from the tray menu meanwhile, ends without a word.
        if (Detecting && !Application->Terminated())
            MessageDlg(NotDetectedText, mtWarning);
    }
    Detecting = false;
}

// Every port in list order, and on each port that opens every baud rate and parity, until one
// answers. The lists show each combination while it is tried.
bool TfrmProperties::Scan() {
    for (int Port = 0; Port < cbPort->Items().Count(); ++Port) {
        cbPort->SetItemIndex(Port);
        const std::string PortName = cbPort->Items()[Port];
        if (!PortExists(PortName))
            continue;
        for (int Rate = 0; Rate < cbBaudRate->Items().Count(); ++Rate) {
            cbBaudRate->SetItemIndex(Rate);
            for (int Parity = 0; Parity < cbParity->Items().Count(); ++Parity) {
                if (!Detecting || Application->Terminated())
                    return false;
                cbParity->SetItemIndex(Parity);
                if (ProbeAttempt(PortName, cbBaudRate->Items()[Rate], cbParity->ItemIndex()))
                    return true;
            }
        }
    }
    return false;
}

bool TfrmProperties::ProbeAttempt(const std::string& Port, const std::string& BaudRate, int ParityIndex) {
    const auto Rate = static_cast<std::uint32_t>(StrToInt(BaudRate));
    return ReaderLink->Probe(Port, Rate, ParityIndex == 0, [this] {
        // Listen for about 200 ms after the command went out: replies, ticks and clicks are
        // handled meanwhile.
        tmScan->SetEnabled(true);
        for (;;) {
            Application->ProcessMessages();
            if (!tmScan->Enabled() || Application->Terminated())
                break;
            Application->WaitForMessage();
        }
    });
}

void TfrmProperties::tmScanTimer(TObject*) {
    tmScan->SetEnabled(false);
}

// The carriage-return box and the Auto-Detect button stay usable while busy: the one may be
// toggled at any time, the other is the scan's cancel.
void TfrmProperties::EnableControls(bool Enabled) {
    cxLoadOnStartup->SetEnabled(Enabled);
    cxShowOnStartup->SetEnabled(Enabled);
    cbPort->SetEnabled(Enabled);
    cbBaudRate->SetEnabled(Enabled);
    cbParity->SetEnabled(Enabled);
    btnTest->SetEnabled(Enabled);
    btnOK->SetEnabled(Enabled);
    btnCancel->SetEnabled(Enabled);
}

// While probing, a reply that does not come ends the main window's wait quietly after 500 ms
// instead of dropping the link with an error box.
void TfrmProperties::EnterBusyState() {
    WaitingReply = false;
    EnableControls(false);
    ScanMode = true;
    ReaderLink->SetReplyTimeout(ProbeReplyTimeout);
    anDetect->SetActive(true);
    btnAutoDetect->SetCaption("&Cancel");
    ShowCheckMarks(false);
}

void TfrmProperties::LeaveBusyState() {
    ReaderLink->SetReplyTimeout(NormalReplyTimeout);
    anDetect->SetActive(false);
    btnAutoDetect->SetCaption("&Auto-Detect");
    ScanMode = false;
    EnableControls(true);
}

void TfrmProperties::ShowCheckMarks(bool Visible) {
    Image1->SetVisible(Visible);
    Image2->SetVisible(Visible);
    Image3->SetVisible(Visible);
}

bool PortExists(const std::string& PortName) {
    const std::string Device = PortName + ":";
    const TUniqueHandle<TFileHandleTraits> Port(CreateFileA(Device.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                            nullptr));
    return static_cast<bool>(Port);
}
