#include "kit/Graphics.h"

#include "kit/Exceptions.h"
#include "kit/Win32Error.h"
#include "kit/ScreenDpi.h"
#include "kit/UniqueHandle.h"

#include <commctrl.h>

#include <utility>

COLORREF ColorToRGB(TColor Color) {
    if (Color & clSystemColor)
        return GetSysColor(static_cast<int>(Color & 0xFF));
    return Color & 0x00FFFFFF;
}

// ---- TFont ----

TFont::TFont() = default;

void TFont::SetName(const std::string& Value) {
    if (FName != Value) {
        FName = Value;
        Changed();
    }
}

void TFont::SetHeight(int Value) {
    if (FHeight != Value) {
        FHeight = Value;
        Changed();
    }
}

int TFont::Size() const {
    return -MulDiv(FHeight, 72, FPixelsPerInch);
}

void TFont::SetSize(int Points) {
    SetHeight(-MulDiv(Points, FPixelsPerInch, 72));
}

void TFont::ChangeScale(int NewPixelsPerInch) {
    if (NewPixelsPerInch == FPixelsPerInch || NewPixelsPerInch <= 0)
        return;
    // From the height at 96 pixels per inch, so that moving between monitors never drifts; cut
    // towards zero as a point size gives it: 8 points, -11 at 96, is -16 at 144 and -13 at 120.
    int DesignHeight = MulDiv(FHeight, DesignPixelsPerInch, FPixelsPerInch);
    FPixelsPerInch = NewPixelsPerInch;
    FHeight = DesignHeight * NewPixelsPerInch / DesignPixelsPerInch;
    Changed();
}

void TFont::SetColor(TColor Value) {
    if (FColor != Value) {
        FColor = Value;
        Changed();
    }
}

void TFont::SetStyle(TFontStyles Value) {
    if (!(FStyle == Value)) {
        FStyle = Value;
        Changed();
    }
}

void TFont::Assign(const TFont& Source) {
    if (&Source == this)
        return;
    FName = Source.FName;
    FHeight = Source.FHeight;
    FPixelsPerInch = Source.FPixelsPerInch;
    FColor = Source.FColor;
    FStyle = Source.FStyle;
    Changed();
}

HFONT TFont::Handle() const {
    if (!FHandle) {
        FHandle.Reset(CreateFontA(
            FHeight, 0, 0, 0, FStyle.Contains(fsBold) ? FW_BOLD : FW_NORMAL, FStyle.Contains(fsItalic),
            FStyle.Contains(fsUnderline), FStyle.Contains(fsStrikeOut), DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, FName.c_str()));
    }
    return FHandle.Get();
}

void TFont::Changed() {
    // The control showing the font takes the new one before the old is freed, so no window is left
    // holding a deleted font.
    const auto Old = FHandle.Exchange(nullptr);
    RaiseEvent(OnChange, static_cast<TObject*>(this));
}

// ---- TIcon ----

void TIcon::SetHandle(HICON Value) {
    if (Value == FHandle.Get())
        return;
    FResourceID = 0;
    // The picture's users take the new icon before the old one is destroyed.
    const auto Old = FHandle.Exchange(Value);
    Changed();
}

static SIZE IconSize(HICON Icon) {
    SIZE Size = {0, 0};
    ICONINFO Info;
    if (!Icon || !GetIconInfo(Icon, &Info))
        return Size;
    // The bitmaps are copies made for the caller.
    const TUniqueHandle<TBitmapTraits> Color(Info.hbmColor), MaskBits(Info.hbmMask);
    BITMAP Mask = {};
    GetObjectA(Info.hbmMask, sizeof Mask, &Mask);
    Size.cx = Mask.bmWidth;
    // A monochrome icon keeps its AND and XOR masks one above the other in one bitmap.
    Size.cy = Info.hbmColor ? Mask.bmHeight : Mask.bmHeight / 2;
    return Size;
}

int TIcon::Width() const {
    return IconSize(FHandle.Get()).cx;
}

int TIcon::Height() const {
    return IconSize(FHandle.Get()).cy;
}

