// The settings file and the start-up registration through Wine's own private-profile and
// registry functions. The settings file is the Windows directory's "cardwick.ini", reset before
// and after every test.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "kit/Exceptions.h"
#include "settings/Registry.h"
#include "app/Unit2.h"
#include "kit/Application.h"
#include "settings/Settings.h"
#include "tests/win/support/SettingsStore.h"

namespace {

const char* const ValueName = RunValueName;
const char* const Neighbour = "Cardwick Test Neighbour";
const char* const TestKeyPath = "Software\\Cardwick Test";

struct TStoredValue {
    bool Exists = false;
    DWORD Type = 0;
    std::string Data;
};

TStoredValue StoredValue(HKEY Root, const std::string& KeyPath, const std::string& Name) {
    TStoredValue Result;
    TRegKey Key;
    if (RegOpenKeyExA(Root, KeyPath.c_str(), 0, KEY_QUERY_VALUE, Key.Put()) != ERROR_SUCCESS)
        return Result;
    char Buffer[1024];
    DWORD Size = sizeof Buffer;
    if (RegQueryValueExA(Key.Get(), Name.c_str(), nullptr, &Result.Type, reinterpret_cast<BYTE*>(Buffer),
                         &Size) != ERROR_SUCCESS)
        return Result;
    Result.Exists = true;
    Result.Data.assign(Buffer, strnlen(Buffer, Size));
    return Result;
}

void DeleteValue(HKEY Root, const char* KeyPath, const char* Name) {
    TRegKey Key;
    if (RegOpenKeyExA(Root, KeyPath, 0, KEY_SET_VALUE, Key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(Key.Get(), Name);
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSettingsFile(); }
    void TearDown() override {
        ResetSettingsFile();
        // Wine starts whatever the Run key names: nothing of ours may stay there.
        DeleteValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
    }

    static void ResetSettingsFile() {
        RemoveSettingsFile();
        ASSERT_EQ(GetFileAttributesA(SettingsPath().c_str()), INVALID_FILE_ATTRIBUTES) << SettingsPath();
    }

    static void WriteRaw(const char* Section, const char* Key, const std::string& Value) {
        ASSERT_TRUE(WritePrivateProfileStringA(Section, Key, Value.c_str(), "cardwick.ini"));
    }
};

// The settings dialog's own OK handler, with the controls set as a user leaves them: the file's
// text, key by key, and no start-up value. (The opposite check boxes, empty selections and the
// start-up value written are the first OK of tests/e2e/test_properties.py.)
TEST_F(SettingsFileTest, TheDialogsOkWritesTheSixKeysAndRemovesTheStartupValue) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName, REG_SZ, "before", 7), ERROR_SUCCESS);
    auto* Dialog = new TfrmProperties(Application);
    Dialog->AfterConstruction();
    auto Select = [](TComboBox* Box, const std::string& Entry) {
        Box->SetItemIndex(Box->Items().Add(Entry));
    };
    Dialog->cxLoadOnStartup->SetChecked(false);
    Dialog->cxShowOnStartup->SetChecked(true);
    Dialog->cxReturn->SetChecked(false);
    Select(Dialog->cbPort, "COM3");
    Select(Dialog->cbBaudRate, "19200");
    Select(Dialog->cbParity, "Even");
    Dialog->btnOKClick(nullptr);
    delete Dialog;

    EXPECT_EQ(SettingsFileLines(),
              (std::vector<std::string>{"[General]", "Load on Windows startup=0", "Show on startup=1",
                                        "Suffix Carriage Return=0", "[Ports]", "Port=COM3", "Baud rate=19200",
                                        "Parity=Even"}));
    EXPECT_FALSE(StoredValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName).Exists);
}

// The text rules are proved natively (SettingTextTest); here, that the file's text reaches them
// with each reader's default.
TEST_F(SettingsFileTest, BooleanTextsReadAsIntegersWithTheReadersDefault) {
    const struct {
        const char* Text;
        bool Valid;
        bool Value;
    } Cases[] = {{"2", true, true}, {"0x0", true, false}, {"word", false, false}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(std::string("\"") + Case.Text + "\"");
        WriteRaw("General", "Show on startup", Case.Text);
        EXPECT_EQ(ReadSettingBool("General", "Show on startup"), Case.Valid && Case.Value);
        TSettingsFile File;
        EXPECT_EQ(File.ReadBool("General", "Show on startup", true), Case.Valid ? Case.Value : true);
        EXPECT_EQ(File.ReadBool("General", "Show on startup", false), Case.Valid ? Case.Value : false);
    }
}

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    {
        TSettingsFile File;
        EXPECT_EQ(ReadSettingString("Ports", "Port"), "");
        EXPECT_FALSE(ReadSettingBool("General", "Show on startup"));
        EXPECT_TRUE(File.ReadBool("General", "Load on Windows startup", true));
        EXPECT_EQ(File.ReadString("Ports", "Parity", "Even"), "Even");
    }
    WriteRaw("General", "Show on startup", "1");
    TSettingsFile File;
    EXPECT_TRUE(File.ReadBool("General", "Suffix Carriage Return", true));
    EXPECT_FALSE(ReadSettingBool("General", "Suffix Carriage Return"));
    EXPECT_EQ(File.ReadString("Ports", "Baud rate", "9600"), "9600");
}

TEST_F(SettingsFileTest, LongValuesReadBackCutTo2047Characters) {
    for (const size_t Length : {2046u, 2047u, 2048u, 3000u}) {
        SCOPED_TRACE(Length);
        std::string Value;
        for (size_t I = 0; I < Length; ++I)
            Value += static_cast<char>('a' + I % 26);
        {
            TSettingsFile File;
            File.WriteString("Ports", "Port", Value);
            EXPECT_EQ(File.ReadString("Ports", "Port", ""), Value.substr(0, 2047));
        }
        EXPECT_EQ(ReadSettingString("Ports", "Port"), Value.substr(0, 2047));
    }
}

