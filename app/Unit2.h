#pragma once
// The settings dialog's form; what it reads and writes is settings/Settings.

#include "kit/Controls.h"
#include "kit/Forms.h"
#include "kit/Timer.h"

#include <string>

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
