#include "settings/Unit2.h"

#include <windows.h>

#include <utility>

#include "kit/Exceptions.h"
#include "settings/Registry.h"
#include "settings/SettingText.h"

namespace {

// A value is read into this many characters, the terminating null included: longer values come
// back cut to 2047 characters.
constexpr DWORD ValueBufferSize = 2048;

const char* const RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace

TSettingsFile::TSettingsFile(std::string FileName) : FFileName(std::move(FileName)) {}

TSettingsFile::~TSettingsFile() {
    // Flushes the platform's cached copy. A refusal here was already raised by the write that met
    // it, and a destructor must not raise.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, FFileName.c_str());
}

std::string TSettingsFile::ReadString(const std::string& Section, const std::string& Ident,
                                      const std::string& Default) const {
    char Buffer[ValueBufferSize];
    const DWORD Length = GetPrivateProfileStringA(Section.c_str(), Ident.c_str(), Default.c_str(), Buffer,
                                                  ValueBufferSize, FFileName.c_str());
    return std::string(Buffer, Length);
}

bool TSettingsFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) const {
    return SettingTextToBool(ReadString(Section, Ident, ""), Default);
}

void TSettingsFile::WriteString(const std::string& Section, const std::string& Ident,
                                const std::string& Value) {
    if (!WritePrivateProfileStringA(Section.c_str(), Ident.c_str(), Value.c_str(), FFileName.c_str()))
        throw EWriteError("Unable to write to " + FFileName);
}

void TSettingsFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
    WriteString(Section, Ident, BoolToSettingText(Value));
}

std::string ReadSettingString(const std::string& Section, const std::string& Ident) {
    TSettingsFile File;
    return File.ReadString(Section, Ident, "");
}

bool ReadSettingBool(const std::string& Section, const std::string& Ident) {
    TSettingsFile File;
    return File.ReadBool(Section, Ident, false);
}

void SetRunAtStartup(const std::string& ValueName, const std::string& CommandLine, bool Remove) {
    if (Remove)
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
    else
        WriteRegistryString(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName, CommandLine);
}

std::string StartupCommandLine() {
    std::string Directory(MAX_PATH, '\0');
    for (;;) {
        const DWORD Length = GetCurrentDirectoryA(static_cast<DWORD>(Directory.size()), Directory.data());
        // Too small a buffer makes the answer the size needed, the null included.
        const bool Fits = Length < Directory.size();
        Directory.resize(Length);
        if (Fits)
            break;
    }
    return Directory + "\\Cardwick.exe";
}