void TIcon::Assign(const TIcon& Source) {
    if (&Source == this)
        return;
    HICON Copy = nullptr;
    if (Source.FHandle) {
        Copy = CopyIcon(Source.FHandle.Get());
        if (!Copy)
            throw EWin32Error(GetLastError(), "Cannot copy the icon");
    }
    const auto Old = FHandle.Exchange(Copy);
    FResourceID = Source.FResourceID;
    Changed();
}

void TIcon::LoadFromResourceID(int Id, int Width, int Height) {
    // Not LR_SHARED: the icon is ours to destroy. The natural size is the system's icon size, which
    // the program icon has among its pictures, rather than its first picture's.
    UINT Flags = Width == 0 && Height == 0 ? LR_DEFAULTSIZE : 0;
    auto Icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(Id), IMAGE_ICON, Width, Height, Flags));
    if (!Icon) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Resource " + std::to_string(Id) + " not found");
    }
    SetHandle(Icon);
    FResourceID = Id;
}

void TIcon::Changed() {
    RaiseEvent(OnChange, static_cast<TObject*>(this));
}

// ---- TBitmap ----

void TBitmap::SetHandle(HBITMAP Value) {
    if (Value == FHandle.Get())
        return;
    const auto Old = FHandle.Exchange(Value);
    FWidth = FHeight = 0;
    FTransparentColor = clNone;
    if (FHandle) {
        BITMAP Info = {};
        GetObjectA(FHandle.Get(), sizeof Info, &Info);
        FWidth = Info.bmWidth;
        FHeight = Info.bmHeight;
        TUniqueHandle<TCreatedDCTraits> DC(CreateCompatibleDC(nullptr));
        TSelectObject Selected(DC.Get(), FHandle.Get());
        FTransparentColor = GetPixel(DC.Get(), 0, FHeight - 1);
    }
    Changed();
}

