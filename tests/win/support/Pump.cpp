#include "tests/win/support/Pump.h"

#include "kit/Application.h"

#include <algorithm>

bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs) {
    const DWORD Start = GetTickCount();
    for (;;) {
        Application->ProcessMessages();
        if (Done())
            return true;
        const DWORD Elapsed = GetTickCount() - Start;
        if (Elapsed >= TimeoutMs)
            return false;
        // Short sleeps: some conditions (another process's log, a window of the UI driver) change
        // without a message arriving here.
        Application->WaitForMessage(std::min<DWORD>(10, TimeoutMs - Elapsed));
    }
}

void PumpFor(DWORD Ms) {
    PumpUntil([] { return false; }, Ms);
}
