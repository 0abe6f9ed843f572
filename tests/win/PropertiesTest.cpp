// The settings dialog's port tools and OK inside this test program, on the main window's reader
// link, against reader-sim on a COM port of the prefix: the reply time-out shortened while probing
// and restored after, the clean-up after an error, and OK when the settings file refuses the write.
// Message boxes go through the application's seam, so every box is counted and none blocks.

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "kit/Exceptions.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "tests/win/support/ReaderSim.h"
#include "tests/win/support/SettingsStore.h"

namespace {

std::string RunValueData() {
    return RegistryString(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
}

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        Application->MessageBoxSeam = [this](const std::string& Text, const std::string&, UINT) {
            Boxes.push_back(Text);
            return IDOK;
        };
        // The main window as the program makes it, without its creation handler (which would
        // connect), but with the reply time-out that handler sets.
        Main = new TfrmCardReader(Application);
        Main->OnCreate = nullptr;
        Main->AfterConstruction();
        Main->tmTimeout->SetInterval(2000);
        Dialog = new TfrmProperties(Application);
        Dialog->AfterConstruction();
        WaitingReply = false;
        ScanMode = false;
        Detecting = false;
        FactoryCode.clear();
        // Each reply the probe brings in, with the time-out in force when it came.
        Main->Comm->OnReceiveData =
            TReceiveDataEvent::Function([this](TObject* Sender, void* Data, std::uint32_t Size) {
                TimeoutsDuringReplies.push_back(Main->tmTimeout->Interval());
                Main->CommReceiveData(Sender, Data, Size);
            });
    }
    void TearDown() override {
        delete Dialog;
        delete Main;
        Application->MessageBoxSeam = nullptr;
        RemoveSettingsFile();
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
    }

    void Select(TComboBox* Box, const std::string& Entry) {
        int Index = Box->Items().IndexOf(Entry);
        if (Index < 0)
            Index = Box->Items().Add(Entry);
        Box->SetItemIndex(Index);
    }
    void SelectProbe(const std::string& Port, const std::string& BaudRate) {
        Select(Dialog->cbPort, Port);
        Select(Dialog->cbBaudRate, BaudRate);
        Dialog->cbParity->SetItemIndex(0);
    }

    // Idle again: link at its normal time-out and not probing, port closed, controls usable.
    void ExpectIdle() {
        EXPECT_FALSE(ScanMode);
        EXPECT_EQ(Main->tmTimeout->Interval(), 2000u);
        EXPECT_FALSE(Main->Comm->Connected());
        EXPECT_FALSE(WaitingReply);
        EXPECT_FALSE(Detecting);
        for (TControl* Control : std::vector<TControl*>{Dialog->cbPort, Dialog->cbBaudRate, Dialog->cbParity,
                                                        Dialog->btnTest, Dialog->btnOK, Dialog->btnCancel})
            EXPECT_TRUE(Control->Enabled()) << Control->Name();
        EXPECT_EQ(Dialog->btnAutoDetect->Caption(), "&Auto-Detect");
    }

    TfrmCardReader* Main = nullptr;
    TfrmProperties* Dialog = nullptr;
    std::vector<std::string> Boxes;
    std::vector<std::uint32_t> TimeoutsDuringReplies;
};

// The probe runs on the short time-out, and the main window gets its own back after a good Test
// and after a failed one: otherwise the next connection would drop after half a second.
TEST_F(PropertiesTest, ATestProbesOnTheShortTimeOutAndRestoresTheNormalOne) {
    TReaderSim Sim("COM9");
    SelectProbe("COM9", "19200");
    Dialog->btnTestClick(nullptr);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(Dialog->Image1->Visible());
    EXPECT_EQ(FactoryCode, "30571846");
    ASSERT_FALSE(TimeoutsDuringReplies.empty());
    EXPECT_EQ(TimeoutsDuringReplies.front(), 500u);
    ExpectIdle();

    SelectProbe("COM9", "4800");
    Dialog->btnTestClick(nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "Test failed!\nPlease try Auto-Detect.");
    EXPECT_FALSE(Dialog->Image1->Visible());
    ExpectIdle();
}

// An error inside a Test or a scan (here a baud rate entry that is not a number) goes on to the
// standard error display, and the dialog is idle again first.
TEST_F(PropertiesTest, AnErrorInsideATestOrAScanStillCleansUp) {
    TReaderSim Sim("COM9");
    SelectProbe("COM9", "fast");
    EXPECT_THROW(Dialog->btnTestClick(nullptr), EConvertError);
    ExpectIdle();

    Dialog->cbBaudRate->Items().Clear();
    Dialog->cbBaudRate->Items().Add("fast");
    EXPECT_THROW(Dialog->btnAutoDetectClick(nullptr), EConvertError);
    ExpectIdle();
    // The next click starts a scan, not the cancel of a dead one.
    Dialog->cbBaudRate->Items().Clear();
    Dialog->cbBaudRate->Items().Add("19200");
    Dialog->btnAutoDetectClick(nullptr);
    EXPECT_TRUE(Dialog->Image1->Visible());
    EXPECT_TRUE(Boxes.empty());
    ExpectIdle();
}