void TBitmap::Assign(const TBitmap& Source) {
    if (&Source == this)
        return;
    HBITMAP Copy = nullptr;
    if (Source.FHandle) {
        Copy = static_cast<HBITMAP>(CopyImage(Source.FHandle.Get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (!Copy)
            throw EWin32Error(GetLastError(), "Cannot copy the bitmap");
    }
    SetHandle(Copy);
}

void TBitmap::LoadFromResourceID(int Id) {
    auto Bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(Id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!Bitmap) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Resource " + std::to_string(Id) + " not found");
    }
    SetHandle(Bitmap);
}

void TBitmap::Changed() {
    RaiseEvent(OnChange, static_cast<TObject*>(this));
}

// ---- TPicture ----

TPicture::TPicture() {
    FIcon.OnChange = TNotifyEvent(this, &TPicture::IconChanged);
    FBitmap.OnChange = TNotifyEvent(this, &TPicture::BitmapChanged);
}

// A picture is one thing at a time: a new icon drops the bitmap, and the other way round.
void TPicture::IconChanged(TObject*) {
    if (!FIcon.Empty() && !FBitmap.Empty())
        FBitmap.SetHandle(nullptr);
    RaiseEvent(OnChange, static_cast<TObject*>(this));
}

void TPicture::BitmapChanged(TObject*) {
    if (!FBitmap.Empty() && !FIcon.Empty())
        FIcon.SetHandle(nullptr);
    RaiseEvent(OnChange, static_cast<TObject*>(this));
}

int TPicture::Width() const {
    return FIcon.Empty() ? FBitmap.Width() : FIcon.Width();
}

int TPicture::Height() const {
    return FIcon.Empty() ? FBitmap.Height() : FIcon.Height();
}

void TPicture::Assign(const TPicture& Source) {
    if (&Source == this)
        return;
    if (!Source.FIcon.Empty())
        FIcon.Assign(Source.FIcon);
    else if (!Source.FBitmap.Empty())
        FBitmap.Assign(Source.FBitmap);
    else {
        FIcon.SetHandle(nullptr);
        FBitmap.SetHandle(nullptr);
    }
}

void TPicture::Draw(HDC DC, const RECT& Rect, bool Center, bool Stretch, bool Transparent) const {
    if (Empty())
        return;
    int W = Width(), H = Height();
    RECT Target = Rect;
    if (!Stretch) {
        int Left = Rect.left, Top = Rect.top;
        if (Center) {
            Left += ((Rect.right - Rect.left) - W) / 2;
            Top += ((Rect.bottom - Rect.top) - H) / 2;
        }
        Target = {Left, Top, Left + W, Top + H};
    }
    int TW = Target.right - Target.left, TH = Target.bottom - Target.top;
    if (!FIcon.Empty()) {
        // Icons carry their own mask: always drawn transparent.
        DrawIconEx(DC, Target.left, Target.top, FIcon.Handle(), TW, TH, 0, nullptr, DI_NORMAL);
        return;
    }
    TUniqueHandle<TCreatedDCTraits> Source(CreateCompatibleDC(nullptr));
    TSelectObject Selected(Source.Get(), FBitmap.Handle());
    if (Transparent)
        GdiTransparentBlt(DC, Target.left, Target.top, TW, TH, Source.Get(), 0, 0, W, H,
                          ColorToRGB(FBitmap.TransparentColor()));
    else
        StretchBlt(DC, Target.left, Target.top, TW, TH, Source.Get(), 0, 0, W, H, SRCCOPY);
}

// ---- TImageList ----

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {
    Recreate();
}

void TImageList::SetSize(int AWidth, int AHeight) {
    if (AWidth == FWidth && AHeight == FHeight)
        return;
    FWidth = AWidth;
    FHeight = AHeight;
    Recreate();
}

void TImageList::Recreate() {
    // 32 bits: the pictures' alpha channel is kept, so their edges blend into any background.
    HIMAGELIST List = ImageList_Create(FWidth, FHeight, ILC_COLOR32 | ILC_MASK, 4, 4);
    const DWORD Error = GetLastError();
    FHandle.Reset(List);
    FSources.clear();
    if (!FHandle)
        throw EWin32Error(Error, "Cannot create the image list");
}

int TImageList::Count() const {
    return ImageList_GetImageCount(FHandle.Get());
}

int TImageList::AddIcon(const TIcon& Icon) {
    if (Icon.Empty())
        throw Exception("Cannot add an empty icon to the image list");
    int Index = ImageList_AddIcon(FHandle.Get(), Icon.Handle());
    if (Index < 0)
        throw Exception("Cannot add the icon to the image list");
    FSources.resize(static_cast<std::size_t>(Index) + 1);
    FSources[static_cast<std::size_t>(Index)] = Icon.ResourceID();
    return Index;
}

int TImageList::AddResourceIcon(int Id) {
    TIcon Icon;
    Icon.LoadFromResourceID(Id, FWidth, FHeight);
    return AddIcon(Icon);
}

void TImageList::ChangeScale(int M, int D) {
    int W = MulDiv(FWidth, M, D), H = MulDiv(FHeight, M, D);
    if (W == FWidth && H == FHeight)
        return;
    std::vector<int> Sources = FSources;
    std::vector<TIcon> Old(Sources.size());
    for (std::size_t I = 0; I < Sources.size(); ++I)
        if (!Sources[I])
            GetIcon(static_cast<int>(I), Old[I]);
    FWidth = W;
    FHeight = H;
    Recreate();
    for (std::size_t I = 0; I < Sources.size(); ++I) {
        if (Sources[I])
            AddResourceIcon(Sources[I]);
        else
            AddIcon(Old[I]);
    }
}

void TImageList::GetIcon(int Index, TIcon& Icon) const {
    if (Index < 0 || Index >= Count())
        return;
    HICON Copy = ImageList_GetIcon(FHandle.Get(), Index, ILD_NORMAL);
    if (!Copy) {
        const DWORD Error = GetLastError();
        throw EWin32Error(Error, "Cannot copy image " + std::to_string(Index) + " of the image list");
    }
    Icon.SetHandle(Copy);
}

void TImageList::Clear() {
    ImageList_RemoveAll(FHandle.Get());
    FSources.clear();
}
