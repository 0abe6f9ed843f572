// The notification-area icon under Xvfb: every request to the shell is recorded through the seam and
// still reaches Wine's real notification area, whose standalone tray window holds one child window
// per icon. Then the mouse callbacks, posted to the manager's window as the shell posts them: the
// single/double click discrimination and the right-button menu at the cursor.

#include "kit/Application.h"
#include "kit/Menus.h"
#include "kit/Timer.h"
#include "kit/UniqueHandle.h"
#include "ui/TrayIcon.h"
#include "tests/win/support/Pump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TShellRequest {
    DWORD Message;
    NOTIFYICONDATAA Data;
    BOOL Result;
};
std::vector<TShellRequest> Requests;

BOOL WINAPI RecordingNotifyIcon(DWORD Message, PNOTIFYICONDATAA Data) {
    const BOOL Result = Shell_NotifyIconA(Message, Data);
    Requests.push_back(TShellRequest{Message, *Data, Result});
    return Result;
}

HICON WinLogo() {
    return LoadIconA(nullptr, MAKEINTRESOURCEA(32517));
}

// Icons in the real notification area: the standalone tray holds a child window per icon.
int IconsInNotificationArea() {
    HWND Tray = FindWindowA("__winex11_standalone_tray", nullptr);
    if (!Tray)
        return 0;
    int Count = 0;
    for (HWND Child = GetWindow(Tray, GW_CHILD); Child; Child = GetWindow(Child, GW_HWNDNEXT))
        ++Count;
    return Count;
}

// A picture of the icon's own, a copy of a stock icon, which the icon object may destroy.
HICON OwnIcon(LPCSTR Stock) {
    return CopyIcon(LoadIconA(nullptr, Stock));
}

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        TrayIconShell.NotifyIcon = RecordingNotifyIcon;
        Requests.clear();
        Owner = std::make_unique<TComponent>(nullptr);
        TrayIconsBefore = IconsInNotificationArea();
    }
    void TearDown() override {
        Owner.reset();
        TrayIconShell.NotifyIcon = Shell_NotifyIconA;
    }

    TTrayNotifyIcon* NewIcon() { return new TTrayNotifyIcon(Owner.get()); }

    const TShellRequest& Last() const { return Requests.back(); }

    std::unique_ptr<TComponent> Owner; // plays the form that owns the icon
    int TrayIconsBefore = 0;
};

// ---- Requests to the shell --------------------------------------------------------------------

TEST_F(TrayIconTest, ShowingAddsTheRecordInItsFirstFormWithHintAndFallbackIcon) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->SetHint("Orvela Cardwick");
    EXPECT_TRUE(Requests.empty()) << "nothing is sent while the icon is hidden";

    Icon->SetIconVisible(true);
    ASSERT_EQ(Requests.size(), 1u);
    const NOTIFYICONDATAA& Data = Last().Data;
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(Data.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(Data.cbSize, sizeof(void*) == 8 ? 104u : 88u);
    EXPECT_EQ(Data.uFlags, 7u);
    EXPECT_STREQ(Data.szTip, "Orvela Cardwick");
    EXPECT_EQ(Data.hWnd, IconManager->Handle());
    EXPECT_EQ(Data.uCallbackMessage, RegisterWindowMessageA("Tolvik.TrayNotifyIconMsg"));
    EXPECT_EQ(Data.uCallbackMessage, TrayNotifyIconMessage);
    EXPECT_EQ(Data.uID, Icon->IconId());
    EXPECT_EQ(Data.hIcon, WinLogo()) << "an empty Icon shows the system's IDI_WINLOGO";
    EXPECT_TRUE(Last().Result);
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore + 1);
}

TEST_F(TrayIconTest, EachIconHasItsOwnIdentifier) {
    TTrayNotifyIcon* First = NewIcon();
    TTrayNotifyIcon* Second = NewIcon();
    EXPECT_NE(First->IconId(), Second->IconId());
    First->SetIconVisible(true);
    Second->SetIconVisible(true);
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore + 2);
    delete First;
    delete Second;
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore);
}

