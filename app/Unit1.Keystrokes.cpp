// Typing: the keyboard-wedge half of the main window. A card ID becomes key strokes for whatever
// window has the keyboard focus; nothing is activated, searched for or checked first.

#include "app/Unit1.h"
#include "app/KeyboardInput.h"

TKeyboardInput KeyboardInput;

// Every character goes out with Caps Lock on, so that letter keys give upper-case letters whatever
// the user's Caps Lock state, and that state is put back after each character. The state is read
// before every character: the user (or another program) may toggle it while a card is typed.
// No message is pumped and no delay inserted, so the strokes of one card ID are one uninterrupted run.
void TfrmCardReader::SendToActiveWindow(const std::string& Text) {
    if (Text.empty())
        return;
    for (const char Character : Text) {
        const bool CapsLockOn = (KeyboardInput.GetKeyState(VK_CAPITAL) & 1) != 0;
        if (!CapsLockOn)
            SimulateKeystroke(VK_CAPITAL, 1);
        // The character's code is the virtual key as it is: no layout lookup, no Shift.
        SimulateKeystroke(static_cast<BYTE>(Character), 0);
        if (!CapsLockOn)
            SimulateKeystroke(VK_CAPITAL, 0);
    }
}

// One press and one release, back to back. The system keeps the low byte of ScanCode.
void TfrmCardReader::SimulateKeystroke(BYTE Key, int ScanCode) {
    const BYTE Scan = static_cast<BYTE>(ScanCode & 0xFF);
    KeyboardInput.KeybdEvent(Key, Scan, 0, 0);
    KeyboardInput.KeybdEvent(Key, Scan, KEYEVENTF_KEYUP, 0);
}
