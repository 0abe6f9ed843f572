#include "kit/Timer.h"

#include "kit/Win32Error.h"

namespace {
constexpr UINT_PTR TimerId = 1;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
    FWindow = std::make_unique<TUtilityWindow>([this](TMessage& M) { WndProc(M); });
    UpdateTimer();
}

TTimer::~TTimer() {
    if (FRunning)
        KillTimer(FWindow->Handle(), TimerId);
}

void TTimer::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TTimer::SetInterval(std::uint32_t Value) {
    if (Value == FInterval)
        return;
    FInterval = Value;
    UpdateTimer();
}

void TTimer::Loaded() {
    TComponent::Loaded();
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    if (FRunning) {
        KillTimer(FWindow->Handle(), TimerId);
        FRunning = false;
    }
    // Neither a design-time timer nor one whose properties are still being read may tick.
    if (!FEnabled || FInterval == 0 || ComponentState().Contains(csDesigning) ||
        ComponentState().Contains(csLoading))
        return;
    // A timer that will not start must say so: one that never ticks looks like one with nothing to do.
    if (!SetTimer(FWindow->Handle(), TimerId, FInterval, nullptr)) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Cannot start the timer '" + Name() + "'");
    }
    FRunning = true;
}

void TTimer::WndProc(TMessage& Message) {
    if (Message.Msg == WM_TIMER) {
        Raise(OnTimer);
        return;
    }
    FWindow->DefaultHandler(Message);
}
