#pragma once
// The system services the keystroke output stands on: where the keys would go, what the keyboard
// layout there makes of a key, and the keys themselves. They sit behind one process-wide table so
// that a test can give the answers (a foreground window of another process or of this one, a
// layout, an integrity level) and watch the key events the typing makes, without synthesising
// anything.

#include <windows.h>

// Whether the process runs at a higher integrity level than this one. A level that cannot be read
// (the process or its token will not open) counts as higher: Windows drops keys injected into such
// a process without a word, so only a process known to be at our level or below gets them.
bool RunsWithHigherRights(DWORD ProcessId);

struct TKeyboardInput {
    // Where the keys would go.
    HWND(WINAPI* GetForegroundWindow)() = ::GetForegroundWindow;
    DWORD(WINAPI* GetWindowThreadProcessId)(HWND Window, LPDWORD ProcessId) = ::GetWindowThreadProcessId;
    bool (*RunsWithHigherRights)(DWORD ProcessId) = ::RunsWithHigherRights;

    // What the layout of the window's thread makes of a key.
    HKL(WINAPI* GetKeyboardLayout)(DWORD ThreadId) = ::GetKeyboardLayout;
    UINT(WINAPI* MapVirtualKeyEx)(UINT Code, UINT MapType, HKL Layout) = ::MapVirtualKeyExW;
    int(WINAPI* ToUnicodeEx)(UINT VirtualKey, UINT ScanCode, const BYTE* KeyState, LPWSTR Buffer,
                             int BufferSize, UINT Flags, HKL Layout) = ::ToUnicodeEx;

    // The keys.
    SHORT(WINAPI* GetKeyState)(int VirtualKey) = ::GetKeyState;
    VOID(WINAPI* KeybdEvent)
    (BYTE VirtualKey, BYTE ScanCode, DWORD Flags, ULONG_PTR ExtraInfo) = ::keybd_event;
    UINT(WINAPI* SendInput)(UINT Count, LPINPUT Inputs, int Size) = ::SendInput;
};

extern TKeyboardInput KeyboardInput;
