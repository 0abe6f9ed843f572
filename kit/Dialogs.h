#pragma once
// The program's message boxes: modal to the active window, with the one button "OK".

#include <string>

enum TMsgDlgType {
    mtWarning, // configuration problems: title "Warning", the warning icon
    mtError,   // communication failures: title "Error", the error icon
};

// Shows Msg (a line feed starts a new line) and returns once the user has pressed OK. Goes through
// Application->MessageBox, so a test can take the box through its seam.
void MessageDlg(const std::string& Msg, TMsgDlgType DlgType);
