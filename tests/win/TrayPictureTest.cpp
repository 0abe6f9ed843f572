// The main window's tray picture at the taskbar's scale. The main window moves to a monitor of
// 144 DPI, and its image list with it, while the taskbar stays at the prefix's 96: what reaches the
// shell at Start and Stop, and whenever the taskbar may have changed, is the state's picture at the
// taskbar's small icon size. Every request goes through the shell seam and on to Wine's real
// notification area.

#include "app/Unit1.h"
#include "app/res/Resources.h"
#include "kit/ScreenDpi.h"
#include "tests/win/support/Pump.h"
#include "tests/win/support/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

// A picture as the shell would draw it: its size and its pixels.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
    bool operator==(const TPicture&) const = default;
};

void PrintTo(const TPicture& Picture, std::ostream* Out) {
    *Out << Picture.Width << "x" << Picture.Height;
}

TPicture PictureOf(HICON Icon) {
    TPicture Picture;
    ICONINFO Info{};
    if (!GetIconInfo(Icon, &Info))
        return Picture;
    const TUniqueHandle<TGdiObjectTraits<HBITMAP>> Color(Info.hbmColor), Mask(Info.hbmMask);
    BITMAP Bitmap{};
    if (!Color || !GetObjectA(Color.Get(), sizeof Bitmap, &Bitmap))
        return Picture;
    Picture.Width = Bitmap.bmWidth;
    Picture.Height = Bitmap.bmHeight;
    BITMAPINFO Format{};
    Format.bmiHeader = {
        sizeof(BITMAPINFOHEADER), Bitmap.bmWidth, -Bitmap.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Picture.Pixels.resize(static_cast<std::size_t>(Bitmap.bmWidth * Bitmap.bmHeight));
    HDC Screen = GetDC(nullptr);
    GetDIBits(Screen, Color.Get(), 0, static_cast<UINT>(Bitmap.bmHeight), Picture.Pixels.data(), &Format,
              DIB_RGB_COLORS);
    ReleaseDC(nullptr, Screen);
    return Picture;
}

// One of the program's pictures as the taskbar wants it.
TPicture TaskbarPicture(int ResourceId) {
    const int Size = SystemMetricForDpi(SM_CXSMICON, SystemDpi());
    const TUniqueHandle<TIconTraits> Icon(static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ResourceId), IMAGE_ICON, Size, Size, 0)));
    return PictureOf(Icon.Get());
}

struct TShellRequest {
    DWORD Message;
    UINT Flags;
    // Read at once: the component frees a picture when it is given the next.
    TPicture Picture;
};
std::vector<TShellRequest> Requests;

BOOL WINAPI RecordingNotifyIcon(DWORD Message, PNOTIFYICONDATAA Data) {
    Requests.push_back({Message, Data->uFlags, PictureOf(Data->hIcon)});
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

    // The picture of the last request that gave the shell one.
    TPicture LastPictureShown() const {
        for (auto Request = Requests.rbegin(); Request != Requests.rend(); ++Request)
            if (Request->Message != NIM_DELETE && (Request->Flags & NIF_ICON))
                return Request->Picture;
        return {};
    }

    TfrmCardReader* Main = nullptr;
};

TEST_F(TrayPictureTest, TheShellGetsThePictureAtTheTaskbarsSizeWhateverTheMainWindowsDpi) {
    ASSERT_EQ(WindowDpi(IconManager->Handle()), 96) << "this test runs with the taskbar at 96 DPI";
    const TPicture Idle = TaskbarPicture(IDI_IMAGE_IDLE), Reading = TaskbarPicture(IDI_IMAGE_READING);
    ASSERT_EQ(Idle.Width, 16);
    ASSERT_NE(Idle, Reading);

    Main->FormCreate(nullptr);
    EXPECT_EQ(LastPictureShown(), Idle);

    MoveMainWindowTo(144);
    ASSERT_EQ(Main->ilIcons->Width(), 24) << "the main window's pictures follow it";
    Main->btnReadCardIDClick(nullptr);
    EXPECT_EQ(LastPictureShown(), Reading) << "at Start";

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
        ASSERT_NE(PictureOf(Main->tniIcon->Icon()->Handle()), Reading)
            << "the command's copy is of another size";
        Requests.clear();
        Change.Send();
        EXPECT_EQ(LastPictureShown(), Reading);
    }

    Main->btnReadCardIDClick(nullptr);
    EXPECT_EQ(LastPictureShown(), Idle) << "at Stop";
}

} // namespace
