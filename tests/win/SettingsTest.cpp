// The settings file and the start-up registration through Wine's own private-profile and
// registry functions. The settings file is the Windows directory's "cardwick.ini", reset before
// and after every test.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kit/Exceptions.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

namespace {

std::string WindowsDirectory() {
    char Buffer[MAX_PATH];
    const UINT Length = GetWindowsDirectoryA(Buffer, MAX_PATH);
    return std::string(Buffer, Length);
}

std::string SettingsPath() {
    return WindowsDirectory() + "\\cardwick.ini";
}

// The file's non-empty lines, line ends stripped.
std::vector<std::string> FileLines(const std::string& Path) {
    std::vector<std::string> Lines;
    FILE* File = std::fopen(Path.c_str(), "rb");
    if (!File)
        return Lines;
    std::string Text;
    char Buffer[4096];
    size_t Count;
    while ((Count = std::fread(Buffer, 1, sizeof Buffer, File)) > 0)
        Text.append(Buffer, Count);
    std::fclose(File);
    size_t Start = 0;
    while (Start < Text.size()) {
        size_t End = Text.find('\n', Start);
        if (End == std::string::npos)
            End = Text.size();
        std::string Line = Text.substr(Start, End - Start);
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        if (!Line.empty())
            Lines.push_back(Line);
        Start = End + 1;
    }
    return Lines;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSettingsFile(); }
    void TearDown() override { ResetSettingsFile(); }

    static void ResetSettingsFile() {
        // Let go of the platform's cached copy first, or it would be written back.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, "cardwick.ini");
        const std::string Path = SettingsPath();
        RemoveDirectoryA(Path.c_str());
        SetFileAttributesA(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Path.c_str());
        ASSERT_EQ(GetFileAttributesA(Path.c_str()), INVALID_FILE_ATTRIBUTES) << Path;
    }

    static void WriteRaw(const char* Section, const char* Key, const std::string& Value) {
        ASSERT_TRUE(WritePrivateProfileStringA(Section, Key, Value.c_str(), "cardwick.ini"));
    }
};

// What the settings dialog's OK does: all six keys through one open file.
void WriteDialogSettings(bool LoadOnStartup, bool ShowOnStartup, bool SuffixReturn, const std::string& Port,
                         const std::string& BaudRate, const std::string& Parity) {
    TSettingsFile File;
    File.WriteBool("General", "Load on Windows startup", LoadOnStartup);
    File.WriteBool("General", "Show on startup", ShowOnStartup);
    File.WriteBool("General", "Suffix Carriage Return", SuffixReturn);
    File.WriteString("Ports", "Port", Port);
    File.WriteString("Ports", "Baud rate", BaudRate);
    File.WriteString("Ports", "Parity", Parity);
}

TEST_F(SettingsFileTest, DialogWritesAreReadBackByTheHelpersFromTheWindowsDirectory) {
    WriteDialogSettings(true, false, true, "COM3", "19200", "Even");

    EXPECT_TRUE(ReadSettingBool("General", "Load on Windows startup"));
    EXPECT_FALSE(ReadSettingBool("General", "Show on startup"));
    EXPECT_TRUE(ReadSettingBool("General", "Suffix Carriage Return"));
    EXPECT_EQ(ReadSettingString("Ports", "Port"), "COM3");
    EXPECT_EQ(ReadSettingString("Ports", "Baud rate"), "19200");
    EXPECT_EQ(ReadSettingString("Ports", "Parity"), "Even");
    const std::vector<std::string> FirstOk = {
        "[General]", "Load on Windows startup=1", "Show on startup=0", "Suffix Carriage Return=1", "[Ports]",
        "Port=COM3", "Baud rate=19200",           "Parity=Even"};
    EXPECT_EQ(FileLines(SettingsPath()), FirstOk);

    // A second OK replaces the values where they stand; empty selections are written as they are.
    WriteDialogSettings(false, true, false, "", "", "None");
    EXPECT_FALSE(ReadSettingBool("General", "Load on Windows startup"));
    EXPECT_TRUE(ReadSettingBool("General", "Show on startup"));
    EXPECT_EQ(ReadSettingString("Ports", "Port"), "");
    const std::vector<std::string> SecondOk = {"[General]",         "Load on Windows startup=0",
                                               "Show on startup=1", "Suffix Carriage Return=0",
                                               "[Ports]",           "Port=",
                                               "Baud rate=",        "Parity=None"};
    EXPECT_EQ(FileLines(SettingsPath()), SecondOk);
}

