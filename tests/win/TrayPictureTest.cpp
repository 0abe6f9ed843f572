// The main window's tray picture at the taskbar's scale. The main window moves to a monitor of
// 144 DPI, and its image list with it, while the taskbar stays at the prefix's 96: what reaches the
// shell at Start and Stop, and whenever the taskbar may have changed, is a picture of the taskbar's
// small icon size. Every request goes through the shell seam and on to Wine's real
// notification area.

#include "app/Unit1.h"
#include "kit/ScreenDpi.h"
#include "tests/win/support/Pump.h"
#include "tests/win/support/SettingsStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The side of a picture, as the shell would draw it.
int SizeOf(HICON Icon) {
    ICONINFO Info{};
    if (!GetIconInfo(Icon, &Info))
        return 0;
    const TUniqueHandle<TGdiObjectTraits<HBITMAP>> Color(Info.hbmColor), Mask(Info.hbmMask);
    BITMAP Bitmap{};
    return Color && GetObjectA(Color.Get(), sizeof Bitmap, &Bitmap) ? Bitmap.bmWidth : 0;
}

struct TShellRequest {
    DWORD Message;
    UINT Flags;
    // Read at once: the component frees a picture when it is given the next.
    int PictureSize;
};
std::vector<TShellRequest> Requests;

BOOL WINAPI RecordingNotifyIcon(DWORD Message, PNOTIFYICONDATAA Data) {
    Requests.push_back({Message, Data->uFlags, SizeOf(Data->hIcon)});
    return Shell_NotifyIconA(Message, Data);
}

class TrayPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        // The start-up warning of a missing settings file is counted, not shown.
        Application->MessageBoxSeam = [](const std::string&, const std::string&, UINT) { return IDOK; };
        TrayIconShell.NotifyIcon = RecordingNotifyIcon;
        Requests.clear();
        Main = new TfrmCardReader(Application);
        Main->OnCreate = nullptr;
        Main->AfterConstruction();
    }
    void TearDown() override {
        delete Main;
        TrayIconShell.NotifyIcon = Shell_NotifyIconA;
        Application->MessageBoxSeam = nullptr;
    }

    // The main window on a monitor of another DPI, as the system tells it.
    void MoveMainWindowTo(int Dpi) {
        RECT Suggested{100, 120, 100 + 400 * Dpi / 96, 120 + 250 * Dpi / 96};
        SendMessageA(Main->Handle(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(Dpi, Dpi),
                     reinterpret_cast<LPARAM>(&Suggested));
    }

    // The size of the picture of the last request that gave the shell one.
    int LastPictureShown() const {
        for (auto Request = Requests.rbegin(); Request != Requests.rend(); ++Request)
            if (Request->Message != NIM_DELETE && (Request->Flags & NIF_ICON))
                return Request->PictureSize;
        return 0;
    }

    TfrmCardReader* Main = nullptr;
};

TEST_F(TrayPictureTest, TheShellGetsThePictureAtTheTaskbarsSizeWhateverTheMainWindowsDpi) {
    ASSERT_EQ(WindowDpi(IconManager->Handle()), 96) << "this test runs with the taskbar at 96 DPI";
    // The small icon size at 96 DPI.
    const int TaskbarSize = 16;

    Main->FormCreate(nullptr);
    EXPECT_EQ(LastPictureShown(), TaskbarSize);

    MoveMainWindowTo(144);
    ASSERT_EQ(Main->ilIcons->Width(), 24) << "the main window's pictures follow it";
    Main->btnReadCardIDClick(nullptr);
    EXPECT_EQ(LastPictureShown(), TaskbarSize) << "at Start";

    // The picture may be old, or sized for the main window: after each command the link copies its
    // image into the component (here with no port open, so the command goes nowhere).
    const struct {
        const char* Name;
        std::function<void()> Send;
    } Changes[] = {
        {"WM_DISPLAYCHANGE",
         [] { SendMessageA(IconManager->Handle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 1024)); }},
        {"WM_DPICHANGED",
         [] {
             RECT Suggested{0, 0, 0, 0};
             SendMessageA(IconManager->Handle(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(96, 96),
                          reinterpret_cast<LPARAM>(&Suggested));
         }},
        // A broadcast, as a restarted shell sends it; the icon is added again with the new picture.
        {"TaskbarCreated",
         [] {
             PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
             PumpUntil([] { return !Requests.empty() && Requests.back().Message == NIM_ADD; }, 3000);
         }},
    };
    for (const auto& Change : Changes) {
        SCOPED_TRACE(Change.Name);
        ASSERT_TRUE(Main->SendString('F', ""));
        WaitingReply = false;
        ASSERT_EQ(SizeOf(Main->tniIcon->Icon()->Handle()), 24) << "the command's copy";
        Requests.clear();
        Change.Send();
        EXPECT_EQ(LastPictureShown(), TaskbarSize);
    }

    Main->btnReadCardIDClick(nullptr);
    EXPECT_EQ(LastPictureShown(), TaskbarSize) << "at Stop";
}

} // namespace
