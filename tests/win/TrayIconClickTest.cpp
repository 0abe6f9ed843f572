// Mouse callbacks of the notification-area icon, posted to the manager's window as the shell posts
// them: the single/double click discrimination and the right-button menu at the cursor.

#include "kit/Application.h"
#include "kit/Menus.h"
#include "kit/Timer.h"
#include "ui/TrayIcon.h"
#include "tests/win/support/Pump.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// What an open popup menu showed, read while it was open.
struct TMenuSeen {
    RECT Rect{};
    std::vector<std::string> Captions;
    std::string DefaultCaption;
};

// Watches for a popup menu of this process (the window class "#32768") from inside the menu's own
// loop, which keeps dispatching timer messages, notes what it shows, and then acts on it.
class TMenuWatcher {
public:
    // Action gets the menu window; by default the menu is closed without a choice.
    explicit TMenuWatcher(std::function<void(HWND)> Action = [](HWND) { EndMenu(); })
        : FAction(std::move(Action)), FTimer(std::make_unique<TTimer>(nullptr)) {
        FTimer->SetInterval(30);
        FTimer->OnTimer = TNotifyEvent::Function([this](TObject*) { Tick(); });
    }
    const std::vector<TMenuSeen>& Seen() const { return FSeen; }

private:
    void Tick() {
        HWND Menu = FindWindowA("#32768", nullptr);
        if (!Menu || !IsWindowVisible(Menu) || Menu == FHandled)
            return;
        FHandled = Menu;
        TMenuSeen Seen;
        GetWindowRect(Menu, &Seen.Rect);
        HMENU Handle = reinterpret_cast<HMENU>(SendMessageA(Menu, 0x01E1 /* MN_GETHMENU */, 0, 0));
        const UINT Default = GetMenuDefaultItem(Handle, TRUE, 0);
        for (int i = 0; i < GetMenuItemCount(Handle); ++i) {
            char Text[64] = {};
            GetMenuStringA(Handle, static_cast<UINT>(i), Text, sizeof Text, MF_BYPOSITION);
            Seen.Captions.push_back(Text);
            if (static_cast<UINT>(i) == Default)
                Seen.DefaultCaption = Text;
        }
        FSeen.push_back(Seen);
        FAction(Menu);
    }

    std::function<void(HWND)> FAction;
    std::unique_ptr<TTimer> FTimer;
    std::vector<TMenuSeen> FSeen;
    HWND FHandled = nullptr;
};

// These tests need no notification area: every request is taken as done.
BOOL WINAPI AcceptEverything(DWORD, PNOTIFYICONDATAA) {
    return TRUE;
}

class TrayIconClickTest : public ::testing::Test {
protected:
    void SetUp() override {
        TrayIconShell.NotifyIcon = AcceptEverything;
        Owner = std::make_unique<TComponent>(nullptr);
        Icon = new TTrayNotifyIcon(Owner.get());
        Icon->OnClick = TNotifyEvent::Function([this](TObject* Sender) {
            EXPECT_EQ(Sender, Icon);
            Clicks.push_back(GetTickCount());
        });
        Icon->OnDblClick = TNotifyEvent::Function([this](TObject* Sender) {
            EXPECT_EQ(Sender, Icon);
            DblClicks.push_back(GetTickCount());
        });
        DoubleClickTime = GetDoubleClickTime();
    }
    void TearDown() override {
        Owner.reset();
        TrayIconShell.NotifyIcon = Shell_NotifyIconA;
    }

    void Mouse(UINT MouseMessage, UINT Id = 0) {
        PostMessageA(IconManager->Handle(), TrayNotifyIconMessage, Id ? Id : Icon->IconId(), MouseMessage);
    }

    std::unique_ptr<TComponent> Owner;
    TTrayNotifyIcon* Icon = nullptr;
    std::vector<DWORD> Clicks, DblClicks;
    DWORD DoubleClickTime = 0;
};

