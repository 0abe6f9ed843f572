#pragma once
// Message pumping for tests that wait on the program's own timers, windows and receive ticks.

#include <functional>
#include <windows.h>

// Dispatches this thread's messages, sleeping between them, until Done holds or TimeoutMs has
// passed; returns whether Done held.
bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs = 2000);

// Dispatches this thread's messages for Ms milliseconds.
void PumpFor(DWORD Ms);
