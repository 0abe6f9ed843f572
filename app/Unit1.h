#pragma once
// TfrmCardReader, the main window: one class over three files. Unit1.cpp holds the layout and the
// show, hide and exit handling; ReaderLink.cpp the conversation with the reader module;
// Keystrokes.cpp the typing of card IDs into the focused window.

#include "comm/CPDrv.h"
#include "kit/Controls.h"
#include "kit/Forms.h"
#include "kit/Graphics.h"
#include "kit/Menus.h"
#include "kit/Timer.h"
#include "ui/TrayIcon.h"

#include <windows.h>

#include <cstdint>
#include <string>

class TfrmCardReader : public TForm {
public:
    explicit TfrmCardReader(TComponent* AOwner);

    // Published components, in their designed order. The form owns them all.
    TCommPortDriver* Comm;
    TButton* btnConnect;
    TButton* btnDisconnect;
    TButton* btnReadCardID;
    TLabel* Label2;
    TLabel* Label3;
    TEdit* edtVersion;
    TLabel* Label4;
    TEdit* edtCardID;
    TStatusBar* sbStatus;
    TLabel* Label1;
    TEdit* edtModuleID;
    TTimer* tmPoll;
    TAnimate* anPoll;
    TTrayNotifyIcon* tniIcon;
    TButton* btnExit;
    TImageList* ilIcons;
    TEdit* edtFactoryCode;
    TTimer* tmTimeout;
    TButton* btnProperties;
    TPopupMenu* pmTray;
    TMenuItem* E1;
    TMenuItem* Show1;
    TButton* btnHide;
    TButton* btnAbout;
    TMenuItem* About1;

    // Published methods, in their designed order.
    void btnConnectClick(TObject* Sender);
    void btnDisconnectClick(TObject* Sender);
    void btnReadCardIDClick(TObject* Sender);
    void CommReceiveData(TObject* Sender, void* DataPtr, std::uint32_t DataSize);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void tmPollTimer(TObject* Sender);
    void tniIconDblClick(TObject* Sender);
    void FormCreate(TObject* Sender);
    void tmTimeoutTimer(TObject* Sender);
    void btnPropertiesClick(TObject* Sender);
    void Show1Click(TObject* Sender);
    void btnExitClick(TObject* Sender);
    void E1Click(TObject* Sender);
    void FormShow(TObject* Sender);
    void btnHideClick(TObject* Sender);
    void btnAboutClick(TObject* Sender);
    std::string GetBCC(const std::string& Text);
    void EnableControls(bool Enabled);
    bool SetRunMode(const std::string& Mode);
    bool SendString(char Command, const std::string& Data);
    // Keystrokes.cpp. They keep no state and touch no control of the window, so they are static:
    // the receive handler calls them as its own methods, and they can be driven without a window.
    static void SendToActiveWindow(const std::string& Text);
    static void SimulateKeystroke(BYTE Key, int ScanCode);
    bool LoadSettings();

private:
    // Panel 1: the local time in the user's long time format, then Message (": ...").
    void WriteStatus(const std::string& Message);
    // Before a communication error box: the window may be hidden in the notification area.
    void ShowAndBringToFront();
    void HandleReplyFrame(const std::string& ModuleIDText, const std::string& ReplyCode,
                          const std::string& Data);

    // Counts the times the link was dropped by a time-out or an error. A waiting SendString that
    // finds it changed and the port closed knows that a nested call has already dropped the link
    // and reported it.
    unsigned FLinkDrops = 0;
};

// The reader link data, once each beside the main window. The settings dialog clears
// WaitingReply and ModuleID, sets and clears ScanMode, and reads ModuleID and FactoryCode.
extern std::string FactoryCode;
extern std::string ModuleVersion;
extern std::string ModuleID;
extern std::string CardID;
extern std::string ReplyBuffer;
extern bool WaitingReply;
extern bool ReplyTimedOut;
extern bool ScanMode;

extern TfrmCardReader* frmCardReader;