// ---- Left button --------------------------------------------------------------------------------
// The waits are anchored on the order of events: messages posted together are all dispatched before
// any timer's tick, so what a press does at once shows after one dispatch, and a running timer's
// tick, once due, comes at the first dispatch after.

// The prefix sets a double-click time far from the usual 500 ms (scripts/wine-env.sh): a click timer
// with an interval of its own instead of the system's shows.
TEST_F(TrayIconClickTest, SinglePressClicksOnceADoubleClickTimeLaterAndTheReleaseDoesNothing) {
    ASSERT_EQ(DoubleClickTime, 200u) << "the test prefix's double-click time";
    const DWORD Pressed = GetTickCount();
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    Application->ProcessMessages();
    EXPECT_TRUE(Clicks.empty()) << "clicked before the double-click time";
    ASSERT_TRUE(PumpUntil([&] { return !Clicks.empty(); }, 5000));
    PumpFor(DoubleClickTime + 200);
    ASSERT_EQ(Clicks.size(), 1u);
    EXPECT_TRUE(DblClicks.empty());
    const DWORD Delay = Clicks[0] - Pressed;
    EXPECT_GE(Delay + 20, DoubleClickTime);
    EXPECT_LT(Delay, 500u);
}

TEST_F(TrayIconClickTest, DoubleClickIsReportedAtTheSecondPressAndSuppressesTheClick) {
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    Mouse(WM_LBUTTONDBLCLK);
    Mouse(WM_LBUTTONUP);
    Application->ProcessMessages();
    EXPECT_EQ(DblClicks.size(), 1u);
    PumpFor(DoubleClickTime * 2 + 200);
    EXPECT_EQ(DblClicks.size(), 1u);
    EXPECT_TRUE(Clicks.empty());

    // The suppression ends with the timer: the next single press clicks again.
    Mouse(WM_LBUTTONDOWN);
    EXPECT_TRUE(PumpUntil([&] { return Clicks.size() == 1; }, 5000));
}

TEST_F(TrayIconClickTest, PressesFurtherApartThanTheDoubleClickTimeClickTwice) {
    Mouse(WM_LBUTTONDOWN);
    ASSERT_TRUE(PumpUntil([&] { return Clicks.size() == 1; }, 5000));
    Mouse(WM_LBUTTONDOWN);
    ASSERT_TRUE(PumpUntil([&] { return Clicks.size() == 2; }, 5000));
    EXPECT_TRUE(DblClicks.empty());
}

// The pointer moved too far between the presses, so the system reported no double click: the
// running timer is not restarted by the second press. The second press comes after the first one's
// tick is due and before it is dispatched; a restarted timer would be a whole period away.
TEST_F(TrayIconClickTest, TwoPressesWithinTheTimeButNoDoubleClickGiveOneClickTimedFromTheFirst) {
    Mouse(WM_LBUTTONDOWN);
    Application->ProcessMessages();
    Sleep(DoubleClickTime + 100);
    Mouse(WM_LBUTTONDOWN);
    Application->ProcessMessages();
    EXPECT_EQ(Clicks.size(), 1u);
    PumpFor(DoubleClickTime * 2);
    EXPECT_EQ(Clicks.size(), 1u);
}

TEST_F(TrayIconClickTest, UnboundEventsAreNotRaised) {
    Icon->OnClick = nullptr;
    Icon->OnDblClick = nullptr;
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONDBLCLK);
    PumpFor(DoubleClickTime + 200);
    EXPECT_TRUE(Clicks.empty());
    EXPECT_TRUE(DblClicks.empty());
}

// ---- Right button and the popup menu ---------------------------------------------------------

