#pragma once
// A hidden window for components that need one: a timer target, a receiver of registered or
// broadcast messages. The owner hands in the method that handles every message; the one window
// procedure keeps the object with the window and never lets an exception reach Win32.

#include "kit/Messages.h"

#include <functional>
#include <string>
#include <windows.h>

using TWndMethod = std::function<void(TMessage&)>;

enum TUtilityWindowKind {
    // Receives only what is sent or posted to it, and timer ticks. The cheap default.
    uwMessageOnly,
    // An ordinary hidden top-level window: it also receives the broadcasts the shell sends to every
    // top-level window ("TaskbarCreated" and the like).
    uwTopLevel,
};

class TUtilityWindow {
public:
    // Creates the window at once. Style and ExStyle matter only for the top-level kind.
    explicit TUtilityWindow(TWndMethod Method, TUtilityWindowKind Kind = uwMessageOnly,
                            const std::string& Text = std::string(), DWORD Style = WS_POPUP,
                            DWORD ExStyle = 0);
    ~TUtilityWindow();
    TUtilityWindow(const TUtilityWindow&) = delete;
    TUtilityWindow& operator=(const TUtilityWindow&) = delete;

    HWND Handle() const { return FHandle; }

    // What a handler calls for messages it does not handle itself.
    void DefaultHandler(TMessage& Message) const;

    static const char* ClassName() { return "TUtilityWindow"; }

private:
    static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;

    TWndMethod FMethod;
    HWND FHandle = nullptr;
    bool FCreating = false;
};
