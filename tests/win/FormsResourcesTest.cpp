// The program's resources as the built executable carries them, and the picture objects that hold
// them: icons copied with Assign, the image list, the transparent check mark.

#include "app/res/Resources.h"
#include "kit/Graphics.h"

#include "Version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<char> OwnVersionInfo() {
    char Path[MAX_PATH];
    GetModuleFileNameA(nullptr, Path, MAX_PATH);
    DWORD Ignored = 0;
    DWORD Size = GetFileVersionInfoSizeA(Path, &Ignored);
    std::vector<char> Info(Size);
    if (!Size || !GetFileVersionInfoA(Path, 0, Size, Info.data()))
        Info.clear();
    return Info;
}

std::string VersionString(std::vector<char>& Info, const std::string& Key) {
    char* Value = nullptr;
    UINT Length = 0;
    std::string Block = "\\StringFileInfo\\040904E4\\" + Key;
    if (!VerQueryValueA(Info.data(), Block.c_str(), reinterpret_cast<void**>(&Value), &Length))
        return "<missing>";
    return std::string(Value, Length).c_str();
}

// The numbers, the version texts and the names allow-listing rules use are checked on every build
// of Cardwick.exe (cmake/check_executable.py); these are the texts a user reads in its properties.
TEST(FormsResourcesTest, TheExecutableCarriesItsVersionTexts) {
    std::vector<char> Info = OwnVersionInfo();
    ASSERT_FALSE(Info.empty());
    WORD* Translation = nullptr;
    UINT Length = 0;
    ASSERT_TRUE(VerQueryValueA(Info.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&Translation), &Length));
    ASSERT_EQ(Length, 4u);
    EXPECT_EQ(Translation[0], 0x0409);
    EXPECT_EQ(Translation[1], 0x04E4);

    const std::pair<const char*, const char*> Strings[] = {
        {"FileDescription", "Orvela Cardwick"},
        {"ProductName", "Orvela Cardwick"},
        {"Comments", "Orvela Cardwick for Proximity Card Reader"},
        {"CompanyName", "The Cardwick developers"},
        {"LegalCopyright", "Copyright (C) 2026 The Cardwick developers"},
        {"LegalTrademarks", ""},
    };
    for (const auto& [Key, Expected] : Strings)
        EXPECT_EQ(VersionString(Info, Key), Expected) << Key;
}

// The sizes of the pictures of an icon group, each of them 32-bit.
std::vector<int> IconGroupSizes(int Id) {
    std::vector<int> Sizes;
    HRSRC Group = FindResourceA(nullptr, MAKEINTRESOURCEA(Id), MAKEINTRESOURCEA(3 + 11)); // RT_GROUP_ICON
    if (!Group)
        return Sizes;
    auto* Dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, Group)));
    // GRPICONDIR: reserved, type, count; then 14-byte entries: width, height, colours, reserved,
    // planes, bit count, ...; a width of 0 stands for 256.
    int Count = Dir[4] | Dir[5] << 8;
    for (int I = 0; I < Count; ++I) {
        const BYTE* Entry = Dir + 6 + 14 * I;
        EXPECT_EQ(Entry[6] | Entry[7] << 8, 32) << "bits per pixel of picture " << I;
        Sizes.push_back(Entry[0] ? Entry[0] : 256);
    }
    return Sizes;
}

