// The main window's side of the reader link, inside this test program: what only the real window,
// its timers and a real port show. The link's logic is proved on a fake clock in tests/unit, the
// whole program in tests/e2e. Message boxes go through the application's seam, so every box is
// counted and none blocks.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "settings/Settings.h"
#include "tests/win/support/Pump.h"
#include "tests/win/support/ReaderSim.h"
#include "tests/win/support/SettingsStore.h"

namespace {

// The port settings as the file holds them; a null value is left out of the file.
void WritePortSettings(const char* Port, const char* BaudRate, const char* Parity) {
    for (const auto& [Key, Value] :
         {std::pair{"Port", Port}, std::pair{"Baud rate", BaudRate}, std::pair{"Parity", Parity}})
        if (Value)
            WritePrivateProfileStringA("Ports", Key, Value, SettingsFileName);
}

class ReaderLinkWiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        Application->MessageBoxSeam = [this](const std::string& Text, const std::string& Caption, UINT) {
            Boxes.push_back(Caption + ": " + Text);
            return IDOK;
        };
        NewForm();
        WaitingReply = false;
        ScanMode = false;
    }
    void TearDown() override {
        delete Form;
        Application->MessageBoxSeam = nullptr;
        RemoveSettingsFile();
    }

    // The form as the program makes it, without its creation handler, which would connect.
    void NewForm() {
        delete Form;
        Form = new TfrmCardReader(Application);
        Form->OnCreate = nullptr;
        Form->AfterConstruction();
    }

    TfrmCardReader* Form = nullptr;
    std::vector<std::string> Boxes;
};

// What reaches the driver from the file: the device prefix before the port, the number, and parity
// off only for the exact word "None". A missing value stops at once with the warning, keeping what
// was set before (the form's design: \\.\COM4, 19200 baud, even parity).
TEST_F(ReaderLinkWiringTest, AppliesThePortSettingsToTheDriver) {
    const char* const Missing = nullptr;
    const struct {
        const char *Port, *BaudRate, *Parity;
        bool Loaded;
        const char* PortName;
        std::uint32_t BaudRateValue;
        TParity ParityValue;
    } Cases[] = {
        {"COM3", "9600", "None", true, "\\\\.\\COM3", 9600, ptNONE},
        {"COM3", "9600", "none", true, "\\\\.\\COM3", 9600, ptEVEN},
        {"com5", "115200", "Odd", true, "\\\\.\\com5", 115200, ptEVEN},
        {Missing, "9600", "None", false, "\\\\.\\COM4", 19200, ptEVEN},
        {"", "9600", "None", false, "\\\\.\\COM4", 19200, ptEVEN},
        {"COM6", Missing, "None", false, "\\\\.\\COM6", 19200, ptEVEN},
        {"COM7", "57600", Missing, false, "\\\\.\\COM7", 57600, ptEVEN},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(std::string(Case.PortName) + " " + (Case.Parity ? Case.Parity : "(no parity)"));
        NewForm();
        RemoveSettingsFile();
        Boxes.clear();
        WritePortSettings(Case.Port, Case.BaudRate, Case.Parity);

        EXPECT_EQ(Form->LoadSettings(), Case.Loaded);

        EXPECT_EQ(Form->Comm->PortName(), Case.PortName);
        EXPECT_EQ(Form->Comm->BaudRateValue(), Case.BaudRateValue);
        EXPECT_EQ(Form->Comm->Parity(), Case.ParityValue);
        if (Case.Loaded) {
            EXPECT_EQ(Form->Comm->StopBits(), sb1BITS);
            EXPECT_EQ(Form->Comm->DataBits(), db8BITS);
        }
        EXPECT_EQ(Boxes, Case.Loaded
                             ? std::vector<std::string>{}
                             : std::vector<std::string>{"Warning: Invalid Port Settings!\n\nPlease "
                                                        "configure the Port Settings in Properties."});
    }
}

// The line goes while a reply is outstanding: the driver's port stops answering, and the wait names
// the pulled device instead of timing out (a time-out would say "Data sending timeout! ..." after
// ten seconds here).
TEST_F(ReaderLinkWiringTest, ALinePulledDuringAWaitIsNamedAsUnplugged) {
    TReaderSim Sim("COM9", {"--silent"});
    Form->Comm->SetPortName(Sim.DevicePath());
    ASSERT_TRUE(Form->Comm->Connect());
    Form->tmTimeout->SetInterval(10000);
    WaitingReply = true;
    auto* Puller = new TTimer(Form);
    Puller->SetInterval(300);
    Puller->OnTimer = TNotifyEvent::Function([&](TObject*) {
        Puller->SetEnabled(false);
        Sim.Stop();
    });
    Puller->SetEnabled(true);

    EXPECT_FALSE(Form->SendString('F', ""));

    EXPECT_EQ(Boxes, std::vector<std::string>{"Error: Device unplugged!"});
    const std::string Status = Form->sbStatus->Panel(1).Text;
    EXPECT_EQ(Status.substr(Status.find(": ")), ": Data sending timeout!");
    EXPECT_FALSE(Form->Comm->Connected());
    EXPECT_FALSE(Form->tmTimeout->Enabled());
}

// A reply late by most of the time-out: the polls that fall due meanwhile each wait inside the one
// before, go out one after another as the replies come, and then the poll goes on at its rate. Once,
// under load, a program stopped polling for good after such a stack unwound.
TEST_F(ReaderLinkWiringTest, PollingGoesOnOnceStackedPollsHaveGone) {
    // Replies are numbered B 1, V 2, then the polls: the second poll's reply is late.
    TReaderSim Sim("COM9", {"--late", "1500", "--fault-at", "4"});
    WritePortSettings("COM9", "19200", "Even");
    Form->tmTimeout->SetInterval(2000);
    Form->btnConnectClick(nullptr);
    ASSERT_TRUE(Form->Comm->Connected());
    Form->btnReadCardIDClick(nullptr);

    auto PollTimes = [&] {
        std::vector<std::int64_t> Times;
        for (const TSimLogEntry& Entry : Sim.Log())
            if (Entry.Direction == TSimLogEntry::Received && Entry.Bytes.find("00F") != std::string::npos)
                Times.push_back(Entry.TimeNs / 1000000);
        return Times;
    };
    // The late reply and the stack behind it end about 2.5 s in; six more polls take 3 s after that.
    // A poll that stopped never gets there, however long the wait.
    EXPECT_TRUE(PumpUntil([&] { return PollTimes().size() >= 12; }, 30000)) << PollTimes().size() << " polls";
    EXPECT_EQ(Boxes, std::vector<std::string>{});
    EXPECT_TRUE(Form->tmPoll->Enabled());
    EXPECT_EQ(Form->sbStatus->Panel(0).Text, "Connected");

    // The stack itself, on reader-sim's clock: the late reply's own poll came, then for 1.5 s
    // nothing, then three following each other's replies. At the poll's own rate the three would
    // span a second.
    const std::vector<std::int64_t> Times = PollTimes();
    ASSERT_GE(Times.size(), 5u);
    EXPECT_GE(Times[2] - Times[1], 1500);
    EXPECT_LT(Times[4] - Times[2], 900);
}

// The designed rates as numbers: the creation handler's reply time-out, the poll, the driver's
// receive tick and the tries to reconnect.
TEST_F(ReaderLinkWiringTest, TheTimersRunAtTheDesignedRates) {
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
TEST_F(ReaderLinkWiringTest, ExitClosesThePortWithTheFormOpen) {
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

} // namespace
