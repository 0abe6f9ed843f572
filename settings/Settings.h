#pragma once
// The settings file and the start-up registration: storage only. The settings dialog that edits
// them is app/Unit2.

#include <string>

// The one settings file of the machine. A bare name: the platform keeps it in the Windows
// directory, shared by every user.
inline constexpr char SettingsFileName[] = "cardwick.ini";

// A key of the settings file: its section, its name, and the value the settings dialog shows when
// the file lacks it. The type says how the value is stored, so a flag cannot be read as text.
// The program's own reads (ReadSettingBool, ReadSettingString) take a missing key as false or
// empty, not as the dialog's default: a fresh machine types no carriage return until OK is pressed.
template <typename TValue> struct TSettingKey {
    const char* Section;
    const char* Name;
    TValue DialogDefault;
};

// Every key the program reads or writes. Product code names a key only through this table, so a
// misspelt key does not compile; the names are the file's own and never change.
namespace SettingKeys {
inline constexpr TSettingKey<bool> LoadOnWindowsStartup{"General", "Load on Windows startup", true};
inline constexpr TSettingKey<bool> ShowOnStartup{"General", "Show on startup", false};
inline constexpr TSettingKey<bool> SuffixCarriageReturn{"General", "Suffix Carriage Return", true};
// Not in the dialog, which leaves it alone: off unless the file says 1.
inline constexpr TSettingKey<bool> ReconnectAutomatically{"General", "Reconnect automatically", false};
inline constexpr TSettingKey<const char*> Port{"Ports", "Port", ""};
inline constexpr TSettingKey<const char*> BaudRate{"Ports", "Baud rate", ""};
inline constexpr TSettingKey<const char*> Parity{"Ports", "Parity", ""};
} // namespace SettingKeys

// Each opens the settings file, reads one value and closes it again, so that a value the
// settings dialog has just written is seen at the next read. A missing file or key gives the
// empty string and false.
std::string ReadSettingString(const std::string& Section, const std::string& Ident);
bool ReadSettingBool(const std::string& Section, const std::string& Ident);
inline std::string ReadSettingString(const TSettingKey<const char*>& Key) {
    return ReadSettingString(Key.Section, Key.Name);
}
inline bool ReadSettingBool(const TSettingKey<bool>& Key) {
    return ReadSettingBool(Key.Section, Key.Name);
}

// Writes the start-up value (REG_SZ, under the machine-wide Run key), or deletes it when Remove
// is set; touches the registry only when the value differs from that (a stored REG_SZ equal to
// CommandLine, case aside, counts as written). Raises EWriteError when the key cannot be created
// or the value not set; removing a value that is not there is not an error.
void SetRunAtStartup(const std::string& ValueName, const std::string& CommandLine, bool Remove);

// What the start-up value names: the program's own file, in double quotes.
std::string StartupCommandLine();

// The settings file as the dialog uses it: opened once per event, every read and write going to
// the platform at once, the platform's cached copy flushed when the object goes away.
class TSettingsFile {
public:
    explicit TSettingsFile(std::string FileName = SettingsFileName);
    ~TSettingsFile();
    TSettingsFile(const TSettingsFile&) = delete;
    TSettingsFile& operator=(const TSettingsFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // At most 2047 characters of a value come back; Default when the file or key is missing.
    std::string ReadString(const std::string& Section, const std::string& Ident,
                           const std::string& Default) const;
    // Default also when the text is not wholly an integer.
    bool ReadBool(const std::string& Section, const std::string& Ident, bool Default) const;

    // Raise EWriteError ("Unable to write to cardwick.ini") when the platform refuses the write.
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
    void WriteBool(const std::string& Section, const std::string& Ident, bool Value);

    // The same through the table, a missing key reading as the dialog's default.
    std::string ReadString(const TSettingKey<const char*>& Key) const {
        return ReadString(Key.Section, Key.Name, Key.DialogDefault);
    }
    bool ReadBool(const TSettingKey<bool>& Key) const {
        return ReadBool(Key.Section, Key.Name, Key.DialogDefault);
    }
    void WriteString(const TSettingKey<const char*>& Key, const std::string& Value) {
        WriteString(Key.Section, Key.Name, Value);
    }
    void WriteBool(const TSettingKey<bool>& Key, bool Value) { WriteBool(Key.Section, Key.Name, Value); }

private:
    std::string FFileName;
};
