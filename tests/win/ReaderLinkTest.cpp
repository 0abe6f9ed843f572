// The reader link of the main window, inside this test program: the port settings as the driver
// receives them, and the parts of the SendString contract the settings dialog relies on, against
// reader-sim on a COM port of the prefix. Message boxes go through the application's seam, so every
// box is counted and none blocks. The whole program is driven end to end in tests/e2e.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "kit/Exceptions.h"
#include "settings/Settings.h"
#include "tests/win/support/ReaderSim.h"
#include "tests/win/support/Pump.h"

namespace {

const char InvalidPortSettings[] =
    "Invalid Port Settings!\n\nPlease configure the Port Settings in Properties.";

struct TBox {
    std::string Text, Caption;
};

void WriteSetting(const char* Key, const std::optional<std::string>& Value) {
    if (Value)
        WritePrivateProfileStringA("Ports", Key, Value->c_str(), SettingsFileName);
}

void RemoveSettingsFile() {
    char Path[MAX_PATH];
    GetWindowsDirectoryA(Path, MAX_PATH);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, SettingsFileName); // flush the cached copy
    DeleteFileA((std::string(Path) + "\\" + SettingsFileName).c_str());
}

class ReaderLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        Application->MessageBoxSeam = [this](const std::string& Text, const std::string& Caption, UINT) {
            Boxes.push_back({Text, Caption});
            return IDOK;
        };
        // The form as the program makes it, without its creation handler, which would connect.
        Form = new TfrmCardReader(Application);
        Form->OnCreate = nullptr;
        Form->AfterConstruction();
        WaitingReply = false;
        ScanMode = false;
    }
    void TearDown() override {
        delete Form;
        Application->MessageBoxSeam = nullptr;
        RemoveSettingsFile();
    }

    TfrmCardReader* Form = nullptr;
    std::vector<TBox> Boxes;
};

struct TPortSettingsCase {
    const char* Name;
    std::optional<std::string> Port, BaudRate, Parity;
    bool Loaded;
    std::string PortName;
    std::uint32_t BaudRateValue;
    TParity ParityValue;
};

class LoadSettingsTest : public ReaderLinkTest, public ::testing::WithParamInterface<TPortSettingsCase> {};

// What reaches the driver: the device prefix before the port, the number, and parity off only for
// the exact word "None". A missing value stops at once with the warning, keeping what was set before.
TEST_P(LoadSettingsTest, AppliesThePortSettingsToTheDriver) {
    const TPortSettingsCase& Case = GetParam();
    WriteSetting("Port", Case.Port);
    WriteSetting("Baud rate", Case.BaudRate);
    WriteSetting("Parity", Case.Parity);

    EXPECT_EQ(Form->LoadSettings(), Case.Loaded);

    EXPECT_EQ(Form->Comm->PortName(), Case.PortName);
    EXPECT_EQ(Form->Comm->BaudRateValue(), Case.BaudRateValue);
    EXPECT_EQ(Form->Comm->Parity(), Case.ParityValue);
    if (Case.Loaded) {
        EXPECT_EQ(Form->Comm->StopBits(), sb1BITS);
        EXPECT_EQ(Form->Comm->DataBits(), db8BITS);
        EXPECT_TRUE(Boxes.empty());
    } else {
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, InvalidPortSettings);
        EXPECT_EQ(Boxes[0].Caption, "Warning");
    }
}

// The form's design: \\.\COM4, 19200 baud, even parity until the settings say otherwise.
INSTANTIATE_TEST_SUITE_P(
    PortSettings, LoadSettingsTest,
    ::testing::Values(
        TPortSettingsCase{"NoneTurnsParityOff", "COM3", "9600", "None", true, "\\\\.\\COM3", 9600, ptNONE},
        TPortSettingsCase{"LowerCaseNoneIsEven", "COM3", "9600", "none", true, "\\\\.\\COM3", 9600, ptEVEN},
        TPortSettingsCase{"EvenIsEven", "COM12", "115200", "Even", true, "\\\\.\\COM12", 115200, ptEVEN},
        TPortSettingsCase{"AnyOtherWordIsEven", "com5", "4800", "Odd", true, "\\\\.\\com5", 4800, ptEVEN},
        TPortSettingsCase{"NoPort", std::nullopt, "9600", "None", false, "\\\\.\\COM4", 19200, ptEVEN},
        TPortSettingsCase{"EmptyPort", "", "9600", "None", false, "\\\\.\\COM4", 19200, ptEVEN},
        TPortSettingsCase{"NoBaudRateKeepsThePort", "COM6", std::nullopt, "None", false, "\\\\.\\COM6", 19200,
                          ptEVEN},
        TPortSettingsCase{"NoParityKeepsPortAndRate", "COM7", "57600", std::nullopt, false, "\\\\.\\COM7",
                          57600, ptEVEN}),
    [](const ::testing::TestParamInfo<TPortSettingsCase>& Info) { return std::string(Info.param.Name); });