class TrayIconMenuTest : public TrayIconClickTest {
protected:
    void SetUp() override {
        TrayIconClickTest::SetUp();
        Menu = new TPopupMenu(Owner.get());
        for (const auto& [Caption, Default] :
             std::vector<std::pair<std::string, bool>>{{"Show", true}, {"About", false}, {"E&xit", false}}) {
            auto* Item = new TMenuItem(Owner.get());
            Item->SetCaption(Caption);
            Item->SetDefault(Default);
            Item->OnClick = TNotifyEvent::Function([this, Caption](TObject*) { Chosen.push_back(Caption); });
            Menu->Add(Item);
        }
        Icon->SetPopupMenu(Menu);
        SetCursorPos(400, 300);
    }

    TPopupMenu* Menu = nullptr;
    std::vector<std::string> Chosen;
};

TEST_F(TrayIconMenuTest, RightPressOpensTheMenuAtTheCursor) {
    TMenuWatcher Watcher;
    POINT Cursor{};
    GetCursorPos(&Cursor);
    Mouse(WM_RBUTTONDOWN);
    ASSERT_TRUE(PumpUntil([&] { return !Watcher.Seen().empty(); }, 3000)) << "no menu opened";
    PumpFor(200);
    ASSERT_EQ(Watcher.Seen().size(), 1u);
    const TMenuSeen& Seen = Watcher.Seen()[0];
    EXPECT_EQ(Seen.Rect.left, Cursor.x);
    EXPECT_EQ(Seen.Rect.top, Cursor.y);
    EXPECT_EQ(Seen.Captions, (std::vector<std::string>{"Show", "About", "E&xit"}));
    EXPECT_EQ(Seen.DefaultCaption, "Show");
    EXPECT_TRUE(Chosen.empty()) << "closing the menu chooses nothing";
    EXPECT_TRUE(Clicks.empty());
}

TEST_F(TrayIconMenuTest, ItemChosenInTheMenuRaisesItsClick) {
    // The accelerator letter picks "E&xit", as a user's key press would.
    TMenuWatcher Watcher([](HWND MenuWindow) {
        PostMessageA(MenuWindow, WM_KEYDOWN, 'X', 0);
        PostMessageA(MenuWindow, WM_CHAR, 'x', 0);
    });
    Mouse(WM_RBUTTONDOWN);
    ASSERT_TRUE(PumpUntil([&] { return !Chosen.empty(); }, 3000)) << "no item chosen";
    PumpFor(100);
    EXPECT_EQ(Chosen, (std::vector<std::string>{"E&xit"}));
}

// Only the right press opens the menu, and only while the icon has a live one.
TEST_F(TrayIconMenuTest, NoMenuOpensForOtherButtonsOrWithoutAMenu) {
    TMenuWatcher Watcher;
    for (const UINT Message : {WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MOUSEMOVE})
        Mouse(Message);
    PumpFor(400);
    Icon->SetPopupMenu(nullptr);
    Mouse(WM_RBUTTONDOWN);
    PumpFor(400);
    Icon->SetPopupMenu(Menu);
    delete Menu;
    EXPECT_EQ(Icon->PopupMenu(), nullptr);
    Mouse(WM_RBUTTONDOWN);
    PumpFor(400);
    EXPECT_TRUE(Watcher.Seen().empty());
}

// ---- Callbacks for no live icon ----------------------------------------------------------------

TEST_F(TrayIconMenuTest, CallbackForAnUnknownOrFreedIdentifierIsIgnored) {
    auto* Gone = new TTrayNotifyIcon(Owner.get());
    Gone->SetPopupMenu(Menu);
    Gone->OnClick = Icon->OnClick;
    const UINT GoneId = Gone->IconId();
    delete Gone;

    TMenuWatcher Watcher;
    for (const UINT Id : {GoneId, 0xDEADu}) {
        Mouse(WM_LBUTTONDOWN, Id);
        Mouse(WM_LBUTTONDBLCLK, Id);
        Mouse(WM_RBUTTONDOWN, Id);
    }
    PumpFor(DoubleClickTime + 300);
    EXPECT_TRUE(Clicks.empty());
    EXPECT_TRUE(DblClicks.empty());
    EXPECT_TRUE(Watcher.Seen().empty());
}

} // namespace
