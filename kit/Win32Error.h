#pragma once
// A Win32 call that failed, with the system's reason: the code GetLastError gave right after the
// call and the system's text for it. Windows only, beside the portable exceptions of Exceptions.h.

#include "kit/Exceptions.h"

#include <string>
#include <windows.h>

class EWin32Error : public Exception {
public:
    // What was being done, and the code the failing call left. The caller reads the code before it
    // builds the text: making a string may itself set the last error.
    EWin32Error(DWORD Code, const std::string& What);

    DWORD ErrorCode() const { return FErrorCode; }
    // The system's text for Code, without its line break; empty when the system has none.
    static std::string SystemMessage(DWORD Code);

private:
    DWORD FErrorCode;
};
