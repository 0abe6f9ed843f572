// The program block. The tray icon unit has registered its callback message before this runs (its
// start-up is a static object of that unit).

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "kit/Application.h"
#include "kit/Forms.h"
#include "settings/Settings.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The forms, and with them the tray icon, go before WinMain returns, however it returns: the
    // static objects of the units are destroyed afterwards in an order the program does not choose.
    struct TFormsOwner {
        ~TFormsOwner() { Application->DestroyForms(); }
    } Forms;
    try {
        Application->Initialize();
        Application->SetTitle("Orvela Cardwick");
        // A second start (the Start-menu shortcut while the logon copy runs) brings the running
        // copy forward instead of opening the port a second time.
        if (!Application->ClaimInstance("Orvela Cardwick"))
            return 0;
        // The first form is the main window; creating it already connects and starts reading.
        Application->CreateForm(frmCardReader);
        Application->OnEndSession = TNotifyEvent(frmCardReader, &TfrmCardReader::AppEndSession);
        Application->CreateForm(frmProperties);
        Application->CreateForm(frmAbout);
        // Hidden unless asked for: the program then starts with only its tray icon.
        if (!ReadSettingBool(SettingKeys::ShowOnStartup))
            Application->SetShowMainForm(false);
        Application->Run();
    } catch (...) {
        Application->HandleException(nullptr);
        return 1;
    }
    return 0;
}
