// The application object, utility windows and timers, with the real message loop.
#include "kit/Application.h"
#include "kit/UniqueHandle.h"
#include "kit/Exceptions.h"
#include "kit/Timer.h"
#include "kit/UtilityWindow.h"
#include "tests/win/support/Pump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TShownBox {
    std::string Text, Caption;
    UINT Flags;
};

class KitApplication : public ::testing::Test {
protected:
    void SetUp() override {
        Application->SetTitle("Kit Test");
        Application->MessageBoxSeam = [this](const std::string& Text, const std::string& Caption,
                                             UINT Flags) {
            Boxes.push_back({Text, Caption, Flags});
            return IDOK;
        };
    }
    void TearDown() override { Application->MessageBoxSeam = nullptr; }

    std::vector<TShownBox> Boxes;
};

double ProcessCpuMs() {
    FILETIME Create, Exit, Kernel, User;
    GetProcessTimes(GetCurrentProcess(), &Create, &Exit, &Kernel, &User);
    auto Ms = [](FILETIME F) {
        return (double(F.dwHighDateTime) * 4294967296.0 + F.dwLowDateTime) / 10000.0;
    };
    return Ms(Kernel) + Ms(User);
}

TEST_F(KitApplication, TimerTicksWithItselfAsSenderUntilDisabled) {
    TTimer Timer(nullptr);
    std::vector<TObject*> Senders;
    Timer.OnTimer = TNotifyEvent::Function([&](TObject* Sender) { Senders.push_back(Sender); });
    Timer.SetInterval(20);
    ASSERT_TRUE(PumpUntil([&] { return Senders.size() >= 3; }));
    EXPECT_EQ(Senders[0], &Timer);

    Timer.SetEnabled(false);
    Application->ProcessMessages();
    size_t Seen = Senders.size();
    EXPECT_FALSE(PumpUntil([&] { return Senders.size() > Seen; }, 150));

    Timer.SetEnabled(true);
    Timer.SetInterval(0);
    EXPECT_FALSE(PumpUntil([&] { return Senders.size() > Seen; }, 150));
}