TEST_F(TrayIconTest, HintIsCutToSixtyThreeCharactersAndAnUnchangedHintSendsNothing) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->SetIconVisible(true);
    Requests.clear();

    const std::string Long(100, 'h');
    Icon->SetHint(Long);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(Last().Data.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(std::string(Last().Data.szTip), Long.substr(0, 63));
    EXPECT_TRUE(Last().Result);

    Icon->SetHint(Long);
    EXPECT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Icon->Hint(), Long) << "the whole text is kept; only the record is cut";
}

TEST_F(TrayIconTest, CopyingIntoTheIconObjectSendsNothingAndAssigningTheIconModifies) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->SetIconVisible(true);
    Requests.clear();

    Icon->Icon()->SetHandle(OwnIcon(IDI_QUESTION));
    EXPECT_TRUE(Requests.empty());

    TIcon Picture;
    Picture.SetHandle(OwnIcon(IDI_HAND));
    Icon->SetIcon(&Picture);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(Last().Data.uFlags, static_cast<UINT>(NIF_ICON));
    EXPECT_EQ(Last().Data.hIcon, Icon->Icon()->Handle());
    EXPECT_NE(Last().Data.hIcon, Picture.Handle()) << "the component keeps its own copy";
    EXPECT_NE(Last().Data.hIcon, WinLogo());
    EXPECT_TRUE(Last().Result);

    // Assigning an unchanged picture still sends: the write always copies.
    Icon->SetIcon(&Picture);
    EXPECT_EQ(Requests.size(), 2u);
}

TEST_F(TrayIconTest, HidingDeletesAndShowingAgainAddsTheCurrentPictureAndTip) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->SetHint("idle");
    Icon->SetIconVisible(true);
    Icon->SetIconVisible(true); // unchanged: nothing
    ASSERT_EQ(Requests.size(), 1u);

    Icon->SetIconVisible(false);
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(Last().Data.uFlags, 7u);
    EXPECT_TRUE(Last().Result);
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore);

    // As the reader link changes the picture: hidden, copy the new image in, shown again.
    Icon->Icon()->SetHandle(OwnIcon(IDI_QUESTION));
    Icon->SetHint("reading");
    EXPECT_EQ(Requests.size(), 2u) << "a hidden icon sends nothing";
    Icon->SetIconVisible(true);
    ASSERT_EQ(Requests.size(), 3u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(Last().Data.hIcon, Icon->Icon()->Handle());
    EXPECT_STREQ(Last().Data.szTip, "reading");
    EXPECT_TRUE(Last().Result);
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore + 1);
}

TEST_F(TrayIconTest, DestroyingAVisibleIconDeletesItFromTheNotificationArea) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->SetIconVisible(true);
    const UINT Id = Icon->IconId();
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore + 1);

    Owner.reset(); // the form goes, and with it the icon
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(Last().Data.uID, Id);
    EXPECT_TRUE(Last().Result);
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore);
}

TEST_F(TrayIconTest, DestroyingAHiddenIconSendsNothing) {
    delete NewIcon();
    EXPECT_TRUE(Requests.empty());
}