// Not caught by the reader link: the conversion error goes on to the standard error display.
TEST_F(ReaderLinkTest, ABaudRateThatIsNotANumberRaisesTheConversionError) {
    WriteSetting("Port", "COM8");
    WriteSetting("Baud rate", "abc");
    WriteSetting("Parity", "Even");
    try {
        Form->LoadSettings();
        FAIL() << "no error raised";
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "'abc' is not a valid integer value");
    }
    EXPECT_EQ(Form->Comm->PortName(), "\\\\.\\COM8");
    EXPECT_TRUE(Boxes.empty());
}

// The settings dialog probes with ScanMode set and a 500 ms time-out: a wait that times out ends
// as if the reply had come, the command goes out, and nothing is shown or disconnected.
TEST_F(ReaderLinkTest, ATimedOutWaitInScanModeSendsTheCommandWithoutAMessage) {
    TReaderSim Sim("COM9", {"--silent"});
    Form->Comm->SetPortName(Sim.DevicePath());
    ASSERT_TRUE(Form->Comm->Connect());
    Form->tmTimeout->SetInterval(500);
    ScanMode = true;
    // A command is outstanding and the module will never answer it.
    WaitingReply = true;

    const DWORD Start = GetTickCount();
    EXPECT_TRUE(Form->SendString('B', ""));
    const DWORD Waited = GetTickCount() - Start;

    EXPECT_GE(Waited, 450u);
    EXPECT_LT(Waited, 1500u);
    EXPECT_TRUE(Form->Comm->Connected());
    EXPECT_TRUE(WaitingReply);
    EXPECT_FALSE(Form->tmTimeout->Enabled());
    EXPECT_TRUE(Boxes.empty());
    ASSERT_TRUE(Sim.WaitForReceived(1, 2000));
    EXPECT_EQ(Sim.Log().front().Bytes, "\tA00B0A\r");
}

// Outside ScanMode the same wait disconnects and says so, once; the command is not sent.
TEST_F(ReaderLinkTest, ATimedOutWaitDisconnectsWithOneBoxAndSendsNothing) {
    TReaderSim Sim("COM9", {"--silent"});
    Form->Comm->SetPortName(Sim.DevicePath());
    ASSERT_TRUE(Form->Comm->Connect());
    Form->tmTimeout->SetInterval(300);
    WaitingReply = true;

    EXPECT_FALSE(Form->SendString('F', ""));

    EXPECT_FALSE(Form->Comm->Connected());
    EXPECT_FALSE(WaitingReply);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "Error");
    EXPECT_EQ(Boxes[0].Text.rfind("Data sending timeout! Module will be disconnected now.", 0), 0u);
    PumpFor(300);
    EXPECT_EQ(Sim.ReceivedCount(), 0u);
}