// Real boxes, one shown inside the other's loop: each can be closed by its place among the open
// boxes, as if its OK had been pressed, and a closed one is no longer there to close.
TEST_F(KitApplication, AnOpenMessageBoxClosesByItsPlaceAsIfOKHadBeenPressed) {
    Application->MessageBoxSeam = nullptr;
    TTimer Timer(nullptr);
    Timer.SetInterval(50);
    int Ticks = 0;
    int Inner = 0;
    std::vector<std::size_t> OpenAtTick;
    std::vector<bool> Closed;
    Timer.OnTimer = TNotifyEvent::Function([&](TObject*) {
        ++Ticks;
        OpenAtTick.push_back(Application->OpenMessageBoxes());
        if (Ticks == 1) {
            Inner = Application->MessageBox("inner", "Kit Test", MB_OK);
        } else if (Ticks == 2) {
            Timer.SetEnabled(false);
            // The outer box first: it ends once the inner one, closed too, has gone.
            Closed.push_back(Application->CloseMessageBox(0));
            Closed.push_back(Application->CloseMessageBox(1));
            Closed.push_back(Application->CloseMessageBox(2));
        }
    });

    const int Outer = Application->MessageBox("outer", "Kit Test", MB_OK);

    EXPECT_EQ(Outer, IDOK);
    EXPECT_EQ(Inner, IDOK);
    EXPECT_EQ(OpenAtTick, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(Closed, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(Application->OpenMessageBoxes(), 0u);
    EXPECT_FALSE(Application->CloseMessageBox(0));
}

TEST_F(KitApplication, TimerDoesNotTickWhileDesigningOrLoading) {
    TComponent Form(nullptr);
    Form.SetDesigning(true);
    auto* Designed = new TTimer(&Form);
    int Ticks = 0;
    Designed->OnTimer = TNotifyEvent::Function([&](TObject*) { ++Ticks; });
    Designed->SetInterval(10);

    TTimer Loading(nullptr);
    Loading.BeginLoading();
    Loading.SetInterval(10); // restarted with its new period only after Loaded
    Loading.OnTimer = TNotifyEvent::Function([&](TObject*) { ++Ticks; });
    EXPECT_FALSE(PumpUntil([&] { return Ticks > 0; }, 100));
    Loading.Loaded();
    EXPECT_TRUE(PumpUntil([&] { return Ticks > 0; }, 1000));
}

TEST_F(KitApplication, ExceptionInAHandlerReachesTheErrorDisplayAndTheProgramGoesOn) {
    TTimer Timer(nullptr);
    int Ticks = 0;
    Timer.OnTimer = TNotifyEvent::Function([&](TObject*) {
        ++Ticks;
        if (Ticks == 1)
            throw EConvertError("'x' is not a valid integer value");
        if (Ticks == 2)
            throw 7;
    });
    Timer.SetInterval(10);
    ASSERT_TRUE(PumpUntil([&] { return Ticks >= 3; }));
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "'x' is not a valid integer value");
    EXPECT_EQ(Boxes[0].Caption, "Kit Test");
    EXPECT_EQ(Boxes[0].Flags, UINT(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Boxes[1].Text, "Unknown exception");
}

TEST_F(KitApplication, ProcessMessagesDispatchesAllPendingAndReturnsAtOnceWhenIdle) {
    std::vector<UINT> Seen;
    bool TimerSeen = false;
    TUtilityWindow Window([&](TMessage& M) {
        if (M.Msg >= WM_APP)
            Seen.push_back(M.Msg - WM_APP);
        TimerSeen = TimerSeen || M.Msg == WM_TIMER;
    });
    for (UINT I = 0; I < 3; ++I)
        PostMessageA(Window.Handle(), WM_APP + I, 0, 0);
    Application->ProcessMessages();
    EXPECT_EQ(Seen, (std::vector<UINT>{0, 1, 2}));

    // Idle, it returns before a message that comes later: a call that waited for the next message
    // would have dispatched this timer's, a second away.
    SetTimer(Window.Handle(), 1, 1000, nullptr);
    Application->ProcessMessages();
    EXPECT_FALSE(TimerSeen);
    KillTimer(Window.Handle(), 1);
}

TEST_F(KitApplication, WaitForMessageBlocksWithoutSpinning) {
    Application->ProcessMessages();
    double Cpu = ProcessCpuMs();
    DWORD Start = GetTickCount();
    EXPECT_FALSE(Application->WaitForMessage(300));
    DWORD Elapsed = GetTickCount() - Start;
    EXPECT_GE(Elapsed, 250u);
    EXPECT_LT(ProcessCpuMs() - Cpu, 60.0); // a spinning wait would burn the whole 300 ms

    // A message already queued but not yet looked at wakes the wait: it reports a message, where a
    // wait that slept through it would report the time-out.
    TUtilityWindow Window([](TMessage&) {});
    PostMessageA(Window.Handle(), WM_APP, 0, 0);
    MSG Peeked;
    PeekMessageA(&Peeked, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_TRUE(Application->WaitForMessage(1000));
    Application->ProcessMessages();
}

TEST_F(KitApplication, ApplicationWindowIsAZeroSizeTopLevelWindowTitledWithTheTitle) {
    HWND Wnd = Application->Handle();
    ASSERT_TRUE(IsWindow(Wnd));
    EXPECT_EQ(GetAncestor(Wnd, GA_PARENT), GetDesktopWindow());
    char Text[64] = {};
    GetWindowTextA(Wnd, Text, sizeof(Text));
    EXPECT_STREQ(Text, "Kit Test");
    Application->SetTitle("Renamed");
    GetWindowTextA(Wnd, Text, sizeof(Text));
    EXPECT_STREQ(Text, "Renamed");
    RECT R;
    GetWindowRect(Wnd, &R);
    EXPECT_EQ(R.right - R.left, 0);
    EXPECT_EQ(R.bottom - R.top, 0);
    EXPECT_FALSE(IsWindowVisible(Wnd));
    EXPECT_EQ(Application->Handle(), Wnd);
}

TEST_F(KitApplication, OnlyTheTopLevelUtilityWindowHearsBroadcasts) {
    UINT Broadcast = RegisterWindowMessageA("Cardwick.KitTestBroadcast");
    int TopLevelHeard = 0, MessageOnlyHeard = 0;
    TUtilityWindow TopLevel(
        [&](TMessage& M) {
            if (M.Msg == Broadcast)
                ++TopLevelHeard;
        },
        uwTopLevel);
    TUtilityWindow MessageOnly([&](TMessage& M) {
        if (M.Msg == Broadcast)
            ++MessageOnlyHeard;
    });
    EXPECT_FALSE(IsWindowVisible(TopLevel.Handle()));
    DWORD_PTR Result;
    SendMessageTimeoutA(HWND_BROADCAST, Broadcast, 0, 0, SMTO_ABORTIFHUNG, 1000, &Result);
    Application->ProcessMessages();
    EXPECT_EQ(TopLevelHeard, 1);
    EXPECT_EQ(MessageOnlyHeard, 0);
}

TEST_F(KitApplication, UtilityWindowReturnsTheHandlersResultAndGoesWithItsObject) {
    HWND Wnd;
    {
        TUtilityWindow Window([](TMessage& M) { M.Result = M.Msg == WM_APP ? 1234 : 0; });
        Wnd = Window.Handle();
        EXPECT_EQ(SendMessageA(Wnd, WM_APP, 0, 0), 1234);
    }
    EXPECT_FALSE(IsWindow(Wnd));
}

} // namespace

// ---- the owning handle template ----

namespace {

bool IsOpen(HANDLE Handle) {
    DWORD Flags = 0;
    return GetHandleInformation(Handle, &Flags) != 0;
}

} // namespace

TEST(KitUniqueHandle, ClosesOnceOnResetAndDestructionAndPassesOwnershipOnMove) {
    HANDLE First = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE Second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(First && Second);
    {
        TUniqueHandle<TFileHandleTraits> Owner(First);
        EXPECT_TRUE(Owner);
        TUniqueHandle<TFileHandleTraits> Moved(std::move(Owner));
        EXPECT_FALSE(Owner) << "the moved-from owner still holds the handle";
        EXPECT_EQ(Moved.Get(), First);
        Moved.Reset(Second);
        EXPECT_FALSE(IsOpen(First)) << "Reset did not close the old handle";
        EXPECT_TRUE(IsOpen(Second));
    }
    EXPECT_FALSE(IsOpen(Second)) << "destruction did not close the handle";

    // What CreateFile returns on failure is no handle: nothing to close, nothing held.
    TUniqueHandle<TFileHandleTraits> Failed(
        CreateFileA("Z:\\no\\such\\dir\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(Failed);
    HANDLE Kept = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        TUniqueHandle<TFileHandleTraits> Owner(Kept);
        EXPECT_EQ(Owner.Release(), Kept);
    }
    EXPECT_TRUE(IsOpen(Kept)) << "a released handle was closed";
    CloseHandle(Kept);
}