TEST(FormsResourcesTest, TheIconsHoldA32BitPictureForEverySizeTheScreensAskFor) {
    EXPECT_EQ(IconGroupSizes(IDI_CARDWICK), (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
    for (int Id : {IDI_IMAGE_IDLE, IDI_IMAGE_READING, IDI_IMAGE_TICK})
        EXPECT_EQ(IconGroupSizes(Id), (std::vector<int>{16, 20, 24, 32})) << "icon " << Id;

    // Each size loads as itself, its slanted edges blended by the alpha channel.
    for (int Size : {16, 24, 48, 256}) {
        TIcon Icon;
        Icon.LoadFromResourceID(IDI_CARDWICK, Size, Size);
        EXPECT_EQ(Icon.Width(), Size);
        ICONINFO Info;
        ASSERT_TRUE(GetIconInfo(Icon.Handle(), &Info));
        BITMAPINFO Format = {};
        Format.bmiHeader = {sizeof(BITMAPINFOHEADER), Size, -Size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<DWORD> Pixels(static_cast<size_t>(Size) * Size);
        HDC DC = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(DC, Info.hbmColor, 0, Size, Pixels.data(), &Format, DIB_RGB_COLORS), Size);
        ReleaseDC(nullptr, DC);
        int Blended = 0;
        for (DWORD P : Pixels)
            Blended += (P >> 24) > 0 && (P >> 24) < 255;
        EXPECT_GT(Blended, 0) << "partly transparent pixels at " << Size;
        DeleteObject(Info.hbmColor);
        DeleteObject(Info.hbmMask);
    }
    TIcon Natural;
    Natural.LoadFromResourceID(IDI_CARDWICK);
    EXPECT_EQ(Natural.Width(), GetSystemMetrics(SM_CXICON))
        << "the system's icon size, not the first picture's";
}

TEST(FormsResourcesTest, IconsAreCopiedNotShared) {
    TIcon Source, Copy;
    int Changes = 0;
    Copy.OnChange = TNotifyEvent::Function([&Changes](TObject*) { ++Changes; });
    Source.LoadFromResourceID(IDI_IMAGE_IDLE, 16, 16);
    Copy.Assign(Source);
    ASSERT_FALSE(Copy.Empty());
    EXPECT_NE(Copy.Handle(), Source.Handle()) << "each icon owns its own picture";
    EXPECT_EQ(Changes, 1);
    Source.SetHandle(nullptr);
    EXPECT_TRUE(Source.Empty());
    EXPECT_EQ(Copy.Width(), 16) << "the copy outlives its source";
    Copy.Assign(Source);
    EXPECT_TRUE(Copy.Empty()) << "an empty source empties the copy";
    EXPECT_EQ(Changes, 2);
}

TEST(FormsResourcesTest, TheImageListHoldsThreeMaskedPicturesAndCopiesThemIntoIcons) {
    TImageList List(nullptr);
    for (int Id : {IDI_IMAGE_IDLE, IDI_IMAGE_READING, IDI_IMAGE_TICK})
        List.AddResourceIcon(Id);
    ASSERT_EQ(List.Count(), 3);
    TIcon Icon;
    for (int I = 0; I < 3; ++I) {
        List.GetIcon(I, Icon);
        ASSERT_FALSE(Icon.Empty());
        EXPECT_EQ(Icon.Width(), 16);
        EXPECT_EQ(Icon.Height(), 16);
        ICONINFO Info;
        ASSERT_TRUE(GetIconInfo(Icon.Handle(), &Info));
        // Every picture leaves its bottom-left corner see-through (mask set) and covers (3, 3).
        HDC DC = CreateCompatibleDC(nullptr);
        HGDIOBJ Old = SelectObject(DC, Info.hbmMask);
        EXPECT_EQ(GetPixel(DC, 0, 15), RGB(255, 255, 255)) << "image " << I;
        EXPECT_EQ(GetPixel(DC, 3, 3), RGB(0, 0, 0)) << "image " << I;
        SelectObject(DC, Old);
        DeleteDC(DC);
        DeleteObject(Info.hbmMask);
        if (Info.hbmColor)
            DeleteObject(Info.hbmColor);
    }
    HICON Before = Icon.Handle();
    List.GetIcon(3, Icon);
    EXPECT_EQ(Icon.Handle(), Before) << "an index outside the list leaves the icon alone";
}

TEST(FormsResourcesTest, TheCheckMarkIsDrawnTransparentOnItsLightGrey) {
    TPicture Picture;
    Picture.Bitmap()->LoadFromResourceID(IDB_CHECKMARK);
    ASSERT_EQ(Picture.Width(), 16);
    ASSERT_EQ(Picture.Height(), 16);
    EXPECT_EQ(Picture.Bitmap()->TransparentColor(), static_cast<TColor>(RGB(192, 192, 192)));

    HDC Screen = GetDC(nullptr);
    HDC DC = CreateCompatibleDC(Screen);
    HBITMAP Canvas = CreateCompatibleBitmap(Screen, 16, 16);
    ReleaseDC(nullptr, Screen);
    HGDIOBJ Old = SelectObject(DC, Canvas);
    RECT All = {0, 0, 16, 16};
    HBRUSH Red = CreateSolidBrush(RGB(255, 0, 0));
    int Green = 0, Background = 0;
    for (bool Transparent : {false, true}) {
        FillRect(DC, &All, Red);
        Picture.Draw(DC, All, true, false, Transparent);
        Green = Background = 0;
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X) {
                COLORREF C = GetPixel(DC, X, Y);
                Green += C == RGB(0, 128, 0);
                Background += C == (Transparent ? RGB(255, 0, 0) : RGB(192, 192, 192));
            }
        EXPECT_GT(Green, 10) << "the tick is drawn";
        EXPECT_EQ(Green + Background, 256) << (Transparent ? "the grey is not drawn" : "the grey is drawn");
    }
    DeleteObject(Red);
    SelectObject(DC, Old);
    DeleteObject(Canvas);
    DeleteDC(DC);
}

} // namespace