TEST_F(SettingsFileTest, RefusedWriteRaisesUnableToWriteAndReadsGiveDefaults) {
    // As root Wine writes even a read-only file; a directory in the file's place is refused.
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr));
    TSettingsFile File;
    for (const bool AsBoolean : {false, true}) {
        try {
            if (AsBoolean)
                File.WriteBool("General", "Show on startup", true);
            else
                File.WriteString("Ports", "Port", "COM3");
            ADD_FAILURE() << "the refused write raised nothing";
        } catch (const EWriteError& Error) {
            EXPECT_EQ(Error.Message(), "Unable to write to cardwick.ini");
        }
    }
    EXPECT_FALSE(ReadSettingBool("General", "Show on startup"));
    EXPECT_TRUE(File.ReadBool("General", "Show on startup", true));
    EXPECT_EQ(ReadSettingString("Ports", "Port"), "");
}

// A key of the test's own holding the value, locked as the machine-wide keys are for a standard
// account.
std::unique_ptr<TLockedKey> LockedKey(const std::string& KeyPath) {
    TRegKey Key;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              Key.Put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(Key.Get(), ValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
    return std::make_unique<TLockedKey>(HKEY_CURRENT_USER, KeyPath);
}

class StartupRegistrationTest : public ::testing::Test {
protected:
    // Wine starts whatever the Run key names: nothing of ours may stay there.
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean() {
        DeleteValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
        DeleteValue(HKEY_LOCAL_MACHINE, RunKeyPath, Neighbour);
        RegDeleteTreeA(HKEY_CURRENT_USER, TestKeyPath);
        RegDeleteKeyA(HKEY_CURRENT_USER, TestKeyPath);
    }
};

TEST_F(StartupRegistrationTest, WritesTheStartupValueAndRemovesItQuietlyOnceGone) {
    {
        TRegKey Run;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_SET_VALUE, Run.Put()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(Run.Get(), Neighbour, 0, REG_SZ, reinterpret_cast<const BYTE*>("n"), 2),
                  ERROR_SUCCESS);
    }

    SetRunAtStartup(ValueName, "C:\\\\Cardwick.exe", false);
    TStoredValue Stored = StoredValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
    EXPECT_TRUE(Stored.Exists);
    EXPECT_EQ(Stored.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored.Data, "C:\\\\Cardwick.exe");

    SetRunAtStartup(ValueName, "D:\\Tools\\Cardwick.exe", false);
    EXPECT_EQ(StoredValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName).Data, "D:\\Tools\\Cardwick.exe");

    SetRunAtStartup(ValueName, "D:\\Tools\\Cardwick.exe", true);
    EXPECT_FALSE(StoredValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName).Exists);
    EXPECT_TRUE(StoredValue(HKEY_LOCAL_MACHINE, RunKeyPath, Neighbour).Exists);
    EXPECT_NO_THROW(SetRunAtStartup(ValueName, "D:\\Tools\\Cardwick.exe", true));
}

TEST_F(StartupRegistrationTest, WritingCreatesAMissingKey) {
    const std::string KeyPath = std::string(TestKeyPath) + "\\Run";
    WriteRegistryString(HKEY_CURRENT_USER, KeyPath, ValueName, "C:\\Cardwick.exe");
    EXPECT_EQ(StoredValue(HKEY_CURRENT_USER, KeyPath, ValueName).Data, "C:\\Cardwick.exe");
}

TEST_F(StartupRegistrationTest, RefusedRegistryWritesRaiseTheirTexts) {
    const std::string LockedPath = std::string(TestKeyPath) + "\\Locked";
    const auto Lock = LockedKey(LockedPath);
    try {
        WriteRegistryString(HKEY_CURRENT_USER, LockedPath, ValueName, "C:\\Cardwick.exe");
        ADD_FAILURE() << "creating a locked key raised nothing";
    } catch (const EWriteError& Error) {
        EXPECT_EQ(Error.Message(), "Failed to create key Software\\Cardwick Test\\Locked");
    }

    // Value names are limited to 16,383 characters.
    const std::string LongName(20000, 'n');
    try {
        WriteRegistryString(HKEY_CURRENT_USER, TestKeyPath, LongName, "C:\\Cardwick.exe");
        ADD_FAILURE() << "setting an impossible value raised nothing";
    } catch (const EWriteError& Error) {
        EXPECT_EQ(Error.Message(), "Failed to set data for '" + LongName + "'");
    }
}

TEST_F(StartupRegistrationTest, RemovalRefusedWhileTheValueStaysIsReported) {
    const std::string LockedPath = std::string(TestKeyPath) + "\\Locked";
    const auto Lock = LockedKey(LockedPath);
    try {
        DeleteRegistryValue(HKEY_CURRENT_USER, LockedPath, ValueName);
        ADD_FAILURE() << "a value that stayed was reported as removed";
    } catch (const EWriteError& Error) {
        EXPECT_EQ(Error.Message(), "Failed to delete value 'Orvela Cardwick'");
    }
    EXPECT_TRUE(StoredValue(HKEY_CURRENT_USER, LockedPath, ValueName).Exists);

    // Nothing to remove is not a failure, whether the key is locked or missing.
    EXPECT_NO_THROW(DeleteRegistryValue(HKEY_CURRENT_USER, LockedPath, "Some Other Program"));
    EXPECT_NO_THROW(
        DeleteRegistryValue(HKEY_CURRENT_USER, std::string(TestKeyPath) + "\\Missing", ValueName));
}

} // namespace
