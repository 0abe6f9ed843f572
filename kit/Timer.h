#pragma once
// A window timer as a component: OnTimer is raised every Interval milliseconds while Enabled.
// Ticks come through the message loop, so they run between other messages, never inside them,
// and a late tick is not queued twice.

#include "kit/Component.h"
#include "kit/UtilityWindow.h"

#include <cstdint>
#include <memory>

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    bool Enabled() const { return FEnabled; } // default true
    void SetEnabled(bool Value);
    std::uint32_t Interval() const { return FInterval; } // default 1000; 0 stops the timer
    void SetInterval(std::uint32_t Value);

    TNotifyEvent OnTimer;

    void Loaded() override;

private:
    void UpdateTimer();
    void WndProc(TMessage& Message);

    bool FEnabled = true;
    std::uint32_t FInterval = 1000;
    bool FRunning = false;
    std::unique_ptr<TUtilityWindow> FWindow;
};
