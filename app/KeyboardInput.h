#pragma once
// The two keyboard services the keystroke output stands on. They sit behind one process-wide
// table so that a test can watch the calls the typing makes (and the Caps Lock reads it does not
// make) without synthesising anything.

#include <windows.h>

struct TKeyboardInput {
    SHORT(WINAPI* GetKeyState)(int VirtualKey) = ::GetKeyState;
    VOID(WINAPI* KeybdEvent)
    (BYTE VirtualKey, BYTE ScanCode, DWORD Flags, ULONG_PTR ExtraInfo) = ::keybd_event;
};

extern TKeyboardInput KeyboardInput;