// A designed form sets IconVisible while its properties are read, and Loaded adds once more; the
// shell refuses the second add of a present icon, which changes nothing.
TEST_F(TrayIconTest, LoadedWithIconVisibleAddsTheIcon) {
    TTrayNotifyIcon* Icon = NewIcon();
    Icon->BeginLoading();
    Icon->SetHint("designed");
    Icon->SetIconVisible(true);
    Icon->Loaded();
    ASSERT_EQ(Requests.size(), 2u);
    for (const TShellRequest& Request : Requests) {
        EXPECT_EQ(Request.Message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(Request.Data.uFlags, 7u);
        EXPECT_STREQ(Request.Data.szTip, "designed");
    }
    EXPECT_EQ(IconsInNotificationArea(), TrayIconsBefore + 1);

    TTrayNotifyIcon* Hidden = NewIcon();
    Hidden->BeginLoading();
    Hidden->Loaded();
    EXPECT_EQ(Requests.size(), 2u);
}

TEST_F(TrayIconTest, HideTaskHidesAndShowsTheApplicationWindow) {
    HWND AppWindow = Application->Handle();
    ShowWindow(AppWindow, SW_SHOWNORMAL);
    TTrayNotifyIcon* Icon = NewIcon();

    Icon->SetHideTask(true);
    EXPECT_FALSE(IsWindowVisible(AppWindow));
    Icon->SetHideTask(false);
    EXPECT_TRUE(IsWindowVisible(AppWindow));

    // While designed, only the property changes.
    Icon->SetDesigning(true);
    Icon->SetHideTask(true);
    EXPECT_TRUE(Icon->HideTask());
    EXPECT_TRUE(IsWindowVisible(AppWindow));
    ShowWindow(AppWindow, SW_HIDE);
}

TEST_F(TrayIconTest, TaskbarCreatedAddsTheVisibleIconsAgain) {
    TTrayNotifyIcon* Shown = NewIcon();
    TTrayNotifyIcon* Hidden = NewIcon();
    Shown->SetHint("shown");
    Shown->SetIconVisible(true);
    Requests.clear();

    // A broadcast, as a restarted shell sends it: only top-level windows hear it.
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    ASSERT_TRUE(PumpUntil([] { return !Requests.empty(); }, 3000));
    PumpFor(200);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Last().Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(Last().Data.uID, Shown->IconId());
    EXPECT_EQ(Last().Data.uFlags, 7u);
    EXPECT_STREQ(Last().Data.szTip, "shown");

    Shown->SetIconVisible(false);
    Requests.clear();
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    PumpFor(300);
    EXPECT_TRUE(Requests.empty());
    (void)Hidden;
}

// ---- Mouse callbacks ---------------------------------------------------------------------------

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

class TrayIconClickTest : public TrayIconTest {
protected:
    void SetUp() override {
        TrayIconTest::SetUp();
        TrayIconShell.NotifyIcon = AcceptEverything;
        Icon = NewIcon();
        Icon->OnClick = Recorder(Clicks);
        Icon->OnDblClick = Recorder(DblClicks);
        DoubleClickTime = GetDoubleClickTime();
    }

    TNotifyEvent Recorder(std::vector<DWORD>& Times) {
        return TNotifyEvent::Function([this, &Times](TObject* Sender) {
            EXPECT_EQ(Sender, Icon);
            Times.push_back(GetTickCount());
        });
    }
    void Mouse(UINT MouseMessage, UINT Id = 0) {
        PostMessageA(IconManager->Handle(), TrayNotifyIconMessage, Id ? Id : Icon->IconId(), MouseMessage);
    }

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

namespace {

// Runs TrayIconShutdown.exe (built beside this program) with its output in a file, read once it
// has ended (Wine's helper processes may keep a pipe open past its end), and returns the lines.
std::vector<std::string> RunShutdownProgram(DWORD& ExitCode) {
    char Path[MAX_PATH];
    std::string Program(Path, GetModuleFileNameA(nullptr, Path, MAX_PATH));
    Program.erase(Program.find_last_of("\\/") + 1);
    const std::string Output = Program + "TrayIconShutdown.out";
    Program += "TrayIconShutdown.exe";

    SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
    TUniqueHandle<TFileHandleTraits> File(
        CreateFileA(Output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(File) << "cannot create " << Output;
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdOutput = File.Get();
    Startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION Process{};
    std::string CommandLine = "\"" + Program + "\"";
    if (!CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup,
                        &Process)) {
        ADD_FAILURE() << "cannot start " << Program;
        return {};
    }
    File.Reset();
    const TUniqueHandle<TFileHandleTraits> Child(Process.hProcess), Thread(Process.hThread);
    if (WaitForSingleObject(Child.Get(), 20000) != WAIT_OBJECT_0)
        TerminateProcess(Child.Get(), 99);
    GetExitCodeProcess(Child.Get(), &ExitCode);
    std::vector<std::string> Lines;
    std::ifstream In(Output);
    for (std::string Line; std::getline(In, Line);)
        Lines.push_back(Line);
    return Lines;
}

// The forms, and with them a visible icon, may be destroyed after the unit has let go of the
// manager: the delete request must still name a live manager window, and the program ends cleanly.
TEST(TrayIconShutdownOrder, IconDestroyedAfterTheUnitShutdownIsDeletedThroughALiveManagerWindow) {
    DWORD ExitCode = 1234;
    const std::vector<std::string> Lines = RunShutdownProgram(ExitCode);
    const std::vector<std::string> Expected{"SHOWN", "UNIT-DOWN 1", "REQUEST 2 1", "MANAGER-GONE 1", "END"};
    EXPECT_EQ(Lines, Expected);
    EXPECT_EQ(ExitCode, 0u);
}

} // namespace
