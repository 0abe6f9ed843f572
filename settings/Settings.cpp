#include "settings/Settings.h"

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

namespace {

bool SameText(const std::string& A, const std::string& B) {
    // File names on Windows ignore case, and Windows may hand back a drive letter in either.
    return A.size() == B.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, A.data(), static_cast<int>(A.size()), B.data(),
                          static_cast<int>(B.size())) == CSTR_EQUAL;
}

} // namespace

void SetRunAtStartup(const std::string& ValueName, const std::string& CommandLine, bool Remove) {
    // Nothing is written when the value already is what the box asks for: an administrator (or the
    // installer) registered the start, and a standard user who presses OK must not meet a refusal.
    if (Remove) {
        if (RegistryValueExists(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName))
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName);
        return;
    }
    std::string Stored;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName, Stored) || !SameText(Stored, CommandLine))
        WriteRegistryString(HKEY_LOCAL_MACHINE, RunKeyPath, ValueName, CommandLine);
}

std::string StartupCommandLine() {
    // The program's own file, not the current directory: started by Windows at logon, the current
    // directory is a system folder. Quoted, as the install folder's name has spaces.
    std::string Path(MAX_PATH, '\0');
    for (;;) {
        const DWORD Length = GetModuleFileNameA(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
        // A cut name fills the buffer exactly; try again with more room.
        if (Length < Path.size()) {
            Path.resize(Length);
            break;
        }
        Path.resize(Path.size() * 2);
    }
    return "\"" + Path + "\"";
}
