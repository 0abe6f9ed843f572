#pragma once
// The settings file and the start-up registration: storage only. The settings dialog that edits
// them is app/Unit2.

#include <string>

// The one settings file of the machine. A bare name: the platform keeps it in the Windows
// directory, shared by every user.
inline constexpr char SettingsFileName[] = "cardwick.ini";

// Each opens the settings file, reads one value and closes it again, so that a value the
// settings dialog has just written is seen at the next read. A missing file or key gives the
// empty string and false.
std::string ReadSettingString(const std::string& Section, const std::string& Ident);
bool ReadSettingBool(const std::string& Section, const std::string& Ident);

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

private:
    std::string FFileName;
};