TEST_F(SettingsFileTest, WritesReachThePlatformWhileTheFileIsOpen) {
    TSettingsFile File;
    File.WriteString("Ports", "Port", "COM4");
    File.WriteBool("General", "Suffix Carriage Return", true);
    EXPECT_EQ(ReadSettingString("Ports", "Port"), "COM4");
    EXPECT_TRUE(ReadSettingBool("General", "Suffix Carriage Return"));
    EXPECT_EQ(File.ReadString("Ports", "Port", ""), "COM4");
}

TEST_F(SettingsFileTest, BooleanTextsReadAsIntegersWithTheReadersDefault) {
    const struct {
        const char* Text;
        bool Valid;
        bool Value;
    } Cases[] = {
        {"1", true, true},   {"2", true, true},       {"-1", true, true},           {"0x10", true, true},
        {"$ff", true, true}, {"0", true, false},      {"0x0", true, false},         {"word", false, false},
        {"", false, false},  {"12abc", false, false}, {"4294967296", false, false},
    };
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

TEST_F(SettingsFileTest, SectionAndKeyNamesMatchWithoutRegardToCase) {
    WriteRaw("General", "Show on startup", "1");
    EXPECT_TRUE(ReadSettingBool("GENERAL", "show ON startup"));
    {
        TSettingsFile File;
        File.WriteBool("general", "SHOW ON STARTUP", false);
    }
    EXPECT_FALSE(ReadSettingBool("General", "Show on startup"));
    // Replaced in place, not added beside the first.
    EXPECT_EQ(FileLines(SettingsPath()).size(), 2u);
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

// The program's own file, quoted, whatever the current directory is: a program started by
// Windows at logon runs in a system folder.
TEST(StartupCommandLineTest, IsTheProgramsOwnFileQuoted) {
    char Module[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, Module, MAX_PATH), 0u);
    char Saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, Saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(WindowsDirectory().c_str()));
    EXPECT_EQ(StartupCommandLine(), "\"" + std::string(Module) + "\"");
    SetCurrentDirectoryA(Saved);
}

const char* const RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const ValueName = "Orvela Cardwick";
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

// Leaves a key that lets everyone read it, change its permissions and delete it, and nothing
// else: opening it with full access is refused, as it is for a standard account under HKLM.
void LockKey(const std::string& KeyPath) {
    TRegKey Key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              Key.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Key.Get(), ValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
    SID_IDENTIFIER_AUTHORITY World = SECURITY_WORLD_SID_AUTHORITY;
    PSID Everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&World, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &Everyone));
    alignas(ACL) char AclBuffer[256];
    PACL Acl = reinterpret_cast<PACL>(AclBuffer);
    SECURITY_DESCRIPTOR Descriptor;
    const bool Built = InitializeAcl(Acl, sizeof AclBuffer, ACL_REVISION) &&
                       AddAccessAllowedAce(Acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, Everyone) &&
                       InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                       SetSecurityDescriptorDacl(&Descriptor, TRUE, Acl, FALSE);
    FreeSid(Everyone);
    ASSERT_TRUE(Built);
    ASSERT_EQ(RegSetKeySecurity(Key.Get(), DACL_SECURITY_INFORMATION, &Descriptor), ERROR_SUCCESS);
}

class StartupRegistrationTest : public ::testing::Test {
protected:
    // Wine starts whatever the Run key names: nothing of ours may stay there.
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean() {
        DeleteValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
        DeleteValue(HKEY_LOCAL_MACHINE, RunKeyPath, Neighbour);
        // A locked key allows its permissions to be reset, and then it can go.
        TRegKey Locked;
        const std::string LockedPath = std::string(TestKeyPath) + "\\Locked";
        if (RegOpenKeyExA(HKEY_CURRENT_USER, LockedPath.c_str(), 0, WRITE_DAC, Locked.Put()) ==
            ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR Open;
            InitializeSecurityDescriptor(&Open, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(&Open, TRUE, nullptr, FALSE);
            RegSetKeySecurity(Locked.Get(), DACL_SECURITY_INFORMATION, &Open);
        }
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
    LockKey(LockedPath);
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
    LockKey(LockedPath);
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
