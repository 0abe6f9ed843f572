#pragma once
// TfrmCardReader, the main window: one class over three files. Unit1.cpp holds the layout and the
// show, hide and exit handling; ReaderLink.cpp the conversation with the reader module;
// Keystrokes.cpp the typing of card IDs into the focused window.

#include <windows.h>

#include <string>

class TfrmCardReader {
public:
    // Keystrokes.cpp. They keep no state and touch no control of the window, so they are static:
    // the receive handler calls them as its own methods, and they can be driven without a window.
    static void SendToActiveWindow(const std::string& Text);
    static void SimulateKeystroke(BYTE Key, int ScanCode);
};
