#pragma once
// The settings unit: the settings file, the start-up registration, and the settings dialog
// that edits them.

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

#ifdef _WIN32
#include "kit/Controls.h"
#include "kit/Forms.h"
#include "kit/Timer.h"

// The settings dialog. It edits the settings file and the start-up registration, and tests the
// port settings on the main window's own serial driver and reader link: Test tries the selected
// port, baud rate and parity once, Auto-Detect every combination until a reader answers. Shown
// modally, only while the reader link is disconnected; the main window disconnects again after it.
class TfrmProperties : public TForm {
public:
    explicit TfrmProperties(TComponent* AOwner);

    // Published components, in their designed order. The form owns them all.
    TGroupBox* gbPortSettings;
    TLabel* Label1;
    TComboBox* cbBaudRate;
    TLabel* Label3;
    TComboBox* cbParity;
    TButton* btnOK;
    TButton* btnCancel;
    TLabel* Label6;
    TComboBox* cbPort;
    TButton* btnAutoDetect;
    TCheckBox* cxShowOnStartup;
    TCheckBox* cxLoadOnStartup;
    TAnimate* anDetect;
    TTimer* tmScan;
    TButton* btnTest;
    TImage* Image1;
    TImage* Image2;
    TImage* Image3;
    TCheckBox* cxReturn;

    // Published methods, in their designed order.
    void btnOKClick(TObject* Sender);
    // Starts a scan; clicked again while one runs (the button then reads "&Cancel"), ends it.
    void btnAutoDetectClick(TObject* Sender);
    void tmScanTimer(TObject* Sender);
    void btnTestClick(TObject* Sender);
    void FormShow(TObject* Sender);
    void EnableControls(bool Enabled);

private:
    // One try of a port, baud rate text and parity index (0 even, 1 none) on the main window's
    // driver: true when a valid reply came and a factory code is known.
    bool ProbeAttempt(const std::string& Port, const std::string& BaudRate, int ParityIndex);
    bool Scan();
    void EnterBusyState();
    void LeaveBusyState();
    void ShowCheckMarks(bool Visible);
};

extern TfrmProperties* frmProperties;

// True while an Auto-Detect scan runs; a second click on the button clears it, which is what
// cancels the scan.
extern bool Detecting;

// Whether a serial device of this name ("COM3") can be opened now, through the "COM3:" form of
// the name. A port held open elsewhere cannot be opened and so counts as absent.
bool PortExists(const std::string& PortName);
#endif
