#pragma once
// Pictures, fonts and colours: the graphic objects the forms and components hold. Each owns its GDI
// or USER handle and frees it; copies go through Assign, which copies the picture itself, so two
// objects never share a handle.

#include "kit/Component.h"
#include "kit/Events.h"
#include "kit/Sets.h"
#include "kit/UniqueHandle.h"

#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>
#include <commctrl.h>

// A colour: 0x00BBGGRR, or a system colour (the high byte set, the low byte a COLOR_ index), which
// follows the user's scheme.
using TColor = std::uint32_t;

constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
// "No colour of its own": a control with this colour takes its parent's.
constexpr TColor clNone = 0x1FFFFFFF;

// The RGB value a colour stands for now.
COLORREF ColorToRGB(TColor Color);

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle, std::uint8_t>;

// A font description and the GDI font made from it, remade after every change. OnChange tells the
// control that shows the font.
class TFont : public TObject {
public:
    TFont();

    const std::string& Name() const { return FName; } // default "MS Sans Serif"
    void SetName(const std::string& Value);
    // Height in pixels at PixelsPerInch; negative is the character height without the internal
    // leading, as a point size gives it. Default -11: 8 points at 96 pixels per inch.
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    int Size() const; // points at PixelsPerInch
    void SetSize(int Points);
    // The DPI Height is in: the form's, which scales its controls' fonts with its layout.
    int PixelsPerInch() const { return FPixelsPerInch; } // default 96
    // Rescales Height to a new DPI; the point size stays.
    void ChangeScale(int NewPixelsPerInch);
    TColor Color() const { return FColor; } // default clWindowText
    void SetColor(TColor Value);
    TFontStyles Style() const { return FStyle; } // default none
    void SetStyle(TFontStyles Value);

    void Assign(const TFont& Source);
    HFONT Handle() const;

    TNotifyEvent OnChange;

private:
    void Changed();

    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    int FPixelsPerInch = 96;
    TColor FColor = clWindowText;
    TFontStyles FStyle;
    mutable TUniqueHandle<TFontTraits> FHandle;
};

// An icon picture, possibly empty. It owns its icon handle.
class TIcon : public TObject {
public:
    TIcon() = default;

    bool Empty() const { return !FHandle; }
    HICON Handle() const { return FHandle.Get(); }
    // Takes ownership of Value (the old picture is freed); null empties the icon.
    void SetHandle(HICON Value);
    int Width() const;
    int Height() const;

    // Copies Source's picture; an empty Source empties this icon.
    void Assign(const TIcon& Source);
    // Loads an icon of this program's resources at the system's icon size (Width and Height 0) or
    // at the given one: the picture of that size when the resource has one.
    void LoadFromResourceID(int Id, int Width = 0, int Height = 0);
    // The resource the picture was loaded from, 0 for any other picture: a picture from the
    // resources is loaded again at a new size rather than stretched.
    int ResourceID() const { return FResourceID; }

    // Raised whenever the picture changes.
    TNotifyEvent OnChange;

private:
    void Changed();

    TUniqueHandle<TIconTraits> FHandle;
    int FResourceID = 0;
};

// A device-independent picture of the resources, drawn with a transparent colour when asked.
class TBitmap : public TObject {
public:
    TBitmap() = default;

    bool Empty() const { return !FHandle; }
    HBITMAP Handle() const { return FHandle.Get(); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // The colour drawn transparent: the bottom-left pixel's, as for any picture with a plain
    // background.
    TColor TransparentColor() const { return FTransparentColor; }

    void Assign(const TBitmap& Source);
    void LoadFromResourceID(int Id);
    void SetHandle(HBITMAP Value);

    TNotifyEvent OnChange;

private:
    void Changed();

    TUniqueHandle<TBitmapTraits> FHandle;
    int FWidth = 0;
    int FHeight = 0;
    TColor FTransparentColor = clNone;
};

// What an image control shows: an icon, a bitmap or nothing.
class TPicture : public TObject {
public:
    TPicture();

    TIcon* Icon() { return &FIcon; }
    TBitmap* Bitmap() { return &FBitmap; }
    const TIcon* Icon() const { return &FIcon; }
    const TBitmap* Bitmap() const { return &FBitmap; }
    bool Empty() const { return FIcon.Empty() && FBitmap.Empty(); }
    int Width() const;
    int Height() const;
    void Assign(const TPicture& Source);

    // Draws the picture into Rect: scaled to it when Stretch, else at its size, centred when Center.
    void Draw(HDC DC, const RECT& Rect, bool Center, bool Stretch, bool Transparent) const;

    TNotifyEvent OnChange;

private:
    void IconChanged(TObject* Sender);
    void BitmapChanged(TObject* Sender);

    TIcon FIcon;
    TBitmap FBitmap;
};

// A list of same-size images with masks: the common controls' image list.
class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* AOwner);

    int Width() const { return FWidth; }   // default 16
    int Height() const { return FHeight; } // default 16
    // Size changes empty the list.
    void SetSize(int AWidth, int AHeight);
    int Count() const;

    // Adds a copy of the icon's picture (scaled to the list's size) and returns its index.
    int AddIcon(const TIcon& Icon);
    // Adds an icon of this program's resources.
    int AddResourceIcon(int Id);
    // Copies image Index into Icon; an index outside the list leaves Icon unchanged.
    void GetIcon(int Index, TIcon& Icon) const;
    void Clear();
    HIMAGELIST Handle() const { return FHandle.Get(); }
    // Scales the images by M/D with the form's layout: pictures from the resources are loaded
    // again at the new size, others are stretched.
    void ChangeScale(int M, int D);

private:
    void Recreate();

    int FWidth = 16;
    int FHeight = 16;
    TUniqueHandle<TImageListTraits> FHandle;
    // Per image: the resource it came from, or 0.
    std::vector<int> FSources;
};