// The first byte of any reply answers the command; the reply is handled by the receive events
// that follow, and a card reply carries the module ID and the card ID into the fields. The card
// ID is digits only: it is typed into whatever has the focus.
TEST_F(ReaderLinkTest, RepliedCommandsFillTheFieldsAtTheNextReceiveTicks) {
    TReaderSim Sim("COM9", {"--module-id", "07", "--cards", "0004211311"});
    Form->Comm->SetPortName(Sim.DevicePath());
    ASSERT_TRUE(Form->Comm->Connect());

    ASSERT_TRUE(Form->SendString('B', ""));
    // Its own reply is never waited for.
    EXPECT_TRUE(WaitingReply);
    EXPECT_EQ(FactoryCode, "");
    ASSERT_TRUE(Form->SendString('V', ""));
    ASSERT_TRUE(Form->SendString('F', ""));
    PumpFor(600);

    EXPECT_FALSE(WaitingReply);
    EXPECT_EQ(FactoryCode, "30571846");
    EXPECT_EQ(ModuleVersion, "2.31");
    EXPECT_EQ(ModuleID, "07");
    EXPECT_EQ(CardID, "0004211311");
    EXPECT_EQ(Form->edtModuleID->Text(), "07");
    EXPECT_EQ(Form->edtVersion->Text(), "2.31");
    EXPECT_EQ(Form->edtCardID->Text(), "0004211311");
    const std::string Status = Form->sbStatus->Panel(1).Text;
    EXPECT_EQ(Status.substr(Status.find(": ")), ": Read Card ID OK");
    EXPECT_TRUE(Boxes.empty());

    Form->btnDisconnectClick(nullptr);
    EXPECT_EQ(FactoryCode + ModuleVersion + ModuleID + CardID, "");
    EXPECT_EQ(Form->edtFactoryCode->Text() + Form->edtVersion->Text() + Form->edtModuleID->Text() +
                  Form->edtCardID->Text(),
              "");
    EXPECT_EQ(Form->sbStatus->Panel(0).Text, "Disconnected");
}

// The line goes while a reply is outstanding: the wait names it within a receive tick or two,
// not by a time-out two seconds later.
TEST_F(ReaderLinkTest, ALinePulledDuringAWaitIsNamedAtOnce) {
    TReaderSim Sim("COM9", {"--silent"});
    Form->Comm->SetPortName(Sim.DevicePath());
    ASSERT_TRUE(Form->Comm->Connect());
    Form->tmTimeout->SetInterval(2000);
    WaitingReply = true;
    auto* Puller = new TTimer(Form);
    Puller->SetInterval(300);
    Puller->OnTimer = TNotifyEvent::Function([&](TObject*) {
        Puller->SetEnabled(false);
        Sim.Stop();
    });
    Puller->SetEnabled(true);

    const DWORD Start = GetTickCount();
    EXPECT_FALSE(Form->SendString('F', ""));
    const DWORD Waited = GetTickCount() - Start;

    EXPECT_LT(Waited, 1200u);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Device unplugged!");
    EXPECT_EQ(Boxes[0].Caption, "Error");
    const std::string Status = Form->sbStatus->Panel(1).Text;
    EXPECT_EQ(Status.substr(Status.find(": ")), ": Data sending timeout!");
    EXPECT_FALSE(Form->Comm->Connected());
    EXPECT_FALSE(Form->tmTimeout->Enabled());
}

// The designed rates as numbers: the creation handler's reply time-out, the poll, the driver's
// receive tick and the tries to reconnect.
TEST_F(ReaderLinkTest, TheTimersRunAtTheDesignedRates) {
    Form->FormCreate(nullptr); // no settings file: the warning, and no port opened
    EXPECT_EQ(Form->tmTimeout->Interval(), 2000u);
    EXPECT_EQ(Form->tmPoll->Interval(), 500u);
    EXPECT_EQ(Form->Comm->PollingDelay(), 200u);
    EXPECT_EQ(Form->tmReconnect->Interval(), 5000u);
    EXPECT_EQ(Boxes.size(), 1u);
}

// Exit closes the port itself, with the form still there: the process ending would close it too,
// so the check runs in a process of its own (Exit ends the message loop for good) that the form
// outlives until the check.
TEST_F(ReaderLinkTest, ExitClosesThePortWithTheFormOpen) {
    EXPECT_EXIT(
        {
            TReaderSim Sim("COM9", {});
            Form->Comm->SetPortName(Sim.DevicePath());
            if (!Form->Comm->Connect())
                std::_Exit(2);
            Form->btnExitClick(nullptr);
            const bool Open = Form->Comm->Connected();
            Sim.Stop();
            std::_Exit(Open ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A frame the driver cannot write still counts as sent: the next command's wait shows it.
TEST_F(ReaderLinkTest, AFrameToAClosedPortCountsAsSent) {
    ASSERT_FALSE(Form->Comm->Connected());
    EXPECT_TRUE(Form->SendString('F', ""));
    EXPECT_TRUE(WaitingReply);
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
