#pragma once
// TfrmCardReader, the main window: one class over three files. Unit1.cpp holds the layout and the
// show, hide and exit handling; Unit1.ReaderLink.cpp the conversation with the reader module, whose
// decisions live in reader/ReaderLink; Unit1.Keystrokes.cpp the typing of card IDs into the focused
// window.

#include "comm/CPDrv.h"
#include "kit/Controls.h"
#include "kit/Forms.h"
#include "kit/Graphics.h"
#include "kit/Menus.h"
#include "kit/Timer.h"
#include "reader/ReaderLink.h"
#include "ui/TrayIcon.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class TfrmCardReader : public TForm {
public:
    explicit TfrmCardReader(TComponent* AOwner);
    ~TfrmCardReader() override;

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
    // Unit1.Keystrokes.cpp. They keep no state and touch no control of the window, so they are static:
    // the receive handler calls them as its own methods, and they can be driven without a window.
    // SendToActiveWindow types a card ID, and Enter after it when asked, into the window in front,
    // or nothing at all when the keys would go astray there; it says which.
    static TypingOutcome SendToActiveWindow(const std::string& CardID, bool SuffixCarriageReturn);
    static void SimulateKeystroke(BYTE Key, int ScanCode);
    static void SimulateUnicodeKeystroke(wchar_t Character);
    bool LoadSettings();

    // The reader link's logic, which the handlers above forward to; the settings dialog probes
    // ports on it too.
    TReaderLink& Link();

    // The session ends, or an installer asks the program to make way: stop reading, close the
    // port and take the tray icon away, without a word. The application terminates after it.
    void AppEndSession(TObject* Sender);

    // Public for the test of its interval, as the other timers are.
    TTimer* tmReconnect;

private:
    void tmReconnectTimer(TObject* Sender);
    // The tray picture of the state (image 1 of ilIcons while reading, image 0 otherwise), loaded
    // at the taskbar's scale rather than copied from ilIcons, which follows the main window's.
    void LoadTrayPicture(TIcon& Picture) const;
    void tniIconTaskbarChange(TObject* Sender);

    // Lends the link this window's driver, timers, status bar, fields and message boxes.
    class TLinkHost;
    struct TLinkHostDeleter {
        void operator()(TLinkHost* Host) const;
    };
    std::unique_ptr<TLinkHost, TLinkHostDeleter> FLinkHost;
    std::unique_ptr<TReaderLink> FLink;
};

extern TfrmCardReader* frmCardReader;
