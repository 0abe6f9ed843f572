#include "kit/Dialogs.h"

#include "kit/Application.h"

void MessageDlg(const std::string& Msg, TMsgDlgType DlgType) {
    if (DlgType == mtWarning)
        Application->MessageBox(Msg, "Warning", MB_OK | MB_ICONWARNING);
    else
        Application->MessageBox(Msg, "Error", MB_OK | MB_ICONERROR);
}