// Shows the dialog and presses OK with "Load on Windows startup" set as given; returns the boxes
// the press showed.
std::vector<std::string> PressOk(TfrmProperties* Dialog, std::vector<std::string>& Boxes, bool Load) {
    Boxes.clear();
    auto* Clicker = new TTimer(Dialog);
    Clicker->SetInterval(50);
    Clicker->OnTimer = TNotifyEvent::Function([=](TObject*) {
        Clicker->SetEnabled(false);
        Dialog->cxLoadOnStartup->SetChecked(Load);
        SendMessageA(Dialog->btnOK->Handle(), BM_CLICK, 0, 0);
    });
    Clicker->SetEnabled(true);
    EXPECT_EQ(Dialog->ShowModal(), mrOk);
    delete Clicker;
    return Boxes;
}

// OK when the settings file cannot be written: the error is shown, the start-up registration is
// not touched, and the dialog closes all the same.
TEST_F(PropertiesTest, OkAfterARefusedWriteShowsTheErrorAndLeavesTheRegistry) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName, REG_SZ, "before", 7),
              ERROR_SUCCESS);
    // A directory where the file should be: the platform refuses every write.
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr));
    // The box cleared: a completed OK would remove the start-up value.
    EXPECT_EQ(PressOk(Dialog, Boxes, false), std::vector<std::string>{"Unable to write to cardwick.ini"});
    EXPECT_EQ(RunValueData(), "before");
    EXPECT_FALSE(Dialog->Visible());
}

// The machine-wide Run key as a standard user meets it: readable, not writable.
struct TLockedRunKey : TLockedKey {
    TLockedRunKey() : TLockedKey(HKEY_LOCAL_MACHINE, RunKeyPath) {
        // Proves the lock holds before anything is judged by it.
        TRegKey Probe;
        EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_SET_VALUE, Probe.Put()),
                  ERROR_SUCCESS);
    }
};

// With the Run key refused to this account, OK asks nothing of it when it already holds what the
// box says (the program's own file, quoted, in any case; or no value with the box cleared). A value
// that does need changing still reports the refusal.
TEST_F(PropertiesTest, OkLeavesAnEqualStartupValueAloneAndReportsOnlyNeededWrites) {
    char Module[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, Module, MAX_PATH), 0u);
    const std::string Own = "\"" + std::string(Module) + "\"";
    std::string Upper = Own;
    for (char& C : Upper)
        C = static_cast<char>(toupper(static_cast<unsigned char>(C)));
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName, REG_SZ, Upper.c_str(),
                              static_cast<DWORD>(Upper.size() + 1)),
              ERROR_SUCCESS);
    {
        TLockedRunKey Lock;
        EXPECT_EQ(PressOk(Dialog, Boxes, true), std::vector<std::string>{});
        EXPECT_EQ(RunValueData(), Upper);
        EXPECT_EQ(PressOk(Dialog, Boxes, false),
                  std::vector<std::string>{"Failed to delete value 'Orvela Cardwick'"});
        EXPECT_EQ(RunValueData(), Upper);
    }
    const std::string SystemFolderValue = "C:\\windows\\system32\\Cardwick.exe";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName, REG_SZ, SystemFolderValue.c_str(),
                              static_cast<DWORD>(SystemFolderValue.size() + 1)),
              ERROR_SUCCESS);
    {
        TLockedRunKey Lock;
        EXPECT_EQ(PressOk(Dialog, Boxes, true),
                  std::vector<std::string>{"Failed to create key " + std::string(RunKeyPath)});
        EXPECT_EQ(RunValueData(), SystemFolderValue);
    }
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
    {
        TLockedRunKey Lock;
        EXPECT_EQ(PressOk(Dialog, Boxes, false), std::vector<std::string>{});
    }
    // Unlocked, OK with the box ticked registers the program's own file, whatever the current
    // directory: the one a program started at logon has.
    char Saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, Saved);
    char System[MAX_PATH];
    GetSystemDirectoryA(System, MAX_PATH);
    SetCurrentDirectoryA(System);
    EXPECT_EQ(PressOk(Dialog, Boxes, true), std::vector<std::string>{});
    SetCurrentDirectoryA(Saved);
    EXPECT_EQ(RunValueData(), Own);
}

} // namespace
