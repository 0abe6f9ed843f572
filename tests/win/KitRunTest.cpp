// Run and Terminate end the process's message loop for good, so they have a program of their own.
#include "kit/Application.h"
#include "kit/Timer.h"

#include <gtest/gtest.h>

namespace {

TEST(KitRun, RunShowsTheMainFormAndDispatchesUntilTerminate) {
    int Shown = 0, Ticks = 0;
    Application->ShowMainFormOnRun = [&] { ++Shown; };
    TTimer Timer(nullptr);
    Timer.SetInterval(10);
    Timer.OnTimer = TNotifyEvent::Function([&](TObject*) {
        if (++Ticks == 3)
            Application->Terminate();
    });
    EXPECT_FALSE(Application->Terminated());
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(Shown, 1);
    EXPECT_EQ(Ticks, 3);
}

} // namespace
